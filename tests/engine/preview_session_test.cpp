// The preview session as the program and the preview helper see it. The test
// plays the helper: it writes frames into the frame block, sends the
// frame-ready message to the render window, and reads the commands queued in
// the control block.
#include "system/Exports.h"
#include "media/History.h"
#include "captions/ProjectCaptions.h"
#include "preview/PreviewSession.h"
#include "records/Project.h"
#include "system/RouterQt.h"
#include "records/Settings.h"

#include <QApplication>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/messages.h"

using namespace reelpage;

namespace {

struct Cmd {
    int32_t code;
    int64_t param;
    bool operator==(const Cmd&) const = default;
};

class Preview : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("REELPAGE_AUDIO_SINK", "paced");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        ASSERT_TRUE(AttachRouterToQt());
        Settings& s = TheSettings();
        std::memset(&s, 0, sizeof s);
        m_parent = std::make_unique<QWidget>();
        m_parent->resize(800, 600);
        m_parentHwnd = platform::RouterCreateWindow([](uint32_t, uint32_t, int64_t, int64_t) {
            return int64_t(0);
        });
        m_parent->setProperty("reelpage_hwnd", QVariant::fromValue<uint32_t>(m_parentHwnd));
        m_notify = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t) {
            m_messages.push_back({int32_t(msg), w});
            return int64_t(0);
        });
        m_parent->show();
    }
    void TearDown() override {
        EndPreviewSession();
        platform::RouterDestroyWindow(m_notify);
        platform::RouterDestroyWindow(m_parentHwnd);
        m_parent.reset();
        m_app.reset();
    }

    // A project for a source of w x h and its session, without a helper.
    PreviewSession* Open(int w, int h, int fpsNum = 25, int fpsDen = 1, bool audio = false,
                         int sampleRate = 44100) {
        m_media = AddMediaRecord();
        m_media->m_Width = w;
        m_media->m_Height = h;
        m_media->m_FrameRateNum = fpsNum;
        m_media->m_FrameRateDen = fpsDen;
        m_media->m_bAudioStream = audio;
        m_media->m_SampleRate = sampleRate;
        m_media->m_nChannel = 2;
        if (audio) {
            std::ofstream out(platform::ToUtf8(MediaSideFile(*m_media, u"wav")), std::ios::binary);
            std::vector<char> bytes(46 + 176400 * 4, 0);
            out.write(bytes.data(), std::streamsize(bytes.size()));
        }
        m_project = CreateProject(m_media, 0, m_notify);
        EXPECT_EQ(CurrentPreviewSession(), nullptr); // a render parent of 0 means none
        EXPECT_EQ(StartPreviewSession(m_project, m_media, m_parentHwnd, m_notify, false), 0);
        return CurrentPreviewSession();
    }

    std::vector<Cmd> Commands() const {
        std::vector<Cmd> out;
        const PreviewControl* c = CurrentPreviewSession()->Control();
        for (int i = 0; i < c->m_cCommand; ++i)
            out.push_back({c->m_Commands[i].m_nCode, c->m_Commands[i].m_llParam});
        return out;
    }
    void TakeCommands() { CurrentPreviewSession()->Control()->m_cCommand = 0; }
    // The project's crop rectangle, in source pixels.
    void SetCrop(int32_t left, int32_t top, int32_t width, int32_t height) {
        m_project->m_CropLeft = left;
        m_project->m_CropTop = top;
        m_project->m_CropWidth = width;
        m_project->m_CropHeight = height;
    }
    bool Queued(int32_t code, int64_t param) const {
        for (const auto& q : Commands())
            if (q.code == code && q.param == param) return true;
        return false;
    }

    // Delivers posted notifications.
    void Pump() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        platform::RouterDispatch();
    }
    int Count(uint32_t msg) const {
        int n = 0;
        for (const auto& m : m_messages) n += m.code == int32_t(msg);
        return n;
    }

    // What the helper does for each frame.
    int64_t Deliver(int w, int h, uint32_t bgrx) {
        PreviewSession* s = CurrentPreviewSession();
        auto* px = reinterpret_cast<uint32_t*>(s->FrameView());
        std::fill(px, px + size_t(w) * h, bgrx);
        return platform::SendMessage(s->RenderHandle(), kMsgFrameReady, w, h);
    }

    void Mouse(QEvent::Type type, int x, int y) {
        QWidget* w = CurrentPreviewSession()->Window();
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                                                        : Qt::LeftButton;
        QMouseEvent e(type, QPointF(x, y), w->mapToGlobal(QPointF(x, y)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
    void Drag(int x0, int y0, int x1, int y1) {
        Mouse(QEvent::MouseButtonPress, x0, y0);
        Mouse(QEvent::MouseMove, x1, y1);
        Mouse(QEvent::MouseButtonRelease, x1, y1);
    }
    QRect Crop() const {
        return {m_project->m_CropLeft, m_project->m_CropTop, m_project->m_CropWidth,
                m_project->m_CropHeight};
    }

    int m_argc = 1;
    char m_name[12] = "test_engine";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QWidget> m_parent;
    uint32_t m_parentHwnd = 0;
    uint32_t m_notify = 0;
    std::vector<Cmd> m_messages; // code = message, param = wParam
    MediaInfo* m_media = nullptr;
    Project* m_project = nullptr;
};

} // namespace

TEST_F(Preview, LayoutFitsKeepsTheAspectAndNeverEnlarges) {
    struct Case {
        int cw, ch, fw, fh;
        QRect view;
    } cases[] = {
        {800, 600, 1280, 720, {0, 75, 800, 450}},
        {1920, 1080, 1280, 720, {320, 180, 1280, 720}},
        {800, 600, 480, 720, {200, 0, 400, 600}},
        {800, 600, 800, 600, {0, 0, 800, 600}},
        {801, 601, 100, 50, {350, 275, 100, 50}},
        {0, 600, 1280, 720, {}}, // a collapsed parent shows nothing
        {800, 0, 1280, 720, {}},
        {800, 600, 0, 720, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreviewLayout(c.cw, c.ch, c.fw, c.fh), c.view) << c.cw << "x" << c.ch;

    PreviewSession* s = Open(1280, 720);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Window()->geometry(), QRect(0, 75, 800, 450));
    EXPECT_TRUE(s->Window()->isVisible());
    m_parent->resize(1920, 1080);
    LayoutPreview();
    EXPECT_EQ(s->Window()->geometry(), QRect(320, 180, 1280, 720));
}

TEST_F(Preview, FramesAreScaledIntoTheViewAndStaleSizesDropped) {
    PreviewSession* s = Open(1280, 720);
    ASSERT_NE(s, nullptr);
    RenderWindow* w = s->Window();
    EXPECT_EQ(s->Control()->m_hwndRender, s->RenderHandle());
    EXPECT_EQ(s->Control()->m_hTaskList, m_project->m_hSelf);
    EXPECT_EQ(s->Control()->m_hMediaInfo, m_media->m_hSelf);

    Deliver(1280, 720, 0xFF2040C0);
    ASSERT_EQ(w->PresentedCount(), 1);
    EXPECT_EQ(w->Picture().size(), QSize(800, 450));
    EXPECT_EQ(w->Picture().pixel(400, 225), 0xFF2040C0u);
    // Painted 1:1 from the scaled picture.
    const QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(800, 450));
    EXPECT_EQ(shot.pixel(0, 0), 0xFF2040C0u);
    EXPECT_EQ(shot.pixel(799, 449), 0xFF2040C0u);

    // A new layout of another size shows the frame still in the block again,
    // scaled to the new view.
    m_parent->resize(400, 300);
    LayoutPreview();
    EXPECT_EQ(w->PresentedCount(), 2);
    EXPECT_EQ(w->Picture().size(), QSize(400, 225));
    m_parent->resize(800, 600);
    LayoutPreview();
    ASSERT_EQ(w->PresentedCount(), 3);

    // Crop editing shows the source: a frame still of the output size (as the
    // helper sends it before it took kCmdEnterCropMode) is dropped.
    m_project->m_OutputWidth = 640;
    m_project->m_OutputHeight = 360;
    ApplyOutputSize();
    EXPECT_TRUE(Queued(kCmdOutputSizeChanged, 0));
    Deliver(1280, 720, 0xFF000000);
    EXPECT_EQ(w->PresentedCount(), 3);
    Deliver(640, 360, 0xFF00FF00);
    EXPECT_EQ(w->PresentedCount(), 4);
    EXPECT_EQ(w->Picture().pixel(10, 10), 0xFF00FF00u);

    // A display size beyond the frame block comes reduced with its aspect;
    // only that size is taken.
    m_project->m_OutputWidth = 3840;
    m_project->m_OutputHeight = 2160;
    ApplyOutputSize();
    Deliver(1280, 720, 0xFF0000FF); // the old size: dropped
    EXPECT_EQ(w->PresentedCount(), 4);
    const PreviewFrameSize d = DeliveredPreviewSize(3840, 2160);
    ASSERT_LE(int64_t(d.width) * d.height * 4, int64_t(s->FrameBlockSize()));
    Deliver(d.width, d.height, 0xFF0000FF);
    EXPECT_EQ(w->PresentedCount(), 5);
    EXPECT_EQ(w->Picture().size(), QSize(800, 450));
    // Nonsense sizes never reach the block.
    EXPECT_EQ(platform::SendMessage(s->RenderHandle(), kMsgFrameReady, 100000, 100000), 0);
    EXPECT_EQ(platform::SendMessage(s->RenderHandle(), kMsgFrameReady, -1, -1), 0);
    EXPECT_EQ(w->PresentedCount(), 5);
}

TEST_F(Preview, CommandsOfTheExports) {
    PreviewSession* s = Open(1920, 1080);
    ASSERT_NE(s, nullptr);
    TakeCommands();
    Seek(5);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, 5000000}}));
    EXPECT_EQ(s->Mute()->Position(), 5000000);
    NotifyPreview(kCmdAdjustmentsChanged);
    NotifyPreview(kCmdResizeMethodChanged);
    EnterWatermarkMode();
    LeaveWatermarkMode();
    ApplyWatermarkPosition();
    ApplyWatermarkPicture();
    ApplyCrop();
    SnapshotPoster(1);
    SnapshotPoster(0);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, 5000000},
                                            {kCmdAdjustmentsChanged, 0},
                                            {kCmdResizeMethodChanged, 0},
                                            {kCmdEnterWatermarkMode, 0},
                                            {kCmdLeaveWatermarkMode, 0},
                                            {kCmdCropOrWatermarkMoved, 0},
                                            {kCmdWatermarkPictureChanged, 0},
                                            {kCmdCropChanged, 0},
                                            {kCmdSnapshotSource, 0},
                                            {kCmdSnapshotShown, 0}}));

    // A quarter turn while crop editing: the output size and the session's
    // frame size are swapped, kCmdRotationChanged is queued.
    TakeCommands();
    EnterCropMode();
    EXPECT_EQ(s->DisplaySize(), QSize(1920, 1080));
    RotateFlip(kRotateLeft);
    EXPECT_EQ(s->DisplaySize(), QSize(1080, 1920));
    EXPECT_EQ(m_project->m_OutputWidth, 1080);
    EXPECT_EQ(s->Window()->geometry(), QRect(231, 0, 337, 600));
    RotateFlip(kFlipHorizontal);
    ApplyOutputSize(); // crop editing shows the source: nothing to re-fit
    EXPECT_EQ(s->DisplaySize(), QSize(1080, 1920));
    EXPECT_EQ(
        Commands(),
        (std::vector<Cmd>{{kCmdEnterCropMode, 0}, {kCmdRotationChanged, 0}, {kCmdFlipChanged, 0}}));
    LeaveCropMode();
    EXPECT_EQ(s->DisplaySize(), QSize(1080, 1920));
}

TEST_F(Preview, FrameStepsGoFromThePictureShownAndStayInsideTheVideo) {
    PreviewSession* s = Open(640, 360, 30000, 1001);
    ASSERT_NE(s, nullptr);
    m_media->m_Duration = 10'000'000;
    const int64_t frame = 1000000LL * 1001 / 30000; // 33366 us
    Seek(4);
    TakeCommands();
    // Quick steps go on from where the last one went, before the helper has
    // shown it.
    // (The queue keeps only the newest seek: each step is looked at alone.)
    const std::pair<int, int64_t> steps[] = {
        {1, 4000000 + frame}, {1, 4000000 + 2 * frame}, {-1, 4000000 + frame}};
    for (auto [frames, time] : steps) {
        EXPECT_EQ(StepFrame(frames), 4);
        EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, time}}));
        TakeCommands();
    }
    EXPECT_EQ(s->Mute()->Position(), 4000000 + frame) << "the clock goes with the picture";
    // Never before the start, never past the last frame.
    Seek(0);
    TakeCommands();
    EXPECT_EQ(StepFrame(-1), 0);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, 0}}));
    Seek(10);
    TakeCommands();
    EXPECT_EQ(StepFrame(1), 9);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, 10'000'000 - frame}}));
    // Played on, the step starts from the picture the helper last showed.
    Play();
    Pause();
    TakeCommands();
    EXPECT_EQ(StepFrame(1), 0);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, frame}})) << "nothing shown yet: 0";
    // Without a session there is nothing to step.
    EndPreviewSession();
    EXPECT_EQ(StepFrame(1), -1);
}

TEST_F(Preview, SecondsTheEndAndPlayAfterTheEnd) {
    PreviewSession* s = Open(320, 240, 25, 1);
    ASSERT_NE(s, nullptr);
    m_project->m_ClipStart = 3000000;
    MutePlayer* clock = s->Mute();
    ASSERT_NE(clock, nullptr);
    Play();
    EXPECT_EQ(s->State(), 1);
    EXPECT_TRUE(clock->TimerActive());
    for (int i = 0; i < 60; ++i) clock->OnTimer(); // 2.4 s of ticks
    Pump();
    // The ticks collapse into the latest (a loaded machine may let the real
    // timer add one during Pump).
    EXPECT_GE(s->ClockPosition(), 2400000);
    EXPECT_TRUE(Queued(kCmdPresent, s->ClockPosition()));
    const std::vector<Cmd> queued = Commands();
    EXPECT_EQ(std::count_if(queued.begin(), queued.end(),
                            [](const Cmd& c) { return c.code == kCmdPresent; }),
              1);
    std::vector<int64_t> seconds;
    for (const auto& m : m_messages)
        if (m.code == int32_t(kMsgPreviewSecond)) seconds.push_back(m.param);
    EXPECT_EQ(seconds, (std::vector<int64_t>{0, 1, 2}));

    // The helper has shown the last frame: the next tick ends playback once.
    s->Control()->m_EndOfStream = 1;
    clock->OnTimer();
    clock->OnTimer();
    Pump();
    EXPECT_EQ(Count(kMsgPreviewEnded), 1);
    EXPECT_EQ(s->State(), 2);
    EXPECT_TRUE(s->Rewind());
    EXPECT_FALSE(clock->TimerActive());
    // The helper gets the clip start ready while nothing plays.
    EXPECT_TRUE(Queued(kCmdPrepare, 3000000));

    // Play starts again at the clip start: the seek is queued and the clock
    // moved before it runs.
    TakeCommands();
    Play();
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, 3000000}}));
    EXPECT_EQ(s->Control()->m_EndOfStream, 0);
    EXPECT_FALSE(s->Rewind());
    clock->OnTimer();
    EXPECT_TRUE(Queued(kCmdPresent, 3040000));

    // A seek drag holds the clock; pause stops it.
    BeginSeekDrag();
    EXPECT_FALSE(clock->TimerActive());
    EndSeekDrag();
    EXPECT_TRUE(clock->TimerActive());
    Pause();
    EXPECT_FALSE(clock->TimerActive());
    EXPECT_EQ(s->State(), 2);
}

// With sound, the end is reported once whether the sound or the picture
// gets there first, and the clock really runs (paced sink, no device here).
TEST_F(Preview, AudioClockRunsAndEndsOnce) {
    PreviewSession* s = Open(320, 240, 25, 1, true);
    ASSERT_NE(s, nullptr);
    ASSERT_NE(s->Audio(), nullptr);
    EXPECT_EQ(s->Mute(), nullptr);
    m_project->m_ClipStop = 1000000;
    ApplyClipRange();
    EXPECT_EQ(s->Audio()->EndByte(), 176400);
    Play();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000 && s->ClockPosition() < 1200000) QCoreApplication::processEvents();
    Pump();
    EXPECT_GE(s->ClockPosition(), 1200000);
    EXPECT_EQ(Count(kMsgPreviewSecond), 1); // second 1
    EXPECT_EQ(Count(kMsgPreviewEnded), 0);  // the picture is not there yet
    EXPECT_TRUE(s->Audio()->PlayedToEnd());

    s->Control()->m_EndOfStream = 1;
    t.restart();
    while (t.elapsed() < 1000 && s->State() == 1) QCoreApplication::processEvents();
    Pump();
    EXPECT_EQ(s->State(), 2);
    EXPECT_EQ(Count(kMsgPreviewEnded), 1);
    EXPECT_TRUE(s->Rewind());

    // Play again: the picture and the sound both go back to the clip start.
    m_project->m_ClipStart = 500000;
    TakeCommands();
    Play();
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdSeek, 500000}}));
    t.restart();
    while (t.elapsed() < 1000 && s->ClockPosition() > 1000000) QCoreApplication::processEvents();
    // Whole buffers after the clip start (a busy machine may finish two at once).
    EXPECT_GE(s->ClockPosition(), 540000);
    EXPECT_LE(s->ClockPosition(), 700000);
    EXPECT_EQ((s->ClockPosition() - 500000) % 40000, 0);
    Pause();
}

TEST_F(Preview, CropDragsEditTheProject) {
    // 1280 x 720 in 800 x 600: the view is 800 x 450, 1.6 frame pixels each.
    PreviewSession* s = Open(1280, 720);
    ASSERT_NE(s, nullptr);
    EnterCropMode();
    SetCrop(160, 80, 640, 320);
    ApplyCrop();
    EXPECT_EQ(s->CropFrame(), QRect(100, 50, 400, 200));
    TakeCommands();

    // The left edge dragged right stops at a width of 1; dragged left it
    // stops at the window's border.
    Drag(101, 150, 700, 150);
    EXPECT_EQ(s->CropFrame(), QRect(499, 50, 1, 200));
    EXPECT_EQ(Crop(), QRect(798, 80, 2, 320));
    EXPECT_EQ(Count(kMsgCropDragged), 1);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdCropOrWatermarkMoved, 0}}));
    Drag(499, 150, -50, 150);
    EXPECT_EQ(s->CropFrame(), QRect(0, 50, 500, 200));

    // Moving inside, limited by the view.
    Drag(250, 150, 900, 150);
    EXPECT_EQ(s->CropFrame(), QRect(300, 50, 500, 200));
    EXPECT_EQ(Crop(), QRect(480, 80, 800, 320)); // against the picture's right edge
    // The bottom-right corner.
    Drag(799, 249, 700, 300);
    EXPECT_EQ(s->CropFrame(), QRect(300, 50, 401, 251));

    // From outside a new frame is drawn; a click without movement keeps it.
    Drag(10, 400, 60, 420);
    EXPECT_EQ(s->CropFrame(), QRect(10, 400, 50, 20));
    EXPECT_EQ(Crop(), QRect(16, 640, 80, 32));
    const int notices = Count(kMsgCropDragged);
    Mouse(QEvent::MouseButtonPress, 300, 100);
    Mouse(QEvent::MouseButtonRelease, 300, 100);
    EXPECT_EQ(s->CropFrame(), QRect(10, 400, 50, 20));
    EXPECT_EQ(Count(kMsgCropDragged), notices);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // A frame over the whole view shows the crop tool inside.
    m_project->m_CropLeft = m_project->m_CropTop = 0;
    m_project->m_CropWidth = 1280;
    m_project->m_CropHeight = 720;
    ApplyCrop();
    Mouse(QEvent::MouseMove, 400, 200);
    EXPECT_NE(s->Window()->cursor().shape(), Qt::SizeAllCursor);
    EXPECT_EQ(s->Window()->cursor().shape(), Qt::BitmapCursor);
    Mouse(QEvent::MouseMove, 2, 200);
    EXPECT_EQ(s->Window()->cursor().shape(), Qt::SizeHorCursor);
}

TEST_F(Preview, LargeSourcesEditInSourcePixelsWhateverSizeFramesArriveAt) {
    // 3840 x 2160 in 800 x 600: the view is 800 x 450, 4.8 source pixels
    // each, while the frames come reduced to the frame block's size.
    PreviewSession* s = Open(3840, 2160);
    ASSERT_NE(s, nullptr);
    const PreviewFrameSize d = DeliveredPreviewSize(3840, 2160);
    ASSERT_EQ(d.width, 2560);
    ASSERT_EQ(d.height, 1440);
    EnterCropMode();
    EXPECT_EQ(s->DisplaySize(), QSize(3840, 2160));
    Deliver(d.width, d.height, 0xFF336699);
    ASSERT_EQ(s->Window()->PresentedCount(), 1);
    ASSERT_EQ(s->Window()->size(), QSize(800, 450));
    EXPECT_EQ(s->CropFrame(), QRect(0, 0, 800, 450));

    Drag(100, 50, 500, 350); // a new frame
    EXPECT_EQ(Crop(), QRect(480, 240, 1920, 1440));
    Drag(300, 200, 400, 250); // moved by 100 x 50 view pixels
    EXPECT_EQ(Crop(), QRect(960, 480, 1920, 1440));
    Drag(599, 399, 799, 449); // the bottom-right corner to the picture's
    EXPECT_EQ(Crop(), QRect(960, 480, 2880, 1680));
    EXPECT_EQ(m_project->m_CropLeft + m_project->m_CropWidth, 3840);
    EXPECT_EQ(m_project->m_CropTop + m_project->m_CropHeight, 2160);
    // Typed values show where source pixels say.
    SetCrop(1920, 1080, 960, 540);
    ApplyCrop();
    EXPECT_EQ(s->CropFrame(), QRect(400, 225, 200, 113));
    LeaveCropMode();

    // The watermark on a 4K output: positions in output pixels as well.
    m_project->m_OutputWidth = 3840;
    m_project->m_OutputHeight = 2160;
    ApplyOutputSize();
    Deliver(d.width, d.height, 0xFF336699);
    std::u16string file = u"/pics/mark.png";
    std::copy(file.begin(), file.end(), m_project->m_WatermarkFile);
    m_project->m_WatermarkLeft = 480;
    m_project->m_WatermarkTop = 480;
    m_project->m_WatermarkWidth = 960;
    m_project->m_WatermarkHeight = 480;
    EnterWatermarkMode();
    EXPECT_EQ(s->WatermarkFrame(), QRect(100, 100, 200, 100));
    Drag(150, 150, 250, 170);
    EXPECT_EQ(m_project->m_WatermarkLeft, 960);
    EXPECT_EQ(m_project->m_WatermarkTop, 576);

    // A position between window pixels: a drag moves it by the distance
    // dragged, and one cancelled before moving leaves it to the pixel.
    m_project->m_WatermarkLeft = 1001;
    m_project->m_WatermarkTop = 503;
    ApplyWatermarkPosition();
    Drag(250, 130, 260, 130);
    EXPECT_EQ(m_project->m_WatermarkLeft, 1001 + 48);
    EXPECT_EQ(m_project->m_WatermarkTop, 503);
    Mouse(QEvent::MouseButtonPress, 250, 130);
    QEvent lost(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(s->Window(), &lost);
    EXPECT_EQ(m_project->m_WatermarkLeft, 1001 + 48);
    EXPECT_EQ(m_project->m_WatermarkTop, 503);
}

TEST_F(Preview, CropDragsLeaveTheEdgesNotDraggedAsTheyWere) {
    // A frame of odd source values in a view of 1.6 source pixels each: the
    // frame in the window is rounded, the project's crop must not be.
    PreviewSession* s = Open(1280, 720);
    ASSERT_NE(s, nullptr);
    EnterCropMode();
    const QRect start(89, 243, 495, 281);
    const QRect view(56, 152, 309, 176);
    struct Case {
        const char* what;
        QPoint from, to;
        bool left, top, right, bottom; // the edges that may change
    };
    const Case cases[] = {
        {"left edge", {view.left() + 1, 240}, {view.left() + 21, 240}, true, false, false, false},
        {"right edge", {view.right(), 240}, {view.right() + 36, 240}, false, false, true, false},
        {"top edge", {200, view.top() + 1}, {200, view.top() + 11}, false, true, false, false},
        {"bottom edge", {200, view.bottom()}, {200, view.bottom() + 13}, false, false, false, true},
        {"top-left corner", {view.left() + 1, view.top() + 1}, {view.left() + 19, view.top() + 16},
         true, true, false, false},
        {"bottom-right corner", {view.right(), view.bottom()},
         {view.right() + 7, view.bottom() + 9}, false, false, true, true},
    };
    for (const Case& c : cases) {
        m_project->m_CropLeft = start.x();
        m_project->m_CropTop = start.y();
        m_project->m_CropWidth = start.width();
        m_project->m_CropHeight = start.height();
        ApplyCrop();
        ASSERT_EQ(s->CropFrame(), view);
        Drag(c.from.x(), c.from.y(), c.to.x(), c.to.y());
        const QRect now = Crop();
        EXPECT_EQ(now.left() != start.left(), c.left) << c.what;
        EXPECT_EQ(now.top() != start.top(), c.top) << c.what;
        EXPECT_EQ(now.right() != start.right(), c.right) << c.what;
        EXPECT_EQ(now.bottom() != start.bottom(), c.bottom) << c.what;
    }
    // The right edge 36 window pixels on ends where that window pixel is.
    m_project->m_CropLeft = start.x();
    m_project->m_CropTop = start.y();
    m_project->m_CropWidth = start.width();
    m_project->m_CropHeight = start.height();
    ApplyCrop();
    Drag(view.right(), 240, view.right() + 36, 240);
    EXPECT_EQ(Crop(), QRect(89, 243, MulDiv(view.x() + view.width() + 36, 1280, 800) - 89, 281));

    // Moved, the frame keeps its size in source pixels, and moved straight
    // down it keeps its left edge too.
    const QRect before = Crop();
    Drag(200, 240, 200, 250);
    EXPECT_EQ(Crop().size(), before.size());
    EXPECT_EQ(Crop().left(), before.left());
    EXPECT_EQ(Crop().top(), before.top() + 16);

    // A cancelled drag puts back the source pixels, not the window's.
    const QRect kept = Crop();
    Mouse(QEvent::MouseButtonPress, 200, 240);
    Mouse(QEvent::MouseMove, 230, 260);
    QEvent e(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(s->Window(), &e);
    EXPECT_EQ(Crop(), kept);
}

TEST_F(Preview, CancelledCropDragsRestoreTheFrame) {
    PreviewSession* s = Open(1280, 720);
    ASSERT_NE(s, nullptr);
    EnterCropMode();
    SetCrop(160, 80, 640, 320);
    ApplyCrop();
    const QRect start = s->CropFrame();
    QWidget other(m_parent.get());
    other.show();

    const std::vector<std::function<void()>> cancels = {
        [&] { // another widget takes the mouse, then a move arrives
            other.grabMouse();
            Mouse(QEvent::MouseMove, 300, 300);
            other.releaseMouse();
        },
        [&] { // the window is deactivated
            QEvent e(QEvent::WindowDeactivate);
            QCoreApplication::sendEvent(s->Window(), &e);
        },
        [&] { // the render window is hidden
            s->Window()->hide();
            LayoutPreview();
        },
    };
    for (size_t i = 0; i < cancels.size(); ++i) {
        Mouse(QEvent::MouseButtonPress, 300, 150);
        EXPECT_EQ(QWidget::mouseGrabber(), s->Window());
        Mouse(QEvent::MouseMove, 350, 180);
        EXPECT_EQ(s->CropFrame(), start.translated(50, 30)) << i;
        cancels[i]();
        EXPECT_EQ(s->CropFrame(), start) << i;
        EXPECT_EQ(Crop(), QRect(160, 80, 640, 320)) << i;
        EXPECT_EQ(s->CropHit(), CropPart::None) << i;
        EXPECT_NE(QWidget::mouseGrabber(), s->Window()) << i;
        // A release after the cancel changes nothing.
        Mouse(QEvent::MouseButtonRelease, 350, 180);
        EXPECT_EQ(s->CropFrame(), start) << i;
    }
}

TEST_F(Preview, WatermarkDragsKeepInsideAndSurviveCaptureLoss) {
    PreviewSession* s = Open(1280, 720);
    ASSERT_NE(s, nullptr);
    std::u16string file = u"/pics/mark.png";
    std::copy(file.begin(), file.end(), m_project->m_WatermarkFile);
    m_project->m_WatermarkLeft = 160;
    m_project->m_WatermarkTop = 160;
    m_project->m_WatermarkWidth = 320;
    m_project->m_WatermarkHeight = 160;
    EnterWatermarkMode();
    EXPECT_EQ(s->WatermarkFrame(), QRect(100, 100, 200, 100));
    TakeCommands();

    Mouse(QEvent::MouseMove, 150, 150);
    EXPECT_EQ(s->Window()->cursor().shape(), Qt::SizeAllCursor);
    Mouse(QEvent::MouseMove, 50, 50);
    EXPECT_EQ(s->Window()->cursor().shape(), Qt::ArrowCursor);
    Drag(50, 50, 300, 300); // outside the frame: nothing
    EXPECT_EQ(Count(kMsgWatermarkDragged), 0);

    Drag(150, 150, 250, 170);
    EXPECT_EQ(s->WatermarkFrame().topLeft(), QPoint(200, 120));
    EXPECT_EQ(m_project->m_WatermarkLeft, 320);
    EXPECT_EQ(m_project->m_WatermarkTop, 192);
    EXPECT_EQ(Count(kMsgWatermarkDragged), 1);
    EXPECT_EQ(Commands(), (std::vector<Cmd>{{kCmdCropOrWatermarkMoved, 0}}));
    Drag(250, 150, 2000, 2000); // kept inside the view
    EXPECT_EQ(s->WatermarkFrame().topLeft(), QPoint(600, 350));

    // Capture lost mid-drag: the position reached is kept and reported.
    Mouse(QEvent::MouseButtonPress, 650, 400);
    Mouse(QEvent::MouseMove, 600, 380);
    const int notices = Count(kMsgWatermarkDragged);
    QEvent e(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(s->Window(), &e);
    EXPECT_EQ(s->WatermarkFrame().topLeft(), QPoint(550, 330));
    EXPECT_EQ(m_project->m_WatermarkLeft, 880);
    EXPECT_EQ(Count(kMsgWatermarkDragged), notices + 1);
    EXPECT_NE(QWidget::mouseGrabber(), s->Window());

    // A watermark wider than the view ends at view width - frame width.
    m_project->m_WatermarkLeft = 0;
    m_project->m_WatermarkWidth = 1600;
    ApplyWatermarkPosition();
    Drag(10, 390, 300, 390);
    EXPECT_EQ(s->WatermarkFrame().x(), -200);
    EXPECT_EQ(m_project->m_WatermarkLeft, -320);
}

// Faults that were mended: each would crash, leak or corrupt.
TEST_F(Preview, RestartWithASessionAliveEndsItFirst) {
    PreviewSession* s = Open(640, 360);
    ASSERT_NE(s, nullptr);
    QPointer<RenderWindow> oldWindow = s->Window();
    const HWND oldHandle = s->RenderHandle();
    EXPECT_EQ(RestartPreview(m_parentHwnd, m_notify), 0);
    PreviewSession* again = CurrentPreviewSession();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(oldWindow.isNull());
    EXPECT_FALSE(platform::PostMessage(oldHandle, kMsgFrameReady, 640, 360));
    EXPECT_EQ(m_parent->findChildren<RenderWindow*>().size(), 1);
    // A render parent of 0 ends the session without a new one.
    RestartPreview(0, m_notify);
    EXPECT_EQ(CurrentPreviewSession(), nullptr);
    EXPECT_TRUE(m_parent->findChildren<RenderWindow*>().isEmpty());
}

TEST_F(Preview, CropRoundingStaysInsideThePicture) {
    // 1001 x 601 in a 500-wide parent: window pixel 250 is frame pixel 500.5,
    // which rounds up for the left and for the width alike.
    m_parent->resize(500, 1000);
    PreviewSession* s = Open(1001, 601);
    ASSERT_NE(s, nullptr);
    EnterCropMode();
    ASSERT_EQ(s->Window()->size(), QSize(500, 300));
    Drag(250, 150, 600, 200); // a new frame from the middle to the right border
    EXPECT_EQ(s->CropFrame(), QRect(250, 150, 250, 50));
    EXPECT_LE(m_project->m_CropLeft + m_project->m_CropWidth, 1001);
    EXPECT_EQ(m_project->m_CropLeft, 501);
    EXPECT_EQ(m_project->m_CropWidth, 500);
}

TEST_F(Preview, ZeroSizesAndRatesDoNotDivideByZero) {
    // A collapsed parent: nothing shown, frames and mouse ignored.
    m_parent->resize(0, 0);
    PreviewSession* s = Open(640, 360, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->Window()->size().isEmpty());
    EXPECT_EQ(Deliver(640, 360, 0xFF112233), 0); // the output size
    EXPECT_EQ(s->Window()->PresentedCount(), 0);
    EnterCropMode();
    Drag(0, 0, 10, 10);
    EXPECT_EQ(Crop(), QRect(0, 0, 640, 360));
    EnterWatermarkMode();
    ApplyWatermarkPosition();
    // Frame rate 0: the silent clock steps a second at a time.
    ASSERT_NE(s->Mute(), nullptr);
    EXPECT_EQ(s->Mute()->FrameDuration(), 1000000);

    // Sound whose format gives no byte rate plays with the silent clock.
    m_parent->resize(800, 600);
    s = Open(640, 360, 25, 1, true, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Audio(), nullptr);
    ASSERT_NE(s->Mute(), nullptr);
    Play();
    s->Mute()->OnTimer();
    EXPECT_TRUE(Queued(kCmdPresent, 40000));
}

// The preview draws the cue of the project's first caption track at the
// position of each frame, white on a dark box at the bottom, and clears it
// once the cue is over; unticking the captions clears it at once.
TEST_F(Preview, CaptionsAreDrawnAtTheirTimesAndCleared) {
    const std::string dir = std::string(getenv("HOME")) + "/preview-captions";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/clip.srt") << "1\n00:00:00,500 --> 00:00:01,200\nHello <i>there</i>\n";
    m_media = AddMediaRecord();
    m_media->m_Width = 1280;
    m_media->m_Height = 720;
    m_media->m_FrameRateNum = 25;
    m_media->m_FrameRateDen = 1;
    platform::WStrCopy(m_media->m_szFileName, platform::FromUtf8(dir + "/clip.mp4"));
    m_project = CreateProject(m_media, 0, m_notify);
    ASSERT_EQ(StartPreviewSession(m_project, m_media, m_parentHwnd, m_notify, false), 0);
    PreviewSession* s = CurrentPreviewSession();
    RenderWindow* w = s->Window();

    // Bright pixels in the lower part of a grey picture: the caption's letters.
    auto captionShown = [&] {
        const QImage shot = w->grab().toImage();
        int white = 0;
        for (int y = shot.height() * 2 / 3; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                white += qGray(shot.pixel(x, y)) > 230;
        return white > 20;
    };
    s->Control()->m_Pts = 1000000;
    // The cues are read on a thread of their own.
    for (int i = 0; i < 200 && w->Caption().isEmpty(); ++i) {
        Deliver(1280, 720, 0xFF606060);
        QThread::msleep(10);
    }
    EXPECT_EQ(w->Caption(), QStringLiteral("Hello there"));
    EXPECT_TRUE(captionShown());
    // The picture under it is untouched: the caption is drawn, not burnt in.
    ASSERT_EQ(w->Picture().size(), QSize(800, 450));
    EXPECT_EQ(w->Picture().pixel(400, 440), 0xFF606060u);

    s->Control()->m_Pts = 1200000; // the cue's end
    Deliver(1280, 720, 0xFF606060);
    EXPECT_EQ(w->Caption(), QString());
    EXPECT_FALSE(captionShown());

    s->Control()->m_Pts = 600000;
    Deliver(1280, 720, 0xFF606060);
    EXPECT_TRUE(captionShown());
    SetCaptionsEnabled(0);
    EXPECT_EQ(w->Caption(), QString());
    EXPECT_FALSE(captionShown());
}
