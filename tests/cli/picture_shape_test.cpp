// The shape and the poster of a package: pictures with non-square pixels come
// out in their true shape, every picture of a package has the source's size
// with no edge it does not fill, turns and flips apply in the order given,
// the poster is the first picture of the outputs, and "original" never
// exceeds the largest output size.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "media_check.h"

namespace {

namespace fs = std::filesystem;
using media_check::Capture;
using media_check::Ffmpeg;
using media_check::Quote;

struct Size {
    int width = 0, height = 0;
};

Size SizeOf(const std::string& path) {
    Size s;
    const std::string out = Capture("ffprobe -v error -select_streams v:0 -show_entries "
                                    "stream=width,height -of csv=p=0 " +
                                    Quote(path));
    std::sscanf(out.c_str(), "%d,%d", &s.width, &s.height);
    return s;
}

// Width and height of what is dark in the first picture (the drawn circle).
Size DarkExtent(const std::string& path, Size size) {
    const std::vector<uint8_t> rgb = media_check::DecodedRgb(path, 0);
    int left = size.width, right = -1, top = size.height, bottom = -1;
    if (rgb.size() != size_t(size.width) * size.height * 3) return {};
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            if (rgb[(size_t(y) * size.width + x) * 3 + 1] >= 128) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    return right < 0 ? Size{} : Size{right - left + 1, bottom - top + 1};
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.empty() || a.size() != b.size()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class PictureShape : public ::testing::Test {
protected:
    void SetUp() override { m_home = getenv("REELPAGE_TEST_HOME"); }

    // Runs reelpage-cli quietly into a fresh folder; the package folder.
    std::string Package(const std::string& source, const std::vector<std::string>& options) {
        std::string out = m_home + "/out-XXXXXX";
        if (!mkdtemp(out.data())) ADD_FAILURE() << "no folder for the package";
        std::string cmd = Quote(std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli") + " -q -o " +
                          Quote(out);
        for (const auto& o : options)
            cmd += " " + Quote(o);
        cmd += " " + Quote(source) + " > " + Quote(out + ".log") + " 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << Capture("cat " + Quote(out + ".log"));
        for (const auto& entry : fs::directory_iterator(out))
            if (entry.is_directory()) return entry.path().string();
        return out + "/missing";
    }

    std::string m_home;
};

TEST_F(PictureShape, NonSquarePixelsComeOutSquareInEveryOutputAndThePoster) {
    // An anamorphic 16:9 PAL picture: a circle drawn at 1024x576, stored
    // squeezed to 720x576 with pixels 64:45 wide.
    const std::string source = m_home + "/anamorphic.mp4";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i color=c=white:s=1024x576:r=25:d=1,format=gray,"
                       "geq=lum='if(lt(hypot(X-512\\,Y-288)\\,200)\\,0\\,255)',format=yuv420p,"
                       "scale=720:576,setsar=64/45 -c:v libx264 -preset ultrafast " +
                       Quote(source)));
    ASSERT_EQ(SizeOf(source).width, 720);
    const std::string package = Package(source, {"--size", "original"});
    for (const char* name : {"video.webm", "video.mp4", "video.ogv", "poster.png"}) {
        SCOPED_TRACE(name);
        const std::string file = package + "/" + name;
        const Size size = SizeOf(file);
        EXPECT_EQ(size.width, 1024);
        EXPECT_EQ(size.height, 576);
        const Size circle = DarkExtent(file, size);
        EXPECT_NEAR(circle.width, 400, 6);
        EXPECT_NEAR(circle.height, 400, 6);
    }
}

// The darkest of the four edge lines of the first picture, as the mean of
// its red, green and blue: a black line an encoder's padding or a fit left
// behind is near 0 there.
double DarkestEdge(const std::string& path, Size size) {
    const std::vector<uint8_t> rgb = media_check::DecodedRgb(path, 0);
    if (size.width <= 0 || rgb.size() != size_t(size.width) * size.height * 3) return -1;
    auto mean = [&](int x0, int y0, int dx, int dy, int n) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            const size_t at = (size_t(y0 + i * dy) * size.width + size_t(x0 + i * dx)) * 3;
            sum += rgb[at] + rgb[at + 1] + rgb[at + 2];
        }
        return sum / (3.0 * n);
    };
    return std::min({mean(0, 0, 1, 0, size.width), mean(0, size.height - 1, 1, 0, size.width),
                     mean(0, 0, 0, 1, size.height), mean(size.width - 1, 0, 0, 1, size.height)});
}

TEST_F(PictureShape, WithTheDefaultsEveryPictureHasTheSourcesShownSize) {
    const struct {
        const char* size;
        const char* sar; // pixel shape of the stored picture
        Size shown;
    } cases[] = {
        {"640x360", "1", {640, 360}},   {"1280x720", "1", {1280, 720}},
        {"1920x1080", "1", {1920, 1080}}, {"1080x1920", "1", {1080, 1920}},
        {"854x480", "1", {854, 480}},
        // 4:2:0 video has even sides: an odd one gives up its last pixel,
        // in the videos, the poster and the page alike.
        {"641x361", "1", {640, 360}},
        // PAL 4:3, pixels 16:15 wide.
        {"720x576", "16/15", {768, 576}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " sar " + c.sar);
        const std::string source = m_home + "/grey" + c.size + ".mkv";
        // A light grey picture: every edge line of a picture made from it is
        // light unless something the source does not have was added.
        // 4:4:4, which keeps an odd side whole.
        ASSERT_TRUE(Ffmpeg(std::string("-f lavfi -i color=c=0xC0C0C0:s=") + c.size +
                           ":r=10:d=0.3,format=yuv444p,setsar=" + c.sar +
                           " -c:v libx264 -preset ultrafast " + Quote(source)));
        ASSERT_EQ(SizeOf(source).width, std::atoi(c.size));
        const std::string package = Package(source, {});
        for (const char* name : {"video.webm", "video.mp4", "video.ogv", "poster.png"}) {
            SCOPED_TRACE(name);
            const std::string file = package + "/" + name;
            const Size size = SizeOf(file);
            EXPECT_EQ(size.width, c.shown.width);
            EXPECT_EQ(size.height, c.shown.height);
            EXPECT_GT(DarkestEdge(file, size), 150.0);
        }
        std::ifstream in(package + "/index.html");
        const std::string page((std::istreambuf_iterator<char>(in)), {});
        const std::string player = "width=\"" + std::to_string(c.shown.width) + "\" height=\"" +
                                   std::to_string(c.shown.height) + "\"";
        EXPECT_NE(page.find(player), std::string::npos) << player;
        EXPECT_NE(page.find("\"width\":" + std::to_string(c.shown.width) +
                            ", \"height\":" + std::to_string(c.shown.height)),
                  std::string::npos);
    }
}

// Every sequence of turns and flips gives the picture of doing them one after
// another, as ffmpeg's own filters do.
TEST_F(PictureShape, TurnsAndFlipsApplyInTheOrderGiven) {
    const std::string source = m_home + "/turns.mp4";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=s=160x90:r=10:d=0.3 -c:v libx264 -preset ultrafast "
                       "-pix_fmt yuv420p " +
                       Quote(source)));
    const struct {
        std::vector<std::string> options;
        const char* filters; // transpose=1 turns right, transpose=2 left
    } cases[] = {
        {{"--flip", "horizontal", "--rotate", "right"}, "hflip,transpose=1"},
        {{"--rotate", "right", "--flip", "horizontal"}, "transpose=1,hflip"},
        {{"--flip", "vertical", "--rotate", "left"}, "vflip,transpose=2"},
        {{"--rotate", "left", "--flip", "vertical", "--rotate", "left"},
         "transpose=2,vflip,transpose=2"},
        {{"--flip", "vertical", "--rotate", "right", "--rotate", "right"},
         "vflip,transpose=1,transpose=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filters);
        std::vector<std::string> options = {"--formats", "mp4"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const std::string package = Package(source, options);
        const std::string reference = package + "/reference.png";
        ASSERT_TRUE(Ffmpeg("-i " + Quote(source) + " -vf " + c.filters + " -frames:v 1 " +
                           Quote(reference)));
        const double psnr = Psnr(media_check::DecodedRgb(reference, 0),
                                 media_check::DecodedRgb(package + "/video.mp4", 0));
        // Encoding loss only: about 29 dB; the picture turned the other way
        // gives about 6.
        EXPECT_GT(psnr, 22.0);
    }
}

TEST_F(PictureShape, PosterIsTheFirstPictureOfTheVideo) {
    const std::string source = m_home + "/pattern.mp4";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=s=320x240:r=25:d=1 -c:v libx264 -preset ultrafast "
                       "-pix_fmt yuv420p " +
                       Quote(source)));
    const std::vector<std::vector<std::string>> cases = {
        {"--rotate", "left"},
        {"--flip", "horizontal", "--crop", "40,30,200,120"},
        {"--size", "320x180", "--resize", "center"},
        {"--size", "320x180", "--resize", "letterbox"},
        {"--size", "320x180", "--resize", "crop", "--brightness", "30"},
    };
    for (const auto& options : cases) {
        std::string label;
        for (const auto& o : options)
            label += o + " ";
        SCOPED_TRACE(label);
        std::vector<std::string> all = {"--formats", "mp4"};
        all.insert(all.end(), options.begin(), options.end());
        const std::string package = Package(source, all);
        const Size video = SizeOf(package + "/video.mp4");
        const Size poster = SizeOf(package + "/poster.png");
        EXPECT_EQ(poster.width, video.width);
        EXPECT_EQ(poster.height, video.height);
        const double psnr = Psnr(media_check::DecodedRgb(package + "/poster.png", 0),
                                 media_check::DecodedRgb(package + "/video.mp4", 0));
        // Encoding loss only: today's outputs give 26 to 34 dB here, a poster
        // made from the thumbnail stretched to the output size 2 to 15 dB.
        EXPECT_GT(psnr, 24.0);
    }
}

TEST_F(PictureShape, OriginalSizeOfAHugeSourceIsBoundedWithItsAspect) {
    const std::string source = m_home + "/wide.mp4";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=s=6000x1500:r=25:d=0.2 -c:v libx264 -preset "
                       "ultrafast -pix_fmt yuv420p " +
                       Quote(source)));
    const std::string package = Package(source, {"--formats", "mp4", "--size", "original"});
    for (const char* name : {"video.mp4", "poster.png"}) {
        SCOPED_TRACE(name);
        const Size size = SizeOf(package + "/" + name);
        EXPECT_EQ(size.width, 4096);
        EXPECT_EQ(size.height, 1024);
    }
}

} // namespace
