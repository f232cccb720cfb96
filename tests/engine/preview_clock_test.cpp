// The preview clocks: buffer sizes, the times they report and when, seeks,
// the end of the sound, and the paced sink's pace.
#include "preview/AudioOutput.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace reelpage;

namespace {

// A sink whose played count the test sets.
class ManualSink : public AudioSink {
public:
    bool Open(int32_t, int32_t) override { return true; }
    void Write(const char*, int64_t bytes) override { written += bytes; }
    void Pause() override { paused = true; }
    void Resume() override { paused = false; }
    void Reset() override {
        written = played = 0;
        ++resets;
    }
    int64_t PlayedBytes() override { return std::min(played, written); }

    int64_t written = 0, played = 0;
    bool paused = true;
    int resets = 0;
};

// A sample file: the 46-byte header, then dataBytes of PCM.
std::string SampleFile(int64_t dataBytes) {
    const std::string path = std::string(std::getenv("REELPAGE_TEST_HOME")) + "/sample.wav";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> bytes(size_t(46 + dataBytes), 1);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

MediaInfo Stereo44k() {
    MediaInfo m{};
    m.m_SampleRate = 44100;
    m.m_nChannel = 2;
    return m;
}

struct Recorder {
    Recorder() { wall.start(); }
    QElapsedTimer wall;
    std::vector<int64_t> ticks;
    std::vector<int64_t> tickWall; // when each tick came, microseconds
    std::vector<int32_t> seconds;
    int ends = 0;
    int stopAtTick = -1; // answer "stop" to this tick (index)
    int endAnswer = 0;
    ClockCallbacks Callbacks() {
        ClockCallbacks c;
        c.tick = [this](int64_t t) {
            ticks.push_back(t);
            tickWall.push_back(wall.nsecsElapsed() / 1000);
            return int(ticks.size() - 1) == stopAtTick ? 1 : 0;
        };
        c.second = [this](int32_t s) {
            seconds.push_back(s);
            return 0;
        };
        c.end = [this] {
            ++ends;
            return endAnswer;
        };
        return c;
    }
};

} // namespace

TEST(PreviewClock, BufferSizesAndFrameSteps) {
    struct Case {
        int64_t byteRate;
        int32_t blockAlign, num, den;
        int64_t buffer;
    } buffers[] = {
        {176400, 4, 25, 1, 7056},         // 1/25 s of 44.1 kHz stereo
        {176400, 4, 30000, 1001, 5884},   // 5885.88 rounded down to whole samples
        {176400, 4, 0, 1, 176400},        // unknown frame rate: one second
        {176400, 4, 25, 0, 176400},
        {176400, 4, 1, 2147483647, 176400}, // a frame of 68 years: one second, no more
        {176400, 4, 1, 3, 176400},
        {16000, 2, 100000, 1, 2},         // a frame shorter than a sample: one sample
        {0, 4, 25, 1, 0},                 // no byte rate: no buffer
        {48000 * 12, 12, 30000, 1001, 19212}, // six channels: 19219.2 to a multiple of 12
    };
    for (const Case& c : buffers)
        EXPECT_EQ(AudioBufferSize(c.byteRate, c.blockAlign, c.num, c.den), c.buffer)
            << c.byteRate << " " << c.num << "/" << c.den;

    struct Step {
        int32_t num, den;
        int64_t us;
    } steps[] = {{30000, 1001, 33000}, {25, 1, 40000}, {0, 1, 1000000}, {1, 0, 1000000},
                 {5000, 1, 1000}};
    for (const Step& s : steps)
        EXPECT_EQ(MuteFrameDuration(s.num, s.den), s.us) << s.num << "/" << s.den;
}

TEST(PreviewClock, AudioTicksFollowThePlayedBuffers) {
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const MediaInfo media = Stereo44k();
    Recorder r;
    AudioPlayer player(25, 1, r.Callbacks(), &media);
    auto sink = std::make_unique<ManualSink>();
    ManualSink* s = sink.get();
    ASSERT_EQ(player.Start(SampleFile(176400 * 3), std::move(sink)), 0);
    EXPECT_EQ(player.BufferSize(), 7056);
    EXPECT_EQ(s->written, 5 * 7056); // primed, paused
    EXPECT_TRUE(s->paused);

    s->played = 5 * 7056;
    player.Poll(); // paused: nothing is reported
    EXPECT_TRUE(r.ticks.empty());

    player.Resume();
    EXPECT_FALSE(s->paused);
    s->played = 3 * 7056 + 100; // three whole buffers and a bit
    player.Poll();
    EXPECT_EQ(r.ticks, (std::vector<int64_t>{40000, 80000, 120000}));
    EXPECT_TRUE(r.seconds.empty());
    EXPECT_EQ(s->written, 8 * 7056); // each finished buffer went out again

    // The sink plays what it was given, buffer by buffer.
    auto playTo = [&](int64_t buffers) {
        for (int64_t b = s->played / 7056 + 1; b <= buffers; ++b) {
            s->played = b * 7056;
            player.Poll();
        }
    };
    playTo(26);
    ASSERT_EQ(r.ticks.size(), 26u);
    EXPECT_EQ(r.ticks.back(), 1040000);
    EXPECT_EQ(r.seconds, std::vector<int32_t>{1}); // once, at the first buffer past 1 s

    // A seek while playing moves the sound only at the next resume.
    player.Seek(2000000);
    playTo(27);
    EXPECT_EQ(r.ticks.back(), 1080000);
    player.Pause();
    player.Resume();
    EXPECT_EQ(s->resets, 1);
    s->played = 7056;
    player.Poll();
    EXPECT_EQ(r.ticks.back(), 2040000);
    EXPECT_EQ(r.seconds.back(), 2);
}

TEST(PreviewClock, AudioEndAndStop) {
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const MediaInfo media = Stereo44k();

    // The clip ends at 10 s: the end byte is 1,764,000 and end() is called
    // once, at the first buffer past it; the sound goes on while end() says so.
    {
        Recorder r;
        AudioPlayer player(25, 1, r.Callbacks(), &media);
        auto sink = std::make_unique<ManualSink>();
        ManualSink* s = sink.get();
        ASSERT_EQ(player.Start(SampleFile(176400 * 12), std::move(sink)), 0);
        player.SetEnd(10000000);
        EXPECT_EQ(player.EndByte(), 1764000);
        player.Resume();
        auto playTo = [&](int64_t buffers) {
            for (int64_t b = s->played / 7056 + 1; b <= buffers; ++b) {
                s->played = b * 7056;
                player.Poll();
            }
        };
        playTo(250); // exactly 10 s
        EXPECT_EQ(r.ends, 0);
        EXPECT_FALSE(player.PlayedToEnd());
        playTo(253);
        EXPECT_EQ(r.ends, 1);
        EXPECT_TRUE(player.PlayedToEnd());
        EXPECT_EQ(player.State(), 1);
        EXPECT_EQ(r.ticks.size(), 253u);
    }
    // A sample file without data: the end comes with the first buffer; a stop
    // pauses the sink and the next resume starts again from 0.
    {
        Recorder r;
        r.endAnswer = 1;
        AudioPlayer player(25, 1, r.Callbacks(), &media);
        auto sink = std::make_unique<ManualSink>();
        ManualSink* s = sink.get();
        ASSERT_EQ(player.Start(SampleFile(0), std::move(sink)), 0);
        player.Resume();
        s->played = 2 * 7056;
        player.Poll();
        EXPECT_EQ(r.ends, 1);
        EXPECT_TRUE(r.ticks.empty());
        EXPECT_EQ(player.State(), 2);
        EXPECT_TRUE(s->paused);
        player.Resume();
        EXPECT_EQ(s->resets, 1);
        EXPECT_FALSE(player.Ended());
    }
}

TEST(PreviewClock, AudioRefusesFilesAndFormatsItCannotCount) {
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Recorder r;
    const MediaInfo media = Stereo44k();
    AudioPlayer missing(25, 1, r.Callbacks(), &media);
    EXPECT_EQ(missing.Start("/nonexistent/sample.wav", std::make_unique<ManualSink>()), -1);

    const std::string shortFile = SampleFile(-10); // 36 bytes: no header
    AudioPlayer truncated(25, 1, r.Callbacks(), &media);
    EXPECT_EQ(truncated.Start(shortFile, std::make_unique<ManualSink>()), -1);

    MediaInfo silent = Stereo44k();
    silent.m_SampleRate = 0;
    AudioPlayer noRate(25, 1, r.Callbacks(), &silent);
    EXPECT_EQ(noRate.Start(SampleFile(1000), std::make_unique<ManualSink>()), -1);
}

TEST(PreviewClock, SilentTicksAndSeconds) {
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Recorder r;
    MutePlayer player(30000, 1001, r.Callbacks());
    ASSERT_EQ(player.Start(), 0);
    EXPECT_EQ(player.FrameDuration(), 33000);
    EXPECT_EQ(player.TimerInterval(), 33);
    EXPECT_FALSE(player.TimerActive());
    player.Resume();
    EXPECT_TRUE(player.TimerActive());
    for (int i = 0; i < 31; ++i) player.OnTimer();
    EXPECT_EQ(r.ticks.front(), 33000);
    EXPECT_EQ(r.ticks.back(), 31 * 33000);
    EXPECT_EQ(r.seconds, (std::vector<int32_t>{0, 1}));

    // A seek drag holds the timer without changing the state.
    player.BeginSeekDrag();
    EXPECT_FALSE(player.TimerActive());
    EXPECT_EQ(player.State(), 1);
    player.EndSeekDrag();
    EXPECT_TRUE(player.TimerActive());

    player.Seek(5000000);
    r.stopAtTick = int(r.ticks.size());
    player.OnTimer();
    EXPECT_EQ(r.ticks.back(), 5033000);
    EXPECT_EQ(player.State(), 2); // the tick asked to stop
    EXPECT_FALSE(player.TimerActive());
    EXPECT_EQ(r.seconds.back(), 5);
}

// The clock of a machine without sound still runs at the real pace, and a
// pause holds it.
TEST(PreviewClock, PacedSinkKeepsRealTime) {
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const MediaInfo media = Stereo44k();
    Recorder r;
    AudioPlayer player(25, 1, r.Callbacks(), &media);
    ASSERT_EQ(player.Start(SampleFile(176400 * 4), std::make_unique<PacedSink>()), 0);

    // Each tick is timed as it arrives, so the rate is not rounded to whole
    // buffers.
    player.Resume();
    const int64_t start = r.wall.nsecsElapsed() / 1000;
    QTimer::singleShot(1500, &app, [&] { app.quit(); });
    app.exec();
    size_t first = 0;
    while (first < r.ticks.size() && r.tickWall[first] - start < 300000) ++first;
    ASSERT_LT(first + 10, r.ticks.size());
    const double clock = double(r.ticks.back() - r.ticks[first]);
    const double real = double(r.tickWall.back() - r.tickWall[first]);
    EXPECT_NEAR(clock / real, 1.0, 0.05) << clock << " us of sound in " << real << " us";

    player.Pause();
    const size_t ticks = r.ticks.size();
    QTimer::singleShot(200, &app, [&] { app.quit(); });
    app.exec();
    player.Poll();
    EXPECT_EQ(r.ticks.size(), ticks);
}

TEST(PreviewClock, MoreThanTwoChannelsAreMixedDownForTheDevice) {
    struct Case {
        std::vector<int16_t> in;
        int32_t channels;
        std::vector<int16_t> out;
    } cases[] = {
        // 5.1: FL FR FC LFE BL BR. The centre reaches both sides alike, a
        // surround only its own side, the LFE neither; 1 + 2 x 0.707 scales.
        {{0, 0, 1000, 0, 0, 0}, 6, {293, 293}},
        {{0, 0, 0, 1000, 0, 0}, 6, {0, 0}},
        {{0, 0, 0, 0, 1000, 0}, 6, {293, 0}},
        {{1000, -1000, 0, 0, 0, 0}, 6, {414, -414}},
        {{32767, 32767, 32767, 32767, 32767, 32767}, 6, {32767, 32767}}, // no overflow
        {{-32768, -32768, -32768, 0, -32768, -32768}, 6, {-32768, -32768}},
        {{1000, -1000, 5000}, 3, {1000, -1000}},                          // 2.1
        {{0, 0, 0, 0, 0, 0, 1000, 0}, 8, {227, 0}},                      // 7.1 side left
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 10,
         {5, 6, 15, 16}}, // no known layout: sides averaged; two frames
    };
    for (const Case& c : cases) {
        const int64_t frames = int64_t(c.in.size()) / c.channels;
        std::vector<int16_t> out(size_t(frames) * 2, 0x7777);
        StereoMix mix;
        mix.Open(c.channels, 48000);
        mix.Mix(reinterpret_cast<const char*>(c.in.data()), frames,
                reinterpret_cast<char*>(out.data()));
        EXPECT_EQ(out, c.out) << c.channels << " channels";
    }
}
