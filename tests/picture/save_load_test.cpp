#include "picture_fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

namespace picture_test {
namespace {

class SaveLoad : public ScratchFolder {
protected:
    // Saves, checks the file starts as its format does, and loads it back.
    Bitmap RoundTrip(const Bitmap& b, const char* mime, const char* name, const char* magic) {
        std::string path = Path(name);
        EXPECT_EQ(SavePicture(b, path, Encoder(mime)), Error::None) << mime;
        EXPECT_EQ(ReadAll(path).substr(0, std::string(magic).size()), magic) << mime;
        Bitmap back;
        EXPECT_EQ(LoadPicture(path, back), Error::None) << mime;
        return back;
    }
    // Nothing but the expected files: no temporary file left behind.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(SaveLoad, LosslessFormatsKeepEveryPixelAndAlpha) {
    Bitmap b = Pattern(13, 9, true); // odd sizes catch row padding mistakes
    EXPECT_TRUE(SamePixels(RoundTrip(b, "image/png", "a.png", "\x89PNG"), b));
    EXPECT_TRUE(SamePixels(RoundTrip(b, "image/tiff", "a.tif", "II*"), b));
    EXPECT_TRUE(SamePixels(RoundTrip(b, "image/bmp", "a.bmp", "BM"), b));
}

TEST_F(SaveLoad, OpaquePicturesAreStoredWithoutAlpha) {
    Bitmap b = Pattern(5, 3, false);
    // An opaque picture's fourth byte is noise; it must not become alpha.
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            Bgra p = b.Pixel(x, y);
            p.a = static_cast<uint8_t>(x * 40);
            b.SetPixel(x, y, p);
        }
    b.SetAlpha(AlphaMode::Opaque);
    Bitmap expected;
    ASSERT_EQ(expected.CopyFrom(b), Error::None);
    expected.SetAlpha(AlphaMode::Straight);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            Bgra p = expected.Pixel(x, y);
            p.a = 255;
            expected.SetPixel(x, y, p);
        }
    for (auto [mime, name] : {std::pair{"image/png", "o.png"}, std::pair{"image/tiff", "o.tiff"},
                              std::pair{"image/bmp", "o.bmp"}}) {
        std::string path = Path(name);
        ASSERT_EQ(SavePicture(b, path, Encoder(mime)), Error::None);
        Bitmap back;
        ASSERT_EQ(LoadPicture(path, back), Error::None);
        EXPECT_TRUE(SamePixels(back, expected)) << mime;
    }
    // 24-bit storage: smaller than it would be with alpha.
    EXPECT_EQ(ReadAll(Path("o.bmp"))[28], 24);
}

TEST_F(SaveLoad, JpegIsCloseAndHonoursQuality) {
    Bitmap b = Gradient(64, 48);
    Bitmap back = RoundTrip(b, "image/jpeg", "a.jpg", "\xFF\xD8\xFF");
    ASSERT_EQ(back.Width(), 64);
    ASSERT_EQ(back.Height(), 48);
    EXPECT_LE(MaxDifference(b, back), 6);

    Bitmap noisy = Pattern(64, 48, false);
    std::string fine, coarse;
    ASSERT_EQ(EncodePicture(noisy, Encoder("image/jpeg"), fine, {95}), Error::None);
    ASSERT_EQ(EncodePicture(noisy, Encoder("image/jpeg"), coarse, {20}), Error::None);
    EXPECT_GT(fine.size(), coarse.size());
}

TEST_F(SaveLoad, GifWithFewColoursIsExactAndKeepsTransparency) {
    Bitmap b = Make(9, 7);
    const Bgra colours[] = {
        {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255}, {17, 34, 51, 255}};
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            b.SetPixel(x, y, colours[(x + 2 * y) % 4]);
    b.SetPixel(4, 4, {200, 200, 200, 10}); // transparent
    Bitmap back = RoundTrip(b, "image/gif", "a.gif", "GIF89a");
    ASSERT_EQ(back.Width(), 9);
    ASSERT_EQ(back.Height(), 7);
    EXPECT_EQ(back.Pixel(4, 4).a, 0);
    back.SetPixel(4, 4, b.Pixel(4, 4));
    EXPECT_TRUE(SamePixels(back, b));
}

TEST_F(SaveLoad, GifReducesManyColoursClosely) {
    Bitmap b = Gradient(96, 80); // thousands of colours
    Bitmap back = RoundTrip(b, "image/gif", "many.gif", "GIF89a");
    ASSERT_EQ(back.Width(), 96);
    double total = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 96; ++x) {
            Bgra p = b.Pixel(x, y), q = back.Pixel(x, y);
            EXPECT_EQ(q.a, 255);
            total += std::abs(p.b - q.b) + std::abs(p.g - q.g) + std::abs(p.r - q.r);
        }
    EXPECT_LT(total / (96 * 80 * 3), 4.0);
    EXPECT_LE(MaxDifference(b, back), 24);
}

TEST_F(SaveLoad, SavingReplacesAtomicallyAndLeavesNoTemporaryFiles) {
    std::string path = Path("poster.png");
    WriteAll(path, "old");
    Bitmap b = Pattern(4, 4, true);
    ASSERT_EQ(SavePicture(b, path, Encoder("image/png")), Error::None);
    Bitmap back;
    ASSERT_EQ(LoadPicture(path, back), Error::None);
    EXPECT_TRUE(SamePixels(back, b));

    // Failures write nothing and leave the old file as it was.
    std::string before = ReadAll(path);
    EncoderId bogus;
    bogus.bytes[3] = 1;
    EXPECT_EQ(SavePicture(b, path, bogus), Error::UnknownEncoder);
    EXPECT_EQ(SavePicture(b, path, EncoderId{}), Error::UnknownEncoder);
    EXPECT_EQ(SavePicture(Bitmap(), path, Encoder("image/png")), Error::InvalidArgument);
    EXPECT_EQ(SavePicture(b, Path("new.bmp"), EncoderId{}), Error::UnknownEncoder);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(SavePicture(b, Path("no/such/folder/x.png"), Encoder("image/png")), Error::NotFound);
    std::filesystem::create_directory(Path("dir.png"));
    EXPECT_EQ(SavePicture(b, Path("dir.png"), Encoder("image/png")), Error::WriteFailed);
    EXPECT_EQ(Files(), (std::vector<std::string>{"dir.png", "poster.png"}));
}

TEST_F(SaveLoad, ReadOnlyFolderIsRefusedWithoutLeftovers) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    std::filesystem::create_directory(Path("ro"));
    chmod(Path("ro").c_str(), 0555);
    EXPECT_EQ(SavePicture(Pattern(2, 2, false), Path("ro/x.png"), Encoder("image/png")),
              Error::AccessDenied);
    chmod(Path("ro").c_str(), 0755);
    EXPECT_TRUE(std::filesystem::is_empty(Path("ro")));
}

TEST_F(SaveLoad, ViewsWithWideRowsAreSavedAsTheirPixels) {
    // A 3x2 window with 5-pixel rows inside a larger buffer.
    std::vector<uint8_t> buffer(5 * 4 * 2, 0xEE);
    BitmapView view{buffer.data() + 4, 3, 2, 20, AlphaMode::Straight};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            view.SetPixel(x, y, {uint8_t(x * 10), uint8_t(y * 10), 7, 255});
    std::string path = Path("w.png");
    ASSERT_EQ(SavePicture(view, path, Encoder("image/png")), Error::None);
    Bitmap back;
    ASSERT_EQ(LoadPicture(path, back), Error::None);
    Bitmap expected;
    ASSERT_EQ(expected.CopyFrom(view), Error::None);
    EXPECT_TRUE(SamePixels(back, expected));
}

} // namespace
} // namespace picture_test
