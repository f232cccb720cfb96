// The project record: what to make from the imported video. It lives in a
// shared block so that the helpers can read the edit state directly.
#include "records/Project.h"

#include "captions/ProjectCaptions.h"

#include "system/Folders.h"
#include "media/History.h"
#include "system/Log.h"
#include "system/PreviewLink.h"
#include "publishing/Templates.h"
#include "records/Settings.h"

#include <cstring>
#include <utility>

#include "platform/guid.h"
#include "platform/shm.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"
#include "reelpage/protocol.h"
#include "reelpage/output_size.h"

namespace reelpage {

namespace {

platform::SharedBlock g_projectBlock;

Project* Current() { return static_cast<Project*>(g_projectBlock.view); }

// Where a watermark of the given size goes for an alignment.
int32_t Place(int32_t code, int32_t outer, int32_t inner) {
    switch (code) {
    case kAlignStart:
        return 0;
    case kAlignCenter:
        return (outer - inner) / 2;
    case kAlignEnd:
        return outer - inner;
    default:
        return 0;
    }
}

} // namespace

Project* CurrentProject() { return Current(); }

MediaInfo* CurrentProjectMedia() {
    Project* p = Current();
    return p ? FindMediaByHandle(p->m_pMediaInfo) : nullptr;
}

Project* CreateProject(MediaInfo* media, HWND renderParent, HWND notify) {
    if (!media) return nullptr;
    platform::SharedBlock block;
    int rc = platform::CreateSharedBlock(sizeof(Project), true, &block);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "sizeof(Project), NULL)");
        return nullptr;
    }
    auto* p = static_cast<Project*>(block.view);
    std::memset(p, 0, sizeof *p);
    const Settings& s = TheSettings();

    p->m_hSelf = block.handle;
    p->m_pMediaInfo = media->m_hSelf;
    std::memcpy(p->m_Formats, s.m_DefaultFormats, sizeof p->m_Formats);
    p->m_WebmCodec = TheMoreSettings().m_DefaultWebmCodec;
    p->m_VideoWidth = media->m_Width;
    p->m_VideoHeight = media->m_Height;
    p->m_CropLeft = p->m_CropTop = 0;
    p->m_CropWidth = media->m_Width;
    p->m_CropHeight = media->m_Height;
    // The defaults' size as it stands; "Original" from the whole picture.
    p->m_SizeIndex = s.m_SizeIndex;
    p->m_OutputWidth = s.m_OutputWidth;
    p->m_OutputHeight = s.m_OutputHeight;
    FollowCrop(*p);
    p->m_ResizeMethod = s.m_ResizeMethod;
    p->m_Autoplay = s.m_Autoplay;
    p->m_Controls = s.m_Controls;
    p->m_Loop = s.m_Loop;
    // The first picture the probe saved.
    platform::WStrCopy(p->m_szPosterImage, MediaSideFile(*media, u"bmp"));

    platform::WStrCopy(p->m_WatermarkFile, s.m_WatermarkFile);
    p->m_WatermarkImageWidth = p->m_WatermarkWidth = s.m_WatermarkImageWidth;
    p->m_WatermarkImageHeight = p->m_WatermarkHeight = s.m_WatermarkImageHeight;
    p->m_WatermarkTransparency = s.m_WatermarkTransparency;
    p->m_WatermarkLeft = Place(s.m_WatermarkHPosition, p->m_OutputWidth, p->m_WatermarkWidth);
    p->m_WatermarkTop = Place(s.m_WatermarkVPosition, p->m_OutputHeight, p->m_WatermarkHeight);

    platform::WStrCopy(p->m_AdFile, s.m_AdFile);
    p->m_AdImageWidth = s.m_AdImageWidth;
    p->m_AdImageHeight = s.m_AdImageHeight;
    platform::WStrCopy(p->m_AdLink, s.m_AdLink);
    // Fit the advertisement into the output frame, keeping its aspect.
    const int32_t w = p->m_AdImageWidth, h = p->m_AdImageHeight;
    const int32_t W = p->m_OutputWidth, H = p->m_OutputHeight;
    if (w <= W && h <= H) {
        p->m_AdWidth = w;
        p->m_AdHeight = h;
    } else if (int64_t(w) * H > int64_t(h) * W) {
        p->m_AdWidth = W;
        p->m_AdHeight = w ? int32_t(int64_t(h) * W / w) : 0;
    } else {
        p->m_AdHeight = H;
        p->m_AdWidth = h ? int32_t(int64_t(w) * H / h) : 0;
    }

    // The page starts from the template the user made the default; one
    // removed from the catalogue since falls back to the first.
    p->m_Templete = s.m_Templete >= 0 && s.m_Templete < GetTemplateCount() ? s.m_Templete : 0;

    // Release the previous record only now that the new one is complete, and
    // after the session that reads it has ended.
    EndPreviewSession();
    platform::CloseSharedBlock(&g_projectBlock);
    g_projectBlock = std::exchange(block, platform::SharedBlock{});
    ResetProjectCaptions(*media);
    // A failed start is logged by the session and leaves the project usable.
    StartPreviewSession(Current(), media, renderParent, notify);
    return Current();
}

int32_t RotateFlip(int32_t operation) {
    Project* p = Current();
    if (!p) return 0;
    const int32_t W = p->m_VideoWidth, H = p->m_VideoHeight;
    const int32_t L = p->m_CropLeft, T = p->m_CropTop, CW = p->m_CropWidth, CH = p->m_CropHeight;
    switch (operation) {
    case kRotateLeft:
        p->m_CropLeft = T;
        p->m_CropTop = W - CW - L;
        p->m_CropWidth = CH;
        p->m_CropHeight = CW;
        break;
    case kRotateRight:
        p->m_CropLeft = H - CH - T;
        p->m_CropTop = L;
        p->m_CropWidth = CH;
        p->m_CropHeight = CW;
        break;
    case kFlipHorizontal:
        p->m_CropLeft = W - CW - L;
        break;
    case kFlipVertical:
        p->m_CropTop = H - CH - T;
        break;
    default:
        LogWrite(kLogError, "Error RotateFlip=%d\n", operation);
        return 0;
    }
    p->m_Orientation = NextOrientation(p->m_Orientation & 7, operation);
    if (IsRotation(operation)) std::swap(p->m_OutputWidth, p->m_OutputHeight);
    if (const MediaInfo* media = CurrentProjectMedia()) {
        const bool odd = OrientationSwapsSides(p->m_Orientation);
        p->m_VideoWidth = odd ? media->m_Height : media->m_Width;
        p->m_VideoHeight = odd ? media->m_Width : media->m_Height;
    }
    PreviewRotated(operation);
    return 0;
}

int32_t SnapshotPoster(BOOL grab) {
    Project* p = Current();
    MediaInfo* media = CurrentProjectMedia();
    if (!p || !media) return 0;
    platform::WFormat(p->m_szPosterImage, kMaxPath, "%ls/%ls.bmp", PosterFolder(),
                      platform::GuidToU16String(media->m_id).c_str());
    PostPreviewCommand(grab ? kCmdSnapshotSource : kCmdSnapshotShown);
    return 0;
}

} // namespace reelpage
