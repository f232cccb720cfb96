// What reaches the outputs from the kinds of files people really have: the
// frame cadence for every usual rate and container, sound formats the
// encoders or browsers do not take as they are, and the length of a clip.
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "media_check.h"
#include "moving_bar.h"

namespace {

namespace fs = std::filesystem;
using media_check::Quote;

const char* const kOutputs[] = {"video.webm", "video.mp4", "video.ogv"};

std::string Home() {
    return getenv("REELPAGE_TEST_HOME");
}

// Runs reelpage-cli with the three outputs at the source size; the package
// folder, or "" when the run failed.
std::string MakePackage(const std::string& source, const std::vector<std::string>& extra = {},
                        const std::string& formats = "webm,mp4,ogg") {
    const std::string out = Home() + "/packages";
    fs::create_directories(out);
    std::string cmd = Quote(std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli") + " -q -o " +
                      Quote(out) + " --formats " + formats + " --size source";
    for (const std::string& e : extra)
        cmd += " " + e;
    cmd += " " + Quote(source) + " > " + Quote(Home() + "/cli.out") + " 2> " +
           Quote(Home() + "/cli.err");
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << media_check::Capture("cat " + Quote(Home() + "/cli.err"));
    if (rc != 0) return "";
    return out + "/" + fs::path(source).stem().string();
}

// Bar positions of an output, at its own constant rate.
std::vector<int> OutputPositions(const std::string& file) {
    const std::string rate = media_check::ProbeStream(file, "v:0")["r_frame_rate"];
    return moving_bar::Positions(file, file.ends_with(".ogv") ? rate : "");
}

struct CadenceCase {
    const char* name;
    const char* file;
    const char* rate;
    const char* size;
    int frames;         // source frames made
    const char* before; // filters before the bar is drawn ("" = none)
    const char* after;  // and after it
    const char* encode; // encoder and container arguments
    bool kept;          // the output keeps the source's rate
};

void PrintTo(const CadenceCase& c, std::ostream* os) {
    *os << c.name;
}

class Cadence : public ::testing::TestWithParam<CadenceCase> {};

TEST_P(Cadence, EverySourceFrameReachesEveryOutputOnceOrInAnEvenPattern) {
    const CadenceCase& c = GetParam();
    const std::string source = Home() + "/" + c.file;
    std::string chain = std::string("color=black:s=") + c.size + ":r=" + c.rate;
    if (*c.before) chain += std::string(",") + c.before;
    chain += "," + moving_bar::BarFilter();
    if (*c.after) chain += std::string(",") + c.after;
    ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i " + Quote(chain) + " -frames:v " +
                                    std::to_string(c.frames) + " " + c.encode + " " +
                                    Quote(source)));
    const std::vector<int> input = moving_bar::Positions(source);
    ASSERT_TRUE(moving_bar::EachFrameOnce(moving_bar::Steps(input)))
        << "fixture: " << moving_bar::Steps(input);
    const std::string folder = MakePackage(source);
    ASSERT_FALSE(folder.empty());
    for (const char* f : kOutputs) {
        SCOPED_TRACE(f);
        const std::vector<int> output = OutputPositions(folder + "/" + f);
        const std::string steps = moving_bar::Steps(output);
        ASSERT_FALSE(output.empty());
        EXPECT_EQ(output.front(), input.front());
        if (c.kept) {
            EXPECT_EQ(output.size(), input.size()) << steps;
            EXPECT_TRUE(moving_bar::EachFrameOnce(steps)) << steps;
        } else {
            EXPECT_TRUE(moving_bar::EvenPattern(steps)) << steps;
            // Made at about the source's mean rate, not at the finest step
            // between its time stamps.
            EXPECT_LE(output.size(), input.size() * 5 / 4) << steps;
            EXPECT_EQ(output.back(), input.back()) << steps; // the last frame is there too
        }
    }
}

constexpr const char* kX264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";

INSTANTIATE_TEST_SUITE_P(
    Sources, Cadence,
    ::testing::Values(
        CadenceCase{"Mp4At24", "bar24.mp4", "24", "128x72", 36, "", "", kX264, true},
        CadenceCase{"MatroskaAt25", "bar25.mkv", "25", "128x72", 38, "", "", kX264, true},
        // Matroska keeps milliseconds: 33, 67, 100 ms...
        CadenceCase{"MatroskaAtNtsc", "bar2997.mkv", "30000/1001", "128x72", 45, "", "", kX264,
                    true},
        CadenceCase{"MatroskaAt30", "bar30.mkv", "30", "128x72", 45, "", "", kX264, true},
        CadenceCase{"WebmAt50", "bar50.webm", "50", "128x72", 75, "", "",
                    "-c:v libvpx -deadline realtime -cpu-used 8 -b:v 300k", true},
        CadenceCase{"MatroskaAt60", "bar60.mkv", "60", "128x72", 90, "", "", kX264, true},
        // Simple content a source encoder squeezed to 20 kbit/s at 640 x 360:
        // Theora given the same rate freezes.
        CadenceCase{"LowBitRateMp4AtNtsc", "barlow.mp4", "30000/1001", "640x360", 45, "", "",
                    "-c:v libx264 -preset veryfast -b:v 40k -pix_fmt yuv420p", true},
        // Time stamps from 3.5 s on, as cut from a longer recording.
        CadenceCase{"MatroskaStartingLate", "barlate.mkv", "30", "128x72", 45, "", "",
                    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -output_ts_offset 3.5", true},
        // A phone's clip: 1/90000 time stamps a few milliseconds off the
        // nominal times, and half the rate once the light gets low. Its
        // time stamps suggest 80 fps; the outputs are made at about its mean
        // rate.
        CadenceCase{"VariableRatePhoneClip", "barphone.mp4", "30", "128x72", 45,
                    "select='lt(t\\,1)+not(mod(n\\,2))'",
                    "settb=1/90000,setpts='PTS+(mod(N\\,3)-1)*0.004/TB'",
                    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -fps_mode passthrough "
                    "-video_track_timescale 90000",
                    false}),
    [](const ::testing::TestParamInfo<CadenceCase>& info) { return info.param.name; });

struct SoundCase {
    const char* name;
    int rate;
    const char* layout;
};

void PrintTo(const SoundCase& c, std::ostream* os) {
    *os << c.name;
}

class Sound : public ::testing::TestWithParam<SoundCase> {};

// Every output gets sound its codec takes and browsers play, as long as the
// source's; the sample file of the import keeps the source's format.
TEST_P(Sound, EveryOutputCarriesTheWholeSound) {
    const SoundCase& c = GetParam();
    const std::string source = Home() + "/tone.mkv";
    ASSERT_TRUE(media_check::Ffmpeg(
        "-f lavfi -i color=gray:s=128x72:r=25:d=1 -f lavfi -i sine=frequency=440:sample_rate=" +
        std::to_string(c.rate) + ":duration=1 -af aformat=channel_layouts=" + c.layout + " " +
        kX264 + " -c:a pcm_s16le " + Quote(source)));
    const std::string folder = MakePackage(source);
    ASSERT_FALSE(folder.empty());
    const char* codecs[] = {"vorbis", "aac", "flac"};
    for (int i = 0; i < 3; ++i) {
        const std::string file = folder + "/" + kOutputs[i];
        SCOPED_TRACE(kOutputs[i]);
        auto a = media_check::ProbeStream(file, "a:0");
        EXPECT_EQ(a["codec_name"], codecs[i]);
        EXPECT_LE(std::atoi(a["sample_rate"].c_str()), 48000);
        EXPECT_GE(std::atoi(a["sample_rate"].c_str()), std::min(c.rate, 48000));
        EXPECT_LE(std::atoi(a["channels"].c_str()), 2);
        const double seconds = double(media_check::DecodedPcmBytes(file, 48000, 2)) / 192000.0;
        EXPECT_NEAR(seconds, 1.0, 0.04); // one frame at 25 fps
    }
    // The import's sample file is left as the source has it.
    bool found = false;
    for (const auto& e : fs::recursive_directory_iterator(Home())) {
        if (e.path().extension() != ".wav") continue;
        auto w = media_check::ProbeStream(e.path().string(), "a:0");
        EXPECT_EQ(w["sample_rate"], std::to_string(c.rate));
        found = true;
    }
    EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(Sources, Sound,
                         ::testing::Values(SoundCase{"Mono8k", 8000, "mono"},
                                           SoundCase{"Stereo44k", 44100, "stereo"},
                                           SoundCase{"FivePointOne96k", 96000, "5.1"},
                                           SoundCase{"Stereo192k", 192000, "stereo"},
                                           SoundCase{"SevenPointOne48k", 48000, "7.1"}),
                         [](const ::testing::TestParamInfo<SoundCase>& info) {
                             return info.param.name;
                         });

// A clip from 1 s to 2 s is one second of picture and one of sound, from the
// source frame at 1 s on.
TEST(Clip, PictureAndSoundLastFromStartToStop) {
    const std::string source = Home() + "/clip.mp4";
    ASSERT_TRUE(media_check::Ffmpeg(
        "-f lavfi -i " + Quote("color=black:s=128x72:r=25:d=3," + moving_bar::BarFilter()) +
        " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 -ac 2 " + kX264 + " " +
        Quote(source)));
    const std::string folder = MakePackage(source, {"--start", "1", "--stop", "2"});
    ASSERT_FALSE(folder.empty());
    for (const char* f : kOutputs) {
        SCOPED_TRACE(f);
        const std::string file = folder + "/" + f;
        const std::vector<int> positions = OutputPositions(file);
        ASSERT_EQ(positions.size(), 25u) << moving_bar::Steps(positions);
        EXPECT_EQ(positions.front(), 25 % moving_bar::kBarSteps); // source frame 25 at 1 s
        EXPECT_TRUE(moving_bar::EachFrameOnce(moving_bar::Steps(positions)));
        const double seconds = double(media_check::DecodedPcmBytes(file, 48000, 2)) / 192000.0;
        EXPECT_NEAR(seconds, 1.0, 0.04);
    }
}

// The WebM output in AV1 or VP9 with Opus keeps a clip's stretch frame for
// frame, its whole sound, and the watermark where it was put.
void ExpectAClipWithAWatermark(const std::string& webmCodec, const std::string& codecName) {
    const std::string source = Home() + "/" + webmCodec + "clip.mp4";
    ASSERT_TRUE(media_check::Ffmpeg(
        "-f lavfi -i " + Quote("color=black:s=128x72:r=25:d=3," + moving_bar::BarFilter()) +
        " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 2 " + kX264 + " " +
        Quote(source)));
    const std::string mark = Home() + "/red.png";
    ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i color=red:s=32x16:d=1 -frames:v 1 " + Quote(mark)));
    const std::string folder =
        MakePackage(source,
                    {"--webm-codec", webmCodec, "--start", "1", "--stop", "2", "--watermark",
                     Quote(mark), "--watermark-position", "right,bottom"},
                    "webm");
    ASSERT_FALSE(folder.empty());
    const std::string file = folder + "/video.webm";
    EXPECT_EQ(media_check::ProbeStream(file, "v:0")["codec_name"], codecName);
    EXPECT_EQ(media_check::ProbeStream(file, "a:0")["codec_name"], "opus");
    const std::vector<int> positions = OutputPositions(file);
    ASSERT_EQ(positions.size(), 25u) << moving_bar::Steps(positions);
    EXPECT_EQ(positions.front(), 25 % moving_bar::kBarSteps);
    EXPECT_TRUE(moving_bar::EachFrameOnce(moving_bar::Steps(positions)));
    // Opus is 48 kHz whatever the source's rate.
    EXPECT_NEAR(double(media_check::DecodedPcmBytes(file, 48000, 2)) / 192000.0, 1.0, 0.04);

    const std::vector<uint8_t> rgb = media_check::DecodedRgb(file, 3);
    ASSERT_EQ(rgb.size(), 128u * 72 * 3);
    auto pixel = [&](int x, int y) { return &rgb[(size_t(y) * 128 + x) * 3]; };
    const uint8_t* marked = pixel(128 - 16, 72 - 8);
    EXPECT_GT(marked[0], 180);
    EXPECT_LT(marked[1], 80);
    const uint8_t* corner = pixel(4, 4); // top left: black, no bar in frame 3
    EXPECT_LT(corner[0], 60);
}

TEST(Av1, AClipWithAWatermark) {
    ExpectAClipWithAWatermark("av1", "av1");
}

// VP9 at its slower realtime speed must still keep every frame of the clip.
TEST(Vp9, AClipWithAWatermark) {
    ExpectAClipWithAWatermark("vp9", "vp9");
}

// Theora at 4K: every frame there and nothing the decoder complains about.
TEST(Theora, AFourKOutputDecodesCleanly) {
    const std::string source = Home() + "/uhd.mp4";
    ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i testsrc2=s=3840x2160:r=30:d=0.5 " +
                                    std::string(kX264) + " " + Quote(source)));
    const std::string folder = MakePackage(source, {}, "ogg");
    ASSERT_FALSE(folder.empty());
    const std::string file = folder + "/video.ogv";
    auto v = media_check::ProbeStream(file, "v:0");
    EXPECT_EQ(v["width"], "3840");
    EXPECT_EQ(v["height"], "2160");
    EXPECT_EQ(v["nb_read_frames"], "15");
    EXPECT_EQ(
        media_check::Capture("ffmpeg -nostdin -v error -i " + Quote(file) + " -f null - 2>&1"), "");
}

// A detailed picture at a high rate makes Theora frames larger than an Ogg
// page. With sound beside them, the pages of such frames must still come in
// their order: once they did not, the frames around each second of sound
// were torn apart (decoder errors, frames missing).
TEST(Theora, FramesLargerThanAPageStayWholeBesideTheSound) {
    const std::string source = Home() + "/detail.mp4";
    ASSERT_TRUE(media_check::Ffmpeg(
        "-f lavfi -i " + Quote("testsrc2=s=1280x720:r=30:d=1.5,noise=alls=12:allf=t") +
        " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.5 -ac 2 " + kX264 +
        " -c:a aac " + Quote(source)));
    const std::string folder = MakePackage(source, {}, "ogg");
    ASSERT_FALSE(folder.empty());
    const std::string file = folder + "/video.ogv";
    EXPECT_EQ(media_check::ProbeStream(file, "v:0")["nb_read_frames"], "45");
    EXPECT_EQ(
        media_check::Capture("ffmpeg -nostdin -v error -i " + Quote(file) + " -f null - 2>&1"), "");
    const double seconds = double(media_check::DecodedPcmBytes(file, 48000, 2)) / 192000.0;
    EXPECT_NEAR(seconds, 1.5, 0.04);
}

} // namespace
