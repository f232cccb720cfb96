// The publish window against a stand-in engine: what it shows of the project,
// what each option writes into it and that every change has the page written
// again, the advertisement picture and its size, the link, the zoom and the
// return to the main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSemaphore>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QElapsedTimer>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <vector>

#include "controls/CommandLinkButton.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "ImageResource.h"
#include "controls/LinkLabel.h"
#include "LowInterface.h"
#include "Main.h"
#include "dialogs/PublishFrm.h"
#include "app_test_support.h"
#include "picture/picture.h"

using namespace reelpage::app;

namespace {

// The stand-in engine's state.
TemplateEntry g_templates[3];
WCHAR g_outputFolder[reelpage::kMaxPath];
std::vector<bool> g_publishCalls; // the generate flag of every PublishPage call
int g_freeEncoding = 0;

int32_t FakeTemplateCount() {
    return 3;
}
TemplateEntry* FakeTemplate(int32_t index) {
    return index >= 0 && index < 3 ? &g_templates[index] : nullptr;
}
const WCHAR* FakeOutputFolder() {
    return g_outputFolder;
}
QString PagePath() {
    return FieldText(g_outputFolder) + QStringLiteral("/index.html");
}
int32_t FakePublishPage(reelpage::BOOL generate, WCHAR* out) {
    g_publishCalls.push_back(generate != 0);
    if (generate) {
        QFile page(PagePath());
        if (page.open(QIODevice::WriteOnly))
            page.write(QByteArray("<html><body><p>page ") +
                       QByteArray::number(qsizetype(g_publishCalls.size())) + "</p></body></html>");
    }
    SetFieldText(out, 261, PagePath());
    return 0;
}

// For the main window the publish window returns to.
int32_t FakeFreeEncoding() {
    return ++g_freeEncoding, 0;
}

// Addresses the shell's "open" was asked to open (nothing is started).
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

void Leave(QWidget* edit) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &out);
}

class PublishDialog : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        ASSERT_TRUE(folder.isValid());
        Low.GetTemplateCount.Set(&FakeTemplateCount);
        Low.GetTemplate.Set(&FakeTemplate);
        Low.GetOutputFolder.Set(&FakeOutputFolder);
        Low.PublishPage.Set(&FakePublishPage);
        const char16_t* names[] = {u"Classic", u"Sponsored", u"Plain"};
        for (int i = 0; i < 3; ++i) {
            g_templates[i] = TemplateEntry{};
            SetFieldText(g_templates[i].szName, QString::fromUtf16(names[i]));
        }
        g_templates[1].bHasAd = 1;
        SetFieldText(g_outputFolder, folder.path() + QStringLiteral("/Web Videos/Clip"));
        QDir().mkpath(FieldText(g_outputFolder));
        g_publishCalls.clear();
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");

        project = Project{};
        project.m_OutputWidth = 640;
        project.m_OutputHeight = 480;
        project.m_Templete = 1;
        project.m_Controls = -1;
        AppProject = &project;
    }
    void TearDown() override {
        delete dialog.data();
        AppProject = nullptr;
    }

    TfrmPublish* Open() {
        dialog = new TfrmPublish(nullptr);
        dialog->show();
        dialog->InitForm();
        Written();
        return dialog;
    }
    // A real picture file of that size.
    QString Picture(int width, int height, const QString& name = QString()) {
        QString path = folder.filePath(
            name.isEmpty() ? QStringLiteral("ad_%1x%2.png").arg(width).arg(height) : name);
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        EXPECT_TRUE(image.save(path)) << path.toStdString();
        return path;
    }
    // The pages written once the window has caught up with its changes.
    const std::vector<bool>& Written() {
        EXPECT_TRUE(apptest::WaitFor([&] { return !dialog->Generating(); }, 10000));
        return g_publishCalls;
    }
    // Lets the window's closing and its deferred deletion run.
    bool Gone() { return apptest::WaitUntilDeleted(dialog, 10000); }
    // A main window with its engine stand-ins, opening the publish window as
    // it does when an encoding succeeded.
    void OpenFromMainWindow(TfrmMain& main) {
        Low.FreeEncoding.Set(&FakeFreeEncoding);
        g_freeEncoding = 0;
        main.OnPublic();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmPublish") && w->isVisible())
                dialog = qobject_cast<TfrmPublish*>(w);
        ASSERT_FALSE(dialog.isNull());
        Written();
    }
    // The stand-ins a main window needs, then this window's own again.
    void StandInMainWindowEngine() {
        apptest::StandInMainWindowEngine();
        ASSERT_EQ(apptest::StartEngineOnce(), 0);
        Low.GetTemplateCount.Set(&FakeTemplateCount);
        Low.GetTemplate.Set(&FakeTemplate);
        Low.GetOutputFolder.Set(&FakeOutputFolder);
        Low.PublishPage.Set(&FakePublishPage);
    }
    // Adds the picture through the dialog's button, as a user would.
    void AddPicture(const QString& path) {
        apptest::OpenFileRecorder files({path});
        dialog->btnAddAd->click();
        ASSERT_EQ(files.asked.size(), 1u);
    }

    QTemporaryDir folder;
    Project project;
    QPointer<TfrmPublish> dialog;
};

} // namespace

TEST_F(PublishDialog, ShowsTheProjectAndPreviewsTheWrittenPage) {
    SetFieldText(project.m_AdFile, QStringLiteral("/pictures/banner.png"));
    SetFieldText(project.m_AdLink, QStringLiteral("https://example.test/shop"));
    project.m_AdImageWidth = 400;
    project.m_AdImageHeight = 300;
    project.m_AdWidth = 200;
    project.m_AdHeight = 150;
    project.m_Autoplay = -1;
    project.m_Loop = 0;
    Open();

    EXPECT_EQ(dialog->windowTitle(), "Publish");
    EXPECT_EQ(dialog->size(), QSize(1008, 582));
    EXPECT_EQ(dialog->parentWidget(), nullptr) << "a window of its own";
    ASSERT_EQ(dialog->cmbTemplates->count(), 3);
    EXPECT_EQ(dialog->cmbTemplates->itemText(1), "Sponsored");
    EXPECT_EQ(dialog->cmbTemplates->currentIndex(), 1);
    EXPECT_TRUE(dialog->cbxAutoplay->isChecked());
    EXPECT_FALSE(dialog->cbxAutoplay->isEnabled()) << "the page leaves autoplay out for an ad";
    EXPECT_TRUE(dialog->cbxControls->isChecked());
    EXPECT_FALSE(dialog->cbxLoop->isChecked());
    EXPECT_TRUE(dialog->GroupBox3->isVisible());
    EXPECT_EQ(dialog->edAd->text(), "/pictures/banner.png");
    EXPECT_TRUE(dialog->edAd->isReadOnly());
    EXPECT_EQ(dialog->edAdLink->text(), "https://example.test/shop");
    EXPECT_EQ(dialog->seWidthAd->value(), 200);
    EXPECT_EQ(dialog->seHeightAd->value(), 150);
    for (QWidget* w : std::initializer_list<QWidget*>{dialog->btnAddAd, dialog->btnDeleteAd,
                                                      dialog->edAdLink, dialog->seWidthAd,
                                                      dialog->seHeightAd, dialog->cbxKeepScaleAd})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(dialog->lblSizeHintAd->text(),
              "Video output size:640*480, Advertisement image size:400*300");
    EXPECT_EQ(dialog->lblOutputFolder->Caption(),
              "Output Folder(Click link to open folder):\r\n<a>" + FieldText(g_outputFolder) +
                  "</a>\r\n");

    // The fixed parts, with the texts the program has always had.
    EXPECT_EQ(dialog->btnFinish->text(), "    Finish");
    EXPECT_EQ(dialog->btnFinish->Image(), &Images.Finish);
    EXPECT_EQ(dialog->btnOpen->Caption(), "Open in browser");
    EXPECT_EQ(dialog->btnOpen->CommandLinkHint(), "Use the default browser");
    EXPECT_EQ(dialog->btnZoom->text(), "   100%");
    EXPECT_TRUE(dialog->btnZoom->SplitButton());
    EXPECT_EQ(dialog->GroupBox3->title(), "Advertisement");
    EXPECT_TRUE(dialog->cbxKeepScaleAd->isChecked());
    EXPECT_EQ(dialog->edAdLink->maxLength(), 1024);
    EXPECT_EQ(dialog->seWidthAd->minimum(), INT_MIN);
    EXPECT_EQ(dialog->seHeightAd->maximum(), INT_MAX);
    EXPECT_EQ(dialog->tbZoom->minimum(), 25);
    EXPECT_EQ(dialog->tbZoom->maximum(), 125);
    EXPECT_EQ(dialog->tbZoom->value(), 100);
    EXPECT_EQ(dialog->tbZoom->pageStep(), 5);
    EXPECT_EQ(dialog->tbZoom->tickInterval(), 25);
    EXPECT_EQ(dialog->tbZoom->tickPosition(), QSlider::TicksBothSides);
    EXPECT_EQ(dialog->Panel3->height(), 40);

    // Filling the controls wrote nothing back: one page, written once.
    EXPECT_EQ(Written(), std::vector<bool>{true});
    EXPECT_EQ(project.m_Autoplay, -1);
    bool loaded = false;
    QObject::connect(dialog->WebBrowser1, &QWebEngineView::loadFinished,
                     [&](bool ok) { loaded = ok; });
    ASSERT_TRUE(apptest::WaitFor([&] { return loaded; }, 30000));
    EXPECT_EQ(dialog->WebBrowser1->url(), QUrl::fromLocalFile(PagePath()));
}

TEST_F(PublishDialog, PictureIsFittedIntoTheOutputFrame) {
    Open();
    EXPECT_FALSE(dialog->btnDeleteAd->isEnabled());
    EXPECT_TRUE(dialog->cbxAutoplay->isEnabled());
    struct Case {
        int w, h;           // the picture
        int shownW, shownH; // in a 640 x 480 output
    };
    const Case cases[] = {{1920, 1080, 640, 360}, {200, 800, 120, 480}, {100, 50, 100, 50},
                          {640, 480, 640, 480},   {641, 480, 640, 479}, {1000, 333, 640, 213}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const QString path = Picture(c.w, c.h);
        g_publishCalls.clear();
        apptest::OpenFileRecorder files({path});
        dialog->btnAddAd->click();
        ASSERT_EQ(files.asked.size(), 1u);
        EXPECT_EQ(files.asked[0].parent, dialog.data());
        EXPECT_EQ(FieldText(project.m_AdFile), path);
        EXPECT_EQ(dialog->edAd->text(), path);
        EXPECT_EQ(project.m_AdImageWidth, c.w);
        EXPECT_EQ(project.m_AdImageHeight, c.h);
        EXPECT_EQ(project.m_AdWidth, c.shownW);
        EXPECT_EQ(project.m_AdHeight, c.shownH);
        EXPECT_EQ(dialog->seWidthAd->value(), c.shownW);
        EXPECT_EQ(dialog->seHeightAd->value(), c.shownH);
        EXPECT_EQ(dialog->lblSizeHintAd->text(),
                  QString::asprintf("Video output size:640*480, Advertisement image size:%d*%d",
                                    c.w, c.h));
        // Showing the size in the spin edits changes nothing on its own.
        EXPECT_EQ(Written(), std::vector<bool>{true});
        EXPECT_TRUE(dialog->btnDeleteAd->isEnabled());
        EXPECT_FALSE(dialog->cbxAutoplay->isEnabled());
    }
}

TEST_F(PublishDialog, PictureDialogAsksForAnExistingPicture) {
    Open();
    apptest::OpenFileRecorder files; // cancelled
    apptest::MessageRecorder messages;
    const Project before = project;
    g_publishCalls.clear();
    dialog->btnAddAd->click();
    ASSERT_EQ(files.asked.size(), 1u);
    EXPECT_EQ(files.asked[0].title, "Select Advertisement Picture");
    EXPECT_EQ(files.asked[0].filter,
              "All (*.gif *.png *.jpg *.jpeg *.bmp *.tif *.tiff *.ico *.emf *.wmf);;"
              "JPEG Image File (*.jpg *.jpeg);;Bitmaps (*.bmp);;"
              "Portable Network Graphics (*.png);;GIF Image (*.gif);;"
              "TIFF Images (*.tif *.tiff);;Icons (*.ico);;Enhanced Metafiles (*.emf);;"
              "Metafiles (*.wmf);;All Files (*)");
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(std::memcmp(&before, &project, sizeof project), 0);
    EXPECT_TRUE(Written().empty());
}

TEST_F(PublishDialog, UnreadablePictureIsRefusedAndNothingChanges) {
    SetFieldText(project.m_AdFile, QStringLiteral("/pictures/old.png"));
    project.m_AdImageWidth = 400;
    project.m_AdImageHeight = 300;
    project.m_AdWidth = 400;
    project.m_AdHeight = 300;
    Open();

    const QString notAPicture = folder.filePath(QStringLiteral("notes.png"));
    QFile text(notAPicture);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("just some text");
    text.close();
    // A picture whose path the project's 260-character field cannot hold.
    QString deep = folder.path();
    while (deep.size() < 300)
        deep += QStringLiteral("/") + QString(40, QChar('d'));
    ASSERT_TRUE(QDir().mkpath(deep));
    QImage deepPicture(64, 64, QImage::Format_RGB32);
    deepPicture.fill(Qt::red);
    ASSERT_TRUE(deepPicture.save(deep + QStringLiteral("/ad.png")));

    for (const QString& path : {notAPicture, deep + QStringLiteral("/ad.png")}) {
        SCOPED_TRACE(path.toStdString());
        apptest::MessageRecorder messages;
        const Project before = project;
        g_publishCalls.clear();
        AddPicture(path);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text,
                  "Does not support the file or the file is not a valid image file.");
        EXPECT_EQ(messages.shown[0].caption, "Zelmorix Reelpage");
        EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
        EXPECT_EQ(std::memcmp(&before, &project, sizeof project), 0);
        EXPECT_EQ(dialog->edAd->text(), "/pictures/old.png");
        EXPECT_EQ(dialog->seWidthAd->value(), 400);
        EXPECT_TRUE(Written().empty());
    }
}

TEST_F(PublishDialog, KeepAspectRatioCouplesTheSides) {
    Open();
    AddPicture(Picture(400, 300));
    ASSERT_EQ(dialog->seWidthAd->value(), 400);
    Written();
    g_publishCalls.clear();

    dialog->seWidthAd->setValue(200);
    EXPECT_EQ(dialog->seHeightAd->value(), 150);
    EXPECT_EQ(project.m_AdWidth, 200);
    EXPECT_EQ(project.m_AdHeight, 150);
    EXPECT_EQ(Written(), std::vector<bool>{true});
    dialog->seHeightAd->setValue(61);
    EXPECT_EQ(dialog->seWidthAd->value(), 81) << "61 x 400 div 300, truncated";
    EXPECT_EQ(project.m_AdWidth, 81);
    EXPECT_EQ(Written(), (std::vector<bool>{true, true})) << "one page per change";

    // Changes in quick succession (an arrow key held) write one page.
    g_publishCalls.clear();
    for (int i = 0; i < 5; ++i)
        dialog->seWidthAd->stepBy(1);
    EXPECT_EQ(project.m_AdWidth, 86);
    EXPECT_EQ(Written(), std::vector<bool>{true});

    // Sizes beyond any screen are taken, without overflowing.
    dialog->seHeightAd->setValue(INT_MAX);
    EXPECT_EQ(project.m_AdWidth, INT_MAX);
    dialog->seWidthAd->setValue(INT_MIN);
    EXPECT_EQ(project.m_AdHeight, INT_MIN / 4 * 3);

    dialog->cbxKeepScaleAd->setChecked(false);
    dialog->seWidthAd->setValue(300);
    EXPECT_EQ(project.m_AdWidth, 300);
    EXPECT_EQ(project.m_AdHeight, INT_MIN / 4 * 3) << "uncoupled";
}

TEST_F(PublishDialog, ZeroPictureSideGivesNoRatioToKeep) {
    // A project whose picture size was never read.
    SetFieldText(project.m_AdFile, QStringLiteral("/pictures/banner.png"));
    project.m_AdWidth = 120;
    project.m_AdHeight = 90;
    Open();
    dialog->seWidthAd->setValue(50);
    dialog->seHeightAd->setValue(40);
    EXPECT_EQ(project.m_AdWidth, 50);
    EXPECT_EQ(project.m_AdHeight, 40);
    EXPECT_EQ(dialog->seWidthAd->value(), 50);
}

TEST_F(PublishDialog, TemplateWithoutAdvertisementHidesTheGroupAndKeepsItsValues) {
    Open();
    dialog->cbxAutoplay->setChecked(true);
    AddPicture(Picture(400, 300));
    dialog->edAdLink->setText(QStringLiteral("https://example.test/"));
    Leave(dialog->edAdLink);
    dialog->seWidthAd->setValue(200);
    ASSERT_FALSE(dialog->cbxAutoplay->isEnabled());
    Written();
    g_publishCalls.clear();

    dialog->cmbTemplates->setCurrentIndex(0);
    EXPECT_EQ(project.m_Templete, 0);
    EXPECT_FALSE(dialog->GroupBox3->isVisible());
    EXPECT_TRUE(dialog->cbxAutoplay->isEnabled()) << "no ad on this page";
    EXPECT_FALSE(dialog->btnAddAd->isEnabled());
    EXPECT_EQ(Written(), std::vector<bool>{true});

    dialog->cmbTemplates->setCurrentIndex(1);
    EXPECT_EQ(project.m_Templete, 1);
    EXPECT_TRUE(dialog->GroupBox3->isVisible());
    EXPECT_FALSE(dialog->cbxAutoplay->isEnabled());
    EXPECT_TRUE(dialog->cbxAutoplay->isChecked()) << "its check state is kept";
    EXPECT_EQ(project.m_Autoplay, -1);
    EXPECT_EQ(dialog->edAd->text(), FieldText(project.m_AdFile));
    EXPECT_EQ(dialog->edAdLink->text(), "https://example.test/");
    EXPECT_EQ(dialog->seWidthAd->value(), 200);
    EXPECT_EQ(dialog->seHeightAd->value(), 150);
    EXPECT_EQ(Written(), (std::vector<bool>{true, true}));

    // A template without ad support, opened that way, starts with the group hidden.
    delete dialog.data();
    project.m_Templete = 2;
    Open();
    EXPECT_FALSE(dialog->GroupBox3->isVisible());
    EXPECT_TRUE(dialog->cbxAutoplay->isEnabled());
}

TEST_F(PublishDialog, RemovingThePictureKeepsSizeAndLink) {
    Open();
    AddPicture(Picture(200, 800));
    dialog->edAdLink->setText(QStringLiteral("https://example.test/"));
    Leave(dialog->edAdLink);
    Written();
    g_publishCalls.clear();

    dialog->btnDeleteAd->click();
    EXPECT_EQ(project.m_AdFile[0], 0);
    EXPECT_TRUE(dialog->edAd->text().isEmpty());
    EXPECT_EQ(project.m_AdWidth, 120);
    EXPECT_EQ(project.m_AdHeight, 480);
    EXPECT_EQ(FieldText(project.m_AdLink), "https://example.test/");
    EXPECT_EQ(dialog->seWidthAd->value(), 120);
    for (QWidget* w :
         std::initializer_list<QWidget*>{dialog->btnDeleteAd, dialog->edAdLink, dialog->seWidthAd,
                                         dialog->seHeightAd, dialog->cbxKeepScaleAd})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(dialog->btnAddAd->isEnabled());
    EXPECT_TRUE(dialog->cbxAutoplay->isEnabled());
    EXPECT_TRUE(dialog->lblSizeHintAd->text().isEmpty());
    EXPECT_EQ(Written(), std::vector<bool>{true});
}

TEST_F(PublishDialog, PlayerOptionsAreWrittenAsLongBooleans) {
    Open();
    struct Case {
        QCheckBox* box;
        reelpage::LongBool* field;
    };
    const Case cases[] = {{dialog->cbxAutoplay, &project.m_Autoplay},
                          {dialog->cbxControls, &project.m_Controls},
                          {dialog->cbxLoop, &project.m_Loop}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box->text().toStdString());
        for (int i = 0; i < 3; ++i) {
            const bool before = c.box->isChecked();
            Written();
            g_publishCalls.clear();
            c.box->click();
            ASSERT_NE(c.box->isChecked(), before);
            EXPECT_EQ(*c.field, c.box->isChecked() ? -1 : 0);
            EXPECT_EQ(Written(), std::vector<bool>{true});
        }
    }
}

TEST_F(PublishDialog, LinkIsTakenWhenLeftAndOnlyWhenChanged) {
    SetFieldText(project.m_AdFile, QStringLiteral("/pictures/banner.png"));
    SetFieldText(project.m_AdLink, QStringLiteral("https://example.test/a"));
    Open();
    Written();
    g_publishCalls.clear();

    Leave(dialog->edAdLink);
    EXPECT_TRUE(Written().empty()) << "unchanged";

    dialog->edAdLink->setText(QStringLiteral("https://example.test/b"));
    EXPECT_EQ(FieldText(project.m_AdLink), "https://example.test/a") << "not while typing";
    Leave(dialog->edAdLink);
    EXPECT_EQ(FieldText(project.m_AdLink), "https://example.test/b");
    EXPECT_EQ(Written(), std::vector<bool>{true});
    Leave(dialog->edAdLink);
    EXPECT_EQ(Written(), std::vector<bool>{true});

    // The box takes 1024 characters; the project keeps 1022 of them.
    const QString longest = QStringLiteral("https://example.test/") + QString(1100, QChar('x'));
    dialog->edAdLink->setText(longest);
    EXPECT_EQ(dialog->edAdLink->text().size(), 1024);
    Leave(dialog->edAdLink);
    EXPECT_EQ(FieldText(project.m_AdLink), longest.left(1022));
    EXPECT_EQ(project.m_AdLink[1022], 0);
}

TEST_F(PublishDialog, ZoomMenuMarksOnlyTheCurrentZoom) {
    Open();
    Written();
    g_publishCalls.clear();
    QAction* items[] = {dialog->N125, dialog->N100, dialog->N75, dialog->N50, dialog->N25};
    auto checked = [&] {
        QStringList out;
        dialog->btnZoomDropDownClick();
        for (QAction* item : items)
            if (item->isChecked()) out << item->text();
        dialog->PopupMenu1->hide();
        return out.join(QChar(','));
    };
    EXPECT_EQ(checked(), "100%");

    dialog->tbZoom->setValue(60);
    EXPECT_EQ(dialog->ZoomValue(), 60);
    EXPECT_EQ(dialog->btnZoom->text(), "   60%");
    EXPECT_DOUBLE_EQ(dialog->WebBrowser1->zoomFactor(), 0.6);
    EXPECT_EQ(checked(), "") << "60 is none of the five";

    dialog->N75->trigger();
    EXPECT_EQ(dialog->ZoomValue(), 75);
    EXPECT_EQ(dialog->tbZoom->value(), 75);
    EXPECT_EQ(dialog->btnZoom->text(), "   75%");
    EXPECT_DOUBLE_EQ(dialog->WebBrowser1->zoomFactor(), 0.75);
    EXPECT_EQ(checked(), "75%");

    dialog->btnZoom->click(); // the main part
    EXPECT_EQ(dialog->ZoomValue(), 100);
    EXPECT_EQ(dialog->tbZoom->value(), 100);
    EXPECT_EQ(checked(), "100%");
    EXPECT_TRUE(Written().empty()) << "zooming writes no page";
}

TEST_F(PublishDialog, OpensTheFolderAndThePageWithoutWritingIt) {
    Open();
    OpenedUrls opened;
    Written();
    g_publishCalls.clear();
    emit dialog->lblOutputFolder->OnLinkClick(FieldText(g_outputFolder));
    dialog->btnOpen->click();
    ASSERT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(FieldText(g_outputFolder)));
    EXPECT_EQ(opened.urls[1], QUrl::fromLocalFile(PagePath()));
    EXPECT_EQ(g_publishCalls, std::vector<bool>{false});
}

TEST_F(PublishDialog, FinishReturnsToTheMainWindow) {
    ASSERT_NO_FATAL_FAILURE(StandInMainWindowEngine());
    TfrmMain main;
    main.setWindowState(Qt::WindowMaximized);
    main.hide();
    ASSERT_NO_FATAL_FAILURE(OpenFromMainWindow(main));
    EXPECT_TRUE(dialog->windowState() & Qt::WindowMaximized) << "as the main window was";
    apptest::WaitFor([] { return false; }, 200); // time for a message sent too early
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(g_freeEncoding, 0);

    dialog->btnFinish->click();
    ASSERT_TRUE(apptest::WaitFor([&] { return main.isVisible(); }, 5000));
    EXPECT_EQ(g_freeEncoding, 1);
    EXPECT_TRUE(dialog.isNull()) << "the window freed itself";
    AppSettings = nullptr;
}

namespace {
// Writes the page as the engine does where it costs: the advertisement
// picture read and scaled to its shown size, and encoded.
std::atomic<int> g_heavyPages{0};
std::atomic<bool> g_heavyOnInterfaceThread{false};
int32_t HeavyPublishPage(reelpage::BOOL generate, WCHAR* out) {
    if (generate && AppProject) {
        if (QThread::currentThread() == qApp->thread()) g_heavyOnInterfaceThread = true;
        picture::Bitmap source, shown;
        std::string encoded;
        picture::EncoderId png;
        picture::FindEncoderByMimeType("image/png", png);
        if (picture::LoadPicture(FieldText(AppProject->m_AdFile).toStdString(), source) ==
                picture::Error::None &&
            picture::Stretch(source, std::max(1, AppProject->m_AdWidth),
                             std::max(1, AppProject->m_AdHeight), shown) == picture::Error::None)
            picture::EncodePicture(shown, png, encoded);
        ++g_heavyPages;
    }
    return FakePublishPage(generate, out);
}

// The longest time the interface thread's event loop went without turning,
// measured by a timer that should fire every 5 ms. The machine may be busy
// with other work and leave the thread waiting for a core, so besides the
// wall-clock gap the thread's own processor time between two turns is kept:
// that is the work the window itself did in one go.
class EventLoopWatchdog : public QObject {
public:
    EventLoopWatchdog() {
        m_clock.start();
        m_cpu = ThreadCpuMs();
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, m_clock.restart());
            const double cpu = ThreadCpuMs();
            m_longestCpu = std::max(m_longestCpu, cpu - m_cpu);
            m_cpu = cpu;
        });
        m_timer.start();
    }
    qint64 LongestStallMs() const { return m_longest; }
    double LongestWorkMs() const { return m_longestCpu; }

private:
    static double ThreadCpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_cpu = 0;
    qint64 m_longest = 0;
    double m_longestCpu = 0;
};
} // namespace

TEST_F(PublishDialog, TypingASizeNeverStallsTheWindow) {
    Low.PublishPage.Set(&HeavyPublishPage);
    Open();
    AddPicture(Picture(6000, 4000));
    ASSERT_EQ(project.m_AdImageWidth, 6000);
    ASSERT_TRUE(dialog->cbxKeepScaleAd->isChecked());
    Written();
    g_heavyPages = 0;
    g_heavyOnInterfaceThread = false;
    g_publishCalls.clear();

    dialog->activateWindow();
    dialog->seWidthAd->setFocus();
    dialog->seWidthAd->selectAll();
    EventLoopWatchdog watchdog;
    for (QChar digit : QStringLiteral("1234")) {
        QTest::keyClick(dialog->seWidthAd, digit.toLatin1());
        QTest::qWait(40);
    }
    EXPECT_EQ(project.m_AdWidth, 640) << "taken when typing ends, not at every digit";
    QTest::keyClick(dialog->seWidthAd, Qt::Key_Return);
    EXPECT_EQ(project.m_AdWidth, 1234);
    EXPECT_EQ(project.m_AdHeight, 822);
    EXPECT_EQ(Written(), std::vector<bool>{true});
    EXPECT_EQ(g_heavyPages, 1);
    EXPECT_FALSE(g_heavyOnInterfaceThread);
    EXPECT_LT(watchdog.LongestWorkMs(), 100);
    RecordProperty("longest_event_loop_gap_ms", int(watchdog.LongestStallMs()));
    RecordProperty("longest_work_between_turns_ms", int(watchdog.LongestWorkMs()));
    std::printf("longest event-loop gap %lld ms, longest work between turns %.1f ms\n",
                static_cast<long long>(watchdog.LongestStallMs()), watchdog.LongestWorkMs());
    Low.PublishPage.Set(&FakePublishPage);
}

namespace {
// Writes the page slowly enough for the window to be used meanwhile, noting
// the player options it reads from the project at the start and at the end.
QSemaphore g_slowPageStarted, g_slowPageGo;
struct OptionsRead {
    reelpage::LongBool autoplay[2];
    reelpage::LongBool loop[2];
};
std::vector<OptionsRead> g_slowPages; // written by the worker only
std::atomic<bool> g_slowOnInterfaceThread{false};
int32_t SlowPublishPage(reelpage::BOOL generate, WCHAR* out) {
    if (generate && AppProject) {
        if (QThread::currentThread() == qApp->thread()) g_slowOnInterfaceThread = true;
        OptionsRead read{{AppProject->m_Autoplay, 0}, {AppProject->m_Loop, 0}};
        g_slowPageStarted.release();
        g_slowPageGo.tryAcquire(1, 10000);
        read.autoplay[1] = AppProject->m_Autoplay;
        read.loop[1] = AppProject->m_Loop;
        g_slowPages.push_back(read);
    }
    return FakePublishPage(generate, out);
}
} // namespace

TEST_F(PublishDialog, ChangesWhileAPageIsWrittenLeaveItsProjectAlone) {
    Open();
    g_slowPageStarted.tryAcquire(g_slowPageStarted.available());
    g_slowPageGo.tryAcquire(g_slowPageGo.available());
    g_slowPages.clear();
    Low.PublishPage.Set(&SlowPublishPage);
    ASSERT_EQ(project.m_Autoplay, 0);
    ASSERT_EQ(project.m_Loop, 0);

    dialog->cbxLoop->click();
    ASSERT_TRUE(apptest::WaitFor([] { return g_slowPageStarted.tryAcquire(); }, 10000));
    // The page is being written from the project now.
    dialog->cbxAutoplay->click();
    EXPECT_TRUE(dialog->cbxAutoplay->isChecked());
    g_slowPageGo.release(2);
    Written();
    ASSERT_EQ(g_slowPages.size(), 2u) << "the change has the page written once more";
    EXPECT_EQ(g_slowPages[0].autoplay[0], 0);
    EXPECT_EQ(g_slowPages[0].autoplay[1], 0) << "the project changed under the page";
    EXPECT_EQ(g_slowPages[0].loop[1], -1);
    EXPECT_EQ(g_slowPages[1].autoplay[0], -1) << "the next page has the change";
    EXPECT_EQ(project.m_Autoplay, -1);

    // A change made while the last page is written reaches the project and
    // the page when the window closes.
    g_slowPageStarted.tryAcquire(g_slowPageStarted.available());
    g_slowPages.clear();
    dialog->cbxControls->click();
    ASSERT_TRUE(apptest::WaitFor([] { return g_slowPageStarted.tryAcquire(); }, 10000));
    dialog->cbxLoop->click();
    g_slowPageGo.release(2);
    dialog->close();
    ASSERT_TRUE(Gone());
    EXPECT_EQ(project.m_Controls, 0);
    EXPECT_EQ(project.m_Loop, 0);
    ASSERT_EQ(g_slowPages.size(), 2u);
    EXPECT_EQ(g_slowPages[0].loop[1], -1);
    EXPECT_EQ(g_slowPages[1].loop[0], 0);
    Low.PublishPage.Set(&FakePublishPage);
}

TEST_F(PublishDialog, ClosingWritesTheLastChangeOnTheWorkerThenReturns) {
    ASSERT_NO_FATAL_FAILURE(StandInMainWindowEngine());
    TfrmMain main;
    main.hide();
    ASSERT_NO_FATAL_FAILURE(OpenFromMainWindow(main));
    g_slowPageStarted.tryAcquire(g_slowPageStarted.available());
    g_slowPageGo.tryAcquire(g_slowPageGo.available());
    g_slowPages.clear();
    g_slowOnInterfaceThread = false;
    g_freeEncoding = 0;
    Low.PublishPage.Set(&SlowPublishPage);

    // A change, and Finish before its page is written.
    dialog->cbxLoop->click();
    dialog->btnFinish->click();
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_TRUE(apptest::WaitFor([] { return g_slowPageStarted.tryAcquire(); }, 10000));
    apptest::WaitFor([] { return false; }, 200);
    EXPECT_FALSE(dialog.isNull()) << "the window waits for its last page";
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(g_freeEncoding, 0) << "the job outlives the page written from it";

    g_slowPageGo.release();
    ASSERT_TRUE(Gone());
    ASSERT_TRUE(apptest::WaitFor([&] { return main.isVisible(); }, 5000));
    EXPECT_EQ(g_freeEncoding, 1);
    ASSERT_EQ(g_slowPages.size(), 1u);
    EXPECT_EQ(g_slowPages[0].loop[0], -1) << "the last change is in the page";
    EXPECT_FALSE(g_slowOnInterfaceThread);
    EXPECT_EQ(project.m_Loop, -1);
    Low.PublishPage.Set(&FakePublishPage);
    AppSettings = nullptr;
}

#include "publish_test.moc"
