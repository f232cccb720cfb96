// The decoder helper. Started by the engine with the handle of its launch
// block on the command line; loads the plug-in the block names and drives it
// with the decoded media. Exit codes: 0 once the plug-in has had its last
// word (it has then reported the outcome itself), 1 bad command line or
// launch block, 2 plug-in not loadable, 3 the plug-in's Init refused.
#include "reelpage/helper_log.h"
#include "DecodeSession.h"
#include "DecoderMain.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

#include "platform/shm.h"
#include "platform/wstr.h"
#include "reelpage/decoder_words.h"
#include "reelpage/plugin.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Leaves without running destructors: the plug-in has reported its outcome,
// and nothing its teardown or the codecs' threads might do can change the
// exit code the engine reads.
[[noreturn]] void Leave(int code) {
    fflush(nullptr);
    _exit(code);
}

} // namespace

int DecoderMain(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    if (argc < 2) return 1;
    // The handle, sign-extended to 64 bits and printed unsigned.
    errno = 0;
    char* end = nullptr;
    const unsigned long long number = strtoull(argv[1], &end, 10);
    if (errno != 0 || end == argv[1] || *end != 0) return 1;
    const int handle = static_cast<int>(static_cast<long long>(number));
    // The video decoder's threads, when the engine fixes them, and whether
    // the sound is left undecoded.
    int videoThreads = 0;
    bool sound = true;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], reelpage::kDecoderNoSound) == 0) {
            sound = false;
            continue;
        }
        errno = 0;
        const long threads = strtol(argv[i], &end, 10);
        if (errno != 0 || end == argv[i] || *end != 0 || threads < 1 || threads > 64) return 1;
        videoThreads = int(threads);
    }

    platform::SharedBlock block;
    if (platform::MapSharedBlock(handle, sizeof(reelpage::HelperLaunch), &block) != 0) return 1;
    auto* launch = static_cast<reelpage::HelperLaunch*>(block.view);
    platform::WStrTerminate(launch->m_szFileName, reelpage::kMaxPath);
    platform::WStrTerminate(launch->m_szPlugin, reelpage::kMaxPath);
    reelpage::HelperLogOpen(launch->m_hLogFile, "dec");

    const std::string pluginPath = platform::ToUtf8(launch->m_szPlugin);
    void* module = dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        reelpage::HelperLog(reelpage::kHelperLogError, "cannot load %s: %s\n", pluginPath.c_str(),
                            dlerror());
        Leave(2);
    }
    auto entry = reinterpret_cast<reelpage::PluginEntry>(dlsym(module, reelpage::kPluginEntryName));
    if (!entry) {
        reelpage::HelperLog(reelpage::kHelperLogError, "%s has no %s\n", pluginPath.c_str(),
                            reelpage::kPluginEntryName);
        Leave(2);
    }
    reelpage::PluginCallbacks table{};
    entry(0, &table);
    void* const* slots = reinterpret_cast<void* const*>(&table);
    for (size_t i = 0; i < sizeof(table) / sizeof(void*); ++i) {
        if (!slots[i]) {
            reelpage::HelperLog(reelpage::kHelperLogError, "%s left callback %zu empty\n",
                                pluginPath.c_str(), i);
            Leave(2);
        }
    }
    if (table.Init(launch) == -1) Leave(3);

    dec::DecodeSession session(table, *launch, videoThreads, sound);
    Leave(session.Run());
}
