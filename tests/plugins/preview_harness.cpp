#include "preview_harness.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <unistd.h>

#include "dec_runner.h"
#include "platform/event.h"
#include "platform/interlocked.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/messages.h"

namespace preview_test {

using namespace reelpage;

PreviewHarness::PreviewHarness(const PreviewSetup& s) {
    platform::RouterInit();
    m_hwnd = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t l) {
        if (msg == kMsgFrameReady) OnFrame(w, l);
        return int64_t(0);
    });

    platform::CreateSharedBlock(sizeof(MediaInfo), true, &m_MediaBlock);
    m_pMedia = static_cast<MediaInfo*>(m_MediaBlock.view);
    m_pMedia->m_hSelf = m_MediaBlock.handle;
    platform::WStrCopy(m_pMedia->m_szFileName, kMaxPath, platform::FromUtf8(s.file));
    m_pMedia->m_bVideoStream = 1;
    m_pMedia->m_Width = s.width;
    m_pMedia->m_Height = s.height;
    m_pMedia->m_FrameRateNum = s.fpsNum;
    m_pMedia->m_FrameRateDen = s.fpsDen;
    m_pMedia->m_bAudioStream = s.audio;

    platform::CreateSharedBlock(sizeof(reelpage::Project), true, &m_ProjectBlock);
    m_pProject = static_cast<reelpage::Project*>(m_ProjectBlock.view);
    auto& p = *m_pProject;
    p.m_hSelf = m_ProjectBlock.handle;
    p.m_pMediaInfo = m_MediaBlock.handle;
    const bool swap = s.orientation & 1;
    p.m_VideoWidth = swap ? s.height : s.width;
    p.m_VideoHeight = swap ? s.width : s.height;
    p.m_OutputWidth = s.outWidth > 0 ? s.outWidth : p.m_VideoWidth;
    p.m_OutputHeight = s.outHeight > 0 ? s.outHeight : p.m_VideoHeight;
    p.m_ResizeMethod = s.resize;
    p.m_Orientation = s.orientation;
    p.m_CropLeft = s.cropLeft;
    p.m_CropTop = s.cropTop;
    p.m_CropWidth = s.cropWidth > 0 ? s.cropWidth : p.m_VideoWidth;
    p.m_CropHeight = s.cropHeight > 0 ? s.cropHeight : p.m_VideoHeight;
    p.m_Brightness = s.brightness;
    p.m_Contrast = s.contrast;
    p.m_ClipStop = s.clipStop;
    if (s.project) s.project(p);

    platform::CreateSharedBlock(s.frameBlockBytes ? s.frameBlockBytes : kPreviewFrameSize, true,
                                &m_FrameBlock);
    platform::CreateSharedBlock(sizeof(PreviewControl), true, &m_ControlBlock);
    m_pControl = static_cast<PreviewControl*>(m_ControlBlock.view);
    m_hEvent = platform::CreateEvent(true);
    platform::CreateSharedMutex(true, &m_Mutex);
    m_pControl->m_hMediaInfo = m_MediaBlock.handle;
    m_pControl->m_hTaskList = m_ProjectBlock.handle;
    m_pControl->m_hwndRender = m_hwnd;
    m_pControl->m_hFrame = m_FrameBlock.handle;
    m_pControl->m_hCommandEvent = m_hEvent;
    m_pControl->m_hMutex = m_Mutex.handle;

    m_szLog = dec_test::Folder("preview") + "/helper-" + std::to_string(getpid()) + "-" +
              std::to_string(rand()) + ".log";
    m_hLog = open(m_szLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);

    platform::CreateSharedBlock(sizeof(HelperLaunch), true, &m_LaunchBlock);
    auto* launch = static_cast<HelperLaunch*>(m_LaunchBlock.view);
    platform::WStrCopy(launch->m_szFileName, kMaxPath, platform::FromUtf8(s.file));
    platform::WStrCopy(launch->m_szPlugin, kMaxPath,
                       platform::FromUtf8(REELPAGE_PROGRAM_DIR "/morvane.so"));
    launch->m_hLogFile = m_hLog;
    launch->m_hSession = m_ControlBlock.handle;
    const std::string line =
        "\"" REELPAGE_PROGRAM_DIR "/dec\" " + std::to_string(m_LaunchBlock.handle);
    if (platform::LaunchHelper(line, REELPAGE_PROGRAM_DIR, &m_hProcess) != 0) m_hProcess = -1;
}

PreviewHarness::~PreviewHarness() {
    if (m_hProcess >= 0) {
        platform::TerminateHelper(m_hProcess, -1);
        platform::WaitForHandle(m_hProcess, platform::kInfinite);
        platform::CloseHelperHandle(m_hProcess);
    }
    platform::RouterDestroyWindow(m_hwnd);
    platform::CloseEvent(m_hEvent);
    platform::CloseSharedMutex(&m_Mutex);
    for (auto* b : {&m_MediaBlock, &m_ProjectBlock, &m_ControlBlock, &m_FrameBlock, &m_LaunchBlock})
        platform::CloseSharedBlock(b);
    if (m_hLog >= 0) close(m_hLog);
}

bool PreviewHarness::Running() const {
    int code = 0;
    return m_hProcess >= 0 && platform::GetHelperExitCode(m_hProcess, &code) == 0 &&
           code == platform::kStillActive;
}

int PreviewHarness::ProcessId() const {
    return platform::GetHelperProcessId(m_hProcess);
}

void PreviewHarness::Post(PreviewCommand code, int64_t param) {
    platform::LockSharedMutex(m_Mutex, platform::kInfinite);
    int i = 0;
    while (i < m_pControl->m_cCommand && m_pControl->m_Commands[i].m_nCode != code)
        ++i;
    if (i == m_pControl->m_cCommand) ++m_pControl->m_cCommand;
    m_pControl->m_Commands[i].m_nCode = code;
    m_pControl->m_Commands[i].reserved = 0;
    m_pControl->m_Commands[i].m_llParam = param;
    platform::UnlockSharedMutex(m_Mutex);
    platform::SetEvent(m_hEvent);
}

void PreviewHarness::OnFrame(int64_t width, int64_t height) {
    DeliveredFrame f;
    f.width = int(width);
    f.height = int(height);
    f.pts = Pts();
    const size_t bytes = size_t(std::max(f.width, 0)) * size_t(std::max(f.height, 0)) * 4;
    // A frame that claims more than the block holds is recorded empty: the
    // renderer would drop it.
    if (bytes <= m_FrameBlock.size) {
        const auto* from = static_cast<const uint8_t*>(m_FrameBlock.view);
        f.pixels.assign(from, from + bytes);
    }
    m_Frames.push_back(std::move(f));
}

const DeliveredFrame* PreviewHarness::WaitFrame(int timeoutMs) {
    const size_t before = m_Frames.size();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_Frames.size() == before) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return nullptr;
        pollfd fd{platform::RouterWakeHandle(), POLLIN, 0};
        poll(&fd, 1, int(std::min<int64_t>(left.count(), 100)));
        platform::RouterDispatch();
    }
    return &m_Frames[before];
}

void PreviewHarness::Idle(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd fd{platform::RouterWakeHandle(), POLLIN, 0};
        poll(&fd, 1, int(left.count()));
        platform::RouterDispatch();
    }
}

int64_t PreviewHarness::Pts() {
    platform::LockSharedMutex(m_Mutex, platform::kInfinite);
    const int64_t pts = m_pControl->m_Pts;
    platform::UnlockSharedMutex(m_Mutex);
    return pts;
}

bool PreviewHarness::EndOfStream() const {
    return platform::LoadAcquire(&m_pControl->m_EndOfStream) != 0;
}

double PreviewHarness::HelperCpuSeconds() const {
    // Fields 14 and 15 of /proc/PID/stat, after the parenthesised name.
    std::ifstream in("/proc/" + std::to_string(ProcessId()) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    const size_t close = all.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(all.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    long long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

std::string PreviewHarness::Log() const {
    std::ifstream in(m_szLog);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

} // namespace preview_test
