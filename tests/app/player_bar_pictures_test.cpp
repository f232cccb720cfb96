// Pictures of the player bar and of the preview after a real import, for
// looking at by hand (not run by default). Under a display:
//   REELPAGE_SCREENSHOT_DIR=/tmp/shots QT_QPA_PLATFORM=xcb xvfb-run -a
//   build/tests/test_app --gtest_also_run_disabled_tests --gtest_filter='Screenshots.*'
#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "panels/Home.h"
#include "LowInterface.h"
#include "Main.h"
#include "controls/MediaPlayTrackBar.h"
#include "app_test_support.h"
#include "media_fixtures.h"

using namespace reelpage::app;
TEST(Screenshots, DISABLED_PlayerBarWithAClip) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    apptest::UseProgramFolder();
    apptest::StandInMainWindowEngine();
    static MediaInfo media{};
    media.m_bVideoStream = 1;
    media.m_Duration = 2 * 3600 * 1'000'000LL + 5'000'000;
    static Project project{};
    project.m_ClipStart = 600'000'000;
    project.m_ClipStop = 4'000'000'000;
    AppProject = &project;
    AppProjectMedia = &media;
    TfrmMain main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    main.OnTaskChanged();
    main.WndProc(reelpage::kMsgPreviewSecond, 2500, 0);
    QTest::qWait(300);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/player_bar.png")));
    AppProject = nullptr;
    AppProjectMedia = nullptr;
}

// The whole road with the real engine and helpers: import a generated clip,
// see its first picture, play it, seek, and play past a clip end.
TEST(Screenshots, DISABLED_PreviewAfterARealImport) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    std::string clip = (folder + QStringLiteral("/ramp.mp4")).toStdString();
    ASSERT_TRUE(testing_media::MakeRamp(clip, 6.0, 25));
    apptest::UseProgramFolder();
    BindLowInterface();
    ASSERT_TRUE(Low.LoadProductInfo(&AppProductInfo));
    ApplicationTitle = ProductString(kProductTitle);
    Low.InitDiagnostics();
    ASSERT_EQ(Low.InitFolders(), 0);
    ASSERT_EQ(apptest::StartEngineOnce(), 0);
    AppSettings = Low.GetSettings();
    ASSERT_NE(AppSettings, nullptr);

    TfrmMain main;
    main.resize(1024, 630);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    main.frmHome->AddFile(QString::fromStdString(clip));
    ASSERT_NE(AppProject, nullptr) << "the import made a project";
    EXPECT_TRUE(main.btnPlay->isEnabled());
    EXPECT_EQ(main.TrackBar1->Max(), 6);
    QTest::qWait(1000);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/preview_first_frame.png")));

    main.btnPlay->click();
    EXPECT_TRUE(apptest::WaitFor([&] { return main.TrackBar1->Position() >= 2; }, 5000))
        << "the bar follows playing";
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/preview_playing.png")));
    main.btnPlay->click();

    // A clip from 1 s to 3 s: played from inside it, it stops at its end and
    // starts again at its start.
    main.TrackBar1->SetPosition(1);
    main.btnClipStart->click();
    main.TrackBar1->SetPosition(3);
    main.btnClipStop->click();
    EXPECT_EQ(AppProject->m_ClipStart, 1'000'000);
    EXPECT_EQ(AppProject->m_ClipStop, 3'000'000);
    main.btnPlay->click(); // the thumb is at the stop: back to the start first
    EXPECT_TRUE(apptest::WaitFor([&] { return !main.Playing(); }, 8000)) << "stopped at the end";
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/preview_clip_end.png")));
    main.btnPlay->click();
    EXPECT_EQ(main.TrackBar1->Position(), 1) << "again from the clip start";
    main.btnPlay->click();
    AppProject = nullptr;
    AppProjectMedia = nullptr;
}
