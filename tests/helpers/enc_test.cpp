// The encoder helper, driven by the test as the engine and the decoder's
// plug-in would drive it; the files it writes are checked with ffprobe.
#include "media_check.h"
#include "stream_producer.h"

#include "reelpage/encoding.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

using namespace stream_test;
using media_check::ProbeStream;

constexpr int W = 160, H = 90;

TEST(Enc, WritesAWebReadyMp4FromYuvSlotsWithSound) {
    media_check::TempFolder dir;
    Producer p(W, H, kPixYuv420, 25, 1, true, 44100, 2);
    const std::string file = dir / "video.mp4";
    p.Start({"mp4", "libx264", "libfaac", file});
    const std::vector<uint8_t> pcm = p.Tone(2.0);
    std::thread audio([&] { p.FeedAudio(pcm); });
    for (int i = 0; i < 50; ++i)
        p.PutFrame([&](uint8_t* s) { FillYuv(s, W, H, uint8_t(16 + i * 4), 128, 128); });
    p.EndVideo();
    audio.join();
    p.WaitAll();

    EXPECT_EQ(p.ExitCode(0), kEncoderOk);
    ASSERT_EQ(p.Messages().size(), 1u);
    EXPECT_EQ(p.Messages()[0].msg, kMsgEncoderDone);
    EXPECT_EQ(p.Messages()[0].wParam, kEncoderOk);
    auto v = ProbeStream(file, "v:0");
    EXPECT_EQ(v["codec_name"], "h264");
    EXPECT_EQ(v["width"], "160");
    EXPECT_EQ(v["height"], "90");
    EXPECT_EQ(v["nb_read_frames"], "50");
    auto a = ProbeStream(file, "a:0");
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["sample_rate"], "44100");
    // The sound decodes to the length that was fed (AAC adds no more than a
    // frame of 1024 samples at the end).
    const size_t decoded = media_check::DecodedPcmBytes(file, 44100, 2);
    EXPECT_GE(decoded, pcm.size() - 4);
    EXPECT_LE(decoded, pcm.size() + 1024 * 4);
    // Index first: a browser can start playing before the whole file is there.
    auto boxes = media_check::TopLevelBoxes(file);
    auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov, mdat);
    // The luma ramp arrives in order: frame 40 is brighter than frame 5.
    auto f5 = media_check::DecodedRgb(file, 5), f40 = media_check::DecodedRgb(file, 40);
    ASSERT_EQ(f5.size(), size_t(W * H * 3));
    ASSERT_EQ(f40.size(), size_t(W * H * 3));
    EXPECT_NEAR(f5[0], (16 + 20 - 16) * 255 / 219, 6);
    EXPECT_NEAR(f40[0], (16 + 160 - 16) * 255 / 219, 6);
}

// Six loud channels folded into two must not add up past full scale: the
// float encoders (AAC, Vorbis) would otherwise keep peaks of 2.4 times the
// source's, which every player clips, while the 16-bit FLAC path was scaled.
TEST(Enc, SurroundFoldedToStereoStaysWithinFullScale) {
    constexpr int kRate = 96000, kChannels = 6;
    const struct {
        const char* container;
        const char* video;
        const char* audio;
    } cases[] = {{"mp4", "libx264", "libfaac"},
                 {"webm", "libvpx", "libvorbis"},
                 {"ogg", "libtheora", "flac"}};
    // A 440 Hz sine at three quarters of full scale in every channel.
    std::vector<uint8_t> pcm(size_t(kRate) * kChannels * 2);
    auto* s = reinterpret_cast<int16_t*>(pcm.data());
    for (int i = 0; i < kRate; ++i)
        for (int c = 0; c < kChannels; ++c)
            s[i * kChannels + c] = int16_t(24576 * std::sin(2 * M_PI * 440 * i / kRate));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.container);
        media_check::TempFolder dir;
        Producer p(W, H, kPixYuv420, 25, 1, true, kRate, kChannels);
        const std::string file = dir / (std::string("video.") + c.container);
        p.Start({c.container, c.video, c.audio, file});
        std::thread audio([&] { p.FeedAudio(pcm); });
        for (int i = 0; i < 25; ++i)
            p.PutFrame([&](uint8_t* slot) { FillYuv(slot, W, H, 100, 128, 128); });
        p.EndVideo();
        audio.join();
        p.WaitAll();
        ASSERT_EQ(p.ExitCode(0), kEncoderOk);
        EXPECT_EQ(ProbeStream(file, "a:0")["channels"], "2");
        const std::string decoded = media_check::Capture(
            "ffmpeg -nostdin -v error -i " + media_check::Quote(file) + " -map 0:a:0 -f f32le -");
        ASSERT_GE(decoded.size(), size_t(48000 / 2) * 2 * 4);
        float peak = 0;
        for (size_t at = 0; at + 4 <= decoded.size(); at += 4) {
            float v;
            std::memcpy(&v, decoded.data() + at, 4);
            peak = std::max(peak, std::fabs(v));
        }
        // Lossy coding may overshoot a little; a sum of the channels is far past it.
        EXPECT_LT(peak, 1.0f);
        EXPECT_GT(peak, 0.3f);
    }
}

// Encoder 1 reads encoder 0's slots and ring; repeats and slots the producer
// filled but never announced (a frame between two output times) are handled
// in the one sequence the producer used. More than 16 unannounced slots in a
// row would stall the producer if they were not given back.
TEST(Enc, TwoEncodersShareOneQueueWithRepeatsAndUnannouncedSlots) {
    media_check::TempFolder dir;
    Producer p(W, H, kPixBgra, 30, 1, true, 48000, 1);
    const std::string webm = dir / "video.webm", ogv = dir / "video.ogv";
    p.Start({"webm", "libvpx", "libvorbis", webm});
    p.Start({"ogg", "libtheora", "flac", ogv});
    const std::vector<uint8_t> pcm = p.Tone(1.5);
    std::thread audio([&] { p.FeedAudio(pcm); });
    struct Step {
        uint8_t b, g, r;
        int announce;
    };
    std::vector<Step> steps;
    steps.push_back({0, 0, 255, 10}); // red for output frames 0..9
    for (int i = 0; i < 20; ++i)
        steps.push_back({255, 255, 255, 0}); // never shown
    steps.push_back({0, 255, 0, 5});         // green for 10..14
    steps.push_back({255, 0, 0, 30});        // blue for 15..44 (a one-second gap)
    steps.push_back({0, 0, 255, 1});         // red again for 45
    int total = 0;
    for (const Step& s : steps) {
        p.PutFrame([&](uint8_t* slot) { FillBgra(slot, W, H, s.b, s.g, s.r); }, s.announce);
        total += s.announce;
    }
    p.EndVideo();
    audio.join();
    p.WaitAll();

    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(p.ExitCode(k), kEncoderOk) << k;
    ASSERT_EQ(p.Messages().size(), 2u);
    for (const Message& m : p.Messages())
        EXPECT_EQ(m.wParam, kEncoderOk);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(p.VideoHeader(k)->m_cSlotsInUse, 0) << k;
        EXPECT_EQ(p.VideoHeader(k)->m_cFramesAnnounced, total) << k;
    }
    auto v = ProbeStream(webm, "v:0");
    EXPECT_EQ(v["codec_name"], "vp8");
    EXPECT_EQ(v["nb_read_frames"], std::to_string(total));
    EXPECT_EQ(ProbeStream(webm, "a:0")["codec_name"], "vorbis");
    auto o = ProbeStream(ogv, "v:0");
    EXPECT_EQ(o["codec_name"], "theora");
    // Theora codes a repeat as an empty packet that is not stored, so its
    // frames are counted by time: the last one ends at the 46th output frame.
    EXPECT_NEAR(std::stod(o["duration"]), total / 30.0, 0.001);
    auto fa = ProbeStream(ogv, "a:0");
    EXPECT_EQ(fa["codec_name"], "flac");
    EXPECT_EQ(fa["sample_fmt"], "s16");
    for (const std::string& file : {webm, ogv}) {
        EXPECT_NEAR(double(media_check::DecodedPcmBytes(file, 48000, 1)), double(pcm.size()),
                    2048.0)
            << file;
        // Output frame -> colour it must show (no white: those were never announced).
        for (auto [n, channel] :
             {std::pair{0, 0}, {9, 0}, {10, 1}, {14, 1}, {15, 2}, {44, 2}, {45, 0}}) {
            auto rgb = media_check::DecodedRgb(file, n, "30");
            ASSERT_EQ(rgb.size(), size_t(W * H * 3)) << file << " frame " << n;
            const size_t centre = (size_t(H / 2) * W + W / 2) * 3;
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(rgb[centre + c] > 128, c == channel)
                    << file << " frame " << n << " channel " << c << " = " << int(rgb[centre + c]);
        }
    }
}

TEST(Enc, SourceWithoutSoundGivesAVideoOnlyFile) {
    media_check::TempFolder dir;
    Producer p(W, H, kPixYuv420, 24000, 1001);
    const std::string file = dir / "video.mp4";
    p.Start({"mp4", "libx264", "", file});
    for (int i = 0; i < 12; ++i)
        p.PutFrame([&](uint8_t* s) { FillYuv(s, W, H, 100, 128, 128); });
    p.EndVideo();
    p.WaitAll();
    EXPECT_EQ(p.ExitCode(0), kEncoderOk);
    EXPECT_EQ(ProbeStream(file, "v:0")["nb_read_frames"], "12");
    EXPECT_EQ(ProbeStream(file, "v:0")["r_frame_rate"], "24000/1001");
    EXPECT_TRUE(ProbeStream(file, "a:0").empty());
}

// Theora at a size that is no multiple of 16, ending on a still picture, both
// as new slots holding the same picture and as repeats of one slot. A picture
// equal to the one before is an empty packet, and the Ogg muxer drops empty
// packets at the end of a stream: the clip must still end at its last frame.
TEST(Enc, TheoraClipKeepsEveryFrameToAStillEnd) {
    constexpr int kW = 150, kH = 86, kFrames = 40;
    media_check::TempFolder dir;
    Producer p(kW, kH, kPixYuv420, 30, 1);
    const std::string file = dir / "video.ogv";
    p.Start({"ogg", "libtheora", "", file});
    auto luma = [](int i) { return 40 + 6 * std::min(i, 24); };
    for (int i = 0; i < 35; ++i)
        p.PutFrame([&](uint8_t* s) { FillYuv(s, kW, kH, uint8_t(luma(i)), 128, 128); });
    p.PutFrame([&](uint8_t* s) { FillYuv(s, kW, kH, uint8_t(luma(35)), 128, 128); }, 5);
    p.EndVideo();
    p.WaitAll();

    EXPECT_EQ(p.ExitCode(0), 0);
    ASSERT_EQ(p.Messages().size(), 1u);
    EXPECT_EQ(p.Messages()[0].wParam, 0);
    auto v = ProbeStream(file, "v:0");
    EXPECT_EQ(v["codec_name"], "theora");
    EXPECT_EQ(v["width"], "150"); // the picture region, not the coded 160 x 96
    EXPECT_EQ(v["height"], "86");
    EXPECT_NEAR(std::stod(v["duration"]), kFrames / 30.0, 0.001);
    EXPECT_EQ(media_check::Capture("ffmpeg -nostdin -v error -i " + media_check::Quote(file) +
                                   " -f null - 2>&1"),
              "");
    // Every output frame, in order, from the first at time zero to the last.
    const std::string yuv =
        media_check::Capture("ffmpeg -nostdin -v error -i " + media_check::Quote(file) +
                             " -vf fps=30 -f rawvideo -pix_fmt yuv420p -");
    const size_t frameBytes = size_t(kW) * kH * 3 / 2;
    ASSERT_EQ(yuv.size(), frameBytes * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const auto centre = uint8_t(yuv[frameBytes * i + size_t(kH / 2) * kW + kW / 2]);
        EXPECT_NEAR(centre, luma(i), 4) << "frame " << i;
    }
}

// Whatever goes wrong, the message says so and no file is left that could be
// taken for a finished one.
TEST(Enc, FailuresAreReportedAndLeaveNoFile) {
    media_check::TempFolder dir;
    struct Case {
        const char* name;
        std::function<void(EncoderTask&)> spoil;
        bool frames;
        const char* container = "webm";
        const char* codec = "libvpx";
        int width = W, height = H;
    } cases[] = {
        {"unknown codec", [](EncoderTask& t) { platform::WStrCopy(t.m_szVideoCodec, u"libnope"); },
         false},
        {"unknown container", [](EncoderTask& t) { platform::WStrCopy(t.m_szFormat, u"avi"); },
         false},
        {"no pictures at all", nullptr, false},
        {"bad video block", [](EncoderTask& t) { t.m_hVideoStream = 999; }, false},
        // Wider than Theora's 20-bit frame width: libtheora refuses to start.
        {"Theora cannot start", nullptr, false, "ogg", "libtheora", 1 << 20, 2},
        // SVT-AV1 takes nothing below 64 x 64.
        {"AV1 too small", nullptr, true, "webm", "libsvtav1", 64, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir / (std::string("video.") + c.container);
        Producer p(c.width, c.height, kPixYuv420, 25, 1);
        p.Start({c.container, c.codec, "", file}, c.spoil);
        p.EndVideo();
        p.WaitAll();
        EXPECT_EQ(p.ExitCode(0), kEncoderFailed);
        ASSERT_EQ(p.Messages().size(), 1u);
        EXPECT_NE(p.Messages()[0].wParam, kEncoderOk);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}

TEST(Enc, UnwritableOutputFolderFails) {
    Producer p(W, H, kPixYuv420, 25, 1);
    p.Start({"webm", "libvpx", "", "/nonexistent-folder/video.webm"});
    p.WaitAll();
    EXPECT_EQ(p.ExitCode(0), kEncoderFailed);
    ASSERT_EQ(p.Messages().size(), 1u);
    EXPECT_NE(p.Messages()[0].wParam, kEncoderOk);
}

} // namespace

namespace {

// An encoder that cannot map its task block has nobody to tell: its exit
// code must not be one the engine takes for "reported", or the job would
// wait for a message that never comes.
TEST(Enc, EndingWithoutAReportSaysSoInItsExitCode) {
    const std::string enc = std::string(REELPAGE_PROGRAM_DIR) + "/enc";
    for (const std::string args : {"", " 999", " x"}) {
        SCOPED_TRACE(args);
        int process = -1;
        ASSERT_EQ(platform::LaunchHelper(enc + args, REELPAGE_PROGRAM_DIR, &process), 0);
        platform::WaitForHandle(process, 10000);
        int code = -1;
        platform::GetHelperExitCode(process, &code);
        platform::CloseHelperHandle(process);
        EXPECT_EQ(code, reelpage::kEncoderUnreported);
    }
}

} // namespace
