// Plays one file in the preview as the program does (real helper and plug-in,
// offscreen, paced sound) and prints one JSON line of how well the picture
// follows the clock. Presentation is observed from outside the engine: a
// paint of the render window after a new frame is a presented frame, and the
// frame's time is the one the plug-in published with it.
//
//   preview_driver FILE WATERMARK.png [--effects] [--original] [--seconds N]
//                  [--clip-start S] [--replay-pause MS] [--replay-lead S]
//                  [--av-sync MONITOR-SOURCE]
//
// --av-sync plays the file through with the real sound device (the script
// runs a sound server with a null sink) and records that sink's monitor; the
// file has a white frame and a click at the same times. One JSON line of the
// offsets between each flash presented and its click as played.
#include "monitor_capture.h"
#include "system/Folders.h"
#include "preview/PreviewSession.h"
#include "system/RouterQt.h"
#include "records/Settings.h"

#include <QApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"
#include "reelpage/protocol.h"

using namespace reelpage;

namespace {

// Runs the event loop until done() or the time-out, looking every
// millisecond; false on time-out.
template <typename Done> bool WaitFor(Done done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer t;
    t.start();
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done() || t.elapsed() > timeoutMs) loop.quit();
    });
    look.start(1);
    loop.exec();
    return done();
}

// Runs the event loop for ms without looking at anything, so that the idle
// figure holds only the engine's and the helper's own work.
void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// utime + stime of one process, in clock ticks; -1 when it cannot be read.
long long CpuTicks(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return -1;
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::atoll(field.c_str());
        if (i == 15) stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

// This process and its children (the preview helper).
std::vector<int> OurProcesses() {
    std::vector<int> pids{getpid()};
    DIR* d = opendir("/proc");
    if (!d) return pids;
    while (dirent* e = readdir(d)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(in, line)) continue;
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == getpid()) pids.push_back(pid);
    }
    closedir(d);
    return pids;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(std::ceil(p * v.size())) - 1);
    return v[i];
}

// Notes every presented frame: its time and the clock at that moment.
class Observer : public QObject {
public:
    Observer(PreviewSession* session) : m_pSession(session) { m_Wall.start(); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const int count = m_pSession->Window()->PresentedCount();
            if (count != m_nSeen) {
                m_nSeen = count;
                m_llLastPts = __atomic_load_n(&m_pSession->Control()->m_Pts, __ATOMIC_ACQUIRE);
                ++m_nPresents;
                if (m_bFrames) NoteFrame();
                if (m_bPlaying) {
                    m_Pts.push_back(m_llLastPts);
                    m_Skew.push_back(std::abs(double(m_llLastPts - Clock())) / 1000.0);
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }

    // The clock between ticks: the last tick moved on by the wall time since,
    // never past the next frame's tick.
    int64_t Clock() {
        SampleTick();
        const int64_t since = (m_Wall.nsecsElapsed() - m_llTickWall) / 1000;
        return m_llTickPos + std::min<int64_t>(since, m_llFrameUs);
    }
    void SampleTick() {
        const int64_t pos = m_pSession->ClockPosition();
        if (pos != m_llTickPos) {
            m_llTickPos = pos;
            m_llTickWall = m_Wall.nsecsElapsed();
        }
    }

    // Each painted picture's frame number (the source's grey level is 16 +
    // 4 x (frame mod 50); the session's time settles which round of 50) and
    // when it was painted.
    void NoteFrame() {
        const QImage& picture = m_pSession->Window()->Picture();
        if (picture.isNull() || m_llFrameUs <= 0) return;
        const double y = 16 + qGray(picture.pixel(picture.width() / 2, picture.height() / 2)) *
                                  219.0 / 255.0;
        const int64_t index = std::lround((y - 16) / 4) % 50;
        const int64_t near = m_llLastPts / m_llFrameUs;
        int64_t frame = near - ((near - index) % 50 + 50) % 50;
        if (near - frame > 25) frame += 50;
        m_Painted.push_back({MonotonicNs(), frame});
    }

    PreviewSession* m_pSession;
    QElapsedTimer m_Wall;
    bool m_bFrames = false;
    std::vector<std::pair<int64_t, int64_t>> m_Painted; // wall ns, frame number
    int m_nSeen = 0;
    int m_nPresents = 0;
    int64_t m_llLastPts = -1;
    bool m_bPlaying = false;
    int64_t m_llTickPos = -1;
    int64_t m_llTickWall = 0;
    int64_t m_llFrameUs = 33333;
    std::vector<int64_t> m_Pts;
    std::vector<double> m_Skew;
};

// Plays the whole file while the monitor is recorded; prints the offsets.
int AvSync(PreviewSession* session, Observer& observer, const char* monitor, int64_t length) {
    if (!session->Audio()) {
        std::fprintf(stderr, "the file has no sound\n");
        return 1;
    }
    MonitorCapture capture;
    if (!capture.Start(monitor)) {
        std::fprintf(stderr, "parec did not start\n");
        return 1;
    }
    Idle(1000); // the recording runs before the sound starts
    observer.m_bFrames = true;
    const int presentsBefore = observer.m_nPresents;
    Bind<int32_t (*)()>(kPlay)();
    const bool ended = WaitFor([&] { return session->Rewind(); }, int(length / 1000) + 30000);
    Idle(500);
    capture.Stop();
    observer.m_bFrames = false;
    std::fprintf(stderr, "%d pictures presented while playing\n",
                 observer.m_nPresents - presentsBefore);
    // When each click's time was (or, its frame skipped, would have been)
    // on screen: the first frame painted at or after it, less the time
    // between the two.
    const int64_t fps = observer.m_llFrameUs > 0 ? 1000000 / observer.m_llFrameUs : 30;
    std::vector<int64_t> flashes;
    for (int64_t second = 0; second * 1000000 < length; ++second) {
        const int64_t flashFrame = second * fps + fps / 2;
        for (const auto& [wall, frame] : observer.m_Painted)
            if (frame >= flashFrame && frame <= flashFrame + 2) {
                flashes.push_back(wall - (frame - flashFrame) * observer.m_llFrameUs * 1000);
                break;
            }
    }
    const std::vector<int64_t> clicks = capture.ClickTimes();
    const std::vector<double> offsets = PairOffsets(flashes, clicks);
    std::string list;
    double sum = 0;
    for (const double o : offsets) {
        char item[32];
        std::snprintf(item, sizeof item, "%s%.1f", list.empty() ? "" : ", ", o);
        list += item;
        sum += o;
    }
    const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
    std::printf("{\"flashes\": %zu, \"clicks\": %zu, \"paired\": %zu, \"offset_mean_ms\": %.1f, "
                "\"offset_min_ms\": %.1f, \"offset_max_ms\": %.1f, \"offsets_ms\": [%s]%s}\n",
                flashes.size(), clicks.size(), offsets.size(),
                offsets.empty() ? 0.0 : sum / double(offsets.size()),
                offsets.empty() ? 0.0 : *low, offsets.empty() ? 0.0 : *high, list.c_str(),
                ended ? "" : ", \"stalled\": true");
    EndPreviewSession();
    return offsets.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MEDIA-FILE WATERMARK.png [--effects] [--original] [--seconds N]\n",
                     argv[0]);
        return 2;
    }
    bool effects = false;
    bool original = false;
    int seconds = 60;
    int clipStart = 3;
    int replayPause = 500;
    int replayLead = 2; // seconds played before the end, -1: from the clip start
    const char* monitor = nullptr;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--effects")) effects = true;
        else if (!std::strcmp(argv[i], "--original")) original = true;
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--clip-start") && i + 1 < argc) clipStart = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--av-sync") && i + 1 < argc) monitor = argv[++i];
        else if (!std::strcmp(argv[i], "--replay-pause") && i + 1 < argc) replayPause = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--replay-lead") && i + 1 < argc) replayLead = std::atoi(argv[++i]);
    }
    QApplication app(argc, argv);
    if (!AttachRouterToQt()) {
        std::fprintf(stderr, "the router could not join the event loop\n");
        return 1;
    }
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    if (const int rc = Bind<FnInitFolders>(kInitFolders)(); rc != 0) {
        std::fprintf(stderr, "InitFolders failed: %d\n", rc);
        return 1;
    }

    int64_t probe = 1000;
    const uint32_t importWindow =
        platform::RouterCreateWindow([&](uint32_t, uint32_t msg, int64_t w, int64_t) {
            if (msg == kMsgProbeDone) probe = w;
            return int64_t(0);
        });
    char* absolute = realpath(argv[1], nullptr);
    char* mark = realpath(argv[2], nullptr);
    if (!absolute || !mark) {
        std::perror("realpath");
        return 2;
    }
    MediaInfo* media = Bind<FnOpenMedia>(kOpenMedia)(platform::FromUtf8(absolute).c_str(),
                                                    importWindow, 0, kMsgProbeDone,
                                                    kMsgProbeProgress);
    if (!media || !WaitFor([&] { return probe != 1000; }, 300000) || probe != kProbeOk) {
        std::fprintf(stderr, "import failed: %lld\n", static_cast<long long>(probe));
        return 1;
    }

    Settings& s = TheSettings();
    // "Original" keeps the source's size (a 4K source then arrives scaled
    // down to what the frame block holds).
    s.m_SizeIndex = original ? 0 : 9;
    s.m_OutputWidth = 1280;
    s.m_OutputHeight = 720;
    s.m_ResizeMethod = 1; // letterbox
    platform::WStrCopy(s.m_WatermarkFile, platform::FromUtf8(mark));
    s.m_WatermarkImageWidth = 160;
    s.m_WatermarkImageHeight = 90;
    s.m_WatermarkHPosition = 4;
    s.m_WatermarkVPosition = 4;
    s.m_WatermarkTransparency = 30;
    free(absolute);
    free(mark);

    QWidget area;
    area.resize(1280, 720);
    const uint32_t areaHwnd = platform::RouterCreateWindow(
        [](uint32_t, uint32_t, int64_t, int64_t) { return int64_t(0); });
    area.setProperty("reelpage_hwnd", QVariant::fromValue<uint32_t>(areaHwnd));
    area.show();
    const uint32_t notify = platform::RouterCreateWindow(
        [](uint32_t, uint32_t, int64_t, int64_t) { return int64_t(0); });

    QElapsedTimer since;
    since.start();
    Project* project = Bind<FnCreateProject>(kCreateProject)(media, areaHwnd, notify);
    PreviewSession* session = CurrentPreviewSession();
    if (!project || !session || !session->Window()) {
        std::fprintf(stderr, "no preview session\n");
        return 1;
    }
    Observer observer(session);
    if (media->m_FrameRateNum > 0 && media->m_FrameRateDen > 0)
        observer.m_llFrameUs = int64_t(1000000) * media->m_FrameRateDen / media->m_FrameRateNum;
    session->Window()->installEventFilter(&observer);
    if (!WaitFor([&] { return observer.m_nPresents > 0; }, 20000)) {
        std::fprintf(stderr, "no first picture\n");
        return 1;
    }
    const double firstMs = since.nsecsElapsed() / 1e6;
    if (monitor) return AvSync(session, observer, monitor, media->m_Duration);

    project->m_Brightness = 10;
    project->m_Contrast = 10;
    if (effects) {
        project->m_Hue = 30, project->m_Saturation = 20, project->m_Lightness = 10;
        project->m_BlurRadius = 4, project->m_BlurExpandEdge = -1;
        project->m_SharpenRadius = 6, project->m_SharpenAmount = 15;
        project->m_TintHue = 40, project->m_TintAmount = 20;
        project->m_CyanRed = 20, project->m_MagentaGreen = -10, project->m_YellowBlue = 15;
        project->m_LevelsHighlight = 10, project->m_LevelsMidtone = 20;
        project->m_LevelsShadow = 10;
        project->m_Exposure = 20, project->m_Density = 20;
        project->m_WhiteSaturation = 30, project->m_BlackSaturation = 20;
    }
    Bind<int32_t (*)(int32_t)>(kNotifyPreview)(kCmdAdjustmentsChanged);
    Idle(300);

    // Play.
    const int64_t length = media->m_Duration;
    const int64_t playUs = std::min<int64_t>(int64_t(seconds) * 1000000, length);
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] { observer.SampleTick(); });
    sampler.start(2);
    observer.m_bPlaying = true;
    Bind<int32_t (*)()>(kPlay)();
    const bool reached = WaitFor([&] { return session->ClockPosition() >= playUs - 100000 ||
                                              session->State() == 0; },
                                 int(playUs / 1000) + 30000);
    const int64_t played = session->ClockPosition();
    observer.m_bPlaying = false;
    sampler.stop();
    Bind<int32_t (*)()>(kPause)();
    std::vector<int64_t> pts = observer.m_Pts;
    std::sort(pts.begin(), pts.end());
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
    const double due = double(std::max<int64_t>(played, 1)) / double(observer.m_llFrameUs);
    const double presented = std::min(1.0, double(pts.size()) / due);

    // Paused seeks, until the target's frame is presented.
    std::vector<double> seeks;
    const int lastSecond = int(std::max<int64_t>(length / 1000000 - 1, 0));
    for (int i = 0; i < 20; ++i) {
        const int target = lastSecond > 0 ? int((int64_t(i) * 7 + 3) % (lastSecond + 1)) : 0;
        const int64_t at = int64_t(target) * 1000000;
        Idle(100);
        const int before = observer.m_nPresents;
        QElapsedTimer t;
        t.start();
        Bind<int32_t (*)(int32_t)>(kSeek)(target);
        const bool shown = WaitFor(
            [&] {
                return observer.m_nPresents != before && observer.m_llLastPts >= at - 1000 &&
                       observer.m_llLastPts < at + observer.m_llFrameUs;
            },
            10000);
        seeks.push_back(shown ? t.nsecsElapsed() / 1e6 : 10000.0);
        std::fprintf(stderr, "seek %d s: %.1f ms%s\n", target, seeks.back(),
                     shown ? "" : " (not shown)");
    }

    // Play at the end: from the clip start's second, played to the end from
    // two seconds before it (or as told; -1: from the clip start, as a user
    // who replays a clip has played it), Play again after a pause (half a
    // second unless told: a user's reaction), until the clip start's frame
    // is presented.
    const int64_t replayAt = std::min<int64_t>(int64_t(clipStart) * 1000000, length / 2);
    project->m_ClipStart = replayAt;
    const int64_t playFrom = replayLead < 0 ? replayAt / 1000000 : length / 1000000 - replayLead;
    Bind<int32_t (*)(int32_t)>(kSeek)(int32_t(std::max<int64_t>(playFrom, 0)));
    Idle(1000);
    Bind<int32_t (*)()>(kPlay)();
    const bool ended = WaitFor([&] { return session->Rewind(); }, int(length / 1000) + 30000);
    Idle(replayPause);
    const int beforeReplay = observer.m_nPresents;
    QElapsedTimer replay;
    replay.start();
    Bind<int32_t (*)()>(kPlay)();
    const bool replayed = ended && WaitFor(
        [&] {
            return observer.m_nPresents != beforeReplay && observer.m_llLastPts >= replayAt - 1000 &&
                   observer.m_llLastPts < replayAt + 3 * observer.m_llFrameUs;
        },
        20000);
    const double replayMs = replayed ? replay.nsecsElapsed() / 1e6 : -1;
    Bind<int32_t (*)()>(kPause)();
    std::fprintf(stderr, "replay from %.1f s after %d ms: %.1f ms%s\n", replayAt / 1e6, replayPause, replayMs,
                 ended ? "" : " (playback did not end)");

    // Idle: paused, the program and its helper over 10 s.
    Idle(1000);
    const std::vector<int> pids = OurProcesses();
    std::vector<long long> before;
    for (int pid : pids) before.push_back(std::max(CpuTicks(pid), 0LL));
    QElapsedTimer idle;
    idle.start();
    Idle(10000);
    double idlePct = 0;
    for (size_t i = 0; i < pids.size(); ++i) {
        const double pct = 100.0 * double(std::max(CpuTicks(pids[i]), 0LL) - before[i]) /
                           double(sysconf(_SC_CLK_TCK)) / (idle.elapsed() / 1000.0);
        std::fprintf(stderr, "idle: process %d (%s) %.2f %%\n", pids[i],
                     i == 0 ? "program" : "helper", pct);
        idlePct += pct;
    }

    const QSize display = session->DisplaySize();
    EndPreviewSession();
    std::printf("{\"presented\": %.3f, \"av_p95_ms\": %.1f, \"av_max_ms\": %.1f, "
                "\"seek_p95_ms\": %.1f, \"first_frame_ms\": %.1f, \"replay_ms\": %.1f, \"idle_cpu_pct\": %.2f, "
                "\"played_s\": %.1f, \"frames\": %zu, \"processes\": %zu, \"effects\": %s, \"display\": \"%dx%d\"%s}\n",
                presented, Percentile(observer.m_Skew, 0.95),
                observer.m_Skew.empty() ? -1.0
                                        : *std::max_element(observer.m_Skew.begin(),
                                                            observer.m_Skew.end()),
                Percentile(seeks, 0.95), firstMs, replayMs, idlePct, played / 1e6, pts.size(), pids.size(),
                effects ? "true" : "false", display.width(),
                display.height(), reached ? "" : ", \"stalled\": true");
    platform::RouterDestroyWindow(notify);
    platform::RouterDestroyWindow(areaHwnd);
    platform::RouterDestroyWindow(importWindow);
    return 0;
}
