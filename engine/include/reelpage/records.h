#pragma once
// The records shared between the engine, the program and the helpers. Their
// byte layout is fixed: the program declares its own copies and checks the
// sizes at start-up, helpers map them from shared blocks, and Settings and the
// MediaInfo body are stored byte for byte.
#include <cstddef>
#include <cstdint>

#include "reelpage/types.h"

namespace reelpage {

// The WebM output's video codec. VP8 with Vorbis is the one the page's
// browsers of old play; VP9 and AV1 come with Opus and take far fewer bytes.
enum WebmCodec : int32_t { kWebmVp8 = 0, kWebmVp9 = 1, kWebmAv1 = 2 };
constexpr int32_t kWebmCodecCount = 3;

// Defaults beyond the Settings record, each stored as a value of its own
// beside it, so that the record's bytes stay as they are and a store
// written before a value existed reads as the default.
struct MoreSettings {
    int32_t m_DefaultWebmCodec; // a WebmCodec; absent or unknown: kWebmVp8
};

// The user's defaults; one per process, stored as one binary value.
struct Settings {
    LongBool m_DefaultFormats[3]; // [0] WebM, [1] MP4, [2] Ogg
    int32_t m_SizeIndex;          // 0 source size, 1..8 preset, 9 custom
    int32_t m_OutputWidth;
    int32_t m_OutputHeight;
    int32_t m_ResizeMethod; // 0 Center, 1 Letterbox, 2 Crop
    WCHAR m_szFolder[260];
    LongBool m_Autoplay;
    LongBool m_Controls;
    LongBool m_Loop;
    WCHAR m_WatermarkFile[260];
    int32_t m_WatermarkImageWidth;
    int32_t m_WatermarkImageHeight;
    int32_t m_WatermarkHPosition; // a WatermarkAlign (reelpage/protocol.h)
    int32_t m_WatermarkVPosition; // a WatermarkAlign
    int32_t m_WatermarkTransparency;
    WCHAR m_AdFile[260];
    int32_t m_AdImageWidth;
    int32_t m_AdImageHeight;
    WCHAR m_AdLink[1024];
    int32_t m_Templete;
    int32_t m_ParallelConvertor;
    LongBool m_DisableUpdate;
};
static_assert(sizeof(Settings) == kSettingsSize);
static_assert(offsetof(Settings, m_SizeIndex) == 12);
static_assert(offsetof(Settings, m_OutputWidth) == 16);
static_assert(offsetof(Settings, m_OutputHeight) == 20);
static_assert(offsetof(Settings, m_ResizeMethod) == 24);
static_assert(offsetof(Settings, m_szFolder) == 28);
static_assert(offsetof(Settings, m_Autoplay) == 548);
static_assert(offsetof(Settings, m_Controls) == 552);
static_assert(offsetof(Settings, m_Loop) == 556);
static_assert(offsetof(Settings, m_WatermarkFile) == 560);
static_assert(offsetof(Settings, m_WatermarkImageWidth) == 1080);
static_assert(offsetof(Settings, m_WatermarkImageHeight) == 1084);
static_assert(offsetof(Settings, m_WatermarkHPosition) == 1088);
static_assert(offsetof(Settings, m_WatermarkVPosition) == 1092);
static_assert(offsetof(Settings, m_WatermarkTransparency) == 1096);
static_assert(offsetof(Settings, m_AdFile) == 1100);
static_assert(offsetof(Settings, m_AdImageWidth) == 1620);
static_assert(offsetof(Settings, m_AdImageHeight) == 1624);
static_assert(offsetof(Settings, m_AdLink) == 1628);
static_assert(offsetof(Settings, m_Templete) == 3676);
static_assert(offsetof(Settings, m_ParallelConvertor) == 3680);
static_assert(offsetof(Settings, m_DisableUpdate) == 3684);

// One imported media file. Lives in its own shared block; the 736 bytes from
// m_szFileName on are stored per file.
struct MediaInfo {
    HANDLE32 m_hSelf;
    GUID m_id;
    WCHAR m_szFileName[260];
    WCHAR m_szName[64];
    // 64-bit fields at 4-byte offsets: packed one by one so that the string
    // fields around them stay ordinary arrays.
    int64_t m_FileSize __attribute__((packed));
    uint64_t m_CreationTime __attribute__((packed)); // FILETIME
    int32_t m_SampleFile;
    int64_t m_Duration __attribute__((packed)); // microseconds
    int32_t m_bVideoStream;
    int32_t m_VideoFormat;
    int32_t m_Width;
    int32_t m_Height;
    int32_t m_CodecWidth;
    int32_t m_CodecHeight;
    int32_t m_FrameRateNum;
    int32_t m_FrameRateDen;
    int32_t m_VideoBitRate;
    int32_t m_bAudioStream;
    int32_t m_SampleRate;
    int32_t m_nChannel;
    int32_t m_AudioBitRate;
    uint64_t m_History __attribute__((packed)); // FILETIME of the import, local time
};
static_assert(sizeof(MediaInfo) == kMediaInfoSize);
static_assert(offsetof(MediaInfo, m_id) == 0x004);
static_assert(offsetof(MediaInfo, m_szFileName) == 0x014);
static_assert(offsetof(MediaInfo, m_szName) == 0x21C);
static_assert(offsetof(MediaInfo, m_FileSize) == 0x29C);
static_assert(offsetof(MediaInfo, m_CreationTime) == 0x2A4);
static_assert(offsetof(MediaInfo, m_SampleFile) == 0x2AC);
static_assert(offsetof(MediaInfo, m_Duration) == 0x2B0);
static_assert(offsetof(MediaInfo, m_bVideoStream) == 0x2B8);
static_assert(offsetof(MediaInfo, m_VideoFormat) == 0x2BC);
static_assert(offsetof(MediaInfo, m_Width) == 0x2C0);
static_assert(offsetof(MediaInfo, m_Height) == 0x2C4);
static_assert(offsetof(MediaInfo, m_CodecWidth) == 0x2C8);
static_assert(offsetof(MediaInfo, m_CodecHeight) == 0x2CC);
static_assert(offsetof(MediaInfo, m_FrameRateNum) == 0x2D0);
static_assert(offsetof(MediaInfo, m_FrameRateDen) == 0x2D4);
static_assert(offsetof(MediaInfo, m_VideoBitRate) == 0x2D8);
static_assert(offsetof(MediaInfo, m_bAudioStream) == 0x2DC);
static_assert(offsetof(MediaInfo, m_SampleRate) == 0x2E0);
static_assert(offsetof(MediaInfo, m_nChannel) == 0x2E4);
static_assert(offsetof(MediaInfo, m_AudioBitRate) == 0x2E8);
static_assert(offsetof(MediaInfo, m_History) == 0x2EC);
constexpr size_t kMediaInfoBodyOffset = offsetof(MediaInfo, m_szFileName);
constexpr size_t kMediaInfoBodySize = sizeof(MediaInfo) - kMediaInfoBodyOffset;
static_assert(kMediaInfoBodySize == 736);

// What to make from the imported video. Lives in a shared block that the
// helpers read; the program edits it in place and then tells the engine.
struct Project {
    HANDLE32 m_hSelf;
    // The source's MediaInfo. A pointer does not fit these four bytes on a
    // 64-bit system, so this holds the media record's own handle (m_hSelf).
    HANDLE32 m_pMediaInfo;
    WCHAR m_szPosterImage[260];
    LongBool m_Formats[3]; // [0] WebM, [1] MP4, [2] Ogg
    int32_t m_VideoWidth;  // source picture after rotation
    int32_t m_VideoHeight;
    int32_t m_SizeIndex;
    int32_t m_OutputWidth;
    int32_t m_OutputHeight;
    int32_t m_ResizeMethod;
    int32_t m_CropLeft;
    int32_t m_CropTop;
    int32_t m_CropWidth;
    int32_t m_CropHeight;
    int32_t reserved1;
    int64_t m_ClipStart; // microseconds; 0 = from the beginning
    int64_t m_ClipStop;  // microseconds; 0 = to the end
    LongBool m_Autoplay;
    LongBool m_Controls;
    LongBool m_Loop;
    int32_t m_Brightness;
    int32_t m_Contrast;
    int32_t m_Hue;
    int32_t m_Saturation;
    int32_t m_Lightness;
    float m_BlurRadius;
    LongBool m_BlurExpandEdge;
    float m_SharpenRadius;
    float m_SharpenAmount;
    int32_t m_TintHue;
    int32_t m_TintAmount;
    int32_t m_LevelsHighlight;
    int32_t m_LevelsMidtone;
    int32_t m_LevelsShadow;
    int32_t m_CyanRed;
    int32_t m_MagentaGreen;
    int32_t m_YellowBlue;
    int32_t m_Exposure;
    int32_t m_Density;
    int32_t m_WhiteSaturation;
    int32_t m_BlackSaturation;
    int32_t m_Orientation; // an OrientationState (reelpage/protocol.h)
    WCHAR m_WatermarkFile[260];
    int32_t m_WatermarkImageWidth;
    int32_t m_WatermarkImageHeight;
    int32_t m_WatermarkLeft;
    int32_t m_WatermarkTop;
    int32_t m_WatermarkWidth;
    int32_t m_WatermarkHeight;
    int32_t m_WatermarkTransparency;
    int32_t m_WatermarkHPosition;
    int32_t m_WatermarkVPosition;
    WCHAR m_AdFile[260];
    int32_t m_AdImageWidth;
    int32_t m_AdImageHeight;
    int32_t m_AdWidth;
    int32_t m_AdHeight;
    WCHAR m_AdLink[1024];
    int32_t m_Templete;
    // The WebM output's video codec, a WebmCodec. It takes the four bytes the
    // record leaves free at its end, which are 0 there: VP8, as before.
    int32_t m_WebmCodec;
};
static_assert(sizeof(Project) == kProjectSize);
static_assert(offsetof(Project, m_pMediaInfo) == 4);
static_assert(offsetof(Project, m_szPosterImage) == 8);
static_assert(offsetof(Project, m_Formats) == 528);
static_assert(offsetof(Project, m_VideoWidth) == 540);
static_assert(offsetof(Project, m_VideoHeight) == 544);
static_assert(offsetof(Project, m_SizeIndex) == 548);
static_assert(offsetof(Project, m_OutputWidth) == 552);
static_assert(offsetof(Project, m_OutputHeight) == 556);
static_assert(offsetof(Project, m_ResizeMethod) == 560);
static_assert(offsetof(Project, m_CropLeft) == 564);
static_assert(offsetof(Project, m_CropTop) == 568);
static_assert(offsetof(Project, m_CropWidth) == 572);
static_assert(offsetof(Project, m_CropHeight) == 576);
static_assert(offsetof(Project, m_ClipStart) == 584);
static_assert(offsetof(Project, m_ClipStop) == 592);
static_assert(offsetof(Project, m_Autoplay) == 600);
static_assert(offsetof(Project, m_Controls) == 604);
static_assert(offsetof(Project, m_Loop) == 608);
static_assert(offsetof(Project, m_Brightness) == 612);
static_assert(offsetof(Project, m_Contrast) == 616);
static_assert(offsetof(Project, m_Hue) == 620);
static_assert(offsetof(Project, m_Saturation) == 624);
static_assert(offsetof(Project, m_Lightness) == 628);
static_assert(offsetof(Project, m_BlurRadius) == 632);
static_assert(offsetof(Project, m_BlurExpandEdge) == 636);
static_assert(offsetof(Project, m_SharpenRadius) == 640);
static_assert(offsetof(Project, m_SharpenAmount) == 644);
static_assert(offsetof(Project, m_TintHue) == 648);
static_assert(offsetof(Project, m_TintAmount) == 652);
static_assert(offsetof(Project, m_LevelsHighlight) == 656);
static_assert(offsetof(Project, m_LevelsMidtone) == 660);
static_assert(offsetof(Project, m_LevelsShadow) == 664);
static_assert(offsetof(Project, m_CyanRed) == 668);
static_assert(offsetof(Project, m_MagentaGreen) == 672);
static_assert(offsetof(Project, m_YellowBlue) == 676);
static_assert(offsetof(Project, m_Exposure) == 680);
static_assert(offsetof(Project, m_Density) == 684);
static_assert(offsetof(Project, m_WhiteSaturation) == 688);
static_assert(offsetof(Project, m_BlackSaturation) == 692);
static_assert(offsetof(Project, m_Orientation) == 696);
static_assert(offsetof(Project, m_WatermarkFile) == 700);
static_assert(offsetof(Project, m_WatermarkImageWidth) == 1220);
static_assert(offsetof(Project, m_WatermarkImageHeight) == 1224);
static_assert(offsetof(Project, m_WatermarkLeft) == 1228);
static_assert(offsetof(Project, m_WatermarkTop) == 1232);
static_assert(offsetof(Project, m_WatermarkWidth) == 1236);
static_assert(offsetof(Project, m_WatermarkHeight) == 1240);
static_assert(offsetof(Project, m_WatermarkTransparency) == 1244);
static_assert(offsetof(Project, m_WatermarkHPosition) == 1248);
static_assert(offsetof(Project, m_WatermarkVPosition) == 1252);
static_assert(offsetof(Project, m_AdFile) == 1256);
static_assert(offsetof(Project, m_AdImageWidth) == 1776);
static_assert(offsetof(Project, m_AdImageHeight) == 1780);
static_assert(offsetof(Project, m_AdWidth) == 1784);
static_assert(offsetof(Project, m_AdHeight) == 1788);
static_assert(offsetof(Project, m_AdLink) == 1792);
static_assert(offsetof(Project, m_Templete) == 3840);
static_assert(offsetof(Project, m_WebmCodec) == 3844);

// One page template of the catalogue.
struct TemplateEntry {
    WCHAR szName[128];
    int32_t bHasAd;
    WCHAR szPreview[260];
};
static_assert(sizeof(TemplateEntry) == 780);
static_assert(offsetof(TemplateEntry, bHasAd) == 256);
static_assert(offsetof(TemplateEntry, szPreview) == 260);

// Product identifier and texts; owned by the program, filled by the engine.
// Natural pointers: this record never leaves the process.
struct ProductInfo {
    GUID m_Product;
    const WCHAR* m_Texts[9];
};

} // namespace reelpage
