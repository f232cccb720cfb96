#pragma once
// How the rest of the engine reaches the preview. The preview (preview/) draws
// into the program's window and plays the sound, so it needs Qt's widget,
// picture and sound modules and the libraries behind them: several megabytes
// in every process that loads them. The command-line front end has no window
// and loads a build of the engine without the preview (libreelpage-headless.so),
// so everything else speaks to the current session through this interface
// only. Without the preview no session is ever made, and every preview export
// does what it does when no project is shown.
#include <cstdint>
#include <memory>

#include "reelpage/protocol.h"
#include "reelpage/records.h"

namespace reelpage {

// A preview session as the rest of the engine sees it.
class LinkedPreview {
public:
    virtual ~LinkedPreview() = default;

    // Builds the session inside the widget behind renderParent. Without
    // launchHelper no helper is started (tests play the helper themselves).
    // 0, or the error of the step that failed.
    virtual int Start(Project* project, MediaInfo* media, HWND renderParent, HWND notify,
                      bool launchHelper) = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Seek(int32_t seconds) = 0;
    // Shows the picture `frames` frames after (before, when negative) the one
    // on screen and moves the clocks there; the new time in whole seconds.
    virtual int32_t StepFrame(int32_t frames) = 0;
    virtual void Layout() = 0;
    virtual void ApplyClipRange() = 0;
    virtual void Command(PreviewCommand code, int64_t param) = 0;
    virtual void EnterCropMode() = 0;
    virtual void LeaveCropMode() = 0;
    virtual void ApplyOutputSize() = 0;
    virtual int64_t Position() = 0;
    virtual void BeginSeekDrag() = 0;
    virtual void EndSeekDrag() = 0;
    // After the project was turned or mirrored by operation.
    virtual void Rotated(int32_t operation) = 0;
    virtual void ApplyCrop() = 0;
    virtual void EnterWatermarkMode() = 0;
    virtual void LeaveWatermarkMode() = 0;
    virtual void ApplyWatermarkPosition() = 0;
    virtual void ApplyWatermarkPicture() = 0;
    // Draws the chosen captions' cue at the position over the picture, or none.
    virtual void ShowCaption() = 0;
};

// Makes a session; the preview sets it when it is linked in.
using PreviewMaker = std::unique_ptr<LinkedPreview> (*)();
// True, so that the preview can set it from a static initialiser.
bool SetPreviewMaker(PreviewMaker maker);

// The session of the current project, or null.
LinkedPreview* CurrentPreview();
// Ends the current session, if any, and starts one for project inside the
// widget behind renderParent; a renderParent of 0 starts none.
int StartPreviewSession(Project* project, MediaInfo* media, HWND renderParent, HWND notify,
                        bool launchHelper = true);
// Ends the current session, if any (before an encoding or a new project).
void EndPreviewSession();
// Queues a command when a session exists.
void PostPreviewCommand(PreviewCommand code, int64_t param = 0);
// The session side of turning or mirroring the project.
void PreviewRotated(int32_t operation);
// The captions changed (added, turned on or off): the picture shows it now.
void RefreshPreviewCaption();

// The exports.
int32_t RestartPreview(HWND renderParent, HWND notify);
int32_t Play();
int32_t Pause();
int32_t Seek(int32_t seconds);
int32_t StepFrame(int32_t frames);
int32_t LayoutPreview();
int32_t ApplyClipRange();
int32_t NotifyPreview(int32_t command);
int32_t EnterCropMode();
int32_t LeaveCropMode();
int64_t GetPosition();
int32_t BeginSeekDrag();
int32_t EndSeekDrag();
int32_t ApplyOutputSize();
int32_t ApplyCrop();
int32_t EnterWatermarkMode();
int32_t LeaveWatermarkMode();
int32_t ApplyWatermarkPosition();
int32_t ApplyWatermarkPicture();

} // namespace reelpage
