#pragma once
// Results of an encoding job's helpers: what an encoder posts as wParam of its
// completion message and ends with as its exit code, and what the engine posts
// for a helper that ended without saying how.
#include <cstdint>

namespace reelpage {

constexpr int32_t kEncoderOk = 0;     // the output file is complete
constexpr int32_t kEncoderFailed = 1; // the encoder failed; its file was removed
// Posted by the engine when a helper of the job ended (crashed, was killed)
// without reporting: an encoder without its message, or the decoder before
// the end of the pictures.
constexpr int32_t kEncoderHelperDied = 2;
// An encoder's exit code when it ended without its completion message (no
// usable task block, or the message could not be delivered): only codes
// kEncoderOk and kEncoderFailed mean "reported", and anything else makes
// the engine report the failure in its place.
constexpr int32_t kEncoderUnreported = 3;

} // namespace reelpage
