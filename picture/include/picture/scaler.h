#pragma once
// Resampling and drawing with high-quality bicubic interpolation (libswscale).
// Colour channels are resampled weighted by alpha, so transparent pixels do
// not bleed their (invisible) colour into the edges of what is shown.
#include "picture/bitmap.h"

#include <memory>

namespace picture {

// Keeps the resampling state and scratch memory between calls, so drawing
// every frame of a video at the same sizes costs no set-up. Not thread-safe:
// one Scaler per thread.
class Scaler {
public:
    Scaler();
    ~Scaler();
    Scaler(Scaler&&) noexcept;
    Scaler& operator=(Scaler&&) noexcept;

    // Resamples the whole of `source` to the size of `target` and replaces
    // the target's pixels (alpha included; an Opaque target gets alpha 255).
    Error Stretch(ConstBitmapView source, BitmapView target);

    // Draws the `from` rectangle of `source` (pixels) stretched onto the
    // `to` rectangle of `target` with SourceOver compositing, every source
    // alpha first multiplied by `opacity` (0..1). Target pixels are covered
    // when their centre lies inside `to`; anything outside the target is cut
    // off, and target pixels outside `to` keep their values. A `from` that
    // reaches beyond the source is cut to it, with `to` cut in proportion.
    // Empty rectangles and an opacity of 0 draw nothing and succeed.
    Error Draw(ConstBitmapView source, RectI from, BitmapView target, RectF to,
               float opacity = 1.0f);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// One-off forms of the above.
Error Stretch(ConstBitmapView source, int width, int height, Bitmap& out);
Error DrawPicture(ConstBitmapView source, RectI from, BitmapView target, RectF to,
                  float opacity = 1.0f);

// SourceOver of one pixel (with its alpha scaled by `opacity255` / 255) onto
// another; what the drawing above does for every covered pixel.
Bgra SourceOver(Bgra source, uint8_t opacity255, Bgra target, AlphaMode targetAlpha);

} // namespace picture
