#pragma once
// Grey copies of pictures, used for the disabled look of picture buttons and
// for dimming what lies outside an edit frame.
#include "picture/bitmap.h"

namespace picture {

// The grey level of one pixel: half its luminance (BT.601 weights in 1/65536)
// raised by `lift` and limited to 255: ((7471 B + 38469 G + 19595 R) >> 17) + lift.
// A lift of 120 gives the light grey (120..247) of disabled buttons, a lift
// of 16 the darkened grey of an overlay.
inline uint8_t GrayLevel(Bgra p, int lift) {
    int g = ((7471 * p.b + 38469 * p.g + 19595 * p.r) >> 17) + lift;
    return static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
}

inline constexpr int kDisabledGrayLift = 120;

// A Straight copy of `source` whose blue, green and red are GrayLevel of each
// pixel; alpha is kept (255 for an Opaque source).
Error GrayCopy(ConstBitmapView source, Bitmap& out, int lift = kDisabledGrayLift);

// Greys the pixels of `target` in place, alpha untouched.
void GrayInPlace(BitmapView target, int lift = kDisabledGrayLift);

} // namespace picture
