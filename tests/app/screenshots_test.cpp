// Pictures of the splash window, the main window with its help page and the
// about box, for looking at by hand (not run by default). Under a display:
//   REELPAGE_SCREENSHOT_DIR=/tmp/shots QT_QPA_PLATFORM=xcb xvfb-run -a
//   build/tests/test_app --gtest_also_run_disabled_tests --gtest_filter='Screenshots.*'
#include <gtest/gtest.h>

#include <QDir>
#include <QTest>
#include <QWebEngineView>

#include "About.h"
#include "Flash.h"
#include "Functions.h"
#include "LowInterface.h"
#include "Main.h"
#include "app_test_support.h"

using namespace reelpage::app;

TEST(Screenshots, DISABLED_SplashMainWindowAbout) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    apptest::UseProgramFolder();
    BindLowInterface();
    ASSERT_TRUE(Low.LoadProductInfo(&AppProductInfo));
    ApplicationTitle = ProductString(kProductTitle);
    static Settings settings{};
    SetFieldText(settings.m_szFolder, QDir::homePath() + QStringLiteral("/Videos/Web Packages"));
    AppSettings = &settings;

    TfrmFlash splash;
    splash.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&splash));
    EXPECT_TRUE(splash.grab().save(folder + QStringLiteral("/splash.png")));

    TfrmMain main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ASSERT_TRUE(apptest::WaitFor([&] { return main.DocumentComplete(); }, 30000));
    QTest::qWait(1000);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/main.png")));

    auto* about = new TfrmAbout(&main);
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    QTest::qWait(200);
    EXPECT_TRUE(about->grab().save(folder + QStringLiteral("/about.png")));
    about->close();
}

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
