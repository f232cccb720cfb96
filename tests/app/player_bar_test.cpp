// The player bar of the main window against a stand-in engine that records
// what it is asked: the bar's states, play and pause, seeking with the track
// bar, the clip buttons and the preview's reports.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>

#include <functional>
#include <string>
#include <vector>

#include "Functions.h"
#include "controls/CommandLinkButton.h"
#include "controls/GraphicsButton.h"
#include "ImageResource.h"
#include "LowInterface.h"
#include "Main.h"
#include "controls/MediaPlayTrackBar.h"
#include "panels/Home.h"
#include "WindowHandle.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

// Every preview call of the stand-in engine, in order, as "Seek(5)", "Play".
std::vector<std::string> g_calls;

void StandInPreviewEngine() {
    apptest::StandInMainWindowEngine();
    Low.Play.Set([]() -> int32_t { return g_calls.push_back("Play"), 0; });
    Low.Pause.Set([]() -> int32_t { return g_calls.push_back("Pause"), 0; });
    Low.Seek.Set([](int32_t s) -> int32_t {
        return g_calls.push_back("Seek(" + std::to_string(s) + ")"), 0;
    });
    Low.BeginSeekDrag.Set([]() -> int32_t { return g_calls.push_back("BeginSeekDrag"), 0; });
    Low.EndSeekDrag.Set([]() -> int32_t { return g_calls.push_back("EndSeekDrag"), 0; });
    Low.ApplyClipRange.Set([]() -> int32_t { return g_calls.push_back("ApplyClipRange"), 0; });
    Low.RestartPreview.Set([](HWND, HWND) -> int32_t {
        return g_calls.push_back("RestartPreview"), 0;
    });
    g_calls.clear();
}

using Calls = std::vector<std::string>;

class PlayerBar : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        StandInPreviewEngine();
        media = MediaInfo{};
        media.m_bVideoStream = 1;
        media.m_Duration = 200'900'000; // the bar counts 200 whole seconds
        project = Project{};
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    void TearDown() override {
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    // A project was created: the bar is ready, paused at 0.
    void Load(TfrmMain& main) {
        AppProject = &project;
        AppProjectMedia = &media;
        main.OnTaskChanged();
        g_calls.clear();
    }
    MediaInfo media;
    Project project;
};

} // namespace

TEST_F(PlayerBar, StatesWithoutAProjectPausedAndPlaying) {
    struct Row {
        const char* state;
        bool play, poster, track, clipStart, clipStop, reset;
        const QImage* image;
    };
    TfrmMain main;
    auto check = [&](const Row& r) {
        SCOPED_TRACE(r.state);
        EXPECT_EQ(main.btnPlay->isEnabled(), r.play);
        EXPECT_EQ(main.btnPoster->isEnabled(), r.poster);
        EXPECT_EQ(main.TrackBar1->isEnabled(), r.track);
        EXPECT_EQ(main.btnClipStart->isEnabled(), r.clipStart);
        EXPECT_EQ(main.btnClipStop->isEnabled(), r.clipStop);
        EXPECT_EQ(main.btnClipReset->isEnabled(), r.reset);
        EXPECT_EQ(main.btnPlay->Image(), r.image);
    };

    check({"no project", false, false, false, false, false, false, &Images.Play});
    EXPECT_EQ(main.lblPlayPosition->text(), "00:00/00:00");
    for (QLabel* label : {main.lblClipStart, main.lblDuration, main.lblClipStop})
        EXPECT_EQ(label->text(), "00:00");
    main.btnPlay->click();
    EXPECT_TRUE(g_calls.empty()) << "nothing plays before a project";

    Load(main);
    check({"paused at 0", true, true, true, true, false, false, &Images.Play});

    main.btnPlay->click();
    EXPECT_TRUE(main.Playing());
    EXPECT_EQ(g_calls, (Calls{"Play"}));
    main.WndProc(reelpage::kMsgPreviewSecond, 3, 0);
    check({"playing at 3", true, true, true, true, true, false, &Images.Pause});

    main.btnPlay->click();
    EXPECT_FALSE(main.Playing());
    EXPECT_EQ(g_calls, (Calls{"Play", "Pause"}));
    check({"paused at 3", true, true, true, true, true, false, &Images.Play});

    // Back from encoding while the button still said Pause: a new session,
    // paused at 0, with its queued reports of the old one gone.
    main.btnPlay->click();
    g_calls.clear();
    main.WndProc(reelpage::kMsgReplay, 0, 0);
    EXPECT_EQ(g_calls, (Calls{"RestartPreview"}));
    EXPECT_FALSE(main.Playing());
    EXPECT_EQ(main.TrackBar1->Position(), 0);
    EXPECT_EQ(main.lblPlayPosition->text(), "00:00 / 03:20") << "time shows after publishing";
    check({"after replay", true, true, true, true, false, false, &Images.Play});
    main.btnPlay->click();
    EXPECT_EQ(g_calls, (Calls{"RestartPreview", "Play"})) << "Play, not Pause";
}

TEST_F(PlayerBar, PreviewReportsMoveTheBarAndEndPlaying) {
    media.m_Duration = 3 * 3600 * 1'000'000LL; // three hours
    TfrmMain main;
    Load(main);
    EXPECT_EQ(main.TrackBar1->Max(), 10800);
    const std::pair<int, const char*> reports[] = {
        {65, "01:05 / 180:00"},
        {2148, "35:48 / 180:00"},   // past the 32-bit microsecond limit
        {7265, "121:05 / 180:00"},  // hours are counted in minutes
        {10800, "180:00 / 180:00"},
        {10803, "180:00 / 180:00"}, // sound a little longer than the picture
    };
    for (auto [seconds, text] : reports) {
        main.WndProc(reelpage::kMsgPreviewSecond, seconds, 0);
        EXPECT_EQ(main.lblPlayPosition->text(), text) << seconds;
        EXPECT_EQ(main.TrackBar1->Position(), std::min(seconds, 10800));
    }
    EXPECT_FALSE(main.btnClipStart->isEnabled()) << "at the end";
    EXPECT_TRUE(g_calls.empty()) << "a report is not a user move";

    main.btnPlay->click();
    main.WndProc(reelpage::kMsgPreviewEnded, 0, 0);
    EXPECT_FALSE(main.Playing());
    EXPECT_EQ(main.btnPlay->Image(), &Images.Play);
}

TEST_F(PlayerBar, ClipButtons) {
    struct Case {
        const char* name;
        int64_t start, stop;  // project before, microseconds
        int position;         // thumb, seconds
        bool cutFront;        // else cut the behind
        int64_t wantStart, wantStop;
        const char *lblStart, *lblStop, *lblDuration;
        int selStart, selEnd;
        bool applied;
    };
    const Case cases[] = {
        // Without a clip the labels show the whole video, 00:00 to its end.
        {"front", 0, 0, 20, true, 20'000'000, 0, "00:20", "03:20", "03:00", 20, 200, true},
        {"front at the end does nothing", 0, 0, 200, true, 0, 0, "00:00", "03:20", "03:20", 0, 0,
         false},
        {"behind at 0 does nothing", 5'000'000, 0, 0, false, 5'000'000, 0, "00:05", "03:20",
         "03:15", 5, 200, false},
        {"behind", 10'000'000, 0, 70, false, 10'000'000, 70'000'000, "00:10", "01:10", "01:00",
         10, 70, true},
        {"behind before the start clears the start", 100'000'000, 0, 40, false, 0, 40'000'000,
         "00:00", "00:40", "00:40", 0, 40, true},
        {"front after the stop clears the stop", 0, 40'000'000, 60, true, 60'000'000, 0, "01:00",
         "03:20", "02:20", 60, 200, true},
        {"behind at the last second means to the end", 30'000'000, 0, 200, false, 30'000'000, 0,
         "00:30", "03:20", "02:50", 30, 200, true},
    };
    TfrmMain main;
    Load(main);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        project.m_ClipStart = c.start;
        project.m_ClipStop = c.stop;
        main.WndProc(reelpage::kMsgPreviewSecond, c.position, 0);
        main.UpdateClipRange();
        g_calls.clear();
        // The click handler itself, whether or not the button is enabled.
        TGraphicsButton* button = c.cutFront ? main.btnClipStart : main.btnClipStop;
        button->setEnabled(true);
        button->click();
        EXPECT_EQ(project.m_ClipStart, c.wantStart);
        EXPECT_EQ(project.m_ClipStop, c.wantStop);
        EXPECT_EQ(main.lblClipStart->text(), c.lblStart);
        EXPECT_EQ(main.lblClipStop->text(), c.lblStop);
        EXPECT_EQ(main.lblDuration->text(), c.lblDuration);
        EXPECT_EQ(main.TrackBar1->SelStart(), c.selStart);
        EXPECT_EQ(main.TrackBar1->SelEnd(), c.selEnd);
        EXPECT_EQ(g_calls, c.applied ? Calls{"ApplyClipRange"} : Calls{});
    }

    // Reset clears both and tells the engine.
    ASSERT_TRUE(main.btnClipReset->isEnabled());
    g_calls.clear();
    main.btnClipReset->click();
    EXPECT_EQ(project.m_ClipStart, 0);
    EXPECT_EQ(project.m_ClipStop, 0);
    EXPECT_EQ(main.TrackBar1->SelEnd(), 0);
    EXPECT_FALSE(main.btnClipReset->isEnabled());
    EXPECT_EQ(g_calls, (Calls{"ApplyClipRange"}));
}

TEST_F(PlayerBar, ClipTimesPastThirtyFiveMinutesKeepTheirValue) {
    media.m_Duration = 3 * 3600 * 1'000'000LL;
    TfrmMain main;
    Load(main);
    main.WndProc(reelpage::kMsgPreviewSecond, 2148, 0);
    main.btnClipStart->click();
    EXPECT_EQ(project.m_ClipStart, 2'148'000'000);
    EXPECT_EQ(main.lblClipStart->text(), "35:48");
    main.WndProc(reelpage::kMsgPreviewSecond, 9000, 0);
    main.btnClipStop->click();
    EXPECT_EQ(project.m_ClipStop, 9'000'000'000);
    EXPECT_EQ(project.m_ClipStart, 2'148'000'000) << "a positive start stays";
    EXPECT_EQ(main.lblClipStop->text(), "150:00");
    EXPECT_EQ(main.lblDuration->text(), "114:12");
    EXPECT_EQ(main.TrackBar1->SelStart(), 2148);
    EXPECT_EQ(main.TrackBar1->SelEnd(), 9000);
}

TEST_F(PlayerBar, DraggingTheThumbSeeksAtEveryPosition) {
    ASSERT_EQ(apptest::StartEngineOnce(), 0); // posted reports go through the router
    media.m_Duration = 20'000'000;
    TfrmMain main;
    main.resize(1024, 630);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    Load(main);
    TMediaPlayTrackBar& bar = *main.TrackBar1;
    main.btnPlay->click();
    g_calls.clear();

    // A report of the old position is still queued when the user grabs the thumb.
    ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewSecond, 1, 0));
    QPoint start = apptest::SliderHandleCentre(bar);
    QTest::mousePress(&bar, Qt::LeftButton, {}, start);
    for (int x = start.x(); x <= bar.width() * 3 / 4; x += 5)
        QTest::mouseMove(&bar, QPoint(x, start.y()));
    int dragged = bar.Position();
    ASSERT_GT(dragged, 5);
    // A report arriving in the middle of the drag leaves the thumb alone.
    main.WndProc(reelpage::kMsgPreviewSecond, 2, 0);
    EXPECT_EQ(bar.Position(), dragged);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(bar.width() * 3 / 4, start.y()));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar.Position(), dragged) << "the stale report was dropped";
    EXPECT_EQ(main.lblPlayPosition->text(), PositionToText(dragged, 20));

    ASSERT_GE(g_calls.size(), 3u);
    EXPECT_EQ(g_calls.front(), "BeginSeekDrag");
    EXPECT_EQ(g_calls.back(), "EndSeekDrag");
    // The picture follows the thumb: one seek for each new position, in order.
    int previous = 0;
    for (size_t i = 1; i + 1 < g_calls.size(); ++i) {
        ASSERT_EQ(g_calls[i].rfind("Seek(", 0), 0u) << g_calls[i];
        int s = std::stoi(g_calls[i].substr(5));
        EXPECT_GT(s, previous);
        previous = s;
    }
    EXPECT_EQ(previous, dragged);
    EXPECT_TRUE(main.Playing()) << "a seek does not pause";

    // A key step is a whole drag of its own.
    g_calls.clear();
    bar.setFocus();
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_EQ(g_calls, (Calls{"BeginSeekDrag", "Seek(" + std::to_string(dragged - 1) + ")",
                              "EndSeekDrag"}));
}

TEST_F(PlayerBar, PlayStartsInsideTheClip) {
    struct Case {
        const char* name;
        int64_t start, stop;
        int position;
        bool ended; // the preview reported the end first
        Calls calls;
        int positionAfter;
    };
    const Case cases[] = {
        {"inside the clip plays from the thumb", 10'000'000, 50'000'000, 30, false, {"Play"}, 30},
        {"after the stop", 10'000'000, 50'000'000, 80, false, {"Seek(10)", "Play"}, 10},
        {"before the start", 10'000'000, 50'000'000, 4, false, {"Seek(10)", "Play"}, 10},
        {"ended at the clip stop", 10'000'000, 50'000'000, 50, true, {"Seek(10)", "Play"}, 10},
        // Without a clip the engine goes back to the start by itself.
        {"ended at the end of the video", 0, 0, 200, true, {"Play"}, 0},
        {"ended with only a start", 25'000'000, 0, 200, true, {"Seek(25)", "Play"}, 25},
        {"ended, then the user seeks", 0, 0, 200, true, {"BeginSeekDrag", "Seek(199)",
                                                          "EndSeekDrag", "Play"}, 199},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        project = Project{};
        project.m_ClipStart = c.start;
        project.m_ClipStop = c.stop;
        TfrmMain main;
        main.show();
        Load(main);
        main.WndProc(reelpage::kMsgPreviewSecond, c.position, 0);
        if (c.ended) main.WndProc(reelpage::kMsgPreviewEnded, 0, 0);
        if (c.calls.front() == "BeginSeekDrag") {
            main.TrackBar1->setFocus();
            QTest::keyClick(main.TrackBar1, Qt::Key_Left);
        }
        main.btnPlay->click();
        EXPECT_EQ(g_calls, c.calls);
        EXPECT_EQ(main.TrackBar1->Position(), c.positionAfter);
        EXPECT_TRUE(main.Playing());
        EXPECT_EQ(main.btnPlay->Image(), &Images.Pause);
    }
}

TEST_F(PlayerBar, ReportsOfAnEndedSessionAreDropped) {
    ASSERT_EQ(apptest::StartEngineOnce(), 0);
    TfrmMain main;
    Load(main);
    const std::pair<const char*, std::function<void()>> transitions[] = {
        {"a new project", [&] { main.OnTaskChanged(); }},
        {"back from encoding", [&] { main.WndProc(reelpage::kMsgReplay, 0, 0); }},
    };
    for (const auto& [name, transition] : transitions) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewSecond, 77, 0));
        transition();
        // The new session's first report, after any stale one in the queue.
        main.btnPlay->SetImage(&Images.Pause);
        ASSERT_TRUE(PostAppMessage(main.Handle(), reelpage::kMsgPreviewEnded, 0, 0));
        ASSERT_TRUE(apptest::WaitFor([&] { return main.btnPlay->Image() == &Images.Play; }, 5000));
        EXPECT_EQ(main.TrackBar1->Position(), 0);
        EXPECT_EQ(main.lblPlayPosition->text(), "00:00 / 03:20");
    }
}

TEST_F(PlayerBar, PictureAreaResizedRefitsThePreview) {
    static int layouts;
    layouts = 0;
    Low.LayoutPreview.Set([]() -> int32_t { return ++layouts, 0; });
    TfrmMain main;
    main.resize(1024, 630);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    Load(main);
    int before = layouts;
    QSize area = main.palRender->size();
    main.resize(1300, 800);
    ASSERT_TRUE(apptest::WaitFor([&] { return main.palRender->size() != area; }, 5000));
    EXPECT_GT(layouts, before);
    // The player bar keeps its height; the picture area takes the rest.
    EXPECT_EQ(main.palPlayer->height(), 90);
    EXPECT_GT(main.palRender->height(), area.height());
}

namespace {

// Records the addresses the program asks the desktop to open.
class OpenedAddresses : public QObject {
    Q_OBJECT
public:
    OpenedAddresses() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~OpenedAddresses() override { QDesktopServices::unsetUrlHandler("file"); }
    std::vector<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

void ShowActive(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

} // namespace

TEST_F(PlayerBar, KeysDriveThePlayerWhereverTheFocusDoesNotType) {
    Low.StepFrame.Set([](int32_t frames) -> int32_t {
        g_calls.push_back("StepFrame(" + std::to_string(frames) + ")");
        return frames > 0 ? 31 : 30;
    });
    project.m_ClipStart = 10'000'000;
    project.m_ClipStop = 50'000'000;
    TfrmMain main;
    ShowActive(main);
    Load(main);
    main.WndProc(reelpage::kMsgPreviewSecond, 30, 0);
    // A button with the focus does not take Space: the player does.
    main.frmHome->btnEdit->setEnabled(true);
    main.frmHome->btnEdit->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), main.frmHome->btnEdit);
    struct Step {
        const char* name;
        QKeyCombination key;
        Calls calls;
        int position;
    };
    const Step steps[] = {
        {"Space plays", Qt::Key_Space, {"Play"}, 30},
        {"K pauses", Qt::Key_K, {"Pause"}, 30},
        {"Right 5 s on", Qt::Key_Right, {"BeginSeekDrag", "Seek(35)", "EndSeekDrag"}, 35},
        {"Left 5 s back", Qt::Key_Left, {"BeginSeekDrag", "Seek(30)", "EndSeekDrag"}, 30},
        {"K plays", Qt::Key_K, {"Play"}, 30},
        {"Shift+Right pauses, then one frame on", Qt::SHIFT | Qt::Key_Right,
         {"Pause", "StepFrame(1)"}, 31},
        {"Shift+Left one frame back", Qt::SHIFT | Qt::Key_Left, {"StepFrame(-1)"}, 30},
        {"Home to the clip start", Qt::Key_Home, {"BeginSeekDrag", "Seek(10)", "EndSeekDrag"}, 10},
        {"End to the clip end", Qt::Key_End, {"BeginSeekDrag", "Seek(50)", "EndSeekDrag"}, 50},
        {"Left from the clip end", Qt::Key_Left, {"BeginSeekDrag", "Seek(45)", "EndSeekDrag"}, 45},
        {"O stops the clip here", Qt::Key_O, {"ApplyClipRange"}, 45},
        {"Left again", Qt::Key_Left, {"BeginSeekDrag", "Seek(40)", "EndSeekDrag"}, 40},
        {"Left again", Qt::Key_Left, {"BeginSeekDrag", "Seek(35)", "EndSeekDrag"}, 35},
        {"I starts the clip here", Qt::Key_I, {"ApplyClipRange"}, 35},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        g_calls.clear();
        QTest::keyClick(QApplication::focusWidget(), s.key.key(), s.key.keyboardModifiers());
        EXPECT_EQ(g_calls, s.calls);
        EXPECT_EQ(main.TrackBar1->Position(), s.position);
        EXPECT_EQ(main.lblPlayPosition->text(), PositionToText(s.position, 200));
    }
    EXPECT_EQ(project.m_ClipStart, 35'000'000);
    EXPECT_EQ(project.m_ClipStop, 45'000'000);
    EXPECT_EQ(main.CurrentControl(), 0) << "Space never pressed the focused button";

    // The focus in a text field: the keys are typing.
    g_calls.clear();
    main.frmHome->edTitle->setEnabled(true);
    main.frmHome->edTitle->setFocus();
    main.frmHome->edTitle->clear();
    for (Qt::Key key : {Qt::Key_K, Qt::Key_Space, Qt::Key_I, Qt::Key_O, Qt::Key_Left, Qt::Key_Home})
        QTest::keyClick(main.frmHome->edTitle, key);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(main.frmHome->edTitle->text(), "k io");

    // The focus on the track bar: its arrows step it a second, Space plays.
    main.TrackBar1->setFocus();
    QTest::keyClick(main.TrackBar1, Qt::Key_Left);
    QTest::keyClick(main.TrackBar1, Qt::Key_Space);
    // Outside the clip (35..45): Play starts at the clip start.
    EXPECT_EQ(g_calls, (Calls{"BeginSeekDrag", "Seek(34)", "EndSeekDrag", "Seek(35)", "Play"}));
}

TEST_F(PlayerBar, KeysAreListedAndDoNothingBeforeAProject) {
    TfrmMain main;
    ShowActive(main);
    // The focus on no control (a button would take Space as a press).
    main.setFocus();
    ASSERT_EQ(QApplication::focusWidget(), &main);
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_K, Qt::Key_Right, Qt::Key_End, Qt::Key_I})
        QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(g_calls.empty());
    // Each playback item shows its key in the menu.
    for (QAction* item : main.miPlayback->actions())
        if (!item->isSeparator()) {
            EXPECT_FALSE(item->shortcut().isEmpty()) << item->text().toStdString();
        }

    // Ctrl+O imports, F1 opens the help page.
    apptest::OpenFileRecorder chooser;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(chooser.asked.size(), 1u);
    OpenedAddresses desktop;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_TRUE(desktop.opened[0].path().endsWith("/Help/index.html"));
}

TEST_F(PlayerBar, AClickOnTheBarGoesThereAndTheWheelSteps) {
    TfrmMain main;
    ShowActive(main);
    Load(main);
    TMediaPlayTrackBar& bar = *main.TrackBar1;
    // Three quarters along the channel: about second 150 of 200, not 10
    // seconds paged towards it.
    const QPoint handle = apptest::SliderHandleCentre(bar);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(bar.width() * 3 / 4, handle.y()));
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls.front(), "BeginSeekDrag");
    EXPECT_EQ(g_calls.back(), "EndSeekDrag");
    EXPECT_NEAR(bar.Position(), 150, 8);
    EXPECT_EQ(g_calls[1], "Seek(" + std::to_string(bar.Position()) + ")");
    EXPECT_EQ(main.lblPlayPosition->text(), PositionToText(bar.Position(), 200));

    // Pressed beside the thumb and dragged on: one drag to where it ends.
    g_calls.clear();
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(bar.width() / 4, handle.y()));
    const int pressed = bar.Position();
    EXPECT_NEAR(pressed, 50, 8);
    QTest::mouseMove(&bar, QPoint(bar.width() / 2, handle.y()));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(bar.width() / 2, handle.y()));
    EXPECT_NEAR(bar.Position(), 100, 8);
    EXPECT_EQ(g_calls.front(), "BeginSeekDrag");
    EXPECT_EQ(g_calls[1], "Seek(" + std::to_string(pressed) + ")");
    EXPECT_EQ(g_calls.back(), "EndSeekDrag");
    EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "BeginSeekDrag"), 1);

    // A wheel notch towards the end steps on, one back steps back.
    for (int delta : {120, -120}) {
        g_calls.clear();
        const int before = bar.Position();
        const QPointF at(bar.width() / 2.0, handle.y());
        QWheelEvent wheel(at, bar.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&bar, &wheel);
        EXPECT_EQ(delta > 0, bar.Position() > before) << delta;
        EXPECT_NE(bar.Position(), before);
        EXPECT_EQ(g_calls, (Calls{"BeginSeekDrag", "Seek(" + std::to_string(bar.Position()) + ")",
                                  "EndSeekDrag"}));
    }
}

#include "player_bar_test.moc"
