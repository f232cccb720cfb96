#pragma once
// The preview of the current project: the render window inside the program's
// picture area, the preview helper that composes the frames, the clock that
// paces it, the commands that tell it what changed, and editing the crop
// frame and the watermark with the mouse on the picture.
#include <QPointer>
#include <QRect>

#include <cstdint>
#include <memory>

#include "preview/AudioOutput.h"
#include "media/HelperProtocol.h"
#include "preview/VideoRenderer.h"
#include "reelpage/protocol.h"
#include "reelpage/records.h"
#include "system/PreviewLink.h"

namespace reelpage {

// The part of the crop frame a press in crop mode is on, which decides what a
// drag does and the cursor shown.
enum class CropPart {
    None = 0, // no crop drag
    TopLeft = 1,
    BottomLeft = 2,
    TopRight = 3,
    BottomRight = 4,
    Left = 5,
    Top = 6,
    Right = 7,
    Bottom = 8,
    Move = 9,
    NewFrame = 10, // outside the frame, or inside one that covers the whole view: draw anew
};

class PreviewSession : public LinkedPreview, public RenderMouse {
public:
    PreviewSession() = default;
    ~PreviewSession() override;
    PreviewSession(const PreviewSession&) = delete;
    PreviewSession& operator=(const PreviewSession&) = delete;

    // A failed step leaves the session built only as far as that step.
    int Start(Project* project, MediaInfo* media, HWND renderParent, HWND notify,
              bool launchHelper) override;
    void End();

    void Play() override;
    void Pause() override;
    void Seek(int32_t seconds) override;
    int32_t StepFrame(int32_t frames) override;
    void Layout() override;
    void ApplyClipRange() override;
    void Command(PreviewCommand code, int64_t param = 0) override;
    void EnterCropMode() override;
    void LeaveCropMode() override;
    void ApplyOutputSize() override;
    int64_t Position() override;
    void BeginSeekDrag() override;
    void EndSeekDrag() override;
    void Rotated(int32_t operation) override;
    void ApplyCrop() override;
    void EnterWatermarkMode() override;
    void LeaveWatermarkMode() override;
    void ApplyWatermarkPosition() override;
    void ApplyWatermarkPicture() override;
    void ShowCaption() override;

    // What tests look at.
    PreviewControl* Control() const { return m_Channel.Control(); }
    uint8_t* FrameView() const { return static_cast<uint8_t*>(m_FrameBlock.view); }
    size_t FrameBlockSize() const { return m_FrameBlock.size; }
    HWND RenderHandle() const { return m_hwndRender; }
    RenderWindow* Window() const { return m_pRender; }
    AudioPlayer* Audio() const { return m_pAudioPlayer.get(); }
    MutePlayer* Mute() const { return m_pMutePlayer.get(); }
    int32_t State() const { return m_nState; }
    bool Rewind() const { return m_bRewind; }
    int64_t ClockPosition() const { return m_llClockPosition; }
    QSize DisplaySize() const { return {m_nFrameWidth, m_nFrameHeight}; }
    QRect CropFrame() const { return m_rcCrop; }
    QRect WatermarkFrame() const { return m_rcWatermark; }
    CropPart CropHit() const { return m_nHit; }

    // The render window's mouse.
    void RenderMouseDown(int x, int y) override;
    void RenderMouseMove(int x, int y, bool haveCapture) override;
    void RenderMouseUp(int x, int y) override;
    void RenderCaptureLost() override;

private:
    int64_t OnFrameReady(int64_t width, int64_t height);
    int OnTick(int64_t time);
    int OnSecond(int32_t seconds);
    int OnEnd();
    void ReachedEnd();
    void SeekTime(int64_t target);
    bool EndOfStream() const;
    void SetDisplaySize(int32_t width, int32_t height);
    void UpdateCropFrame();
    void UpdateWatermarkFrame();
    CropPart CropHitTest(int x, int y) const;
    void SetCropCursor(CropPart hit);
    // Writes the dragged frame into the project; hit names the edges moved.
    void ApplyCropFrame(CropPart hit);
    void StoreWatermarkPosition(int left, int top);
    void ReleaseCapture();

    std::unique_ptr<AudioPlayer> m_pAudioPlayer;
    std::unique_ptr<MutePlayer> m_pMutePlayer;
    Project* m_pProject = nullptr;
    MediaInfo* m_pMediaInfo = nullptr;
    PreviewChannel m_Channel;
    int32_t m_nFrameWidth = 0, m_nFrameHeight = 0;
    platform::SharedBlock m_FrameBlock;
    int64_t m_llClockPosition = 0;
    int32_t m_nState = 0;
    bool m_bRewind = false;
    // Where the last seek or frame step went, until the next play: the
    // helper reports its picture later, and quick steps must not repeat it.
    int64_t m_llStepTime = -1;
    int m_hProcess = -1;
    HWND m_hwndParent = 0;
    HWND m_hwndNotify = 0;
    HWND m_hwndRender = 0;
    QPointer<RenderWindow> m_pRender;
    bool m_bCropMode = false;
    int32_t m_nViewWidth = 0, m_nViewHeight = 0;
    QRect m_rcCrop;
    QRect m_rcCropStart;
    QRect m_rcCropSource; // the project's crop when the drag began
    QPoint m_ptDragStart;
    CropPart m_nHit = CropPart::None;
    bool m_bWatermarkMode = false;
    bool m_bWatermarkShown = false;
    bool m_bWatermarkDrag = false;
    QPoint m_ptWatermarkStart;
    QRect m_rcWatermark;
    QPoint m_ptWatermarkAtStart;
    QPoint m_ptWatermarkSource; // the project's position when the drag began
    PreviewFrameSize m_LastDelivered{0, 0}; // size of the frame now in the block
};

// The session of the current project, or null.
PreviewSession* CurrentPreviewSession();

// Rounded a x b / c, as window and frame pixels convert; 0 when c is 0.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);
// Where a frame of fw x fh goes in a parent of cw x ch: fitted keeping the
// aspect, never enlarged, centred. Empty when either side is empty.
QRect PreviewLayout(int32_t cw, int32_t ch, int32_t fw, int32_t fh);

} // namespace reelpage
