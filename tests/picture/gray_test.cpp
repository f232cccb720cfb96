#include "picture_fixtures.h"

namespace picture_test {
namespace {

TEST(Gray, DisabledLookKeepsAlphaAndSpansLightGreys) {
    Bitmap b = Make(3, 1);
    b.SetPixel(0, 0, {0, 0, 0, 255});      // black
    b.SetPixel(1, 0, {255, 255, 255, 77}); // white, translucent
    b.SetPixel(2, 0, {0, 0, 255, 0});      // red, invisible
    Bitmap g;
    ASSERT_EQ(GrayCopy(b, g), Error::None);
    EXPECT_EQ(g.Pixel(0, 0), (Bgra{120, 120, 120, 255}));
    EXPECT_EQ(g.Pixel(1, 0), (Bgra{247, 247, 247, 77}));
    // (19595 * 255) >> 17 = 38
    EXPECT_EQ(g.Pixel(2, 0), (Bgra{158, 158, 158, 0}));
    // The copy is independent of its source.
    EXPECT_EQ(b.Pixel(0, 0), (Bgra{0, 0, 0, 255}));
}

TEST(Gray, OverlayLiftAndInPlaceAgree) {
    Bitmap b = Pattern(7, 5, true);
    b.SetPixel(3, 3, {255, 255, 255, 9});
    Bitmap copy;
    ASSERT_EQ(GrayCopy(b, copy, 16), Error::None);
    EXPECT_EQ(copy.Pixel(3, 3), (Bgra{143, 143, 143, 9}));
    GrayInPlace(b, 16);
    EXPECT_TRUE(SamePixels(b, copy));
}

TEST(Gray, OpaqueSourceGivesOpaqueCopy) {
    Bitmap b = Make(1, 1, AlphaMode::Opaque); // fourth byte 0, meaning nothing
    Bitmap g;
    ASSERT_EQ(GrayCopy(b, g), Error::None);
    EXPECT_EQ(g.Pixel(0, 0), (Bgra{120, 120, 120, 255}));
    EXPECT_EQ(GrayCopy(Bitmap(), g), Error::InvalidArgument);
}

} // namespace
} // namespace picture_test
