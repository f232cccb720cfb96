// The self-rendering preview plug-in. Its host writes a playing time into the
// session block and sets the clock event; the plug-in holds each frame until
// the clock has come within one frame of it, drops frames that fell more than
// three frames behind, and presents what it keeps itself: frames arrive in the
// decoder's own format (no conversion in the helper), are converted here and
// written into the block's pixel area, and the host's window is told.
#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/interlocked.h"
#include "platform/mutex.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "reelpage/blocks.h"
#include "reelpage/helper_log.h"
#include "reelpage/map_block.h"
#include "reelpage/messages.h"
#include "reelpage/plugin.h"
#include "reelpage/records.h"
#include "reelpage/render_control.h"

namespace reelpage::brisquel {

namespace {

// The formats frames are taken in as they are.
struct Accepted {
    int32_t code;
    AVPixelFormat format;
};
constexpr Accepted kFormats[] = {
    {kPixBgra, AV_PIX_FMT_BGRA},       {kPixBgr0, AV_PIX_FMT_BGR0},
    {kPixBgr24, AV_PIX_FMT_BGR24},     {kPixRgb565, AV_PIX_FMT_RGB565LE},
    {kPixRgb555, AV_PIX_FMT_RGB555LE}, {kPixYuyv, AV_PIX_FMT_YUYV422},
    {kPixUyvy, AV_PIX_FMT_UYVY422},    {kPixYuv420, AV_PIX_FMT_YUV420P},
    {kPixYuv411, AV_PIX_FMT_YUV411P},  {kPixYuv410, AV_PIX_FMT_YUV410P},
    {kPixNv12, AV_PIX_FMT_NV12},       {kPixNv21, AV_PIX_FMT_NV21},
};

AVPixelFormat FormatOf(int32_t code) {
    for (const Accepted& a : kFormats)
        if (a.code == code) return a.format;
    return AV_PIX_FMT_NONE;
}

// Where the helper writes a frame: one buffer in the frame's own format, its
// planes at the offsets and pitches chosen when the format was accepted.
struct Surface {
    int32_t code = -1;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;
    uint8_t* planes[4] = {};
    int pitches[4] = {};
};

bool Prepare(int32_t code, int width, int height, Surface* out) {
    const AVPixelFormat format = FormatOf(code);
    if (format == AV_PIX_FMT_NONE || width <= 0 || height <= 0 ||
        av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0)
        return false;
    Surface s;
    const int size = av_image_get_buffer_size(format, width, height, 32);
    if (size <= 0) return false;
    s.bytes.assign(size_t(size), 0);
    if (av_image_fill_arrays(s.planes, s.pitches, s.bytes.data(), format, width, height, 32) < 0)
        return false;
    s.code = code;
    s.format = format;
    s.width = width;
    s.height = height;
    *out = std::move(s);
    // The plane pointers were taken from s's buffer, which the move kept.
    return true;
}

struct State {
    platform::SharedBlock controlBlock, mediaBlock;
    RenderControl* control = nullptr;
    const MediaInfo* media = nullptr;
    platform::SharedMutex mutex;
    int clockEvent = -1;
    HWND window = 0;

    int width = 0, height = 0;     // the picture presented: the source size
    int64_t frameDuration = 40000; // D
    Surface surface;
    SwsContext* sws = nullptr;
    std::vector<uint8_t> picture; // the last frame presented, BGRX
    int64_t pictureTime = -1;
    bool ended = false;
    bool waitFailed = false;
};

State g;

class Locked {
public:
    Locked() { platform::LockSharedMutex(g.mutex, platform::kInfinite); }
    ~Locked() { platform::UnlockSharedMutex(g.mutex); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Waits for the host's next clock step, seek or redraw. A broken event must
// not turn into a busy loop.
void WaitForHost() {
    if (platform::WaitForHandle(g.clockEvent, platform::kInfinite) != platform::kWaitFailed) return;
    if (!g.waitFailed) HelperLog(kHelperLogError, "Cannot wait for the clock\n");
    g.waitFailed = true;
    usleep(100000);
}

// Puts the last picture into the pixel area and tells the host's window. The
// mutex is released before the message goes out: the host takes it to read
// the picture, and to step the clock.
void Present() {
    {
        Locked lock;
        RenderControl* c = g.control;
        if (!g.picture.empty()) std::memcpy(RenderPicture(c), g.picture.data(), g.picture.size());
        c->m_PictureWidth = g.width;
        c->m_PictureHeight = g.height;
        c->m_PicturePts = g.pictureTime;
        ++c->m_cPresented;
    }
    if (g.window) platform::SendMessage(g.window, kMsgFrameReady, g.width, g.height);
}

void ServeRedraw() {
    if (platform::InterlockedCompareExchange(&g.control->m_bRedraw, 0, 1) == 1) Present();
}

bool SeekRequested() {
    return platform::LoadAcquire(&g.control->m_bSeek) != 0;
}

int64_t Clock() {
    Locked lock;
    return g.control->m_llClock;
}

// ---- callbacks ----

int32_t Init(HelperLaunch* launch) {
    HelperLogOpen(launch->m_hLogFile, "Brisquel");
    if (!MapBlock(launch->m_hSession, sizeof(RenderControl), &g.controlBlock, "RenderControl"))
        return -1;
    g.control = static_cast<RenderControl*>(g.controlBlock.view);
    if (!MapBlock(g.control->m_hMediaInfo, sizeof(MediaInfo), &g.mediaBlock, "MediaInfo"))
        return -1;
    g.media = static_cast<const MediaInfo*>(g.mediaBlock.view);
    if (const int rc = platform::OpenSharedMutex(g.control->m_hMutex, &g.mutex); rc != 0) {
        HelperLog(kHelperLogError, "Failed(%d) to open the render mutex\n", rc);
        return -1;
    }
    g.clockEvent = g.control->m_hClockEvent;
    g.window = g.control->m_hwndVideo;

    g.width = g.media->m_Width;
    g.height = g.media->m_Height;
    if (g.width <= 0 || g.height <= 0 ||
        av_image_check_size(unsigned(g.width), unsigned(g.height), 0, nullptr) < 0) {
        HelperLog(kHelperLogError, "No pictures from a source of %dx%d\n", g.width, g.height);
        return -1;
    }
    // The pixel area must hold a whole picture: the block is remapped at its
    // full size and its size checked before anything is written there.
    const int handle = g.controlBlock.handle;
    platform::UnmapSharedBlock(&g.controlBlock);
    if (!MapBlock(handle, 0, &g.controlBlock, "RenderControl")) return -1;
    g.control = static_cast<RenderControl*>(g.controlBlock.view);
    if (g.controlBlock.size < RenderControlBytes(g.width, g.height)) {
        HelperLog(kHelperLogError, "The render block holds no %dx%d picture\n", g.width,
                  g.height);
        return -1;
    }

    const int64_t num = g.media->m_FrameRateNum, den = g.media->m_FrameRateDen;
    if (num > 0 && den > 0) g.frameDuration = std::max<int64_t>(1, den * 1000000 / num);

    // A black picture until the first frame.
    g.picture.assign(size_t(g.width) * g.height * 4, 0);
    for (size_t i = 3; i < g.picture.size(); i += 4) g.picture[i] = 0xFF;
    {
        Locked lock;
        g.control->m_nFormat = -1;
        g.control->m_PictureWidth = g.width;
        g.control->m_PictureHeight = g.height;
        g.control->m_PicturePts = -1;
        std::memcpy(RenderPicture(g.control), g.picture.data(), g.picture.size());
    }
    HelperLog(kHelperLogInfo, "Rendering %dx%d, frame duration %lld us\n", g.width, g.height,
              static_cast<long long>(g.frameDuration));
    return 0;
}

int32_t CheckFormat(int32_t format, int32_t width, int32_t height, int32_t, int32_t) {
    // Frames come at the size offered; presenting stretches them to the
    // source size.
    Surface s;
    if (!Prepare(format, width, height, &s)) {
        HelperLog(kHelperLogError, "Unsupported this D3D FORMAT.\n");
        return -1;
    }
    g.surface = std::move(s);
    platform::StoreRelease(&g.control->m_nFormat, format);
    return 0;
}

int32_t GetFormat(int32_t* format, int32_t* width, int32_t* height) {
    *format = kPixBgra;
    *width = g.width;
    *height = g.height;
    if (Prepare(kPixBgra, g.width, g.height, &g.surface))
        platform::StoreRelease(&g.control->m_nFormat, kPixBgra);
    return 0;
}

int32_t Poll(int64_t* seekTo) {
    for (;;) {
        if (platform::InterlockedCompareExchange(&g.control->m_bSeek, 0, 1) == 1) {
            {
                Locked lock;
                *seekTo = g.control->m_llSeek;
            }
            // The file plays on from the seek: its end is no longer reached.
            platform::InterlockedExchange(&g.control->m_EndOfStream, 0);
            g.ended = false;
            return 1;
        }
        ServeRedraw();
        // After the end nothing is decoded until the host seeks: wait for it
        // here, serving redraws, rather than have the helper ask in a loop.
        if (!g.ended) return 0;
        WaitForHost();
    }
}

int32_t GetFrameBuffer(void* planes[3], int32_t strides[3], int64_t time) {
    if (!g.surface.planes[0]) return -1;
    int64_t clock = 0;
    for (;;) {
        if (SeekRequested()) return 1; // the seek comes with the next Poll
        ServeRedraw();
        clock = Clock();
        if (time <= clock + g.frameDuration) break;
        WaitForHost();
        if (SeekRequested()) return 1;
    }
    if (time + 3 * g.frameDuration < clock) return 1; // late
    for (int i = 0; i < 3; ++i) {
        planes[i] = g.surface.planes[i];
        strides[i] = g.surface.pitches[i];
    }
    return 0;
}

int32_t FrameReady(void*[3], int32_t[3], int64_t time) {
    {
        Locked lock;
        g.control->m_Pts = time;
    }
    const Surface& s = g.surface;
    g.sws = sws_getCachedContext(g.sws, s.width, s.height, s.format, g.width, g.height,
                                 AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!g.sws) {
        HelperLog(kHelperLogError, "Cannot convert frames of format %d\n", s.code);
        return 0;
    }
    uint8_t* dst[4] = {g.picture.data(), nullptr, nullptr, nullptr};
    const int dstPitch[4] = {g.width * 4, 0, 0, 0};
    if (sws_scale(g.sws, s.planes, s.pitches, 0, s.height, dst, dstPitch) <= 0) {
        HelperLog(kHelperLogError, "Cannot convert a frame of format %d\n", s.code);
        return 0;
    }
    g.pictureTime = time;
    Present();
    return 0;
}

int32_t EndOfStream(int64_t) {
    platform::InterlockedExchange(&g.control->m_EndOfStream, 1);
    g.ended = true;
    return 0;
}


} // namespace

} // namespace reelpage::brisquel

REELPAGE_PLUGIN_ENTRY {
    using namespace reelpage::brisquel;
    reelpage::plugin_ignore::FillTable(table);
    table->Init = Init;
    table->CheckFormat = CheckFormat;
    table->GetFormat = GetFormat;
    table->Poll = Poll;
    table->GetFrameBuffer = GetFrameBuffer;
    table->FrameReady = FrameReady;
    table->EndOfStream = EndOfStream;
}
