#pragma once
// The diagnostic log: one file per run under Documents/Log Files, shared with
// the helpers through an inheritable descriptor. Every line goes out in one
// write(2), so lines from several processes never interleave.
#include <cstdint>

namespace reelpage {

constexpr int kLogInfo = 1;
constexpr int kLogError = 3;
constexpr int kLogLineMax = 4096;

// Levelled line: a 5-character mark, then the message, cut at 4,096 bytes.
void LogWrite(int level, const char* fmt, ...);
// The message without a mark, under the same limit.
void LogWritePlain(const char* fmt, ...);

// Opens the log (first call only): the folder, a fresh file, the banner.
void OpenLog();
// The descriptor helpers inherit to append to the log; 0 when no log is open.
int32_t LogHandle();

// Kept by the system report.
int32_t OsMajorVersion();
void WriteSystemReport();

} // namespace reelpage

// A failed system call: the error code, the call as written, and where.
#define LOG_FAILED(code, call)                                                                     \
    ::reelpage::LogWrite(::reelpage::kLogError, "Failed(%d) on %hs, FILE:%s, LINE:%d\n",          \
                         static_cast<int>(code), call, __FILE__, __LINE__)
#define LOG_FAILED_HR(hr, call)                                                                    \
    ::reelpage::LogWrite(::reelpage::kLogError, "Failed(0x%x) on %hs, FILE:%s, LINE:%d\n",        \
                         static_cast<unsigned>(hr), call, __FILE__, __LINE__)
