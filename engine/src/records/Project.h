#pragma once
#include "reelpage/records.h"

namespace reelpage {

// The current project, or null before the first CreateProject.
Project* CurrentProject();
// The media record the current project was made from.
MediaInfo* CurrentProjectMedia();

Project* CreateProject(MediaInfo* media, HWND renderParent, HWND notify);
int32_t RotateFlip(int32_t operation);
int32_t SnapshotPoster(BOOL grab);

} // namespace reelpage
