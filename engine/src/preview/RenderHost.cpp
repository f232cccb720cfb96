#include "preview/RenderHost.h"

#include <cstring>

#include "media/HelperProtocol.h"
#include "system/Log.h"
#include "platform/event.h"
#include "platform/interlocked.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/wait.h"
#include "reelpage/blocks.h"
#include "reelpage/messages.h"

namespace reelpage {

namespace {
// A plug-in keeps the mutex only for a copy; a longer hold means it is stuck.
constexpr int kLockTimeoutMs = 1000;
} // namespace

RenderHost::RenderHost(QWidget* parent) {
    m_pWindow = new RenderWindow(parent, this);
    m_pWindow->setObjectName(QStringLiteral("Reelpage Self-rendered Preview"));
}

RenderHost::~RenderHost() {
    Stop();
    delete m_pWindow.data();
}

int RenderHost::Start(MediaInfo* media, const char16_t* plugin) {
    Stop();
    const int32_t w = media->m_Width, h = media->m_Height;
    if (w <= 0 || h <= 0 || int64_t(w) * h > kPreviewFrameMaxPixels) {
        LogWrite(kLogError, "No self-rendered preview of %dx%d\n", w, h);
        return E_FAIL;
    }
    int rc = platform::CreateSharedBlock(RenderControlBytes(w, h), true, &m_Block);
    if (rc == 0) rc = platform::CreateSharedMutex(true, &m_Mutex);
    if (rc == 0) {
        m_hClockEvent = platform::CreateEvent(true);
        if (m_hClockEvent < 0) rc = errno;
    }
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "sizeof(RenderControl), NULL)");
        Stop();
        return E_FAIL;
    }
    m_hwnd = platform::RouterCreateWindow(
        [this](uint32_t, uint32_t msg, int64_t wParam, int64_t lParam) -> int64_t {
            return msg == kMsgFrameReady ? OnFrameReady(wParam, lParam) : 0;
        });
    RenderControl* c = Control();
    c->m_hMediaInfo = media->m_hSelf;
    c->m_hwndVideo = m_hwnd;
    c->m_hClockEvent = m_hClockEvent;
    c->m_hMutex = m_Mutex.handle;
    c->m_nFormat = -1;
    c->m_PicturePts = -1;

    m_pWindow->resize(w, h);
    m_pWindow->SetView(w, h);
    m_pWindow->SetFrameSize(w, h);
    m_pWindow->show();

    platform::SharedBlock launch;
    rc = CreateHelperLaunch(media->m_szFileName, 0, 0, plugin, m_Block.handle, &launch);
    const std::vector<int> handOver = {m_Block.handle, m_Mutex.handle, m_hClockEvent,
                                       media->m_hSelf};
    if (rc == 0) rc = LaunchDecoder(launch.handle, handOver, &m_hProcess);
    platform::CloseSharedBlock(&launch);
    if (rc != 0) {
        Stop();
        return E_FAIL;
    }

    ClockCallbacks callbacks;
    callbacks.tick = [this](int64_t t) { return SetClock(t) ? 0 : 1; };
    m_pClock = std::make_unique<MutePlayer>(media->m_FrameRateNum, media->m_FrameRateDen,
                                            callbacks);
    m_pClock->Start();
    return 0;
}

void RenderHost::Stop() {
    m_pClock.reset();
    if (m_hProcess >= 0) {
        platform::TerminateHelper(m_hProcess, -1);
        platform::CloseHelperHandle(m_hProcess);
        m_hProcess = -1;
    }
    if (m_hwnd) platform::RouterDestroyWindow(m_hwnd);
    m_hwnd = 0;
    if (m_hClockEvent >= 0) platform::CloseEvent(m_hClockEvent);
    m_hClockEvent = -1;
    platform::CloseSharedMutex(&m_Mutex);
    platform::CloseSharedBlock(&m_Block);
}

void RenderHost::Wake() {
    if (m_hClockEvent >= 0) platform::SetEvent(m_hClockEvent);
}

bool RenderHost::SetClock(int64_t timeUs) {
    if (!Control()) return false;
    if (m_pClock && m_pClock->Position() != timeUs) m_pClock->Seek(timeUs);
    if (platform::LockSharedMutex(m_Mutex, kLockTimeoutMs) != 0) {
        LogWrite(kLogError, "The self-rendering plug-in keeps its clock locked\n");
        return false;
    }
    Control()->m_llClock = timeUs;
    platform::UnlockSharedMutex(m_Mutex);
    Wake();
    return true;
}

bool RenderHost::Seek(int64_t timeUs) {
    if (!Control()) return false;
    if (m_pClock) m_pClock->Seek(timeUs);
    if (platform::LockSharedMutex(m_Mutex, kLockTimeoutMs) != 0) {
        LogWrite(kLogError, "The self-rendering plug-in keeps its clock locked\n");
        return false;
    }
    Control()->m_llSeek = timeUs;
    Control()->m_llClock = timeUs;
    platform::UnlockSharedMutex(m_Mutex);
    platform::InterlockedExchange(&Control()->m_bSeek, 1);
    Wake();
    return true;
}

void RenderHost::Redraw() {
    if (!Control()) return;
    platform::InterlockedExchange(&Control()->m_bRedraw, 1);
    // The plug-in may be waiting for the clock: wake it, or the request
    // waits for the next clock step.
    Wake();
}

void RenderHost::Play() {
    if (m_pClock) m_pClock->Resume();
}

void RenderHost::Pause() {
    if (m_pClock) m_pClock->Pause();
}

bool RenderHost::Running() const {
    if (m_hProcess < 0) return false;
    return platform::WaitForHandle(m_hProcess, 0) == platform::kWaitTimeout;
}

int64_t RenderHost::Clock() {
    if (!Control() || platform::LockSharedMutex(m_Mutex, kLockTimeoutMs) != 0) return -1;
    const int64_t t = Control()->m_llClock;
    platform::UnlockSharedMutex(m_Mutex);
    return t;
}

int64_t RenderHost::Pts() {
    if (!Control() || platform::LockSharedMutex(m_Mutex, kLockTimeoutMs) != 0) return -1;
    const int64_t t = Control()->m_Pts;
    platform::UnlockSharedMutex(m_Mutex);
    return t;
}

bool RenderHost::EndOfStream() const {
    return Control() && platform::LoadAcquire(&Control()->m_EndOfStream) != 0;
}

int32_t RenderHost::Format() const {
    return Control() ? platform::LoadAcquire(&Control()->m_nFormat) : -1;
}

int64_t RenderHost::OnFrameReady(int64_t width, int64_t height) {
    if (!m_pWindow || !Control()) return 0;
    const QSize frame = m_pWindow->FrameSize();
    // Only a picture of the size this block was made for fits its pixel area.
    if (width != frame.width() || height != frame.height()) return 0;
    if (platform::LockSharedMutex(m_Mutex, kLockTimeoutMs) != 0) return 0;
    const RenderControl* c = Control();
    int64_t pts = -1;
    const bool fits = c->m_PictureWidth == width && c->m_PictureHeight == height &&
                      RenderControlBytes(c->m_PictureWidth, c->m_PictureHeight) <= m_Block.size;
    if (fits) {
        m_Picture.assign(RenderPicture(Control()),
                         RenderPicture(Control()) + size_t(width) * size_t(height) * 4);
        pts = c->m_PicturePts;
    }
    platform::UnlockSharedMutex(m_Mutex);
    if (!fits) return 0;
    m_pWindow->PresentFrame(m_Picture.data());
    ++m_nPresented;
    m_llPresentedPts = pts;
    emit presented(pts);
    return 0;
}

} // namespace reelpage
