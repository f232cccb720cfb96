#pragma once
// Which descriptors a helper may be handed. Every descriptor of this process
// is close-on-exec, so nothing leaks into programs started by others (the
// web engine's processes, the browser that opens a page). A descriptor made
// "inheritable" (a shared block, an event, the log) is registered here, and
// a launch hands a helper only the registered descriptors it names: those
// are made to survive that one exec, in the child, after the fork.
#include <vector>

namespace platform {

void RegisterInheritable(int fd);
void UnregisterInheritable(int fd);
// Every registered descriptor now (for launches that do not name theirs).
std::vector<int> InheritableHandles();
// In a forked child before exec (async-signal-safe): lets fds survive exec.
void KeepAcrossExec(const int* fds, int count);

} // namespace platform
