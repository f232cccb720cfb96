#pragma once
// The session block of the self-rendering preview plug-in (Brisquel): its host
// writes the playing time and the seek and redraw requests, the plug-in
// writes the time of the frame it presented, the end of the file, and the
// presented picture itself into the pixel area that follows the block, then
// sends kMsgFrameReady to the host's window.
#include <cstddef>
#include <cstdint>

#include "reelpage/types.h"

namespace reelpage {

struct RenderControl {
    HANDLE32 m_hMediaInfo;   // the MediaInfo block of the file
    HWND m_hwndVideo;        // window told of each presented picture
    HANDLE32 m_hClockEvent;  // set by the host for every clock step, seek or redraw
    HANDLE32 m_hMutex;       // guards the three times and the picture
    int64_t m_llSeek;        // seek target, microseconds
    int64_t m_llClock;       // the host's playing time
    int64_t m_Pts;           // time of the frame last presented (plug-in)
    int32_t m_EndOfStream;   // 1 once the plug-in saw the end of the file
    int32_t m_bRedraw;       // host sets 1: present the last frame again
    int32_t m_bSeek;         // host sets 1 after writing m_llSeek
    // The presented picture (written by the plug-in under the mutex).
    int32_t m_nFormat;       // pixel code frames are taken in; -1 before it is known
    int32_t m_PictureWidth;  // the pixel area's picture: BGRX rows, pitch width x 4
    int32_t m_PictureHeight;
    int64_t m_PicturePts;    // time of the frame in the pixel area; -1 for none
    int32_t m_cPresented;    // pictures presented so far, redraws included
    int32_t reserved;
};
static_assert(offsetof(RenderControl, m_llSeek) == 0x10);
static_assert(offsetof(RenderControl, m_Pts) == 0x20);
static_assert(offsetof(RenderControl, m_EndOfStream) == 0x28);
static_assert(offsetof(RenderControl, m_bSeek) == 0x30);
static_assert(offsetof(RenderControl, m_nFormat) == 0x34);
static_assert(offsetof(RenderControl, m_PicturePts) == 0x40);
static_assert(sizeof(RenderControl) == 0x50);

// The pixel area starts right after the block.
inline uint8_t* RenderPicture(RenderControl* control) {
    return reinterpret_cast<uint8_t*>(control) + sizeof(RenderControl);
}

// Bytes of a session block whose pixel area holds a width x height picture.
inline size_t RenderControlBytes(int32_t width, int32_t height) {
    return sizeof(RenderControl) + size_t(width > 0 ? width : 0) * size_t(height > 0 ? height : 0) * 4;
}

} // namespace reelpage
