#pragma once
// The blocks the engine shares with its helper processes. Each lives in an
// anonymous inheritable shared block; handle fields hold descriptors that are
// valid unchanged in the helpers because they are inherited. Layouts are
// fixed: every offset a helper relies on is asserted.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "reelpage/types.h"

namespace reelpage {

// The block whose handle is on the decoder helper's command line.
struct HelperLaunch {
    WCHAR m_szFileName[260]; // the source media file
    HANDLE32 m_hLogFile;     // the engine's log, or 0
    int32_t m_bMediaInfo;    // 1 in a media-information session
    int64_t m_llStart;       // encoding: clip start in microseconds
    WCHAR m_szPlugin[260];   // full path of the plug-in to load
    HANDLE32 m_hSession;     // ProbeRequest, PreviewControl or Talvoricer
} __attribute__((packed, aligned(4)));
static_assert(sizeof(HelperLaunch) == 1060);
static_assert(offsetof(HelperLaunch, m_hLogFile) == 0x208);
static_assert(offsetof(HelperLaunch, m_bMediaInfo) == 0x20C);
static_assert(offsetof(HelperLaunch, m_llStart) == 0x210);
static_assert(offsetof(HelperLaunch, m_szPlugin) == 0x218);
static_assert(offsetof(HelperLaunch, m_hSession) == 0x420);

struct HelperCommand {
    int32_t m_nCode;  // a PreviewCommand (reelpage/protocol.h)
    int32_t reserved; // always 0
    int64_t m_llParam;
};
static_assert(sizeof(HelperCommand) == 16);

constexpr int kCommandSlots = 18;

// One preview session.
struct PreviewControl {
    HANDLE32 m_hMediaInfo;
    HANDLE32 m_hTaskList; // the Project block
    HWND m_hwndRender;
    HANDLE32 m_hFrame; // the PreviewFrame block
    HANDLE32 m_hCommandEvent;
    HANDLE32 m_hMutex; // guards m_Pts and the command queue
    int64_t m_Pts;
    int32_t m_EndOfStream;
    int32_t m_cCommand;
    HelperCommand m_Commands[kCommandSlots];
};
static_assert(sizeof(PreviewControl) == 328);
static_assert(offsetof(PreviewControl, m_Pts) == 0x18);
static_assert(offsetof(PreviewControl, m_EndOfStream) == 0x20);
static_assert(offsetof(PreviewControl, m_cCommand) == 0x24);
static_assert(offsetof(PreviewControl, m_Commands) == 0x28);

// The frame hand-off buffer of a preview: BGRX rows, top-down, pitch width*4.
constexpr size_t kPreviewFrameSize = 2560 * 1440 * 4;
constexpr int64_t kPreviewFrameMaxPixels = 2560 * 1440;

struct PreviewFrameSize {
    int32_t width;
    int32_t height;
};

// The size a frame of the session's display size is delivered at. A display
// size can exceed what the hand-off block holds (a 4K source at its own size,
// crop editing on a large source, a 2048x2048 custom size); such frames come
// scaled down with their aspect kept. The preview helper and the engine both
// size frames with this one rule, and each still checks the size against the
// block it mapped before touching it. A non-positive side gives 0 x 0.
inline PreviewFrameSize DeliveredPreviewSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        return {0, 0};
    const int64_t pixels = int64_t(width) * height;
    if (pixels <= kPreviewFrameMaxPixels)
        return {width, height};
    const double scale = std::sqrt(double(kPreviewFrameMaxPixels) / double(pixels));
    int64_t w = std::max<int64_t>(1, int64_t(width * scale + 1e-6));
    int64_t h = std::max<int64_t>(1, int64_t(height * scale + 1e-6));
    while (w * h > kPreviewFrameMaxPixels) {
        if (w >= h)
            --w;
        else
            --h;
    }
    return {int32_t(w), int32_t(h)};
}

// One media-information session.
struct ProbeRequest {
    HANDLE32 m_hMediaInfo;
    HWND m_hwndMessage;
    int32_t m_lParam;
    uint32_t m_uMsgDone;
    uint32_t m_uMsgProgress;
};
static_assert(sizeof(ProbeRequest) == 20);

// Talvoricer.m_Transform: the frame path of an encoding, what the encoding
// plug-in does to each decoded picture before the encoders get it.
enum FrameTransform : int32_t {
    kTransformPassThrough = 0,  // decoded straight into the slot as YUV
    kTransformOrientOnly = 1,   // YUV, turned plane by plane into the slot
    kTransformResize = 2,       // BGRA, fitted into the slot
    kTransformOrientResize = 3, // as kTransformResize, turned first
    kTransformEffectsOnly = 4,  // BGRA decoded into the slot, worked on there
};
// The paths whose slots hold YUV 4:2:0 planes (kPixYuv420); the others' hold
// BGRA pictures (kPixBgra).
constexpr bool IsPlanarTransform(int32_t transform) {
    return transform == kTransformPassThrough || transform == kTransformOrientOnly;
}

// The status block of one encoding job.
struct Talvoricer {
    int32_t m_cEncoder;
    HANDLE32 m_hMediaInfo;
    HANDLE32 m_hTaskList;
    HANDLE32 m_hVideoStreams[4];
    HWND m_hwndMessage;
    int32_t m_lParam;
    int32_t m_Transform; // a FrameTransform
    int32_t m_FlipXY;
    int32_t m_EndOfStream;
    int64_t m_Pts;
    int64_t m_Duration;
};
static_assert(sizeof(Talvoricer) == 64);
static_assert(offsetof(Talvoricer, m_hVideoStreams) == 0x0C);
static_assert(offsetof(Talvoricer, m_hwndMessage) == 0x1C);
static_assert(offsetof(Talvoricer, m_Transform) == 0x24);
static_assert(offsetof(Talvoricer, m_FlipXY) == 0x28);
static_assert(offsetof(Talvoricer, m_EndOfStream) == 0x2C);
static_assert(offsetof(Talvoricer, m_Pts) == 0x30);
static_assert(offsetof(Talvoricer, m_Duration) == 0x38);

// Pixel-format codes on the wire between the decoder helper and a plug-in.
enum PixelCode : int32_t {
    kPixYuv420 = 0,
    kPixYuyv = 1,
    kPixBgr24 = 3,
    kPixYuv410 = 6,
    kPixYuv411 = 7,
    kPixUyvy = 17,
    kPixNv12 = 25,
    kPixNv21 = 26,
    kPixBgra = 30,
    kPixRgb565 = 44,
    kPixRgb555 = 46,
    kPixBgr0 = 298,
};

// Frames from the encoding plug-in to the encoders. A job uses at most
// kVideoSlots slots; the engine may choose fewer (m_cSlots in every encoder's
// header), as slots beyond what the encoders are apart only hold memory.
constexpr int kVideoSlots = 16;
constexpr int kSlotTableSize = 1024;
struct VideoStreamHeader {
    int32_t m_cSlotsInUse;
    int32_t m_cFramesAnnounced;
    int32_t m_bEndOfStream;
    HANDLE32 m_hFrameEvent;
    HANDLE32 m_hSlotEvent;
    int32_t m_cSlots; // slots of the job; 0 (a header left zero) means kVideoSlots
    int32_t unused[2];
    uint8_t m_SlotOfFrame[kSlotTableSize]; // slot of output frame n at n mod 1024
};
static_assert(sizeof(VideoStreamHeader) == 1056);
static_assert(offsetof(VideoStreamHeader, m_hFrameEvent) == 0x0C);
static_assert(offsetof(VideoStreamHeader, m_hSlotEvent) == 0x10);
static_assert(offsetof(VideoStreamHeader, m_SlotOfFrame) == 0x20);
constexpr size_t kVideoSlotsOffset = 1056;
constexpr size_t kSharedVideoBlockSize = 1088;
// Bytes of one frame of the output size in a pixel format (kPixBgra or
// kPixYuv420).
constexpr size_t VideoFrameBytes(int32_t width, int32_t height, int32_t pixelFormat) {
    return pixelFormat == kPixBgra ? size_t(width) * height * 4 : size_t(width) * height * 3 / 2;
}
// The slots a header announces: its m_cSlots when within 1..kVideoSlots,
// else kVideoSlots.
constexpr int VideoSlotsOf(const VideoStreamHeader& header) {
    return header.m_cSlots >= 1 && header.m_cSlots <= kVideoSlots ? header.m_cSlots : kVideoSlots;
}
// Encoder 0's block: the header, the slots and 32 bytes of slack.
constexpr size_t VideoStreamBlockSize(size_t frameBytes, int slotCount = kVideoSlots) {
    return kVideoSlotsOffset + size_t(slotCount) * frameBytes + 32;
}
static_assert(VideoStreamBlockSize(640 * 480 * 4) == 19661888);

// PCM from the engine to the encoders.
struct AudioStreamHeader {
    int32_t m_cbAvailable;
    int32_t m_bEndOfStream;
    HANDLE32 m_hDataEvent;
    HANDLE32 m_hSpaceEvent;
    int32_t unused[4];
};
static_assert(sizeof(AudioStreamHeader) == 32);
constexpr size_t kAudioStreamBlockSize = 0x210040;
constexpr size_t kSharedAudioBlockSize = 64;
constexpr size_t kAudioRingOffset = 32;
constexpr int32_t kAudioRingSize = 0x200000;
constexpr int32_t kAudioHighWater = 0x1C0000;

// The block whose handle is on an encoder's command line.
struct EncoderTask {
    int32_t unused0;
    WCHAR m_szFileName[256];
    WCHAR m_szFormat[64];
    WCHAR unused1[64];
    WCHAR m_szVideoCodec[64];
    int32_t m_PixelFormat;
    int32_t m_VideoBitRate;
    int32_t m_FrameRateDen;
    int32_t m_FrameRateNum;
    int32_t m_Width;
    int32_t m_Height;
    int32_t unused2[3];
    WCHAR m_szAudioCodec[64];
    int32_t unused3[2];
    int32_t m_AudioBitRate;
    int32_t m_SampleRate;
    int32_t m_nChannel;
    int32_t m_bNoAudio;
    int32_t unused4;
    HANDLE32 m_hVideoStream;
    HANDLE32 m_hSharedVideo;
    int32_t m_nSharedVideoOffset;
    HANDLE32 m_hAudioStream;
    HANDLE32 m_hSharedAudio;
    int32_t m_nSharedAudioOffset;
    int32_t m_nAudioRingSize;
    HANDLE32 m_hLogFile;
    HWND m_hwndMessage;
    uint32_t m_uMsg;
    int32_t m_nIndex;
    HANDLE32 m_hSelf;
    HANDLE32 m_hProcess;
};
static_assert(sizeof(EncoderTask) == 1144);
static_assert(offsetof(EncoderTask, m_szFileName) == 0x004);
static_assert(offsetof(EncoderTask, m_szFormat) == 0x204);
static_assert(offsetof(EncoderTask, m_szVideoCodec) == 0x304);
static_assert(offsetof(EncoderTask, m_PixelFormat) == 0x384);
static_assert(offsetof(EncoderTask, m_VideoBitRate) == 0x388);
static_assert(offsetof(EncoderTask, m_FrameRateDen) == 0x38C);
static_assert(offsetof(EncoderTask, m_FrameRateNum) == 0x390);
static_assert(offsetof(EncoderTask, m_Width) == 0x394);
static_assert(offsetof(EncoderTask, m_Height) == 0x398);
static_assert(offsetof(EncoderTask, m_szAudioCodec) == 0x3A8);
static_assert(offsetof(EncoderTask, m_AudioBitRate) == 0x430);
static_assert(offsetof(EncoderTask, m_SampleRate) == 0x434);
static_assert(offsetof(EncoderTask, m_nChannel) == 0x438);
static_assert(offsetof(EncoderTask, m_bNoAudio) == 0x43C);
static_assert(offsetof(EncoderTask, m_hVideoStream) == 0x444);
static_assert(offsetof(EncoderTask, m_hSharedVideo) == 0x448);
static_assert(offsetof(EncoderTask, m_nSharedVideoOffset) == 0x44C);
static_assert(offsetof(EncoderTask, m_hAudioStream) == 0x450);
static_assert(offsetof(EncoderTask, m_hSharedAudio) == 0x454);
static_assert(offsetof(EncoderTask, m_nSharedAudioOffset) == 0x458);
static_assert(offsetof(EncoderTask, m_nAudioRingSize) == 0x45C);
static_assert(offsetof(EncoderTask, m_hLogFile) == 0x460);
static_assert(offsetof(EncoderTask, m_hwndMessage) == 0x464);
static_assert(offsetof(EncoderTask, m_uMsg) == 0x468);
static_assert(offsetof(EncoderTask, m_nIndex) == 0x46C);
static_assert(offsetof(EncoderTask, m_hSelf) == 0x470);
static_assert(offsetof(EncoderTask, m_hProcess) == 0x474);

// The block the encoding plug-in leaves the first output picture in (the
// handle travels in Talvoricer.m_hVideoStreams[kPosterFrameStream], a slot
// no encoder uses): this header, then width x height BGRA pixels, top-down,
// rows of width x 4 bytes. m_bReady turns 1 once the picture is complete.
constexpr int kPosterFrameStream = 3;
struct PosterFrameHeader {
    int32_t m_bReady;
    int32_t m_Width;
    int32_t m_Height;
    int32_t reserved;
};
static_assert(sizeof(PosterFrameHeader) == 16);
constexpr size_t PosterFrameBlockSize(int32_t width, int32_t height) {
    return sizeof(PosterFrameHeader) + size_t(width) * size_t(height) * 4;
}

} // namespace reelpage
