// The self-rendering preview plug-in driven by its engine-side host: the
// real decoder helper, the plug-in and the host's render window, with clips
// made by the ffmpeg command in the decoder's own pixel formats.
#include "system/Folders.h"
#include "media/History.h"
#include "preview/RenderHost.h"
#include "system/RouterQt.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "media_fixtures.h"
#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"

using namespace reelpage;
using namespace testing_media;

namespace {

constexpr int kWidth = 64, kHeight = 48;
constexpr int64_t D = 40000; // 25 frames a second

// 30 frames (1.2 s) of a still colour-bar picture, stored uncompressed in
// pixFmt so the decoder hands frames out in that format.
std::string MakeClip(const std::string& pixFmt) {
    const std::string path = std::string(getenv("HOME")) + "/bars_" + pixFmt + ".nut";
    const bool made = Ffmpeg({"-f", "lavfi", "-i",
                              "smptebars=size=" + std::to_string(kWidth) + "x" +
                                  std::to_string(kHeight) + ":rate=25",
                              "-frames:v", "30", "-c:v", "rawvideo", "-pix_fmt", pixFmt, "-f",
                              "nut", path});
    return made ? path : std::string();
}

class RenderPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        ASSERT_TRUE(AttachRouterToQt());
        SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
        InitFolders(); // the data folders; the installation check may fail in a build tree
        m_parent = std::make_unique<QWidget>();
        m_parent->resize(200, 200);
        m_parent->show();
    }
    void TearDown() override {
        m_host.reset();
        m_parent.reset();
        m_app.reset();
    }

    // A host running the plug-in on clip; every presented frame's time is
    // recorded, and the picture shown for the frame at 0.
    void Start(const std::string& clip) {
        ASSERT_FALSE(clip.empty());
        m_media = AddMediaRecord();
        ASSERT_NE(m_media, nullptr);
        platform::WStrCopy(m_media->m_szFileName, platform::FromUtf8(clip));
        m_media->m_bVideoStream = 1;
        m_media->m_Width = kWidth;
        m_media->m_Height = kHeight;
        m_media->m_FrameRateNum = 25;
        m_media->m_FrameRateDen = 1;
        m_presented.clear();
        m_first = QImage();
        m_host = std::make_unique<RenderHost>(m_parent.get());
        QObject::connect(m_host.get(), &RenderHost::presented, [this](qint64 pts) {
            m_presented.push_back(pts);
            if (pts == 0 && m_first.isNull()) m_first = m_host->Window()->Picture().copy();
        });
        ASSERT_EQ(m_host->Start(m_media), 0);
        ASSERT_TRUE(m_host->SetClock(0));
    }

    // Dispatches until done() or timeoutMs; the answer of done() at the end.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > timeoutMs) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            platform::RouterDispatch();
            usleep(1000);
        }
        return true;
    }
    void Settle(int ms) { PumpUntil([] { return false; }, ms); }
    bool PtsReaches(int64_t pts) {
        return PumpUntil([&] { return m_host->Pts() == pts && m_host->PresentedPts() == pts; });
    }

    int m_argc = 1;
    char m_name[12] = "test_engine";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QWidget> m_parent;
    MediaInfo* m_media = nullptr;
    std::unique_ptr<RenderHost> m_host;
    std::vector<int64_t> m_presented;
    QImage m_first;
};

double Psnr(const QImage& shown, const std::vector<uint8_t>& bgra) {
    double sum = 0;
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* row = shown.constScanLine(y);
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = double(row[x * 4 + c]) - bgra[(size_t(y) * kWidth + x) * 4 + c];
                sum += d * d;
            }
    }
    const double mse = sum / (double(kWidth) * kHeight * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(RenderPlugin, EveryFormatIsTakenAsDecodedAndPresentedAsFfmpegConvertsIt) {
    const struct {
        const char* pixFmt;
        int32_t code;
    } cases[] = {{"yuv420p", kPixYuv420}, {"nv12", kPixNv12},   {"yuyv422", kPixYuyv},
                 {"uyvy422", kPixUyvy},   {"bgr24", kPixBgr24}, {"rgb565le", kPixRgb565},
                 // No wire number: the helper converts to the BGRA asked for.
                 {"yuv444p", kPixBgra}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixFmt);
        const std::string clip = MakeClip(c.pixFmt);
        Start(clip);
        ASSERT_TRUE(PumpUntil([&] { return !m_first.isNull(); }));
        // The helper delivered frames as the decoder made them: the plug-in
        // took them in that format, not in the BGRA it asks for otherwise.
        EXPECT_EQ(m_host->Format(), c.code);
        const std::vector<uint8_t> reference = FfmpegFirstFrameBgra(clip);
        ASSERT_EQ(reference.size(), size_t(kWidth) * kHeight * 4);
        ASSERT_EQ(m_first.size(), QSize(kWidth, kHeight));
        const double psnr = Psnr(m_first, reference);
        std::printf("%s: %.1f dB\n", c.pixFmt, psnr);
        EXPECT_GE(psnr, 40.0);
        m_host.reset();
    }
}

TEST_F(RenderPlugin, FramesWaitForTheClockAndLateOnesAreDropped) {
    Start(MakeClip("yuv420p"));
    // At clock 0 the frames at 0 and D are due; 2D is more than one frame
    // ahead and waits however long nothing moves.
    ASSERT_TRUE(PtsReaches(D));
    Settle(400);
    EXPECT_EQ(m_host->Pts(), D);
    EXPECT_EQ(m_presented, (std::vector<int64_t>{0, D}));
    EXPECT_FALSE(m_host->EndOfStream());

    ASSERT_TRUE(m_host->SetClock(D));
    ASSERT_TRUE(PtsReaches(2 * D));
    Settle(200);
    EXPECT_EQ(m_host->Pts(), 2 * D);

    // A jump to 25D: frames more than three durations behind it are dropped,
    // 22D (exactly three behind) and the due ones up to 26D are shown.
    ASSERT_TRUE(m_host->SetClock(25 * D));
    ASSERT_TRUE(PtsReaches(26 * D));
    EXPECT_EQ(m_presented, (std::vector<int64_t>{0, D, 2 * D, 22 * D, 23 * D, 24 * D, 25 * D,
                                                 26 * D}));
}

TEST_F(RenderPlugin, SeekWhileWaitingForTheClock) {
    Start(MakeClip("nv12"));
    ASSERT_TRUE(PtsReaches(D));
    Settle(200); // the plug-in now waits with the frame at 2D
    ASSERT_TRUE(m_host->Seek(15 * D));
    ASSERT_TRUE(PtsReaches(16 * D));
    // Nothing between the wait and the seek; after it only frames from where
    // the helper landed (at most three durations before the target) onward.
    ASSERT_GE(m_presented.size(), 4u);
    EXPECT_EQ(m_presented[0], 0);
    EXPECT_EQ(m_presented[1], D);
    for (size_t i = 2; i < m_presented.size(); ++i) {
        EXPECT_GE(m_presented[i], 12 * D);
        if (i > 2) {
            EXPECT_GT(m_presented[i], m_presented[i - 1]);
        }
    }
    EXPECT_EQ(m_presented.back(), 16 * D);
    EXPECT_FALSE(m_host->EndOfStream());
}

TEST_F(RenderPlugin, ClockStepsWhileThePluginWaitsNeverBlockTheHost) {
    Start(MakeClip("yuyv422"));
    ASSERT_TRUE(PtsReaches(D));
    // Steps in bursts, some while the plug-in is inside its wait and some
    // while it waits for the window to take a picture: every step gets the
    // mutex within its bound and the file plays to its end.
    for (int64_t t = 0; t <= 31 * D; t += D / 4) {
        ASSERT_TRUE(m_host->SetClock(t)) << t;
        if (t % D == 0) {
            QCoreApplication::processEvents();
            platform::RouterDispatch();
        }
    }
    ASSERT_TRUE(PumpUntil([&] { return m_host->EndOfStream(); }));
    EXPECT_EQ(m_host->Pts(), 29 * D);

    // The host's own clock plays it again from the start, in order.
    ASSERT_TRUE(m_host->Seek(0));
    m_presented.clear();
    m_host->Play();
    ASSERT_TRUE(PumpUntil([&] { return !m_presented.empty() && m_host->EndOfStream(); }));
    m_host->Pause();
    EXPECT_EQ(m_presented.back(), 29 * D);
    for (size_t i = 1; i < m_presented.size(); ++i) EXPECT_GT(m_presented[i], m_presented[i - 1]);
}

TEST_F(RenderPlugin, RedrawWhilePausedAndAfterTheEnd) {
    Start(MakeClip("bgr24"));
    ASSERT_TRUE(PtsReaches(D));
    Settle(200); // paused: the plug-in waits for the clock
    int count = m_host->PresentedCount();
    m_host->Redraw();
    ASSERT_TRUE(PumpUntil([&] { return m_host->PresentedCount() == count + 1; }, 3000));
    EXPECT_EQ(m_host->PresentedPts(), D);

    ASSERT_TRUE(m_host->SetClock(29 * D));
    ASSERT_TRUE(PumpUntil([&] { return m_host->EndOfStream(); }));
    EXPECT_EQ(m_host->PresentedPts(), 29 * D);
    Settle(300); // the helper has nothing more to decode
    count = m_host->PresentedCount();
    m_host->Redraw();
    ASSERT_TRUE(PumpUntil([&] { return m_host->PresentedCount() == count + 1; }, 3000));
    EXPECT_EQ(m_host->PresentedPts(), 29 * D);

    // And a seek back after the end plays again.
    ASSERT_TRUE(m_host->Seek(0));
    ASSERT_TRUE(PtsReaches(D));
    EXPECT_FALSE(m_host->EndOfStream());
}

} // namespace
