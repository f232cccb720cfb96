// The instance section: a few bytes shared by every process that has entered
// the instance, kept in a small file in the user's runtime folder. The first
// process to attach (the only one that can take an exclusive lock) zeroes it;
// every process then holds a shared lock until it ends, so the section starts
// from zero again once the last such process is gone. Attaching happens at the
// first EnterInstance or SetMainWindow rather than at library load, so that the
// runtime folder is read after the process has set up its environment.
#include "system/Exports.h"
#include "system/Log.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/folders.h"

namespace reelpage {

namespace {

struct InstanceSection {
    int32_t m_cStart;       // incremented by each EnterInstance, never decremented
    HWND m_hwndFirst;       // the first program's main window, 0 until shown
    int32_t m_pidFirst;     // the process that owns m_hwndFirst
    int32_t reserved;
};
static_assert(offsetof(InstanceSection, m_cStart) == 0);
static_assert(offsetof(InstanceSection, m_hwndFirst) == 4);

InstanceSection* g_pSection = nullptr;
InstanceSection g_privateSection{}; // used when no shared file can be had

InstanceSection* Section() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::string dir;
        // Without a runtime folder of our own the instance stays private:
        // better a second window than files anybody could plant or hold.
        if (platform::GetKnownFolder(platform::KnownFolder::Runtime, false, &dir) != 0) {
            LogWrite(kLogError, "No private runtime folder: the instance is not shared\n");
            g_pSection = &g_privateSection;
            return;
        }
        std::string path = dir + "/reelpage-instance-" + std::to_string(getuid());
        std::string guard = path + ".lock";
        int gfd = open(guard.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (gfd < 0 || fd < 0 || ftruncate(fd, sizeof(InstanceSection)) != 0) {
            if (gfd >= 0) close(gfd);
            if (fd >= 0) close(fd);
            g_pSection = &g_privateSection;
            return;
        }
        // The guard makes "test for other holders, zero, take the shared
        // lock" one step with respect to other loaders.
        flock(gfd, LOCK_EX);
        void* p = mmap(nullptr, sizeof(InstanceSection), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) {
            flock(gfd, LOCK_UN);
            close(gfd);
            close(fd);
            g_pSection = &g_privateSection;
            return;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) std::memset(p, 0, sizeof(InstanceSection));
        flock(fd, LOCK_SH); // kept (and fd kept open) for the life of the process
        flock(gfd, LOCK_UN);
        close(gfd);
        g_pSection = static_cast<InstanceSection*>(p);
    });
    return g_pSection;
}

} // namespace

int32_t EnterInstance(HWND* pFirstWindow) {
    InstanceSection* s = Section();
    if (pFirstWindow) *pFirstWindow = __atomic_load_n(&s->m_hwndFirst, __ATOMIC_ACQUIRE);
    return __atomic_add_fetch(&s->m_cStart, 1, __ATOMIC_SEQ_CST);
}

HWND SetMainWindow(HWND hwnd) {
    InstanceSection* s = Section();
    __atomic_store_n(&s->m_pidFirst, int32_t(getpid()), __ATOMIC_RELEASE);
    __atomic_store_n(&s->m_hwndFirst, hwnd, __ATOMIC_RELEASE);
    return hwnd;
}

// The process that owns the first main window (for raising it), or 0.
int32_t FirstInstanceProcess() {
    return __atomic_load_n(&Section()->m_pidFirst, __ATOMIC_ACQUIRE);
}

} // namespace reelpage
