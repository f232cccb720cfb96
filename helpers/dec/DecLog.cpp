#include "DecLog.h"

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace dec {

namespace {
int32_t g_hLogFile = 0;
}

void SetLogHandle(int32_t handle) {
    g_hLogFile = handle;
}

void LogLine(const char* fmt, ...) {
    if (g_hLogFile <= 0) return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    if (n >= int(sizeof line)) n = int(sizeof line) - 1;
    ssize_t ignored = write(g_hLogFile, line, size_t(n));
    (void)ignored;
}

} // namespace dec
