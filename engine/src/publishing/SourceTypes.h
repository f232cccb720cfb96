#pragma once
// The full type of each video in a package, codecs included, as a page's
// <source> gives it: with it a browser skips, without downloading it, a file
// whose codecs it cannot play and takes the next one.
#include <cstdint>
#include <string>

namespace reelpage {

// The type of the video file at path (UTF-8), read from its streams:
// 'video/webm; codecs="av01.0.04M.08, opus"', 'video/mp4; codecs="avc1.64001e,
// mp4a.40.2"'. Empty, with a logged reason, when the file cannot be read or
// holds a codec with no name for browsers.
std::string SourceType(const std::string& path);

// The RFC 6381 names, exposed for the tests.
// AV1 from its configuration record (av1C): "av01.P.LLT.DD".
std::string Av1CodecName(const uint8_t* av1c, size_t size);
// VP9 from the profile and bit depth of its first frame and the level its
// picture size and rate need: "vp09.PP.LL.DD".
std::string Vp9CodecName(const uint8_t* frame, size_t size, int width, int height,
                         double framesPerSecond);
// H.264 from its configuration record (avcC): "avc1.PPCCLL".
std::string AvcCodecName(const uint8_t* avcc, size_t size);
// AAC from its AudioSpecificConfig: "mp4a.40.N", N the object type.
std::string AacCodecName(const uint8_t* config, size_t size);

} // namespace reelpage
