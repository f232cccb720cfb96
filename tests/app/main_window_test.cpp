// The main window against a stand-in engine: panels and menu checks, the
// Recent menu, the engine's messages, the update question and the help page.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <string>
#include <vector>

#include "panels/Editor.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "panels/Home.h"
#include "ImageResource.h"
#include "LowInterface.h"
#include "Main.h"
#include "controls/MediaPlayTrackBar.h"
#include "panels/Watermark.h"
#include "WindowHandle.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

// The stand-in engine's state.
std::vector<MediaInfo> g_history;
int g_saveSettings = 0;
std::vector<HWND> g_mainWindows;
int g_updateChecks = 0;
QString g_updateKey;
uint32_t g_updateMessage = 0;
int g_freeEncoding = 0;
std::vector<std::pair<HWND, HWND>> g_restarts;

int32_t FakeHistoryCount() {
    return int32_t(g_history.size());
}
MediaInfo* FakeHistoryItem(int32_t i) {
    return &g_history.at(size_t(i));
}
int32_t FakeSaveSettings() {
    return ++g_saveSettings, 0;
}
HWND FakeSetMainWindow(HWND hwnd) {
    return g_mainWindows.push_back(hwnd), hwnd;
}
reelpage::BOOL FakeCheckForUpdate(ProductInfo*, const WCHAR* key, HWND, uint32_t message) {
    ++g_updateChecks;
    g_updateKey = QString::fromUtf16(key);
    g_updateMessage = message;
    return 1;
}
int32_t FakeFreeEncoding() {
    return ++g_freeEncoding, 0;
}
int32_t FakeRestartPreview(HWND render, HWND notify) {
    g_restarts.emplace_back(render, notify);
    return 0;
}
int32_t FakeLayoutPreview() {
    return 0;
}

MediaInfo Entry(const QString& file, const QString& name, bool video = true) {
    MediaInfo m{};
    SetFieldText(m.m_szFileName, file);
    SetFieldText(m.m_szName, name);
    m.m_bVideoStream = video ? 1 : 0;
    m.m_Duration = 200'000'000;
    return m;
}

// Addresses QDesktopServices::openUrl was asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() {
        for (const char* scheme : {"file", "http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
    }
    ~OpenedUrls() override {
        for (const char* scheme : {"file", "http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

// Closes every modal window as soon as it appears, noting what it was.
class ModalCloser : public QObject {
public:
    ModalCloser() {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                seen << QString::fromLatin1(modal->metaObject()->className()) + QChar(':') +
                            modal->windowTitle();
                modal->close();
            }
        });
        timer.start(20);
    }
    QStringList seen;
    QTimer timer;
};

QStringList Captions(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << a->text();
    return out;
}

Settings g_settings;

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        BindLowInterface();
        Low.GetHistoryCount.Set(&FakeHistoryCount);
        Low.GetHistoryItem.Set(&FakeHistoryItem);
        Low.SaveSettings.Set(&FakeSaveSettings);
        Low.SetMainWindow.Set(&FakeSetMainWindow);
        Low.CheckForUpdate.Set(&FakeCheckForUpdate);
        Low.FreeEncoding.Set(&FakeFreeEncoding);
        Low.RestartPreview.Set(&FakeRestartPreview);
        Low.LayoutPreview.Set(&FakeLayoutPreview);
        g_settings = Settings{};
        SetFieldText(g_settings.m_szFolder, QStringLiteral("/tmp/Web Videos"));
        AppSettings = &g_settings;
        AppProject = nullptr;
        AppProjectMedia = nullptr;
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    }
    void TearDown() override {
        AppProject = nullptr;
        AppProjectMedia = nullptr;
        g_history.clear();
    }
    bool Shown(QWidget* panel) { return panel->isVisibleTo(panel->parentWidget()); }
};

} // namespace

TEST_F(MainWindow, StartsOnTheGeneralPanelWithThePlayerDisabled) {
    TfrmMain main;
    EXPECT_EQ(frmMain.data(), &main);
    EXPECT_EQ(main.windowTitle(), "Zelmorix Reelpage");
    EXPECT_EQ(main.CurrentControl(), 0);
    EXPECT_TRUE(Shown(main.frmHome));
    EXPECT_FALSE(Shown(main.frmEdit));
    EXPECT_FALSE(Shown(main.frmWatermark));
    EXPECT_TRUE(main.miHome->isChecked());
    for (QAction* item : {main.miHome, main.miEdit, main.miWater})
        EXPECT_TRUE(item->isEnabled());
    EXPECT_FALSE(main.FileInformation1->isEnabled());
    for (QWidget* w :
         std::initializer_list<QWidget*>{main.btnPlay, main.btnPoster, main.TrackBar1,
                                         main.btnClipStart, main.btnClipStop, main.btnClipReset})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(main.lblPlayPosition->text(), "00:00/00:00");
    EXPECT_EQ(main.btnPlay->Image(), &Images.Play);
    EXPECT_EQ(main.btnClipStart->Image(), &Images.Clip);
    EXPECT_EQ(main.btnClipReset->Image(), &Images.Reset);
    EXPECT_EQ(main.btnPoster->Image(), &Images.Poster);

    EXPECT_EQ(Captions(main.File1), (QStringList{"Import Video File ...", "File Information ...",
                                                 "Recent ...", "", "Exit"}));
    EXPECT_EQ(Captions(main.Option1), (QStringList{"General", "Edit ...", "Watermark ..."}));
    EXPECT_EQ(Captions(main.Help1), (QStringList{"Help", "Home Page", "", "About ..."}));
    EXPECT_EQ(main.Settings1->text(), "Settings...");

    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    // The designed width, or what the widest panel needs at this font.
    EXPECT_GE(main.palControl->width(), 420);
    for (QWidget* panel : std::initializer_list<QWidget*>{main.frmHome, main.frmEdit,
                                                          main.frmWatermark})
        EXPECT_GE(main.palControl->width(), panel->minimumSizeHint().width())
            << panel->objectName().toStdString();
    EXPECT_EQ(main.palPlayer->height(), 90);
    EXPECT_GE(main.centralWidget()->width(), 1008);
    EXPECT_GE(main.centralWidget()->height(), 572);
    // The reset button sits in the middle of the bar.
    EXPECT_EQ(main.btnClipReset->x(), (main.palPlayer->width() - 25) / 2);
}

TEST_F(MainWindow, SetCurrentControlShowsOnePanelAndChecksItsItem) {
    TfrmMain main;
    // Order of showing and hiding, recorded as "+name" / "-name".
    QStringList order;
    struct Spy : QObject {
        QStringList* order;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::ShowToParent) *order << "+" + o->objectName();
            if (e->type() == QEvent::HideToParent) *order << "-" + o->objectName();
            return false;
        }
    } spy;
    spy.order = &order;
    for (QWidget* w : {static_cast<QWidget*>(main.frmHome), static_cast<QWidget*>(main.frmEdit),
                       static_cast<QWidget*>(main.frmWatermark)})
        w->installEventFilter(&spy);

    QWidget* panels[] = {main.frmHome, main.frmEdit, main.frmWatermark};
    QAction* items[] = {main.miHome, main.miEdit, main.miWater};
    for (int n : {1, 2, 0, 2}) {
        main.SetCurrentControl(n);
        EXPECT_EQ(main.CurrentControl(), n);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Shown(panels[i]), i == n) << "panel " << i << " for " << n;
            EXPECT_EQ(items[i]->isChecked(), i == n) << "item " << i << " for " << n;
        }
    }
    // The new panel appears before the old one goes.
    EXPECT_EQ(order.mid(0, 2), (QStringList{"+frmEdit", "-frmHome"}));

    // The same panel again changes nothing.
    main.frmWatermark->hide();
    main.SetCurrentControl(2);
    EXPECT_FALSE(Shown(main.frmWatermark));
    main.frmWatermark->show();

    // The menu items switch too; the checked one stays checked when chosen.
    main.miEdit->trigger();
    EXPECT_EQ(main.CurrentControl(), 1);
    EXPECT_TRUE(main.miEdit->isChecked());
    main.miEdit->trigger();
    EXPECT_TRUE(main.miEdit->isChecked());
    EXPECT_FALSE(main.miHome->isChecked());
    main.miHome->trigger();
    EXPECT_TRUE(Shown(main.frmHome));
    EXPECT_TRUE(main.miHome->isChecked());
}

// At its smallest, at the usual font and at half as large again, no panel's
// control gets less height than it needs: the window grows instead.
TEST_F(MainWindow, NoPanelIsSquashedAtTheSmallestSize) {
    const QFont usual = QApplication::font();
    for (double scale : {1.0, 1.5}) {
        QFont font = usual;
        font.setPointSizeF(usual.pointSizeF() * scale);
        QApplication::setFont(font);
        {
            TfrmMain main;
            main.show();
            main.resize(1, 1);
            QTest::qWait(50);
            QWidget* panels[] = {main.frmHome, main.frmEdit, main.frmWatermark};
            for (int n = 0; n < 3; ++n) {
                main.SetCurrentControl(n);
                // Sizes settle through posted layout requests, a few rounds deep.
                QTest::qWait(50);
                int checked = 0;
                for (QWidget* w : panels[n]->findChildren<QWidget*>()) {
                    // Parts of a control (a spin box's text field) are its to size;
                    // wrapped text (an empty note, say) takes the height of its width.
                    if (w->objectName().startsWith(QStringLiteral("qt_")) ||
                        !w->isVisibleTo(panels[n]))
                        continue;
                    const QSize least = w->minimumSizeHint();
                    const std::string what = "scale " + std::to_string(scale) + ", panel " +
                                             std::to_string(n) + ": " +
                                             w->metaObject()->className() + " " +
                                             w->objectName().toStdString() + " " +
                                             apptest::ShownText(w);
                    // The column is as wide as its panels need: nothing is
                    // narrowed, wrapped text included.
                    if (least.width() > 0 && w->maximumWidth() >= least.width()) {
                        ++checked;
                        EXPECT_GE(w->width(), least.width()) << what;
                    }
                    if (w->hasHeightForWidth() || least.height() <= 0 ||
                        w->maximumHeight() < least.height())
                        continue;
                    EXPECT_GE(w->height(), least.height()) << what;
                }
                EXPECT_GT(checked, 5) << "panel " << n;
            }
        }
        QApplication::setFont(usual);
    }
}

TEST_F(MainWindow, RecentMenu) {
    auto path = [](int i) { return QStringLiteral("/videos/clip %1.mp4").arg(i); };
    auto name = [](int i) { return QStringLiteral("Clip %1").arg(i); };

    {
        SCOPED_TRACE("empty history");
        TfrmMain main;
        QList<QAction*> items = main.miHistory->actions();
        ASSERT_EQ(items.size(), 1);
        EXPECT_EQ(items[0]->text(), "None");
        EXPECT_FALSE(items[0]->isEnabled());
    }
    {
        SCOPED_TRACE("more than 20 playable entries, some without video");
        for (int i = 0; i < 30; ++i)
            g_history.push_back(Entry(path(i), name(i), i % 4 != 1));
        TfrmMain main;
        QList<QAction*> items = main.miHistory->actions();
        ASSERT_EQ(items.size(), 20);
        // Entries 1, 5, 9, ... have no video: neither shown nor counted.
        QStringList expected;
        for (int i = 0; expected.size() < 20; ++i)
            if (i % 4 != 1) expected << name(i);
        QStringList shown;
        for (QAction* a : items)
            shown << a->text();
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(items[0]->toolTip(), path(0));
        EXPECT_TRUE(items[19]->isEnabled());
        main.ReloadHistory();
        EXPECT_EQ(main.miHistory->actions().size(), 20) << "rebuilt, not added to";
    }
    {
        SCOPED_TRACE("the open project's file");
        g_history.clear();
        g_history.push_back(Entry(path(0), name(0)));
        g_history.push_back(Entry(path(1), QStringLiteral("Tom & Jerry")));
        g_history.push_back(Entry(path(0).toUpper(), name(2))); // other case, other file
        MediaInfo open = Entry(path(0), QStringLiteral("open"));
        Project project{};
        TfrmMain main;
        EXPECT_EQ(main.miHistory->actions().size(), 3) << "no project: every entry";
        AppProject = &project;
        AppProjectMedia = &open;
        main.ReloadHistory();
        QList<QAction*> items = main.miHistory->actions();
        ASSERT_EQ(items.size(), 2);
        EXPECT_EQ(items[0]->text(), "Tom && Jerry") << "'&' is shown, not a mnemonic";
        EXPECT_EQ(items[1]->toolTip(), path(0).toUpper());

        g_history.resize(1);
        main.ReloadHistory();
        items = main.miHistory->actions();
        ASSERT_EQ(items.size(), 1);
        EXPECT_EQ(items[0]->text(), "None");
        EXPECT_FALSE(items[0]->isEnabled());
    }
    {
        SCOPED_TRACE("files of the same title in different folders");
        AppProject = nullptr;
        g_history.clear();
        g_history.push_back(Entry(QStringLiteral("/home/a/holiday.mp4"), QStringLiteral("holiday")));
        g_history.push_back(Entry(QStringLiteral("/home/b/holiday.mp4"), QStringLiteral("holiday")));
        g_history.push_back(Entry(path(3), name(3)));
        TfrmMain main;
        QStringList shown;
        for (QAction* a : main.miHistory->actions())
            shown << a->text();
        EXPECT_EQ(shown, (QStringList{"holiday (/home/a)", "holiday (/home/b)", name(3)}));
        EXPECT_EQ(main.miHistory->actions().at(1)->toolTip(), "/home/b/holiday.mp4");
    }
    {
        SCOPED_TRACE("a recent item opens the General panel");
        AppProject = nullptr;
        g_history.assign(1, Entry(path(7), name(7)));
        TfrmMain main;
        main.SetCurrentControl(2);
        // The item starts an import of its file; the import is abandoned here.
        static QString opened;
        Low.OpenMedia.Set([](const WCHAR* file, HWND, int32_t, uint32_t, uint32_t) {
            opened = QString::fromUtf16(file);
            return static_cast<MediaInfo*>(nullptr);
        });
        apptest::MessageRecorder answers(QMessageBox::Yes);
        ModalCloser closer;
        main.miHistory->actions().at(0)->trigger();
        EXPECT_EQ(main.CurrentControl(), 0);
        EXPECT_EQ(opened, path(7));
        EXPECT_EQ(closer.seen, QStringList{"reelpage::app::TfrmLoading:Loding ..."});
    }
}

TEST_F(MainWindow, UpdateQuestionOnlyForANewerVersion) {
    static const char16_t kUpdatePage[] = u"https://example.test/update";
    AppProductInfo.m_Texts[kProductUpdatePage] = kUpdatePage;
    TfrmMain main;
    const uint64_t own = GetProgramVersion();
    auto send = [&](uint64_t version) {
        main.WndProc(reelpage::kMsgUpdateVersion, int64_t(uint32_t(version >> 32)),
                     int64_t(uint32_t(version)));
    };

    struct Case {
        uint64_t version;
        bool asked;
    };
    const Case cases[] = {{own + 1, true},
                          {own, false},
                          {own - 1, false},
                          {own + (uint64_t(1) << 32), true},
                          {0xFFFF'FFFF'FFFF'FFFFull, true}};
    for (const Case& c : cases) {
        apptest::MessageRecorder messages(QMessageBox::No);
        OpenedUrls opened;
        send(c.version);
        ASSERT_EQ(messages.shown.size(), c.asked ? 1u : 0u)
            << VersionToText(c.version).toStdString();
        if (c.asked) {
            EXPECT_EQ(messages.shown[0].text, "New version detected, do you want to update?");
            EXPECT_EQ(messages.shown[0].caption, "Zelmorix Reelpage");
            EXPECT_EQ(messages.shown[0].icon, QMessageBox::Question);
            EXPECT_EQ(messages.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        }
        EXPECT_TRUE(opened.urls.isEmpty()) << "declined";
    }

    // Halves that travelled as negative numbers are still unsigned.
    apptest::MessageRecorder messages(QMessageBox::Yes);
    OpenedUrls opened;
    main.WndProc(reelpage::kMsgUpdateVersion, -1, -1);
    ASSERT_EQ(messages.shown.size(), 1u);
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls[0], QUrl(QStringLiteral("https://example.test/update")));
    AppProductInfo.m_Texts[kProductUpdatePage] = nullptr;
}

TEST_F(MainWindow, ShowingRegistersTheWindowAndChecksForUpdatesOnce) {
    static const char16_t kUpdatePage[] = u"https://example.test/update";
    g_mainWindows.clear();
    g_updateChecks = 0;
    {
        SCOPED_TRACE("no update page");
        AppProductInfo.m_Texts[kProductUpdatePage] = nullptr;
        TfrmMain main;
        main.show();
        EXPECT_EQ(g_updateChecks, 0);
        ASSERT_EQ(g_mainWindows.size(), 1u);
        EXPECT_EQ(g_mainWindows[0], main.Handle());
        EXPECT_NE(main.Handle(), 0u);
        EXPECT_NE(main.RenderHandle(), 0u);
        EXPECT_NE(main.RenderHandle(), main.Handle());
    }
    AppProductInfo.m_Texts[kProductUpdatePage] = kUpdatePage;
    {
        SCOPED_TRACE("updates switched off");
        g_settings.m_DisableUpdate = -1;
        TfrmMain main;
        main.show();
        EXPECT_EQ(g_updateChecks, 0);
        g_settings.m_DisableUpdate = 0;
    }
    {
        SCOPED_TRACE("due");
        g_mainWindows.clear();
        TfrmMain main;
        main.show();
        main.hide();
        main.show();
        EXPECT_EQ(g_mainWindows.size(), 2u) << "every showing registers the window";
        EXPECT_EQ(g_updateChecks, 1) << "the check runs once a run";
        EXPECT_EQ(g_updateKey, "reelpage");
        EXPECT_EQ(g_updateMessage, reelpage::kMsgUpdateVersion);
    }
    AppProductInfo.m_Texts[kProductUpdatePage] = nullptr;
}

TEST_F(MainWindow, ProjectLoadedAndPreviewMessages) {
    MediaInfo media = Entry(QStringLiteral("/videos/a.mp4"), QStringLiteral("A"));
    media.m_Duration = 200'900'000; // 200.9 s: the bar works in whole seconds
    Project project{};
    project.m_ClipStart = 20'000'000;
    project.m_ClipStop = 200'000'000; // at the last second: to the end
    TfrmMain main;
    main.show();
    ASSERT_TRUE(main.WebBrowser1 != nullptr);
    AppProject = &project;
    AppProjectMedia = &media;
    main.OnTaskChanged();

    EXPECT_TRUE(main.btnPlay->isEnabled());
    EXPECT_TRUE(main.btnPoster->isEnabled());
    EXPECT_TRUE(main.TrackBar1->isEnabled());
    EXPECT_TRUE(main.FileInformation1->isEnabled());
    EXPECT_EQ(main.TrackBar1->Max(), 200);
    EXPECT_EQ(main.TrackBar1->Position(), 0);
    EXPECT_EQ(main.lblPlayPosition->text(), "00:00 / 03:20") << "time shows before playing";
    EXPECT_EQ(project.m_ClipStop, 0);
    EXPECT_EQ(main.lblClipStart->text(), "00:20");
    EXPECT_EQ(main.lblClipStop->text(), "03:20") << "to the end: the end of the video";
    EXPECT_EQ(main.lblDuration->text(), "03:00");
    EXPECT_EQ(main.TrackBar1->SelStart(), 20);
    EXPECT_EQ(main.TrackBar1->SelEnd(), 200);
    EXPECT_TRUE(main.btnClipStart->isEnabled());
    EXPECT_FALSE(main.btnClipStop->isEnabled());
    EXPECT_TRUE(main.btnClipReset->isEnabled());
    EXPECT_EQ(main.WebBrowser1, nullptr) << "the help page is gone for good";

    main.WndProc(reelpage::kMsgPreviewSecond, 65, 0);
    EXPECT_EQ(main.TrackBar1->Position(), 65);
    EXPECT_EQ(main.lblPlayPosition->text(), "01:05 / 03:20");
    EXPECT_TRUE(main.btnClipStop->isEnabled());
    main.WndProc(reelpage::kMsgPreviewSecond, 200, 0);
    EXPECT_FALSE(main.btnClipStart->isEnabled());

    main.btnPlay->SetImage(&Images.Pause);
    main.WndProc(reelpage::kMsgPreviewEnded, 0, 0);
    EXPECT_FALSE(main.Playing());
    EXPECT_EQ(main.btnPlay->Image(), &Images.Play);
}

TEST_F(MainWindow, ReplayShowsTheWindowAndRestartsThePreview) {
    MediaInfo media = Entry(QStringLiteral("/videos/a.mp4"), QStringLiteral("A"));
    Project project{};
    AppProject = &project;
    AppProjectMedia = &media;
    TfrmMain main;
    main.OnTaskChanged();
    main.TrackBar1->SetPosition(42);
    main.btnPlay->SetImage(&Images.Pause);
    g_freeEncoding = 0;
    g_restarts.clear();
    main.hide();
    main.WndProc(reelpage::kMsgReplay, 0, 0);
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(g_freeEncoding, 1);
    ASSERT_EQ(g_restarts.size(), 1u);
    EXPECT_EQ(g_restarts[0], std::make_pair(main.RenderHandle(), main.Handle()));
    EXPECT_EQ(main.TrackBar1->Position(), 0);
    EXPECT_EQ(main.btnPlay->Image(), &Images.Play);
    EXPECT_FALSE(main.Playing());
}

TEST_F(MainWindow, PostedMessagesArriveThroughTheRouter) {
    // The engine's start attaches the router to the application's thread.
    ASSERT_EQ(apptest::StartEngineOnce(), 0);
    MediaInfo media = Entry(QStringLiteral("/videos/a.mp4"), QStringLiteral("A"));
    Project project{};
    AppProject = &project;
    AppProjectMedia = &media;
    TfrmMain main;
    main.OnTaskChanged();
    EXPECT_EQ(main.property("reelpage_hwnd").toUInt(), main.Handle());
    EXPECT_EQ(main.palRender->property("reelpage_hwnd").toUInt(), main.RenderHandle());

    ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewSecond, 5, 0));
    ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewSecond, 9, 0));
    ASSERT_TRUE(apptest::WaitFor([&] { return main.TrackBar1->Position() == 9; }, 5000));
    EXPECT_EQ(main.lblPlayPosition->text(), "00:09 / 03:20");

    // Position reports still queued can be dropped before a seek.
    ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewSecond, 77, 0));
    ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewEnded, 0, 0));
    RemoveAppMessages(main.Handle(), reelpage::kMsgPreviewSecond);
    main.btnPlay->SetImage(&Images.Pause);
    ASSERT_TRUE(apptest::WaitFor([&] { return main.btnPlay->Image() == &Images.Play; }, 5000));
    EXPECT_EQ(main.TrackBar1->Position(), 9);

    HWND gone = 0;
    {
        TfrmMain other;
        gone = other.Handle();
    }
    EXPECT_FALSE(PostAppMessage(gone, reelpage::kMsgReplay, 0, 0)) << "the window went with its form";
}

Talvoricer* FakeStartEncoding(HWND) {
    static Talvoricer job{};
    return &job;
}

TEST_F(MainWindow, StartHidesTheMainWindowForTheEncodingWindow) {
    Low.StartEncoding.Set(&FakeStartEncoding);
    apptest::MessageRecorder abort(QMessageBox::Yes);
    TfrmMain main;
    main.show();
    main.OnStart();
    EXPECT_FALSE(main.isVisible());
    QWidget* tasklist = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "frmTasklist" && w->isVisible()) tasklist = w;
    ASSERT_NE(tasklist, nullptr);
    EXPECT_EQ(tasklist->parentWidget(), nullptr) << "a window of its own";
    tasklist->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    main.WndProc(reelpage::kMsgOpenPublish, 0, 0);
    QWidget* publish = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "frmPublish" && w->isVisible()) publish = w;
    ASSERT_NE(publish, nullptr);
    EXPECT_FALSE(main.isVisible()) << "the main window stays hidden while publishing";
    publish->close();
}

TEST_F(MainWindow, HelpPageIsOurOwnAndNamesTheOutputFolder) {
    QUrl address = TfrmMain::HelpPageAddress();
    EXPECT_TRUE(address.isLocalFile());
    EXPECT_TRUE(QFileInfo::exists(address.toLocalFile())) << address.toLocalFile().toStdString();
    EXPECT_TRUE(address.toString(QUrl::FullyEncoded)
                    .endsWith(QStringLiteral("?folder=%2Ftmp%2FWeb%20Videos"), Qt::CaseInsensitive))
        << address.toString(QUrl::FullyEncoded).toStdString();

    TfrmMain main;
    main.show();
    ASSERT_TRUE(apptest::WaitFor([&] { return main.DocumentComplete(); }, 30000));
    QString shown;
    main.WebBrowser1->page()->runJavaScript(
        QStringLiteral("document.getElementById('folder').textContent"),
        [&](const QVariant& v) { shown = v.toString(); });
    ASSERT_TRUE(apptest::WaitFor([&] { return !shown.isEmpty(); }, 10000));
    EXPECT_EQ(shown, "/tmp/Web Videos");
}

TEST_F(MainWindow, HelpPageLinksAreCommandsOnceLoaded) {
    TfrmMain main;
    main.show();
    QWebEnginePage* page = main.WebBrowser1->page();
    // Before the first load has finished a navigation goes ahead as usual.
    QUrl other = QUrl::fromLocalFile(ProgramFolder + QStringLiteral("Help/index.html"));
    other.setQuery(QStringLiteral("folder=%2felsewhere"));
    EXPECT_FALSE(main.DocumentComplete());
    page->setUrl(other);
    ASSERT_TRUE(apptest::WaitFor([&] { return main.DocumentComplete(); }, 30000));
    EXPECT_EQ(page->url(), other) << page->url().toString().toStdString();

    auto click = [&](const char* href) {
        page->runJavaScript(QStringLiteral("var a = document.createElement('a'); a.href = '%1';"
                                           "document.body.appendChild(a); a.click();")
                                .arg(QString::fromLatin1(href)));
    };

    OpenedUrls opened;
    ModalCloser closer;
    g_saveSettings = 0;

    click("http://folder/");
    ASSERT_TRUE(apptest::WaitFor([&] { return !opened.urls.isEmpty(); }, 10000));
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(QStringLiteral("/tmp/Web Videos")));

    click("http://chang_folder/");
    ASSERT_TRUE(apptest::WaitFor([&] { return g_saveSettings == 1; }, 10000));
    EXPECT_EQ(closer.seen.value(0), "reelpage::app::TfrmOptions:Options ...");

    click("http://add_files/");
    ASSERT_TRUE(apptest::WaitFor([&] { return closer.seen.size() == 2; }, 10000));
    EXPECT_EQ(closer.seen.value(1), "QFileDialog:Add Video Files");

    // Anything else is swallowed, and the page never leaves.
    click("http://example.com/");
    click("file:///etc/hostname");
    QUrl third = other;
    third.setQuery(QStringLiteral("folder=%2fthird"));
    page->setUrl(third);
    QTest::qWait(500);
    QString location;
    page->runJavaScript(QStringLiteral("location.href"),
                        [&](const QVariant& v) { location = v.toString(); });
    ASSERT_TRUE(apptest::WaitFor([&] { return !location.isEmpty(); }, 10000));
    EXPECT_EQ(QUrl(location), other) << location.toStdString();
    EXPECT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(closer.seen.size(), 2);
    EXPECT_EQ(g_saveSettings, 1);
}

#include "main_window_test.moc"
