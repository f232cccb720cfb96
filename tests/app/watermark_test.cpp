// The Watermark panel in the main window against a stand-in engine: fitting
// pictures into the output, alignment, sizes, the output size changing, the
// advertisement, the watermark dragged in the preview, and watermark mode
// following the current panel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
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

namespace {

// Drags data over a widget and drops it there, as a file manager would;
// whether the widget took the drag.
bool DragAndDrop(QWidget* target, QMimeData* data) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QMimeData* FileDrag(const QStringList& files) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& f : files)
        urls << QUrl::fromLocalFile(f);
    data->setUrls(urls);
    return data;
}

} // namespace

TEST_F(WatermarkPanel, APictureDroppedOnThePanelBecomesTheWatermark) {
    apptest::MessageRecorder boxes;
    const std::unique_ptr<QMimeData> picture(FileDrag({Picture(100, 50)}));
    ASSERT_TRUE(DragAndDrop(panel, picture.get()));
    ASSERT_TRUE(apptest::WaitFor([&] { return !g_calls.empty(); }, 2000));
    EXPECT_EQ(g_calls, std::vector<std::string>{"Picture"});
    EXPECT_EQ(FieldText(project.m_WatermarkFile), picture->urls()[0].toLocalFile());
    EXPECT_EQ(project.m_WatermarkWidth, 100);
    EXPECT_EQ(project.m_WatermarkLeft, 540) << "placed as a chosen picture is";
    EXPECT_TRUE(boxes.shown.empty());

    // A file that is no picture: refused with the picture message, and the
    // watermark stays.
    const QString text = folder.filePath(QStringLiteral("notes.png"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write("not a picture"), 13);
    file.close();
    g_calls.clear();
    const std::unique_ptr<QMimeData> notPicture(FileDrag({text}));
    ASSERT_TRUE(DragAndDrop(panel, notPicture.get()));
    ASSERT_TRUE(apptest::WaitFor([&] { return !boxes.shown.empty(); }, 2000));
    EXPECT_EQ(boxes.shown[0].text,
              "Does not support the file or the file is not a valid image file.");
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(FieldText(project.m_WatermarkFile), picture->urls()[0].toLocalFile());

    // Text, two files or a folder are not even taken.
    QMimeData words;
    words.setText(QStringLiteral("hello"));
    EXPECT_FALSE(DragAndDrop(panel, &words));
    const std::unique_ptr<QMimeData> two(FileDrag({Picture(10, 10), Picture(20, 20)}));
    EXPECT_FALSE(DragAndDrop(panel, two.get()));
    const std::unique_ptr<QMimeData> dir(FileDrag({folder.path()}));
    EXPECT_FALSE(DragAndDrop(panel, dir.get()));
    apptest::WaitFor([] { return false; }, 100);
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(WatermarkPanel, AVideoDroppedOnTheWindowGoesThroughTheImport) {
    static std::vector<QString> opened;
    opened.clear();
    Low.OpenMedia.Set([](const WCHAR* file, HWND notify, int32_t, uint32_t done, uint32_t) {
        opened.push_back(QString::fromUtf16(file));
        // The engine's verdict: not a format it reads.
        PostAppMessage(notify, done, -3, 0);
        static MediaInfo record{};
        return &record;
    });
    apptest::MessageRecorder boxes;
    main->show();
    const QString video = folder.filePath(QStringLiteral("movie.mp4"));
    QFile file(video);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const std::unique_ptr<QMimeData> drag(FileDrag({video}));
    // Dropped on the player bar: the window's, so an import.
    ASSERT_TRUE(DragAndDrop(main->palPlayer, drag.get()));
    ASSERT_TRUE(apptest::WaitFor([&] { return !boxes.shown.empty(); }, 5000));
    EXPECT_EQ(opened, std::vector<QString>{video});
    EXPECT_EQ(boxes.shown[0].text, "Not support this file.") << "the import's own message";
    EXPECT_EQ(main->CurrentControl(), 0) << "the import runs on the General panel";
    EXPECT_EQ(AppProject, &project) << "a failed import keeps the project";
}
