// The whole preview with the real helper and plug-in: an imported ramp clip
// shows its first picture without a tick, and Play moves the picture on with
// the clock.
#include "system/Exports.h"
#include "system/Folders.h"
#include "media/History.h"
#include "preview/PreviewSession.h"
#include "records/Project.h"
#include "system/RouterQt.h"
#include "records/Settings.h"
#include "probe_fixture.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstring>
#include <memory>
#include <gtest/gtest.h>

#include "media_check.h"
#include "media_fixtures.h"
#include "platform/registry.h"
#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"

using namespace reelpage;

namespace {

// Runs the event loop until done() or the time-out; false on time-out.
template <typename Done> bool WaitFor(Done done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The ramp frame a picture shows, from its centre pixel.
int ShownFrame(const QImage& picture) {
    const QRgb c = picture.pixel(picture.width() / 2, picture.height() / 2);
    return testing_media::RampIndex((qRed(c) + qGreen(c) + qBlue(c)) / 3.0);
}

} // namespace

// The engine as the program has it once a 4 s ramp clip is imported: an
// offscreen application, the router on Qt, the folders, an empty history.
class PreviewEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("REELPAGE_AUDIO_SINK", "paced");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        ASSERT_TRUE(AttachRouterToQt());
        SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
        ASSERT_EQ(InitFolders(), 0);
        platform::RegDeleteKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo");
        ReloadHistoryForTesting();
        std::memset(&TheSettings(), 0, sizeof(Settings));
        const std::string file = probe_test::Folder("media") + "/ramp.mp4";
        ASSERT_TRUE(testing_media::MakeRamp(file, 4, 25));
        probe_test::ImportWindow import;
        m_media = Bind<FnOpenMedia>(kOpenMedia)(platform::FromUtf8(file).c_str(), import.Handle(),
                                                1, kMsgProbeDone, kMsgProbeProgress);
        ASSERT_NE(m_media, nullptr);
        ASSERT_EQ(import.WaitDone(), kProbeOk);
    }

    // Shows AREA as the program's render area: a window the engine finds by
    // its handle. The caller destroys the handle.
    static uint32_t ShowRenderArea(QWidget& area) {
        area.resize(640, 480);
        const uint32_t hwnd = platform::RouterCreateWindow(
            [](uint32_t, uint32_t, int64_t, int64_t) { return int64_t(0); });
        area.setProperty("reelpage_hwnd", QVariant::fromValue<uint32_t>(hwnd));
        area.show();
        return hwnd;
    }

    int m_argc = 1;
    char m_name[12] = "test_engine";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
    MediaInfo* m_media = nullptr;
};

TEST_F(PreviewEndToEnd, FirstPictureWithoutATickThenPlayAdvances) {
    MediaInfo* media = m_media;

    QWidget area;
    const uint32_t areaHwnd = ShowRenderArea(area);
    std::vector<int64_t> seconds;
    const uint32_t notify = platform::RouterCreateWindow(
        [&](uint32_t, uint32_t msg, int64_t w, int64_t) {
            if (msg == kMsgPreviewSecond) seconds.push_back(w);
            return int64_t(0);
        });

    Project* project = Bind<FnCreateProject>(kCreateProject)(media, areaHwnd, notify);
    ASSERT_NE(project, nullptr);
    PreviewSession* session = CurrentPreviewSession();
    ASSERT_NE(session, nullptr);
    RenderWindow* window = session->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->geometry(), QRect(240, 180, 160, 120)); // output 160x120, not enlarged

    ASSERT_TRUE(WaitFor([&] { return window->PresentedCount() > 0; }, 15000))
        << "no first picture";
    const int first = ShownFrame(window->Picture());
    EXPECT_LE(first, 4);

    Bind<FnPlay>(kPlay)();
    ASSERT_TRUE(WaitFor([&] { return session->ClockPosition() >= 1500000; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return Bind<FnGetPosition>(kGetPosition)() >= 1000000; }, 5000));
    const int presented = window->PresentedCount();
    EXPECT_GT(presented, 20);
    const int shown = ShownFrame(window->Picture());
    const int due = testing_media::RampIndexAt(Bind<FnGetPosition>(kGetPosition)(), 25);
    EXPECT_NEAR(shown, due, 2) << "picture frame " << shown << ", helper's position frame " << due;
    EXPECT_FALSE(seconds.empty());
    Bind<FnPause>(kPause)();
    EndPreviewSession();
    platform::RouterDestroyWindow(notify);
    platform::RouterDestroyWindow(areaHwnd);
}

// The program closed with a video loaded and playing: its window goes, then
// the engine's exit ends the session (helper, window, clock) while Qt still
// runs, rather than leaving it to static destructors after the application
// object is gone.
TEST_F(PreviewEndToEnd, TheEnginesExitEndsAPlayingSession) {
    MediaInfo* media = m_media;
    auto area = std::make_unique<QWidget>();
    area->resize(640, 480);
    const uint32_t areaHwnd = platform::RouterCreateWindow(
        [](uint32_t, uint32_t, int64_t, int64_t) { return int64_t(0); });
    area->setProperty("reelpage_hwnd", QVariant::fromValue<uint32_t>(areaHwnd));
    area->show();
    ASSERT_NE(Bind<FnCreateProject>(kCreateProject)(media, areaHwnd, 0), nullptr);
    PreviewSession* session = CurrentPreviewSession();
    ASSERT_NE(session, nullptr);
    Bind<FnPlay>(kPlay)();
    ASSERT_TRUE(WaitFor([&] { return session->ClockPosition() >= 300000; }, 10000));
    const std::string helper =
        media_check::HelperPids(getpid(), "dec");
    ASSERT_FALSE(helper.empty());

    area.reset(); // the main window is gone first
    ExitEngine();
    EXPECT_EQ(CurrentPreviewSession(), nullptr);
    EXPECT_TRUE(media_check::HelperPids(getpid(), "dec").empty());
    platform::RouterDestroyWindow(areaHwnd);
}

// Play at the end starts from the clip start: the picture stays on the last
// frame until Play, and the first new picture after it is the clip start's
// (the helper prepared it at the end; nothing of the end's comes in between).
TEST_F(PreviewEndToEnd, PlayAtTheEndShowsTheClipStartFirst) {
    QWidget area;
    const uint32_t areaHwnd = ShowRenderArea(area);
    Project* project = Bind<FnCreateProject>(kCreateProject)(m_media, areaHwnd, 0);
    ASSERT_NE(project, nullptr);
    PreviewSession* session = CurrentPreviewSession();
    ASSERT_NE(session, nullptr);
    RenderWindow* window = session->Window();
    ASSERT_TRUE(WaitFor([&] { return window->PresentedCount() > 0; }, 15000));
    project->m_ClipStart = 1200000;

    Bind<FnSeek>(kSeek)(3);
    ASSERT_TRUE(WaitFor([&] { return Bind<FnGetPosition>(kGetPosition)() >= 3000000; }, 10000));
    Bind<FnPlay>(kPlay)();
    ASSERT_TRUE(WaitFor([&] { return session->Rewind(); }, 10000)) << "playback did not end";
    const int lastFrame = ShownFrame(window->Picture());
    const int64_t lastPosition = Bind<FnGetPosition>(kGetPosition)();
    EXPECT_GE(lastPosition, 3800000);
    WaitFor([] { return false; }, 500); // the helper prepares meanwhile
    EXPECT_EQ(ShownFrame(window->Picture()), lastFrame) << "the end stays until Play";
    EXPECT_EQ(Bind<FnGetPosition>(kGetPosition)(), lastPosition);

    // Paused again at once, before the clock's first tick: whatever the
    // helper shows next is Play's first picture, with nothing after it.
    Bind<FnPlay>(kPlay)();
    Bind<FnPause>(kPause)();
    ASSERT_TRUE(WaitFor([&] { return ShownFrame(window->Picture()) != lastFrame; }, 10000));
    EXPECT_EQ(ShownFrame(window->Picture()), testing_media::RampIndexAt(1200000, 25));
    EXPECT_EQ(Bind<FnGetPosition>(kGetPosition)(), 1200000);

    // And it plays on from there with the clock.
    Bind<FnPlay>(kPlay)();
    ASSERT_TRUE(WaitFor([&] { return Bind<FnGetPosition>(kGetPosition)() >= 1800000; }, 10000));
    // Frames 31 to 45 by now (a loaded machine may show the window's copy a
    // few frames late, never one from before the clip start or the end).
    EXPECT_GT(ShownFrame(window->Picture()), 31);
    EXPECT_LE(ShownFrame(window->Picture()), 49);
    Bind<FnPause>(kPause)();
    EndPreviewSession();
    platform::RouterDestroyWindow(areaHwnd);
}
