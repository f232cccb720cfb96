#include "picture_fixtures.h"

#include <cmath>
#include <set>

namespace picture_test {
namespace {

Bitmap Filled(int w, int h, Bgra p, AlphaMode alpha = AlphaMode::Straight) {
    Bitmap b = Make(w, h, alpha);
    b.View().Fill(p);
    return b;
}

Bitmap Stretched(const Bitmap& src, int w, int h) {
    Bitmap out;
    EXPECT_EQ(Stretch(src, w, h, out), Error::None);
    return out;
}

TEST(Stretch, ConstantPicturesStayConstant) {
    struct Case {
        Bgra colour;
        int w, h, dw, dh;
    } cases[] = {
        {{10, 200, 30, 255}, 7, 5, 23, 11},  // up
        {{10, 200, 30, 255}, 64, 48, 9, 7},  // down
        {{250, 3, 128, 128}, 7, 5, 23, 11},  // translucent, up
        {{250, 3, 128, 17}, 40, 30, 13, 17}, // faint, down one way, up the other
        {{1, 2, 3, 255}, 1, 1, 10000, 2},    // beyond what one resampling pass takes
        {{90, 91, 92, 255}, 6000, 1, 3, 1},
    };
    for (const Case& c : cases) {
        Bitmap out = Stretched(Filled(c.w, c.h, c.colour), c.dw, c.dh);
        ASSERT_EQ(out.Width(), c.dw);
        EXPECT_TRUE(SamePixels(out, Filled(c.dw, c.dh, c.colour)))
            << c.w << "x" << c.h << " -> " << c.dw << "x" << c.dh;
    }
}

TEST(Stretch, CheckerUpscaleKeepsCornersAndIsSmooth) {
    const Bgra black{0, 0, 0, 255}, white{255, 255, 255, 255};
    Bitmap checker = Make(2, 2);
    checker.SetPixel(0, 0, black);
    checker.SetPixel(1, 0, white);
    checker.SetPixel(0, 1, white);
    checker.SetPixel(1, 1, black);
    Bitmap out = Stretched(checker, 16, 16);
    EXPECT_LE(MaxDifference(Filled(1, 1, out.Pixel(0, 0)), Filled(1, 1, black)), 2);
    EXPECT_LE(MaxDifference(Filled(1, 1, out.Pixel(15, 0)), Filled(1, 1, white)), 2);
    EXPECT_LE(MaxDifference(Filled(1, 1, out.Pixel(0, 15)), Filled(1, 1, white)), 2);
    EXPECT_LE(MaxDifference(Filled(1, 1, out.Pixel(15, 15)), Filled(1, 1, black)), 2);

    // Along the top row: from black to white without steps back, through
    // many levels (a nearest-pixel stretch would jump once), and the picture
    // is symmetric like its source.
    std::set<int> levels;
    for (int x = 0; x < 16; ++x) {
        Bgra p = out.Pixel(x, 0);
        EXPECT_EQ(p.a, 255);
        EXPECT_TRUE(p.b == p.g && p.g == p.r) << x;
        if (x > 0) {
            EXPECT_GE(p.r, out.Pixel(x - 1, 0).r) << x;
            EXPECT_LE(p.r - out.Pixel(x - 1, 0).r, 100) << x;
        }
        levels.insert(p.r);
        EXPECT_NEAR(p.r + out.Pixel(15 - x, 0).r, 255, 2) << x;
        EXPECT_EQ(p.r, out.Pixel(15 - x, 15).r) << x;
    }
    EXPECT_GE(levels.size(), 5u);
}

TEST(Stretch, DownscalingAveragesFineDetail) {
    // One-pixel stripes shrunk four times: a filter that only samples would
    // give black or white, a good one the grey in between.
    Bitmap stripes = Make(64, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x)
            stripes.SetPixel(x, y, x % 2 ? Bgra{255, 255, 255, 255} : Bgra{0, 0, 0, 255});
    Bitmap out = Stretched(stripes, 16, 2);
    for (int x = 1; x < 15; ++x)
        EXPECT_NEAR(out.Pixel(x, 1).g, 128, 6) << x;
}

TEST(Stretch, TransparentPixelsDoNotBleedTheirColour) {
    // Left half opaque red, right half invisible green.
    Bitmap b = Make(8, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            b.SetPixel(x, y, x < 4 ? Bgra{0, 0, 255, 255} : Bgra{0, 255, 0, 0});
    Bitmap out = Stretched(b, 32, 16);
    bool sawEdge = false;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            Bgra p = out.Pixel(x, y);
            if (p.a == 0) continue;
            EXPECT_EQ(p.g, 0) << x << "," << y;
            EXPECT_GE(p.r, 250) << x << "," << y;
            if (p.a > 0 && p.a < 255) sawEdge = true;
        }
    EXPECT_TRUE(sawEdge); // the edge itself is soft in alpha
    EXPECT_EQ(out.Pixel(31, 0).a, 0);
    EXPECT_EQ(out.Pixel(0, 0), (Bgra{0, 0, 255, 255}));
}

TEST(Stretch, OpaqueTargetsAndBadArguments) {
    Bitmap src = Filled(3, 3, {5, 6, 7, 0}, AlphaMode::Opaque); // alpha byte is noise
    Bitmap target = Make(5, 5, AlphaMode::Opaque);
    Scaler scaler;
    ASSERT_EQ(scaler.Stretch(src, target), Error::None);
    EXPECT_TRUE(SamePixels(target, Filled(5, 5, {5, 6, 7, 255})));

    Bitmap out;
    EXPECT_EQ(Stretch(Bitmap(), 4, 4, out), Error::InvalidArgument);
    EXPECT_EQ(Stretch(src, 0, 4, out), Error::InvalidArgument);
    EXPECT_EQ(Stretch(src, 100000, 100000, out), Error::TooLarge);
    EXPECT_TRUE(out.Empty());
}

TEST(SourceOverMaths, KnownPixels) {
    const Bgra white{255, 255, 255, 255}, black{0, 0, 0, 255}, clear{0, 0, 0, 0};
    struct Case {
        Bgra source;
        uint8_t opacity;
        Bgra target;
        AlphaMode mode;
        Bgra expected;
    } cases[] = {
        {white, 255, black, AlphaMode::Straight, white}, // opaque covers
        {{255, 255, 255, 128}, 255, black, AlphaMode::Straight, {128, 128, 128, 255}},
        {white, 128, black, AlphaMode::Straight, {128, 128, 128, 255}}, // opacity alone
        {{255, 255, 255, 128}, 128, black, AlphaMode::Straight, {64, 64, 64, 255}},
        {white, 0, {1, 2, 3, 4}, AlphaMode::Straight, {1, 2, 3, 4}}, // opacity 0: nothing
        {{9, 9, 9, 0}, 255, {1, 2, 3, 4}, AlphaMode::Straight, {1, 2, 3, 4}},
        // Onto transparency the colour stays the source's, alpha adds up.
        {{200, 100, 50, 128}, 255, clear, AlphaMode::Straight, {200, 100, 50, 128}},
        {{200, 0, 0, 128}, 255, {0, 0, 200, 128}, AlphaMode::Straight, {134, 0, 66, 192}},
        // An opaque target's alpha byte means nothing and ends up 255.
        {{255, 255, 255, 128}, 255, clear, AlphaMode::Opaque, {128, 128, 128, 255}},
    };
    for (const Case& c : cases) {
        Bgra r = SourceOver(c.source, c.opacity, c.target, c.mode);
        EXPECT_EQ(r, c.expected) << int(r.b) << " " << int(r.g) << " " << int(r.r) << " "
                                 << int(r.a) << " for source alpha " << int(c.source.a)
                                 << " opacity " << int(c.opacity);
    }
}

// A target inside a larger buffer, with guard bytes all around it, so that
// any write outside the target shows.
struct GuardedTarget {
    static constexpr int kPad = 3;
    GuardedTarget(int w, int h, Bgra fill, AlphaMode mode = AlphaMode::Straight)
        : width(w), height(h), bytes(size_t(w + 2 * kPad) * (h + 2 * kPad) * 4, 0xA7) {
        view = {bytes.data() + (kPad * (w + 2 * kPad) + kPad) * 4, w, h,
                ptrdiff_t{w + 2 * kPad} * 4, mode};
        view.Fill(fill);
    }
    bool GuardsIntact() const {
        const ptrdiff_t stride = view.stride;
        for (int y = 0; y < height + 2 * kPad; ++y)
            for (int x = 0; x < (width + 2 * kPad) * 4; ++x) {
                bool inside =
                    y >= kPad && y < kPad + height && x >= kPad * 4 && x < (kPad + width) * 4;
                if (!inside && bytes[y * stride + x] != 0xA7) return false;
            }
        return true;
    }
    int width, height;
    std::vector<uint8_t> bytes;
    BitmapView view;
};

TEST(Draw, UnscaledLandsOnTheCoveredPixelsOnly) {
    Bitmap src = Pattern(4, 3, false);
    // Fractional positions: pixels whose centre lies inside are covered.
    struct Case {
        RectF to;
        int x0, y0; // where source pixel 0,0 lands
    } cases[] = {{{2, 1, 4, 3}, 2, 1},
                 {{2.4f, 1.6f, 4, 3}, 2, 2},
                 {{2.5f, 0.5f, 4, 3}, 2, 0},
                 {{2.6f, 0.4f, 4, 3}, 3, 0}};
    for (const Case& c : cases) {
        GuardedTarget t(10, 6, {1, 1, 1, 255});
        ASSERT_EQ(DrawPicture(src, {0, 0, 4, 3}, t.view, c.to), Error::None);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x) {
                bool covered = x >= c.x0 && x < c.x0 + 4 && y >= c.y0 && y < c.y0 + 3;
                Bgra want = covered ? src.Pixel(x - c.x0, y - c.y0) : Bgra{1, 1, 1, 255};
                EXPECT_EQ(t.view.Pixel(x, y), want) << x << "," << y << " at " << c.to.x;
            }
        EXPECT_TRUE(t.GuardsIntact());
    }
}

TEST(Draw, ClipsAtEveryEdgeWithoutWritingOutside) {
    Bitmap src = Filled(6, 6, {200, 100, 50, 255});
    struct Case {
        RectF to;
        Error result;
        int covered; // target pixels drawn on
    } cases[] = {
        {{-3, -3, 6, 6}, Error::None, 9},
        {{7, 5, 6, 6}, Error::None, 9},
        {{-2.5f, 4.5f, 12, 3}, Error::None, 27},
        {{-100, -100, 5, 5}, Error::None, 0},
        {{10, 0, 5, 5}, Error::None, 0},
        {{0, 8, 5, 5}, Error::None, 0},
        {{-40, -40, 90, 90}, Error::None, 80},
        {{-3000, -10, 4000, 30}, Error::None, 80}, // resampled only where visible
        {{3e38f, 0, 3e38f, 5}, Error::None, 0},
        // Stretching 6 pixels over two billion cannot be done in bounded
        // memory: refused, and nothing drawn.
        {{-1e9f, -1e9f, 2e9f, 2e9f}, Error::TooLarge, 0},
    };
    for (const Case& c : cases) {
        GuardedTarget t(10, 8, {0, 0, 0, 255});
        EXPECT_EQ(DrawPicture(src, {0, 0, 6, 6}, t.view, c.to), c.result) << c.to.x;
        EXPECT_TRUE(t.GuardsIntact()) << c.to.x << "," << c.to.y;
        int covered = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                if (t.view.Pixel(x, y) == Bgra{200, 100, 50, 255}) ++covered;
        EXPECT_EQ(covered, c.covered) << c.to.x << "," << c.to.y;
    }
}

TEST(Draw, LargeDestinationMatchesAFullStretchWhereVisible) {
    // Only a 40x30 window of a 3000x2000 stretch is visible; the drawing
    // resamples just the part that reaches it but must look the same.
    Bitmap src = Gradient(64, 48);
    const RectF to{-1500, -900, 3000, 2000};
    Bitmap full = Stretched(src, 3000, 2000);
    GuardedTarget t(40, 30, {0, 0, 0, 255});
    ASSERT_EQ(DrawPicture(src, {0, 0, 64, 48}, t.view, to), Error::None);
    int worst = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            Bgra p = t.view.Pixel(x, y), q = full.Pixel(x + 1500, y + 900);
            worst =
                std::max({worst, std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r)});
        }
    EXPECT_LE(worst, 2);
    EXPECT_TRUE(t.GuardsIntact());
}

TEST(Draw, ResizeFitsOfAVideoFrame) {
    // An opaque frame whose fourth byte is zero, as decoded video delivers.
    Bitmap frame = Make(128, 72, AlphaMode::Opaque);
    for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 128; ++x)
            frame.SetPixel(x, y, {uint8_t(x * 2), uint8_t(y * 3), 90, 0});

    // Letterbox into 64 x 48: 64 x 36 at y = 6, black bars keep their pixels.
    Bitmap out = Make(64, 48, AlphaMode::Opaque);
    ASSERT_EQ(DrawPicture(frame, {0, 0, 128, 72}, out, {0, 6, 64, 36}), Error::None);
    for (int x = 0; x < 64; ++x) {
        EXPECT_EQ(out.Pixel(x, 5), (Bgra{0, 0, 0, 255}));
        EXPECT_EQ(out.Data()[(5 * 64 + x) * 4 + 3], 0); // untouched, not even alpha
        EXPECT_EQ(out.Pixel(x, 42), (Bgra{0, 0, 0, 255}));
        EXPECT_EQ(out.Data()[(6 * 64 + x) * 4 + 3], 255);
        EXPECT_EQ(out.Pixel(x, 20).r, 90);
    }
    EXPECT_NEAR(out.Pixel(32, 24).b, 128, 4);

    // Crop fit: 85.33 x 48 at x = -10.67, every pixel written.
    Bitmap crop = Make(64, 48, AlphaMode::Opaque);
    ASSERT_EQ(DrawPicture(frame, {0, 0, 128, 72}, crop, {-10.666667f, 0, 85.333333f, 48}),
              Error::None);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(crop.Data()[(y * 64 + x) * 4 + 3], 255) << x << "," << y;
    EXPECT_NEAR(crop.Pixel(32, 24).b, 128, 4);

    // A crop rectangle of the source: its top-left pixel lands top-left.
    Bitmap part = Make(32, 32, AlphaMode::Opaque);
    ASSERT_EQ(DrawPicture(frame, {40, 20, 32, 32}, part, {0, 0, 32, 32}), Error::None);
    EXPECT_EQ(part.Pixel(0, 0), (Bgra{80, 60, 90, 255}));
    EXPECT_EQ(part.Pixel(31, 31), (Bgra{142, 153, 90, 255}));
}

TEST(Draw, WatermarkWithOpacityOverAFrame) {
    Bitmap mark = Make(2, 1);
    mark.SetPixel(0, 0, {255, 255, 255, 255});
    mark.SetPixel(1, 0, {255, 255, 255, 128});
    Bitmap frame = Filled(4, 1, {0, 0, 0, 0}, AlphaMode::Opaque);
    ASSERT_EQ(DrawPicture(mark, {0, 0, 2, 1}, frame, {1, 0, 2, 1}, 0.5f), Error::None);
    EXPECT_EQ(frame.Pixel(0, 0), (Bgra{0, 0, 0, 255}));
    EXPECT_EQ(frame.Pixel(1, 0), (Bgra{128, 128, 128, 255}));
    EXPECT_EQ(frame.Pixel(2, 0), (Bgra{64, 64, 64, 255}));
    EXPECT_EQ(frame.Data()[3 * 4 + 3], 0); // outside the watermark: untouched

    Bitmap before;
    ASSERT_EQ(before.CopyFrom(frame), Error::None);
    EXPECT_EQ(DrawPicture(mark, {0, 0, 2, 1}, frame, {0, 0, 4, 1}, 0.0f), Error::None);
    EXPECT_TRUE(SamePixels(frame, before));
    EXPECT_EQ(DrawPicture(mark, {0, 0, 2, 1}, frame, {0, 0, 2, 1}, 7.0f), Error::None);
    EXPECT_EQ(frame.Pixel(0, 0), (Bgra{255, 255, 255, 255})); // above 1 counts as 1
}

TEST(Draw, SourceRectangleIsCutToTheSource) {
    Bitmap src = Pattern(4, 4, false);
    // Asking for 2 pixels left of the source: those are not there, and the
    // target rectangle loses the same share.
    GuardedTarget t(6, 4, {0, 0, 0, 255});
    ASSERT_EQ(DrawPicture(src, {-2, 0, 6, 4}, t.view, {0, 0, 6, 4}), Error::None);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(t.view.Pixel(0, y), (Bgra{0, 0, 0, 255}));
        EXPECT_EQ(t.view.Pixel(1, y), (Bgra{0, 0, 0, 255}));
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(t.view.Pixel(x + 2, y), src.Pixel(x, y));
    }
    EXPECT_EQ(DrawPicture(src, {10, 10, 4, 4}, t.view, {0, 0, 6, 4}), Error::None);
    EXPECT_EQ(DrawPicture(src, {0, 0, 4, 4}, t.view, {0, 0, std::nanf(""), 4}),
              Error::InvalidArgument);
    EXPECT_TRUE(t.GuardsIntact());
}

TEST(Draw, AScalerReusedAcrossSizesGivesFreshResults) {
    Bitmap src = Pattern(30, 20, true);
    auto draw = [&](Scaler& s, RectF to) {
        Bitmap out = Filled(40, 40, {9, 9, 9, 255});
        EXPECT_EQ(s.Draw(src, {0, 0, 30, 20}, out, to), Error::None);
        return out;
    };
    const RectF a{0, 0, 37, 23}, b{3, 2, 11, 31};
    Scaler reused;
    Bitmap first = draw(reused, a);
    draw(reused, b);
    Bitmap again = draw(reused, a);
    Scaler fresh;
    EXPECT_TRUE(SamePixels(again, first));
    EXPECT_TRUE(SamePixels(draw(fresh, b), draw(reused, b)));
}

} // namespace
} // namespace picture_test
