// The preview plug-in inside the real decoder helper, with the test playing
// the engine (blocks, commands, the render window that answers
// kMsgFrameReady). Ramp clips tell which source frame a picture shows; the
// block clip has a white 40x30 block in its top-left corner, so turns and
// scaling can be seen.
#include "dec_runner.h"
#include "media_fixtures.h"
#include "preview_harness.h"

#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "picture/encoders.h"
#include "picture/load.h"
#include "platform/wstr.h"

using namespace preview_test;
using namespace reelpage;
using namespace testing_media;

namespace {

std::string Ramp(double seconds) {
    const std::string path = dec_test::Folder("media") + "/ramp" + std::to_string(seconds) + ".mp4";
    if (!std::filesystem::exists(path)) {
        EXPECT_TRUE(MakeRamp(path, seconds, 25, 0));
    }
    return path;
}

// White block at the top-left (a quarter of each side), the rest a ramp.
std::string BlockClip(int w, int h, double seconds) {
    const std::string path = dec_test::Folder("media") + "/block" + std::to_string(w) + ".mp4";
    if (std::filesystem::exists(path)) return path;
    char video[256];
    std::snprintf(video, sizeof video,
                  "color=c=black:s=%dx%d:r=25:d=%g,format=yuv420p,"
                  "geq=lum='if(lt(X,W/4)*lt(Y,H/4),235,16+4*mod(N,50))':cb=128:cr=128",
                  w, h, seconds);
    EXPECT_TRUE(Ffmpeg({"-f", "lavfi", "-i", video, "-c:v", "libx264", "-preset", "ultrafast",
                        "-crf", "4", "-pix_fmt", "yuv420p", path}));
    return path;
}

// An opaque red picture of w x h.
std::string RedPicture(int w, int h) {
    const std::string path = dec_test::Folder("media") + "/red.png";
    picture::Bitmap b;
    b.Create(w, h);
    b.View().Fill({0, 0, 255, 255});
    picture::EncoderId png;
    picture::FindEncoderByMimeType("image/png", png);
    EXPECT_EQ(picture::SavePicture(b, path, png), picture::Error::None);
    return path;
}

// The 20 x 10 red picture as the project's watermark, drawn at w x h with
// its top left at (left, top).
void PlaceRedWatermark(reelpage::Project& p, int left, int top, int w, int h) {
    platform::WStrCopy(p.m_WatermarkFile, platform::FromUtf8(RedPicture(20, 10)));
    p.m_WatermarkLeft = left;
    p.m_WatermarkTop = top;
    p.m_WatermarkWidth = w;
    p.m_WatermarkHeight = h;
}

int Index(const DeliveredFrame& f, int x, int y) {
    return RampIndex(f.Grey(x, y));
}

bool IsRed(const uint8_t* p) {
    return p[2] > 240 && p[1] < 16 && p[0] < 16;
}
bool IsBlue(const uint8_t* p) {
    return p[0] == 255 && p[1] == 0 && p[2] == 0;
}
bool IsBorderRed(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 255;
}
uint8_t Darkened(const uint8_t* p) {
    return uint8_t(((p[2] * 19595 + p[1] * 38469 + p[0] * 7471) >> 17) + 16);
}

// Voluntary context switches of the helper's main thread: how often it woke.
long Wakeups(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    return -1;
}

// The first picture comes without a tick: the frame covering three frame
// durations. A seek shows the frame covering the target; each tick decodes
// on to the frame covering its time and no further.
TEST(Morvane, SeekAndTicksShowTheFrameOfTheTime) {
    PreviewHarness h({.file = Ramp(4)});
    ASSERT_TRUE(h.Running());
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    EXPECT_EQ(f->width, 160);
    EXPECT_EQ(f->height, 120);
    EXPECT_EQ(f->pts, 120000);
    EXPECT_EQ(Index(*f, 80, 60), 3);

    struct Step {
        PreviewCommand code;
        int64_t param;
        int64_t pts;
        int index;
    };
    const Step steps[] = {
        {kCmdSeek, 1200000, 1200000, 30},    {kCmdPresent, 1240000, 1240000, 31}, // one frame on
        {kCmdPresent, 1360000, 1360000, 34}, // frames 32 and 33 skipped
        {kCmdSeek, 400000, 400000, 10},      // back
        {kCmdSeek, 2010000, 2000000, 0},     // inside a frame: the frame covering it
    };
    for (const Step& s : steps) {
        const size_t before = h.Frames().size();
        h.Post(s.code, s.param);
        f = h.WaitFrame();
        ASSERT_NE(f, nullptr) << "code " << s.code << " " << s.param;
        EXPECT_EQ(f->pts, s.pts) << s.param;
        EXPECT_EQ(Index(*f, 80, 60), s.index) << s.param;
        EXPECT_EQ(h.Pts(), s.pts);
        // Nothing beyond the clock's time.
        h.Idle(250);
        EXPECT_EQ(h.Frames().size(), before + 1) << "after " << s.param;
    }
    EXPECT_FALSE(h.EndOfStream());
}

// Paused, caught up or at the end the helper sleeps on the command event: it
// neither burns CPU nor wakes up to look. A seek past the end shows the last
// frame; a seek back after the end still works.
TEST(Morvane, IdlesWhenPausedAndAtTheEnd) {
    PreviewHarness h({.file = Ramp(1)});
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    h.Idle(200);
    const auto measure = [&](const char* what) {
        const double cpu0 = h.HelperCpuSeconds();
        const long wake0 = Wakeups(h.ProcessId());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double cpu = h.HelperCpuSeconds() - cpu0;
        const long wakeups = Wakeups(h.ProcessId()) - wake0;
        EXPECT_LT(cpu, 0.03) << what;
        EXPECT_LE(wakeups, 3) << what;
    };
    measure("paused");

    h.Post(kCmdPresent, 480000); // a frame in the middle is not the end
    ASSERT_NE(h.WaitFrame(), nullptr);
    EXPECT_FALSE(h.EndOfStream());
    // Whether the last frame already carries the end depends on whether the
    // decoder has met the end of the file by then, so it is not checked.
    h.Post(kCmdPresent, 960000);
    ASSERT_NE(h.WaitFrame(), nullptr);
    h.Post(kCmdPresent, 5000000); // past the end of a 1 s clip
    for (int i = 0; i < 100 && !h.EndOfStream(); ++i)
        h.Idle(50);
    ASSERT_TRUE(h.EndOfStream());
    EXPECT_EQ(h.Pts(), 960000);
    h.Idle(300);
    measure("at the end");

    // A seek past the end shows the last frame and marks the end.
    h.Post(kCmdSeek, 3000000);
    const DeliveredFrame* last = h.WaitFrame();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->pts, 960000);
    EXPECT_EQ(Index(*last, 80, 60), 24);
    for (int i = 0; i < 100 && !h.EndOfStream(); ++i)
        h.Idle(50);
    EXPECT_TRUE(h.EndOfStream());
    h.Idle(300);
    measure("at the end after a seek");

    h.Post(kCmdPresent, 6000000); // ticks after the end change nothing
    h.Idle(200);
    h.Post(kCmdSeek, 400000);
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Index(*f, 80, 60), 10);
    EXPECT_FALSE(h.EndOfStream());
}

// After the end the helper decodes the clip start while the last picture
// stays; Play's seek to it then shows that picture and decoding goes on from
// there without a frame lost. Preparing is dropped by a seek elsewhere.
TEST(Morvane, PreparedClipStartIsShownByTheNextSeek) {
    PreviewHarness h({.file = Ramp(2)});
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    // Played to the last frame, then the clock runs past the end.
    const auto playToTheEnd = [&] {
        h.Post(kCmdPresent, 1960000);
        ASSERT_NE(h.WaitFrame(), nullptr);
        h.Post(kCmdPresent, 5000000);
        for (int i = 0; i < 100 && !h.EndOfStream(); ++i)
            h.Idle(50);
        ASSERT_TRUE(h.EndOfStream());
        ASSERT_EQ(h.Pts(), 1960000);
    };
    playToTheEnd();

    struct Round {
        const char* what;
        int waitMs;     // between the prepare and the seek
        int64_t seekTo; // 1.2 s is the prepared time
    };
    const Round rounds[] = {
        {"seek once prepared", 400, 1200000},
        {"seek while preparing", 0, 1200000},
        {"seek elsewhere", 400, 400000},
    };
    for (const Round& r : rounds) {
        SCOPED_TRACE(r.what);
        const size_t before = h.Frames().size();
        h.Post(kCmdPrepare, 1200000);
        if (r.waitMs > 0) {
            h.Idle(r.waitMs);
            EXPECT_EQ(h.Frames().size(), before) << "nothing shown while preparing";
            EXPECT_EQ(h.Pts(), 1960000);
            // A redraw meanwhile still shows the picture on screen.
            h.Post(kCmdAdjustmentsChanged);
            const DeliveredFrame* f = h.WaitFrame();
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(1960000, 25));
        }
        h.Post(kCmdSeek, r.seekTo);
        const DeliveredFrame* f = h.WaitFrame();
        ASSERT_NE(f, nullptr) << h.Log();
        EXPECT_EQ(f->pts, r.seekTo);
        EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(r.seekTo, 25));
        EXPECT_FALSE(h.EndOfStream());
        // Decoding goes on from there without a frame lost.
        for (int step = 1; step <= 3; ++step) {
            const int64_t t = r.seekTo + step * 40000;
            h.Post(kCmdPresent, t);
            f = h.WaitFrame();
            ASSERT_NE(f, nullptr) << t;
            EXPECT_EQ(f->pts, t);
            EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(t, 25)) << t;
        }
        playToTheEnd();
    }
}

// A 6 s ramp with one keyframe, at its start: a picture seconds in needs
// every picture before it decoded.
std::string SparseKeyframes() {
    const std::string path = dec_test::Folder("media") + "/ramp-sparse.mp4";
    if (!std::filesystem::exists(path)) {
        EXPECT_TRUE(MakeRamp(path, 6, 25, 0, 2, {"-g", "250", "-keyint_min", "250", "-sc_threshold", "0"}));
    }
    return path;
}

// How many times the helper has the file open.
int OpenedTimes(int pid, const std::string& file) {
    const std::filesystem::path wanted = std::filesystem::canonical(file);
    int n = 0;
    std::error_code e;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", e)) {
        std::error_code r;
        if (std::filesystem::read_symlink(fd.path(), r) == wanted) ++n;
    }
    return n;
}

// Waits up to 5 s until the helper has the file open `times` times; how many
// it has then.
int WaitOpened(PreviewHarness& h, const std::string& file, int times) {
    for (int i = 0; i < 250 && OpenedTimes(h.ProcessId(), file) != times; ++i)
        h.Idle(20);
    return OpenedTimes(h.ProcessId(), file);
}

// Waits up to 5 s for the helper to log text; whether it has.
bool WaitLogged(PreviewHarness& h, const std::string& text) {
    for (int i = 0; i < 250 && h.Log().find(text) == std::string::npos; ++i)
        h.Idle(20);
    return h.Log().find(text) != std::string::npos;
}

// Plays from `from` to the end of the 6 s ramp with a tick per frame, as the
// engine's clock does, until the end is marked.
void PlayToTheEnd(PreviewHarness& h, int64_t from) {
    h.Post(kCmdSeek, from);
    ASSERT_NE(h.WaitFrame(), nullptr);
    for (int64_t t = from + 40000; t < 8000000 && !h.EndOfStream(); t += 40000) {
        h.Post(kCmdPresent, t);
        if (t <= 5960000) ASSERT_NE(h.WaitFrame(), nullptr) << t;
        else h.Idle(50);
    }
    ASSERT_TRUE(h.EndOfStream());
}

// Shows that from time `at` on, a tick per frame shows every picture in order.
void ExpectPlaysOnFrom(PreviewHarness& h, int64_t at) {
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    EXPECT_EQ(f->pts, at);
    EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(at, 25));
    for (int64_t t = at + 40000; t <= at + 400000; t += 40000) {
        h.Post(kCmdPresent, t);
        f = h.WaitFrame();
        ASSERT_NE(f, nullptr) << t;
        EXPECT_EQ(f->pts, t);
        EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(t, 25)) << t;
    }
}

// While playback runs a second decoder waits at the clip start (the file is
// open twice); Play at the end takes it, however soon after the end, and
// playback goes on from the clip start with every picture in order.
TEST(Morvane, PlayAtTheEndContinuesFromTheParkedClipStart) {
    const std::string file = SparseKeyframes();
    const int64_t clipStart = 3000000; // 75 pictures after the keyframe
    struct Case {
        const char* what;
        int pauseMs; // between the end and Play
    };
    const Case cases[] = {{"Play at once", 0}, {"Play after a pause", 300}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PreviewHarness h({.file = file, .project = [&](Project& p) { p.m_ClipStart = clipStart; }});
        ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
        EXPECT_EQ(OpenedTimes(h.ProcessId(), file), 1);
        PlayToTheEnd(h, 5000000);
        ASSERT_TRUE(WaitLogged(h, "Parked at 3000000 us")) << h.Log();
        EXPECT_EQ(OpenedTimes(h.ProcessId(), file), 2);
        h.Post(kCmdPrepare, clipStart);
        if (c.pauseMs > 0) h.Idle(c.pauseMs);
        h.Post(kCmdSeek, clipStart);
        ExpectPlaysOnFrom(h, clipStart);
        EXPECT_NE(h.Log().find("Took over the decoder parked at 3000000 us"), std::string::npos)
            << h.Log();
        // The decoder taken over reads on and serves later seeks.
        h.Post(kCmdSeek, 5600000);
        const DeliveredFrame* f = h.WaitFrame();
        ASSERT_NE(f, nullptr) << h.Log();
        EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(5600000, 25));
    }
}

// A new clip start drops the decoder parked at the old one at once; the next
// playback parks at the new one, which Play at the end then takes.
TEST(Morvane, NewClipStartDropsTheParkedDecoder) {
    const std::string file = SparseKeyframes();
    PreviewHarness h({.file = file, .project = [](Project& p) { p.m_ClipStart = 3000000; }});
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    h.Post(kCmdPresent, 160000);
    ASSERT_NE(h.WaitFrame(), nullptr);
    EXPECT_EQ(WaitOpened(h, file, 2), 2) << "no decoder parked";

    h.Project().m_ClipStart = 2000000;
    h.Post(kCmdAdjustmentsChanged); // any command wakes the helper
    ASSERT_NE(h.WaitFrame(), nullptr);
    EXPECT_EQ(WaitOpened(h, file, 1), 1) << "the parked decoder stayed";

    PlayToTheEnd(h, 5000000);
    ASSERT_TRUE(WaitLogged(h, "Parked at 2000000 us")) << h.Log();
    EXPECT_EQ(OpenedTimes(h.ProcessId(), file), 2);
    h.Post(kCmdPrepare, 2000000);
    h.Post(kCmdSeek, 2000000);
    ExpectPlaysOnFrom(h, 2000000);
    const std::string log = h.Log();
    EXPECT_EQ(log.find("Took over the decoder parked at 3000000 us"), std::string::npos) << log;
    EXPECT_NE(log.find("Took over the decoder parked at 2000000 us"), std::string::npos) << log;
}

// A 4K video at 25 pictures a second is more than the parked decoder's one
// thread could play on with: its playback parks nothing.
TEST(Morvane, LargeVideosParkNothing) {
    const std::string file = dec_test::Folder("media") + "/ramp-4k.mp4";
    ASSERT_TRUE(MakeRamp(file, 1, 25, 0, 2, {"-vf", "scale=3840:2160", "-crf", "30"}));
    PreviewHarness h({.file = file,
                      .width = 3840,
                      .height = 2160,
                      .outWidth = 384,
                      .outHeight = 216,
                      .project = [](Project& p) { p.m_ClipStart = 400000; }});
    ASSERT_NE(h.WaitFrame(10000), nullptr) << h.Log();
    // Playback runs: a decoder would be parked now.
    h.Post(kCmdPresent, 80000);
    EXPECT_TRUE(WaitLogged(h, "Not parked: one thread would not keep pace")) << h.Log();
    EXPECT_EQ(OpenedTimes(h.ProcessId(), file), 1);
    EXPECT_EQ(h.Log().find("Parked at"), std::string::npos) << h.Log();
}

// The prepared picture is shown without reading the file again: once it is
// ready the file may even be cut short, and Play's seek still shows it.
TEST(Morvane, PreparedPictureNeedsNoFurtherReading) {
    // PCM sound makes the file far larger than what the reader keeps in
    // memory, so going back to its start needs the file.
    const std::string file = dec_test::Folder("media") + "/ramp-cut.mkv";
    ASSERT_TRUE(MakeRamp(file, 4, 25, 48000, 2, {"-c:a", "pcm_s16le"}));
    ASSERT_GT(std::filesystem::file_size(file), 500000u);
    PreviewHarness h({.file = file});
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    h.Post(kCmdSeek, 3960000);
    ASSERT_NE(h.WaitFrame(), nullptr);
    h.Post(kCmdPrepare, 1200000);
    h.Idle(500);
    std::filesystem::resize_file(file, 0);
    h.Post(kCmdSeek, 1200000);
    const DeliveredFrame* f = h.WaitFrame(3000);
    ASSERT_NE(f, nullptr) << "no picture: the seek went back to the file";
    EXPECT_EQ(f->pts, 1200000);
    EXPECT_EQ(Index(*f, 80, 60), RampIndexAt(1200000, 25));
}

// Played through the end of the file with a tick per frame, every picture up
// to the last is shown, in order, before the end is marked: the decoder hands
// out the last few all at once when it is drained, and the end must not be
// marked while one of them still waits for its time. The clock stops
// ticking once the end is marked, as the engine's does.
TEST(Morvane, EveryPictureUpToTheLastIsShown) {
    struct Case {
        const char* what;
        std::string file;
    };
    const Case cases[] = {
        {"H.264 with B-frames", Ramp(4)},
        {"frame threads' delay only", [] {
             const std::string path = dec_test::Folder("media") + "/ramp-nob.mp4";
             if (!std::filesystem::exists(path)) {
                 EXPECT_TRUE(MakeRamp(path, 4, 25, 0, 2, {"-bf", "0"}));
             }
             return path;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PreviewHarness h({.file = c.file});
        ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
        h.Post(kCmdSeek, 3200000);
        ASSERT_NE(h.WaitFrame(), nullptr);
        const size_t first = h.Frames().size() - 1;
        for (int64_t t = 3240000; t < 6000000 && !h.EndOfStream(); t += 40000) {
            h.Post(kCmdPresent, t);
            // A tick past the last picture shows nothing more.
            if (!h.WaitFrame(t <= 3960000 ? 5000 : 300) && t <= 3960000) break;
        }
        EXPECT_TRUE(h.EndOfStream());
        std::vector<int64_t> shown;
        for (size_t i = first; i < h.Frames().size(); ++i)
            shown.push_back(h.Frames()[i].pts);
        std::vector<int64_t> expected;
        for (int64_t t = 3200000; t <= 3960000; t += 40000)
            expected.push_back(t);
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(Index(h.Last(), 80, 60), RampIndexAt(3960000, 25));
    }
}

// The clip stop marks the end as soon as a frame at or past it is shown.
TEST(Morvane, ClipStopMarksTheEnd) {
    PreviewHarness h({.file = Ramp(2), .clipStop = 600000});
    ASSERT_NE(h.WaitFrame(), nullptr);
    EXPECT_FALSE(h.EndOfStream());
    h.Post(kCmdPresent, 560000);
    ASSERT_NE(h.WaitFrame(), nullptr);
    EXPECT_FALSE(h.EndOfStream());
    h.Post(kCmdPresent, 600000);
    ASSERT_NE(h.WaitFrame(), nullptr);
    EXPECT_TRUE(h.EndOfStream());
}

// The watermark is drawn over the picture, follows its picture, size and
// transparency, and is cut at the picture's edge; in watermark mode the
// frame around it is marked and everything else darkened.
TEST(Morvane, WatermarkAndItsEditingFrame) {
    PreviewHarness h({.file = Ramp(2),
                      .project = [](auto& p) { PlaceRedWatermark(p, 30, 40, 40, 20); }});
    auto& p = h.Project();
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    const DeliveredFrame plain = *f;
    EXPECT_TRUE(IsRed(plain.At(30, 40)));
    EXPECT_TRUE(IsRed(plain.At(69, 59)));
    EXPECT_FALSE(IsRed(plain.At(70, 50)));
    EXPECT_FALSE(IsRed(plain.At(50, 60)));
    EXPECT_EQ(Index(plain, 10, 10), 3);

    h.Post(kCmdEnterWatermarkMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    const DeliveredFrame edit = *f;
    EXPECT_EQ(edit.At(10, 10)[1], Darkened(plain.At(10, 10)));
    EXPECT_EQ(edit.At(100, 100)[0], Darkened(plain.At(100, 100)));
    EXPECT_TRUE(IsRed(edit.At(50, 50))); // inside: untouched
    // The border: row 39 and row 60, column 29 and column 70, dashed by four.
    EXPECT_TRUE(IsBlue(edit.At(29, 39)));
    EXPECT_TRUE(IsBlue(edit.At(32, 39)));
    EXPECT_TRUE(IsBorderRed(edit.At(33, 39)));
    EXPECT_TRUE(IsBlue(edit.At(37, 39)));
    EXPECT_TRUE(IsBlue(edit.At(29, 40)));
    EXPECT_TRUE(IsBorderRed(edit.At(29, 44)));
    EXPECT_TRUE(IsBlue(edit.At(70, 40)));
    EXPECT_TRUE(IsBlue(edit.At(29, 60)));

    p.m_WatermarkTransparency = 255; // invisible
    h.Post(kCmdWatermarkPictureChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(Index(*f, 50, 50), 3);

    // Reaching past the top-left corner in watermark mode: the watermark and
    // its frame are cut at the picture's edges.
    p.m_WatermarkTransparency = 0;
    p.m_WatermarkLeft = -10;
    p.m_WatermarkTop = -5;
    h.Post(kCmdWatermarkPictureChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_TRUE(IsRed(f->At(5, 5)));
    EXPECT_TRUE(IsBlue(f->At(0, 15)) || IsBorderRed(f->At(0, 15))); // bottom border, cut
    EXPECT_TRUE(IsBlue(f->At(30, 5)) || IsBorderRed(f->At(30, 5))); // right border
    EXPECT_EQ(f->At(80, 80)[1], Darkened(plain.At(80, 80)));

    // Leaving the mode; a watermark reaching past the right edge is cut there.
    p.m_WatermarkLeft = 140;
    p.m_WatermarkTop = 40;
    h.Post(kCmdWatermarkPictureChanged);
    h.Post(kCmdLeaveWatermarkMode);
    ASSERT_NE(h.WaitFrame(), nullptr);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->At(10, 10)[1], plain.At(10, 10)[1]);
    EXPECT_TRUE(IsRed(f->At(159, 50)));
    EXPECT_FALSE(IsRed(f->At(139, 50)));

    // A watermark far larger than any picture (its size is a project field)
    // is still drawn where it covers the picture.
    p.m_WatermarkLeft = -20000;
    p.m_WatermarkWidth = 40000;
    h.Post(kCmdCropOrWatermarkMoved);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_TRUE(IsRed(f->At(0, 45)));
    EXPECT_TRUE(IsRed(f->At(159, 59)));
    EXPECT_FALSE(IsRed(f->At(80, 60)));
}

// Dragged on the picture, the watermark is drawn where it was dragged, both
// in watermark mode and after it, not left where it was first prepared.
TEST(Morvane, MovedWatermarkIsDrawnAtItsNewPlace) {
    PreviewHarness h({.file = Ramp(2),
                      .project = [](auto& p) { PlaceRedWatermark(p, 10, 10, 40, 20); }});
    auto& p = h.Project();
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    ASSERT_TRUE(IsRed(f->At(20, 20)));
    for (const PreviewCommand mode : {kCmdEnterWatermarkMode, kCmdLeaveWatermarkMode}) {
        h.Post(mode);
        ASSERT_NE(h.WaitFrame(), nullptr);
        const bool editing = mode == kCmdEnterWatermarkMode;
        const int left = editing ? 90 : 50, top = editing ? 70 : 40;
        p.m_WatermarkLeft = left;
        p.m_WatermarkTop = top;
        h.Post(kCmdCropOrWatermarkMoved);
        ASSERT_NE((f = h.WaitFrame()), nullptr);
        EXPECT_TRUE(IsRed(f->At(left + 5, top + 5))) << mode;
        EXPECT_TRUE(IsRed(f->At(left + 35, top + 15))) << mode;
        EXPECT_FALSE(IsRed(f->At(20, 20))) << mode;
    }
}

// A watermark chosen while already editing it (the Business panel opens in
// watermark mode, then a picture is picked): the next frame shows it, fully
// opaque at transparency 0, inside its dashed frame.
TEST(Morvane, WatermarkChosenInWatermarkModeShowsAtOnce) {
    PreviewHarness h({.file = Ramp(2)});
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    h.Post(kCmdEnterWatermarkMode);
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(IsRed(f->At(50, 50)));

    auto& p = h.Project();
    platform::WStrCopy(p.m_WatermarkFile, platform::FromUtf8(RedPicture(20, 10)));
    p.m_WatermarkImageWidth = 20;
    p.m_WatermarkImageHeight = 10;
    p.m_WatermarkWidth = 40;
    p.m_WatermarkHeight = 20;
    p.m_WatermarkLeft = 30;
    p.m_WatermarkTop = 40;
    p.m_WatermarkTransparency = 0;
    h.Post(kCmdWatermarkPictureChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    for (const auto& [x, y] : {std::pair{30, 40}, std::pair{50, 50}, std::pair{69, 59}})
        EXPECT_TRUE(IsRed(f->At(x, y))) << x << "," << y;
    EXPECT_FALSE(IsRed(f->At(80, 80)));
    EXPECT_TRUE(IsBlue(f->At(29, 39))); // its editing frame
}

// Crop editing shows the whole oriented source with the crop frame marked;
// leaving it shows the output again. A crop one pixel wider than the picture
// is drawn as the crop that fits.
TEST(Morvane, CropModeAndCropClamp) {
    PreviewHarness h({.file = Ramp(2),
                      .outWidth = 80,
                      .outHeight = 60,
                      .cropLeft = 20,
                      .cropTop = 10,
                      .cropWidth = 100,
                      .cropHeight = 80});
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    EXPECT_EQ(f->width, 80);
    EXPECT_EQ(f->height, 60);
    // Letterbox of 100 x 80 into 80 x 60: 75 x 60 from x = 2.5.
    EXPECT_EQ(f->At(1, 30)[1], 0);
    EXPECT_EQ(Index(*f, 40, 30), 3);

    h.Post(kCmdEnterCropMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->width, 160);
    EXPECT_EQ(f->height, 120);
    EXPECT_TRUE(IsBlue(f->At(19, 9)));
    EXPECT_TRUE(IsBlue(f->At(120, 10)));
    EXPECT_TRUE(IsBlue(f->At(19, 90)));
    EXPECT_EQ(Index(*f, 60, 50), 3);
    const uint8_t inside = f->At(60, 50)[1];
    EXPECT_EQ(f->At(5, 5)[1], Darkened(f->At(60, 50))) << int(inside);

    h.Post(kCmdLeaveCropMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->width, 80);
    EXPECT_EQ(f->height, 60);

    // 100 + 61 > 160: drawn as 60 x 80, letterboxed to 45 x 60 from x = 17.5.
    auto& p = h.Project();
    p.m_CropLeft = 100;
    p.m_CropTop = 10;
    p.m_CropWidth = 61;
    p.m_CropHeight = 80;
    h.Post(kCmdCropChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->At(16, 30)[1], 0);
    EXPECT_EQ(Index(*f, 17, 30), 3);
    EXPECT_EQ(Index(*f, 61, 30), 3);
    EXPECT_EQ(f->At(62, 30)[1], 0);

    // The resize method (14) and the colour table (7) show at once.
    p.m_ResizeMethod = 2; // Crop: 80 x 64 from y = -2, no bars
    h.Post(kCmdResizeMethodChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(Index(*f, 1, 30), 3);
    EXPECT_EQ(Index(*f, 78, 1), 3);
    const int grey = f->At(40, 30)[1];
    p.m_Brightness = 20;
    h.Post(kCmdAdjustmentsChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->At(40, 30)[1], grey + 20);

    // Watermark mode without a watermark picture: nothing is marked.
    const std::vector<uint8_t> before = f->pixels;
    h.Post(kCmdEnterWatermarkMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_TRUE(f->pixels == before);
}

// A quarter turn while crop editing: the frame comes at the swapped size with
// the picture turned left (the top-left block ends at the bottom-left); a
// flip mirrors it.
TEST(Morvane, RotationTurnsTheFrame) {
    PreviewHarness h({.file = BlockClip(160, 120, 1)});
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    h.Post(kCmdEnterCropMode);
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr);
    EXPECT_GT(f->Grey(10, 10), 220);
    EXPECT_LT(f->Grey(10, 110), 100);

    auto& p = h.Project();
    p.m_Orientation = 1;
    p.m_VideoWidth = 120;
    p.m_VideoHeight = 160;
    std::swap(p.m_OutputWidth, p.m_OutputHeight);
    p.m_CropWidth = 120;
    p.m_CropHeight = 160;
    h.Post(kCmdRotationChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->width, 120);
    EXPECT_EQ(f->height, 160);
    EXPECT_GT(f->Grey(10, 150), 220);
    EXPECT_LT(f->Grey(10, 10), 100);
    EXPECT_LT(f->Grey(110, 150), 100);

    // Mirrored left-right on top (orientation 1 then flipped: 7), the
    // block goes to the bottom-right.
    p.m_Orientation = 7;
    h.Post(kCmdFlipChanged);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_GT(f->Grey(110, 150), 220);
    EXPECT_LT(f->Grey(10, 150), 100);
    p.m_Orientation = 1;
    h.Post(kCmdFlipChanged);
    ASSERT_NE(h.WaitFrame(), nullptr);

    // Out of crop mode, the output (swapped by the engine) shows the same.
    h.Post(kCmdLeaveCropMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr);
    EXPECT_EQ(f->width, 120);
    EXPECT_EQ(f->height, 160);
    EXPECT_GT(f->Grey(10, 150), 220);
    EXPECT_LT(f->Grey(100, 20), 100);
}

// Columns of row y whose grey lies clearly between the dark and the white
// on either side of the block's right edge: how far a blur spread it.
int BlurredColumns(const DeliveredFrame& f, int y) {
    int n = 0;
    for (int x = 0; x < f.width; ++x)
        n += f.Grey(x, y) > 40 && f.Grey(x, y) < 200;
    return n;
}

// The blur radius counts in output pixels. Crop editing shows the source,
// here four times the output's size, so there it reaches four times as many
// pixels: the picture looks as blurred as the output will be.
TEST(Morvane, CropModeBlursAsFarAsTheOutputWill) {
    PreviewHarness h({.file = BlockClip(160, 120, 1), .outWidth = 40, .outHeight = 30});
    h.Project().m_BlurRadius = 3;
    ASSERT_NE(h.WaitFrame(), nullptr) << h.Log();
    h.Post(kCmdAdjustmentsChanged);
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    ASSERT_EQ(f->width, 40);
    const int output = BlurredColumns(*f, 4);
    ASSERT_GE(output, 2);

    h.Post(kCmdEnterCropMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr) << h.Log();
    ASSERT_EQ(f->width, 160);
    const int cropMode = BlurredColumns(*f, 15);
    EXPECT_GE(cropMode, 3 * output);
    EXPECT_LE(cropMode, 5 * output + 2);
}

// A 4K output does not fit the frame block: it comes at the shared reduced
// size, announced in kMsgFrameReady, with the picture scaled down whole.
TEST(Morvane, FourKSourceIsDeliveredReduced) {
    PreviewHarness h({.file = BlockClip(3840, 2160, 0.2), .width = 3840, .height = 2160});
    const DeliveredFrame* f = h.WaitFrame(30000);
    ASSERT_NE(f, nullptr) << h.Log();
    const reelpage::PreviewFrameSize want = reelpage::DeliveredPreviewSize(3840, 2160);
    EXPECT_EQ(f->width, want.width);
    EXPECT_EQ(f->height, want.height);
    EXPECT_EQ(f->width, 2560);
    EXPECT_GT(f->Grey(100, 100), 220);
    EXPECT_GT(f->Grey(636, 356), 220);
    EXPECT_LT(f->Grey(645, 365), 100);
    EXPECT_LT(f->Grey(2000, 1000), 100);

    h.Post(kCmdEnterCropMode); // crop editing on the whole 4K source: reduced as well
    ASSERT_NE((f = h.WaitFrame(30000)), nullptr);
    EXPECT_EQ(f->width, 2560);
    EXPECT_EQ(f->height, 1440);
    EXPECT_EQ(f->pts, 120000);
    EXPECT_TRUE(IsBlue(f->At(0, 0)));

    // The decoder handed out the last frame early (end of file): it waits
    // for its time instead of running ahead, then shows.
    h.Idle(300);
    EXPECT_EQ(h.Frames().size(), 2u);
    h.Post(kCmdPresent, 160000);
    ASSERT_NE((f = h.WaitFrame(30000)), nullptr);
    EXPECT_EQ(f->pts, 160000);
    EXPECT_EQ(f->width, 2560);
}

// kCmdSnapshotSource saves the oriented source with brightness applied and
// without the watermark; kCmdSnapshotShown saves exactly the picture on
// screen. Each is complete when it appears, and nothing else is left in the
// folder.
TEST(Morvane, SnapshotsAreBitmapsOfTheRightPicture) {
    PreviewHarness h({.file = Ramp(2), .outWidth = 80, .outHeight = 60, .brightness = 20,
                      .project = [](auto& p) { PlaceRedWatermark(p, 10, 10, 20, 10); }});
    auto& p = h.Project();
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    const DeliveredFrame shown = *f;
    ASSERT_TRUE(IsRed(shown.At(15, 15)));

    const std::string dir = dec_test::Folder("posters");
    const auto snapshot = [&](PreviewCommand code, const std::string& name, picture::Bitmap& out) {
        const std::string path = dir + "/" + name;
        platform::WStrCopy(p.m_szPosterImage, platform::FromUtf8(path));
        h.Post(code);
        for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
            h.Idle(30);
        ASSERT_TRUE(std::filesystem::exists(path));
        // The first look at the file already finds the whole picture.
        ASSERT_EQ(picture::LoadPicture(path, out), picture::Error::None);
    };
    picture::Bitmap grab, screen;
    snapshot(kCmdSnapshotSource, "grab.bmp", grab);
    snapshot(kCmdSnapshotShown, "screen.bmp", screen);
    const std::vector<uint8_t> bmp = ReadFile(dir + "/grab.bmp");
    ASSERT_GT(bmp.size(), 2u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');

    ASSERT_EQ(grab.Width(), 160);
    ASSERT_EQ(grab.Height(), 120);
    // Ramp frame 3 is luma 28, 14 in RGB; brightness 20 adds 20.
    const int brightened = 14 + 20;
    EXPECT_NEAR(grab.Pixel(40, 40).g, brightened, 3);
    EXPECT_LT(grab.Pixel(15, 15).r, 100); // no watermark

    ASSERT_EQ(screen.Width(), shown.width);
    ASSERT_EQ(screen.Height(), shown.height);
    int differing = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x) {
            const picture::Bgra s = screen.Pixel(x, y);
            const uint8_t* d = shown.At(x, y);
            differing += s.b != d[0] || s.g != d[1] || s.r != d[2];
        }
    EXPECT_EQ(differing, 0);

    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"grab.bmp", "screen.bmp"}));
}

// A snapshot of the current frame taken while the watermark is being placed
// is the picture without the editing dimming and dashed frame.
TEST(Morvane, SnapshotLeavesOutTheWatermarkEditing) {
    PreviewHarness h({.file = Ramp(2), .outWidth = 80, .outHeight = 60,
                      .project = [](auto& p) { PlaceRedWatermark(p, 10, 10, 20, 10); }});
    auto& p = h.Project();
    const DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr) << h.Log();
    const DeliveredFrame plain = *f;
    h.Post(kCmdEnterWatermarkMode);
    ASSERT_NE((f = h.WaitFrame()), nullptr) << h.Log();
    const DeliveredFrame editing = *f;
    // The editing picture does differ where the frame is dashed.
    ASSERT_FALSE(std::memcmp(editing.At(9, 9), plain.At(9, 9), 3) == 0 &&
                 std::memcmp(editing.At(70, 50), plain.At(70, 50), 3) == 0);

    const std::string path = dec_test::Folder("edit-posters") + "/screen.bmp";
    platform::WStrCopy(p.m_szPosterImage, platform::FromUtf8(path));
    h.Post(kCmdSnapshotShown);
    for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
        h.Idle(30);
    picture::Bitmap shot;
    ASSERT_EQ(picture::LoadPicture(path, shot), picture::Error::None);
    ASSERT_EQ(shot.Width(), plain.width);
    ASSERT_EQ(shot.Height(), plain.height);
    for (const auto& [x, y] : {std::pair{9, 9}, std::pair{70, 50}, std::pair{15, 15}}) {
        const picture::Bgra s = shot.Pixel(x, y);
        const uint8_t* d = plain.At(x, y);
        EXPECT_NEAR(s.r, d[2], 2) << x << "," << y;
        EXPECT_NEAR(s.g, d[1], 2) << x << "," << y;
        EXPECT_NEAR(s.b, d[0], 2) << x << "," << y;
    }
}

// What the blocks hold is not trusted: a frame block too small for the
// display size is never written past, project sizes that disagree with the
// source do not size any buffer, and path fields without a NUL are cut.
TEST(Morvane, HostileBlocksAreSurvived) {
    PreviewHarness h({.file = Ramp(2), .frameBlockBytes = 160 * 120 * 4 - 4});
    auto& p = h.Project();
    p.m_VideoWidth = 4000; // not what the source is
    p.m_VideoHeight = 16;
    for (auto& c : p.m_WatermarkFile)
        c = u'a';
    p.m_WatermarkWidth = p.m_WatermarkHeight = 10;
    h.Idle(1500);
    EXPECT_TRUE(h.Frames().empty());
    EXPECT_TRUE(h.Running());
    EXPECT_NE(h.Log().find("does not fit"), std::string::npos) << h.Log();

    p.m_OutputWidth = 80;
    p.m_OutputHeight = 60;
    h.Post(kCmdWatermarkPictureChanged);
    h.Post(kCmdOutputSizeChanged);
    h.Idle(500);
    ASSERT_FALSE(h.Frames().empty()) << h.Log();
    const DeliveredFrame& f = h.Last();
    EXPECT_EQ(f.width, 80);
    EXPECT_EQ(f.height, 60);
    EXPECT_EQ(Index(f, 40, 30), 3);

    const size_t count = h.Frames().size();
    h.Post(kCmdEnterCropMode); // the whole source, sized from the source and not the project
    h.Idle(500);
    EXPECT_EQ(h.Frames().size(), count); // 160 x 120 still does not fit
    EXPECT_TRUE(h.Running());
    const std::u16string missing = platform::FromUtf8(dec_test::Folder("posters") + "/none/");
    for (size_t i = 0; i < std::size(p.m_szPosterImage); ++i)
        p.m_szPosterImage[i] = i < missing.size() ? missing[i] : u'b';
    h.Post(kCmdSnapshotSource);
    h.Idle(300);
    EXPECT_TRUE(h.Running());
}

} // namespace
