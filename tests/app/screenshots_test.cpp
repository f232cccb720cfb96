// Pictures of every window, for looking at by hand (not run by default).
// Under a display:
//   REELPAGE_SCREENSHOT_DIR=/tmp/shots QT_QPA_PLATFORM=xcb xvfb-run -a
//   build/tests/test_app --gtest_also_run_disabled_tests --gtest_filter='Screenshots.*'
// With QT_FONT_DPI=144 the whole interface is scaled by one and a half; with
// QT_ENABLE_HIGHDPI_SCALING=0 as well only the text grows, as with a larger
// system font, which is where a text too long for its place shows.
#include <gtest/gtest.h>

#include <QDir>
#include <QSpinBox>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QWebEngineView>

#include "dialogs/About.h"
#include "panels/Editor.h"
#include "dialogs/Effect.h"
#include "controls/CommandLinkButton.h"
#include "dialogs/Flash.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "panels/Home.h"
#include "LowInterface.h"
#include "Main.h"
#include "dialogs/FileInformation.h"
#include "dialogs/Loading.h"
#include "dialogs/Options.h"
#include "dialogs/Poster.h"
#include "dialogs/PublishFrm.h"
#include "dialogs/Task.h"
#include "app_test_support.h"
#include "media_fixtures.h"

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
    AppSettings->m_WatermarkHPosition = reelpage::kAlignEnd;
    AppSettings->m_WatermarkVPosition = reelpage::kAlignEnd;
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
    project.m_WatermarkHPosition = reelpage::kAlignEnd;
    project.m_WatermarkVPosition = reelpage::kAlignEnd;
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

TEST(Screenshots, DISABLED_EditPanelAndEffects) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    apptest::UseProgramFolder();
    apptest::StandInMainWindowEngine();
    Low.IsVistaOrLater.Set([]() -> reelpage::BOOL { return 1; });
    static Project project{};
    static MediaInfo media{};
    project.m_VideoWidth = 1280;
    project.m_VideoHeight = 720;
    project.m_CropLeft = 160;
    project.m_CropTop = 0;
    project.m_CropWidth = 960;
    project.m_CropHeight = 720;
    project.m_OutputWidth = 960;
    project.m_OutputHeight = 720;
    project.m_Brightness = 20;
    project.m_Saturation = -15;
    project.m_Formats[0] = -1;
    SetFieldText(media.m_szName, QStringLiteral("Holiday"));
    AppProject = &project;
    AppProjectMedia = &media;

    TfrmMain main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    main.SetCurrentControl(1);
    QTest::qWait(300);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/edit_panel.png")));

    TfrmEffect dialog(&main);
    dialog.PageControl1->setCurrentIndex(1);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::qWait(200);
    EXPECT_TRUE(dialog.grab().save(folder + QStringLiteral("/effects.png")));
    dialog.PageControl1->setCurrentIndex(2);
    QTest::qWait(100);
    EXPECT_TRUE(dialog.grab().save(folder + QStringLiteral("/effects_blur.png")));
    dialog.close();
    main.SetCurrentControl(0);
    AppProject = nullptr;
    AppProjectMedia = nullptr;
}

// The Edit panel on a real import with the real engine: a rotation and a
// ratio preset as a user makes them, the main window grabbed after each.
TEST(Screenshots, DISABLED_EditPanelOnARealImport) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    apptest::UseProgramFolder();
    BindLowInterface();
    ASSERT_TRUE(Low.LoadProductInfo(&AppProductInfo));
    Low.InitDiagnostics();
    ASSERT_EQ(Low.InitFolders(), 0);
    ASSERT_EQ(apptest::StartEngineOnce(), 0);
    AppSettings = Low.GetSettings();
    ASSERT_NE(AppSettings, nullptr);

    const QString video = QDir::tempPath() + QStringLiteral("/edit_panel_clip.mp4");
    ASSERT_TRUE(testing_media::Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25", "-t",
                                       "3", "-pix_fmt", "yuv420p", video.toStdString()}));
    TfrmMain main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    apptest::OpenFileRecorder files({video});
    main.frmHome->btnAddFileClick();
    ASSERT_NE(AppProject, nullptr);
    EXPECT_EQ(AppProject->m_VideoWidth, 640);

    main.frmHome->btnEdit->click();
    ASSERT_EQ(main.CurrentControl(), 1);
    QTest::qWait(500);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/real_edit.png")));

    main.frmEdit->btnRotateRight->click();
    EXPECT_EQ(AppProject->m_VideoWidth, 360);
    EXPECT_EQ(main.frmEdit->spCropWidth->maximum(), 360);
    EXPECT_EQ(main.frmEdit->spCropHeight->maximum(), 640);
    main.frmEdit->ApplyCropAspect(16, 9);
    EXPECT_EQ(AppProject->m_CropWidth, 352);
    EXPECT_EQ(AppProject->m_CropHeight, 198);
    main.frmEdit->tbContrast->setValue(30);
    QTest::qWait(500);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/real_edit_rotated.png")));
    main.SetCurrentControl(0);
    QTest::qWait(300);
    EXPECT_TRUE(main.grab().save(folder + QStringLiteral("/real_general_after_edit.png")));
    AppProject = nullptr;
    AppProjectMedia = nullptr;
}

// The file information, import, encoding and publish windows, and every
// page of the Effects dialog.
TEST(Screenshots, DISABLED_InformationImportEncodingPublishEffects) {
    QString folder = qEnvironmentVariable("REELPAGE_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    apptest::UseProgramFolder();
    apptest::StandInMainWindowEngine();
    ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    static Project project{};
    static MediaInfo media = apptest::LongVideo();
    project.m_OutputWidth = 640;
    project.m_OutputHeight = 360;
    AppProject = &project;
    AppProjectMedia = &media;
    auto shoot = [&](QWidget* window, const QString& name) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        QTest::qWait(200);
        EXPECT_TRUE(window->grab().save(folder + QStringLiteral("/%1.png").arg(name)));
    };
    TfrmMain main;
    {
        TfrmMediaInfo info(&main);
        info.InitForm(&media);
        shoot(&info, QStringLiteral("file_information"));
    }
    {
        TfrmLoading loading(&main);
        shoot(&loading, QStringLiteral("loading"));
    }
    {
        TfrmTasklist encoding(nullptr);
        encoding.setAttribute(Qt::WA_DeleteOnClose, false);
        shoot(&encoding, QStringLiteral("encoding"));
    }
    {
        TfrmPublish publish(nullptr);
        shoot(&publish, QStringLiteral("publish"));
    }
    {
        TfrmEffect effects(&main);
        for (int page = 0; page < effects.PageControl1->count(); ++page) {
            effects.PageControl1->setCurrentIndex(page);
            shoot(&effects, QStringLiteral("effects_page%1").arg(page));
        }
    }
    AppProject = nullptr;
    AppProjectMedia = nullptr;
}
