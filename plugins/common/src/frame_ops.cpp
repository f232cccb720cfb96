#include "reelpage/frame_ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "picture/load.h"
#include "picture/scaler.h"

namespace reelpage::frameops {

namespace {

// Destination offset of source pixel (x, y) as base + x * stepX + y * stepY.
struct Walk {
    ptrdiff_t base, stepX, stepY;
};

Walk MakeWalk(int w, int h, int bpp, ptrdiff_t stride, int orientation) {
    // (dx, dy) = (ax + bx x + cx y, ay + by x + cy y), from the table in the header.
    int ax = 0, bx = 1, cx = 0, ay = 0, by = 0, cy = 1;
    switch (orientation) {
    case 1:
        ax = 0, bx = 0, cx = 1, ay = w - 1, by = -1, cy = 0;
        break;
    case 2:
        ax = w - 1, bx = -1, cx = 0, ay = h - 1, by = 0, cy = -1;
        break;
    case 3:
        ax = h - 1, bx = 0, cx = -1, ay = 0, by = 1, cy = 0;
        break;
    case 4:
        ax = 0, bx = 1, cx = 0, ay = h - 1, by = 0, cy = -1;
        break;
    case 5:
        ax = 0, bx = 0, cx = 1, ay = 0, by = 1, cy = 0;
        break;
    case 6:
        ax = w - 1, bx = -1, cx = 0, ay = 0, by = 0, cy = 1;
        break;
    case 7:
        ax = h - 1, bx = 0, cx = -1, ay = w - 1, by = -1, cy = 0;
        break;
    default:
        break;
    }
    return {ax * bpp + ay * stride, bx * bpp + by * stride, cx * bpp + cy * stride};
}

template <int Bpp>
void OrientTiles(const uint8_t* src, int srcStride, int w, int h, uint8_t* dst, const Walk& walk) {
    // Tiles keep both the rows read and the rows written in cache when the
    // picture is transposed.
    constexpr int kTile = 32;
    for (int ty = 0; ty < h; ty += kTile) {
        const int yEnd = std::min(h, ty + kTile);
        for (int tx = 0; tx < w; tx += kTile) {
            const int xEnd = std::min(w, tx + kTile);
            for (int y = ty; y < yEnd; ++y) {
                const uint8_t* s = src + ptrdiff_t(y) * srcStride + ptrdiff_t(tx) * Bpp;
                uint8_t* d = dst + walk.base + ptrdiff_t(tx) * walk.stepX + y * walk.stepY;
                for (int x = tx; x < xEnd; ++x, s += Bpp, d += walk.stepX)
                    std::memcpy(d, s, Bpp);
            }
        }
    }
}

} // namespace

Size OrientedSize(Size source, int orientation) {
    return SwapsSides(orientation) ? Size{source.height, source.width} : source;
}

void OrientPlane(const uint8_t* src, int srcStride, int w, int h, int bytesPerPixel, uint8_t* dst,
                 int dstStride, int orientation) {
    if (w <= 0 || h <= 0) return;
    if (orientation < 0 || orientation > 7) orientation = 0;
    const size_t rowBytes = size_t(w) * bytesPerPixel;
    if (orientation == 0 || orientation == 4) {
        // Whole rows stay rows: copy them, upside down for 4.
        for (int y = 0; y < h; ++y) {
            const int dy = orientation == 0 ? y : h - 1 - y;
            std::memcpy(dst + ptrdiff_t(dy) * dstStride, src + ptrdiff_t(y) * srcStride, rowBytes);
        }
        return;
    }
    const Walk walk = MakeWalk(w, h, bytesPerPixel, dstStride, orientation);
    switch (bytesPerPixel) {
    case 1:
        OrientTiles<1>(src, srcStride, w, h, dst, walk);
        break;
    case 2:
        OrientTiles<2>(src, srcStride, w, h, dst, walk);
        break;
    case 3:
        OrientTiles<3>(src, srcStride, w, h, dst, walk);
        break;
    default:
        OrientTiles<4>(src, srcStride, w, h, dst, walk);
        break;
    }
}

void OrientYuv420(const uint8_t* const src[3], const int srcStrides[3], int w, int h,
                  uint8_t* const dst[3], const int dstStrides[3], int orientation) {
    OrientPlane(src[0], srcStrides[0], w, h, 1, dst[0], dstStrides[0], orientation);
    for (int i = 1; i < 3; ++i)
        OrientPlane(src[i], srcStrides[i], w / 2, h / 2, 1, dst[i], dstStrides[i], orientation);
}

void BuildColorTable(int brightness, int contrast, uint8_t table[256]) {
    const int a = 100 + contrast;
    for (int i = 0; i < 256; ++i) {
        // Integer division truncates toward zero, as the table is defined.
        const int v = (a * (i + brightness - 128) + 12800) / 100;
        table[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
}

void ApplyColorTable(picture::BitmapView target, const uint8_t table[256]) {
    for (int y = 0; y < target.height; ++y) {
        uint8_t* p = target.Row(y);
        for (int x = 0; x < target.width; ++x, p += 4) {
            p[0] = table[p[0]];
            p[1] = table[p[1]];
            p[2] = table[p[2]];
        }
    }
}

picture::RectF FitRect(int method, int W, int H, int cw, int ch) {
    const float fW = float(W), fH = float(H), fcw = float(cw), fch = float(ch);
    const bool wider = int64_t(W) * ch >= int64_t(H) * cw; // the output is relatively wider
    picture::RectF r;
    if (method == 0) {
        r = {(fW - fcw) * 0.5f, (fH - fch) * 0.5f, fcw, fch};
    } else if ((method == 1) == wider) {
        // Full height: letterbox into a wider output, crop from a narrower one.
        r.height = fH;
        r.width = fch > 0 ? fH * fcw / fch : 0;
        r.x = (fW - r.width) * 0.5f;
        r.y = 0;
    } else {
        r.width = fW;
        r.height = fcw > 0 ? fW * fch / fcw : 0;
        r.x = 0;
        r.y = (fH - r.height) * 0.5f;
    }
    return r;
}

namespace {

// The covered span of an axis: pixels whose centre lies inside [t0, t1).
void CoveredSpan(float t0, float t1, int size, int* begin, int* end) {
    const double c0 = std::ceil(double(t0) - 0.5), c1 = std::ceil(double(t1) - 0.5);
    *begin = int(std::clamp(c0, 0.0, double(size)));
    *end = int(std::clamp(c1, double(*begin), double(size)));
}

} // namespace

bool FitLeavesBars(const picture::RectF& fit, int W, int H) {
    int x0, x1, y0, y1;
    CoveredSpan(fit.x, fit.x + fit.width, W, &x0, &x1);
    CoveredSpan(fit.y, fit.y + fit.height, H, &y0, &y1);
    return x0 > 0 || y0 > 0 || x1 < W || y1 < H;
}

picture::RectI CoveredRect(const picture::RectF& fit, int W, int H) {
    int x0, x1, y0, y1;
    CoveredSpan(fit.x, fit.x + fit.width, W, &x0, &x1);
    CoveredSpan(fit.y, fit.y + fit.height, H, &y0, &y1);
    return {x0, y0, x1 - x0, y1 - y0};
}

void ClearOutsideFit(picture::BitmapView target, const picture::RectF& fit) {
    int x0, x1, y0, y1;
    CoveredSpan(fit.x, fit.x + fit.width, target.width, &x0, &x1);
    CoveredSpan(fit.y, fit.y + fit.height, target.height, &y0, &y1);
    const size_t row = size_t(target.width) * 4;
    for (int y = 0; y < target.height; ++y) {
        uint8_t* p = target.Row(y);
        if (y < y0 || y >= y1 || x1 <= x0) {
            std::memset(p, 0, row);
            continue;
        }
        std::memset(p, 0, size_t(x0) * 4);
        std::memset(p + size_t(x1) * 4, 0, size_t(target.width - x1) * 4);
    }
}

namespace {

void ApplyTransparency(picture::Bitmap& out, int transparency) {
    if (transparency == 0) return;
    const int keep = 255 - std::clamp(transparency, 0, 255);
    for (int y = 0; y < out.Height(); ++y) {
        uint8_t* p = out.Data() + out.Stride() * y;
        for (int x = 0; x < out.Width(); ++x, p += 4)
            p[3] = static_cast<uint8_t>(p[3] * keep / 255);
    }
}

} // namespace

picture::Error LoadWatermark(const std::string& path, picture::Bitmap& source) {
    source.Reset();
    picture::Error e = picture::LoadPicture(path, source);
    if (e != picture::Error::None) return e;
    if (source.Width() <= 0 || source.Height() <= 0) {
        source.Reset();
        return picture::Error::NotAPicture;
    }
    return picture::Error::None;
}

picture::Error PrepareWatermarkFrom(const picture::Bitmap& source, int width, int height,
                                    int transparency, picture::Bitmap& out) {
    out.Reset();
    if (width <= 0 || height <= 0 || source.Empty()) return picture::Error::InvalidArgument;
    picture::Error e = picture::Stretch(source, width, height, out);
    if (e != picture::Error::None) {
        out.Reset();
        return e;
    }
    ApplyTransparency(out, transparency);
    return picture::Error::None;
}

picture::Error PrepareWatermarkPart(const picture::Bitmap& source, int left, int top, int width,
                                    int height, int transparency, int W, int H,
                                    picture::Bitmap& out, picture::Point* at) {
    out.Reset();
    if (width <= 0 || height <= 0 || source.Empty()) return picture::Error::InvalidArgument;
    const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(left) + width, W);
    const int64_t y1 = std::min<int64_t>(int64_t(top) + height, H);
    if (x1 <= x0 || y1 <= y0) return picture::Error::InvalidArgument;
    picture::Error e = out.Create(int(x1 - x0), int(y1 - y0));
    if (e != picture::Error::None) return e;
    // Drawn over transparent pixels, SourceOver leaves the source as it is.
    e = picture::DrawPicture(source, {0, 0, source.Width(), source.Height()}, out,
                             {float(left - x0), float(top - y0), float(width), float(height)});
    if (e != picture::Error::None) {
        out.Reset();
        return e;
    }
    ApplyTransparency(out, transparency);
    *at = {int(x0), int(y0)};
    return picture::Error::None;
}

picture::Error PrepareWatermark(const std::string& path, int width, int height, int transparency,
                                picture::Bitmap& out) {
    out.Reset();
    if (width <= 0 || height <= 0) return picture::Error::InvalidArgument;
    picture::Bitmap source;
    picture::Error e = LoadWatermark(path, source);
    if (e != picture::Error::None) return e;
    return PrepareWatermarkFrom(source, width, height, transparency, out);
}

void DrawWatermark(const picture::Bitmap& watermark, picture::BitmapView target, int left,
                   int top) {
    if (watermark.Empty() || target.Empty()) return;
    const int x0 = std::max(0, left), y0 = std::max(0, top);
    const int x1 = std::min(target.width, left + watermark.Width());
    const int y1 = std::min(target.height, top + watermark.Height());
    for (int y = y0; y < y1; ++y) {
        const uint8_t* s = watermark.Data() + watermark.Stride() * (y - top) + (x0 - left) * 4;
        uint8_t* d = target.Row(y) + x0 * 4;
        for (int x = x0; x < x1; ++x, s += 4, d += 4) {
            if (s[3] == 0) continue;
            const picture::Bgra src{s[0], s[1], s[2], s[3]};
            const picture::Bgra dst{d[0], d[1], d[2], 255};
            const picture::Bgra o = picture::SourceOver(src, 255, dst, picture::AlphaMode::Opaque);
            d[0] = o.b, d[1] = o.g, d[2] = o.r, d[3] = 255;
        }
    }
}

picture::RectI ClampCrop(picture::RectI crop, int w, int h) {
    if (w <= 0 || h <= 0) return {0, 0, 0, 0};
    crop.x = std::clamp(crop.x, 0, w - 1);
    crop.y = std::clamp(crop.y, 0, h - 1);
    // A width of 0 or less means nothing sensible; take the rest of the picture.
    crop.width = crop.width <= 0 ? w - crop.x : std::min(crop.width, w - crop.x);
    crop.height = crop.height <= 0 ? h - crop.y : std::min(crop.height, h - crop.y);
    return crop;
}

namespace {

inline void Grey(uint8_t* p) {
    const uint8_t g = uint8_t(((p[2] * 19595 + p[1] * 38469 + p[0] * 7471) >> 17) + 16);
    p[0] = p[1] = p[2] = g;
}

inline void Dash(uint8_t* p, int run) {
    // Opaque blue, then opaque red, four pixels each.
    static constexpr uint8_t kBlue[4] = {0xFF, 0, 0, 0xFF};
    static constexpr uint8_t kRed[4] = {0, 0, 0xFF, 0xFF};
    std::memcpy(p, (run & 4) == 0 ? kBlue : kRed, 4);
}

} // namespace

void DrawEditFrame(picture::BitmapView target, int left, int top, int right, int bottom) {
    const int w = target.width, h = target.height;
    if (target.Empty() || w < 2 || h < 2) return;
    left = std::clamp(left, 1, w - 1);
    top = std::clamp(top, 1, h - 1);
    right = std::clamp(right, left, w - 1);
    bottom = std::clamp(bottom, top, h - 1);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = target.Row(y);
        if (y < top - 1 || y > bottom) {
            for (int x = 0; x < w; ++x)
                Grey(row + x * 4);
            continue;
        }
        for (int x = 0; x < left - 1; ++x)
            Grey(row + x * 4);
        for (int x = right + 1; x < w; ++x)
            Grey(row + x * 4);
        if (y == top - 1 || y == bottom) {
            for (int x = left - 1, run = 0; x <= right; ++x, ++run)
                Dash(row + x * 4, run);
        } else {
            const int run = y - top;
            Dash(row + (left - 1) * 4, run);
            Dash(row + right * 4, run);
        }
    }
}

} // namespace reelpage::frameops
