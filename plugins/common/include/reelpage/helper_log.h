#pragma once
// Lines a helper process (or a plug-in inside one) adds to the engine's log
// through the descriptor it inherited. Each line is one write(2) on a file
// opened for appending, so it never interleaves with the engine's lines.
#include <cstdint>

namespace reelpage {

constexpr int kHelperLogInfo = 1;
constexpr int kHelperLogError = 3;

// Remembers the inherited log descriptor (0 or negative: no log) and the
// name that starts every line, such as "enc[1]".
void HelperLogOpen(int32_t logHandle, const char* name);

// A levelled line in the engine's format: a 5-character level mark, the
// helper's name, the message. Cut at 4,096 bytes.
void HelperLog(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Sends FFmpeg's own warnings and errors to the log instead of stderr.
void HelperLogCaptureFfmpeg();

} // namespace reelpage
