#pragma once
// The picture operations both frame plug-ins apply to decoded video: turning
// and mirroring by the project's orientation, the brightness/contrast table,
// the rectangle the cropped picture is fitted into, and the watermark picture.
// They work on raw planes and 32-bit BGRA views so that a plug-in can run them
// straight on the frame slots in shared memory.
#include <cstdint>
#include <string>

#include "picture/bitmap.h"

namespace reelpage::frameops {

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// Orientation states 0..7: odd states swap width and height.
inline bool SwapsSides(int orientation) {
    return (orientation & 1) != 0;
}
Size OrientedSize(Size source, int orientation);

// Writes the w x h picture `src` (bytesPerPixel 1 to 4) turned by the
// orientation into `dst`, whose size is OrientedSize. Source pixel (x, y) goes to
//   0 (x, y)          1 (y, w-1-x)      2 (w-1-x, h-1-y)  3 (h-1-y, x)
//   4 (x, h-1-y)      5 (y, x)          6 (w-1-x, y)      7 (h-1-y, w-1-x)
// An orientation outside 0..7 copies the picture unchanged.
void OrientPlane(const uint8_t* src, int srcStride, int w, int h, int bytesPerPixel, uint8_t* dst,
                 int dstStride, int orientation);

// Planar YUV 4:2:0 of w x h: Y at w x h, U and V at w/2 x h/2, each plane
// turned the same way.
void OrientYuv420(const uint8_t* const src[3], const int srcStrides[3], int w, int h,
                  uint8_t* const dst[3], const int dstStrides[3], int orientation);

// The brightness/contrast table; in use only when one of the two is non-zero.
inline bool ColorTableActive(int brightness, int contrast) {
    return brightness != 0 || contrast != 0;
}
void BuildColorTable(int brightness, int contrast, uint8_t table[256]);
// Maps blue, green and red of every pixel through the table; the fourth byte
// is left alone.
void ApplyColorTable(picture::BitmapView target, const uint8_t table[256]);

// Where a crop of cw x ch lands in a W x H output by resize method
// (0 Center, 1 Letterbox, anything else Crop). The rectangle may reach
// beyond the output (Crop, or Center with a crop larger than the output).
picture::RectF FitRect(int method, int W, int H, int cw, int ch);

// Whether the fitted rectangle leaves any output pixel uncovered (bars).
bool FitLeavesBars(const picture::RectF& fit, int W, int H);

// Zeroes every output pixel whose centre lies outside the fitted rectangle,
// the pixels a fitted draw does not cover.
void ClearOutsideFit(picture::BitmapView target, const picture::RectF& fit);

// The part of a W x H frame the fitted rectangle covers (the pixels whose
// centre lies inside it): where the picture's effects go. Empty when none.
picture::RectI CoveredRect(const picture::RectF& fit, int W, int H);

// A view of the part r of a picture (r inside it).
inline picture::BitmapView SubView(picture::BitmapView v, const picture::RectI& r) {
    return {v.Row(r.y) + ptrdiff_t(r.x) * 4, r.width, r.height, v.stride, v.alpha};
}

// The watermark picture as it is drawn on every frame: the file stretched to
// width x height with high-quality bicubic scaling, every alpha then scaled by
// (255 - transparency) / 255. Fails (and leaves `out` empty) when the picture
// does not load, has no width or height, or the size is not positive.
picture::Error PrepareWatermark(const std::string& path, int width, int height, int transparency,
                                picture::Bitmap& out);

// The same in two steps, for a caller that draws one picture at several sizes
// (the preview, whose frames may come scaled down): load once, then prepare
// for each size.
picture::Error LoadWatermark(const std::string& path, picture::Bitmap& source);
picture::Error PrepareWatermarkFrom(const picture::Bitmap& source, int width, int height,
                                    int transparency, picture::Bitmap& out);

// Only the part of the watermark, stretched to width x height at (left,
// top), that falls on a W x H picture: the picture of that part and, in *at,
// where it goes. A watermark far larger than the picture costs no more than
// the picture. Fails with InvalidArgument when no part of it is on the picture.
picture::Error PrepareWatermarkPart(const picture::Bitmap& source, int left, int top, int width,
                                    int height, int transparency, int W, int H,
                                    picture::Bitmap& out, picture::Point* at);

// Draws the prepared watermark unscaled at (left, top) with SourceOver onto
// an opaque picture; parts outside the picture are cut.
void DrawWatermark(const picture::Bitmap& watermark, picture::BitmapView target, int left, int top);

// The project's crop rectangle limited to a w x h picture: never outside it,
// never empty. Converting a frame dragged on a scaled view back to picture
// pixels rounds each side on its own, which can make left + width exceed the
// picture by one.
picture::RectI ClampCrop(picture::RectI crop, int w, int h);

// The editing frame drawn over a picture: the rectangle left, top, right,
// bottom (right and bottom exclusive) with left and top raised to at least 1,
// right and bottom lowered to at most width - 1 and height - 1. Every pixel
// outside the border is turned into a darkened grey, ((R*19595 + G*38469 +
// B*7471) >> 17) + 16; the border runs on column left - 1, column right, row
// top - 1 and row bottom, dashed in runs of four, blue then red; the inside is
// left alone.
void DrawEditFrame(picture::BitmapView target, int left, int top, int right, int bottom);

} // namespace reelpage::frameops
