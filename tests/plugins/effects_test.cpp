// The picture effects, each family checked at two settings against a plain
// floating-point rendering of its definition (a true Gaussian for blur and
// sharpen), and every effect at 0 against the untouched picture.
#include "reelpage/effects.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace reelpage::frameops;

constexpr int kW = 96, kH = 64;

// Smooth ramps in every channel, a saturated colour patch and a hard-edged
// checker block, so both tone curves and edges show.
std::vector<uint8_t> TestPicture() {
    std::vector<uint8_t> p(size_t(kW) * kH * 4);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t* q = &p[(size_t(y) * kW + x) * 4];
            q[0] = uint8_t((x + y) * 255 / (kW + kH - 2));
            q[1] = uint8_t(y * 255 / (kH - 1));
            q[2] = uint8_t(x * 255 / (kW - 1));
            q[3] = uint8_t(x ^ y); // never touched by any effect
            if (x >= 60 && x < 84 && y >= 8 && y < 32) // checker
                q[0] = q[1] = q[2] = ((x / 4 + y / 4) & 1) ? 230 : 20;
            if (x >= 8 && x < 28 && y >= 36 && y < 56) // orange patch
                q[2] = 240, q[1] = 140, q[0] = 30;
        }
    return p;
}

picture::BitmapView View(std::vector<uint8_t>& p) {
    return {p.data(), kW, kH, kW * 4, picture::AlphaMode::Opaque};
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a[i]) - b[i];
        sum += d * d;
        ++n;
    }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    return 10 * std::log10(255.0 * 255.0 / (sum / n));
}

// ---- the definitions, written out plainly in floating point ----

double C01(double x) {
    return std::clamp(x, 0.0, 1.0);
}

double Curve(const EffectSettings& s, double x, int balance) {
    if (s.levelsShadow || s.levelsHighlight || s.levelsMidtone) {
        const double b = s.levelsShadow / 100.0, w = 1 - s.levelsHighlight / 100.0;
        x = std::pow(C01((x - b) / (w - b)), 1 / std::pow(2.0, s.levelsMidtone / 50.0));
    }
    if (s.exposure) {
        double lin = x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        lin = std::min(1.0, lin * std::pow(2.0, s.exposure / 50.0));
        x = lin <= 0.0031308 ? lin * 12.92 : 1.055 * std::pow(lin, 1 / 2.4) - 0.055;
    }
    if (s.density) x = std::pow(x, std::pow(2.0, s.density / 100.0));
    x = std::min(1.0, x * 255 / (255.0 - s.whiteSaturation));
    x = std::max(0.0, (x * 255 - s.blackSaturation) / (255.0 - s.blackSaturation));
    return C01(x + balance / 50.0 * 0.25 * 4 * x * (1 - x));
}

void ColourPixel(const EffectSettings& s, uint8_t* q) {
    double r = Curve(s, q[2] / 255.0, s.cyanRed), g = Curve(s, q[1] / 255.0, s.magentaGreen),
           b = Curve(s, q[0] / 255.0, s.yellowBlue);
    const double lr = 0.213, lg = 0.715, lb = 0.072;
    if (s.hue || s.saturation || s.lightness) {
        // Hue: the grey part stays, the colour part turns round the grey axis
        // in the plane the luma weights define (the usual hue-rotate matrix).
        const double a = s.hue * M_PI / 180, c = std::cos(a), n = std::sin(a);
        const double r1 = (lr + c * (1 - lr) - n * lr) * r + (lg - c * lg - n * lg) * g +
                          (lb - c * lb + n * (1 - lb)) * b;
        const double g1 = (lr - c * lr + n * 0.143) * r + (lg + c * (1 - lg) + n * 0.140) * g +
                          (lb - c * lb - n * 0.283) * b;
        const double b1 = (lr - c * lr - n * (1 - lr)) * r + (lg - c * lg + n * lg) * g +
                          (lb + c * (1 - lb) + n * lb) * b;
        const double f = 1 + s.saturation / 50.0;
        const double y = lr * r1 + lg * g1 + lb * b1;
        double rgb[3] = {y + f * (r1 - y), y + f * (g1 - y), y + f * (b1 - y)};
        const double v = s.lightness / 100.0;
        for (double& e : rgb)
            e = C01(v > 0 ? e + (1 - e) * v : e * (1 + v));
        r = rgb[0], g = rgb[1], b = rgb[2];
    }
    if (s.tintHue && s.tintAmount) {
        const double h = std::fmod(2.0 * s.tintHue + 360, 360) / 60;
        const double t[3] = {C01(std::abs(h - 3) - 1), C01(2 - std::abs(h - 2)),
                             C01(2 - std::abs(h - 4))};
        const double ty = lr * t[0] + lg * t[1] + lb * t[2];
        const double y = lr * r + lg * g + lb * b;
        const double w = s.tintAmount / 50.0 * 0.5 * 4 * y * (1 - y);
        r = C01(r + w * (t[0] - ty)), g = C01(g + w * (t[1] - ty)), b = C01(b + w * (t[2] - ty));
    }
    q[2] = uint8_t(std::lround(r * 255)), q[1] = uint8_t(std::lround(g * 255));
    q[0] = uint8_t(std::lround(b * 255));
}

// A true Gaussian of sigma, separable, with the border repeated or black.
std::vector<double> Gaussian(const std::vector<uint8_t>& p, double sigma, bool repeat) {
    const int r = int(std::ceil(4 * sigma));
    std::vector<double> k(2 * r + 1);
    double sum = 0;
    for (int i = -r; i <= r; ++i)
        sum += k[i + r] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& e : k)
        e /= sum;
    auto at = [&](const std::vector<double>& v, int x, int y, int c) {
        if (repeat) x = std::clamp(x, 0, kW - 1), y = std::clamp(y, 0, kH - 1);
        if (x < 0 || y < 0 || x >= kW || y >= kH) return 0.0;
        return v[(size_t(y) * kW + x) * 4 + c];
    };
    std::vector<double> in(p.begin(), p.end()), mid(in.size()), out(in.size());
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int i = -r; i <= r; ++i)
                    v += k[i + r] * at(in, x + i, y, c);
                mid[(size_t(y) * kW + x) * 4 + c] = v;
            }
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int i = -r; i <= r; ++i)
                    v += k[i + r] * at(mid, x, y + i, c);
                out[(size_t(y) * kW + x) * 4 + c] = v;
            }
    return out;
}

std::vector<uint8_t> Reference(const EffectSettings& s, std::vector<uint8_t> p) {
    for (size_t i = 0; i < p.size(); i += 4)
        ColourPixel(s, &p[i]);
    if (s.blurRadius > 0) {
        const std::vector<double> g = Gaussian(p, s.blurRadius / 3, s.blurExpandEdge);
        for (size_t i = 0; i < p.size(); ++i)
            if (i % 4 != 3) p[i] = uint8_t(std::clamp(std::lround(g[i]), 0L, 255L));
    }
    if (s.sharpenRadius > 0 && s.sharpenAmount > 0) {
        const std::vector<double> g = Gaussian(p, s.sharpenRadius / 3, true);
        for (size_t i = 0; i < p.size(); ++i)
            if (i % 4 != 3)
                p[i] = uint8_t(std::clamp(
                    std::lround(p[i] + s.sharpenAmount / 10 * (p[i] - g[i])), 0L, 255L));
    }
    return p;
}

std::vector<uint8_t> Rendered(const EffectSettings& s, double scale = 1) {
    std::vector<uint8_t> p = TestPicture();
    EffectRenderer r;
    r.Set(s, scale);
    EXPECT_EQ(r.Apply(View(p)), picture::Error::None);
    return p;
}

struct Case {
    const char* family;
    std::function<void(EffectSettings&)> first, second;
};

TEST(Effects, EachFamilyMatchesItsDefinitionAtTwoSettings) {
    const std::vector<Case> cases = {
        {"levels", [](auto& s) { s.levelsShadow = 20, s.levelsHighlight = 10; },
         [](auto& s) { s.levelsShadow = 5, s.levelsHighlight = 30, s.levelsMidtone = 40; }},
        {"exposure", [](auto& s) { s.exposure = 60; }, [](auto& s) { s.exposure = -100; }},
        {"density", [](auto& s) { s.density = 100; }, [](auto& s) { s.density = -50; }},
        {"white and black saturation", [](auto& s) { s.whiteSaturation = 100; },
         [](auto& s) { s.whiteSaturation = 40, s.blackSaturation = 70; }},
        {"colour balance", [](auto& s) { s.cyanRed = 50, s.magentaGreen = -20, s.yellowBlue = 10; },
         [](auto& s) { s.cyanRed = -50, s.magentaGreen = 50, s.yellowBlue = -50; }},
        {"hue saturation lightness", [](auto& s) { s.hue = 45, s.saturation = -30, s.lightness = 20; },
         [](auto& s) { s.hue = -90, s.saturation = 50, s.lightness = -50; }},
        {"tint", [](auto& s) { s.tintHue = 30, s.tintAmount = 50; },
         [](auto& s) { s.tintHue = -75, s.tintAmount = -25; }},
        {"blur", [](auto& s) { s.blurRadius = 6, s.blurExpandEdge = true; },
         [](auto& s) { s.blurRadius = 30; }},
        {"sharpen", [](auto& s) { s.sharpenRadius = 3, s.sharpenAmount = 20; },
         [](auto& s) { s.sharpenRadius = 45, s.sharpenAmount = 50; }},
    };
    const std::vector<uint8_t> original = TestPicture();
    for (const Case& c : cases) {
        for (const auto& set : {c.first, c.second}) {
            EffectSettings s;
            set(s);
            const std::vector<uint8_t> got = Rendered(s);
            const double psnr = Psnr(got, Reference(s, original));
            EXPECT_GE(psnr, 40.0) << c.family;
            // The effect is there to see, not a near no-op.
            EXPECT_LT(Psnr(got, original), 30.0) << c.family;
            for (size_t i = 3; i < got.size(); i += 4)
                ASSERT_EQ(got[i], original[i]) << c.family << ": the fourth byte is kept";
            std::printf("%-28s PSNR %.1f dB\n", c.family, psnr);
        }
    }
}

TEST(Effects, BlurWithoutExpandEdgeFadesTheEdgesIntoBlack) {
    EffectSettings s;
    s.blurRadius = 12;
    const std::vector<uint8_t> soft = Rendered(s);
    s.blurExpandEdge = true;
    const std::vector<uint8_t> kept = Rendered(s);
    // The orange patch's corner region and the right edge (bright red ramp).
    const size_t right = (size_t(32) * kW + kW - 1) * 4;
    EXPECT_LT(soft[right + 2], kept[right + 2] - 60);
    const size_t middle = (size_t(32) * kW + 40) * 4;
    EXPECT_NEAR(soft[middle + 2], kept[middle + 2], 2);
}

TEST(Effects, AtZeroNothingIsTouched) {
    const std::vector<std::pair<const char*, std::function<void(EffectSettings&)>>> cases = {
        {"all at 0", [](auto&) {}},
        {"tint hue without amount", [](auto& s) { s.tintHue = 40; }},
        {"tint amount without hue", [](auto& s) { s.tintAmount = 40; }},
        {"sharpen radius without amount", [](auto& s) { s.sharpenRadius = 20; }},
        {"sharpen amount without radius", [](auto& s) { s.sharpenAmount = 20; }},
        {"expand edge without radius", [](auto& s) { s.blurExpandEdge = true; }},
        {"a radius that is not a number",
         [](auto& s) { s.blurRadius = std::numeric_limits<float>::quiet_NaN(); }},
    };
    for (const auto& [name, set] : cases) {
        EffectSettings s;
        set(s);
        EXPECT_FALSE(EffectsActive(s)) << name;
        EXPECT_EQ(Rendered(s), TestPicture()) << name;
    }
    // A renderer that was on and is set back to 0 leaves the picture alone.
    EffectRenderer r;
    EffectSettings s;
    s.exposure = 50;
    s.blurRadius = 5;
    r.Set(s);
    r.Set(EffectSettings{});
    std::vector<uint8_t> p = TestPicture();
    EXPECT_EQ(r.Apply(View(p)), picture::Error::None);
    EXPECT_EQ(p, TestPicture());
}

TEST(Effects, ValuesBeyondTheControlsAreLimitedToTheirEnds) {
    EffectSettings wild, end;
    wild.exposure = 100000, end.exposure = 100;
    wild.levelsShadow = -7;
    wild.blurRadius = 1e9f, end.blurRadius = 100;
    wild.hue = 400, end.hue = 90;
    EXPECT_EQ(Limited(wild), end);
    EXPECT_EQ(Rendered(wild), Rendered(end));
}

// A preview shown at half the output size blurs half as far in its pixels:
// the half-size rendering matches the full one scaled down.
TEST(Effects, ScaleKeepsTheReachOfBlurInOutputPixels) {
    EffectSettings s;
    s.blurRadius = 9;
    s.blurExpandEdge = true;
    std::vector<uint8_t> wide = Rendered(s, 1.0), narrow = Rendered(s, 0.5);
    // Not equal pictures (different sizes would be), but the half-scale one
    // must be visibly less blurred at the checker than the full one.
    const double full = Psnr(wide, TestPicture()), half = Psnr(narrow, TestPicture());
    EXPECT_GT(half, full + 2);
}

} // namespace
