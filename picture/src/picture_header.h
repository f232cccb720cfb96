#pragma once
// What a few picture formats say about themselves before any decoder runs:
// the claimed size, so absurd pictures are refused by name, and for JPEG
// whether the file reaches its end marker (decoders conceal a cut-off scan
// and would hand back a half-grey picture without complaint).
#include <cstddef>
#include <cstdint>

namespace picture {

struct HeaderFacts {
    int64_t width = -1; // -1: not known from the header
    int64_t height = -1;
    bool truncated = false;
};

HeaderFacts InspectPng(const uint8_t* data, size_t size);
HeaderFacts InspectBmp(const uint8_t* data, size_t size);
HeaderFacts InspectJpeg(const uint8_t* data, size_t size);

} // namespace picture
