// The preview plug-in: takes the engine's preview commands, decodes only as
// far as the engine's clock has gone, composes the picture the user sees
// (oriented, brightness and contrast, cropped and fitted, the picture effects,
// the watermark, and while editing the crop or watermark frame) into the
// shared frame block and hands it to the render window. It also writes poster snapshots.
//
// Every picture operation is the one the encoding plug-in uses (frame_ops),
// so the preview shows what the outputs will hold.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "picture/bitmap.h"
#include "picture/encoders.h"
#include "picture/scaler.h"
#include "platform/interlocked.h"
#include "platform/mutex.h"
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
#include "reelpage/plugin.h"
#include "reelpage/protocol.h"
#include "reelpage/records.h"

namespace reelpage::morvane {

namespace {

using frameops::Size;

// What the prepared watermark was made for.
struct WatermarkKey {
    int width = 0, height = 0, transparency = 0, left = 0, top = 0, pictureWidth = 0,
        pictureHeight = 0;
    bool operator==(const WatermarkKey&) const = default;
};

struct State {
    platform::SharedBlock controlBlock, mediaBlock, projectBlock, frameBlock;
    PreviewControl* control = nullptr;
    const MediaInfo* media = nullptr;
    const Project* project = nullptr;
    uint8_t* frame = nullptr;
    platform::SharedMutex mutex;

    // The size frames are asked for (GetFormat) and every buffer is sized
    // from: fixed at Init, whatever the project says later.
    Size source;
    std::vector<uint8_t> decoded;  // source x 4 bytes, written by the host
    std::vector<uint8_t> oriented; // the decoded picture turned, table applied
    // A frame the decoder produced past the one on screen while that one
    // still covers the clock's time (decoders hand out frames in bursts, and
    // all of them at the end of the file): held until its time comes, so the
    // picture neither runs ahead of the clock nor loses that frame.
    std::vector<uint8_t> ahead;
    bool aheadReady = false;
    int64_t aheadTime = 0;
    // After playback ended: the picture of the time playback will start from
    // next (the clip start), decoded while the last one stays on screen, with
    // the decoder left just after it. Play's seek to that time then shows it
    // without going back to a keyframe.
    std::vector<uint8_t> prepared;
    bool preparing = false;
    bool preparedReady = false;
    // Play came before the prepared picture: the decoder is on its way to
    // it already, and it is shown as soon as it is there.
    bool showWhenPrepared = false;
    int64_t prepareFor = 0;
    int64_t preparedTime = 0;
    // The time the host has a second decoder parked at (or on its way
    // there), -1 for none: the clip start, so that preparing it at the end
    // takes that decoder instead of decoding from the keyframe before it.
    int64_t parkedAt = -1;

    bool cropMode = false;
    bool watermarkMode = false;
    bool colorTableOn = false;
    uint8_t colorTable[256] = {};
    // The effects as the last redraw command found them.
    frameops::EffectSettings effectSettings;
    frameops::EffectRenderer effects;
    bool effectsFailed = false;

    // The watermark file as loaded, and as last prepared for drawing.
    picture::Bitmap watermarkSource;
    picture::Bitmap watermark;
    picture::Point watermarkAt;
    bool watermarkPrepared = false;
    WatermarkKey watermarkKey;

    picture::Scaler scaler;
    Size delivered; // the size of what PreviewFrame holds now
    Size refused;   // the display size last refused, logged once

    int64_t frameDuration = 40000; // D
    int64_t lastDelivered = -1;
    bool shownSinceSeek = false;
    int64_t target = 0;
    bool atEnd = false; // the host reported the end of the file since the last seek
    // A seek to or past the end skips every frame: the helper then seeks once
    // more, to the last frame, so the picture shows the end of the file.
    int64_t endSeek = -1;
    bool endSeekDone = false;
    bool waitFailed = false;
};

State g;

// A path field of the project, terminated inside its copy whatever the block
// holds.
std::string PathField(const WCHAR (&field)[kMaxPath]) {
    WCHAR copy[kMaxPath];
    std::memcpy(copy, field, sizeof copy);
    platform::WStrTerminate(copy, kMaxPath);
    return platform::ToUtf8(copy);
}

class Locked {
public:
    Locked() { platform::LockSharedMutex(g.mutex, platform::kInfinite); }
    ~Locked() { platform::UnlockSharedMutex(g.mutex); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Entry 0 of the queue, the rest moved down: commands are handled strictly
// in the order they were queued.
bool TakeCommand(HelperCommand* out) {
    if (platform::LoadAcquire(&g.control->m_cCommand) <= 0) return false;
    Locked lock;
    const int count = std::clamp(g.control->m_cCommand, 0, kCommandSlots);
    if (count == 0) {
        g.control->m_cCommand = 0;
        return false;
    }
    *out = g.control->m_Commands[0];
    std::memmove(&g.control->m_Commands[0], &g.control->m_Commands[1],
                 size_t(count - 1) * sizeof(HelperCommand));
    std::memset(&g.control->m_Commands[count - 1], 0, sizeof(HelperCommand));
    g.control->m_cCommand = count - 1;
    return true;
}

void RebuildColorTable() {
    const Project& p = *g.project;
    g.colorTableOn = frameops::ColorTableActive(p.m_Brightness, p.m_Contrast);
    if (g.colorTableOn) frameops::BuildColorTable(p.m_Brightness, p.m_Contrast, g.colorTable);
    g.effectSettings = frameops::EffectSettingsOf(p);
}

// The effects on the part of the frame the picture covers. scale: frame
// pixels per pixel of the size shown, so a preview delivered smaller than the
// output blurs and sharpens as far as the output does.
void ApplyEffects(picture::BitmapView frame, const picture::RectI& covered, double scale) {
    g.effects.Set(g.effectSettings, scale);
    if (!g.effects.Active() || covered.width <= 0 || covered.height <= 0) return;
    const picture::Error e = g.effects.Apply(frameops::SubView(frame, covered));
    if (e != picture::Error::None && !g.effectsFailed) {
        HelperLog(kHelperLogError, "Blur or sharpen not applied: %s\n", picture::ErrorText(e));
        g.effectsFailed = true;
    }
}

void LoadWatermark() {
    g.watermarkSource.Reset();
    g.watermark.Reset();
    g.watermarkPrepared = false;
    if (g.project->m_WatermarkFile[0] == 0) return;
    const std::string path = PathField(g.project->m_WatermarkFile);
    const picture::Error e = frameops::LoadWatermark(path, g.watermarkSource);
    if (e != picture::Error::None)
        HelperLog(kHelperLogError, "Watermark %s not drawn: %s\n", path.c_str(),
                  picture::ErrorText(e));
}

int Orientation() {
    const int o = g.project->m_Orientation;
    return o >= kOrientUpright && o <= kOrientTransverse ? o : kOrientUpright;
}

Size OrientedSize() {
    return frameops::OrientedSize(g.source, Orientation());
}

// The size the engine shows: the whole oriented source while crop editing,
// else the output size.
Size DisplaySize() {
    if (g.cropMode) return OrientedSize();
    return {g.project->m_OutputWidth, g.project->m_OutputHeight};
}

// The decoded picture turned by the orientation, with brightness and
// contrast applied. The decode buffer itself is never changed: a command
// composes the same frame again.
picture::ConstBitmapView OrientedPicture() {
    const Size o = OrientedSize();
    if (g.source.width <= 0 || g.source.height <= 0) return {};
    const int orientation = Orientation();
    if (orientation == kOrientUpright && !g.colorTableOn)
        return {g.decoded.data(), o.width, o.height, ptrdiff_t(o.width) * 4,
                picture::AlphaMode::Opaque};
    picture::BitmapView view{g.oriented.data(), o.width, o.height, ptrdiff_t(o.width) * 4,
                             picture::AlphaMode::Opaque};
    if (orientation == kOrientUpright) {
        // Upright: the table is applied on the way, one pass over the picture.
        const uint8_t* from = g.decoded.data();
        uint8_t* to = g.oriented.data();
        for (size_t i = 0, n = size_t(o.width) * o.height; i < n; ++i, from += 4, to += 4) {
            to[0] = g.colorTable[from[0]];
            to[1] = g.colorTable[from[1]];
            to[2] = g.colorTable[from[2]];
            to[3] = from[3];
        }
        return view;
    }
    frameops::OrientPlane(g.decoded.data(), g.source.width * 4, g.source.width, g.source.height,
                          4, g.oriented.data(), o.width * 4, orientation);
    if (g.colorTableOn) frameops::ApplyColorTable(view, g.colorTable);
    return view;
}

// Copies a picture of the same size row by row.
void CopyPicture(picture::ConstBitmapView from, picture::BitmapView to) {
    for (int y = 0; y < to.height; ++y)
        std::memcpy(to.Row(y), from.Row(y), size_t(to.width) * 4);
}

// A rectangle of display pixels in delivered pixels.
struct Scale {
    double x = 1, y = 1;
    int X(int v) const { return int(std::lround(v * x)); }
    int Y(int v) const { return int(std::lround(v * y)); }
};

void DrawWatermarkOnto(picture::BitmapView target, const Scale& s) {
    const Project& p = *g.project;
    if (g.watermarkSource.Empty() || p.m_WatermarkFile[0] == 0) return;
    const int left = s.X(p.m_WatermarkLeft), top = s.Y(p.m_WatermarkTop);
    const int width = s.X(p.m_WatermarkWidth), height = s.Y(p.m_WatermarkHeight);
    if (width <= 0 || height <= 0) return;
    const int64_t right = int64_t(left) + width, bottom = int64_t(top) + height;
    // Nothing of it on the picture: nothing to prepare.
    if (left >= target.width || top >= target.height || right <= 0 || bottom <= 0) return;
    // Wholly on the picture it is prepared as the outputs prepare it; reaching
    // beyond, only the part on the picture is made, so its size (a project
    // field) never decides what is allocated.
    const bool whole = left >= 0 && top >= 0 && right <= target.width && bottom <= target.height;
    const WatermarkKey key{width, height, p.m_WatermarkTransparency, whole ? 0 : left,
                           whole ? 0 : top, target.width, target.height};
    if (!g.watermarkPrepared || !(key == g.watermarkKey)) {
        picture::Error e;
        if (whole) {
            e = frameops::PrepareWatermarkFrom(g.watermarkSource, width, height,
                                               p.m_WatermarkTransparency, g.watermark);
        } else {
            e = frameops::PrepareWatermarkPart(g.watermarkSource, left, top, width, height,
                                               p.m_WatermarkTransparency, target.width,
                                               target.height, g.watermark, &g.watermarkAt);
        }
        g.watermarkKey = key;
        g.watermarkPrepared = true;
        if (e != picture::Error::None) {
            HelperLog(kHelperLogError, "Watermark of %dx%d not drawn: %s\n", width, height,
                      picture::ErrorText(e));
            g.watermark.Reset();
        }
    }
    // A whole watermark is prepared once for its size; moving it (a drag)
    // only changes where it goes.
    if (whole) g.watermarkAt = {left, top};
    if (g.watermark.Empty()) return;
    frameops::DrawWatermark(g.watermark, target, g.watermarkAt.x, g.watermarkAt.y);
    if (g.watermarkMode) {
        // The edit frame over the part of the watermark on the picture.
        frameops::DrawEditFrame(target, left, top, int(std::min<int64_t>(right, target.width)),
                                int(std::min<int64_t>(bottom, target.height)));
    }
}

// Composes the current decoded frame into PreviewFrame and waits until the
// engine has presented it.
void ComposeAndShow() {
    const Size display = DisplaySize();
    const PreviewFrameSize out = DeliveredPreviewSize(display.width, display.height);
    // Refused sizes are logged once each, not for every frame of a playback.
    const bool refused = out.width <= 0 || out.height <= 0 ||
                         size_t(out.width) * size_t(out.height) * 4 > g.frameBlock.size;
    if (refused) {
        if (!(g.refused == display)) {
            if (out.width <= 0 || out.height <= 0)
                HelperLog(kHelperLogError, "No picture of %dx%d to show\n", display.width,
                          display.height);
            else // the block the engine mapped is the bound, whatever size was asked for
                HelperLog(kHelperLogError,
                          "A frame of %dx%d does not fit the frame block of %zu bytes\n",
                          out.width, out.height, g.frameBlock.size);
        }
        g.refused = display;
        return;
    }
    g.refused = {};
    picture::BitmapView frame{g.frame, out.width, out.height, ptrdiff_t(out.width) * 4,
                              picture::AlphaMode::Opaque};
    if (g.delivered.width != out.width || g.delivered.height != out.height) {
        std::memset(g.frame, 0, size_t(out.width) * out.height * 4);
        g.delivered = {out.width, out.height};
    }
    const Scale s{double(out.width) / display.width, double(out.height) / display.height};
    const bool reduced = out.width != display.width || out.height != display.height;

    const picture::ConstBitmapView picture = OrientedPicture();
    if (picture.Empty()) {
        frame.Fill({0, 0, 0, 255});
    } else {
        const picture::RectI crop = frameops::ClampCrop(
            {g.project->m_CropLeft, g.project->m_CropTop, g.project->m_CropWidth,
             g.project->m_CropHeight},
            picture.width, picture.height);
        if (g.cropMode) {
            if (reduced)
                g.scaler.Stretch(picture, frame);
            else
                CopyPicture(picture, frame);
            // Blur and sharpen reach as far as they will in the output, whose
            // picture is the crop scaled to the fit: so many source pixels
            // make one output pixel.
            const picture::RectF fit = frameops::FitRect(
                g.project->m_ResizeMethod, g.project->m_OutputWidth, g.project->m_OutputHeight,
                crop.width, crop.height);
            const double perOutputPixel =
                fit.width > 0 && crop.width > 0 ? crop.width / double(fit.width) : 1.0;
            ApplyEffects(frame, {0, 0, frame.width, frame.height}, s.x * perOutputPixel);
            frameops::DrawEditFrame(frame, s.X(crop.x), s.Y(crop.y), s.X(crop.x + crop.width),
                                    s.Y(crop.y + crop.height));
        } else {
            const bool whole = crop.x == 0 && crop.y == 0 && crop.width == picture.width &&
                               crop.height == picture.height;
            if (whole && !reduced && display.width == picture.width &&
                display.height == picture.height) {
                CopyPicture(picture, frame);
                ApplyEffects(frame, {0, 0, frame.width, frame.height}, s.x);
            } else {
                const picture::RectF fit = frameops::FitRect(
                    g.project->m_ResizeMethod, display.width, display.height, crop.width,
                    crop.height);
                const picture::RectF to{float(fit.x * s.x), float(fit.y * s.y),
                                        float(fit.width * s.x), float(fit.height * s.y)};
                // Everything the fit leaves uncovered is cleared each time, so
                // no earlier picture or watermark lingers in the bars.
                if (frameops::FitLeavesBars(to, out.width, out.height))
                    frameops::ClearOutsideFit(frame, to);
                g.scaler.Draw(picture, crop, frame, to);
                ApplyEffects(frame, frameops::CoveredRect(to, out.width, out.height), s.x);
            }
            DrawWatermarkOnto(frame, s);
        }
    }
    platform::SendMessage(g.control->m_hwndRender, kMsgFrameReady, out.width, out.height);
}

void SaveSnapshot(picture::ConstBitmapView picture) {
    const std::string path = PathField(g.project->m_szPosterImage);
    if (path.empty() || picture.Empty()) {
        HelperLog(kHelperLogError, "No snapshot: %s\n",
                  path.empty() ? "no poster path" : "no picture");
        return;
    }
    picture::EncoderId bmp;
    picture::FindEncoderByMimeType("image/bmp", bmp);
    // Written under a temporary name and renamed when complete: whoever
    // looks for the poster never finds half a picture.
    const picture::Error e = picture::SavePicture(picture, path, bmp);
    if (e != picture::Error::None)
        HelperLog(kHelperLogError, "Snapshot %s not saved: %s\n", path.c_str(),
                  picture::ErrorText(e));
}

void Handle(const HelperCommand& c) {
    switch (c.m_nCode) {
    case kCmdSnapshotSource:
        SaveSnapshot(OrientedPicture());
        break;
    case kCmdSnapshotShown: {
        // The poster is the picture as the outputs will show it: the dimming
        // and dashed frame of watermark editing, and the whole source shown
        // for crop editing, are editing aids and never become the poster.
        const bool editing = g.watermarkMode || g.cropMode;
        const bool watermarkMode = g.watermarkMode, cropMode = g.cropMode;
        g.watermarkMode = g.cropMode = false;
        if (editing || g.delivered.width <= 0) ComposeAndShow();
        SaveSnapshot(picture::ConstBitmapView{g.frame, g.delivered.width, g.delivered.height,
                                              ptrdiff_t(g.delivered.width) * 4,
                                              picture::AlphaMode::Opaque});
        g.watermarkMode = watermarkMode;
        g.cropMode = cropMode;
        if (editing) ComposeAndShow();
        break;
    }
    case kCmdWatermarkPictureChanged:
        LoadWatermark();
        ComposeAndShow();
        break;
    case kCmdAdjustmentsChanged:
        RebuildColorTable();
        ComposeAndShow();
        break;
    case kCmdEnterCropMode:
    case kCmdLeaveCropMode:
        g.cropMode = c.m_nCode == kCmdEnterCropMode;
        ComposeAndShow();
        break;
    case kCmdEnterWatermarkMode:
    case kCmdLeaveWatermarkMode:
        g.watermarkMode = c.m_nCode == kCmdEnterWatermarkMode;
        ComposeAndShow();
        break;
    case kCmdCropOrWatermarkMoved:
    case kCmdFlipChanged:
    case kCmdRotationChanged:
    case kCmdOutputSizeChanged:
    case kCmdCropChanged:
    case kCmdResizeMethodChanged:
        // The geometry is read from the project at every composition.
        ComposeAndShow();
        break;
    case kCmdPresent:
        g.target = c.m_llParam;
        break;
    default:
        break;
    }
}

// ---- callbacks ----

int32_t Init(HelperLaunch* launch) {
    HelperLogOpen(launch->m_hLogFile, "morvane");
    if (!MapBlock(launch->m_hSession, sizeof(PreviewControl), &g.controlBlock, "PreviewControl"))
        return -1;
    g.control = static_cast<PreviewControl*>(g.controlBlock.view);
    if (!MapBlock(g.control->m_hMediaInfo, sizeof(MediaInfo), &g.mediaBlock, "MediaInfo") ||
        !MapBlock(g.control->m_hTaskList, sizeof(Project), &g.projectBlock, "Project") ||
        !MapBlock(g.control->m_hFrame, 0, &g.frameBlock, "PreviewFrame"))
        return -1;
    g.media = static_cast<const MediaInfo*>(g.mediaBlock.view);
    g.project = static_cast<const Project*>(g.projectBlock.view);
    g.frame = static_cast<uint8_t*>(g.frameBlock.view);
    if (const int rc = platform::OpenSharedMutex(g.control->m_hMutex, &g.mutex); rc != 0) {
        HelperLog(kHelperLogError, "Failed(%d) to open the preview mutex\n", rc);
        return -1;
    }

    g.source = {g.media->m_Width, g.media->m_Height};
    if (!picture::IsAcceptedSize(g.source.width, g.source.height)) {
        if (g.media->m_bVideoStream)
            HelperLog(kHelperLogError, "No pictures from a source of %dx%d\n", g.source.width,
                      g.source.height);
        g.source = {};
    }
    const size_t bytes = size_t(g.source.width) * g.source.height * 4;
    g.decoded.assign(bytes, 0);
    g.oriented.assign(bytes, 0);
    g.ahead.assign(bytes, 0);
    g.prepared.assign(bytes, 0);

    const int64_t num = g.media->m_FrameRateNum, den = g.media->m_FrameRateDen;
    if (num > 0 && den > 0) g.frameDuration = std::max<int64_t>(1, den * 1000000 / num);
    g.target = 3 * g.frameDuration;
    g.lastDelivered = -1;

    RebuildColorTable();
    LoadWatermark();
    HelperLog(kHelperLogInfo, "Preview of %dx%d, frame duration %lld us\n", g.source.width,
              g.source.height, static_cast<long long>(g.frameDuration));
    return 0;
}


int32_t CheckFormat(int32_t format, int32_t w, int32_t h, int32_t tw, int32_t th) {
    return (format == kPixBgra || format == kPixBgr0) && w == tw && h == th &&
                   tw == g.source.width && th == g.source.height && w > 0 && h > 0
               ? 0
               : -1;
}

int32_t GetFormat(int32_t* format, int32_t* w, int32_t* h) {
    *format = kPixBgra;
    *w = g.source.width;
    *h = g.source.height;
    return 0;
}

// The picture on screen covers the clock's time.
bool Covered() {
    return g.shownSinceSeek && g.lastDelivered + g.frameDuration - 1 >= g.target;
}

void Delivered(int64_t time) {
    Locked lock;
    g.lastDelivered = time;
    g.shownSinceSeek = true;
    g.control->m_Pts = time;
    const int64_t stop = g.project->m_ClipStop;
    if (stop != 0) g.control->m_EndOfStream = time >= stop ? 1 : 0;
}

// Shows the held frame once the clock has reached it (also when the clock
// has gone past it: it is still nearer than the picture on screen, and at
// the end of the file it is the last one there is).
void PromoteAhead() {
    if (g.preparing || !g.aheadReady || g.aheadTime > g.target) return;
    g.aheadReady = false;
    std::swap(g.decoded, g.ahead);
    Delivered(g.aheadTime);
    ComposeAndShow();
}

// The prepared picture goes on screen and decoding goes on after it.
void ShowPrepared() {
    g.preparing = g.preparedReady = g.showWhenPrepared = false;
    std::swap(g.decoded, g.prepared);
    Delivered(g.preparedTime);
    ComposeAndShow();
}

// A seek to the prepared time takes what is prepared, or what is being
// prepared, instead of starting again at a keyframe. False when nothing
// usable is there for it (the decoder met the end of the file meanwhile).
bool SeekToPrepared(int64_t time) {
    if (!g.preparing || g.atEnd || time != g.prepareFor) return false;
    platform::InterlockedExchange(&g.control->m_EndOfStream, 0);
    g.endSeek = -1;
    g.endSeekDone = false;
    g.target = time;
    if (g.preparedReady) {
        ShowPrepared();
    } else {
        // Nothing is shown for the new time yet.
        g.showWhenPrepared = true;
        g.lastDelivered = -1;
        g.shownSinceSeek = false;
    }
    return true;
}

// The host seeks; to the parked time it takes the parked decoder for it.
int32_t HostSeek(int64_t time, int64_t* seekTo) {
    if (time == g.parkedAt) g.parkedAt = -1;
    *seekTo = time;
    return kPollSeek;
}

// Where the next play after the end starts.
int64_t ClipStart() {
    return std::max<int64_t>(g.project->m_ClipStart, 0);
}

int32_t Poll(int64_t* seekTo) {
    for (;;) {
        PromoteAhead();
        if (g.parkedAt >= 0 && g.parkedAt != ClipStart()) {
            // Parked for a clip start that is no more: its memory goes now;
            // the next playback parks at the new one.
            g.parkedAt = -1;
            return kPollUnpark;
        }
        HelperCommand c{};
        const bool taken = TakeCommand(&c);
        if (!taken && g.endSeek >= 0) {
            g.target = g.endSeek;
            g.endSeek = -1;
            g.atEnd = false;
            g.shownSinceSeek = false;
            return HostSeek(g.target, seekTo);
        }
        if (!taken) {
            // Decode on only while the picture shown does not cover the
            // clock's time; paused, caught up or at the end the helper sleeps
            // until a command comes. (Decoding on while the frame shown merely
            // starts before the time would put the frame after it on screen:
            // after a paused seek, the wrong picture.) While preparing, only
            // until the prepared picture is there.
            const bool decodeOn = g.preparing ? !g.preparedReady && !g.atEnd
                                              : !g.atEnd && !Covered() && !g.aheadReady;
            if (decodeOn) return 0;
            if (platform::WaitForHandle(g.control->m_hCommandEvent, platform::kInfinite) ==
                platform::kWaitFailed) {
                // A broken event must not turn into a busy loop.
                if (!g.waitFailed) HelperLog(kHelperLogError, "Cannot wait for commands\n");
                g.waitFailed = true;
                usleep(100000);
            }
            continue;
        }
        if (c.m_nCode == kCmdPresent) {
            Handle(c);
            // Playing: a decoder goes to wait at the clip start now, the
            // earliest time, so that it is there however soon the end comes.
            if (g.parkedAt < 0 && !g.decoded.empty()) {
                g.parkedAt = *seekTo = ClipStart();
                return kPollPark;
            }
            continue;
        }
        if (c.m_nCode == kCmdPrepare) {
            // The picture on screen and its time stay; only the decoder moves.
            g.preparing = true;
            g.preparedReady = g.showWhenPrepared = false;
            g.aheadReady = false;
            g.atEnd = false;
            g.endSeek = -1;
            g.prepareFor = g.target = c.m_llParam;
            return HostSeek(c.m_llParam, seekTo);
        }
        if (c.m_nCode == kCmdSeek && SeekToPrepared(c.m_llParam)) continue;
        if (c.m_nCode == kCmdSeek) {
            g.preparing = g.preparedReady = g.showWhenPrepared = false;
            platform::InterlockedExchange(&g.control->m_EndOfStream, 0);
            g.atEnd = false;
            g.endSeek = -1;
            g.endSeekDone = false;
            g.lastDelivered = -1;
            g.shownSinceSeek = false;
            g.aheadReady = false;
            g.target = c.m_llParam;
            return HostSeek(c.m_llParam, seekTo);
        }
        Handle(c);
    }
}

int32_t GetFrameBuffer(void* planes[3], int32_t strides[3], int64_t time) {
    if (time + g.frameDuration - 1 < g.target) return 1; // ends before the wanted time
    if (g.decoded.empty()) return -1;
    uint8_t* buffer = g.decoded.data();
    if (g.preparing) {
        // The prepared picture, then the one after it as the frame ahead
        // (decoders hand out frames in bursts); nothing beyond.
        if (!g.preparedReady) buffer = g.prepared.data();
        else if (!g.aheadReady && time > g.preparedTime) buffer = g.ahead.data();
        else return 1;
    } else if (Covered()) {
        // Not due yet: keep one such frame, skip any further one.
        if (g.aheadReady || time <= g.lastDelivered) return 1;
        buffer = g.ahead.data();
    }
    planes[0] = buffer;
    planes[1] = planes[2] = nullptr;
    strides[0] = g.source.width * 4;
    strides[1] = strides[2] = 0;
    return 0;
}

int32_t FrameReady(void* planes[3], int32_t[3], int64_t time) {
    if (planes[0] == g.prepared.data()) {
        g.preparedReady = true;
        g.preparedTime = time;
        if (g.showWhenPrepared) ShowPrepared();
        return 0;
    }
    if (planes[0] == g.ahead.data()) {
        g.aheadReady = true;
        g.aheadTime = time;
        return 0;
    }
    Delivered(time);
    ComposeAndShow();
    return 0;
}

int32_t EndOfStream(int64_t lastFrameTime) {
    g.atEnd = true;
    // The end met while preparing is not the end of what is on screen,
    // unless Play is already waiting for it.
    if (g.preparing && !g.showWhenPrepared) return 0;
    g.preparing = g.showWhenPrepared = false;
    platform::InterlockedExchange(&g.control->m_EndOfStream, 1);
    if (!g.shownSinceSeek && !g.endSeekDone && !g.decoded.empty() && lastFrameTime >= 0) {
        g.endSeek = lastFrameTime;
        g.endSeekDone = true;
    }
    return 0;
}

} // namespace

} // namespace reelpage::morvane

REELPAGE_PLUGIN_ENTRY {
    using namespace reelpage::morvane;
    reelpage::plugin_ignore::FillTable(table);
    table->Init = Init;
    table->CheckFormat = CheckFormat;
    table->GetFormat = GetFormat;
    table->Poll = Poll;
    table->GetFrameBuffer = GetFrameBuffer;
    table->FrameReady = FrameReady;
    table->EndOfStream = EndOfStream;
}
