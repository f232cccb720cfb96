// The slot bookkeeping of the encoder's frame reader, step by step against
// the producer's order of writing.
#include "VideoStreamReader.h"

#include <gtest/gtest.h>
#include <vector>

#include "platform/event.h"

namespace {

using reelpage::VideoStreamHeader;
using reelpage::enc::VideoStreamReader;
using Next = VideoStreamReader::Next;

// A header naming the job's slot count, as the engine writes it.
VideoStreamHeader HeaderOf(int count) {
    VideoStreamHeader h{};
    h.m_cSlots = count;
    return h;
}

struct Fixture {
    // The header names headerCount, the producer turns through producerCount.
    explicit Fixture(int headerCount = 16, int producerCount = -1)
        : header(HeaderOf(headerCount)), count(producerCount < 0 ? headerCount : producerCount),
          slots(size_t(count) * 4), reader(&header, slots.data(), 4) {
        header.m_hSlotEvent = platform::CreateEvent(false);
    }
    ~Fixture() { platform::CloseEvent(header.m_hSlotEvent); }
    // One decoded frame: announced n times, then counted as in use.
    void Produce(int announce) {
        for (int i = 0; i < announce; ++i)
            header.m_SlotOfFrame[header.m_cFramesAnnounced++ % 1024] = uint8_t(slot);
        ++header.m_cSlotsInUse;
        slots[size_t(slot) * 4] = uint8_t(++serial);
        slot = (slot + 1) % count;
    }
    Next Read(int* serialOut = nullptr) {
        const uint8_t* data = nullptr;
        Next n = reader.Read(&data);
        if (n == Next::Frame && serialOut) *serialOut = data[0];
        return n;
    }
    VideoStreamHeader header;
    int count;
    std::vector<uint8_t> slots;
    VideoStreamReader reader;
    int slot = 0;
    int serial = 0;
};

TEST(VideoStreamReader, RepeatsShareTheirSlotAndUnannouncedSlotsAreGivenBack) {
    Fixture f;
    f.Produce(1); // serial 1, slot 0
    f.Produce(0); // serial 2, slot 1, never shown
    f.Produce(3); // serial 3, slot 2, three output frames
    int s = 0;
    EXPECT_EQ(f.Read(&s), Next::Frame);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(f.header.m_cSlotsInUse, 3); // slot 0 is still being read
    EXPECT_EQ(f.Read(&s), Next::Frame);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(f.header.m_cSlotsInUse, 1); // slots 0 and 1 are back
    EXPECT_EQ(f.Read(), Next::Repeat);
    EXPECT_EQ(f.Read(), Next::Repeat);
    EXPECT_EQ(f.Read(), Next::None);
    EXPECT_EQ(f.header.m_cSlotsInUse, 0); // everything announced was read
    EXPECT_EQ(f.reader.FramesRead(), 4u);
}

// The engine may give a job fewer slots than 16 (a header of 0 stands for
// 16); the reader follows the count its header names.
TEST(VideoStreamReader, AFullTurnOfUnannouncedSlotsDoesNotStallTheProducer) {
    for (int count : {16, 4, 2}) {
        Fixture f(count);
        for (int i = 0; i < count; ++i)
            f.Produce(0);
        EXPECT_EQ(f.Read(), Next::None) << count;
        EXPECT_EQ(f.header.m_cSlotsInUse, 0) << count;
        // The same slot number again is a new picture, not a repeat.
        f.Produce(1); // slot 0 again
        int s = 0;
        EXPECT_EQ(f.Read(&s), Next::Frame) << count;
        EXPECT_EQ(s, count + 1) << count;
        f.Produce(1); // the next slot
        EXPECT_EQ(f.Read(&s), Next::Frame) << count;
        EXPECT_EQ(s, count + 2) << count;
    }
}

TEST(VideoStreamReader, ASlotReusedAfterAFullTurnIsANewPicture) {
    for (int count : {16, 4, 1}) {
        Fixture f(count);
        f.Produce(1); // slot 0
        int s = 0;
        EXPECT_EQ(f.Read(&s), Next::Frame) << count;
        EXPECT_EQ(f.Read(), Next::None) << count; // caught up: slot 0 is back
        for (int i = 0; i < count - 1; ++i)
            f.Produce(0);
        f.Produce(2); // slot 0 once more, a different picture
        EXPECT_EQ(f.Read(&s), Next::Frame) << count;
        EXPECT_EQ(s, count + 1) << count;
        EXPECT_EQ(f.Read(), Next::Repeat) << count;
    }
}

// A header left zero is an older producer's, which always used 16 slots.
TEST(VideoStreamReader, AHeaderWithoutACountReadsSixteenSlots) {
    Fixture f(0, 16);
    f.Produce(1);
    for (int i = 0; i < 15; ++i)
        f.Produce(0);
    int s = 0;
    EXPECT_EQ(f.Read(&s), Next::Frame);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(f.Read(), Next::None);
    EXPECT_EQ(f.header.m_cSlotsInUse, 0);
    f.Produce(1); // slot 0 after a full turn of 16
    EXPECT_EQ(f.Read(&s), Next::Frame);
    EXPECT_EQ(s, 17);
}

TEST(VideoStreamReader, EndComesOnlyAfterEveryFrameAndGivesAllSlotsBack) {
    Fixture f;
    f.Produce(2);
    f.Produce(0);
    f.header.m_bEndOfStream = 1;
    EXPECT_EQ(f.Read(), Next::Frame);
    EXPECT_EQ(f.Read(), Next::Repeat);
    EXPECT_EQ(f.Read(), Next::End);
    EXPECT_EQ(f.header.m_cSlotsInUse, 0);
}

} // namespace
