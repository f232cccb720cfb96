#pragma once
// The picture effects beyond brightness and contrast, rendered the same way
// by the preview and by the encoding plug-in: on the fitted picture, at the
// size it is shown or written (the output size), after brightness/contrast and
// before the watermark, so neither the bars around the picture nor the
// watermark are touched.
//
// Order, fixed (each step works on the result of the one before):
//   1. levels        2. exposure       3. density
//   4. white saturation                5. black saturation
//   6. colour balance                  7. hue   8. saturation   9. lightness
//   10. tint         11. blur          12. sharpen
// Steps 1 to 6 act on each colour channel alone and are folded into one table
// per channel; 7 to 9 are one colour matrix; 10 weighs a colour by the pixel's
// luma. 1 to 10 run in one pass over the picture. Blur and sharpen use
// libavfilter's Gaussian blur, set up once for each size and setting.
//
// Every value 0 means no effect; when nothing is on, no pixel is touched.
// Values outside a control's range are limited to it (the helper reads them
// from shared memory it does not own).
#include <cstdint>
#include <memory>

#include "picture/bitmap.h"

namespace reelpage::frameops {

// Channel values below are fractions x in 0..1 of full scale (255). Luma Y is
// 0.213 R + 0.715 G + 0.072 B of the stored (gamma-encoded) values.
struct EffectSettings {
    // Levels, in percent of full scale. shadow 0..50: input level shadow% and
    // below becomes black. highlight 0..50: input level (100 - highlight)% and
    // above becomes white. Between them the levels are stretched linearly.
    // midtone 0..50 lightens the middle tones: t -> t^(1/g), g = 2^(midtone/50)
    // (mid grey 0.5 becomes 0.71 at 50), black and white stay.
    int levelsHighlight = 0, levelsMidtone = 0, levelsShadow = 0;
    // Exposure -100..100, as a camera's: exposure/50 stops (-2..+2), the light
    // multiplied by 2^stops in linear light (sRGB decoded), highlights clip.
    int exposure = 0;
    // Density -100..100, as a print's: positive darkens, negative lightens,
    // keeping black and white: x -> x^(2^(density/100)) (x^2 at 100).
    int density = 0;
    // White saturation 0..100: level 255 - value and above turn white, the
    // rest stretched (x -> x * 255 / (255 - value)).
    int whiteSaturation = 0;
    // Black saturation 0..100: level value and below turn black, the rest
    // stretched (x -> (255x - value) / (255 - value)).
    int blackSaturation = 0;
    // Colour balance -50..50 each: pushes red (positive) or cyan (negative),
    // green or magenta, blue or yellow in the middle tones, black and white
    // staying: channel x -> x + v/50 * 0.25 * 4x(1-x) (mid grey +-64 levels).
    int cyanRed = 0, magentaGreen = 0, yellowBlue = 0;
    // Hue -90..90: every colour turned by that many degrees round the grey
    // axis, luma kept (positive: red towards yellow and green).
    int hue = 0;
    // Saturation -50..50: colourfulness times 1 + value/50 (grey at -50,
    // doubled at 50), luma kept: x -> Y + f (x - Y).
    int saturation = 0;
    // Lightness -50..50: blends towards white (positive) or black (negative)
    // by |value| percent: x -> x + (1 - x) v/100, or x (1 + v/100).
    int lightness = 0;
    // Tint: hue -90..90 picks the colour at 2 x hue degrees of the colour
    // wheel (0 = red, 60 = green, -60 = blue, +-90 = cyan); hue 0 names no
    // colour, so there is a tint only when both hue and amount are not 0.
    // Amount -50..50 colours the middle tones with it (negative: with its
    // complement): x -> x + amount/50 * 0.5 * 4Y(1-Y) * (T - Y(T)), T the
    // fully saturated colour.
    int tintHue = 0, tintAmount = 0;
    // Blur radius 0..100 output pixels: a Gaussian with sigma = radius / 3
    // (it reaches about radius pixels). expandEdge: the picture's border
    // pixels are repeated outward, so the edges stay as they are; without it
    // the picture lies on black and its edges fade into it.
    float blurRadius = 0;
    bool blurExpandEdge = false;
    // Sharpen (an unsharp mask), on only when both are not 0: radius 0..100
    // output pixels as for blur (border pixels repeated), amount 0..50:
    // x -> x + amount/10 * (x - blurred).
    float sharpenRadius = 0, sharpenAmount = 0;

    friend bool operator==(const EffectSettings&, const EffectSettings&) = default;
};

// The settings limited to the controls' ranges (NaN counts as 0).
EffectSettings Limited(EffectSettings s);

// Reads the effect fields of a record with the project's field names.
template <class ProjectT>
EffectSettings EffectSettingsOf(const ProjectT& p) {
    EffectSettings s;
    s.levelsHighlight = p.m_LevelsHighlight;
    s.levelsMidtone = p.m_LevelsMidtone;
    s.levelsShadow = p.m_LevelsShadow;
    s.exposure = p.m_Exposure;
    s.density = p.m_Density;
    s.whiteSaturation = p.m_WhiteSaturation;
    s.blackSaturation = p.m_BlackSaturation;
    s.cyanRed = p.m_CyanRed;
    s.magentaGreen = p.m_MagentaGreen;
    s.yellowBlue = p.m_YellowBlue;
    s.hue = p.m_Hue;
    s.saturation = p.m_Saturation;
    s.lightness = p.m_Lightness;
    s.tintHue = p.m_TintHue;
    s.tintAmount = p.m_TintAmount;
    s.blurRadius = p.m_BlurRadius;
    s.blurExpandEdge = p.m_BlurExpandEdge != 0;
    s.sharpenRadius = p.m_SharpenRadius;
    s.sharpenAmount = p.m_SharpenAmount;
    return s;
}

// Whether any effect changes the picture.
bool EffectsActive(const EffectSettings& s);

// One renderer per plug-in: it keeps the tables and filter graphs made for
// the last settings, picture size and scale, and remakes them only when one
// of those changes.
class EffectRenderer {
public:
    EffectRenderer();
    ~EffectRenderer();
    EffectRenderer(const EffectRenderer&) = delete;
    EffectRenderer& operator=(const EffectRenderer&) = delete;

    // scale: picture pixels per output pixel (below 1 for a preview shown
    // smaller than the output), so blur and sharpen reach as far on the
    // picture as they do in the output.
    void Set(const EffectSettings& settings, double scale = 1.0);
    bool Active() const;

    // Applies every effect that is on to the picture in place (a sub-view for
    // the fitted part of a frame). The picture's fourth byte is kept. Fails
    // only when a filter graph cannot be made or run; the colour effects are
    // applied all the same.
    picture::Error Apply(picture::BitmapView target);

private:
    struct Impl;
    std::unique_ptr<Impl> m_p;
};

} // namespace reelpage::frameops
