// The Theora encoder the encoder helper drives directly, for its speed level.
#include "CodecSettings.h"
#include "OutputFile.h"
#include "TheoraEncoder.h"
#include "media_check.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

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

// The encoder helper hands libtheora the frame slot itself: planes of the
// picture's own size, packed, with no rows or columns up to Theora's 16 x 16
// blocks. Here the last plane ends where unreadable memory begins, so a read
// beyond the picture would crash; the stream ends on a repeat, which codes
// the last picture again.
TEST(TheoraEncoder, ReadsNoFurtherThanThePictureOfEachPlane) {
    const int W = 70, H = 38; // a coded frame of 80 x 48
    const size_t bytes = size_t(W) * H * 3 / 2;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t inside = (bytes + page - 1) / page * page;
    auto* map = static_cast<uint8_t*>(
        mmap(nullptr, inside + 2 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(mprotect(map + page, inside, PROT_READ | PROT_WRITE), 0);
    uint8_t* slot = map + page + inside - bytes;
    for (size_t i = 0; i < bytes; ++i)
        slot[i] = uint8_t(i * 7);

    TheoraSettings s = Small(kTheoraSpeedLevel);
    s.width = W;
    s.height = H;
    TheoraEncoder e;
    ASSERT_TRUE(e.Open(s)) << e.Error();
    AVFrame* f = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    ASSERT_TRUE(f && packet);
    f->format = AV_PIX_FMT_YUV420P;
    f->width = W;
    f->height = H;
    f->data[0] = slot;
    f->data[1] = slot + W * H;
    f->data[2] = f->data[1] + (W / 2) * (H / 2);
    f->linesize[0] = W;
    f->linesize[1] = f->linesize[2] = W / 2;
    int packets = 0, withBytes = 0;
    for (int n = 0; n <= 3; ++n) {
        f->pts = n;
        // Frame 3 repeats frame 2.
        if (n < 3) slot[0] = uint8_t(n * 40);
        ASSERT_EQ(e.SendFrame(f), 0) << e.Error();
        while (e.ReceivePacket(packet) == 0)
            ++packets, withBytes += packet->size > 0;
    }
    ASSERT_EQ(e.SendFrame(nullptr), 0) << e.Error();
    int rc;
    while ((rc = e.ReceivePacket(packet)) == 0)
        ++packets, withBytes += packet->size > 0;
    EXPECT_EQ(rc, AVERROR_EOF);
    EXPECT_EQ(packets, 4);
    EXPECT_EQ(withBytes, 4); // the last one coded again, not left empty
    av_packet_free(&packet);
    av_frame_free(&f);
    munmap(map, inside + 2 * page);
}

} // namespace
