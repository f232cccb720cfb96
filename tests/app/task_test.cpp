// The encoding window against a stand-in engine: the progress display, the
// counting of the outputs' completion messages, failures, the abort question
// and what the main window is told when the window goes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Functions.h"
#include "LowInterface.h"
#include "Main.h"
#include "dialogs/Task.h"
#include <QPushButton>
#include "WindowHandle.h"
#include "app_test_support.h"
#include "reelpage/encoding.h"
#include "reelpage/messages.h"

using namespace reelpage::app;

namespace {

Talvoricer g_job;
bool g_startFails = false;
std::vector<int> g_finished; // FinishEncoding's arguments
int32_t g_finishResult = 0;
const WCHAR* g_outputFolder = nullptr;
int g_freed = 0;
uint32_t g_now = 0;

Talvoricer* FakeStartEncoding(HWND) {
    return g_startFails ? nullptr : &g_job;
}
// While set, FinishEncoding is held as a slow disk would hold it (for a few
// seconds at most).
std::atomic<bool> g_holdFinish{false};
std::atomic<bool> g_inFinish{false};
int32_t FakeFinishEncoding(reelpage::BOOL cancel) {
    g_inFinish = true;
    for (int i = 0; g_holdFinish && i < 300; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    g_finished.push_back(cancel);
    g_inFinish = false;
    return g_finishResult;
}
const WCHAR* FakeGetOutputFolder() {
    return g_outputFolder;
}
int32_t FakeFreeEncoding() {
    return ++g_freed, 0;
}
int32_t FakeNoTemplates() {
    return 0;
}
int32_t FakePublishPage(reelpage::BOOL, WCHAR* out) {
    if (out) out[0] = 0;
    return -1;
}

QWidget* VisibleTopLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible()) return w;
    return nullptr;
}

class EncodingWindow : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        apptest::StandInMainWindowEngine();
        ASSERT_EQ(apptest::StartEngineOnce(), 0);
        Low.StartEncoding.Set(&FakeStartEncoding);
        Low.FinishEncoding.Set(&FakeFinishEncoding);
        Low.FreeEncoding.Set(&FakeFreeEncoding);
        Low.GetTemplateCount.Set(&FakeNoTemplates);
        Low.PublishPage.Set(&FakePublishPage);
        Low.GetOutputFolder.Set(&FakeGetOutputFolder);
        g_finishResult = 0;
        g_outputFolder = nullptr;
        g_job = Talvoricer{};
        g_job.m_cEncoder = 1;
        g_job.m_Duration = 100'000'000;
        g_startFails = false;
        g_finished.clear();
        g_holdFinish = false;
        g_freed = 0;
        g_now = 5000;
        TfrmTasklist::TickCount = [] { return g_now; };
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
        main = std::make_unique<TfrmMain>();
        main->show();
    }
    void TearDown() override {
        // Deleting a window deletes its menus, which are top-level widgets
        // too: collect guarded pointers first.
        std::vector<QPointer<QWidget>> publish;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmPublish")) publish.emplace_back(w);
        for (const QPointer<QWidget>& w : publish)
            delete w.data();
        delete tasklist.data();
        main.reset();
    }
    // Start pressed on the General panel.
    void Start() {
        main->OnStart();
        tasklist = qobject_cast<TfrmTasklist*>(VisibleTopLevel("frmTasklist"));
    }
    void Post(uint32_t msg, int64_t wParam) {
        ASSERT_TRUE(PostAppMessage(tasklist->Handle(), msg, wParam, 0));
    }
    // Lets posted messages and the window's deferred deletion run.
    bool Gone() { return apptest::WaitUntilDeleted(tasklist, 5000); }
    void Settle() {
        apptest::WaitFor([] { return false; }, 100);
    }

    apptest::MessageRecorder boxes{QMessageBox::Yes};
    std::unique_ptr<TfrmMain> main;
    QPointer<TfrmTasklist> tasklist;
};

TEST_F(EncodingWindow, ThreeOutputsNeedThreeCompletionsThenPublish) {
    g_job.m_cEncoder = 3;
    Start();
    ASSERT_NE(tasklist, nullptr);
    EXPECT_EQ(tasklist->windowTitle(), QStringLiteral("Encoding ..."));
    EXPECT_EQ(tasklist->parentWidget(), nullptr);
    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(tasklist->Timer1->isActive());

    Post(reelpage::kMsgAudioFed, reelpage::kAudioFedAll); // input fed normally: not an end
    Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
    Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
    Settle();
    ASSERT_FALSE(tasklist.isNull()) << "two of three outputs are not enough";
    EXPECT_FALSE(tasklist->FDone);
    EXPECT_TRUE(g_finished.empty());

    Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
    ASSERT_TRUE(Gone());
    EXPECT_TRUE(boxes.shown.empty()) << "no question once the run has ended";
    EXPECT_EQ(g_finished, std::vector<int>{0});
    ASSERT_TRUE(apptest::WaitFor([] { return VisibleTopLevel("frmPublish") != nullptr; }, 5000));
    EXPECT_FALSE(main->isVisible()) << "the main window stays hidden while publishing";
}

// Every output written, but the package could not take its name (the
// output folder turned read-only meanwhile): not a success. The user learns
// where the files were kept, and there is no package to publish.
TEST_F(EncodingWindow, APackageThatCannotTakeItsNameIsAFailureThatSaysWhereItIs) {
    const std::u16string kept = u"/home/u/Videos/.reelpage-job-1A2B3C4D";
    g_outputFolder = kept.c_str();
    g_finishResult = -1;
    Start();
    ASSERT_NE(tasklist, nullptr);
    Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
    ASSERT_TRUE(Gone());
    EXPECT_EQ(g_finished, std::vector<int>{0}) << "the finished job was asked to take its name";
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown[0].text.contains(QString::fromStdU16String(kept)))
        << boxes.shown[0].text.toStdString();
    ASSERT_TRUE(apptest::WaitFor([&] { return main->isVisible(); }, 5000))
        << "back to editing";
    EXPECT_EQ(VisibleTopLevel("frmPublish"), nullptr);
    EXPECT_EQ(g_freed, 1);
}

TEST_F(EncodingWindow, TheJobIsFinishedAsTheWindowClosesNotWhenItIsDeleted) {
    Start();
    ASSERT_NE(tasklist, nullptr);
    std::vector<int> whenFinished;
    size_t whenDestroyed = 0;
    QObject::connect(tasklist, &TfrmTasklist::Finished, [&](bool) { whenFinished = g_finished; });
    QObject::connect(tasklist, &QObject::destroyed, [&] { whenDestroyed = g_finished.size(); });
    Post(reelpage::kMsgEncoderDone, 0);
    ASSERT_TRUE(Gone());
    EXPECT_EQ(whenFinished, std::vector<int>{0}) << "finished before it says so";
    EXPECT_EQ(whenDestroyed, 1u) << "deleting it asks the engine nothing more";
    ASSERT_TRUE(apptest::WaitFor([] { return VisibleTopLevel("frmPublish") != nullptr; }, 5000));
}

// Finishing the job waits for the engine's helpers and writes to disk: the
// window goes on handling events meanwhile, and says Finished only after.
TEST_F(EncodingWindow, FinishingTheJobLeavesTheInterfaceThreadFree) {
    Start();
    ASSERT_NE(tasklist, nullptr);
    bool finished = false;
    QObject::connect(tasklist, &TfrmTasklist::Finished, [&](bool) { finished = true; });
    g_holdFinish = true;
    Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
    ASSERT_TRUE(apptest::WaitFor([] { return g_inFinish.load(); }, 5000))
        << "the job was finished on the interface thread";
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    EXPECT_TRUE(apptest::WaitFor([&] { return ticked; }, 1000));
    EXPECT_TRUE(g_inFinish);
    EXPECT_FALSE(finished);
    ASSERT_FALSE(tasklist.isNull());
    EXPECT_FALSE(tasklist->btnCancel->isEnabled());
    tasklist->close(); // asked again meanwhile: neither a question nor a second finish
    g_holdFinish = false;
    ASSERT_TRUE(Gone());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(finished);
    EXPECT_EQ(g_finished, std::vector<int>{0});
    ASSERT_TRUE(apptest::WaitFor([] { return VisibleTopLevel("frmPublish") != nullptr; }, 5000));
}

// The window destroyed while the engine finishes the job (the main window
// going at a stop request) waits for that call: the engine's exit comes
// next and must not run beside it.
TEST_F(EncodingWindow, DestroyedWhileFinishingWaitsForTheFinish) {
    Start();
    ASSERT_NE(tasklist, nullptr);
    g_holdFinish = true;
    Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
    ASSERT_TRUE(apptest::WaitFor([] { return g_inFinish.load(); }, 5000));
    // Let the held call go on its own after a while, as a slow disk would.
    std::thread release([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        g_holdFinish = false;
    });
    delete tasklist.data();
    EXPECT_FALSE(g_inFinish) << "the window was gone before the engine had finished the job";
    EXPECT_EQ(g_finished, std::vector<int>{0});
    release.join();
}

TEST_F(EncodingWindow, ProgressAndEstimate) {
    Start();
    ASSERT_NE(tasklist, nullptr);
    EXPECT_EQ(tasklist->PanelText(0), QStringLiteral("0%"));
    EXPECT_EQ(tasklist->PanelText(4), QStringLiteral("0:00"));
    const struct {
        uint32_t elapsedMs;
        int64_t pts;
        const char *percent, *elapsed, *remaining;
    } ticks[] = {
        {10'000, 1'500'000, "1%", "00:10", "0:00"},   // too early for an estimate
        {20'000, 2'000'000, "2%", "00:20", "16:20"},  // 1000 s projected, 980 s left
        {30'000, 50'000'000, "50%", "00:30", "00:30"},
        {31'500, 99'999'999, "99%", "00:31", "00:00"},
    };
    for (const auto& t : ticks) {
        g_now = 5000 + t.elapsedMs;
        g_job.m_Pts = t.pts;
        tasklist->Timer1Timer();
        EXPECT_EQ(tasklist->PanelText(0), QString::fromLatin1(t.percent));
        EXPECT_EQ(tasklist->PanelText(2), QString::fromLatin1(t.elapsed));
        EXPECT_EQ(tasklist->PanelText(4), QString::fromLatin1(t.remaining));
        EXPECT_EQ(tasklist->ProgressBar1->value(), QString::fromLatin1(t.percent).chopped(1).toInt());
    }
    EXPECT_EQ(tasklist->PanelText(1), QStringLiteral("Elapsed:"));
    EXPECT_EQ(tasklist->PanelText(3), QStringLiteral("Estimated:"));
}

TEST_F(EncodingWindow, ZeroDurationIsCompleteAtTheFirstTick) {
    g_job.m_Duration = 0;
    Start();
    ASSERT_NE(tasklist, nullptr);
    tasklist->Timer1Timer();
    EXPECT_EQ(tasklist->PanelText(0), QStringLiteral("100%"));
    EXPECT_EQ(tasklist->PanelText(4), QStringLiteral("Complete"));
    EXPECT_EQ(tasklist->ProgressBar1->maximum(), 0) << "marquee while the encoders finish";
    EXPECT_FALSE(tasklist->Timer1->isActive());
}

TEST_F(EncodingWindow, FailuresEndTheRunAndReturnToEditing) {
    // An output failing after all input was consumed, and the input feeding
    // failing, end the run the same way.
    for (uint32_t msg : {reelpage::kMsgEncoderDone, reelpage::kMsgAudioFed}) {
        SCOPED_TRACE(msg);
        boxes.shown.clear();
        g_finished.clear();
        g_holdFinish = false;
        g_freed = 0;
        g_job.m_cEncoder = 2;
        g_job.m_Pts = g_job.m_Duration;
        main->show();
        Start();
        ASSERT_NE(tasklist, nullptr);
        tasklist->Timer1Timer();
        ASSERT_EQ(tasklist->PanelText(4), QStringLiteral("Complete"));
        Post(reelpage::kMsgEncoderDone, reelpage::kEncoderOk);
        Post(msg, 1); // any result but success fails the run
        Post(reelpage::kMsgEncoderDone,
             reelpage::kEncoderFailed); // a second failure raises no second box
        ASSERT_TRUE(Gone());
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Failed !"));
        EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Zelmorix Reelpage"));
        EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Critical);
        EXPECT_EQ(g_finished, std::vector<int>{-1});
        ASSERT_TRUE(apptest::WaitFor([&] { return main->isVisible(); }, 5000));
        EXPECT_EQ(g_freed, 1);
        EXPECT_EQ(VisibleTopLevel("frmPublish"), nullptr);
    }
}

TEST_F(EncodingWindow, ClosingAsksAndNoKeepsTheRunGoing) {
    Start();
    ASSERT_NE(tasklist, nullptr);
    boxes.answer = QMessageBox::No;
    tasklist->close();
    Settle();
    ASSERT_FALSE(tasklist.isNull());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Are you sure to abort the video output?"));
    EXPECT_EQ(boxes.shown[0].defaultButton, QMessageBox::No);
    EXPECT_TRUE(tasklist->isVisible());
    EXPECT_TRUE(tasklist->Timer1->isActive());
    EXPECT_TRUE(g_finished.empty());

    boxes.answer = QMessageBox::Yes;
    tasklist->close();
    ASSERT_TRUE(Gone());
    EXPECT_EQ(g_finished, std::vector<int>{-1});
    ASSERT_TRUE(apptest::WaitFor([&] { return main->isVisible(); }, 5000));
}

TEST_F(EncodingWindow, CancelAsksTheQuestionOfTheTitleBarsClose) {
    Start();
    ASSERT_NE(tasklist, nullptr);
    ASSERT_TRUE(tasklist->btnCancel->isVisible());
    boxes.answer = QMessageBox::No;
    tasklist->btnCancel->click();
    Settle();
    ASSERT_FALSE(tasklist.isNull());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Are you sure to abort the video output?"));
    EXPECT_EQ(boxes.shown[0].defaultButton, QMessageBox::No);
    EXPECT_TRUE(tasklist->Timer1->isActive());
    EXPECT_TRUE(g_finished.empty());

    boxes.answer = QMessageBox::Yes;
    tasklist->btnCancel->click();
    ASSERT_TRUE(Gone());
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(g_finished, std::vector<int>{-1}) << "aborted: the package is removed";
    ASSERT_TRUE(apptest::WaitFor([&] { return main->isVisible(); }, 5000));
}

TEST_F(EncodingWindow, AJobThatCannotStartFailsAtOnce) {
    g_startFails = true;
    Start();
    ASSERT_TRUE(Gone());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Failed !"));
    EXPECT_EQ(g_finished, std::vector<int>{-1});
    ASSERT_TRUE(apptest::WaitFor([&] { return main->isVisible(); }, 5000));
}

} // namespace
