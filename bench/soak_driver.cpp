// Soak: one process imports, encodes and publishes JOBS videos in a row
// through the engine's exports, as reelpage-cli does, and reports what the
// process holds before the first job, after it, and after the last:
// descriptors, threads, resident memory and the history's records. Each job
// imports a new path (a hard link to one of the given sources in turn), so
// that every job adds one record to the history; past the first job, which
// loads what stays loaded, nothing else may grow.
//
//   soak_driver WORK-FOLDER JOBS SOURCE...
//
// Exit status 0 when nothing grew, 1 when something did, 2 when a job failed.
//
// REELPAGE_SOAK_LEAK=1 makes every job leave a descriptor and 2 MiB of
// touched memory behind: the test that the growth check catches a leak.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/encoding.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"

using namespace reelpage;

namespace {

struct Holdings {
    int descriptors = 0;
    int threads = 0;
    long residentKiB = 0;
    int records = 0;
};

int CountEntries(const char* folder) {
    DIR* d = opendir(folder);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1; // the descriptor of the listing itself
}

long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's runtime has it; GCC ships no header that declares it.
extern "C" void __sanitizer_purge_allocator();
#endif

Holdings Measure() {
#if defined(__SANITIZE_ADDRESS__)
    // A sanitized build holds freed memory back (up to 256 MiB) to catch late
    // uses, so its resident size grows with everything a job frees. Handing
    // that back first leaves what the jobs still hold, which is the figure;
    // between two measures freed memory is held back and checked as before.
    __sanitizer_purge_allocator();
#endif
    return {CountEntries("/proc/self/fd"), int(StatusField("Threads")), StatusField("VmRSS"),
            Bind<FnGetHistoryCount>(kGetHistoryCount)()};
}

void Print(const char* when, const Holdings& h) {
    std::printf("%-16s descriptors %4d  threads %3d  resident %7ld KiB  records %4d\n", when,
                h.descriptors, h.threads, h.residentKiB, h.records);
}

// The engine's messages to its window, and the wait for them.
struct Window {
    HWND handle = 0;
    std::vector<std::pair<uint32_t, int64_t>> messages;

    Window() {
        handle = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t) {
            messages.emplace_back(msg, w);
            return int64_t(0);
        });
    }
    void Pump() {
        pollfd p{platform::RouterWakeHandle(), POLLIN, 0};
        poll(&p, 1, 250);
        platform::RouterDispatch();
    }
};

// One job: import, project, encode, publish; the package is removed after,
// so that a long soak does not fill the disk.
bool RunJob(Window& w, const std::string& source, const std::string& output) {
    w.messages.clear();
    MediaInfo* media = Bind<FnOpenMedia>(kOpenMedia)(platform::FromUtf8(source).c_str(), w.handle, 0,
                                                     kMsgProbeDone, kMsgProbeProgress);
    int64_t imported = -1;
    while (imported < 0) {
        for (auto [msg, result] : w.messages)
            if (msg == kMsgProbeDone) imported = result;
        if (imported < 0) w.Pump();
    }
    if (imported != kProbeOk || !media || !media->m_bVideoStream) {
        std::fprintf(stderr, "%s: import failed (%lld)\n", source.c_str(),
                     static_cast<long long>(imported));
        return false;
    }
    Settings* s = Bind<FnGetSettings>(kGetSettings)();
    platform::WStrCopy(s->m_szFolder, platform::FromUtf8(output));
    for (auto& f : s->m_DefaultFormats) f = -1;
    if (!Bind<FnCreateProject>(kCreateProject)(media, 0, 0)) {
        std::fprintf(stderr, "%s: no project\n", source.c_str());
        return false;
    }
    w.messages.clear();
    Talvoricer* status = Bind<FnStartEncoding>(kStartEncoding)(w.handle);
    if (!status) {
        std::fprintf(stderr, "%s: the encoding did not start\n", source.c_str());
        return false;
    }
    int result = -1;
    while (result < 0) {
        w.Pump();
        int done = 0;
        for (auto [msg, code] : w.messages) {
            if (msg == kMsgEncoderDone && code != kEncoderOk) result = 1;
            if (msg == kMsgAudioFed && code != kAudioFedAll) result = 1;
            if (msg == kMsgEncoderDone && code == kEncoderOk) ++done;
        }
        if (result < 0 && done >= status->m_cEncoder) result = 0;
    }
    Bind<FnFinishEncoding>(kFinishEncoding)(result != 0);
    WCHAR page[kMaxPath] = {};
    const bool published = result == 0 && Bind<FnPublishPage>(kPublishPage)(1, page) == 0;
    const std::string folder = platform::ToUtf8(Bind<FnGetOutputFolder>(kGetOutputFolder)());
    Bind<FnFreeEncoding>(kFreeEncoding)();
    if (!published) {
        std::fprintf(stderr, "%s: %s failed\n", source.c_str(), result ? "encoding" : "publishing");
        return false;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return true;
}

// What an injected leak keeps: reachable, so that a leak checker at exit
// says nothing, yet never given back while the soak runs.
struct InjectedLeak {
    std::vector<int> descriptors;
    std::vector<std::unique_ptr<char[]>> blocks;

    void Leak() {
        descriptors.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
        constexpr size_t kBytes = 2 * 1024 * 1024;
        blocks.emplace_back(new char[kBytes]);
        std::memset(blocks.back().get(), 0x5A, kBytes); // resident, not only reserved
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::atoi(argv[2]) < 2) {
        std::fprintf(stderr, "usage: %s WORK-FOLDER JOBS(>=2) SOURCE...\n", argv[0]);
        return 2;
    }
    const std::string work = std::filesystem::absolute(argv[1]).string();
    const int jobs = std::atoi(argv[2]);
    const std::vector<std::string> sources(argv + 3, argv + argc);
    const std::string output = work + "/packages";
    std::filesystem::create_directories(output);

    Bind<FnInitDiagnostics>(kInitDiagnostics)();
    if (Bind<FnInitFolders>(kInitFolders)() != 0) {
        std::fprintf(stderr, "the installation check failed\n");
        return 2;
    }
    Bind<FnInitEngine>(kInitEngine)();
    Window w;
    const char* leakSwitch = std::getenv("REELPAGE_SOAK_LEAK");
    const bool leak = leakSwitch && std::strcmp(leakSwitch, "1") == 0;
    InjectedLeak leaked;

    const Holdings before = Measure();
    Print("before", before);
    Holdings first;
    for (int i = 0; i < jobs; ++i) {
        const std::string& source = sources[size_t(i) % sources.size()];
        const std::string link = work + "/job-" + std::to_string(i) +
                                 std::filesystem::path(source).extension().string();
        std::error_code ec;
        std::filesystem::remove(link, ec);
        std::filesystem::create_hard_link(source, link, ec);
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", link.c_str(), ec.message().c_str());
            return 2;
        }
        if (!RunJob(w, link, output)) return 2;
        if (leak) leaked.Leak();
        if (i == 0) Print("after job 1", first = Measure());
    }
    const Holdings after = Measure();
    Print(("after job " + std::to_string(jobs)).c_str(), after);

    // Past the first job: one record (and the descriptor of its shared
    // block) per job, and nothing else.
    const int records = after.records - first.records;
    const long residentPerJob = (after.residentKiB - first.residentKiB) / (jobs - 1);
    std::printf("per job after the first: descriptors %+.2f  threads %+.2f  resident %+ld KiB  "
                "records %+.2f\n",
                double(after.descriptors - first.descriptors) / (jobs - 1),
                double(after.threads - first.threads) / (jobs - 1), residentPerJob,
                double(records) / (jobs - 1));
    bool grew = false;
    if (records != jobs - 1) {
        std::printf("GREW: %d records for %d jobs\n", records, jobs - 1);
        grew = true;
    }
    if (after.descriptors - first.descriptors > records) {
        std::printf("GREW: descriptors beyond one a record\n");
        grew = true;
    }
    if (after.threads > first.threads) {
        std::printf("GREW: threads\n");
        grew = true;
    }
    // A record's block is one page; allocators keep some slack, so a bound
    // well above that and well below what any leaked frame or buffer costs.
    constexpr long kResidentSlackPerJobKiB = 512;
    if (residentPerJob > kResidentSlackPerJobKiB) {
        std::printf("GREW: resident memory by %ld KiB a job\n", residentPerJob);
        grew = true;
    }
    Bind<FnExitEngine>(kExitEngine)();
    return grew ? 1 : 0;
}
