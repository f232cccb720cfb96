#pragma once
// Reducing a BGRA picture to the 256 colours of a GIF.
#include "picture/bitmap.h"

#include <cstdint>

namespace picture {

// Fills `indices` (width x height bytes, rows `indexStride` apart) and the
// palette (0xAARRGGBB, as FFmpeg's PAL8 frames carry it). Pixels with alpha
// below 128 use one fully transparent entry; every other entry is opaque, so
// the encoder finds the transparent one. Pictures with few enough colours are
// kept exactly; others are reduced by median cut.
void QuantizeForGif(ConstBitmapView source, uint8_t* indices, ptrdiff_t indexStride,
                    uint32_t palette[256]);

} // namespace picture
