#include "picture/scaler.h"

#include "av_util.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace picture {

namespace {

// swscale's bicubic: the cubic of Mitchell and Netravali with B = 0, C = 0.6.
double Cubic(double x) {
    x = std::fabs(x);
    if (x < 1) return (8.4 * x * x * x - 14.4 * x * x + 6) / 6;
    if (x < 2) return (-3.6 * x * x * x + 18 * x * x - 28.8 * x + 14.4) / 6;
    return 0;
}

struct Taps {
    int first = 0;
    std::vector<double> weights; // normalised
};

// The taps of every output position along one axis; when shrinking, the
// kernel is widened so every source pixel counts.
std::vector<Taps> AxisTaps(int from, int size) {
    const double scale = double(from) / size;
    const double stretch = std::max(1.0, scale);
    std::vector<Taps> taps(size);
    for (int i = 0; i < size; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        Taps& t = taps[i];
        t.first = static_cast<int>(std::floor(centre - 2 * stretch)) + 1;
        const int last = static_cast<int>(std::ceil(centre + 2 * stretch)) - 1;
        double total = 0;
        for (int k = t.first; k <= last; ++k) {
            t.weights.push_back(Cubic((k - centre) / stretch));
            total += t.weights.back();
        }
        for (double& w : t.weights)
            w /= total;
    }
    return taps;
}

// Bicubic resampling of a small plane, edges repeated, both passes in
// floating point so that nothing is cut between them.
template <typename T>
void ResampleSmall(const uint8_t* in, int inStride, int w, int h, uint8_t* out, int outStride,
                   int dw, int dh) {
    constexpr double kMax = sizeof(T) == 1 ? 255.0 : 65535.0;
    auto at = [&](int x, int y) {
        return reinterpret_cast<const T*>(in + size_t(y) * inStride)[x];
    };
    const std::vector<Taps> across = AxisTaps(w, dw), down = AxisTaps(h, dh);
    std::vector<double> rows(size_t(h) * dw);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < dw; ++x) {
            double sum = 0;
            for (size_t k = 0; k < across[x].weights.size(); ++k)
                sum += across[x].weights[k] * at(std::clamp(across[x].first + int(k), 0, w - 1), y);
            rows[size_t(y) * dw + x] = sum;
        }
    for (int y = 0; y < dh; ++y) {
        T* row = reinterpret_cast<T*>(out + size_t(y) * outStride);
        for (int x = 0; x < dw; ++x) {
            double sum = 0;
            for (size_t k = 0; k < down[y].weights.size(); ++k)
                sum += down[y].weights[k] *
                       rows[size_t(std::clamp(down[y].first + int(k), 0, h - 1)) * dw + x];
            row[x] = static_cast<T>(std::clamp(std::round(sum), 0.0, kMax));
        }
    }
}

} // namespace

// Colour channels are resampled one plane at a time as grey pictures: swscale
// turns packed RGB into Y'CbCr inside, which costs colour precision that a
// stretch must not lose, while grey planes are filtered as they are. Pictures
// with transparency are resampled premultiplied, in 16 bits per plane so that
// faint pixels keep their colour when alpha is divided out again.
struct Scaler::State {
    SwsContext* sws8 = nullptr;
    SwsContext* sws16 = nullptr;
    av::PaddedImage in[4], out[4];
    std::vector<uint8_t> resampled; // BGRA, rows of dw * 4 bytes
    bool resampledOpaque = false;

    ~State() {
        sws_freeContext(sws8);
        sws_freeContext(sws16);
    }

    // Resamples one plane of w x h samples of type T to dw x dh. swscale
    // refuses extreme ratios; those go through an intermediate size.
    template <typename T>
    bool ScalePlane(const uint8_t* src, int srcStride, int w, int h, uint8_t* dst, int dstStride,
                    int dw, int dh) {
        constexpr AVPixelFormat fmt = sizeof(T) == 1 ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_GRAY16;
        SwsContext*& ctx = sizeof(T) == 1 ? sws8 : sws16;
        if (w == dw && h == dh) {
            for (int y = 0; y < h; ++y)
                std::memcpy(dst + size_t(y) * dstStride, src + size_t(y) * srcStride,
                            w * sizeof(T));
            return true;
        }
        // swscale shortens its filter to two taps less than the source has,
        // so a source only a few pixels across would come out in blocks;
        // such planes are resampled here with the same kernel.
        constexpr int kMinFiltered = 8;
        if ((w < kMinFiltered && w != dw) || (h < kMinFiltered && h != dh)) {
            ResampleSmall<T>(src, srcStride, w, h, dst, dstStride, dw, dh);
            return true;
        }
        SwsContext* next =
            sws_getCachedContext(ctx, w, h, fmt, dw, dh, fmt, SWS_BICUBIC | av::kExactSwsFlags,
                                 nullptr, nullptr, nullptr);
        if (next) {
            ctx = next;
            const uint8_t* srcPlanes[4] = {src};
            int srcStrides[4] = {srcStride};
            uint8_t* dstPlanes[4] = {dst};
            int dstStrides[4] = {dstStride};
            return sws_scale(ctx, srcPlanes, srcStrides, 0, h, dstPlanes, dstStrides) == dh;
        }
        ctx = nullptr; // sws_getCachedContext freed the old one
        constexpr int kMaxRatio = 64;
        auto between = [](int from, int to) {
            if (to > from * int64_t{kMaxRatio}) return from * kMaxRatio;
            if (from > to * int64_t{kMaxRatio}) return (from + kMaxRatio - 1) / kMaxRatio;
            return to;
        };
        const int iw = between(w, dw), ih = between(h, dh);
        if (iw == dw && ih == dh) return false;
        av::PaddedImage mid;
        if (!mid.Allocate(iw, ih, sizeof(T))) throw std::bad_alloc();
        return ScalePlane<T>(src, srcStride, w, h, mid.Data(), mid.Stride(), iw, ih) &&
               ScalePlane<T>(mid.Data(), mid.Stride(), iw, ih, dst, dstStride, dw, dh);
    }

    // Resamples a region of `source` to dw x dh straight BGRA in `resampled`.
    bool Resample(ConstBitmapView source, RectI region, int dw, int dh) {
        const int w = region.width, h = region.height;
        resampled.resize(size_t(dw) * dh * 4);
        bool opaque = source.alpha == AlphaMode::Opaque;
        if (!opaque) {
            opaque = true;
            for (int y = 0; y < h && opaque; ++y) {
                const uint8_t* p = source.Row(region.y + y) + region.x * 4;
                for (int x = 0; x < w; ++x)
                    if (p[x * 4 + 3] != 255) {
                        opaque = false;
                        break;
                    }
            }
        }
        resampledOpaque = opaque;
        // Premultiplied when translucent: colour c and alpha a become c * a
        // and a * 255, both 0..65025, the same scale for both.
        const int planes = opaque ? 3 : 4;
        const int bytes = opaque ? 1 : 2;
        for (int c = 0; c < planes; ++c)
            if (!in[c].Allocate(w, h, bytes) || !out[c].Allocate(dw, dh, bytes))
                throw std::bad_alloc();
        for (int y = 0; y < h; ++y) {
            const uint8_t* p = source.Row(region.y + y) + region.x * 4;
            if (opaque) {
                for (int c = 0; c < 3; ++c) {
                    uint8_t* row = in[c].Row(y);
                    for (int x = 0; x < w; ++x)
                        row[x] = p[x * 4 + c];
                }
                continue;
            }
            uint16_t* rows[4];
            for (int c = 0; c < 4; ++c)
                rows[c] = reinterpret_cast<uint16_t*>(in[c].Row(y));
            for (int x = 0; x < w; ++x) {
                const unsigned a = p[x * 4 + 3];
                for (int c = 0; c < 3; ++c)
                    rows[c][x] = static_cast<uint16_t>(p[x * 4 + c] * a);
                rows[3][x] = static_cast<uint16_t>(a * 255);
            }
        }
        for (int c = 0; c < planes; ++c) {
            const bool ok = opaque ? ScalePlane<uint8_t>(in[c].Data(), in[c].Stride(), w, h,
                                                         out[c].Data(), out[c].Stride(), dw, dh)
                                   : ScalePlane<uint16_t>(in[c].Data(), in[c].Stride(), w, h,
                                                          out[c].Data(), out[c].Stride(), dw, dh);
            if (!ok) return false;
        }
        for (int y = 0; y < dh; ++y) {
            uint8_t* px = &resampled[size_t(y) * dw * 4];
            if (opaque) {
                for (int x = 0; x < dw; ++x, px += 4) {
                    for (int c = 0; c < 3; ++c)
                        px[c] = out[c].Row(y)[x];
                    px[3] = 255;
                }
                continue;
            }
            const uint16_t* rows[4];
            for (int c = 0; c < 4; ++c)
                rows[c] = reinterpret_cast<const uint16_t*>(out[c].Row(y));
            for (int x = 0; x < dw; ++x, px += 4) {
                const unsigned a = rows[3][x];
                const unsigned a8 = std::min(255u, (a + 127) / 255);
                px[3] = static_cast<uint8_t>(a8);
                if (a8 == 0) {
                    px[0] = px[1] = px[2] = 0;
                    continue;
                }
                for (int c = 0; c < 3; ++c) {
                    // Ringing may push a premultiplied colour above its alpha.
                    const unsigned v = std::min<unsigned>(rows[c][x], a);
                    px[c] = static_cast<uint8_t>(std::min(255u, (v * 255 + a / 2) / a));
                }
            }
        }
        return true;
    }
};

namespace {

bool ValidView(const ConstBitmapView& v) {
    return !v.Empty() && IsAcceptedSize(v.width, v.height) && v.stride >= ptrdiff_t{v.width} * 4;
}

// One axis of a drawing: the source span to resample, the target span the
// result lands on (it may reach beyond the target), and the span of target
// pixels that are actually written.
struct AxisPlan {
    int srcBegin = 0, srcEnd = 0;
    int outBegin = 0, outEnd = 0;
    int visibleBegin = 0, visibleEnd = 0;
};

enum class PlanResult { Draw, Nothing, TooLarge };

// t0..t1: where the source span s0..s1 lands on the target, in pixels. A
// target pixel is covered when its centre lies inside.
PlanResult PlanAxis(double t0, double t1, int s0, int s1, int targetSize, AxisPlan& plan) {
    double c0 = std::ceil(t0 - 0.5), c1 = std::ceil(t1 - 0.5);
    if (!(c1 > c0)) return PlanResult::Nothing;
    double v0 = std::max(c0, 0.0), v1 = std::min(c1, double(targetSize));
    if (!(v1 > v0)) return PlanResult::Nothing;
    plan.visibleBegin = static_cast<int>(v0);
    plan.visibleEnd = static_cast<int>(v1);
    double n = c1 - c0;
    if (n <= std::min(2 * (v1 - v0) + 256, double(kMaxSide))) {
        plan.srcBegin = s0;
        plan.srcEnd = s1;
        plan.outBegin = static_cast<int>(c0);
        plan.outEnd = static_cast<int>(c1);
        return PlanResult::Draw;
    }
    // Mostly outside the target: resample only the source that reaches the
    // visible pixels, with enough margin for the filter's reach.
    double scale = (s1 - s0) / n; // source pixels per target pixel
    double u0 = s0 + (v0 + 0.5 - c0) * scale, u1 = s0 + (v1 - 0.5 - c0) * scale;
    double margin = std::ceil(2 * std::max(1.0, scale)) + 2;
    double a = std::max(double(s0), std::floor(u0) - margin);
    double b = std::min(double(s1), std::ceil(u1) + margin);
    double d0 = std::round(c0 + (a - s0) / scale), d1 = std::round(c0 + (b - s0) / scale);
    d0 = std::min(d0, v0);
    d1 = std::max(d1, v1);
    if (d1 - d0 > kMaxSide) return PlanResult::TooLarge;
    plan.srcBegin = static_cast<int>(a);
    plan.srcEnd = static_cast<int>(b);
    plan.outBegin = static_cast<int>(d0);
    plan.outEnd = static_cast<int>(d1);
    return PlanResult::Draw;
}

inline unsigned Div65025(uint64_t v) {
    return static_cast<unsigned>((v + 32512) / 65025);
}

} // namespace

Bgra SourceOver(Bgra s, uint8_t opacity255, Bgra d, AlphaMode targetAlpha) {
    const unsigned sa = unsigned{s.a} * opacity255; // 0..65025
    if (sa == 0) return d;
    if (sa == 65025) return {s.b, s.g, s.r, 255};
    const unsigned keep = 65025 - sa;
    if (targetAlpha == AlphaMode::Opaque || d.a == 255) {
        return {static_cast<uint8_t>(Div65025(uint64_t{s.b} * sa + uint64_t{d.b} * keep)),
                static_cast<uint8_t>(Div65025(uint64_t{s.g} * sa + uint64_t{d.g} * keep)),
                static_cast<uint8_t>(Div65025(uint64_t{s.r} * sa + uint64_t{d.r} * keep)), 255};
    }
    // Straight alpha on both sides: weights in units of 1 / (65025 * 255).
    const uint64_t ws = uint64_t{sa} * 255;
    const uint64_t wd = uint64_t{d.a} * keep;
    const uint64_t total = ws + wd;
    auto mix = [&](uint8_t sc, uint8_t dc) {
        return static_cast<uint8_t>((sc * ws + dc * wd + total / 2) / total);
    };
    return {mix(s.b, d.b), mix(s.g, d.g), mix(s.r, d.r), static_cast<uint8_t>(Div65025(total))};
}

Scaler::Scaler() : m_state(std::make_unique<State>()) {}
Scaler::~Scaler() = default;
Scaler::Scaler(Scaler&&) noexcept = default;
Scaler& Scaler::operator=(Scaler&&) noexcept = default;

Error Scaler::Stretch(ConstBitmapView source, BitmapView target) {
    if (!ValidView(source) || !ValidView(target)) return Error::InvalidArgument;
    if (!m_state) m_state = std::make_unique<State>();
    try {
        if (!m_state->Resample(source, {0, 0, source.width, source.height}, target.width,
                               target.height))
            return Error::TooLarge;
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    const uint8_t* p = m_state->resampled.data();
    for (int y = 0; y < target.height; ++y, p += target.width * 4) {
        std::memcpy(target.Row(y), p, size_t(target.width) * 4);
        if (target.alpha == AlphaMode::Opaque) {
            uint8_t* row = target.Row(y);
            for (int x = 0; x < target.width; ++x)
                row[x * 4 + 3] = 255;
        }
    }
    return Error::None;
}

Error Scaler::Draw(ConstBitmapView source, RectI from, BitmapView target, RectF to, float opacity) {
    if (!ValidView(source) || !ValidView(target)) return Error::InvalidArgument;
    if (!std::isfinite(to.x) || !std::isfinite(to.y) || !std::isfinite(to.width) ||
        !std::isfinite(to.height) || std::isnan(opacity))
        return Error::InvalidArgument;
    const auto op = static_cast<uint8_t>(std::lround(std::clamp(opacity, 0.0f, 1.0f) * 255));
    if (op == 0 || from.width <= 0 || from.height <= 0 || !(to.width > 0) || !(to.height > 0))
        return Error::None;
    if (!m_state) m_state = std::make_unique<State>();

    // Cut the source rectangle to the source, and the target one in step.
    const double fx0 = from.x, fx1 = double(from.x) + from.width;
    const double fy0 = from.y, fy1 = double(from.y) + from.height;
    const int sx0 = static_cast<int>(std::max(fx0, 0.0));
    const int sx1 = static_cast<int>(std::min(fx1, double(source.width)));
    const int sy0 = static_cast<int>(std::max(fy0, 0.0));
    const int sy1 = static_cast<int>(std::min(fy1, double(source.height)));
    if (sx1 <= sx0 || sy1 <= sy0) return Error::None;
    const double kx = double(to.width) / from.width, ky = double(to.height) / from.height;

    AxisPlan px, py;
    PlanResult rx =
        PlanAxis(to.x + (sx0 - fx0) * kx, to.x + (sx1 - fx0) * kx, sx0, sx1, target.width, px);
    PlanResult ry =
        PlanAxis(to.y + (sy0 - fy0) * ky, to.y + (sy1 - fy0) * ky, sy0, sy1, target.height, py);
    if (rx == PlanResult::Nothing || ry == PlanResult::Nothing) return Error::None;
    if (rx == PlanResult::TooLarge || ry == PlanResult::TooLarge) return Error::TooLarge;

    const int outW = px.outEnd - px.outBegin, outH = py.outEnd - py.outBegin;
    const RectI region{px.srcBegin, py.srcBegin, px.srcEnd - px.srcBegin, py.srcEnd - py.srcBegin};
    ConstBitmapView drawn;
    if (outW == region.width && outH == region.height) {
        drawn = {source.Row(region.y) + region.x * 4, outW, outH, source.stride, source.alpha};
    } else {
        if (!IsAcceptedSize(outW, outH)) return Error::TooLarge;
        try {
            if (!m_state->Resample(source, region, outW, outH)) return Error::TooLarge;
        } catch (const std::bad_alloc&) {
            return Error::OutOfMemory;
        }
        drawn = {m_state->resampled.data(), outW, outH, ptrdiff_t{outW} * 4,
                 m_state->resampledOpaque ? AlphaMode::Opaque : AlphaMode::Straight};
    }

    for (int y = py.visibleBegin; y < py.visibleEnd; ++y) {
        const uint8_t* in = drawn.Row(y - py.outBegin) + (px.visibleBegin - px.outBegin) * 4;
        uint8_t* out = target.Row(y) + px.visibleBegin * 4;
        const int count = px.visibleEnd - px.visibleBegin;
        if (op == 255 && drawn.alpha == AlphaMode::Opaque) {
            std::memcpy(out, in, size_t(count) * 4);
            for (int x = 0; x < count; ++x)
                out[x * 4 + 3] = 255;
            continue;
        }
        for (int x = 0; x < count; ++x) {
            Bgra s{in[x * 4], in[x * 4 + 1], in[x * 4 + 2],
                   drawn.alpha == AlphaMode::Opaque ? uint8_t{255} : in[x * 4 + 3]};
            Bgra d{out[x * 4], out[x * 4 + 1], out[x * 4 + 2], out[x * 4 + 3]};
            Bgra r = SourceOver(s, op, d, target.alpha);
            if (target.alpha == AlphaMode::Opaque) r.a = 255;
            std::memcpy(out + x * 4, &r, 4);
        }
    }
    return Error::None;
}

Error Stretch(ConstBitmapView source, int width, int height, Bitmap& out) {
    if (!ValidView(source)) return Error::InvalidArgument;
    Bitmap result;
    if (Error e = result.Create(width, height, source.alpha); e != Error::None) return e;
    Scaler scaler;
    if (Error e = scaler.Stretch(source, result); e != Error::None) return e;
    out = std::move(result);
    return Error::None;
}

Error DrawPicture(ConstBitmapView source, RectI from, BitmapView target, RectF to, float opacity) {
    Scaler scaler;
    return scaler.Draw(source, from, target, to, opacity);
}

} // namespace picture
