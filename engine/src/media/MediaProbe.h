#pragma once
// Importing a media file: the history answers files already known; anything
// else gets a new record, filled by dec with the media-information plug-in.
#include "reelpage/records.h"

namespace reelpage {

// The window gets msgProgress (percent) while the probe runs and msgDone once
// with the result; both carry the cookie as lParam.
MediaInfo* OpenMedia(const WCHAR* path, HWND notify, int32_t cookie, uint32_t msgDone,
                     uint32_t msgProgress);

// Ends every import still running (at exit): their helpers are terminated and
// their half-written side files removed; returns within about a second.
void CancelProbes();

// The file name without folder and extension, as a record's title.
void TitleFromPath(const WCHAR* path, WCHAR* title, size_t cap);

} // namespace reelpage
