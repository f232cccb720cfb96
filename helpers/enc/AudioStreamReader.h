#pragma once
// The consumer side of an AudioStream: PCM from the engine's ring, read in
// order and given back as space.
#include <cstddef>
#include <cstdint>

#include "reelpage/blocks.h"

namespace reelpage::enc {

class AudioStreamReader {
public:
    // header: this encoder's own AudioStream; ring: encoder 0's ring.
    AudioStreamReader(AudioStreamHeader* header, const uint8_t* ring, size_t ringSize)
        : m_header(header), m_ring(ring), m_ringSize(ringSize) {}

    // Copies up to maxBytes of what is available into dst and gives the space
    // back. *end is set once the engine has fed everything and it has all
    // been read.
    size_t Read(uint8_t* dst, size_t maxBytes, bool* end);

    uint64_t BytesRead() const { return m_position; }

private:
    AudioStreamHeader* m_header;
    const uint8_t* m_ring;
    size_t m_ringSize;
    uint64_t m_position = 0;
};

} // namespace reelpage::enc
