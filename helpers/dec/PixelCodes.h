#pragma once
// The pixel-format numbers a plug-in speaks on the wire, and the FFmpeg
// formats they stand for. The numbers are fixed by the plug-in interface and
// must not follow FFmpeg's own enumeration, which has moved since.
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace dec {

// AV_PIX_FMT_NONE for a number that names no format.
AVPixelFormat PixelFormatOfCode(int32_t code);
// -1 for a format that has no wire number.
int32_t CodeOfPixelFormat(AVPixelFormat format);

} // namespace dec
