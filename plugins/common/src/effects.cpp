#include "reelpage/effects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
}

namespace reelpage::frameops {

namespace {

// Luma weights of the stored values, also the ones the hue turn keeps.
constexpr double kLr = 0.213, kLg = 0.715, kLb = 0.072;
// The colour pass works in sixteenths of a level: 0..4080.
constexpr int kUnit = 16;
constexpr int kFull = 255 * kUnit;
constexpr int kShift = 14; // fixed-point matrix coefficients

template <class T>
T Limit(T v, T lo, T hi) {
    return v != v ? T(0) : std::clamp(v, lo, hi); // NaN counts as 0
}

double Clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}

double SrgbToLinear(double x) {
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

double LinearToSrgb(double x) {
    return x <= 0.0031308 ? x * 12.92 : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
}

// Steps 1 to 6 for one channel; balance is the colour balance value of it.
double ChannelCurve(const EffectSettings& s, double x, int balance) {
    // 1. levels
    if (s.levelsShadow != 0 || s.levelsHighlight != 0 || s.levelsMidtone != 0) {
        const double black = s.levelsShadow / 100.0, white = 1 - s.levelsHighlight / 100.0;
        double t = Clamp01((x - black) / (white - black));
        x = std::pow(t, 1 / std::exp2(s.levelsMidtone / 50.0));
    }
    // 2. exposure, in linear light
    if (s.exposure != 0)
        x = LinearToSrgb(std::min(1.0, SrgbToLinear(x) * std::exp2(s.exposure / 50.0)));
    // 3. density
    if (s.density != 0) x = std::pow(x, std::exp2(s.density / 100.0));
    // 4. white saturation
    if (s.whiteSaturation != 0) x = std::min(1.0, x * 255.0 / (255.0 - s.whiteSaturation));
    // 5. black saturation
    if (s.blackSaturation != 0)
        x = std::max(0.0, (x * 255.0 - s.blackSaturation) / (255.0 - s.blackSaturation));
    // 6. colour balance
    if (balance != 0) x = Clamp01(x + balance / 50.0 * 0.25 * 4 * x * (1 - x));
    return Clamp01(x);
}

using Matrix = std::array<std::array<double, 4>, 3>; // 3x3 and an offset column

Matrix Multiply(const Matrix& a, const Matrix& b) { // a after b
    Matrix m{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            double v = j == 3 ? a[i][3] : 0;
            for (int k = 0; k < 3; ++k)
                v += a[i][k] * b[k][j];
            m[i][j] = v;
        }
    }
    return m;
}

constexpr Matrix kIdentity{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};

// Steps 7 to 9 as one matrix on (R, G, B, 1).
Matrix ColourMatrix(const EffectSettings& s) {
    Matrix m = kIdentity;
    if (s.hue != 0) {
        const double a = s.hue * M_PI / 180, c = std::cos(a), n = std::sin(a);
        const Matrix h{{{kLr + c * (1 - kLr) - n * kLr, kLg - c * kLg - n * kLg,
                         kLb - c * kLb + n * (1 - kLb), 0},
                        {kLr - c * kLr + n * 0.143, kLg + c * (1 - kLg) + n * 0.140,
                         kLb - c * kLb - n * 0.283, 0},
                        {kLr - c * kLr - n * (1 - kLr), kLg - c * kLg + n * kLg,
                         kLb + c * (1 - kLb) + n * kLb, 0}}};
        m = Multiply(h, m);
    }
    if (s.saturation != 0) {
        const double f = 1 + s.saturation / 50.0;
        Matrix sat{};
        const double l[3] = {kLr, kLg, kLb};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                sat[i][j] = (1 - f) * l[j] + (i == j ? f : 0);
        m = Multiply(sat, m);
    }
    if (s.lightness != 0) {
        const double v = s.lightness / 100.0;
        const double k = v > 0 ? 1 - v : 1 + v, off = v > 0 ? v : 0;
        const Matrix l{{{k, 0, 0, off}, {0, k, 0, off}, {0, 0, k, off}}};
        m = Multiply(l, m);
    }
    return m;
}

// The fully saturated colour at `degrees` of the colour wheel, 0 = red.
void WheelColour(double degrees, double rgb[3]) {
    double a = std::fmod(degrees, 360.0);
    if (a < 0) a += 360;
    const double h = a / 60;
    rgb[0] = Clamp01(std::abs(h - 3) - 1);
    rgb[1] = Clamp01(2 - std::abs(h - 2));
    rgb[2] = Clamp01(2 - std::abs(h - 4));
}

// libavfilter, opened the first time a chain is built. Linked in, it and the
// thirty-odd libraries it needs (speech, subtitles, GPU) were mapped by every
// process that loads a frame plug-in, each with its own relocated data, though
// only blur and sharpen use it.
struct FilterLibrary {
    decltype(&avfilter_graph_alloc) graphAlloc = nullptr;
    decltype(&avfilter_graph_free) graphFree = nullptr;
    decltype(&avfilter_get_by_name) getByName = nullptr;
    decltype(&avfilter_graph_create_filter) createFilter = nullptr;
    decltype(&avfilter_inout_alloc) inoutAlloc = nullptr;
    decltype(&avfilter_inout_free) inoutFree = nullptr;
    decltype(&avfilter_graph_parse_ptr) parse = nullptr;
    decltype(&avfilter_graph_config) config = nullptr;
    decltype(&av_buffersrc_add_frame) addFrame = nullptr;
    decltype(&av_buffersink_get_frame) getFrame = nullptr;
};

template <class F>
bool Resolve(void* library, const char* name, F* f) {
    *f = reinterpret_cast<F>(dlsym(library, name));
    return *f != nullptr;
}

// Null when the library or one of its functions is missing.
const FilterLibrary* OpenFilterLibrary() {
    static const FilterLibrary* const opened = []() -> const FilterLibrary* {
        // The major version the headers were built against: another has
        // other layouts.
        void* library =
            dlopen("libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
        // Said through FFmpeg's log, which the helpers copy into the job's.
        if (!library) {
            av_log(nullptr, AV_LOG_ERROR, "%s\n", dlerror());
            return nullptr;
        }
        static FilterLibrary f;
        if (Resolve(library, "avfilter_graph_alloc", &f.graphAlloc) &&
            Resolve(library, "avfilter_graph_free", &f.graphFree) &&
            Resolve(library, "avfilter_get_by_name", &f.getByName) &&
            Resolve(library, "avfilter_graph_create_filter", &f.createFilter) &&
            Resolve(library, "avfilter_inout_alloc", &f.inoutAlloc) &&
            Resolve(library, "avfilter_inout_free", &f.inoutFree) &&
            Resolve(library, "avfilter_graph_parse_ptr", &f.parse) &&
            Resolve(library, "avfilter_graph_config", &f.config) &&
            Resolve(library, "av_buffersrc_add_frame", &f.addFrame) &&
            Resolve(library, "av_buffersink_get_frame", &f.getFrame))
            return &f;
        av_log(nullptr, AV_LOG_ERROR, "libavfilter: %s\n", dlerror());
        return nullptr;
    }();
    return opened;
}

// A libavfilter chain from a BGRA picture of one size to one of the same
// size, set up once and run for every picture.
class FilterChain {
public:
    ~FilterChain() { Reset(); }

    void Reset() {
        if (m_lib) m_lib->graphFree(&m_graph);
        av_frame_free(&m_out);
        m_src = m_sink = nullptr;
        m_width = m_height = 0;
        m_chain.clear();
    }

    bool Matches(int w, int h, const std::string& chain) const {
        return m_graph && w == m_width && h == m_height && chain == m_chain;
    }

    bool Build(int w, int h, const std::string& chain) {
        Reset();
        m_lib = OpenFilterLibrary();
        if (!m_lib) return Fail();
        m_graph = m_lib->graphAlloc();
        m_out = av_frame_alloc();
        if (!m_graph || !m_out) return Fail();
        char args[160];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", w, h,
                      int(AV_PIX_FMT_BGRA));
        if (m_lib->createFilter(&m_src, m_lib->getByName("buffer"), "in", args,
                                         nullptr, m_graph) < 0 ||
            m_lib->createFilter(&m_sink, m_lib->getByName("buffersink"), "out",
                                         nullptr, nullptr, m_graph) < 0)
            return Fail();
        const AVPixelFormat formats[] = {AV_PIX_FMT_BGRA, AV_PIX_FMT_NONE};
        if (av_opt_set_int_list(m_sink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                                AV_OPT_SEARCH_CHILDREN) < 0)
            return Fail();
        AVFilterInOut* outputs = m_lib->inoutAlloc();
        AVFilterInOut* inputs = m_lib->inoutAlloc();
        bool ok = outputs && inputs;
        if (ok) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = m_src;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = m_sink;
            ok = m_lib->parse(m_graph, chain.c_str(), &inputs, &outputs, nullptr) >=
                     0 &&
                 m_lib->config(m_graph, nullptr) >= 0;
        }
        m_lib->inoutFree(&inputs);
        m_lib->inoutFree(&outputs);
        if (!ok) return Fail();
        m_width = w;
        m_height = h;
        m_chain = chain;
        return true;
    }

    // Runs `from` through the chain into `to` (both of the built size); the
    // fourth byte of `to` is left as it is.
    bool Run(picture::ConstBitmapView from, picture::BitmapView to) {
        AVFrame* in = av_frame_alloc();
        if (!in) return false;
        in->width = m_width;
        in->height = m_height;
        in->format = AV_PIX_FMT_BGRA;
        in->pts = m_pts++;
        bool ok = av_frame_get_buffer(in, 0) >= 0;
        if (ok) {
            for (int y = 0; y < m_height; ++y)
                std::memcpy(in->data[0] + ptrdiff_t(y) * in->linesize[0], from.Row(y),
                            size_t(m_width) * 4);
            ok = m_lib->addFrame(m_src, in) >= 0 && m_lib->getFrame(m_sink, m_out) >= 0;
        }
        av_frame_free(&in);
        if (!ok) return false;
        ok = m_out->width == m_width && m_out->height == m_height &&
             m_out->format == AV_PIX_FMT_BGRA;
        for (int y = 0; ok && y < m_height; ++y) {
            const uint8_t* s = m_out->data[0] + ptrdiff_t(y) * m_out->linesize[0];
            uint8_t* d = to.Row(y);
            for (int x = 0; x < m_width; ++x, s += 4, d += 4)
                d[0] = s[0], d[1] = s[1], d[2] = s[2];
        }
        av_frame_unref(m_out);
        return ok;
    }

private:
    bool Fail() {
        Reset();
        return false;
    }

    const FilterLibrary* m_lib = nullptr;
    AVFilterGraph* m_graph = nullptr;
    AVFilterContext* m_src = nullptr;
    AVFilterContext* m_sink = nullptr;
    AVFrame* m_out = nullptr;
    int m_width = 0, m_height = 0;
    int64_t m_pts = 0;
    std::string m_chain;
};

// The Gaussian blur of sigma on planar RGB (four passes of the recursive
// filter: one pass is too far from a Gaussian at large radii), the picture first surrounded by
// `pad` pixels that repeat its border (smear) or are black, cut back after.
std::string BlurChain(double sigma, bool repeatEdge) {
    const int pad = int(std::ceil(3 * sigma)) + 1;
    char chain[400];
    std::snprintf(chain, sizeof chain,
                  "format=gbrp,pad=w=iw+%d:h=ih+%d:x=%d:y=%d:color=black%s,gblur=sigma=%.4f:steps=4,"
                  "crop=w=iw-%d:h=ih-%d:x=%d:y=%d,format=bgra",
                  2 * pad, 2 * pad, pad, pad,
                  repeatEdge ? (",fillborders=left=" + std::to_string(pad) +
                                ":right=" + std::to_string(pad) + ":top=" + std::to_string(pad) +
                                ":bottom=" + std::to_string(pad) + ":mode=smear")
                                   .c_str()
                             : "",
                  sigma, 2 * pad, 2 * pad, pad, pad);
    return chain;
}

} // namespace

EffectSettings Limited(EffectSettings s) {
    s.levelsHighlight = Limit(s.levelsHighlight, 0, 50);
    s.levelsMidtone = Limit(s.levelsMidtone, 0, 50);
    s.levelsShadow = Limit(s.levelsShadow, 0, 50);
    s.exposure = Limit(s.exposure, -100, 100);
    s.density = Limit(s.density, -100, 100);
    s.whiteSaturation = Limit(s.whiteSaturation, 0, 100);
    s.blackSaturation = Limit(s.blackSaturation, 0, 100);
    s.cyanRed = Limit(s.cyanRed, -50, 50);
    s.magentaGreen = Limit(s.magentaGreen, -50, 50);
    s.yellowBlue = Limit(s.yellowBlue, -50, 50);
    s.hue = Limit(s.hue, -90, 90);
    s.saturation = Limit(s.saturation, -50, 50);
    s.lightness = Limit(s.lightness, -50, 50);
    s.tintHue = Limit(s.tintHue, -90, 90);
    s.tintAmount = Limit(s.tintAmount, -50, 50);
    s.blurRadius = Limit(s.blurRadius, 0.0f, 100.0f);
    s.sharpenRadius = Limit(s.sharpenRadius, 0.0f, 100.0f);
    s.sharpenAmount = Limit(s.sharpenAmount, 0.0f, 50.0f);
    return s;
}

namespace {

bool CurvesOn(const EffectSettings& s) {
    return s.levelsHighlight || s.levelsMidtone || s.levelsShadow || s.exposure || s.density ||
           s.whiteSaturation || s.blackSaturation || s.cyanRed || s.magentaGreen || s.yellowBlue;
}
bool MatrixOn(const EffectSettings& s) {
    return s.hue || s.saturation || s.lightness;
}
bool TintOn(const EffectSettings& s) {
    return s.tintHue != 0 && s.tintAmount != 0;
}
bool BlurOn(const EffectSettings& s) {
    return s.blurRadius > 0;
}
bool SharpenOn(const EffectSettings& s) {
    return s.sharpenRadius > 0 && s.sharpenAmount > 0;
}

} // namespace

bool EffectsActive(const EffectSettings& settings) {
    const EffectSettings s = Limited(settings);
    return CurvesOn(s) || MatrixOn(s) || TintOn(s) || BlurOn(s) || SharpenOn(s);
}

struct EffectRenderer::Impl {
    EffectSettings settings;
    double scale = 1;
    bool curves = false, matrix = false, tint = false, blur = false, sharpen = false;
    uint8_t lut8[3][256] = {};  // B, G, R tables when only they are on
    int32_t lut16[3][256] = {}; // the same in sixteenths of a level
    int32_t m[3][4] = {};       // R, G, B rows, Q14, offset in units << 14
    int32_t tintAdd[3][256] = {}; // R, G, B by luma level, in units
    double blurSigma = 0, sharpenSigma = 0;
    int32_t sharpenGain = 0; // amount / 10 in 1/256
    FilterChain blurChain, sharpenChain;
    std::vector<uint8_t> scratch; // the picture before sharpening

    void Prepare() {
        const EffectSettings& s = settings;
        curves = CurvesOn(s), matrix = MatrixOn(s), tint = TintOn(s);
        blur = BlurOn(s), sharpen = SharpenOn(s);
        const int balance[3] = {s.yellowBlue, s.magentaGreen, s.cyanRed}; // B, G, R
        for (int c = 0; c < 3; ++c) {
            for (int v = 0; v < 256; ++v) {
                const double x = curves ? ChannelCurve(s, v / 255.0, balance[c]) : v / 255.0;
                lut8[c][v] = uint8_t(std::lround(x * 255));
                lut16[c][v] = int32_t(std::lround(x * kFull));
            }
        }
        const Matrix cm = ColourMatrix(s);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] = int32_t(std::lround(cm[i][j] * (1 << kShift)));
            m[i][3] = int32_t(std::lround(cm[i][3] * kFull * (1 << kShift)));
        }
        double t[3] = {};
        WheelColour(2.0 * s.tintHue, t);
        const double ty = kLr * t[0] + kLg * t[1] + kLb * t[2];
        for (int v = 0; v < 256; ++v) {
            const double y = v / 255.0;
            const double w = s.tintAmount / 50.0 * 0.5 * 4 * y * (1 - y);
            for (int c = 0; c < 3; ++c)
                tintAdd[c][v] = int32_t(std::lround(w * (t[c] - ty) * kFull));
        }
        blurSigma = s.blurRadius / 3.0 * scale;
        sharpenSigma = s.sharpenRadius / 3.0 * scale;
        sharpenGain = int32_t(std::lround(s.sharpenAmount / 10.0 * 256));
    }

    void Colour(picture::BitmapView p) const {
        if (!matrix && !tint) {
            for (int y = 0; y < p.height; ++y) {
                uint8_t* q = p.Row(y);
                for (int x = 0; x < p.width; ++x, q += 4) {
                    q[0] = lut8[0][q[0]];
                    q[1] = lut8[1][q[1]];
                    q[2] = lut8[2][q[2]];
                }
            }
            return;
        }
        if (matrix && tint)
            Mix<true, true>(p);
        else if (matrix)
            Mix<true, false>(p);
        else
            Mix<false, true>(p);
    }

    template <bool Matrix, bool Tint>
    void Mix(picture::BitmapView p) const {
        constexpr int32_t half = 1 << (kShift - 1);
        for (int y = 0; y < p.height; ++y) {
            uint8_t* q = p.Row(y);
            for (int x = 0; x < p.width; ++x, q += 4) {
                int32_t r = lut16[2][q[2]], g = lut16[1][q[1]], b = lut16[0][q[0]];
                if constexpr (Matrix) {
                    const int32_t r2 = (m[0][0] * r + m[0][1] * g + m[0][2] * b + m[0][3] + half) >>
                                       kShift;
                    const int32_t g2 = (m[1][0] * r + m[1][1] * g + m[1][2] * b + m[1][3] + half) >>
                                       kShift;
                    const int32_t b2 = (m[2][0] * r + m[2][1] * g + m[2][2] * b + m[2][3] + half) >>
                                       kShift;
                    r = std::clamp(r2, 0, kFull);
                    g = std::clamp(g2, 0, kFull);
                    b = std::clamp(b2, 0, kFull);
                }
                if constexpr (Tint) {
                    // Luma weights 0.213, 0.715, 0.072 in 1/16384 (they sum to
                    // 16384), from sixteenths of a level to a level.
                    const int32_t li = (3489 * r + 11715 * g + 1180 * b + (1 << 17)) >> 18;
                    r = std::clamp(r + tintAdd[0][li], 0, kFull);
                    g = std::clamp(g + tintAdd[1][li], 0, kFull);
                    b = std::clamp(b + tintAdd[2][li], 0, kFull);
                }
                q[2] = uint8_t((r + kUnit / 2) >> 4);
                q[1] = uint8_t((g + kUnit / 2) >> 4);
                q[0] = uint8_t((b + kUnit / 2) >> 4);
            }
        }
    }

    bool Sharpen(picture::BitmapView p) {
        const size_t row = size_t(p.width) * 4;
        scratch.resize(row * p.height);
        picture::BitmapView blurred{scratch.data(), p.width, p.height, ptrdiff_t(row),
                                    picture::AlphaMode::Opaque};
        const std::string chain = BlurChain(sharpenSigma, true);
        if (!sharpenChain.Matches(p.width, p.height, chain) &&
            !sharpenChain.Build(p.width, p.height, chain))
            return false;
        if (!sharpenChain.Run(p, blurred)) return false;
        const int32_t k = sharpenGain;
        for (int y = 0; y < p.height; ++y) {
            uint8_t* q = p.Row(y);
            const uint8_t* b = blurred.Row(y);
            for (int x = 0; x < p.width; ++x, q += 4, b += 4) {
                for (int c = 0; c < 3; ++c) {
                    const int32_t v = q[c] + ((k * (q[c] - b[c]) + 128) >> 8);
                    q[c] = uint8_t(std::clamp(v, 0, 255));
                }
            }
        }
        return true;
    }
};

EffectRenderer::EffectRenderer() : m_p(std::make_unique<Impl>()) {
    m_p->Prepare();
}

EffectRenderer::~EffectRenderer() = default;

void EffectRenderer::Set(const EffectSettings& settings, double scale) {
    const EffectSettings s = Limited(settings);
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
    if (s == m_p->settings && scale == m_p->scale) return;
    m_p->settings = s;
    m_p->scale = scale;
    m_p->Prepare();
}

bool EffectRenderer::Active() const {
    const Impl& p = *m_p;
    return p.curves || p.matrix || p.tint || p.blur || p.sharpen;
}

picture::Error EffectRenderer::Apply(picture::BitmapView target) {
    Impl& p = *m_p;
    if (target.Empty() || !Active()) return picture::Error::None;
    if (p.curves || p.matrix || p.tint) p.Colour(target);
    bool ok = true;
    if (p.blur) {
        const std::string chain = BlurChain(p.blurSigma, p.settings.blurExpandEdge);
        ok = (p.blurChain.Matches(target.width, target.height, chain) ||
              p.blurChain.Build(target.width, target.height, chain)) &&
             p.blurChain.Run(target, target);
    }
    if (p.sharpen) ok = p.Sharpen(target) && ok;
    return ok ? picture::Error::None : picture::Error::InvalidArgument;
}

} // namespace reelpage::frameops
