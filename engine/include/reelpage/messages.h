#pragma once
// Every window message that reaches a window of the program, and the one the
// preview helper sends to the engine's render window. Numbers are offsets from
// WM_USER; the same number means different things at different windows, so
// the names say which window receives them. No other file spells these numbers.
#include <cstdint>

namespace reelpage {

constexpr uint32_t WM_USER = 0x400;

// At the preview notify window (the main window).
constexpr uint32_t kMsgPreviewSecond = 0x401;   // posted; wParam = position in whole seconds
constexpr uint32_t kMsgPreviewEnded = 0x402;    // posted; the clip or media played to its end
constexpr uint32_t kMsgCropDragged = 0x403;     // sent; Project crop fields already updated
constexpr uint32_t kMsgWatermarkDragged = 0x404; // sent; watermark left/top already updated

// At the probe notify window (the import dialog). The program chooses these
// numbers when it calls OpenMedia; these are the ones it passes.
constexpr uint32_t kMsgProbeProgress = 0x401; // wParam = percent; lParam = cookie
constexpr uint32_t kMsgProbeDone = 0x402;     // wParam = result code; lParam = cookie

// Results of a probe (wParam of the done message).
constexpr int32_t kProbeOk = 0;
constexpr int32_t kProbeFailed = -1;      // import failed
constexpr int32_t kProbeUnreadable = -2;  // file information unreadable or file missing
constexpr int32_t kProbeUnsupported = -3; // file not supported
// Beyond the three above, so that each case gets a text that says what is wrong.
constexpr int32_t kProbeNoAccess = -4;    // the file exists, but this user may not read it
constexpr int32_t kProbePathTooLong = -5; // the path is longer than a record can hold

// What the import dialog and the command-line front end say for a result
// other than kProbeOk; null for a code no probe gives.
inline const char* ProbeResultText(int64_t code) {
    switch (code) {
    case kProbeFailed:
        return "Failed to import file";
    case kProbeUnreadable:
        return "Unable to read file information or file does not exist.";
    case kProbeUnsupported:
        return "Not support this file.";
    case kProbeNoAccess:
        return "The file cannot be read: permission denied.";
    case kProbePathTooLong:
        return "The file's path is too long (at most 259 characters).";
    default:
        return nullptr;
    }
}

// At the encoding notify window (the progress dialog).
// wParam: an encoder result of reelpage/encoding.h, or one of the results
// below.
constexpr uint32_t kMsgEncoderDone = 0x40A; // posted by each encoder
constexpr uint32_t kMsgAudioFed = 0x40B;    // posted by the audio thread
constexpr uint32_t kMsgDecodeDone = 0x401;  // posted by the encoding plug-in; not acted on

// Results of the audio feeding (wParam of kMsgAudioFed).
constexpr int32_t kAudioFedAll = 0;     // every sample was handed to the encoders
constexpr int32_t kAudioFedFailed = -1; // the decoded audio could not be used

// Results of the encoding plug-in's decoding (wParam of kMsgDecodeDone).
constexpr int32_t kDecodeFinished = 0; // every frame was queued and consumed
constexpr int32_t kDecodeFailed = -1;  // the source could not be opened; lParam = the cookie

// At the update notify window (the main window); the program passes this number.
constexpr uint32_t kMsgUpdateVersion = 0x40A;

// At the engine's preview render window: a new frame is in the frame block;
// wParam and lParam are the width and height it was delivered at, so the
// engine can drop a frame of an old size after a mode or size change.
constexpr uint32_t kMsgFrameReady = 0x401;

// Posted by the program's own dialogs to its main window.
constexpr uint32_t kMsgOpenPublish = 0x415; // encoding succeeded: open the publish dialog
constexpr uint32_t kMsgReplay = 0x416;      // back to editing after encoding or publishing

} // namespace reelpage
