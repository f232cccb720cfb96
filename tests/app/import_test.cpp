// The import of a file against a stand-in engine: the progress dialog's
// handling of the engine's messages and of the abort question, what the
// General panel makes of each verdict, and the file information dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

#include "dialogs/FileInformation.h"
#include "Functions.h"
#include "panels/Home.h"
#include "dialogs/Loading.h"
#include "LowInterface.h"
#include "Main.h"
#include "WindowHandle.h"
#include "app_test_support.h"
#include "platform/router.h"
#include "reelpage/messages.h"

using namespace reelpage::app;

namespace {

// The stand-in engine's state.
MediaInfo g_opened;                // the record OpenMedia hands out
std::optional<int> g_doneAtOnce;   // a verdict posted as soon as the import starts
std::vector<int> g_progressAtOnce; // progress posted before it
HWND g_loadingWindow = 0;
QString g_openedPath;
uint32_t g_doneMessage = 0, g_progressMessage = 0;
Project g_newProject{};
std::vector<std::pair<MediaInfo*, std::pair<HWND, HWND>>> g_created;
int g_historyReads = 0;

MediaInfo* FakeOpenMedia(const WCHAR* path, HWND hwnd, int32_t, uint32_t done, uint32_t progress) {
    g_openedPath = QString::fromUtf16(path);
    g_loadingWindow = hwnd;
    g_doneMessage = done;
    g_progressMessage = progress;
    for (int p : g_progressAtOnce)
        PostAppMessage(hwnd, progress, p, 0);
    if (g_doneAtOnce) PostAppMessage(hwnd, done, *g_doneAtOnce, 0);
    return &g_opened;
}
Project* FakeCreateProject(MediaInfo* media, HWND render, HWND notify) {
    g_created.push_back({media, {render, notify}});
    return &g_newProject;
}
int32_t FakeHistoryCount() {
    return ++g_historyReads, 0;
}

MediaInfo Video(const QString& file, bool video = true) {
    MediaInfo m{};
    SetFieldText(m.m_szFileName, file);
    SetFieldText(m.m_szName, QStringLiteral("Clip"));
    m.m_bVideoStream = video ? 1 : 0;
    m.m_bAudioStream = 1;
    m.m_Duration = 60'000'000;
    return m;
}

// Runs action once on the import dialog as soon as it is on screen.
void WhenLoading(std::function<void(TfrmLoading*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        auto* dialog = qobject_cast<TfrmLoading*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        action(dialog);
    });
    timer->start(10);
}

class ImportFlow : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        apptest::StandInMainWindowEngine();
        ASSERT_EQ(apptest::StartEngineOnce(), 0);
        Low.OpenMedia.Set(&FakeOpenMedia);
        Low.CreateProject.Set(&FakeCreateProject);
        Low.GetHistoryCount.Set(&FakeHistoryCount);
        oldMedia = Video(QStringLiteral("/videos/old.mp4"));
        AppProject = &oldProject;
        AppProjectMedia = &oldMedia;
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
        g_opened = Video(QStringLiteral("/videos/new.mkv"));
        g_doneAtOnce.reset();
        g_progressAtOnce.clear();
        g_created.clear();
    }
    void TearDown() override {
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    // The old project is still the current one.
    void ExpectOldProject() {
        EXPECT_TRUE(g_created.empty());
        EXPECT_EQ(AppProject, &oldProject);
        EXPECT_EQ(AppProjectMedia, &oldMedia);
    }
    Project oldProject{};
    MediaInfo oldMedia{};
};

} // namespace

TEST_F(ImportFlow, EachResultCodeHasItsOutcome) {
    struct Case {
        int code;
        bool video;
        const char* text; // nullptr: no message
        bool newProject;
    };
    const Case cases[] = {
        {reelpage::kProbeOk, true, nullptr, true},
        {reelpage::kProbeOk, false, "Not a movie file", false},
        {reelpage::kProbeFailed, true, "Failed to import file", false},
        {reelpage::kProbeUnreadable, true,
         "Unable to read file information or file does not exist.", false},
        {reelpage::kProbeUnsupported, true, "Not support this file.", false},
        {reelpage::kProbeNoAccess, true, "The file cannot be read: permission denied.", false},
        {reelpage::kProbePathTooLong, true,
         "The file's path is too long (at most 259 characters).", false},
        {-6, true, nullptr, false}, // codes no probe gives
        {1, true, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        SetUp();
        g_opened.m_bVideoStream = c.video ? 1 : 0;
        g_doneAtOnce = c.code;
        g_progressAtOnce = {10, 60};
        TfrmMain main;
        int historyReads = g_historyReads;
        apptest::MessageRecorder messages;
        main.frmHome->AddFile(QStringLiteral("/videos/new.mkv"));

        EXPECT_EQ(g_openedPath, "/videos/new.mkv");
        EXPECT_EQ(g_doneMessage, reelpage::kMsgProbeDone);
        EXPECT_EQ(g_progressMessage, reelpage::kMsgProbeProgress);
        if (c.text) {
            ASSERT_EQ(messages.shown.size(), 1u);
            EXPECT_EQ(messages.shown[0].text, c.text);
            EXPECT_EQ(messages.shown[0].caption, "Zelmorix Reelpage");
            EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
        } else {
            EXPECT_TRUE(messages.shown.empty());
        }
        if (c.newProject) {
            ASSERT_EQ(g_created.size(), 1u);
            EXPECT_EQ(g_created[0].first, &g_opened);
            EXPECT_EQ(g_created[0].second.first, main.RenderHandle());
            EXPECT_EQ(g_created[0].second.second, main.Handle());
            EXPECT_EQ(AppProject, &g_newProject);
            EXPECT_EQ(AppProjectMedia, &g_opened);
        } else {
            ExpectOldProject();
        }
        EXPECT_GT(g_historyReads, historyReads) << "the Recent menu is read again every time";
    }
}

TEST_F(ImportFlow, AFileFromALaterStartWaitsForWhateverIsInTheWay) {
    g_doneAtOnce = 0;
    g_openedPath.clear();
    TfrmMain main;
    main.show();
    main.SetCurrentControl(1);
    apptest::MessageRecorder messages;

    // Handed over while a dialog is open: nothing starts under it.
    QDialog options(&main);
    options.setModal(true);
    options.show();
    const QByteArray path = QStringLiteral("/videos/été.mkv").toUtf8();
    platform::CopyData copy{kCopyOpenFile, uint32_t(path.size()), path.constData()};
    main.WndProc(platform::kMsgCopyData, int64_t(kCopyOpenFile), int64_t(intptr_t(&copy)));
    EXPECT_FALSE(apptest::WaitFor([&] { return !g_openedPath.isEmpty(); }, 700));
    options.close();
    ASSERT_TRUE(apptest::WaitFor([&] { return g_created.size() == 1; }, 5000));
    EXPECT_EQ(g_openedPath, QStringLiteral("/videos/été.mkv"));
    EXPECT_EQ(main.CurrentControl(), 0) << "the import happens on the General panel";
    EXPECT_EQ(AppProject, &g_newProject);

    // While the main window is hidden (encoding, publishing) the file waits
    // for its return; a newer file replaces one still waiting.
    main.hide();
    main.OpenFile(QStringLiteral("/videos/first.mkv"));
    main.OpenFile(QStringLiteral("/videos/second.mkv"));
    EXPECT_FALSE(apptest::WaitFor([&] { return g_created.size() > 1; }, 700));
    main.show();
    ASSERT_TRUE(apptest::WaitFor([&] { return g_created.size() == 2; }, 5000));
    EXPECT_EQ(g_openedPath, "/videos/second.mkv");
    EXPECT_FALSE(apptest::WaitFor([&] { return g_created.size() > 2; }, 700));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ImportFlow, ProgressFollowsTheEngine) {
    TfrmLoading dialog(nullptr);
    dialog.AddFile(QStringLiteral("/videos/new.mkv"));
    EXPECT_EQ(dialog.windowTitle(), "Loding ...");
    EXPECT_EQ(dialog.lblFileName->text(), "/videos/new.mkv");
    EXPECT_EQ(g_loadingWindow, dialog.Handle());
    dialog.show();
    ASSERT_TRUE(PostAppMessage(dialog.Handle(), reelpage::kMsgProbeProgress, 42, 0));
    ASSERT_TRUE(apptest::WaitFor([&] { return dialog.ProgressBar1->value() == 42; }, 5000));
    EXPECT_FALSE(dialog.FDone);
    ASSERT_TRUE(PostAppMessage(dialog.Handle(), reelpage::kMsgProbeDone, reelpage::kProbeOk, 0));
    ASSERT_TRUE(apptest::WaitFor([&] { return !dialog.isVisible(); }, 5000));
    EXPECT_TRUE(dialog.FSuccess);
    EXPECT_EQ(dialog.ProgressBar1->value(), 100);
}

TEST_F(ImportFlow, CancelAnsweredNoKeepsWaitingAndYesAbandonsTheImport) {
    {
        TfrmMain main;
        apptest::MessageRecorder messages(QMessageBox::No);
        WhenLoading([&](TfrmLoading* dialog) {
            dialog->btnCancel->click();
            EXPECT_TRUE(dialog->isVisible()) << "No keeps the import running";
            EXPECT_FALSE(dialog->FClosePending);
            PostAppMessage(dialog->Handle(), reelpage::kMsgProbeDone, reelpage::kProbeOk, 0);
        });
        main.frmHome->AddFile(QStringLiteral("/videos/new.mkv"));
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, "Are you sure to abort the video import?");
        EXPECT_EQ(messages.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(messages.shown[0].defaultButton, QMessageBox::No);
        EXPECT_EQ(messages.shown[0].icon, QMessageBox::Question);
        EXPECT_EQ(g_created.size(), 1u) << "the import went on to its end";
    }
    SetUp();
    {
        TfrmMain main;
        apptest::MessageRecorder messages(QMessageBox::Yes);
        WhenLoading([](TfrmLoading* dialog) { dialog->close(); });
        main.frmHome->AddFile(QStringLiteral("/videos/new.mkv"));
        EXPECT_EQ(messages.shown.size(), 1u) << "only the question; an abort says nothing after";
        ExpectOldProject();
    }
}

TEST_F(ImportFlow, ACompletionWhileTheQuestionIsOpenWaitsForTheAnswer) {
    for (QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::No}) {
        SCOPED_TRACE(answer == QMessageBox::Yes ? "Yes" : "No");
        SetUp();
        TfrmMain main;
        int questions = 0;
        TfrmLoading* loading = nullptr;
        SetMessageHandler([&](const MessageRequest&) {
            ++questions;
            PostAppMessage(loading->Handle(), reelpage::kMsgProbeDone, reelpage::kProbeOk, 0);
            EXPECT_TRUE(apptest::WaitFor([&] { return loading->FDone; }, 5000));
            EXPECT_TRUE(loading->isVisible()) << "the verdict does not close over the question";
            return answer;
        });
        WhenLoading([&](TfrmLoading* dialog) {
            loading = dialog;
            dialog->btnCancel->click();
            if (answer == QMessageBox::No) {
                EXPECT_TRUE(dialog->isVisible());
                // Closing again needs no question now.
                dialog->btnCancel->click();
            }
        });
        main.frmHome->AddFile(QStringLiteral("/videos/new.mkv"));
        SetMessageHandler(nullptr);
        EXPECT_EQ(questions, 1);
        ASSERT_EQ(g_created.size(), 1u) << "the verdict is used as usual";
        EXPECT_EQ(AppProjectMedia, &g_opened);
    }
}

TEST(MediaInformation, Texts) {
    EXPECT_EQ(TfrmMediaInfo::FrameRateText(30000, 1001), "29.97 fps");
    EXPECT_EQ(TfrmMediaInfo::FrameRateText(25, 1), "25 fps");
    const std::pair<int32_t, const char*> rates[] = {
        {1500000, "1.5 Mbps"}, {2000000, "2 Mbps"}, {128000, "128 Kbps"},
        {96500, "96.5 Kbps"},  {1000000, "1 Mbps"}, {999999, "1000.0 Kbps"},
        {0, "Unknown"}, // a container without a rate (Vorbis in Matroska)
    };
    for (auto [rate, text] : rates)
        EXPECT_EQ(TfrmMediaInfo::BitRateText(rate), text) << rate;
    EXPECT_EQ(TfrmMediaInfo::SampleRateText(8000), "Phone Quality (8000)");
    EXPECT_EQ(TfrmMediaInfo::SampleRateText(22050), "Low Quality (22050)");
    EXPECT_EQ(TfrmMediaInfo::SampleRateText(44100), "CD Quality (44100)");
    EXPECT_EQ(TfrmMediaInfo::SampleRateText(48000), "DVD Quality (48000)");
    EXPECT_EQ(TfrmMediaInfo::SampleRateText(32000), "");
    const std::pair<int32_t, const char*> channels[] = {
        {1, "Mono"}, {2, "Stereo"}, {3, "2.1"}, {6, "5.1"}, {8, "7.1"}, {0, ""}};
    for (auto [count, name] : channels)
        EXPECT_EQ(TfrmMediaInfo::ChannelText(count), name) << count;
}

TEST(MediaInformation, FillsThePagesOfTheStreamsThereAre) {
    apptest::EnsureApplication();
    MediaInfo m{};
    SetFieldText(m.m_szFileName, QStringLiteral("/videos/a.mp4"));
    SetFieldText(m.m_szName, QStringLiteral("A title"));
    m.m_bVideoStream = 1;
    m.m_Width = 1280;
    m.m_Height = 720;
    m.m_FrameRateNum = 30000;
    m.m_FrameRateDen = 1001;
    m.m_VideoBitRate = 2000000;
    {
        TfrmMediaInfo dialog(nullptr);
        dialog.InitForm(&m);
        EXPECT_EQ(dialog.windowTitle(), "File Informaion ...");
        EXPECT_EQ(dialog.edFile->text(), "/videos/a.mp4");
        EXPECT_EQ(dialog.edTitle->text(), "A title");
        EXPECT_EQ(dialog.edResolution->text(), "1280 x 720");
        EXPECT_EQ(dialog.edFrameRate->text(), "29.97 fps");
        EXPECT_EQ(dialog.edVideoBitRate->text(), "2 Mbps");
        EXPECT_TRUE(dialog.PageControl1->isTabVisible(0));
        EXPECT_FALSE(dialog.PageControl1->isTabVisible(1)) << "no audio: no Audio page";
        EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.Video);
    }
    m.m_bVideoStream = 0;
    m.m_bAudioStream = 1;
    m.m_SampleRate = 44100;
    m.m_nChannel = 2;
    m.m_AudioBitRate = 96500;
    {
        TfrmMediaInfo dialog(nullptr);
        dialog.InitForm(&m);
        EXPECT_FALSE(dialog.PageControl1->isTabVisible(0));
        EXPECT_TRUE(dialog.PageControl1->isTabVisible(1));
        EXPECT_EQ(dialog.edSamples->text(), "CD Quality (44100)");
        EXPECT_EQ(dialog.edChannels->text(), "Stereo");
        EXPECT_EQ(dialog.edAudioBitRate->text(), "96.5 Kbps");
    }
}

namespace {
std::vector<QString> g_savedTitles;
void FakeSaveMediaInfo(MediaInfo* m) {
    g_savedTitles.push_back(FieldText(m->m_szName));
}
} // namespace

TEST_F(ImportFlow, TheTitleIsStoredAndSavedOnEveryChange) {
    Low.SaveMediaInfo.Set(&FakeSaveMediaInfo);
    g_savedTitles.clear();
    g_doneAtOnce = 0;
    TfrmMain main;
    main.frmHome->AddFile(QStringLiteral("/videos/new.mkv"));
    ASSERT_EQ(AppProjectMedia, &g_opened);
    EXPECT_TRUE(main.frmHome->edTitle->isEnabled());
    EXPECT_EQ(main.frmHome->edTitle->text(), "Clip");
    EXPECT_TRUE(g_savedTitles.empty()) << "loading the project is no change";

    // The box takes no more than the record stores, so the page gets the
    // title that was typed.
    EXPECT_EQ(main.frmHome->edTitle->maxLength(), 62);
    const QString seventy(70, QChar('t'));
    main.frmHome->edTitle->setText(seventy);
    EXPECT_EQ(main.frmHome->edTitle->text(), seventy.left(62));
    EXPECT_EQ(FieldText(g_opened.m_szName), seventy.left(62));
    ASSERT_TRUE(apptest::WaitFor([&] { return g_savedTitles.size() == 1u; }, 5000));

    // Keystrokes write the record but save it (two syncs to disk) once, when
    // typing pauses.
    QTest::keyClicks(main.frmHome->edTitle, QStringLiteral("abc"));
    EXPECT_EQ(FieldText(g_opened.m_szName), seventy.left(62)) << "the box was full";
    main.frmHome->edTitle->clear();
    QTest::keyClicks(main.frmHome->edTitle, QStringLiteral("Short"));
    EXPECT_EQ(FieldText(g_opened.m_szName), "Short");
    EXPECT_EQ(g_savedTitles.size(), 1u) << "nothing saved while typing";
    ASSERT_TRUE(apptest::WaitFor([&] { return !main.frmHome->TitleSavePending(); }, 5000));
    EXPECT_EQ(g_savedTitles, (std::vector<QString>{seventy.left(62), "Short"}));

    main.frmHome->ChangeTitle(QStringLiteral("From the dialog"));
    EXPECT_EQ(main.frmHome->edTitle->text(), "From the dialog");
    EXPECT_EQ(g_savedTitles.size(), 3u) << "saved once, not again by the edit's handler";
    EXPECT_EQ(FieldText(g_opened.m_szName), "From the dialog");
}

TEST_F(ImportFlow, ATitleTypedJustBeforeClosingIsSaved) {
    Low.SaveMediaInfo.Set(&FakeSaveMediaInfo);
    g_savedTitles.clear();
    g_doneAtOnce = 0;
    {
        TfrmMain main;
        main.frmHome->AddFile(QStringLiteral("/videos/new.mkv"));
        ASSERT_EQ(AppProjectMedia, &g_opened);
        QTest::keyClicks(main.frmHome->edTitle, QStringLiteral("X"));
        ASSERT_TRUE(main.frmHome->TitleSavePending());
        EXPECT_TRUE(g_savedTitles.empty());
    }
    EXPECT_EQ(g_savedTitles, (std::vector<QString>{"ClipX"}));
}
