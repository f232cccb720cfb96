#include "picture_fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

namespace picture_test {
namespace {

class Load : public ScratchFolder {
protected:
    std::string SavedPng(const Bitmap& b, const char* name) {
        std::string path = Path(name);
        EXPECT_EQ(SavePicture(b, path, Encoder("image/png")), Error::None);
        return path;
    }
    Error LoadFile(const std::string& path) {
        Bitmap out;
        Error e = LoadPicture(path, out);
        EXPECT_EQ(out.Empty(), e != Error::None) << path;
        return e;
    }
};

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutBe32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

void PutLe32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

TEST_F(Load, OutsideMadeFilesOfEveryFormat) {
    // The source picture as raw RGBA, then converted by the ffmpeg command
    // into each format (and from PNG into an icon).
    Bitmap b = Pattern(16, 16, true);
    std::string png = SavedPng(b, "src.png");
    Bitmap opaque = Pattern(16, 16, false);
    std::string opaquePng = SavedPng(opaque, "opaque.png");

    ASSERT_TRUE(Ffmpeg("-i " + png + " -c:v png " + Path("png.ico")));
    ASSERT_TRUE(Ffmpeg("-i " + png + " -c:v bmp -pix_fmt bgra " + Path("bmp.ico")));
    ASSERT_TRUE(Ffmpeg("-i " + png + " -pix_fmt rgba " + Path("ff.tif")));
    ASSERT_TRUE(Ffmpeg("-i " + opaquePng + " -pix_fmt bgr24 " + Path("ff.bmp")));
    ASSERT_TRUE(Ffmpeg("-i " + opaquePng + " -q:v 2 -pix_fmt yuvj420p " + Path("ff.jpg")));

    for (const char* exact : {"png.ico", "bmp.ico", "ff.tif"}) {
        Bitmap back;
        ASSERT_EQ(LoadPicture(Path(exact), back), Error::None) << exact;
        EXPECT_TRUE(SamePixels(back, b)) << exact;
    }
    Bitmap bmp;
    ASSERT_EQ(LoadPicture(Path("ff.bmp"), bmp), Error::None);
    EXPECT_TRUE(SamePixels(bmp, opaque));

    Bitmap smooth = Gradient(32, 32);
    std::string smoothPng = SavedPng(smooth, "smooth.png");
    ASSERT_TRUE(Ffmpeg("-i " + smoothPng + " -q:v 2 -pix_fmt yuvj420p " + Path("smooth.jpg")));
    Bitmap jpeg;
    ASSERT_EQ(LoadPicture(Path("smooth.jpg"), jpeg), Error::None);
    EXPECT_LE(MaxDifference(jpeg, smooth), 8); // full range: no washed-out levels
}

TEST_F(Load, GreyAndDeepPicturesKeepTheirLevels) {
    std::string grey;
    for (int i = 0; i < 8; ++i)
        grey.push_back(static_cast<char>(i * 36));
    WriteAll(Path("grey.raw"), grey);
    ASSERT_TRUE(
        Ffmpeg("-f rawvideo -pix_fmt gray -s 8x1 -i " + Path("grey.raw") + " " + Path("grey.png")));
    Bitmap g;
    ASSERT_EQ(LoadPicture(Path("grey.png"), g), Error::None);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(g.Pixel(x, 0), (Bgra{uint8_t(x * 36), uint8_t(x * 36), uint8_t(x * 36), 255}));

    // 16 bits per channel with alpha: v * 257 must come back as v.
    std::string grey16;
    for (int x = 0; x < 4; ++x) {
        uint16_t v = static_cast<uint16_t>(x * 70 * 257 + (x == 3 ? 129 : 0));
        grey16.push_back(static_cast<char>(v >> 8));
        grey16.push_back(static_cast<char>(v & 0xFF));
    }
    WriteAll(Path("grey16.raw"), grey16);
    ASSERT_TRUE(Ffmpeg("-f rawvideo -pix_fmt gray16be -s 4x1 -i " + Path("grey16.raw") + " " +
                       Path("grey16.png")));
    ASSERT_EQ(LoadPicture(Path("grey16.png"), g), Error::None);
    for (int x = 0; x < 4; ++x) {
        uint8_t v = static_cast<uint8_t>(x * 70 + (x == 3 ? 1 : 0)); // 210.502 rounds up
        EXPECT_EQ(g.Pixel(x, 0), (Bgra{v, v, v, 255})) << x;
    }

    std::string deep;
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 4; ++c) {
            uint16_t v = static_cast<uint16_t>((x * 60 + c * 15) * 257);
            deep.push_back(static_cast<char>(v & 0xFF));
            deep.push_back(static_cast<char>(v >> 8));
        }
    WriteAll(Path("deep.raw"), deep);
    ASSERT_TRUE(Ffmpeg("-f rawvideo -pix_fmt rgba64le -s 4x1 -i " + Path("deep.raw") +
                       " -pix_fmt rgba64be " + Path("deep.png")));
    Bitmap d;
    ASSERT_EQ(LoadPicture(Path("deep.png"), d), Error::None);
    for (int x = 0; x < 4; ++x) {
        auto v = [&](int c) { return static_cast<uint8_t>(x * 60 + c * 15); };
        EXPECT_EQ(d.Pixel(x, 0), (Bgra{v(2), v(1), v(0), v(3)})) << x;
    }
}

TEST_F(Load, GifGivesItsFirstFrame) {
    ASSERT_TRUE(Ffmpeg("-f lavfi -i color=c=red:s=8x8:r=2:d=1 -f lavfi -i "
                       "color=c=blue:s=8x8:r=2:d=1 -filter_complex [0][1]concat=n=2 " +
                       Path("anim.gif")));
    Bitmap b;
    ASSERT_EQ(LoadPicture(Path("anim.gif"), b), Error::None);
    ASSERT_EQ(b.Width(), 8);
    Bgra p = b.Pixel(3, 3);
    EXPECT_GT(p.r, 200);
    EXPECT_LT(p.b, 50);
    EXPECT_EQ(p.a, 255);
}

TEST_F(Load, IconGivesItsLargestImage) {
    // An icon directory with a 4x4 and an 8x8 PNG entry, smaller first.
    Bitmap small = Make(4, 4), large = Make(8, 8);
    small.View().Fill({0, 0, 255, 255});
    large.View().Fill({255, 0, 0, 255});
    std::string a, b;
    ASSERT_EQ(EncodePicture(small, Encoder("image/png"), a), Error::None);
    ASSERT_EQ(EncodePicture(large, Encoder("image/png"), b), Error::None);
    std::string ico("\0\0\1\0\2\0", 6);
    auto entry = [&](int side, const std::string& data, uint32_t offset) {
        std::string e(16, '\0');
        e[0] = e[1] = static_cast<char>(side);
        e[4] = 1;
        e[6] = 32;
        PutLe32(e, 8, static_cast<uint32_t>(data.size()));
        PutLe32(e, 12, offset);
        return e;
    };
    ico += entry(4, a, 6 + 32);
    ico += entry(8, b, 6 + 32 + static_cast<uint32_t>(a.size()));
    ico += a + b;
    WriteAll(Path("two.ico"), ico);
    Bitmap out;
    ASSERT_EQ(LoadPicture(Path("two.ico"), out), Error::None);
    EXPECT_TRUE(SamePixels(out, large));
}

TEST_F(Load, MemoryAndFileLoadAgree) {
    Bitmap b = Pattern(6, 5, true);
    std::string bytes;
    ASSERT_EQ(EncodePicture(b, Encoder("image/tiff"), bytes), Error::None);
    Bitmap out;
    ASSERT_EQ(LoadPictureFromMemory(bytes.data(), bytes.size(), out), Error::None);
    EXPECT_TRUE(SamePixels(out, b));
    EXPECT_EQ(LoadPictureFromMemory(nullptr, 0, out), Error::NotAPicture);
    EXPECT_TRUE(out.Empty());
}

TEST_F(Load, MissingUnreadableAndNonPictureFiles) {
    EXPECT_EQ(LoadFile(Path("absent.png")), Error::NotFound);
    EXPECT_EQ(LoadFile(Path("absent/dir/x.png")), Error::NotFound);
    EXPECT_EQ(LoadFile(""), Error::NotFound);
    EXPECT_EQ(LoadFile(m_dir.string()), Error::NotAPicture);
    WriteAll(Path("empty.png"), "");
    EXPECT_EQ(LoadFile(Path("empty.png")), Error::NotAPicture);
    WriteAll(Path("text.png"), "This is plain text and no picture at all.\n");
    EXPECT_EQ(LoadFile(Path("text.png")), Error::NotAPicture);
    // A FIFO must neither hang nor be read.
    ASSERT_EQ(mkfifo(Path("fifo.png").c_str(), 0600), 0);
    EXPECT_EQ(LoadFile(Path("fifo.png")), Error::NotAPicture);
    // A video is no picture, even though it is made of pictures.
    ASSERT_TRUE(Ffmpeg("-f lavfi -i color=c=red:s=16x16:r=5:d=1 -c:v mpeg4 " + Path("v.avi")));
    EXPECT_EQ(LoadFile(Path("v.avi")), Error::NotAPicture);

    if (geteuid() != 0) {
        SavedPng(Pattern(2, 2, false), "locked.png");
        chmod(Path("locked.png").c_str(), 0);
        EXPECT_EQ(LoadFile(Path("locked.png")), Error::AccessDenied);
    }
}

TEST_F(Load, ListsThatNameOtherFilesAreNotFollowed) {
    // A concatenation list or playlist would make a container demuxer open
    // the files it names; the loader must not read through them.
    std::string target = SavedPng(Pattern(4, 4, false), "real.png");
    WriteAll(Path("list.png"), "ffconcat version 1.0\nfile '" + target + "'\n");
    EXPECT_EQ(LoadFile(Path("list.png")), Error::NotAPicture);
    WriteAll(Path("list.m3u8"),
             "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + target + "\n#EXT-X-ENDLIST\n");
    EXPECT_EQ(LoadFile(Path("list.m3u8")), Error::NotAPicture);
}

TEST_F(Load, TruncatedFilesAreCorrupt) {
    Bitmap b = Gradient(40, 30);
    for (const char* mime : {"image/png", "image/jpeg", "image/gif", "image/bmp", "image/tiff"}) {
        std::string bytes;
        ASSERT_EQ(EncodePicture(b, Encoder(mime), bytes), Error::None);
        // Early cuts hit headers, late ones the picture data (a JPEG decoder
        // would conceal a cut-off scan as grey).
        for (size_t cut : {bytes.size() / 4, bytes.size() / 2, bytes.size() * 9 / 10}) {
            std::string path = Path("cut");
            WriteAll(path, bytes.substr(0, cut));
            EXPECT_EQ(LoadFile(path), Error::Corrupt) << mime << " cut at " << cut;
        }
    }
}

TEST_F(Load, AbsurdDimensionsAreRefusedBeforeAllocating) {
    std::string png;
    ASSERT_EQ(EncodePicture(Pattern(2, 2, false), Encoder("image/png"), png), Error::None);
    // IHDR: length at 8, type at 12, width at 16, height at 20, CRC at 29.
    PutBe32(png, 16, 100000);
    PutBe32(png, 20, 100000);
    PutBe32(png, 29, Crc32(png.substr(12, 17)));
    WriteAll(Path("huge.png"), png);
    EXPECT_EQ(LoadFile(Path("huge.png")), Error::TooLarge);

    std::string bmp;
    ASSERT_EQ(EncodePicture(Pattern(2, 2, false), Encoder("image/bmp"), bmp), Error::None);
    PutLe32(bmp, 18, 30000); // 30000 x 30000 is within each side but not in area
    PutLe32(bmp, 22, 30000);
    WriteAll(Path("huge.bmp"), bmp);
    EXPECT_EQ(LoadFile(Path("huge.bmp")), Error::TooLarge);

    std::string jpeg;
    ASSERT_EQ(EncodePicture(Pattern(2, 2, false), Encoder("image/jpeg"), jpeg), Error::None);
    size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = jpeg[sof + 6] = jpeg[sof + 7] = jpeg[sof + 8] = '\xFF'; // 65535 x 65535
    WriteAll(Path("huge.jpg"), jpeg);
    EXPECT_EQ(LoadFile(Path("huge.jpg")), Error::TooLarge);
}

} // namespace
} // namespace picture_test
