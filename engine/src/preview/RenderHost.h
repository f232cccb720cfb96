#pragma once
// A host for the self-rendering preview plug-in: it builds the plug-in's
// session block, starts the decoder helper with it, and keeps the playing
// time in the block, from its own clock (Play/Pause) or set directly. The
// plug-in presents each frame into the block's pixel area and sends
// kMsgFrameReady to the host's window; the host shows it in a render window.
// The program's own preview never uses it.
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>

#include "preview/AudioOutput.h"
#include "preview/VideoRenderer.h"
#include "platform/mutex.h"
#include "platform/shm.h"
#include "reelpage/records.h"
#include "reelpage/render_control.h"

namespace reelpage {

class RenderHost : public QObject, private RenderMouse {
    Q_OBJECT
public:
    // The render window is made inside parent (a widget of the caller's).
    explicit RenderHost(QWidget* parent);
    ~RenderHost() override; // ends the helper and releases the blocks

    // Starts the helper on media (a shared record) with the plug-in of that
    // file name in the program folder. 0, or the error of the failing step.
    int Start(MediaInfo* media, const char16_t* plugin = u"Brisquel.so");
    void Stop();

    // The playing time: written under the block's mutex, then the plug-in is
    // woken. False when the mutex could not be had within a second (a
    // plug-in that keeps it).
    bool SetClock(int64_t timeUs);
    // The helper drops what it waits with and seeks; the clock moves there.
    bool Seek(int64_t timeUs);
    // Has the last picture presented again.
    void Redraw();
    // Runs the playing time from the current clock in steps of one frame.
    void Play();
    void Pause();

    RenderWindow* Window() const { return m_pWindow; }
    bool Running() const;
    int64_t Clock();
    int64_t Pts();            // time of the frame last presented
    bool EndOfStream() const; // the plug-in reached the end of the file
    int32_t Format() const;   // pixel code the plug-in takes frames in; -1 before
    int32_t PresentedCount() const { return m_nPresented; }
    int64_t PresentedPts() const { return m_llPresentedPts; } // of the picture shown

signals:
    // A picture reached the window; pts is the frame's time.
    void presented(qint64 pts);

private:
    int64_t OnFrameReady(int64_t width, int64_t height);
    void RenderMouseDown(int, int) override {}
    void RenderMouseMove(int, int, bool) override {}
    void RenderMouseUp(int, int) override {}
    void RenderCaptureLost() override {}
    void Wake();

    QPointer<RenderWindow> m_pWindow;
    HWND m_hwnd = 0;
    platform::SharedBlock m_Block;
    platform::SharedMutex m_Mutex;
    int m_hClockEvent = -1;
    int m_hProcess = -1;
    std::unique_ptr<MutePlayer> m_pClock;
    std::vector<uint8_t> m_Picture;
    int32_t m_nPresented = 0;
    int64_t m_llPresentedPts = -1;

    RenderControl* Control() const { return static_cast<RenderControl*>(m_Block.view); }
};

} // namespace reelpage
