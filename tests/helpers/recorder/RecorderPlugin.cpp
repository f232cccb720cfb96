// A plug-in for testing the decoder helper: it writes every call it receives
// to a trace file and answers as the REC_* environment variables say.
//   REC_TRACE         file the trace lines are appended to
//   REC_INIT_FAIL     Init answers -1
//   REC_ACCEPT_NATIVE CheckFormat accepts what it is offered
//   REC_FORMAT        GetFormat's code (default 30, BGRA)
//   REC_SEEK_AFTER / REC_SEEK_TO   after that many delivered frames, Poll asks
//                     once for a seek to REC_SEEK_TO microseconds
//   REC_PREVIEW_SEEK  behave as a preview: EndOfStream answers 0; the first
//                     Poll after the end asks for a seek there; the second end
//                     ends the process
//   REC_SKIP_UNTIL    the first target: frames before it are skipped
//   REC_STOP_AT       GetFrameBuffer answers -1 from this time on
//   REC_CRASH         abort in the named callback
//   REC_AUDIO         file the delivered sound is appended to, as it came
// Frames before the current target are skipped as the preview plug-in does
// (time + frame duration - 1 < target).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "reelpage/plugin.h"

using namespace reelpage;

namespace {

int g_hTrace = -1;
int32_t g_nWidth = 0, g_nHeight = 0;
int64_t g_llFrame = 40000;
int64_t g_llTarget = 0;
int g_cDelivered = 0;
bool g_bSought = false;
int g_cEnds = 0;
bool g_bSoughtAfterEnd = false;
int64_t g_cbAudio = 0;
std::vector<uint8_t> g_Frame;

const char* Env(const char* name) {
    return getenv(name);
}
int64_t EnvInt(const char* name, int64_t fallback) {
    const char* v = Env(name);
    return v && *v ? strtoll(v, nullptr, 10) : fallback;
}

void Trace(const char* fmt, ...) {
    if (g_hTrace < 0) return;
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line - 1, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    if (n > int(sizeof line) - 2) n = int(sizeof line) - 2;
    line[n++] = '\n';
    ssize_t ignored = write(g_hTrace, line, size_t(n));
    (void)ignored;
}

void CrashIn(const char* callback) {
    const char* where = Env("REC_CRASH");
    if (where && strcmp(where, callback) == 0) abort();
}

int32_t Init(HelperLaunch* launch) {
    if (const char* path = Env("REC_TRACE"))
        g_hTrace = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    Trace("Init start=%lld probe=%d", static_cast<long long>(launch->m_llStart),
          launch->m_bMediaInfo);
    CrashIn("Init");
    g_llTarget = EnvInt("REC_SKIP_UNTIL", 0);
    return Env("REC_INIT_FAIL") ? -1 : 0;
}

int32_t SetDuration(int64_t d) {
    Trace("SetDuration %lld", static_cast<long long>(d));
    CrashIn("SetDuration");
    return 0;
}

int32_t SetVideoInfo(int32_t noVideo, int32_t format, int32_t w, int32_t h, int32_t cw, int32_t ch,
                     int32_t num, int32_t den, int32_t rate) {
    Trace("SetVideoInfo %d %d %d %d %d %d %d %d %d", noVideo, format, w, h, cw, ch, num, den, rate);
    g_nWidth = w;
    g_nHeight = h;
    if (num > 0) g_llFrame = int64_t(den) * 1000000 / num;
    return 0;
}

int32_t SetAudioInfo(int32_t rate, int32_t channels, int32_t bitRate) {
    Trace("SetAudioInfo %d %d %d", rate, channels, bitRate);
    return 0;
}

int32_t CheckFormat(int32_t f, int32_t w, int32_t h, int32_t tw, int32_t th) {
    const int answer = Env("REC_ACCEPT_NATIVE") ? 0 : -1;
    Trace("CheckFormat %d %d %d %d %d -> %d", f, w, h, tw, th, answer);
    return answer;
}

int32_t GetFormat(int32_t* f, int32_t* w, int32_t* h) {
    *f = int32_t(EnvInt("REC_FORMAT", kPixBgra));
    *w = g_nWidth;
    *h = g_nHeight;
    Trace("GetFormat %d %d %d", *f, *w, *h);
    return 0;
}

int32_t Poll(int64_t* target) {
    CrashIn("Poll");
    if (g_cEnds > 0) {
        Trace("PollAfterEnd");
        if (Env("REC_PREVIEW_SEEK") && !g_bSoughtAfterEnd) {
            g_bSoughtAfterEnd = true;
            g_llTarget = *target = EnvInt("REC_PREVIEW_SEEK", 0);
            Trace("Seek %lld", static_cast<long long>(*target));
            return 1;
        }
        return 0;
    }
    if (!g_bSought && Env("REC_SEEK_TO") && g_cDelivered >= EnvInt("REC_SEEK_AFTER", 0)) {
        g_bSought = true;
        g_llTarget = *target = EnvInt("REC_SEEK_TO", 0);
        Trace("Seek %lld", static_cast<long long>(*target));
        return 1;
    }
    return 0;
}

int32_t GetFrameBuffer(void* planes[3], int32_t strides[3], int64_t t) {
    int answer = 0;
    if (Env("REC_STOP_AT") && t >= EnvInt("REC_STOP_AT", 0))
        answer = -1;
    else if (t + g_llFrame - 1 < g_llTarget)
        answer = 1;
    Trace("GetFrameBuffer %lld -> %d", static_cast<long long>(t), answer);
    if (answer != 0) return answer;
    g_Frame.assign(size_t(g_nWidth) * g_nHeight * 4, 0xEE);
    planes[0] = g_Frame.data();
    planes[1] = planes[2] = nullptr;
    strides[0] = g_nWidth * 4;
    strides[1] = strides[2] = 0;
    return 0;
}

int32_t FrameReady(void* planes[3], int32_t* strides, int64_t t) {
    // Mean green level: the ramp clips are grey, so this is their level.
    const uint8_t* p = static_cast<const uint8_t*>(planes[0]);
    uint64_t sum = 0;
    for (int y = 0; y < g_nHeight; ++y)
        for (int x = 0; x < g_nWidth; ++x)
            sum += p[size_t(y) * strides[0] + size_t(x) * 4 + 1];
    const double mean = g_nWidth && g_nHeight ? double(sum) / (double(g_nWidth) * g_nHeight) : 0;
    Trace("FrameReady %lld %.2f", static_cast<long long>(t), mean);
    ++g_cDelivered;
    return 0;
}

int32_t AudioData(const void* data, int32_t bytes) {
    g_cbAudio += bytes;
    if (const char* path = Env("REC_AUDIO")) {
        const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ssize_t ignored = write(fd, data, size_t(bytes));
            (void)ignored;
            close(fd);
        }
    }
    return 0;
}

int32_t EndOfStream(int64_t t) {
    Trace("EndOfStream %lld audio=%lld", static_cast<long long>(t),
          static_cast<long long>(g_cbAudio));
    ++g_cEnds;
    if (!Env("REC_PREVIEW_SEEK")) return -1;
    if (g_cEnds >= 2) _exit(0);
    return 0;
}

int32_t OpenFailed(int32_t) {
    Trace("OpenFailed");
    return 0;
}

} // namespace

REELPAGE_PLUGIN_ENTRY {
    *table =
        PluginCallbacks{Init, SetDuration,    SetVideoInfo, SetAudioInfo, CheckFormat, GetFormat,
                        Poll, GetFrameBuffer, FrameReady,   AudioData,    EndOfStream, OpenFailed};
}
