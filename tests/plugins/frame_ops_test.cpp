// The picture operations the frame plug-ins share, checked on pixels.
#include "reelpage/frame_ops.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

#include "picture/encoders.h"
#include "reelpage/protocol.h"

namespace {

using namespace reelpage::frameops;
using picture::Bgra;

// Where source pixel (x, y) of a w x h picture lands, written out case by case.
std::pair<int, int> Expected(int o, int x, int y, int w, int h) {
    switch (o) {
    case 0:
        return {x, y};
    case 1:
        return {y, w - 1 - x};
    case 2:
        return {w - 1 - x, h - 1 - y};
    case 3:
        return {h - 1 - y, x};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {w - 1 - x, y};
    default:
        return {h - 1 - y, w - 1 - x};
    }
}

TEST(FrameOps, EveryOrientationMovesEachPixelWhereTheTableSays) {
    // Odd sizes and padded strides catch mixed-up width/height and stride use;
    // 37 x 70 spans more than one 32-pixel tile in both directions.
    for (auto [w, h] : {std::pair{3, 2}, std::pair{37, 70}}) {
        for (int bpp : {1, 2, 3, 4}) {
            const int srcStride = w * bpp + 8;
            std::vector<uint8_t> src(size_t(srcStride) * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int b = 0; b < bpp; ++b)
                        src[y * srcStride + x * bpp + b] = uint8_t(x * 7 + y * 13 + b * 61);
            for (int o = 0; o < 8; ++o) {
                const Size out = OrientedSize({w, h}, o);
                ASSERT_EQ(out, ((o & 1) ? Size{h, w} : Size{w, h}));
                const int dstStride = out.width * bpp + 4;
                std::vector<uint8_t> dst(size_t(dstStride) * out.height, 0xEE);
                OrientPlane(src.data(), srcStride, w, h, bpp, dst.data(), dstStride, o);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        auto [dx, dy] = Expected(o, x, y, w, h);
                        for (int b = 0; b < bpp; ++b)
                            ASSERT_EQ(dst[dy * dstStride + dx * bpp + b],
                                      src[y * srcStride + x * bpp + b])
                                << "orientation " << o << " bpp " << bpp << " at " << x << "," << y;
                    }
            }
        }
    }
}

// What each button does to the picture on screen, a W x H picture: a left
// turn is a quarter turn against the clock.
std::pair<int, int> Operated(int operation, int x, int y, int W, int H) {
    switch (operation) {
    case reelpage::kRotateLeft:
        return {y, W - 1 - x};
    case reelpage::kRotateRight:
        return {H - 1 - y, x};
    case reelpage::kFlipHorizontal:
        return {W - 1 - x, y};
    default:
        return {x, H - 1 - y};
    }
}

// Each of the 32 entries of the state table: the state an operation leads to
// moves every pixel where the current state's mapping followed by the
// operation moves it, so the buttons compose as pressed. Checked through
// OrientPlane, the mapping both frame plug-ins draw with.
TEST(FrameOps, EveryOperationFromEveryStateComposesAsPressed) {
    const int w = 3, h = 2; // not square, so a mixed-up side shows
    std::vector<uint8_t> src(w * h);
    for (int i = 0; i < w * h; ++i)
        src[size_t(i)] = uint8_t(i + 1);
    auto oriented = [&](int state) {
        const Size out = OrientedSize({w, h}, state);
        std::vector<uint8_t> dst(size_t(out.width) * out.height);
        OrientPlane(src.data(), w, w, h, 1, dst.data(), out.width, state);
        return dst;
    };
    for (int state = 0; state < 8; ++state) {
        const std::vector<uint8_t> before = oriented(state);
        const Size shown = OrientedSize({w, h}, state);
        for (int operation : {reelpage::kRotateLeft, reelpage::kRotateRight,
                              reelpage::kFlipHorizontal, reelpage::kFlipVertical}) {
            const int next = reelpage::NextOrientation(state, operation);
            ASSERT_GE(next, 0);
            const Size after = OrientedSize({w, h}, next);
            ASSERT_EQ(after.width * after.height, w * h);
            std::vector<uint8_t> pressed(before.size());
            for (int y = 0; y < shown.height; ++y)
                for (int x = 0; x < shown.width; ++x) {
                    const auto [px, py] = Operated(operation, x, y, shown.width, shown.height);
                    ASSERT_LT(px, after.width);
                    ASSERT_LT(py, after.height);
                    pressed[size_t(py * after.width + px)] = before[size_t(y * shown.width + x)];
                }
            EXPECT_EQ(oriented(next), pressed) << "state " << state << ", operation " << operation
                                               << " leads to " << next;
        }
    }
    EXPECT_EQ(reelpage::NextOrientation(reelpage::kOrientUpright, 12), -1); // no operation
    EXPECT_EQ(reelpage::NextOrientation(8, reelpage::kRotateLeft), -1);
}

TEST(FrameOps, HalfTurnOfYuvTurnsTheChromaPlanesToo) {
    const int w = 8, h = 4;
    std::vector<uint8_t> y(w * h), u(w / 2 * h / 2), v(w / 2 * h / 2);
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = uint8_t(i);
    for (size_t i = 0; i < u.size(); ++i)
        u[i] = uint8_t(100 + i), v[i] = uint8_t(200 + i);
    std::vector<uint8_t> oy(y.size()), ou(u.size()), ov(v.size());
    const uint8_t* src[3] = {y.data(), u.data(), v.data()};
    uint8_t* dst[3] = {oy.data(), ou.data(), ov.data()};
    const int strides[3] = {w, w / 2, w / 2};
    OrientYuv420(src, strides, w, h, dst, strides, 2);
    EXPECT_EQ(oy[0], y[w * h - 1]);
    EXPECT_EQ(oy[w * h - 1], y[0]);
    // Chroma is 4 x 2: its first sample goes to the last place and back.
    EXPECT_EQ(ou[0], u[7]);
    EXPECT_EQ(ou[7], u[0]);
    EXPECT_EQ(ov[1], v[6]);
    EXPECT_EQ(ov[4], v[3]);
}

TEST(FrameOps, BrightnessContrastTable) {
    uint8_t t[256];
    EXPECT_FALSE(ColorTableActive(0, 0));
    EXPECT_TRUE(ColorTableActive(0, -3));
    BuildColorTable(0, 0, t);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t[i], i);
    BuildColorTable(20, 0, t);
    EXPECT_EQ(t[128], 148);
    EXPECT_EQ(t[250], 255);
    EXPECT_EQ(t[0], 20);
    BuildColorTable(0, -100, t);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t[i], 128);
    BuildColorTable(-30, 50, t);
    EXPECT_EQ(t[0], 0);     // far below zero, limited
    EXPECT_EQ(t[200], 191); // 150 * 42 / 100 + 128
    EXPECT_EQ(t[255], 255); // (150 * 97 + 12800) / 100 = 273, limited
}

TEST(FrameOps, ColorTableLeavesTheFourthByteAlone) {
    picture::Bitmap b;
    ASSERT_EQ(b.Create(2, 1), picture::Error::None);
    b.SetPixel(0, 0, {10, 128, 250, 7});
    b.SetPixel(1, 0, {0, 1, 2, 200});
    uint8_t t[256];
    BuildColorTable(20, 0, t);
    ApplyColorTable(b, t);
    EXPECT_EQ(b.Pixel(0, 0), (Bgra{30, 148, 255, 7}));
    EXPECT_EQ(b.Pixel(1, 0), (Bgra{20, 21, 22, 200}));
}

TEST(FrameOps, FitRectangleByResizeMethod) {
    struct Case {
        int method, W, H, cw, ch;
        float x, y, w, h;
    } cases[] = {
        {1, 640, 480, 1280, 720, 0, 60, 640, 360},             // letterbox: bars above and below
        {2, 640, 480, 1280, 720, -106.666f, 0, 853.333f, 480}, // crop: cut left and right
        {1, 640, 360, 480, 480, 140, 0, 360, 360},             // letterbox into a wider output
        {2, 640, 360, 480, 480, 0, -140, 640, 640},            // crop from a wider output
        {0, 640, 480, 1280, 720, -320, -120, 1280, 720},       // centre, crop larger: no scaling
        {0, 640, 480, 320, 240, 160, 120, 320, 240},           // centre, crop smaller: bars
        {7, 640, 480, 1280, 720, -106.666f, 0, 853.333f, 480}, // any other value crops
    };
    for (const Case& c : cases) {
        picture::RectF r = FitRect(c.method, c.W, c.H, c.cw, c.ch);
        EXPECT_NEAR(r.x, c.x, 0.01) << c.method << " " << c.cw << "x" << c.ch;
        EXPECT_NEAR(r.y, c.y, 0.01) << c.method << " " << c.cw << "x" << c.ch;
        EXPECT_NEAR(r.width, c.w, 0.01) << c.method << " " << c.cw << "x" << c.ch;
        EXPECT_NEAR(r.height, c.h, 0.01) << c.method << " " << c.cw << "x" << c.ch;
    }
}

TEST(FrameOps, ClearingOutsideTheFitLeavesTheCoveredPixels) {
    picture::Bitmap b;
    ASSERT_EQ(b.Create(8, 6, picture::AlphaMode::Opaque), picture::Error::None);
    b.View().Fill({9, 9, 9, 255});
    const picture::RectF fit{2, 1.6f, 4, 3}; // columns 2..5; rows whose centre is in 1.6..4.6
    EXPECT_TRUE(FitLeavesBars(fit, 8, 6));
    EXPECT_FALSE(FitLeavesBars({0, 0, 8, 6}, 8, 6));
    EXPECT_FALSE(FitLeavesBars({-10, -2, 30, 10}, 8, 6));
    ClearOutsideFit(b, fit);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 2 && y < 5;
            ASSERT_EQ(b.Pixel(x, y).g, inside ? 9 : 0) << x << "," << y;
        }
}

class Watermark : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "wm-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
        // A 4 x 2 picture: left half opaque red, right half half-transparent green.
        picture::Bitmap b;
        ASSERT_EQ(b.Create(4, 2), picture::Error::None);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                b.SetPixel(x, y, x < 2 ? Bgra{0, 0, 255, 255} : Bgra{0, 255, 0, 128});
        picture::EncoderId png;
        ASSERT_TRUE(picture::FindEncoderByMimeType("image/png", png));
        m_path = (m_dir / "wm.png").string();
        ASSERT_EQ(picture::SavePicture(b, m_path, png), picture::Error::None);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
    std::string m_path;
};

TEST_F(Watermark, TransparencyScalesTheAlphaOfThePreparedPicture) {
    picture::Bitmap wm;
    ASSERT_EQ(PrepareWatermark(m_path, 4, 2, 0, wm), picture::Error::None);
    EXPECT_EQ(wm.Pixel(0, 0), (Bgra{0, 0, 255, 255}));
    EXPECT_EQ(wm.Pixel(3, 1).a, 128);
    ASSERT_EQ(PrepareWatermark(m_path, 4, 2, 100, wm), picture::Error::None);
    EXPECT_EQ(wm.Pixel(0, 0).a, 255 * 155 / 255);
    EXPECT_EQ(wm.Pixel(3, 1).a, 128 * 155 / 255);
    ASSERT_EQ(PrepareWatermark(m_path, 4, 2, 255, wm), picture::Error::None);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(wm.Pixel(x, 0).a, 0);
    // Stretched to the size asked for.
    ASSERT_EQ(PrepareWatermark(m_path, 40, 10, 0, wm), picture::Error::None);
    EXPECT_EQ(wm.Width(), 40);
    EXPECT_EQ(wm.Height(), 10);
    EXPECT_EQ(wm.Pixel(2, 5), (Bgra{0, 0, 255, 255}));
}

TEST_F(Watermark, MissingPictureOrEmptySizeIsRefused) {
    picture::Bitmap wm;
    EXPECT_NE(PrepareWatermark((m_dir / "none.png").string(), 4, 2, 0, wm), picture::Error::None);
    EXPECT_TRUE(wm.Empty());
    EXPECT_NE(PrepareWatermark(m_path, 0, 2, 0, wm), picture::Error::None);
    EXPECT_TRUE(wm.Empty());
}

TEST_F(Watermark, DrawnUnscaledWithSourceOverAndCutAtTheEdges) {
    picture::Bitmap wm;
    ASSERT_EQ(PrepareWatermark(m_path, 4, 2, 0, wm), picture::Error::None);
    picture::Bitmap frame;
    ASSERT_EQ(frame.Create(5, 3, picture::AlphaMode::Opaque), picture::Error::None);
    frame.View().Fill({100, 100, 100, 0});
    DrawWatermark(wm, frame, 2, 2); // only the top row of its left three columns fits
    EXPECT_EQ(frame.Pixel(1, 2), (Bgra{100, 100, 100, 255}));
    EXPECT_EQ(frame.Pixel(2, 2), (Bgra{0, 0, 255, 255}));
    EXPECT_EQ(frame.Pixel(3, 2), (Bgra{0, 0, 255, 255}));
    // Green at alpha 128 over grey 100: (255 * 128 + 100 * 127) / 255 = 178.
    const Bgra mixed = frame.Pixel(4, 2);
    EXPECT_NEAR(mixed.g, 178, 1);
    EXPECT_NEAR(mixed.r, 50, 1);
    EXPECT_EQ(frame.Pixel(2, 1), (Bgra{100, 100, 100, 255})); // above it: untouched
}

} // namespace

namespace {

TEST(FrameOps, CropIsClampedToThePicture) {
    struct Case {
        picture::RectI crop, want;
    } cases[] = {
        {{0, 0, 160, 120}, {0, 0, 160, 120}},
        {{100, 10, 61, 80}, {100, 10, 60, 80}}, // rounding made it one too wide
        {{-1, -2, 161, 122}, {0, 0, 160, 120}},
        {{20, 10, 0, 0}, {20, 10, 140, 110}}, // nothing given: the rest of the picture
        {{170, 130, 5, 5}, {159, 119, 1, 1}},
    };
    for (const Case& c : cases) {
        const picture::RectI r = ClampCrop(c.crop, 160, 120);
        EXPECT_EQ(r.x, c.want.x);
        EXPECT_EQ(r.y, c.want.y);
        EXPECT_EQ(r.width, c.want.width);
        EXPECT_EQ(r.height, c.want.height);
        EXPECT_LE(r.x + r.width, 160);
        EXPECT_LE(r.y + r.height, 120);
    }
}

// White outside turns to 143; the border sits one pixel outside the frame,
// dashed blue / red by four; a frame over the whole picture puts the border
// on the outermost rows and columns.
TEST(FrameOps, EditFrameGreysOutsideAndDashesTheBorder) {
    const Bgra blue{255, 0, 0, 255}, red{0, 0, 255, 255}, white{255, 255, 255, 255};
    picture::Bitmap b;
    ASSERT_EQ(b.Create(30, 20, picture::AlphaMode::Opaque), picture::Error::None);
    b.View().Fill(white);
    DrawEditFrame(b, 5, 4, 25, 15);
    EXPECT_EQ(b.Pixel(0, 0), (Bgra{143, 143, 143, 255}));
    EXPECT_EQ(b.Pixel(29, 19), (Bgra{143, 143, 143, 255}));
    EXPECT_EQ(b.Pixel(10, 10), white);
    for (int x = 4; x <= 25; ++x)
        EXPECT_EQ(b.Pixel(x, 3), ((x - 4) & 4) ? red : blue) << x;
    EXPECT_EQ(b.Pixel(4, 15), blue);
    for (int y = 4; y < 15; ++y) {
        EXPECT_EQ(b.Pixel(4, y), ((y - 4) & 4) ? red : blue) << y;
        EXPECT_EQ(b.Pixel(25, y), ((y - 4) & 4) ? red : blue) << y;
    }

    b.View().Fill(white);
    DrawEditFrame(b, 0, 0, 30, 20);
    EXPECT_EQ(b.Pixel(0, 0), blue);
    EXPECT_EQ(b.Pixel(4, 0), red);
    EXPECT_EQ(b.Pixel(8, 0), blue);
    EXPECT_EQ(b.Pixel(29, 5), red);
    EXPECT_EQ(b.Pixel(5, 19), red);
    EXPECT_EQ(b.Pixel(1, 1), white);
    EXPECT_EQ(b.Pixel(28, 18), white);
}

} // namespace

namespace {

// The part of a watermark reaching beyond the picture is the same picture as
// the part of the whole one, drawn at the same place.
TEST_F(Watermark, PartOnThePictureMatchesTheWholeOne) {
    picture::Bitmap source, whole, part;
    ASSERT_EQ(LoadWatermark(m_path, source), picture::Error::None);
    ASSERT_EQ(PrepareWatermarkFrom(source, 40, 10, 60, whole), picture::Error::None);
    picture::Point at;
    ASSERT_EQ(PrepareWatermarkPart(source, -15, 4, 40, 10, 60, 20, 8, part, &at),
              picture::Error::None);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 4);
    ASSERT_EQ(part.Width(), 20);
    ASSERT_EQ(part.Height(), 4);
    int worst = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 20; ++x) {
            const Bgra a = part.Pixel(x, y), b = whole.Pixel(x + 15, y);
            worst = std::max({worst, std::abs(a.b - b.b), std::abs(a.g - b.g),
                              std::abs(a.r - b.r), std::abs(a.a - b.a)});
        }
    EXPECT_LE(worst, 1);
    // Nothing on the picture, or a size beyond any picture's bounds.
    EXPECT_NE(PrepareWatermarkPart(source, 20, 0, 40, 10, 0, 20, 8, part, &at),
              picture::Error::None);
    ASSERT_EQ(PrepareWatermarkPart(source, -2000, 0, 30000, 8, 0, 20, 8, part, &at),
              picture::Error::None);
    EXPECT_EQ(part.Width(), 20);
    EXPECT_EQ(part.Pixel(5, 3), (Bgra{0, 0, 255, 255})); // inside the red half
    // A stretch beyond what the picture library resamples is refused whole.
    EXPECT_EQ(PrepareWatermarkPart(source, -50000, 0, 100000, 8, 0, 20, 8, part, &at),
              picture::Error::TooLarge);
    EXPECT_TRUE(part.Empty());
}

} // namespace
