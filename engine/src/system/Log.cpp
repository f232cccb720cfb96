#include "system/Log.h"

#include "system/BrowserDetection.h"
#include "system/Exports.h"

#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/folders.h"
#include "platform/inherit.h"
#include "platform/wstr.h"

namespace reelpage {

namespace {

std::atomic<int> g_hLogFile{-1};
std::atomic<bool> g_logOpened{false};
int32_t g_nOsMajor = 0;
int32_t g_nProcessors = 0;
bool g_b64Bit = false;

const char* LevelMark(int level) {
    switch (level) {
    case 2:
        return "  *  ";
    case 3:
        return " *** ";
    default:
        return "     ";
    }
}

void WriteLine(const char* mark, const char* fmt, va_list ap) {
    int fd = g_hLogFile.load(std::memory_order_acquire);
    if (fd < 0) return;
    std::string text = mark ? mark : "";
    text += platform::VFormatU8(fmt, ap);
    if (text.size() > size_t(kLogLineMax)) text.resize(kLogLineMax);
    // One write per line: the file is opened O_APPEND, so concurrent writers
    // (the engine's threads and the helpers) each land a whole line.
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
}

} // namespace

void LogWrite(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    WriteLine(LevelMark(level), fmt, ap);
    va_end(ap);
}

void LogWritePlain(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    WriteLine(nullptr, fmt, ap);
    va_end(ap);
}

void WriteLog(const char* text) {
    int fd = g_hLogFile.load(std::memory_order_acquire);
    if (fd < 0 || !text) return;
    ssize_t ignored = write(fd, text, std::strlen(text));
    (void)ignored;
}

int32_t LogHandle() {
    int fd = g_hLogFile.load(std::memory_order_acquire);
    return fd < 0 ? 0 : fd;
}

void OpenLog() {
    if (g_logOpened.exchange(true)) return;
    std::string docs;
    if (platform::GetKnownFolder(platform::KnownFolder::Documents, true, &docs) != 0) return;
    std::string folder = docs + "/Log Files/";
    platform::CreateFolder(folder.substr(0, folder.size() - 1));
    std::string path = platform::Format("%s/reelpage.log", folder.substr(0, folder.size() - 1).c_str());
    // A job of a batch adds to the log its front end began.
    const bool append = std::getenv(kLogAppendVariable) != nullptr;
    if (!append) unlink(path.c_str());
    // Handed to the helpers, which append their own lines to the same file,
    // and to nothing else (inherit.h).
    const int flags = O_WRONLY | O_CREAT | (append ? 0 : O_TRUNC) | O_APPEND | O_CLOEXEC;
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) return;
    // Keep clear of descriptors 0-2 so a helper's stdio never lands in the log.
    if (fd <= 2) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (moved < 0) return;
        fd = moved;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    platform::RegisterInheritable(fd);
    g_hLogFile.store(fd, std::memory_order_release);

    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm lt;
    localtime_r(&ts.tv_sec, &lt);
    LogWritePlain("============================================\n%d/%d/%d %d:%d:%d.%03d\n"
                  "============================================\n\n",
                  lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec,
                  int(ts.tv_nsec / 1000000));
}

namespace {

std::string OsPrettyName() {
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string v = line.substr(12);
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'')) v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return "Linux";
}

// Memory figures from /proc/meminfo in bytes; 0 when a key is absent.
unsigned long long MemInfo(const char* key) {
    std::ifstream in("/proc/meminfo");
    std::string name;
    unsigned long long kb = 0;
    std::string unit;
    while (in >> name >> kb) {
        std::getline(in, unit);
        if (name == std::string(key) + ":") return kb * 1024ULL;
    }
    return 0;
}

} // namespace

void WriteSystemReport() {
    struct utsname un {};
    if (uname(&un) != 0) {
        LogWrite(kLogError, "Error System Platform=%d\n", errno);
        return;
    }
    int major = 0, minor = 0;
    std::sscanf(un.release, "%d.%d", &major, &minor);
    g_nOsMajor = major;

    // Processor and architecture after the machine type the kernel reports.
    std::string machine = un.machine;
    std::string processor, arch, cpuType;
    int archCode = 0xFFFF;
    if (machine == "x86_64") {
        processor = "Processor=X8664 ";
        arch = "Architecture=AMD64 ";
        archCode = 9;
        g_b64Bit = true;
    } else if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") {
        processor = machine == "i386"   ? "Processor=386 "
                    : machine == "i486" ? "Processor=486 "
                                        : "Processor=PENTIUM ";
        arch = "Architecture=INTEL ";
        archCode = 0;
    } else if (machine == "ia64") {
        processor = "Processor=IA64 ";
        arch = "Architecture=IA64 ";
        archCode = 6;
        g_b64Bit = true;
    } else {
        arch = platform::Format("UNKNOWN(%d) ", archCode);
        g_b64Bit = sizeof(void*) == 8;
    }
    LogWrite(kLogInfo, "%hs\n", (processor + arch).c_str());

    std::string second = platform::Format("%s, kernel %s (%s)", OsPrettyName().c_str(), un.release,
                                          un.machine);
    if (second.size() > 255) second.resize(255);
    LogWrite(kLogInfo, "%hs\n", second.c_str());

    switch (archCode) {
    case 0:
        cpuType = "Intel";
        break;
    case 6:
        cpuType = "IA64";
        break;
    case 9:
        cpuType = "AMD64";
        break;
    default:
        cpuType = "Unknow";
        break;
    }
    LogWrite(kLogInfo, "CPU TYPE:%s\n", cpuType.c_str());
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    g_nProcessors = n > 0 ? int32_t(n) : 1;
    LogWrite(kLogInfo, "NumberOfProcessors=%d\n", g_nProcessors);

    unsigned long long total = MemInfo("MemTotal");
    unsigned long long avail = MemInfo("MemAvailable");
    if (!avail) avail = MemInfo("MemFree");
    unsigned long long swapTotal = MemInfo("SwapTotal");
    unsigned long long swapFree = MemInfo("SwapFree");
    int load = total ? int((total - avail) * 100 / total) : 0;
    LogWrite(kLogInfo, "MemoryStatus:\n");
    LogWrite(kLogInfo, "%d percent of memory is in use.\n", load);
    LogWrite(kLogInfo, "%dM bytes total of physical memory.\n", int(total >> 20));
    LogWrite(kLogInfo, "%dM bytes free of physical memory.\n", int(avail >> 20));
    // Virtual memory here is what the kernel can back: memory plus swap.
    LogWrite(kLogInfo, "%dM bytes total of virtual memory.\n", int((total + swapTotal) >> 20));
    LogWrite(kLogInfo, "%dM bytes free  of virtual memory.\n", int((avail + swapFree) >> 20));
}

int32_t OsMajorVersion() { return g_nOsMajor; }

int32_t InitDiagnostics() {
    OpenLog();
    WriteSystemReport();
    // Browser detection serves the page views of a program with a window.
    // A process without a GUI application (the command-line front end) has
    // no web engine to ask, and must not write the machine-wide value.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || !app->inherits("QGuiApplication")) return S_OK;
    return DetectBrowser();
}

// Every kernel this runs on is of the generation the check asks about; the
// answer is only 0 before the report has been made.
BOOL IsVistaOrLater() { return g_nOsMajor > 0 ? 1 : 0; }

int32_t GetProcessorCount() { return g_nProcessors; }

} // namespace reelpage
