#include "platform/inherit.h"

#include <fcntl.h>
#include <mutex>
#include <set>

namespace platform {

namespace {

std::mutex g_mutex;
std::set<int>& Registered() {
    // Never destroyed: blocks may be closed while static destructors run.
    static auto* set = new std::set<int>;
    return *set;
}

} // namespace

void RegisterInheritable(int fd) {
    if (fd < 0) return;
    std::lock_guard lock(g_mutex);
    Registered().insert(fd);
}

void UnregisterInheritable(int fd) {
    if (fd < 0) return;
    std::lock_guard lock(g_mutex);
    Registered().erase(fd);
}

std::vector<int> InheritableHandles() {
    std::lock_guard lock(g_mutex);
    return {Registered().begin(), Registered().end()};
}

void KeepAcrossExec(const int* fds, int count) {
    for (int i = 0; i < count; ++i)
        if (fds[i] > 2) fcntl(fds[i], F_SETFD, 0);
}

} // namespace platform
