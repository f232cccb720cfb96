#include "AudioStreamReader.h"

#include <algorithm>
#include <cstring>

#include "platform/event.h"
#include "platform/interlocked.h"

namespace reelpage::enc {

size_t AudioStreamReader::Read(uint8_t* dst, size_t maxBytes, bool* end) {
    // The end flag is set after the last chunk is counted: read it first.
    const bool finished = platform::LoadAcquire(&m_header->m_bEndOfStream) != 0;
    const int32_t available = platform::LoadAcquire(&m_header->m_cbAvailable);
    const size_t n = std::min(size_t(std::max(available, 0)), maxBytes);
    *end = finished && available <= 0;
    if (n == 0) return 0;
    const size_t at = size_t(m_position % m_ringSize);
    const size_t first = std::min(n, m_ringSize - at);
    std::memcpy(dst, m_ring + at, first);
    std::memcpy(dst + first, m_ring, n - first);
    m_position += n;
    platform::InterlockedAdd(&m_header->m_cbAvailable, -int32_t(n));
    platform::SetEvent(m_header->m_hSpaceEvent);
    return n;
}

} // namespace reelpage::enc
