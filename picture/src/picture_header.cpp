#include "picture_header.h"

#include <cstdlib>
#include <cstring>

namespace picture {
namespace {

uint32_t Be16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
uint32_t Be32(const uint8_t* p) {
    return (Be16(p) << 16) | Be16(p + 2);
}
uint32_t Le16(const uint8_t* p) {
    return (uint32_t{p[1]} << 8) | p[0];
}
uint32_t Le32(const uint8_t* p) {
    return (Le16(p + 2) << 16) | Le16(p);
}

} // namespace

HeaderFacts InspectPng(const uint8_t* data, size_t size) {
    HeaderFacts facts;
    // Signature (8), IHDR length (4) and type (4), then width and height.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        facts.width = Be32(data + 16);
        facts.height = Be32(data + 20);
    }
    return facts;
}

HeaderFacts InspectBmp(const uint8_t* data, size_t size) {
    HeaderFacts facts;
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return facts;
    uint32_t infoSize = Le32(data + 14);
    if (infoSize == 12) { // the old 16-bit header
        facts.width = Le16(data + 18);
        facts.height = Le16(data + 20);
    } else if (infoSize >= 40) {
        // Signed; a negative height means top-down rows.
        facts.width = std::llabs(static_cast<int32_t>(Le32(data + 18)));
        facts.height = std::llabs(static_cast<int32_t>(Le32(data + 22)));
    }
    return facts;
}

HeaderFacts InspectJpeg(const uint8_t* data, size_t size) {
    HeaderFacts facts;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return facts;
    size_t pos = 2;
    for (;;) {
        if (pos >= size) break;
        if (data[pos] != 0xFF) return facts; // not the structure we know: leave it to the decoder
        while (pos < size && data[pos] == 0xFF)
            ++pos; // fill bytes
        if (pos >= size) break;
        const uint8_t marker = data[pos++];
        if (marker == 0xD9) return facts; // end of image: complete
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (size - pos < 2) break;
        const size_t length = Be16(data + pos);
        if (length < 2) return facts;
        const bool frameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader && length >= 7 && size - pos >= 7) {
            facts.height = Be16(data + pos + 3);
            facts.width = Be16(data + pos + 5);
        }
        if (size - pos < length) break;
        pos += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data: a 0xFF in it is followed by a stuffed 0 or a
        // restart marker; anything else starts the next marker.
        for (;;) {
            const void* ff = std::memchr(data + pos, 0xFF, size - pos);
            if (!ff) {
                pos = size;
                break;
            }
            pos = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data);
            if (pos + 1 >= size) {
                pos = size;
                break;
            }
            const uint8_t next = data[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                pos += 2;
            else if (next == 0xFF)
                pos += 1;
            else
                break;
        }
    }
    facts.truncated = true;
    return facts;
}

} // namespace picture
