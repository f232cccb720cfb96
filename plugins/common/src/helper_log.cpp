#include "reelpage/helper_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace reelpage {

namespace {

int g_logFd = -1;
char g_name[64] = "helper";

void WriteLine(int level, const char* fmt, va_list ap) {
    if (g_logFd <= 0) return;
    char text[4096];
    const char* mark = level >= kHelperLogError ? " *** " : "     ";
    int n = std::snprintf(text, sizeof text, "%s%s[%d]: ", mark, g_name, int(getpid()));
    if (n < 0) return;
    int m = std::vsnprintf(text + n, sizeof text - size_t(n), fmt, ap);
    if (m < 0) return;
    size_t len = std::min(sizeof text - 1, size_t(n) + size_t(m));
    ssize_t ignored = write(g_logFd, text, len);
    (void)ignored;
}

void FfmpegToLog(void* avcl, int level, const char* fmt, va_list ap) {
    (void)avcl;
    if (level > AV_LOG_WARNING) return;
    std::string line = "ffmpeg: ";
    line += fmt;
    va_list copy;
    va_copy(copy, ap);
    WriteLine(level <= AV_LOG_ERROR ? kHelperLogError : kHelperLogInfo, line.c_str(), copy);
    va_end(copy);
}

} // namespace

void HelperLogOpen(int32_t logHandle, const char* name) {
    g_logFd = logHandle > 0 ? logHandle : -1;
    std::snprintf(g_name, sizeof g_name, "%s", name);
}

void HelperLog(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    WriteLine(level, fmt, ap);
    va_end(ap);
}

void HelperLogCaptureFfmpeg() {
    av_log_set_callback(FfmpegToLog);
}

} // namespace reelpage
