#include "VideoStreamReader.h"

#include "platform/event.h"
#include "platform/interlocked.h"

namespace reelpage::enc {

using platform::LoadAcquire;

void VideoStreamReader::ReleaseUpTo(uint32_t sequence) {
    const int32_t n = int32_t(sequence - m_released);
    if (n <= 0) return;
    platform::InterlockedAdd(&m_header->m_cSlotsInUse, -n);
    m_released = sequence;
    platform::SetEvent(m_header->m_hSlotEvent);
}

VideoStreamReader::Next VideoStreamReader::Read(const uint8_t** data) {
    // Read in the producer's order of writing, backwards: the end flag is set
    // after the last count, and a slot is counted after its announcements.
    const bool end = LoadAcquire(&m_header->m_bEndOfStream) != 0;
    const uint32_t releasedBefore = m_released;
    const uint32_t inUse = uint32_t(LoadAcquire(&m_header->m_cSlotsInUse));
    const uint32_t announced = uint32_t(LoadAcquire(&m_header->m_cFramesAnnounced));

    if (announced != m_read) {
        if (announced - m_read > uint32_t(kSlotTableSize)) {
            // Entries of this frame were overwritten; the slot it names now
            // belongs to a later frame. Keep the picture we have.
            ++m_lost;
            ++m_read;
            return m_held >= 0 ? Next::Repeat : Read(data);
        }
        const uint32_t count = m_slotCount;
        const uint32_t slot = m_header->m_SlotOfFrame[m_read % kSlotTableSize] % count;
        ++m_read;
        if (m_held >= 0 && uint32_t(m_held) >= m_released && uint32_t(m_held) % count == slot)
            return Next::Repeat;
        // The decoded frames not yet given back are m_released onwards, one
        // per slot: this one is the first of them that uses `slot`.
        const uint32_t sequence = m_released + (slot - m_released % count + count) % count;
        ReleaseUpTo(sequence);
        m_held = sequence;
        *data = m_slots + size_t(slot) * m_frameBytes;
        return Next::Frame;
    }
    // Everything announced is read: the slots counted before are finished.
    ReleaseUpTo(releasedBefore + inUse);
    return end ? Next::End : Next::None;
}

} // namespace reelpage::enc
