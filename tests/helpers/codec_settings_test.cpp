// The encoder helper's choices of bit rates and sound formats.
#include "CodecSettings.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

using namespace reelpage::enc;

TEST(CodecSettings, VideoRateKeepsTheSourceBetweenFloorAndCap) {
    // 640 x 360 at 30 fps: 6.9 million pixels a second.
    const int64_t theoraFloor = int64_t(640 * 360 * 30 * 0.02 + 400 * 30);
    const int64_t otherFloor = int64_t(640 * 360 * 30 * 0.01 + 400 * 30);
    EXPECT_EQ(VideoBitRate("libtheora", 13000, 640, 360, 30, 1), theoraFloor);
    EXPECT_EQ(VideoBitRate("libx264", 13000, 640, 360, 30, 1), otherFloor);
    EXPECT_EQ(VideoBitRate("libvpx", 13000, 640, 360, 30, 1), otherFloor);
    EXPECT_EQ(VideoBitRate("libtheora", 1500000, 640, 360, 30, 1), 1500000);       // kept
    EXPECT_EQ(VideoBitRate("libx264", 50000000, 640, 360, 30, 1), 640 * 360 * 30); // cut
    EXPECT_EQ(VideoBitRate("libx264", 0, 640, 360, 30, 1), 640 * 360 * 3);         // unknown
    // A tiny picture: the floor never passes the cap.
    EXPECT_LE(VideoBitRate("libtheora", 1000, 16, 16, 60, 1), 200000);
    EXPECT_GE(VideoBitRate("libtheora", 1000, 16, 16, 60, 1), 400 * 60);
}

// VP9 and AV1 aim at a quality; the most they may spend is the rate the
// other outputs get, which is never above the cap nor below the floor.
TEST(CodecSettings, QualityCodecsSpendAtMostTheCappedRateAndNeverLessThanTheFloor) {
    const int64_t floor = int64_t(640 * 360 * 30 * 0.01 + 400 * 30);
    const int64_t cap = 640 * 360 * 30;
    for (const char* encoder : {"libvpx-vp9", "libsvtav1"}) {
        SCOPED_TRACE(encoder);
        EXPECT_TRUE(EncodedByQuality(encoder));
        EXPECT_EQ(QualityRateFor(encoder, 13000, 640, 360, 30, 1).maxRate, floor);
        EXPECT_EQ(QualityRateFor(encoder, 1500000, 640, 360, 30, 1).maxRate, 1500000);
        EXPECT_EQ(QualityRateFor(encoder, 50000000, 640, 360, 30, 1).maxRate, cap);
        EXPECT_GT(QualityRateFor(encoder, 1500000, 640, 360, 30, 1).crf, 0);
    }
    EXPECT_EQ(QualityRateFor("libsvtav1", 0, 640, 360, 30, 1).crf, kAv1Crf);
    EXPECT_EQ(QualityRateFor("libvpx-vp9", 0, 640, 360, 30, 1).crf, kVp9Crf);
    for (const char* encoder : {"libvpx", "libx264", "libtheora"})
        EXPECT_FALSE(EncodedByQuality(encoder)) << encoder;
    EXPECT_STREQ(EncoderForCodec("libsvtav1"), "libsvtav1");
    EXPECT_STREQ(EncoderForCodec("libvpx-vp9"), "libvpx-vp9");
    EXPECT_STREQ(EncoderForCodec("libopus"), "libopus");
}

TEST(CodecSettings, SoundIsMadeWhatEveryEncoderAndBrowserTakes) {
    struct Case {
        const char* encoder;
        int rate, channels;
        int wantRate, wantChannels;
    } cases[] = {
        {"aac", 192000, 2, 48000, 2},      {"aac", 96000, 6, 48000, 2},
        {"aac", 8000, 1, 8000, 1},         {"aac", 44100, 2, 44100, 2},
        {"aac", 37800, 2, 44100, 2}, // not an AAC rate: the next one up
        {"libvorbis", 96000, 6, 48000, 2}, {"libvorbis", 48000, 8, 48000, 2},
        {"libvorbis", 22050, 1, 22050, 1}, {"flac", 192000, 2, 48000, 2},
        {"flac", 44100, 1, 44100, 1},      {"libopus", 44100, 2, 48000, 2},
        {"libopus", 22050, 1, 24000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " " + std::to_string(c.rate) + "/" +
                     std::to_string(c.channels));
        const AVCodec* codec = avcodec_find_encoder_by_name(c.encoder);
        ASSERT_NE(codec, nullptr);
        const OutputSound s = OutputSoundFor(codec, c.rate, c.channels);
        EXPECT_EQ(s.sampleRate, c.wantRate);
        EXPECT_EQ(s.channels, c.wantChannels);
    }
    // The bit rate chosen for 5.1 at 96 kHz is cut to what stereo at 48 kHz
    // takes; a usual one is kept.
    EXPECT_EQ(AudioBitRateFor(196000, 48000, 2), 196000);
    EXPECT_EQ(AudioBitRateFor(128000, 44100, 2), 128000);
    EXPECT_EQ(AudioBitRateFor(196000, 8000, 1), 24000);
}

} // namespace
