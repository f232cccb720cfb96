// Imports one file through the engine's exports, as the program does, and
// prints how long it took from OpenMedia to the result (seconds). Run it
// with HOME and the XDG folders pointing at an empty place, so that the file
// is not answered from the history.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>

#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"

using namespace reelpage;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MEDIA-FILE\n", argv[0]);
        return 2;
    }
    Bind<FnInitFolders>(kInitFolders)();
    int64_t result = 1000;
    const uint32_t window =
        platform::RouterCreateWindow([&](uint32_t, uint32_t msg, int64_t w, int64_t) {
            if (msg == kMsgProbeDone) result = w;
            return int64_t(0);
        });
    // dec runs in the program folder: the path must not depend on ours.
    char* absolute = realpath(argv[1], nullptr);
    if (!absolute) {
        std::perror(argv[1]);
        return 2;
    }
    const std::u16string path = platform::FromUtf8(absolute);
    free(absolute);
    const auto start = std::chrono::steady_clock::now();
    MediaInfo* media =
        Bind<FnOpenMedia>(kOpenMedia)(path.c_str(), window, 0, kMsgProbeDone, kMsgProbeProgress);
    while (result == 1000) {
        pollfd p{platform::RouterWakeHandle(), POLLIN, 0};
        poll(&p, 1, 1000);
        platform::RouterDispatch();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != kProbeOk || !media || !media->m_SampleFile || !media->m_bAudioStream) {
        std::fprintf(stderr, "import failed: result %lld (thumbnail %d, sound %d)\n",
                     static_cast<long long>(result), media ? media->m_SampleFile : -1,
                     media ? media->m_bAudioStream : -1);
        return 1;
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
