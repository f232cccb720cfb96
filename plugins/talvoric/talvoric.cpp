// The encoding plug-in: turns each decoded frame of the source into frames of
// the output video (oriented, brightness and contrast, cropped, fitted, the
// picture effects, the watermark) and queues them at the source's nominal
// frame rate into the frame slots every encoder of the job reads.
#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "PosterFrame.h"
#include "picture/scaler.h"
#include "platform/event.h"
#include "platform/filetime.h"
#include "platform/interlocked.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"
#include "reelpage/effects.h"
#include "reelpage/frame_ops.h"
#include "reelpage/helper_log.h"
#include "reelpage/map_block.h"
#include "reelpage/messages.h"
#include "reelpage/output_size.h"
#include "reelpage/plugin.h"
#include "reelpage/records.h"

namespace reelpage::talvoric {

namespace {

using frameops::Size;

struct State {
    platform::SharedBlock talvoricerBlock, mediaBlock, projectBlock;
    platform::SharedBlock videoBlocks[3];
    Talvoricer* talvoricer = nullptr;
    const MediaInfo* media = nullptr;
    const Project* project = nullptr;
    VideoStreamHeader* streams[3] = {};
    int encoders = 0;
    uint8_t* slots = nullptr; // slot 0 of encoder 0's block
    size_t frameBytes = 0;
    int slotCount = kVideoSlots; // what the engine chose for the job

    int32_t transform = 0;
    int32_t orientation = 0;
    Size output;                      // W x H
    Size source;                      // as decoded
    Size oriented;                    // the source after orientation
    int32_t pixelFormat = kPixYuv420; // what the host delivers
    Size asked;                       // and at what size

    int64_t frameRateNum = 25, frameRateDen = 1;
    int64_t clipStart = 0, clipStop = 0;
    int64_t clipFrames = -1; // output frames the clip holds, -1 = up to the end
    int64_t queued = 0;      // n: output frames queued so far
    int slot = 0;            // s

    picture::RectI crop;
    picture::RectF fit;
    bool bars = false;
    bool colorTableOn = false;
    uint8_t colorTable[256] = {};
    frameops::EffectRenderer effects;
    picture::RectI effectRect; // the part of the slot the picture covers
    bool effectsFailed = false;
    picture::Bitmap watermark;
    int watermarkLeft = 0, watermarkTop = 0;
    std::vector<uint8_t> decoded; // private decode buffer (paths 1, 2, 3)
    std::vector<uint8_t> turned;  // oriented picture (path 3)
    picture::Scaler scaler;
    PosterFrame poster;
};

State g;

// The output frame a source frame of clip time t stands for: the nearest one.
// Container time stamps are rounded (to the millisecond in Matroska and WebM,
// to the time base elsewhere), so a frame may come a little before or after
// its exact time; taking the nearest output time, not the next one, keeps a
// source at the output's rate at one output frame per source frame.
int64_t OutputIndex(int64_t t) {
    const __int128 unit = __int128(g.frameRateDen) * 1000000;
    const __int128 scaled = __int128(t) * g.frameRateNum + unit / 2;
    return int64_t(scaled >= 0 ? scaled / unit : -((-scaled + unit - 1) / unit));
}

uint8_t* SlotAt(int s) {
    return g.slots + size_t(s) * g.frameBytes;
}

picture::BitmapView SlotView(int s) {
    return {SlotAt(s), g.output.width, g.output.height, ptrdiff_t(g.output.width) * 4,
            picture::AlphaMode::Opaque};
}

void WaitForFreeSlots() {
    for (int k = 0; k < g.encoders; ++k)
        while (platform::LoadAcquire(&g.streams[k]->m_cSlotsInUse) >= g.slotCount)
            platform::WaitForHandle(g.streams[k]->m_hSlotEvent, 1000);
}

[[noreturn]] void FinishJob() {
    for (int k = 0; k < g.encoders; ++k) {
        platform::InterlockedExchange(&g.talvoricer->m_EndOfStream, 1);
        platform::InterlockedExchange(&g.streams[k]->m_bEndOfStream, 1);
        platform::SetEvent(g.streams[k]->m_hFrameEvent);
    }
    for (int k = 0; k < g.encoders; ++k)
        while (platform::LoadAcquire(&g.streams[k]->m_cSlotsInUse) != 0)
            platform::WaitForHandle(g.streams[k]->m_hSlotEvent, 1000);
    platform::PostMessage(g.talvoricer->m_hwndMessage, kMsgDecodeDone, kDecodeFinished, 0);
    HelperLog(kHelperLogInfo, "Queued %lld frames\n", static_cast<long long>(g.queued));
    // The host may still run decoding threads: leave without running any
    // destructor under their feet.
    _exit(0);
}

void PrepareWatermark() {
    const Project& p = *g.project;
    if (p.m_WatermarkFile[0] == 0) return;
    WCHAR file[kMaxPath];
    std::memcpy(file, p.m_WatermarkFile, sizeof file);
    platform::WStrTerminate(file, kMaxPath);
    const std::string path = platform::ToUtf8(file);
    picture::Error e = frameops::PrepareWatermark(path, p.m_WatermarkWidth, p.m_WatermarkHeight,
                                                  p.m_WatermarkTransparency, g.watermark);
    if (e != picture::Error::None) {
        HelperLog(kHelperLogError, "Watermark %s not drawn: %s\n", path.c_str(),
                  picture::ErrorText(e));
        return;
    }
    g.watermarkLeft = p.m_WatermarkLeft;
    g.watermarkTop = p.m_WatermarkTop;
}

int32_t Init(HelperLaunch* launch) {
    HelperLogOpen(launch->m_hLogFile, "talvoric");
    if (!MapBlock(launch->m_hSession, sizeof(Talvoricer), &g.talvoricerBlock, "Talvoricer"))
        return -1;
    g.talvoricer = static_cast<Talvoricer*>(g.talvoricerBlock.view);
    if (!MapBlock(g.talvoricer->m_hMediaInfo, sizeof(MediaInfo), &g.mediaBlock, "MediaInfo") ||
        !MapBlock(g.talvoricer->m_hTaskList, sizeof(Project), &g.projectBlock, "Project"))
        return -1;
    g.media = static_cast<const MediaInfo*>(g.mediaBlock.view);
    g.project = static_cast<const Project*>(g.projectBlock.view);
    g.encoders = std::clamp(g.talvoricer->m_cEncoder, 0, 3);
    if (g.encoders == 0) {
        HelperLog(kHelperLogError, "No encoder to feed\n");
        return -1;
    }
    for (int k = 0; k < g.encoders; ++k) {
        if (!MapBlock(g.talvoricer->m_hVideoStreams[k], 0, &g.videoBlocks[k], "VideoStream"))
            return -1;
        g.streams[k] = static_cast<VideoStreamHeader*>(g.videoBlocks[k].view);
    }

    const Project& p = *g.project;
    g.transform = g.talvoricer->m_Transform;
    g.orientation = std::clamp(p.m_Orientation, 0, 7);
    const OutputFrameSize picture = ProjectPictureSize(p);
    g.output = {picture.width, picture.height};
    g.source = {g.media->m_Width, g.media->m_Height};
    g.oriented = frameops::OrientedSize(g.source, g.orientation);
    const bool planar = IsPlanarTransform(g.transform);
    g.pixelFormat = planar ? kPixYuv420 : kPixBgra;
    // Paths 1 to 4 take the picture as decoded; only path 0 needs it at the
    // output size, which then is the source size.
    g.asked = g.transform == kTransformPassThrough ? g.output : g.source;
    if (g.output.width <= 0 || g.output.height <= 0 || g.source.width <= 0 ||
        g.source.height <= 0) {
        HelperLog(kHelperLogError, "Bad sizes: output %dx%d, source %dx%d\n", g.output.width,
                  g.output.height, g.source.width, g.source.height);
        return -1;
    }
    // Paths that write the picture as it is into a slot need it at the output
    // size; anything else would run past the slot.
    const bool sameSize =
        g.transform == kTransformOrientOnly ? g.oriented == g.output
        : g.transform == kTransformPassThrough || g.transform == kTransformEffectsOnly
            ? g.source == g.output
            : true;
    if (g.transform < kTransformPassThrough || g.transform > kTransformEffectsOnly || !sameSize) {
        HelperLog(kHelperLogError, "Frame path %d cannot make %dx%d from %dx%d\n", g.transform,
                  g.output.width, g.output.height, g.source.width, g.source.height);
        return -1;
    }
    g.frameBytes = VideoFrameBytes(g.output.width, g.output.height, g.pixelFormat);
    g.slotCount = VideoSlotsOf(*g.streams[0]);
    for (int k = 1; k < g.encoders; ++k) {
        if (VideoSlotsOf(*g.streams[k]) != g.slotCount) {
            HelperLog(kHelperLogError, "Encoder %d reads %d slots, encoder 0 %d\n", k,
                      VideoSlotsOf(*g.streams[k]), g.slotCount);
            return -1;
        }
    }
    if (g.videoBlocks[0].size < kVideoSlotsOffset + size_t(g.slotCount) * g.frameBytes) {
        HelperLog(kHelperLogError, "Video stream of %zu bytes holds no %d frames of %zu\n",
                  g.videoBlocks[0].size, g.slotCount, g.frameBytes);
        return -1;
    }
    g.slots = static_cast<uint8_t*>(g.videoBlocks[0].view) + kVideoSlotsOffset;
    g.poster.Map(g.talvoricer->m_hVideoStreams[kPosterFrameStream], g.output.width,
                 g.output.height);

    if (g.media->m_FrameRateNum > 0 && g.media->m_FrameRateDen > 0) {
        g.frameRateNum = g.media->m_FrameRateNum;
        g.frameRateDen = g.media->m_FrameRateDen;
    }
    g.clipStart = p.m_ClipStart;
    g.clipStop = p.m_ClipStop;
    // A clip lasts from its start up to, not including, its stop: as many
    // output frames as fit, so picture and sound come out the same length.
    if (g.clipStop > g.clipStart)
        g.clipFrames = std::max<int64_t>(OutputIndex(g.clipStop - g.clipStart), 1);

    g.crop = {p.m_CropLeft, p.m_CropTop, p.m_CropWidth, p.m_CropHeight};
    g.fit = frameops::FitRect(p.m_ResizeMethod, g.output.width, g.output.height, p.m_CropWidth,
                              p.m_CropHeight);
    g.bars = frameops::FitLeavesBars(g.fit, g.output.width, g.output.height);
    g.colorTableOn = frameops::ColorTableActive(p.m_Brightness, p.m_Contrast);
    if (g.colorTableOn) frameops::BuildColorTable(p.m_Brightness, p.m_Contrast, g.colorTable);
    if (!planar) PrepareWatermark();
    // The effects work on the picture at the output size, not on the bars.
    g.effects.Set(frameops::EffectSettingsOf(p));
    g.effectRect = g.transform == kTransformEffectsOnly
                       ? picture::RectI{0, 0, g.output.width, g.output.height}
                       : frameops::CoveredRect(g.fit, g.output.width, g.output.height);

    const size_t sourcePixels = size_t(g.source.width) * g.source.height;
    switch (g.transform) {
    case kTransformOrientOnly:
        g.decoded.resize(VideoFrameBytes(g.source.width, g.source.height, kPixYuv420));
        break;
    case kTransformResize:
        g.decoded.resize(sourcePixels * 4);
        break;
    case kTransformOrientResize:
        g.decoded.resize(sourcePixels * 4);
        g.turned.resize(sourcePixels * 4);
        break;
    default:
        break;
    }
    HelperLog(kHelperLogInfo,
              "Frame path %d: %dx%d (format %d) into %dx%d for %d encoder(s), %d slots\n",
              g.transform, g.asked.width, g.asked.height, g.pixelFormat, g.output.width,
              g.output.height, g.encoders, g.slotCount);
    return 0;
}


int32_t CheckFormat(int32_t format, int32_t w, int32_t h, int32_t tw, int32_t th) {
    return format == g.pixelFormat && w == tw && h == th && w == g.asked.width &&
                   h == g.asked.height
               ? 0
               : -1;
}

int32_t GetFormat(int32_t* format, int32_t* w, int32_t* h) {
    *format = g.pixelFormat;
    *w = g.asked.width;
    *h = g.asked.height;
    return 0;
}

// Planes of a planar YUV 4:2:0 picture of w x h stored contiguously.
void YuvPlanes(uint8_t* base, int w, int h, void* planes[3], int32_t strides[3]) {
    planes[0] = base;
    planes[1] = base + size_t(w) * h;
    planes[2] = base + size_t(w) * h + size_t(w / 2) * (h / 2);
    strides[0] = w;
    strides[1] = strides[2] = w / 2;
}

int32_t GetFrameBuffer(void* planes[3], int32_t strides[3], int64_t frameTime) {
    const int64_t t = frameTime - g.clipStart;
    const int64_t index = OutputIndex(t);
    if (g.clipStop != 0 &&
        (frameTime >= g.clipStop || (g.clipFrames >= 0 && index >= g.clipFrames)))
        FinishJob();
    // Its output frame is already taken by the frame before it (a source
    // faster than the output, or a frame before the clip): dropped.
    if (index < g.queued) return 1;
    WaitForFreeSlots();
    planes[1] = planes[2] = nullptr;
    strides[1] = strides[2] = 0;
    switch (g.transform) {
    case kTransformPassThrough:
        YuvPlanes(SlotAt(g.slot), g.output.width, g.output.height, planes, strides);
        break;
    case kTransformOrientOnly:
        YuvPlanes(g.decoded.data(), g.source.width, g.source.height, planes, strides);
        break;
    case kTransformResize:
    case kTransformOrientResize:
        planes[0] = g.decoded.data();
        strides[0] = g.source.width * 4;
        break;
    default:
        planes[0] = SlotAt(g.slot);
        strides[0] = g.output.width * 4;
        break;
    }
    return 0;
}

// Draws the picture through the crop and the fit into the slot. What the
// fit leaves uncovered is cleared each time: the slot still holds a frame of
// a full turn of the slots before, and a watermark over the bars would otherwise build up.
void DrawFitted(picture::ConstBitmapView picture, picture::BitmapView slot) {
    if (g.bars) frameops::ClearOutsideFit(slot, g.fit);
    g.scaler.Draw(picture, g.crop, slot, g.fit);
}

void Compose(void* planes[3]) {
    switch (g.transform) {
    case kTransformPassThrough:
        break;
    case kTransformOrientOnly: {
        void* from[3];
        int32_t fromStrides[3];
        YuvPlanes(g.decoded.data(), g.source.width, g.source.height, from, fromStrides);
        void* to[3];
        int32_t toStrides[3];
        YuvPlanes(SlotAt(g.slot), g.oriented.width, g.oriented.height, to, toStrides);
        const uint8_t* src[3] = {static_cast<uint8_t*>(from[0]), static_cast<uint8_t*>(from[1]),
                                 static_cast<uint8_t*>(from[2])};
        uint8_t* dst[3] = {static_cast<uint8_t*>(to[0]), static_cast<uint8_t*>(to[1]),
                           static_cast<uint8_t*>(to[2])};
        const int srcStrides[3] = {fromStrides[0], fromStrides[1], fromStrides[2]};
        const int dstStrides[3] = {toStrides[0], toStrides[1], toStrides[2]};
        frameops::OrientYuv420(src, srcStrides, g.source.width, g.source.height, dst, dstStrides,
                               g.orientation);
        break;
    }
    case kTransformResize: {
        picture::BitmapView decoded{static_cast<uint8_t*>(planes[0]), g.source.width,
                                    g.source.height, ptrdiff_t(g.source.width) * 4,
                                    picture::AlphaMode::Opaque};
        if (g.colorTableOn) frameops::ApplyColorTable(decoded, g.colorTable);
        DrawFitted(decoded, SlotView(g.slot));
        break;
    }
    case kTransformOrientResize: {
        frameops::OrientPlane(g.decoded.data(), g.source.width * 4, g.source.width, g.source.height,
                              4, g.turned.data(), g.oriented.width * 4, g.orientation);
        picture::BitmapView turned{g.turned.data(), g.oriented.width, g.oriented.height,
                                   ptrdiff_t(g.oriented.width) * 4, picture::AlphaMode::Opaque};
        if (g.colorTableOn) frameops::ApplyColorTable(turned, g.colorTable);
        DrawFitted(turned, SlotView(g.slot));
        break;
    }
    default:
        if (g.colorTableOn) frameops::ApplyColorTable(SlotView(g.slot), g.colorTable);
        break;
    }
    if (g.transform >= kTransformResize && g.effects.Active() && g.effectRect.width > 0 &&
        g.effectRect.height > 0) {
        const picture::Error e =
            g.effects.Apply(frameops::SubView(SlotView(g.slot), g.effectRect));
        if (e != picture::Error::None && !g.effectsFailed) {
            HelperLog(kHelperLogError, "Blur or sharpen not applied: %s\n", picture::ErrorText(e));
            g.effectsFailed = true;
        }
    }
    if (g.transform >= kTransformResize && !g.watermark.Empty())
        frameops::DrawWatermark(g.watermark, SlotView(g.slot), g.watermarkLeft, g.watermarkTop);
}

int32_t FrameReady(void* planes[3], int32_t strides[3], int64_t frameTime) {
    (void)strides;
    const int64_t t = frameTime - g.clipStart;
    Compose(planes);
    // Once, or for every output frame up to its own when the source left a
    // gap (the output frame rate stays constant). GetFrameBuffer took it
    // only when its own output frame is still free, so it is queued at least
    // once.
    int64_t last = std::max(OutputIndex(t), g.queued);
    if (g.clipFrames >= 0) last = std::min(last, g.clipFrames - 1);
    do {
        for (int k = 0; k < g.encoders; ++k) {
            g.streams[k]->m_SlotOfFrame[g.queued % kSlotTableSize] = uint8_t(g.slot);
            platform::InterlockedIncrement(&g.streams[k]->m_cFramesAnnounced);
        }
        ++g.queued;
    } while (g.queued <= last);
    // The first picture that goes out is the poster's, before any encoder
    // can be done with its slot.
    if (g.queued > 0 && g.poster.Wanted()) g.poster.Take(SlotAt(g.slot), g.pixelFormat);
    g.slot = (g.slot + 1) % g.slotCount;
    for (int k = 0; k < g.encoders; ++k) {
        platform::InterlockedIncrement(&g.streams[k]->m_cSlotsInUse);
        platform::SetEvent(g.streams[k]->m_hFrameEvent);
    }
    platform::StoreRelease(&g.talvoricer->m_Pts, t);
    return 0;
}

// The source is still the file its import measured. One cut short or
// rewritten while it was read ends early, and its pictures would stop
// where its sound (read from the import's sample file) goes on.
bool SourceUnchanged() {
    const MediaInfo& m = *g.media;
    struct stat st {};
    const std::string path = platform::ToUtf8(m.m_szFileName);
    return stat(path.c_str(), &st) == 0 && int64_t(st.st_size) == m.m_FileSize &&
           platform::FileTimeFromTimespec(st.st_mtim) == m.m_CreationTime;
}

int32_t EndOfStream(int64_t) {
    if (!SourceUnchanged()) {
        // Ending without the end-of-stream mark fails the job: the engine
        // stops the encoders, whose files are never completed.
        HelperLog(kHelperLogError, "The source %s changed while it was encoded\n",
                  platform::ToUtf8(g.media->m_szFileName).c_str());
        _exit(4);
    }
    FinishJob();
}

int32_t OpenFailed(int32_t) {
    HelperLog(kHelperLogError, "The source could not be opened\n");
    platform::PostMessage(g.talvoricer->m_hwndMessage, kMsgDecodeDone, kDecodeFailed,
                          g.talvoricer->m_lParam);
    return 0;
}

} // namespace

} // namespace reelpage::talvoric

REELPAGE_PLUGIN_ENTRY {
    using namespace reelpage::talvoric;
    reelpage::plugin_ignore::FillTable(table);
    table->Init = Init;
    table->CheckFormat = CheckFormat;
    table->GetFormat = GetFormat;
    table->GetFrameBuffer = GetFrameBuffer;
    table->FrameReady = FrameReady;
    table->EndOfStream = EndOfStream;
    table->OpenFailed = OpenFailed;
}
