// The Options dialog against a stand-in engine: what it shows of the
// settings, what each control writes into them, the rules on formats and
// sizes, the template preview, and the one picture check every dialog uses.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <memory>

#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "controls/LinkLabel.h"
#include "LowInterface.h"
#include "dialogs/Options.h"
#include "dialogs/PublishFrm.h"
#include "panels/Watermark.h"
#include "app_test_support.h"
#include "media_fixtures.h"

using namespace reelpage::app;

namespace {

TemplateEntry g_templates[2];
int32_t FakeTemplateCount() {
    return 2;
}
TemplateEntry* FakeTemplate(int32_t index) {
    return index >= 0 && index < 2 ? &g_templates[index] : nullptr;
}
int32_t FakePublishPage(reelpage::BOOL, WCHAR* out) {
    out[0] = 0;
    return 0;
}

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        ASSERT_TRUE(folder.isValid());
        Low.GetTemplateCount.Set(&FakeTemplateCount);
        Low.GetTemplate.Set(&FakeTemplate);
        for (int i = 0; i < 2; ++i) {
            g_templates[i] = TemplateEntry{};
            SetFieldText(g_templates[i].szName, QStringLiteral("Template %1").arg(i));
            QImage preview(900 - i * 700, 300, QImage::Format_RGB32);
            preview.fill(i ? Qt::red : Qt::green);
            const QString path = folder.filePath(QStringLiteral("preview%1.png").arg(i));
            ASSERT_TRUE(preview.save(path));
            SetFieldText(g_templates[i].szPreview, path);
        }
        settings = Settings{};
        settings.m_DefaultFormats[0] = -1;
        settings.m_SizeIndex = 4;
        settings.m_OutputWidth = 640;
        settings.m_OutputHeight = 480;
        settings.m_WatermarkHPosition = reelpage::kAlignEnd;
        settings.m_WatermarkVPosition = reelpage::kAlignStart;
        settings.m_WatermarkTransparency = 70;
        settings.m_Templete = 1;
        settings.m_Controls = -1;
        SetFieldText(settings.m_szFolder, QStringLiteral("/home/user/Web Videos"));
        AppSettings = &settings;
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    }
    void TearDown() override {
        dialog.reset();
        AppSettings = nullptr;
    }
    TfrmOptions* Open() {
        dialog = std::make_unique<TfrmOptions>(nullptr);
        return dialog.get();
    }
    // A picture made by the ffmpeg command, in a format Qt's readers here
    // may not know.
    QString FfmpegPicture(const QString& name) {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(testing_media::Ffmpeg(
            {"-f", "lavfi", "-i", "color=c=blue:s=96x64", "-frames:v", "1", path.toStdString()}));
        return path;
    }

    QTemporaryDir folder;
    Settings settings;
    std::unique_ptr<TfrmOptions> dialog;
};

} // namespace

TEST_F(OptionsDialog, ShowsTheSettings) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "Options ...");
    ASSERT_EQ(dialog->PageControl1->count(), 5);
    const char* pages[] = {"General", "Output Video Sizie", "Business", "Templates", "Performance"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(dialog->PageControl1->tabText(i), pages[i]);
    EXPECT_EQ(dialog->PageControl1->currentIndex(), 0);
    EXPECT_EQ(dialog->edFolder->text(), "/home/user/Web Videos");
    EXPECT_TRUE(dialog->cbxWebm->isChecked());
    EXPECT_FALSE(dialog->cbxMp4->isChecked());
    EXPECT_EQ(dialog->cmbResolution->currentIndex(), 4);
    EXPECT_EQ(dialog->spWidth->value(), 640);
    EXPECT_FALSE(dialog->spWidth->isEnabled());
    EXPECT_EQ(dialog->lblAspect->Caption(), "4:3");
    EXPECT_EQ(dialog->cmbHPosition->currentText(), "Right");
    EXPECT_EQ(dialog->cmbVPosition->currentText(), "Top");
    EXPECT_EQ(dialog->tbTransparency->value(), 70);
    EXPECT_TRUE(dialog->cbxControls->isChecked());
    EXPECT_FALSE(dialog->cbxAutoplay->isChecked());
    EXPECT_EQ(dialog->cmbTemplates->currentIndex(), 1);
    EXPECT_EQ(dialog->cmbTemplates->itemText(0), "Template 0");
    EXPECT_TRUE(dialog->cbxUpdate->isChecked()) << "stored inverted: 0 is checked";
    const Settings before = settings;
    dialog.reset();
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0) << "showing stores nothing";
}

TEST_F(OptionsDialog, StoredValuesOutsideTheListsSelectNothing) {
    settings.m_WatermarkHPosition = reelpage::kAlignNone;
    settings.m_WatermarkVPosition = 3; // no alignment
    settings.m_Templete = 7; // a catalogue that has shrunk
    Open();
    EXPECT_EQ(dialog->cmbHPosition->currentIndex(), -1);
    EXPECT_EQ(dialog->cmbVPosition->currentIndex(), -1);
    EXPECT_EQ(dialog->cmbTemplates->currentIndex(), -1);
    EXPECT_TRUE(dialog->TemplatePreview().isNull());
    EXPECT_EQ(settings.m_Templete, 7) << "kept until a template is chosen";
    dialog->cmbHPosition->setCurrentIndex(1);
    EXPECT_EQ(settings.m_WatermarkHPosition, reelpage::kAlignCenter);
    dialog->cmbVPosition->setCurrentIndex(2);
    EXPECT_EQ(settings.m_WatermarkVPosition, reelpage::kAlignEnd);
}

TEST_F(OptionsDialog, OneFormatIsAlwaysChosen) {
    Open();
    dialog->cbxWebm->click(); // the only one on
    EXPECT_FALSE(dialog->cbxWebm->isChecked());
    EXPECT_TRUE(dialog->cbxMp4->isChecked());
    EXPECT_TRUE(dialog->cbxOgg->isChecked());
    EXPECT_EQ(settings.m_DefaultFormats[0], 0);
    EXPECT_EQ(settings.m_DefaultFormats[1], -1);
    EXPECT_EQ(settings.m_DefaultFormats[2], -1);
    dialog->cbxOgg->click();
    EXPECT_EQ(settings.m_DefaultFormats[2], 0);
    EXPECT_TRUE(dialog->cbxMp4->isChecked());
}

TEST_F(OptionsDialog, SizePresetsAndRatioRoundings) {
    Open();
    dialog->cmbResolution->setCurrentIndex(8);
    EXPECT_EQ(settings.m_SizeIndex, 8);
    EXPECT_EQ(settings.m_OutputWidth, 1920);
    EXPECT_EQ(settings.m_OutputHeight, 1080);
    EXPECT_EQ(dialog->spWidth->value(), 1920);
    EXPECT_EQ(dialog->spHeight->value(), 1080);
    EXPECT_FALSE(dialog->spHeight->isEnabled());
    dialog->cmbResolution->setCurrentIndex(0);
    EXPECT_EQ(settings.m_OutputWidth, 1920) << "Original keeps the last size";
    EXPECT_TRUE(dialog->lblAspect->Caption().isEmpty());
    dialog->cmbResolution->setCurrentIndex(9);
    EXPECT_TRUE(dialog->spWidth->isEnabled());
    EXPECT_EQ(dialog->lblAspect->Caption(), "<a>16:9</a>");

    struct Case {
        int width;
        QAction* TfrmOptions::*item;
        int storedW, storedH, shownW, shownH;
    };
    const Case cases[] = {
        {1000, &TfrmOptions::Aspect16x9, 1024, 576, 1024, 576},
        {1000, &TfrmOptions::Aspect4x3, 1024, 768, 1024, 768},
        {1920, &TfrmOptions::Aspect4x3, 1920, 1440, 1920, 1088},
        {1920, &TfrmOptions::Aspect16x9, 2048, 1152, 1920, 1088},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.width << " " << (dialog.get()->*c.item)->text().toStdString());
        settings.m_OutputWidth = c.width;
        settings.m_OutputHeight = 100;
        dialog->PrepareAspectMenu();
        ASSERT_TRUE((dialog.get()->*c.item)->isEnabled());
        (dialog.get()->*c.item)->trigger();
        EXPECT_EQ(settings.m_OutputWidth, c.storedW);
        EXPECT_EQ(settings.m_OutputHeight, c.storedH);
        EXPECT_EQ(dialog->spWidth->value(), c.shownW);
        EXPECT_EQ(dialog->spHeight->value(), c.shownH);
        dialog->PrepareAspectMenu();
        EXPECT_FALSE((dialog.get()->*c.item)->isEnabled()) << "the ratio it already has";
        EXPECT_TRUE((dialog.get()->*c.item)->isChecked());
    }

    // A typed size is taken when typing ends.
    EXPECT_FALSE(dialog->spWidth->keyboardTracking());
    dialog->spWidth->setValue(800);
    EXPECT_EQ(settings.m_OutputWidth, 800);
}

TEST_F(OptionsDialog, ControlsWriteTheSettings) {
    Open();
    dialog->cbxAutoplay->click();
    dialog->cbxLoop->click();
    EXPECT_EQ(settings.m_Autoplay, -1);
    EXPECT_EQ(settings.m_Controls, -1);
    EXPECT_EQ(settings.m_Loop, -1);
    dialog->cmbResize->setCurrentIndex(2);
    EXPECT_EQ(settings.m_ResizeMethod, 2);
    dialog->tbTransparency->setValue(200);
    EXPECT_EQ(settings.m_WatermarkTransparency, 200);
    dialog->cbxUpdate->setVisible(true);
    dialog->cbxUpdate->click();
    EXPECT_EQ(settings.m_DisableUpdate, -1);
    dialog->cbxUpdate->click();
    EXPECT_EQ(settings.m_DisableUpdate, 0);

    // The link box takes what the field holds with its terminating zero.
    EXPECT_EQ(dialog->edAdLink->maxLength(), 1023);
    dialog->edAdLink->setText(QString(1100, QChar('l')));
    EXPECT_EQ(FieldText(settings.m_AdLink), QString(1023, QChar('l')));
    EXPECT_EQ(settings.m_AdLink[1023], 0);

    dialog->cmbTemplates->setCurrentIndex(0);
    EXPECT_EQ(settings.m_Templete, 0);
    EXPECT_EQ(dialog->TemplatePreview().size(), QSize(900, 300));
    EXPECT_EQ(dialog->imgTemplates->pixmap().size(), QSize(448, 252));
    // Fitted and centred: 448 x 149 in the middle, the bands above and below empty.
    const QImage shown = dialog->imgTemplates->pixmap().toImage();
    EXPECT_EQ(QColor(shown.pixel(224, 126)), QColor(Qt::green));
    EXPECT_EQ(qAlpha(shown.pixel(224, 10)), 0);

    // Reopened, the dialog shows what was chosen.
    dialog.reset();
    Open();
    EXPECT_EQ(dialog->tbTransparency->value(), 200);
    EXPECT_EQ(dialog->cmbTemplates->currentIndex(), 0);
    EXPECT_TRUE(dialog->cbxAutoplay->isChecked());
}

TEST_F(OptionsDialog, FolderTooLongForTheFieldIsRefused) {
    Open();
    apptest::MessageRecorder messages;
    const QString longest = QStringLiteral("/") + QString(258, QChar('f'));
    const QString tooLong = longest + QChar('g');
    EXPECT_FALSE(dialog->SetFolder(tooLong));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(FieldText(settings.m_szFolder), "/home/user/Web Videos");
    EXPECT_EQ(dialog->edFolder->text(), "/home/user/Web Videos");
    EXPECT_TRUE(dialog->SetFolder(longest));
    EXPECT_EQ(FieldText(settings.m_szFolder), longest);
}

TEST_F(OptionsDialog, PicturesAreSetAndRemoved) {
    Open();
    const QString logo = FfmpegPicture(QStringLiteral("logo.png"));
    {
        apptest::OpenFileRecorder files({logo});
        dialog->btnImage->click();
        ASSERT_EQ(files.asked.size(), 1u);
        EXPECT_EQ(files.asked[0].title, "Select Watermark Picture");
    }
    EXPECT_EQ(FieldText(settings.m_WatermarkFile), logo);
    EXPECT_EQ(settings.m_WatermarkImageWidth, 96);
    EXPECT_EQ(settings.m_WatermarkImageHeight, 64);
    EXPECT_EQ(dialog->edWatermark->text(), logo);
    {
        apptest::OpenFileRecorder files({logo});
        dialog->btnImageAd->click();
        EXPECT_EQ(files.asked[0].title, "Select Advertisement Picture");
    }
    EXPECT_EQ(FieldText(settings.m_AdFile), logo);
    dialog->edAdLink->setText(QStringLiteral("https://example.test/"));
    dialog->btnDeleteAd->click();
    EXPECT_EQ(settings.m_AdFile[0], 0);
    EXPECT_TRUE(dialog->edAd->text().isEmpty());
    EXPECT_EQ(FieldText(settings.m_AdLink), "https://example.test/") << "the link stays";
    dialog->btnDelete->click();
    EXPECT_EQ(settings.m_WatermarkFile[0], 0);
}

// Every dialog that takes a picture checks it the way the outputs read it: a
// picture they could not draw is refused everywhere, a TIFF or WebP picture
// that they can draw is taken everywhere.
TEST_F(OptionsDialog, EveryDialogChecksPicturesAsTheOutputsReadThem) {
    // A JPEG cut short: Qt's reader conceals the missing part, the outputs'
    // reader does not draw it.
    const QString whole = folder.filePath(QStringLiteral("whole.jpg"));
    ASSERT_TRUE(testing_media::Ffmpeg(
        {"-f", "lavfi", "-i", "testsrc=s=320x240", "-frames:v", "1", whole.toStdString()}));
    QFile source(whole);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const QString cut = folder.filePath(QStringLiteral("cut.jpg"));
    QFile target(cut);
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write(bytes.left(bytes.size() * 3 / 5));
    target.close();
    EXPECT_FALSE(QImageReader(cut).read().isNull()) << "Qt alone would take it";
    const QString text = folder.filePath(QStringLiteral("notes.png"));
    QFile notes(text);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("just some text");
    notes.close();
    const QString tiff = FfmpegPicture(QStringLiteral("logo.tif"));
    const QString webp = FfmpegPicture(QStringLiteral("logo.webp"));

    Project project{};
    project.m_OutputWidth = 640;
    project.m_OutputHeight = 480;
    project.m_Templete = 0;
    g_templates[0].bHasAd = 1;
    AppProject = &project;
    Low.PublishPage.Set(&FakePublishPage);
    Open();
    auto publish = std::make_unique<TfrmPublish>(nullptr);
    auto panel = std::make_unique<TfrmWatermark>(nullptr);
    panel->ShowPanel();

    struct Dialog {
        const char* name;
        std::function<void()> click;
        std::function<QString()> stored;
    };
    const Dialog dialogs[] = {
        {"options watermark", [&] { dialog->btnImage->click(); },
         [&] { return FieldText(settings.m_WatermarkFile); }},
        {"options advertisement", [&] { dialog->btnImageAd->click(); },
         [&] { return FieldText(settings.m_AdFile); }},
        {"publish advertisement", [&] { publish->btnAddAd->click(); },
         [&] { return FieldText(project.m_AdFile); }},
        {"panel watermark", [&] { panel->btnAdd->click(); },
         [&] { return FieldText(project.m_WatermarkFile); }},
        {"panel advertisement", [&] { panel->btnAddAd->click(); },
         [&] { return FieldText(project.m_AdFile); }},
    };
    for (const Dialog& d : dialogs) {
        SCOPED_TRACE(d.name);
        for (const QString& refused : {cut, text}) {
            apptest::MessageRecorder messages;
            apptest::OpenFileRecorder files({refused});
            const QString before = d.stored();
            d.click();
            ASSERT_EQ(messages.shown.size(), 1u) << refused.toStdString();
            EXPECT_EQ(messages.shown[0].text,
                      "Does not support the file or the file is not a valid image file.");
            EXPECT_EQ(d.stored(), before) << "nothing changed";
        }
        for (const QString& taken : {tiff, webp}) {
            apptest::MessageRecorder messages;
            apptest::OpenFileRecorder files({taken});
            d.click();
            EXPECT_TRUE(messages.shown.empty()) << taken.toStdString();
            EXPECT_EQ(d.stored(), taken);
        }
    }
    int w = 0, h = 0;
    EXPECT_TRUE(GetImageSize(webp, &w, &h));
    EXPECT_EQ(QSize(w, h), QSize(96, 64));
    EXPECT_EQ(LoadCheckedPicture(tiff).pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_TRUE(LoadCheckedPicture(cut).isNull());
    publish.reset();
    panel.reset();
    AppProject = nullptr;
}
