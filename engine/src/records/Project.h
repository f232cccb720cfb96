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

// The orientation after an operation (an OrientationOp) from a state 0..7;
// -1 for any other operation.
int32_t NextOrientation(int32_t state, int32_t operation);

} // namespace reelpage
