#include "preview/PreviewSession.h"

#include "captions/ProjectCaptions.h"

#include "media/History.h"
#include "system/Log.h"
#include "records/Project.h"

#include <QApplication>

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "platform/event.h"
#include "platform/inherit.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/messages.h"

namespace reelpage {

namespace {

constexpr char16_t kPreviewPlugin[] = u"morvane.so";
// The property by which the program's widgets carry their window handle.
constexpr char kHandleProperty[] = "reelpage_hwnd";

QWidget* WidgetOfHandle(HWND hwnd) {
    if (!hwnd || !qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    for (QWidget* w : QApplication::allWidgets()) {
        const QVariant v = w->property(kHandleProperty);
        if (v.isValid() && v.toUInt() == hwnd) return w;
    }
    return nullptr;
}

} // namespace

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return 0;
    const int64_t p = int64_t(a) * b;
    const bool negative = (p < 0) != (c < 0);
    const int64_t ap = p < 0 ? -p : p, ac = c < 0 ? -int64_t(c) : c;
    const int64_t q = (ap + ac / 2) / ac;
    return int32_t(negative ? -q : q);
}

QRect PreviewLayout(int32_t cw, int32_t ch, int32_t fw, int32_t fh) {
    if (cw <= 0 || ch <= 0 || fw <= 0 || fh <= 0) return {};
    int32_t w, h;
    if (fw <= cw && fh < ch) {
        w = fw;
        h = fh;
    } else if (int64_t(fw) * ch < int64_t(fh) * cw) {
        w = int32_t(int64_t(fw) * ch / fh);
        h = ch;
    } else {
        w = cw;
        h = int32_t(int64_t(fh) * cw / fw);
    }
    return {(cw - w) / 2, (ch - h) / 2, w, h};
}

PreviewSession::~PreviewSession() { End(); }

int PreviewSession::Start(Project* project, MediaInfo* media, HWND renderParent, HWND notify,
                          bool launchHelper) {
    m_pProject = project;
    m_pMediaInfo = media;
    m_hwndParent = renderParent;
    m_hwndNotify = notify;
    m_nState = 2;

    QWidget* parent = WidgetOfHandle(renderParent);
    if (!parent) {
        LogWrite(kLogError, "No render parent window %u\n", unsigned(renderParent));
        return E_FAIL;
    }
    m_pRender = new RenderWindow(parent, this);
    m_pRender->setObjectName(QStringLiteral("Reelpage Renderer Class"));
    m_pRender->resize(std::max(media->m_Width, 0), std::max(media->m_Height, 0));
    m_pRender->hide(); // shown by the first layout
    m_hwndRender = platform::RouterCreateWindow(
        [this](uint32_t, uint32_t msg, int64_t wParam, int64_t lParam) -> int64_t {
            return msg == kMsgFrameReady ? OnFrameReady(wParam, lParam) : 0;
        });

    int rc = platform::CreateSharedBlock(kPreviewFrameSize, true, &m_FrameBlock);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "PREVIEW_FRAME_SIZE, NULL)");
        return E_FAIL;
    }
    rc = CreatePreviewChannel(&m_Channel);
    if (rc != 0) return E_FAIL;
    PreviewControl* control = m_Channel.Control();
    control->m_hMediaInfo = media->m_hSelf;
    control->m_hTaskList = project->m_hSelf;
    control->m_hwndRender = m_hwndRender;
    control->m_hFrame = m_FrameBlock.handle;

    if (launchHelper) {
        platform::SharedBlock launch;
        rc = CreateHelperLaunch(media->m_szFileName, 0, 0, kPreviewPlugin, m_Channel.block.handle,
                                &launch);
        // The helper reads the records and the blocks of this session, and
        // nothing else of ours.
        const std::vector<int> handOver = {m_Channel.block.handle,    m_Channel.mutex.handle,
                                           m_Channel.commandEvent,    m_FrameBlock.handle,
                                           media->m_hSelf,            project->m_hSelf};
        if (rc == 0) rc = LaunchDecoder(launch.handle, handOver, &m_hProcess);
        platform::CloseSharedBlock(&launch);
        if (rc != 0) return E_FAIL;
    }

    ClockCallbacks callbacks;
    callbacks.tick = [this](int64_t t) { return OnTick(t); };
    callbacks.second = [this](int32_t s) { return OnSecond(s); };
    const int64_t byteRate = int64_t(media->m_SampleRate) * media->m_nChannel * 2;
    const bool audio = media->m_bAudioStream && byteRate > 0;
    if (media->m_bAudioStream && !audio)
        // Sound without a byte rate cannot count time; the picture still plays.
        LogWrite(kLogError, "Audio stream without a usable format (%d Hz, %d channels)\n",
                 media->m_SampleRate, media->m_nChannel);
    if (audio) {
        callbacks.end = [this] { return OnEnd(); };
        m_pAudioPlayer = std::make_unique<AudioPlayer>(media->m_FrameRateNum,
                                                       media->m_FrameRateDen, callbacks, media);
        rc = m_pAudioPlayer->Start(platform::ToUtf8(MediaSideFile(*media, u"wav")));
        if (rc != 0) {
            LOG_FAILED_HR(rc, "m_pAudioPlayer->Play()");
            m_pAudioPlayer.reset();
            return rc;
        }
        if (project->m_ClipStop != 0) m_pAudioPlayer->SetEnd(project->m_ClipStop);
    } else {
        m_pMutePlayer =
            std::make_unique<MutePlayer>(media->m_FrameRateNum, media->m_FrameRateDen, callbacks);
        rc = m_pMutePlayer->Start();
        if (rc != 0) {
            LOG_FAILED_HR(rc, "m_pMutePlayer->Play()");
            m_pMutePlayer.reset();
            return rc;
        }
    }

    // The helper holds its own inherited copy of the control block's handle.
    if (m_Channel.block.handle >= 0) {
        platform::UnregisterInheritable(m_Channel.block.handle);
        ::close(m_Channel.block.handle);
        m_Channel.block.handle = -1;
    }
    SetDisplaySize(project->m_OutputWidth, project->m_OutputHeight);
    Layout();
    m_nState = 2;
    return 0;
}

void PreviewSession::End() {
    m_nState = 0;
    if (m_pRender) {
        // Hiding the window on its way out must not finish a drag.
        m_nHit = CropPart::None;
        m_bWatermarkDrag = false;
        ReleaseCapture();
        m_pRender->ReleaseRenderer();
        delete m_pRender.data();
    }
    if (m_hwndRender) platform::RouterDestroyWindow(m_hwndRender);
    m_hwndRender = 0;
    if (m_hProcess >= 0) {
        platform::TerminateHelper(m_hProcess, -1);
        platform::CloseHelperHandle(m_hProcess);
        m_hProcess = -1;
    }
    m_pAudioPlayer.reset();
    m_pMutePlayer.reset();
    if (m_Channel.block.handle < 0) platform::UnmapSharedBlock(&m_Channel.block);
    ClosePreviewChannel(&m_Channel);
    platform::CloseSharedBlock(&m_FrameBlock);
}

// ---- frames -----------------------------------------------------------------

int64_t PreviewSession::OnFrameReady(int64_t width, int64_t height) {
    if (!m_pRender || !m_FrameBlock.view) return 0;
    const PreviewFrameSize expected = DeliveredPreviewSize(m_nFrameWidth, m_nFrameHeight);
    // A frame composed before the helper took a mode or size change.
    if (width != expected.width || height != expected.height) return 0;
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) * 4 > m_FrameBlock.size)
        return 0;
    m_LastDelivered = expected;
    ShowCaption();
    m_pRender->PresentFrame(FrameView());
    return 0;
}

void PreviewSession::ShowCaption() {
    if (m_pRender)
        m_pRender->SetCaption(QString::fromStdString(PreviewCaptionAt(Position() / 1000)));
}

void PreviewSession::SetDisplaySize(int32_t width, int32_t height) {
    m_nFrameWidth = width;
    m_nFrameHeight = height;
}

void PreviewSession::Layout() {
    if (!m_pRender) return;
    QWidget* parent = m_pRender->parentWidget();
    const QRect view = PreviewLayout(parent->width(), parent->height(), m_nFrameWidth,
                                     m_nFrameHeight);
    m_nViewWidth = view.width();
    m_nViewHeight = view.height();
    m_pRender->setGeometry(view);
    m_pRender->show();
    m_pRender->raise();
    UpdateCropFrame();
    UpdateWatermarkFrame();
    const PreviewFrameSize delivered = DeliveredPreviewSize(m_nFrameWidth, m_nFrameHeight);
    m_pRender->SetView(m_nViewWidth, m_nViewHeight);
    m_pRender->SetFrameSize(delivered.width, delivered.height);
    // The block still holds the last frame; show it again only if it has the
    // size now expected.
    if (delivered.width == m_LastDelivered.width && delivered.height == m_LastDelivered.height &&
        delivered.width > 0)
        m_pRender->PresentFrame(FrameView());
}

// ---- the clock --------------------------------------------------------------

bool PreviewSession::EndOfStream() const {
    const PreviewControl* c = Control();
    return c && __atomic_load_n(&c->m_EndOfStream, __ATOMIC_ACQUIRE) != 0;
}

void PreviewSession::ReachedEnd() {
    platform::PostMessage(m_hwndNotify, kMsgPreviewEnded, 0, 0);
    m_bRewind = true;
    m_nState = 2;
    // The next Play starts at the clip start; the helper gets there now,
    // while nothing plays, so that Play does not wait for it to decode from
    // the keyframe before the clip start (seconds with sparse keyframes).
    Command(kCmdPrepare, m_pProject->m_ClipStart);
}

int PreviewSession::OnTick(int64_t time) {
    m_llClockPosition = time;
    if (!EndOfStream()) {
        Command(kCmdPresent, time);
        return 0;
    }
    if (!m_pAudioPlayer || m_pAudioPlayer->PlayedToEnd()) {
        ReachedEnd();
        return 1;
    }
    return 0; // the sound plays on over the last picture
}

int PreviewSession::OnSecond(int32_t seconds) {
    platform::PostMessage(m_hwndNotify, kMsgPreviewSecond, seconds, 0);
    return 0;
}

int PreviewSession::OnEnd() {
    if (!EndOfStream()) return 0;
    ReachedEnd();
    return 1;
}

void PreviewSession::Command(PreviewCommand code, int64_t param) {
    if (m_Channel.Control()) PostHelperCommand(m_Channel, code, param);
}

void PreviewSession::Play() {
    if (m_nState != 2) return;
    m_nState = 1;
    m_llStepTime = -1;
    if (m_bRewind) {
        const int64_t start = m_pProject->m_ClipStart;
        if (PreviewControl* c = Control()) __atomic_store_n(&c->m_EndOfStream, 0, __ATOMIC_RELEASE);
        m_bRewind = false;
        Command(kCmdSeek, start);
        if (m_pAudioPlayer) m_pAudioPlayer->Seek(start);
        if (m_pMutePlayer) m_pMutePlayer->Seek(start);
    }
    if (m_pAudioPlayer) m_pAudioPlayer->Resume();
    if (m_pMutePlayer) m_pMutePlayer->Resume();
}

void PreviewSession::Pause() {
    if (m_nState != 1) return;
    m_nState = 2;
    if (m_pAudioPlayer) m_pAudioPlayer->Pause();
    if (m_pMutePlayer) m_pMutePlayer->Pause();
}

void PreviewSession::Seek(int32_t seconds) {
    // The picture of the new time is the one a frame step starts from, even
    // before the helper has shown it.
    m_llStepTime = int64_t(std::max(seconds, 0)) * 1000000;
    SeekTime(m_llStepTime);
}

void PreviewSession::SeekTime(int64_t target) {
    if (m_pAudioPlayer) m_pAudioPlayer->Seek(target);
    if (m_pMutePlayer) m_pMutePlayer->Seek(target);
    if (PreviewControl* c = Control()) __atomic_store_n(&c->m_EndOfStream, 0, __ATOMIC_RELEASE);
    m_bRewind = false;
    Command(kCmdSeek, target);
}

int32_t PreviewSession::StepFrame(int32_t frames) {
    // A frame of an unknown rate counts as 1/25 s.
    const int64_t num = m_pMediaInfo ? m_pMediaInfo->m_FrameRateNum : 0;
    const int64_t den = m_pMediaInfo ? m_pMediaInfo->m_FrameRateDen : 0;
    const int64_t frame = num > 0 && den > 0 ? std::max<int64_t>(1, 1000000 * den / num) : 40000;
    const int64_t from = m_llStepTime >= 0 ? m_llStepTime : Position();
    // The last frame starts one frame before the end, not at it.
    const int64_t last = std::max<int64_t>(0, (m_pMediaInfo ? m_pMediaInfo->m_Duration : 0) - frame);
    const int64_t target = std::clamp(from + frames * frame, int64_t(0), last);
    m_llStepTime = target;
    SeekTime(target);
    return int32_t(target / 1000000);
}

void PreviewSession::ApplyClipRange() {
    if (m_pAudioPlayer) m_pAudioPlayer->SetEnd(m_pProject->m_ClipStop);
}

void PreviewSession::BeginSeekDrag() {
    if (m_pAudioPlayer) m_pAudioPlayer->BeginSeekDrag();
    if (m_pMutePlayer) m_pMutePlayer->BeginSeekDrag();
}

void PreviewSession::EndSeekDrag() {
    if (m_pAudioPlayer) m_pAudioPlayer->EndSeekDrag();
    if (m_pMutePlayer) m_pMutePlayer->EndSeekDrag();
}

int64_t PreviewSession::Position() {
    return m_Channel.Control() ? GetPosition(m_Channel) : 0;
}

// ---- modes ------------------------------------------------------------------

void PreviewSession::EnterCropMode() {
    m_bCropMode = true;
    SetDisplaySize(m_pProject->m_VideoWidth, m_pProject->m_VideoHeight);
    Layout();
    Command(kCmdEnterCropMode);
}

void PreviewSession::LeaveCropMode() {
    ReleaseCapture();
    m_nHit = CropPart::None;
    m_bCropMode = false;
    SetDisplaySize(m_pProject->m_OutputWidth, m_pProject->m_OutputHeight);
    Layout();
    Command(kCmdLeaveCropMode);
}

void PreviewSession::ApplyOutputSize() {
    // While crop editing the helper shows the source; leaving crop mode
    // re-reads the output size anyway.
    if (m_bCropMode) return;
    SetDisplaySize(m_pProject->m_OutputWidth, m_pProject->m_OutputHeight);
    Layout();
    Command(kCmdOutputSizeChanged);
}

void PreviewSession::Rotated(int32_t operation) {
    const bool rotation = IsRotation(operation);
    if (rotation) {
        SetDisplaySize(m_nFrameHeight, m_nFrameWidth);
        Layout();
    }
    Command(rotation ? kCmdRotationChanged : kCmdFlipChanged);
    if (m_Channel.commandEvent >= 0) platform::SetEvent(m_Channel.commandEvent);
    UpdateCropFrame();
}

void PreviewSession::ApplyCrop() {
    UpdateCropFrame();
    Command(kCmdCropChanged);
}

void PreviewSession::EnterWatermarkMode() {
    m_bWatermarkMode = true;
    m_bWatermarkShown = m_pProject->m_WatermarkFile[0] != 0;
    UpdateWatermarkFrame();
    Command(kCmdEnterWatermarkMode);
}

void PreviewSession::LeaveWatermarkMode() {
    if (m_bWatermarkDrag) {
        m_bWatermarkDrag = false;
        ReleaseCapture();
    }
    m_bWatermarkMode = false;
    Command(kCmdLeaveWatermarkMode);
}

void PreviewSession::ApplyWatermarkPosition() {
    UpdateWatermarkFrame();
    Command(kCmdCropOrWatermarkMoved);
}

void PreviewSession::ApplyWatermarkPicture() {
    m_bWatermarkShown = m_pProject->m_WatermarkFile[0] != 0;
    UpdateWatermarkFrame();
    Command(kCmdWatermarkPictureChanged);
}

// ---- mouse editing ----------------------------------------------------------

void PreviewSession::UpdateCropFrame() {
    const Project* p = m_pProject;
    m_rcCrop = QRect(MulDiv(m_nViewWidth, p->m_CropLeft, m_nFrameWidth),
                     MulDiv(m_nViewHeight, p->m_CropTop, m_nFrameHeight),
                     MulDiv(m_nViewWidth, p->m_CropWidth, m_nFrameWidth),
                     MulDiv(m_nViewHeight, p->m_CropHeight, m_nFrameHeight));
}

void PreviewSession::UpdateWatermarkFrame() {
    const Project* p = m_pProject;
    m_rcWatermark = QRect(MulDiv(m_nViewWidth, p->m_WatermarkLeft, m_nFrameWidth),
                          MulDiv(m_nViewHeight, p->m_WatermarkTop, m_nFrameHeight),
                          MulDiv(m_nViewWidth, p->m_WatermarkWidth, m_nFrameWidth),
                          MulDiv(m_nViewHeight, p->m_WatermarkHeight, m_nFrameHeight));
}

CropPart PreviewSession::CropHitTest(int x, int y) const {
    const int L = m_rcCrop.x(), T = m_rcCrop.y(), W = m_rcCrop.width(), H = m_rcCrop.height();
    if (!(L - 1 <= x && x < L + W + 1 && T - 1 <= y && y < T + H + 1)) return CropPart::NewFrame;
    if (x < L + 6 && y < T + 6) return CropPart::TopLeft;
    if (x < L + 6 && y >= T + H - 6) return CropPart::BottomLeft;
    if (x >= L + W - 6 && y < T + 6) return CropPart::TopRight;
    if (x >= L + W - 6 && y >= T + H - 6) return CropPart::BottomRight;
    if (x < L + 3) return CropPart::Left;
    if (y < T + 3) return CropPart::Top;
    if (x >= L + W - 3) return CropPart::Right;
    if (y >= T + H - 3) return CropPart::Bottom;
    if (W >= m_nViewWidth && H >= m_nViewHeight) return CropPart::NewFrame;
    return CropPart::Move;
}

void PreviewSession::SetCropCursor(CropPart hit) {
    if (!m_pRender) return;
    switch (hit) {
    case CropPart::TopLeft:
    case CropPart::BottomRight:
        m_pRender->setCursor(Qt::SizeFDiagCursor);
        break;
    case CropPart::BottomLeft:
    case CropPart::TopRight:
        m_pRender->setCursor(Qt::SizeBDiagCursor);
        break;
    case CropPart::Left:
    case CropPart::Right:
        m_pRender->setCursor(Qt::SizeHorCursor);
        break;
    case CropPart::Top:
    case CropPart::Bottom:
        m_pRender->setCursor(Qt::SizeVerCursor);
        break;
    case CropPart::Move:
        m_pRender->setCursor(Qt::SizeAllCursor);
        break;
    default:
        m_pRender->setCursor(m_pRender->CropCursor());
        break;
    }
}

void PreviewSession::ApplyCropFrame(CropPart hit) {
    // Only the edges the drag moved change, each by the distance the mouse
    // moved it; the others keep the source pixels they had when the drag
    // began. Converting the whole rectangle from window pixels would let
    // rounding shift an edge the user never touched, or resize a frame that
    // was only moved.
    const int32_t fw = m_nFrameWidth, fh = m_nFrameHeight;
    const int32_t vw = m_nViewWidth, vh = m_nViewHeight;
    const QRect& from = m_rcCropSource;
    const QRect& was = m_rcCropStart;
    // An edge the mouse left where it was stays to the source pixel; one
    // taken to the window's border goes to the picture's, exactly.
    auto moveX = [&](int32_t edge, int viewNow, int viewStart) {
        if (viewNow == viewStart) return edge;
        if (viewNow <= 0) return 0;
        if (viewNow >= vw) return fw;
        return std::clamp(edge + MulDiv(viewNow - viewStart, fw, vw), 0, std::max(fw, 0));
    };
    auto moveY = [&](int32_t edge, int viewNow, int viewStart) {
        if (viewNow == viewStart) return edge;
        if (viewNow <= 0) return 0;
        if (viewNow >= vh) return fh;
        return std::clamp(edge + MulDiv(viewNow - viewStart, fh, vh), 0, std::max(fh, 0));
    };
    const int L = m_rcCrop.x(), T = m_rcCrop.y();
    const int R = L + m_rcCrop.width(), B = T + m_rcCrop.height();
    int32_t left = from.x(), top = from.y();
    int32_t right = from.x() + from.width(), bottom = from.y() + from.height();
    if (hit == CropPart::NewFrame) {
        // A new frame: where the mouse was is all there is to go by.
        left = moveX(0, L, 0);
        right = moveX(0, R, 0);
        top = moveY(0, T, 0);
        bottom = moveY(0, B, 0);
    } else if (hit == CropPart::Move) {
        if (L != was.x()) left = R >= vw ? fw - from.width() : moveX(left, L, was.x());
        if (T != was.y()) top = B >= vh ? fh - from.height() : moveY(top, T, was.y());
        left = std::clamp(left, 0, std::max(fw - from.width(), 0));
        top = std::clamp(top, 0, std::max(fh - from.height(), 0));
        right = left + from.width();
        bottom = top + from.height();
    } else {
        using enum CropPart;
        if (hit == TopLeft || hit == BottomLeft || hit == Left) left = moveX(left, L, was.x());
        if (hit == TopRight || hit == BottomRight || hit == Right)
            right = moveX(right, R, was.x() + was.width());
        if (hit == TopLeft || hit == TopRight || hit == Top) top = moveY(top, T, was.y());
        if (hit == BottomLeft || hit == BottomRight || hit == Bottom)
            bottom = moveY(bottom, B, was.y() + was.height());
    }
    // The helper must never be told a rectangle outside the picture or
    // without a pixel.
    left = std::clamp(left, 0, std::max(fw - 1, 0));
    top = std::clamp(top, 0, std::max(fh - 1, 0));
    right = std::clamp(right, left + 1, std::max(fw, left + 1));
    bottom = std::clamp(bottom, top + 1, std::max(fh, top + 1));
    m_pProject->m_CropLeft = left;
    m_pProject->m_CropTop = top;
    m_pProject->m_CropWidth = right - left;
    m_pProject->m_CropHeight = bottom - top;
    Command(kCmdCropOrWatermarkMoved);
    platform::SendMessage(m_hwndNotify, kMsgCropDragged, 0, 0);
}

void PreviewSession::StoreWatermarkPosition(int left, int top) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    left = std::min(left, m_nViewWidth - m_rcWatermark.width());
    top = std::min(top, m_nViewHeight - m_rcWatermark.height());
    m_rcWatermark.moveTo(left, top);
    // The position moves by the distance dragged, so a side not dragged
    // keeps its pixel; one taken against the picture's border lands on it.
    const Project* p = m_pProject;
    auto place = [](int32_t from, int now, int start, int nearEnd, int32_t farEnd, int32_t full,
                    int32_t view) {
        if (now == start) return from;
        if (now == 0) return 0;
        if (now == nearEnd) return farEnd;
        return from + MulDiv(now - start, full, view);
    };
    m_pProject->m_WatermarkLeft =
        place(m_ptWatermarkSource.x(), left, m_ptWatermarkAtStart.x(),
              m_nViewWidth - m_rcWatermark.width(), m_nFrameWidth - p->m_WatermarkWidth,
              m_nFrameWidth, m_nViewWidth);
    m_pProject->m_WatermarkTop =
        place(m_ptWatermarkSource.y(), top, m_ptWatermarkAtStart.y(),
              m_nViewHeight - m_rcWatermark.height(), m_nFrameHeight - p->m_WatermarkHeight,
              m_nFrameHeight, m_nViewHeight);
    Command(kCmdCropOrWatermarkMoved);
    platform::SendMessage(m_hwndNotify, kMsgWatermarkDragged, 0, 0);
}

void PreviewSession::ReleaseCapture() {
    if (m_pRender && QWidget::mouseGrabber() == m_pRender) m_pRender->releaseMouse();
}

void PreviewSession::RenderMouseDown(int x, int y) {
    if (m_nViewWidth <= 0 || m_nViewHeight <= 0) return;
    if (m_bCropMode) {
        m_nHit = CropHitTest(x, y);
        SetCropCursor(m_nHit);
        m_pRender->grabMouse();
        m_rcCropStart = m_rcCrop;
        m_rcCropSource = QRect(m_pProject->m_CropLeft, m_pProject->m_CropTop,
                               m_pProject->m_CropWidth, m_pProject->m_CropHeight);
        m_ptDragStart = QPoint(x, y);
    } else if (m_bWatermarkMode && m_bWatermarkShown) {
        if (!m_rcWatermark.contains(x, y)) return;
        m_bWatermarkDrag = true;
        m_pRender->setCursor(Qt::SizeAllCursor);
        m_pRender->grabMouse();
        m_ptWatermarkStart = QPoint(x, y);
        m_ptWatermarkAtStart = m_rcWatermark.topLeft();
        m_ptWatermarkSource = QPoint(m_pProject->m_WatermarkLeft, m_pProject->m_WatermarkTop);
    }
}

void PreviewSession::RenderMouseMove(int x, int y, bool haveCapture) {
    if (m_bCropMode) {
        if (m_nHit == CropPart::None) {
            SetCropCursor(CropHitTest(x, y));
            return;
        }
        if (!haveCapture) {
            RenderCaptureLost();
            return;
        }
        const int L0 = m_rcCropStart.x(), T0 = m_rcCropStart.y();
        const int W0 = m_rcCropStart.width(), H0 = m_rcCropStart.height();
        const int vw = m_nViewWidth, vh = m_nViewHeight;
        int dx = x - m_ptDragStart.x(), dy = y - m_ptDragStart.y();
        auto limit = [](int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); };
        int L = L0, T = T0, W = W0, H = H0;
        switch (m_nHit) {
        case CropPart::TopLeft:
            dx = limit(dx, -L0, W0 - 1);
            dy = limit(dy, -T0, H0 - 1);
            L = L0 + dx, T = T0 + dy, W = W0 - dx, H = H0 - dy;
            break;
        case CropPart::BottomLeft:
            dx = limit(dx, -L0, W0 - 1);
            dy = limit(dy, 1 - H0, vh - H0 - T0);
            L = L0 + dx, W = W0 - dx, H = H0 + dy;
            break;
        case CropPart::TopRight:
            dy = limit(dy, -T0, H0 - 1);
            dx = limit(dx, 1 - W0, vw - W0 - L0);
            T = T0 + dy, H = H0 - dy, W = W0 + dx;
            break;
        case CropPart::BottomRight:
            dx = limit(dx, 1 - W0, vw - W0 - L0);
            dy = limit(dy, 1 - H0, vh - H0 - T0);
            W = W0 + dx, H = H0 + dy;
            break;
        case CropPart::Left:
            dx = limit(dx, -L0, W0 - 1);
            L = L0 + dx, W = W0 - dx;
            break;
        case CropPart::Top:
            dy = limit(dy, -T0, H0 - 1);
            T = T0 + dy, H = H0 - dy;
            break;
        case CropPart::Right:
            dx = limit(dx, 1 - W0, vw - W0 - L0);
            W = W0 + dx;
            break;
        case CropPart::Bottom:
            dy = limit(dy, 1 - H0, vh - H0 - T0);
            H = H0 + dy;
            break;
        case CropPart::Move:
            dx = limit(dx, -L0, vw - W0 - L0);
            dy = limit(dy, -T0, vh - H0 - T0);
            L = L0 + dx, T = T0 + dy;
            break;
        case CropPart::NewFrame: {
            const int left = limit(std::min(x, m_ptDragStart.x()), 0, vw);
            const int right = limit(std::max(x, m_ptDragStart.x()), 0, vw);
            const int top = limit(std::min(y, m_ptDragStart.y()), 0, vh);
            const int bottom = limit(std::max(y, m_ptDragStart.y()), 0, vh);
            if (right - left <= 0 || bottom - top <= 0) return; // a click is no frame
            L = left, T = top, W = right - left, H = bottom - top;
            break;
        }
        default:
            return;
        }
        m_rcCrop = QRect(L, T, W, H);
        ApplyCropFrame(m_nHit);
    } else if (m_bWatermarkMode && m_bWatermarkShown) {
        if (!m_bWatermarkDrag) {
            m_pRender->setCursor(m_rcWatermark.contains(x, y) ? Qt::SizeAllCursor
                                                              : Qt::ArrowCursor);
            return;
        }
        if (!haveCapture) {
            RenderCaptureLost();
            return;
        }
        StoreWatermarkPosition(x + m_ptWatermarkAtStart.x() - m_ptWatermarkStart.x(),
                               y + m_ptWatermarkAtStart.y() - m_ptWatermarkStart.y());
    }
}

void PreviewSession::RenderMouseUp(int, int) {
    if (m_nHit != CropPart::None) {
        m_nHit = CropPart::None;
        ReleaseCapture();
    } else if (m_bWatermarkDrag) {
        m_bWatermarkDrag = false;
        ReleaseCapture();
    }
}

void PreviewSession::RenderCaptureLost() {
    if (m_nHit != CropPart::None) {
        // A cancelled crop drag puts back the frame it started from, to the
        // source pixel.
        m_nHit = CropPart::None;
        ReleaseCapture();
        m_rcCrop = m_rcCropStart;
        ApplyCropFrame(CropPart::None);
    } else if (m_bWatermarkDrag) {
        // A cancelled watermark drag keeps where it got to.
        m_bWatermarkDrag = false;
        ReleaseCapture();
        StoreWatermarkPosition(m_rcWatermark.x(), m_rcWatermark.y());
    }
}

// ---- the sessions this part makes -------------------------------------------

PreviewSession* CurrentPreviewSession() { return static_cast<PreviewSession*>(CurrentPreview()); }

// Linked in, the preview makes the sessions; the engine's build without it
// never starts one.
const bool g_bPreviewLinked =
    SetPreviewMaker([]() -> std::unique_ptr<LinkedPreview> { return std::make_unique<PreviewSession>(); });

} // namespace reelpage
