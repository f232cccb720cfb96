#pragma once
// Shared fixtures of the picture tests: a scratch folder per test, patterned
// pictures, and outside-made files from the ffmpeg command.
#include "picture/picture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace picture_test {

using namespace picture;

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "picture-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    std::filesystem::path m_dir;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs the ffmpeg command quietly; true when it succeeded.
inline bool Ffmpeg(const std::string& args) {
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args;
    return std::system(cmd.c_str()) == 0;
}

inline Bitmap Make(int w, int h, AlphaMode alpha = AlphaMode::Straight) {
    Bitmap b;
    EXPECT_EQ(b.Create(w, h, alpha), Error::None);
    return b;
}

// Every channel varies, alpha included (0 and 255 appear), so byte order and
// alpha handling mistakes show.
inline Bitmap Pattern(int w, int h, bool withAlpha) {
    Bitmap b = Make(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixel(x, y,
                       {static_cast<uint8_t>(x * 37 + y * 11), static_cast<uint8_t>(y * 53 + 7),
                        static_cast<uint8_t>((x ^ y) * 29),
                        static_cast<uint8_t>(withAlpha ? (x * 64 + y * 16) % 256 : 255)});
    if (withAlpha) {
        b.SetPixel(0, 0, {10, 20, 30, 0});
        b.SetPixel(w - 1, h - 1, {40, 50, 60, 255});
    }
    return b;
}

// A smooth picture, kind to lossy encoders.
inline Bitmap Gradient(int w, int h) {
    Bitmap b = Make(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixel(x, y,
                       {static_cast<uint8_t>(x * 255 / (w - 1)),
                        static_cast<uint8_t>(y * 255 / (h - 1)),
                        static_cast<uint8_t>(128 + (x - y) / 4), 255});
    return b;
}

inline ::testing::AssertionResult SamePixels(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return ::testing::AssertionFailure() << "size " << a.Width() << "x" << a.Height() << " vs "
                                             << b.Width() << "x" << b.Height();
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            Bgra p = a.Pixel(x, y), q = b.Pixel(x, y);
            if (!(p == q))
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << ": " << int(p.b) << " " << int(p.g) << " "
                       << int(p.r) << " " << int(p.a) << " vs " << int(q.b) << " " << int(q.g)
                       << " " << int(q.r) << " " << int(q.a);
        }
    return ::testing::AssertionSuccess();
}

// Largest difference over the colour channels (and alpha when asked).
inline int MaxDifference(const Bitmap& a, const Bitmap& b, bool alpha = true) {
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            Bgra p = a.Pixel(x, y), q = b.Pixel(x, y);
            worst = std::max({worst, std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r),
                              alpha ? std::abs(p.a - q.a) : 0});
        }
    return worst;
}

inline EncoderId Encoder(const char* mime) {
    EncoderId id;
    EXPECT_TRUE(FindEncoderByMimeType(mime, id)) << mime;
    return id;
}

} // namespace picture_test
