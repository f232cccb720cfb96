// The encoding job's rules that need no helper: the frame path, the frame
// slots, the audio bit rate and where a time lies in the sample file.
#include "encoding/VideoEncoder.h"

#include <gtest/gtest.h>

#include "platform/wstr.h"
#include "reelpage/output_size.h"
#include "reelpage/protocol.h"

namespace {

using namespace reelpage;

TEST(EncodingRules, FramePathByProject) {
    MediaInfo media{};
    media.m_Width = 640;
    media.m_Height = 480;
    auto project = [] {
        Project p{};
        p.m_OutputWidth = 640;
        p.m_OutputHeight = 480;
        p.m_CropWidth = 640;
        p.m_CropHeight = 480;
        return p;
    };
    struct Case {
        const char* name;
        void (*change)(Project&);
        FramePath expected;
    } cases[] = {
        {"untouched", [](Project&) {}, {kTransformPassThrough, kPixYuv420, 0}},
        {"half turn",
         [](Project& p) { p.m_Orientation = kOrientTurnedHalf; },
         {kTransformOrientOnly, kPixYuv420, 0}},
        {"quarter turn with turned sizes",
         [](Project& p) {
             p.m_Orientation = kOrientTurnedLeft;
             std::swap(p.m_OutputWidth, p.m_OutputHeight);
             std::swap(p.m_CropWidth, p.m_CropHeight);
         },
         {kTransformOrientOnly, kPixYuv420, 1}},
        {"other size",
         [](Project& p) { p.m_OutputWidth = 320, p.m_OutputHeight = 240; },
         {kTransformResize, kPixBgra, 0}},
        {"other size, flipped",
         [](Project& p) {
             p.m_OutputWidth = 320, p.m_OutputHeight = 240,
             p.m_Orientation = kOrientFlippedVertically;
         },
         {kTransformOrientResize, kPixBgra, 0}},
        {"crop moved", [](Project& p) { p.m_CropLeft = 2; }, {kTransformResize, kPixBgra, 0}},
        {"brightness",
         [](Project& p) { p.m_Brightness = 5; },
         {kTransformEffectsOnly, kPixBgra, 0}},
        {"watermark, mirrored",
         [](Project& p) {
             platform::WStrCopy(p.m_WatermarkFile, u"/w.png"),
                 p.m_Orientation = kOrientFlippedHorizontally;
         },
         {kTransformOrientResize, kPixBgra, 0}},
        {"sharpen radius alone",
         [](Project& p) { p.m_SharpenRadius = 2.0f; },
         {kTransformPassThrough, kPixYuv420, 0}},
        {"sharpen both",
         [](Project& p) { p.m_SharpenRadius = 2, p.m_SharpenAmount = 1; },
         {kTransformEffectsOnly, kPixBgra, 0}},
        {"tint amount alone",
         [](Project& p) { p.m_TintAmount = 3; },
         {kTransformPassThrough, kPixYuv420, 0}},
        {"blur edge alone",
         [](Project& p) { p.m_BlurExpandEdge = -1; },
         {kTransformPassThrough, kPixYuv420, 0}},
        {"blur", [](Project& p) { p.m_BlurRadius = 0.5f; }, {kTransformEffectsOnly, kPixBgra, 0}},

    };
    for (const Case& c : cases) {
        Project p = project();
        c.change(p);
        const FramePath f = ChooseFramePath(p, media);
        EXPECT_EQ(f.transform, c.expected.transform) << c.name;
        EXPECT_EQ(f.pixelFormat, c.expected.pixelFormat) << c.name;
        EXPECT_EQ(f.flipXY, c.expected.flipXY) << c.name;
    }
}

// 4:2:0 video has even sides: an odd-sized picture, untouched or only
// turned, is fitted into the even size one pixel smaller, the 32-bit way,
// never written as it is into slots that cannot hold it.
TEST(EncodingRules, OddSizesAreFittedIntoEvenOnes) {
    MediaInfo media{};
    media.m_Width = 639;
    media.m_Height = 360;
    Project p{};
    p.m_OutputWidth = p.m_CropWidth = 639;
    p.m_OutputHeight = p.m_CropHeight = 360;
    EXPECT_EQ(ProjectPictureSize(p).width, 638);
    FramePath f = ChooseFramePath(p, media);
    EXPECT_EQ(f.transform, kTransformResize);
    EXPECT_EQ(f.pixelFormat, kPixBgra);
    p.m_Orientation = kOrientTurnedHalf;
    f = ChooseFramePath(p, media);
    EXPECT_EQ(f.transform, kTransformOrientResize);
    EXPECT_EQ(f.pixelFormat, kPixBgra);
}

TEST(EncodingRules, AudioBitRate) {
    EXPECT_EQ(AudioBitRateFor(8000, 1), 16000);
    EXPECT_EQ(AudioBitRateFor(22050, 2), 64000);
    EXPECT_EQ(AudioBitRateFor(44100, 2), 128000);
    EXPECT_EQ(AudioBitRateFor(48000, 1), 64000);
    EXPECT_EQ(AudioBitRateFor(32000, 2), 128000); // 64000 per second of samples
    EXPECT_EQ(AudioBitRateFor(16000, 1), 64000);  // below 44100
    EXPECT_EQ(AudioBitRateFor(96000, 1), 196000);
    EXPECT_EQ(AudioBitRateFor(48000, 6), 196000);
}

// The frame slots share a fixed amount of memory: small pictures keep all
// 16, large ones fewer, never below 3 however large the picture.
TEST(EncodingRules, FrameSlotsByPictureSize) {
    const struct {
        int w, h, format, slots;
    } kCases[] = {
        {160, 90, kPixYuv420, 16},   {640, 360, kPixYuv420, 16}, {640, 480, kPixBgra, 6},
        {1280, 720, kPixYuv420, 6},  {1280, 720, kPixBgra, 3},   {1920, 1080, kPixYuv420, 3},
        {1920, 1080, kPixBgra, 3},   {3840, 2160, kPixYuv420, 3}, {7680, 4320, kPixBgra, 3},
    };
    for (const auto& c : kCases) {
        const size_t bytes = VideoFrameBytes(c.w, c.h, c.format);
        EXPECT_EQ(VideoSlotsFor(bytes), c.slots) << c.w << "x" << c.h << " format " << c.format;
    }
    EXPECT_EQ(VideoSlotsFor(0), kVideoSlots);
}

TEST(EncodingRules, SampleFilePositions) {
    EXPECT_EQ(SampleFilePosition(0, 44100, 2), 46);
    EXPECT_EQ(SampleFilePosition(10000000, 44100, 2), 46 + 1764000);
    EXPECT_EQ(SampleFilePosition(20000000, 44100, 2) - SampleFilePosition(10000000, 44100, 2),
              1764000);
    // Rounded down to whole sample frames.
    EXPECT_EQ(SampleFilePosition(11, 44100, 2), 46);        // 1.94 bytes
    EXPECT_EQ(SampleFilePosition(1000, 48000, 1), 46 + 96); // exact
    EXPECT_EQ((SampleFilePosition(333, 48000, 6) - 46) % 12, 0);
}

} // namespace
