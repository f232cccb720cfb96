// The Watermark panel in the main window against a stand-in engine: fitting
// pictures into the output, alignment, sizes, the output size changing, the
// advertisement, the watermark dragged in the preview, and watermark mode
// following the current panel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "controls/GraphicsGroupRadio.h"
#include "LowInterface.h"
#include "Main.h"
#include "panels/Watermark.h"
#include "WindowHandle.h"
#include "app_test_support.h"
#include "reelpage/messages.h"

using namespace reelpage::app;

namespace {

std::vector<std::string> g_calls; // the watermark exports called, in order
int32_t FakeEnter() {
    return g_calls.push_back("Enter"), 0;
}
int32_t FakeLeave() {
    return g_calls.push_back("Leave"), 0;
}
int32_t FakePosition() {
    return g_calls.push_back("Position"), 0;
}
int32_t FakePicture() {
    return g_calls.push_back("Picture"), 0;
}

class WatermarkPanel : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        apptest::StandInMainWindowEngine();
        ASSERT_EQ(apptest::StartEngineOnce(), 0);
        ASSERT_TRUE(folder.isValid());
        Low.EnterWatermarkMode.Set(&FakeEnter);
        Low.LeaveWatermarkMode.Set(&FakeLeave);
        Low.ApplyWatermarkPosition.Set(&FakePosition);
        Low.ApplyWatermarkPicture.Set(&FakePicture);
        AppSettings->m_WatermarkHPosition = reelpage::kAlignEnd;
        AppSettings->m_WatermarkVPosition = reelpage::kAlignEnd;
        project = Project{};
        project.m_OutputWidth = 640;
        project.m_OutputHeight = 360;
        AppProject = &project;
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
        main = std::make_unique<TfrmMain>();
        panel = main->frmWatermark;
        main->SetCurrentControl(2);
        g_calls.clear();
    }
    void TearDown() override {
        main.reset();
        AppProject = nullptr;
    }
    QString Picture(int w, int h) {
        const QString path = folder.filePath(QStringLiteral("pic_%1x%2.png").arg(w).arg(h));
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(qRgba(255, 0, 0, 128));
        EXPECT_TRUE(image.save(path));
        return path;
    }
    void Choose(TGraphicsButton* button, const QString& path) {
        apptest::OpenFileRecorder files({path});
        button->click();
        ASSERT_EQ(files.asked.size(), 1u);
    }

    QTemporaryDir folder;
    Project project;
    std::unique_ptr<TfrmMain> main;
    TfrmWatermark* panel = nullptr;
};

} // namespace

TEST(WatermarkFit, PicturesAreFittedIntoTheOutput) {
    struct Case {
        int w, h, ow, oh, fitW, fitH;
    };
    const Case cases[] = {
        {400, 100, 320, 240, 320, 80},
        {100, 400, 320, 240, 60, 240},
        {100, 50, 320, 240, 100, 50},
        {320, 240, 320, 240, 320, 240},
        {1920, 1080, 640, 480, 640, 360},
        // A size never read: no ratio, no division by zero.
        {0, 900, 320, 240, 0, 240},
        {900, 0, 320, 240, 320, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitPictureIntoOutput(c.w, c.h, c.ow, c.oh), QSize(c.fitW, c.fitH))
            << c.w << "x" << c.h << " into " << c.ow << "x" << c.oh;
}

TEST_F(WatermarkPanel, NewWatermarkTakesTheDefaultAlignment) {
    Choose(panel->btnAdd, Picture(100, 50));
    EXPECT_EQ(FieldText(project.m_WatermarkFile), panel->edWatermark->text());
    EXPECT_EQ(project.m_WatermarkWidth, 100);
    EXPECT_EQ(project.m_WatermarkHeight, 50);
    EXPECT_EQ(project.m_WatermarkLeft, 540);
    EXPECT_EQ(project.m_WatermarkTop, 310);
    EXPECT_EQ(panel->seLeft->value(), 540);
    EXPECT_EQ(panel->seTop->value(), 310);
    EXPECT_TRUE(panel->btnRight->Down());
    EXPECT_TRUE(panel->btnBottom->Down());
    EXPECT_FALSE(panel->btnLeft->Down());
    EXPECT_TRUE(panel->seWidth->isEnabled());
    EXPECT_EQ(panel->lblSizeHint->text(), "Video output size:640*360, Watermark image size:100*50");
    EXPECT_EQ(g_calls, std::vector<std::string>{"Picture"});
}

TEST_F(WatermarkPanel, AlignmentButtonsAndPositionSpins) {
    Choose(panel->btnAdd, Picture(100, 50));
    g_calls.clear();
    panel->btnCenter->click();
    EXPECT_EQ(project.m_WatermarkHPosition, reelpage::kAlignCenter);
    EXPECT_EQ(project.m_WatermarkLeft, 270);
    EXPECT_FALSE(panel->btnRight->Down()) << "one down in a group";
    EXPECT_EQ(g_calls, std::vector<std::string>{"Position"});

    // The pressed one, pressed again, lets go and leaves the watermark.
    panel->btnCenter->click();
    EXPECT_FALSE(panel->btnCenter->Down());
    EXPECT_EQ(project.m_WatermarkHPosition, reelpage::kAlignNone);
    EXPECT_EQ(project.m_WatermarkLeft, 270);
    EXPECT_EQ(g_calls, std::vector<std::string>{"Position"});

    panel->btnCenterd->click();
    EXPECT_EQ(project.m_WatermarkTop, 155);
    // A typed left releases the horizontal buttons; a width change then no
    // longer moves it sideways, while the vertical centring follows.
    panel->btnRight->click();
    panel->seLeft->setValue(12);
    EXPECT_EQ(project.m_WatermarkLeft, 12);
    EXPECT_EQ(project.m_WatermarkHPosition, reelpage::kAlignNone);
    EXPECT_FALSE(panel->btnRight->Down());
    g_calls.clear();
    panel->seWidth->setValue(200);
    EXPECT_EQ(project.m_WatermarkHeight, 100) << "ratio kept";
    EXPECT_EQ(project.m_WatermarkLeft, 12);
    EXPECT_EQ(project.m_WatermarkTop, 130);
    EXPECT_EQ(g_calls, std::vector<std::string>{"Picture"});

    panel->cbxKeepScale->setChecked(false);
    panel->seHeight->setValue(40);
    EXPECT_EQ(project.m_WatermarkWidth, 200) << "uncoupled";
}

TEST_F(WatermarkPanel, OutputSizeChangeRealignsAndRefits) {
    Choose(panel->btnAdd, Picture(100, 50));
    panel->btnCenter->click();
    Choose(panel->btnAddAd, Picture(800, 200));
    EXPECT_EQ(project.m_AdWidth, 640);
    EXPECT_EQ(project.m_AdHeight, 160);
    panel->seWidthAd->setValue(300);
    EXPECT_EQ(project.m_AdHeight, 75);

    project.m_OutputWidth = 320;
    project.m_OutputHeight = 240;
    panel->OnVideoSizeChanged();
    EXPECT_EQ(project.m_WatermarkLeft, 110) << "centred anew";
    EXPECT_EQ(project.m_WatermarkTop, 190) << "still at the bottom";
    EXPECT_EQ(panel->seLeft->value(), 110);
    EXPECT_EQ(project.m_AdWidth, 320) << "the user's size gives way to the fit";
    EXPECT_EQ(project.m_AdHeight, 80);
    EXPECT_EQ(panel->seWidthAd->value(), 320);
    EXPECT_EQ(panel->seWidthAd->maximum(), 320);
}

TEST_F(WatermarkPanel, AdvertisementPictureAndLink) {
    Choose(panel->btnAddAd, Picture(200, 100));
    EXPECT_TRUE(g_calls.empty()) << "the advertisement never involves the engine";
    EXPECT_EQ(panel->lblSizeHintAd->text(),
              "Video output size:640*360, Advertisement image size:200*100");
    EXPECT_EQ(panel->edAdLink->maxLength(), 1023);
    panel->edAdLink->setText(QString(1100, QChar('x')));
    EXPECT_EQ(FieldText(project.m_AdLink).size(), 1023);
    EXPECT_EQ(project.m_AdLink[1023], 0);
    panel->edAdLink->setText(QStringLiteral("https://example.test/"));
    panel->btnDeleteAd->click();
    EXPECT_EQ(project.m_AdFile[0], 0);
    EXPECT_FALSE(panel->edAdLink->isEnabled());
    EXPECT_EQ(FieldText(project.m_AdLink), "https://example.test/");
    EXPECT_EQ(project.m_AdWidth, 200) << "the other fields keep their values";
}

TEST_F(WatermarkPanel, ZeroPictureSideKeepsTheOtherSide) {
    // A record whose picture size was never read.
    SetFieldText(project.m_WatermarkFile, QStringLiteral("/pictures/logo.png"));
    SetFieldText(project.m_AdFile, QStringLiteral("/pictures/ad.png"));
    project.m_WatermarkWidth = 80;
    project.m_WatermarkHeight = 40;
    project.m_AdWidth = 120;
    project.m_AdHeight = 90;
    main->SetCurrentControl(0);
    main->SetCurrentControl(2);
    panel->seWidth->setValue(60);
    EXPECT_EQ(project.m_WatermarkHeight, 40);
    panel->seHeightAd->setValue(30);
    EXPECT_EQ(project.m_AdWidth, 120);
}

TEST_F(WatermarkPanel, DraggedWatermarkUpdatesThePanel) {
    Choose(panel->btnAdd, Picture(100, 50));
    ASSERT_TRUE(panel->btnRight->Down());
    // The engine has moved it and tells the main window.
    project.m_WatermarkLeft = 33;
    project.m_WatermarkTop = 44;
    g_calls.clear();
    ASSERT_TRUE(PostAppMessage(main->Handle(), reelpage::kMsgWatermarkDragged, 0, 0));
    ASSERT_TRUE(apptest::WaitFor([&] { return panel->seLeft->value() == 33; }, 5000));
    EXPECT_EQ(panel->seTop->value(), 44);
    EXPECT_EQ(project.m_WatermarkHPosition, reelpage::kAlignNone);
    EXPECT_EQ(project.m_WatermarkVPosition, reelpage::kAlignNone);
    EXPECT_FALSE(panel->btnRight->Down());
    EXPECT_FALSE(panel->btnBottom->Down());
    EXPECT_TRUE(g_calls.empty()) << "showing the new place is no change to apply";
}

TEST_F(WatermarkPanel, WatermarkModeFollowsTheCurrentPanel) {
    project.m_WatermarkTransparency = 90;
    main->SetCurrentControl(0);
    EXPECT_EQ(g_calls, std::vector<std::string>{"Leave"});
    main->SetCurrentControl(2);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"Leave", "Enter"}));
    EXPECT_EQ(panel->tbTransparency->value(), 90);
    EXPECT_TRUE(g_calls.back() == "Enter") << "showing the values applies nothing";
    // The main window hiding (for encoding) is no change of panel.
    main->hide();
    main->show();
    EXPECT_EQ(g_calls.size(), 2u);
    main->SetCurrentControl(1);
    EXPECT_EQ(g_calls.back(), "Leave");

    // Without a project the panel calls nothing and offers nothing.
    AppProject = nullptr;
    g_calls.clear();
    main->SetCurrentControl(2);
    main->SetCurrentControl(0);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_FALSE(panel->btnAdd->isEnabled());
    panel->btnAdd->click();
    panel->tbTransparency->setValue(5);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(WatermarkPanel, TransparencyIsAppliedAndRemovingStopsTheWatermark) {
    Choose(panel->btnAdd, Picture(100, 50));
    g_calls.clear();
    panel->tbTransparency->setValue(100);
    EXPECT_EQ(project.m_WatermarkTransparency, 100);
    EXPECT_EQ(g_calls, std::vector<std::string>{"Picture"});
    panel->btnDelete->click();
    EXPECT_EQ(project.m_WatermarkFile[0], 0);
    EXPECT_TRUE(panel->edWatermark->text().isEmpty());
    EXPECT_FALSE(panel->tbTransparency->isEnabled());
    EXPECT_TRUE(panel->lblSizeHint->text().isEmpty());
    EXPECT_EQ(g_calls, (std::vector<std::string>{"Picture", "Picture"}));
}
