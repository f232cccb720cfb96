// The decoder helper as plug-ins see it: the order of the calls, the frames
// and their times, seeking, the end of the stream, and how it fails.
#include "dec_runner.h"
#include "media_fixtures.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/wait.h"

using namespace dec_test;
using namespace testing_media;

namespace {

// Every delivered frame shows the picture of the time it is delivered with,
// counted from the time of the stream's first frame (origin).
void ExpectFramesMatchTimes(const std::vector<Frame>& frames, int fps, int64_t origin = 0) {
    for (const Frame& f : frames)
        EXPECT_EQ(RampIndex(f.level), RampIndexAt(f.time - origin, fps))
            << "frame delivered at " << f.time << " shows level " << f.level;
}

// The time of the first frame the plug-in was asked about.
int64_t FirstAsked(const DecRun& run) {
    auto asked = Lines(run, "GetFrameBuffer ");
    return asked.empty() ? -1 : std::stoll(asked.front().substr(15));
}

// The frame of a 25 fps stream starting at origin that is shown at time t.
int64_t FrameShownAt(int64_t t, int64_t origin) {
    return origin + (t - origin) / 40000 * 40000;
}

int64_t Number(const std::string& line, size_t field) {
    std::istringstream in(line);
    std::string word;
    for (size_t i = 0; i <= field; ++i)
        in >> word;
    return std::stoll(word);
}

// Each case starts from a recorder with its default answers.
class Dec : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"REC_INIT_FAIL", "REC_ACCEPT_NATIVE", "REC_FORMAT", "REC_SEEK_AFTER", "REC_SEEK_TO",
              "REC_PREVIEW_SEEK", "REC_SKIP_UNTIL", "REC_STOP_AT", "REC_CRASH", "REC_AUDIO"})
            unsetenv(name);
    }
};

} // namespace

TEST_F(Dec, DrivesThePluginInTheFixedOrder) {
    const std::string clip = Folder("media") + "/clip.mp4";
    ASSERT_TRUE(MakeRamp(clip, 2, 25, 44100, 2));
    DecRun run = RunDec(clip);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.trace.size(), 7u);
    EXPECT_EQ(run.trace[0], "Init start=0 probe=0");
    EXPECT_EQ(run.trace[1].rfind("SetVideoInfo 0 27 160 120 160 120 25 1 ", 0), 0u) << run.trace[1];
    EXPECT_EQ(run.trace[2].rfind("SetAudioInfo 44100 2 ", 0), 0u) << run.trace[2];
    ASSERT_EQ(run.trace[3].rfind("SetDuration ", 0), 0u);
    EXPECT_NEAR(double(Number(run.trace[3], 1)), 2.0e6, 60000);
    EXPECT_EQ(run.trace[4], "GetFormat 30 160 120");
    EXPECT_EQ(run.trace[5], "CheckFormat 0 160 120 160 120 -> -1");

    // Then each frame: asked about, then handed over, in time order.
    std::vector<std::string> frameLines;
    for (size_t i = 6; i + 1 < run.trace.size(); ++i)
        frameLines.push_back(run.trace[i]);
    ASSERT_EQ(frameLines.size(), 100u);
    for (size_t i = 0; i < 50; ++i) {
        const std::string t = std::to_string(i * 40000);
        EXPECT_EQ(frameLines[2 * i], "GetFrameBuffer " + t + " -> 0");
        EXPECT_EQ(frameLines[2 * i + 1].rfind("FrameReady " + t + " ", 0), 0u)
            << frameLines[2 * i + 1];
    }
    ExpectFramesMatchTimes(Frames(frameLines), 25);

    // The end: the last frame's time, after all the sound as 16-bit PCM.
    const std::vector<uint8_t> pcm = FfmpegPcm(clip);
    ASSERT_FALSE(pcm.empty());
    EXPECT_EQ(run.trace.back(), "EndOfStream 1960000 audio=" + std::to_string(pcm.size()));
}

// An encoding job's decoder is told to leave the sound alone: the plug-in still
// learns of it, and gets every picture, but no sample is decoded, in either
// order of the command line's words.
TEST_F(Dec, WithoutSoundEveryPictureAndNoSample) {
    const std::string clip = Folder("media") + "/nosound.mp4";
    ASSERT_TRUE(MakeRamp(clip, 2, 25, 44100, 2));
    for (const char* arguments : {"nosound", "1 nosound", "nosound 1"}) {
        SCOPED_TRACE(arguments);
        DecRun run = RunDec(clip, 0, false, REELPAGE_RECORDER_PLUGIN, arguments);
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_GE(run.trace.size(), 7u);
        EXPECT_EQ(run.trace[2].rfind("SetAudioInfo 44100 2 ", 0), 0u) << run.trace[2];
        const std::vector<Frame> frames = Frames(run.trace);
        ASSERT_EQ(frames.size(), 50u);
        EXPECT_EQ(frames.back().time, 1960000);
        ExpectFramesMatchTimes(frames, 25);
        EXPECT_EQ(run.trace.back(), "EndOfStream 1960000 audio=0");
        EXPECT_NE(run.log.find("is not decoded (nosound)"), std::string::npos) << run.log;
    }
    // Without the word the same file gives its sound (the fixed order's case).
    EXPECT_EQ(RunDec(clip).log.find("is not decoded"), std::string::npos);
}

// The same frames whatever the stream's structure: keyframes every second
// (whole groups skipped), one long group with reordered frames, open groups,
// a codec without timestamps per frame, and frames taken as decoded.
TEST_F(Dec, EveryKindOfStreamGivesTheRightFrames) {
    struct Case {
        const char* name;
        std::vector<std::string> encode;
        bool acceptNative;
        bool skipsWork; // false: the container does not time every frame
    };
    const Case cases[] = {
        {"short-groups.mp4", {"-g", "25"}, false, true},
        {"one-group.mp4",
         {"-x264-params", "scenecut=0:keyint=300:bframes=3:b-pyramid=normal"},
         false,
         true},
        {"open-groups.mkv", {"-x264-params", "open-gop=1:keyint=30:bframes=3"}, false, true},
        {"hevc.mp4", {"-c:v", "libx265", "-x265-params", "log-level=none:keyint=30"}, false, true},
        {"vp8.webm",
         {"-c:v", "libvpx", "-b:v", "1M", "-g", "25", "-deadline", "realtime", "-cpu-used", "8"},
         false,
         true},
        {"mpeg4.avi", {"-c:v", "mpeg4", "-q:v", "1", "-bf", "2"}, false, false},
        {"bgra.nut", {"-c:v", "rawvideo", "-pix_fmt", "bgra"}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = Folder("media") + "/" + c.name;
        ASSERT_TRUE(MakeRamp(clip, 4, 25, 0, 0, c.encode));
        if (c.acceptNative)
            setenv("REC_ACCEPT_NATIVE", "1", 1);
        else
            unsetenv("REC_ACCEPT_NATIVE");
        // Only the frames from 1.5 s on are taken; the rest is skipped.
        setenv("REC_SKIP_UNTIL", "1500000", 1);
        DecRun run = RunDec(clip);
        EXPECT_EQ(run.exitCode, 0);
        if (c.acceptNative) {
            EXPECT_EQ(Lines(run, "CheckFormat 30 ").size(), 1u);
        }
        const int64_t origin = FirstAsked(run);
        ASSERT_GE(origin, 0);
        EXPECT_LE(origin, 40000);
        const std::vector<Frame> frames = Frames(run.trace);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front().time, FrameShownAt(1500000, origin));
        EXPECT_EQ(frames.back().time, origin + 99 * 40000);
        EXPECT_EQ(frames.size(), size_t(100 - (1500000 - origin) / 40000));
        for (size_t i = 1; i < frames.size(); ++i)
            EXPECT_EQ(frames[i].time - frames[i - 1].time, 40000);
        ExpectFramesMatchTimes(frames, 25, origin);
        // Frames nobody refers to and whole groups before a keyframe are
        // not decoded when they are skipped (dec says so in the log).
        int pushed = 0, decoded = 0, restarts = 0;
        // The line reads "     dec[pid]: N video packets, ...".
        const size_t at = run.log.find("]: ");
        ASSERT_NE(at, std::string::npos) << run.log;
        ASSERT_EQ(std::sscanf(run.log.c_str() + at + 3, "%d video packets, %d decoded, %d restarts",
                              &pushed, &decoded, &restarts),
                  3)
            << run.log;
        EXPECT_EQ(pushed, 100);
        if (c.skipsWork) {
            EXPECT_LE(decoded, 90);
        } else {
            EXPECT_EQ(decoded, 100);
        }
    }
}

// After a seek the frame the target falls on is the first one handed over,
// with its own time, wherever the keyframe before it is; nothing decoded
// before the seek arrives after it.
TEST_F(Dec, SeekingIsFrameAccurate) {
    struct Case {
        const char* name;
        std::vector<std::string> encode;
    };
    const Case cases[] = {
        {"groups.mp4", {}},
        {"one-group.mp4", {"-x264-params", "scenecut=0:keyint=300"}},
        {"open-groups.mkv", {"-x264-params", "open-gop=1:keyint=30:bframes=3"}},
        {"stream.ts", {"-f", "mpegts"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = Folder("media") + "/" + c.name;
        ASSERT_TRUE(MakeRamp(clip, 10, 25, 44100, 1, c.encode));
        setenv("REC_SEEK_AFTER", "5", 1);
        setenv("REC_SEEK_TO", "6530000", 1);
        DecRun run = RunDec(clip);
        EXPECT_EQ(run.exitCode, 0);
        size_t seek = 0;
        while (seek < run.trace.size() && run.trace[seek].rfind("Seek ", 0) != 0)
            ++seek;
        ASSERT_LT(seek, run.trace.size());
        const std::vector<Frame> before =
            Frames({run.trace.begin(), run.trace.begin() + long(seek)});
        const std::vector<Frame> after = Frames({run.trace.begin() + long(seek), run.trace.end()});
        // Times count from the start of the media; a stream may start a
        // little after the sound.
        const int64_t origin = FirstAsked(run);
        ASSERT_GE(origin, 0);
        EXPECT_EQ(before.size(), 5u);
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after.front().time, FrameShownAt(6530000, origin));
        EXPECT_EQ(after.back().time, origin + 249 * 40000);
        EXPECT_EQ(after.size(), size_t(250 - (6530000 - origin) / 40000));
        ExpectFramesMatchTimes(before, 25, origin);
        ExpectFramesMatchTimes(after, 25, origin);
    }
}

TEST_F(Dec, StartsAtTheLaunchBlocksStartTime) {
    const std::string clip = Folder("media") + "/start.mp4";
    ASSERT_TRUE(MakeRamp(clip, 10, 25, 0, 0));
    DecRun run = RunDec(clip, 4300000);
    EXPECT_EQ(run.trace.front(), "Init start=4300000 probe=0");
    const std::vector<Frame> frames = Frames(run.trace);
    ASSERT_FALSE(frames.empty());
    // Decoding starts at the keyframe before the start; the plug-in is told
    // each frame's own time and decides.
    EXPECT_LE(frames.front().time, 4300000);
    EXPECT_GE(frames.front().time, 3000000);
    EXPECT_EQ(frames.back().time, 9960000);
    ExpectFramesMatchTimes(frames, 25);
}

TEST_F(Dec, APreviewHostKeepsPollingAfterTheEnd) {
    const std::string clip = Folder("media") + "/preview.mp4";
    ASSERT_TRUE(MakeRamp(clip, 2, 25, 0, 0));
    setenv("REC_PREVIEW_SEEK", "1000000", 1);
    DecRun run = RunDec(clip);
    EXPECT_EQ(run.exitCode, 0); // the recorder ends the process at the second end
    const auto ends = Lines(run, "EndOfStream ");
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0], "EndOfStream 1960000 audio=0");
    size_t end = 0;
    while (run.trace[end].rfind("EndOfStream", 0) != 0)
        ++end;
    EXPECT_EQ(run.trace[end + 1], "PollAfterEnd");
    EXPECT_EQ(run.trace[end + 2], "Seek 1000000");
    const std::vector<Frame> again = Frames({run.trace.begin() + long(end), run.trace.end()});
    ASSERT_EQ(again.size(), 25u);
    EXPECT_EQ(again.front().time, 1000000);
    ExpectFramesMatchTimes(again, 25);
}

// Sound files, also one with cover art (a picture stream that is no video).
TEST_F(Dec, SoundOnlyFileAtItsOwnRateAndChannels) {
    const std::string tone = Folder("media") + "/tone.m4a";
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=22050:duration=3",
                        "-ac", "1", "-c:a", "aac", tone}));
    const std::string cover = Folder("media") + "/cover.png";
    const std::string song = Folder("media") + "/song.mp3";
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x64:d=1", "-frames:v", "1", cover}));
    ASSERT_TRUE(Ffmpeg({"-i", tone, "-i", cover, "-map", "0", "-map", "1", "-c:a", "libmp3lame",
                        "-ar", "22050", "-c:v", "png", "-disposition:v", "attached_pic", song}));
    for (const std::string& file : {tone, song}) {
        SCOPED_TRACE(file);
        DecRun run = RunDec(file);
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_GE(run.trace.size(), 5u);
        EXPECT_EQ(run.trace[1], "SetVideoInfo 1 0 0 0 0 0 0 0 0");
        EXPECT_EQ(run.trace[2].rfind("SetAudioInfo 22050 1 ", 0), 0u) << run.trace[2];
        EXPECT_EQ(run.trace[3].rfind("SetDuration ", 0), 0u);
        EXPECT_TRUE(Lines(run, "GetFormat").empty());
        EXPECT_EQ(run.trace.back(),
                  "EndOfStream 0 audio=" + std::to_string(FfmpegPcm(file).size()));
    }
}

// The sound is handed over with only its channel count, and whoever reads it
// takes the count's default layout (2.1 for three, 5.1 for six): channels in
// another layout are put into that one, so none is taken for another. A
// centre-only 3.0 track would otherwise pass as an LFE and fold to silence.
TEST_F(Dec, SoundComesInTheDefaultLayoutForItsChannelCount) {
    const struct {
        const char* layout;
        int channels;
        std::vector<bool> sounding; // per delivered channel
    } cases[] = {
        // The other channels carry a whisper: a channel given no gain at all
        // makes the pan filter lay the channels out its own way.
        {"3.0|c0=0.001*c0|c1=0.001*c0|c2=c0", 3, {true, true, false}}, // centre to the front pair
        {"5.1(side)|c0=0.001*c0|c1=0.001*c0|c2=0.001*c0|c3=0.001*c0|c4=c0|c5=0.001*c0", 6,
         {false, false, false, false, true, false}}, // side left to back left
        {"stereo|c0=c0|c1=0.001*c0", 2, {true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const std::string file = Folder("media") + "/layout.wav";
        ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=48000:duration=1",
                            "-af", std::string("pan=") + c.layout, "-c:a", "pcm_s16le", file}));
        const std::string pcmFile = Folder("sound") + "/pcm";
        std::remove(pcmFile.c_str());
        setenv("REC_AUDIO", pcmFile.c_str(), 1);
        DecRun run = RunDec(file);
        unsetenv("REC_AUDIO");
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.trace[2].rfind("SetAudioInfo 48000 " + std::to_string(c.channels) + " ", 0),
                  0u)
            << run.trace[2];
        std::ifstream in(pcmFile, std::ios::binary);
        const std::string pcm((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GE(pcm.size(), size_t(48000) * c.channels * 2 / 2);
        std::vector<int> peak(size_t(c.channels), 0);
        const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
        for (size_t i = 0; i < pcm.size() / 2; ++i)
            peak[i % size_t(c.channels)] = std::max(peak[i % size_t(c.channels)], std::abs(int(s[i])));
        for (int ch = 0; ch < c.channels; ++ch)
            if (c.sounding[size_t(ch)])
                EXPECT_GT(peak[size_t(ch)], 1000) << "channel " << ch;
            else
                EXPECT_LT(peak[size_t(ch)], 10) << "channel " << ch;
    }
}

TEST_F(Dec, RotatedStreamIsReportedUpright) {
    const std::string plain = Folder("media") + "/landscape.mp4";
    const std::string phone = Folder("media") + "/phone.mp4";
    ASSERT_TRUE(MakeRamp(plain, 1, 25, 0, 0));
    ASSERT_TRUE(Ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", phone}));
    DecRun run = RunDec(phone);
    ASSERT_GE(run.trace.size(), 6u);
    EXPECT_EQ(run.trace[1].rfind("SetVideoInfo 0 27 120 160 120 160 ", 0), 0u) << run.trace[1];
    EXPECT_EQ(run.trace[3], "GetFormat 30 120 160");
    // A picture that must be turned is never offered as the decoder makes it.
    EXPECT_TRUE(Lines(run, "CheckFormat").empty());
    EXPECT_EQ(Frames(run.trace).size(), 25u);
}

TEST_F(Dec, PicturesWithNonSquarePixelsAreReportedAtTheirShownWidth) {
    const std::string plain = Folder("media") + "/square.mp4";
    ASSERT_TRUE(MakeRamp(plain, 1, 25, 0, 0));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* info;
        const char* format;
    } cases[] = {
        // Pixels twice as wide as high, said by the stream itself.
        {"codec.mp4", {"-vf", "setsar=2/1", "-c:v", "libx264", "-preset", "ultrafast"},
         "SetVideoInfo 0 27 320 120 ", "GetFormat 30 320 120"},
        // Said by the container only: 160x120 shown at 16:9 is 213.3 wide,
        // made even.
        {"container.mp4", {"-c", "copy", "-aspect", "16:9"}, "SetVideoInfo 0 27 214 120 ",
         "GetFormat 30 214 120"},
        // Narrower than stored.
        {"narrow.mp4", {"-vf", "setsar=1/2", "-c:v", "libx264", "-preset", "ultrafast"},
         "SetVideoInfo 0 27 80 120 ", "GetFormat 30 80 120"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = Folder("media") + "/" + c.name;
        std::vector<std::string> args = {"-i", plain};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(file);
        ASSERT_TRUE(Ffmpeg(args));
        DecRun run = RunDec(file);
        ASSERT_GE(run.trace.size(), 4u);
        EXPECT_EQ(run.trace[1].rfind(c.info, 0), 0u) << run.trace[1];
        EXPECT_EQ(run.trace[3], c.format);
        // Every frame is delivered, stretched to that size: the ramp's grey
        // level survives it.
        const std::vector<Frame> frames = Frames(run.trace);
        EXPECT_EQ(frames.size(), 25u);
        ExpectFramesMatchTimes(frames, 25);
    }
}

TEST_F(Dec, NothingDecodableIsReportedAsOpenFailed) {
    const std::string text = Folder("media") + "/notes.txt";
    std::ofstream(text) << "not a movie\nat all\n";
    const std::string truncated = Folder("media") + "/cut.mp4";
    const std::string whole = Folder("media") + "/whole.mp4";
    ASSERT_TRUE(MakeRamp(whole, 2, 25));
    std::vector<uint8_t> bytes = ReadFile(whole);
    bytes.resize(bytes.size() / 2); // the index at the end is lost
    std::ofstream(truncated, std::ios::binary)
        .write(reinterpret_cast<char*>(bytes.data()), long(bytes.size()));
    for (const std::string& file : {text, truncated, Folder("media") + "/missing.mp4"}) {
        SCOPED_TRACE(file);
        DecRun run = RunDec(file);
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.trace.size(), 2u);
        EXPECT_EQ(run.trace[1], "OpenFailed");
    }
}

TEST_F(Dec, ExitCodesSayWhyNothingWasReported) {
    const std::string clip = Folder("media") + "/clip.mp4";
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 0, 0));
    EXPECT_EQ(RunDec(clip, 0, false, "/nonexistent/plugin.so").exitCode, 2);
    setenv("REC_INIT_FAIL", "1", 1);
    DecRun refused = RunDec(clip);
    unsetenv("REC_INIT_FAIL");
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_EQ(refused.trace.size(), 1u);
    // A word on the command line it does not know.
    EXPECT_EQ(RunDec(clip, 0, false, REELPAGE_RECORDER_PLUGIN, "nosond").exitCode, 1);

    // A number that is no launch block.
    int process = -1;
    ASSERT_EQ(platform::LaunchHelper("\"" REELPAGE_PROGRAM_DIR "/dec\" 9999", "", &process), 0);
    platform::WaitForHandle(process, platform::kInfinite);
    int code = 0;
    platform::GetHelperExitCode(process, &code);
    platform::CloseHelperHandle(process);
    EXPECT_EQ(code, 1);
}
