// The Theora encoder the encoder helper drives directly, for its speed level.
#include "CodecSettings.h"
#include "OutputFile.h"
#include "TheoraEncoder.h"
#include "media_check.h"

#include <gtest/gtest.h>

namespace {

using namespace reelpage::enc;

TheoraSettings Small(int speedLevel) {
    TheoraSettings s;
    s.width = 64;
    s.height = 48;
    s.frameRateNum = 25;
    s.frameRateDen = 1;
    s.bitRate = 200000;
    s.keyframeInterval = 12;
    s.speedLevel = speedLevel;
    return s;
}

TEST(TheoraEncoder, WorksAtTheSpeedLevelAskedFor) {
    for (int level = 0; level <= 2; ++level) {
        TheoraEncoder e;
        ASSERT_TRUE(e.Open(Small(level))) << e.Error();
        EXPECT_EQ(e.SpeedLevel(), level);
        EXPECT_EQ(e.MaxSpeedLevel(), 2);
    }
    TheoraEncoder beyond;
    EXPECT_FALSE(beyond.Open(Small(3)));
    EXPECT_NE(beyond.Error().find("TH_ENCCTL_SET_SPLEVEL"), std::string::npos) << beyond.Error();

    // The Ogg output asks for the chosen level; other outputs have no Theora.
    media_check::TempFolder dir;
    for (const char* container : {"ogg", "webm"}) {
        SCOPED_TRACE(container);
        const bool ogg = std::string(container) == "ogg";
        OutputSpec want;
        want.path = dir / (std::string("video.") + container);
        want.container = container;
        want.videoCodec = ogg ? "libtheora" : "libvpx";
        want.width = 64;
        want.height = 48;
        want.frameRateNum = 25;
        want.frameRateDen = 1;
        OutputFile out;
        ASSERT_TRUE(out.Open(want)) << out.Error();
        EXPECT_EQ(out.TheoraSpeedLevel(), ogg ? kTheoraSpeedLevel : -1);
        out.Discard();
    }
}

// What the job-level failure test relies on: the frame width is a 20-bit
// field, so libtheora itself refuses the encoder.
TEST(TheoraEncoder, APictureTooWideForTheoraIsRefusedAtOpen) {
    TheoraSettings s = Small(kTheoraSpeedLevel);
    s.width = 1 << 20;
    TheoraEncoder e;
    EXPECT_FALSE(e.Open(s));
    EXPECT_NE(e.Error().find("th_encode_alloc"), std::string::npos) << e.Error();
}

} // namespace
