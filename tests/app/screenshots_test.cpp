// Pictures of the splash window, the main window with its help page and the
// about box, for looking at by hand (not run by default). Under a display:
//   REELPAGE_SCREENSHOT_DIR=/tmp/shots QT_QPA_PLATFORM=xcb xvfb-run -a
//   build/tests/test_app --gtest_also_run_disabled_tests --gtest_filter='Screenshots.*'
#include <gtest/gtest.h>

#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <QWebEngineView>

#include "About.h"
#include "Flash.h"
#include "Functions.h"
#include "LowInterface.h"
#include "Main.h"
#include "Options.h"
#include "Poster.h"
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

// The Options dialog's pages, the Watermark panel with a picture and an
// advertisement, and the Poster dialog, under the same display.
TEST(Screenshots, DISABLED_OptionsWatermarkPoster) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    apptest::UseProgramFolder();
    apptest::StandInMainWindowEngine();
    ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    AppSettings->m_DefaultFormats[0] = -1;
    AppSettings->m_SizeIndex = 9;
    AppSettings->m_OutputWidth = 1000;
    AppSettings->m_OutputHeight = 562;
    AppSettings->m_WatermarkHPosition = 4;
    AppSettings->m_WatermarkVPosition = 4;
    AppSettings->m_WatermarkTransparency = 100;
    {
        TfrmOptions options(nullptr);
        options.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&options));
        for (int page = 0; page < options.PageControl1->count(); ++page) {
            options.PageControl1->setCurrentIndex(page);
            QTest::qWait(100);
            EXPECT_TRUE(options.grab().save(folder + QStringLiteral("/options%1.png").arg(page)));
        }
    }

    static Project project{};
    project.m_OutputWidth = 640;
    project.m_OutputHeight = 360;
    const QString logo = ResourceFolder + QStringLiteral("Logo.png");
    SetFieldText(project.m_WatermarkFile, logo);
    project.m_WatermarkImageWidth = 480;
    project.m_WatermarkImageHeight = 290;
    project.m_WatermarkWidth = 160;
    project.m_WatermarkHeight = 96;
    project.m_WatermarkLeft = 480;
    project.m_WatermarkTop = 264;
    project.m_WatermarkHPosition = 4;
    project.m_WatermarkVPosition = 4;
    project.m_WatermarkTransparency = 100;
    SetFieldText(project.m_AdFile, logo);
    project.m_AdImageWidth = 480;
    project.m_AdImageHeight = 290;
    project.m_AdWidth = 480;
    project.m_AdHeight = 290;
    SetFieldText(project.m_AdLink, QStringLiteral("https://example.test/shop"));
    SetFieldText(project.m_szPosterImage, logo);
    AppProject = &project;
    {
        TfrmMain main;
        main.show();
        main.SetCurrentControl(2);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        QTest::qWait(500);
        EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/watermark.png")));
        TfrmPoster poster(&main);
        poster.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&poster));
        EXPECT_TRUE(poster.grab().save(folder + QStringLiteral("/poster.png")));
    }
    AppProject = nullptr;
}
