#pragma once
// The helper's lines in the engine's log: appended through the descriptor the
// engine passed in the launch block, one write per line so that they never
// interleave with the engine's own lines.
#include <cstdint>

namespace dec {

void SetLogHandle(int32_t handle);
void LogLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace dec
