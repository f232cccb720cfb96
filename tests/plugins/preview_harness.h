#pragma once
// Plays the engine's side of a preview session around the real decoder
// helper and preview plug-in: creates the MediaInfo, Project, PreviewControl
// and PreviewFrame blocks with their event and mutex, a router window standing
// in for the render window, starts "<program folder>/dec" with morvane.so,
// queues commands the way the engine does and copies out every frame the
// helper hands over (as the renderer would, before answering kMsgFrameReady).
//
// Everything runs on the calling thread: WaitFrame and Idle dispatch the
// router's messages, so the helper, which waits for each kMsgFrameReady to be
// answered, moves only while the test is inside one of them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/shm.h"
#include "reelpage/blocks.h"
#include "reelpage/protocol.h"
#include "reelpage/records.h"

namespace preview_test {

struct PreviewSetup {
    std::string file;             // the source
    int width = 160, height = 120; // MediaInfo source size (as dec reports it)
    int fpsNum = 25, fpsDen = 1;
    bool audio = false;
    // Project; output 0 x 0 means the source size, crop width 0 the whole source.
    int outWidth = 0, outHeight = 0;
    int resize = 1;
    int orientation = 0;
    int cropLeft = 0, cropTop = 0, cropWidth = 0, cropHeight = 0;
    int brightness = 0, contrast = 0;
    int64_t clipStop = 0;
    // Size of the PreviewFrame block; 0 = the real size.
    size_t frameBlockBytes = 0;
    // Further project fields, set before the helper starts: the helper
    // prepares its first picture at once, and a field set afterwards may
    // or may not be in it.
    std::function<void(reelpage::Project&)> project = nullptr;
};

struct DeliveredFrame {
    int width = 0, height = 0; // as carried by kMsgFrameReady (wParam, lParam)
    int64_t pts = -1;          // PreviewControl.m_Pts when it arrived
    std::vector<uint8_t> pixels; // BGRX rows, pitch width * 4

    uint8_t Grey(int x, int y) const { return pixels[(size_t(y) * width + x) * 4 + 1]; }
    const uint8_t* At(int x, int y) const { return &pixels[(size_t(y) * width + x) * 4]; }
};

class PreviewHarness {
public:
    explicit PreviewHarness(const PreviewSetup& setup);
    ~PreviewHarness(); // terminates the helper, closes every block
    PreviewHarness(const PreviewHarness&) = delete;
    PreviewHarness& operator=(const PreviewHarness&) = delete;

    // The helper runs (Init passed and it has not ended).
    bool Running() const;
    int ProcessId() const;

    // The blocks as the engine sees them; change fields, then Post the code.
    reelpage::Project& Project() { return *m_pProject; }
    reelpage::MediaInfo& Media() { return *m_pMedia; }
    reelpage::PreviewControl& Control() { return *m_pControl; }

    // Queues a command as the engine does: one entry per code, a repeated
    // code only takes the new parameter; then sets the command event.
    void Post(reelpage::PreviewCommand code, int64_t param = 0);

    // Dispatches messages until one more frame than already seen arrives, or
    // timeoutMs passes. Returns it (nullptr on time-out).
    const DeliveredFrame* WaitFrame(int timeoutMs = 10000);
    // Dispatches messages for ms milliseconds (frames that come are kept).
    void Idle(int ms);

    const std::vector<DeliveredFrame>& Frames() const { return m_Frames; }
    const DeliveredFrame& Last() const { return m_Frames.back(); }

    int64_t Pts();         // m_Pts under the mutex, as GetPosition reads it
    bool EndOfStream() const;
    // User plus system CPU time of the helper so far, in seconds.
    double HelperCpuSeconds() const;
    // What the helper wrote to its log.
    std::string Log() const;

private:
    void OnFrame(int64_t width, int64_t height);

    platform::SharedBlock m_MediaBlock, m_ProjectBlock, m_ControlBlock, m_FrameBlock,
        m_LaunchBlock;
    reelpage::MediaInfo* m_pMedia = nullptr;
    reelpage::Project* m_pProject = nullptr;
    reelpage::PreviewControl* m_pControl = nullptr;
    platform::SharedMutex m_Mutex;
    int m_hEvent = -1;
    uint32_t m_hwnd = 0;
    int m_hProcess = -1;
    int m_hLog = -1;
    std::string m_szLog;
    std::vector<DeliveredFrame> m_Frames;
};

} // namespace preview_test
