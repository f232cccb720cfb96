#include "system/PreviewLink.h"

#include "records/Project.h"
#include "system/Log.h"

namespace reelpage {

namespace {

// Constant-initialised, so set before any static initialiser runs that could
// set it.
PreviewMaker g_pMakePreview = nullptr;
std::unique_ptr<LinkedPreview> g_pPreviewSession;

} // namespace

bool SetPreviewMaker(PreviewMaker maker) {
    g_pMakePreview = maker;
    return true;
}

LinkedPreview* CurrentPreview() { return g_pPreviewSession.get(); }

int StartPreviewSession(Project* project, MediaInfo* media, HWND renderParent, HWND notify,
                        bool launchHelper) {
    EndPreviewSession();
    if (!renderParent || !project || !media) return 0;
    if (!g_pMakePreview) {
        // A window asked for a picture from the build without the preview: a
        // packaging mistake, which would otherwise only show as a blank view.
        LogWrite(kLogError, "No preview in this engine library\n");
        return -1;
    }
    g_pPreviewSession = g_pMakePreview();
    return g_pPreviewSession->Start(project, media, renderParent, notify, launchHelper);
}

void EndPreviewSession() {
    // Reset first: a second call during the teardown finds nothing to end.
    std::unique_ptr<LinkedPreview> session = std::move(g_pPreviewSession);
    session.reset();
}

void PostPreviewCommand(PreviewCommand code, int64_t param) {
    if (auto* s = CurrentPreview()) s->Command(code, param);
}

void PreviewRotated(int32_t operation) {
    if (auto* s = CurrentPreview()) s->Rotated(operation);
}

void RefreshPreviewCaption() {
    if (auto* s = CurrentPreview()) s->ShowCaption();
}

int32_t RestartPreview(HWND renderParent, HWND notify) {
    // A session still alive would leave its helper and window behind.
    StartPreviewSession(CurrentProject(), CurrentProjectMedia(), renderParent, notify);
    return 0;
}

#define SESSION_EXPORT(name, call)                                                                 \
    int32_t name() {                                                                               \
        if (auto* s = CurrentPreview()) s->call();                                                 \
        return 0;                                                                                  \
    }
SESSION_EXPORT(Play, Play)
SESSION_EXPORT(Pause, Pause)
SESSION_EXPORT(LayoutPreview, Layout)
SESSION_EXPORT(ApplyClipRange, ApplyClipRange)
SESSION_EXPORT(EnterCropMode, EnterCropMode)
SESSION_EXPORT(LeaveCropMode, LeaveCropMode)
SESSION_EXPORT(BeginSeekDrag, BeginSeekDrag)
SESSION_EXPORT(EndSeekDrag, EndSeekDrag)
SESSION_EXPORT(ApplyOutputSize, ApplyOutputSize)
SESSION_EXPORT(ApplyCrop, ApplyCrop)
SESSION_EXPORT(EnterWatermarkMode, EnterWatermarkMode)
SESSION_EXPORT(LeaveWatermarkMode, LeaveWatermarkMode)
SESSION_EXPORT(ApplyWatermarkPosition, ApplyWatermarkPosition)
SESSION_EXPORT(ApplyWatermarkPicture, ApplyWatermarkPicture)
#undef SESSION_EXPORT

int32_t Seek(int32_t seconds) {
    if (auto* s = CurrentPreview()) s->Seek(seconds);
    return 0;
}

int32_t StepFrame(int32_t frames) {
    auto* s = CurrentPreview();
    return s ? s->StepFrame(frames) : -1;
}

int32_t NotifyPreview(int32_t command) {
    // Queued as given: a code the helper does not know is ignored there.
    PostPreviewCommand(PreviewCommand(command), 0);
    return 0;
}

int64_t GetPosition() {
    auto* s = CurrentPreview();
    return s ? s->Position() : 0;
}

} // namespace reelpage
