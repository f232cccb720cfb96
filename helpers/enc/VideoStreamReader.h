#pragma once
// The consumer side of a VideoStream: follows the producer's slot table and
// counters and gives back the slots it is done with.
//
// The producer fills one slot per decoded frame (slots in turn, from 0 to
// one less than the header's slot count),
// announces it once per output frame it stands for (none, once, or several
// times for a gap), and only then counts the slot as in use. So a slot may
// be counted without ever being announced (a frame that fell between two
// output times); such a slot must be given back too, or the producer, which
// waits while all are in use, would stall. The reader therefore releases by
// position in the slot sequence rather than by announcement:
// - a new decoded frame in slot k is the k-th slot after the last one given
//   back, so every slot before it is finished (announced or not);
// - once every announced frame has been read, every slot the producer had
//   counted before those announcements were read is finished as well.
#include <cstdint>

#include "reelpage/blocks.h"

namespace reelpage::enc {

class VideoStreamReader {
public:
    // header: this encoder's own VideoStream, which names the slot count;
    // slots: where slot 0 begins (encoder 0's block + 1056); frameBytes: the
    // size of one slot.
    VideoStreamReader(VideoStreamHeader* header, const uint8_t* slots, size_t frameBytes)
        : m_header(header), m_slots(slots), m_frameBytes(frameBytes),
          m_slotCount(VideoSlotsOf(*header)) {}

    enum class Next {
        Frame,  // a new picture: *data points to its slot until the next call
        Repeat, // the previous picture again, for the next output frame
        End,    // the producer has finished and every frame has been read
        None,   // nothing new yet: wait on the frame event and ask again
    };
    Next Read(const uint8_t** data);

    // Output frames read so far (repeats included).
    uint32_t FramesRead() const { return m_read; }
    // Announced frames whose slot-table entries were overwritten before they
    // were read (the producer ran more than 1024 frames ahead); each is taken
    // as a repeat of the picture before it.
    uint32_t LostEntries() const { return m_lost; }

private:
    void ReleaseUpTo(uint32_t sequence);

    VideoStreamHeader* m_header;
    const uint8_t* m_slots;
    size_t m_frameBytes;
    int m_slotCount;
    uint32_t m_read = 0;     // output frames read
    uint32_t m_released = 0; // slots given back, in producer order
    int64_t m_held = -1;     // sequence number of the picture last returned
    uint32_t m_lost = 0;
};

} // namespace reelpage::enc
