#pragma once
// The start of a forked helper, shared by the launcher thread's fork and exec
// and the helper host's fork.
#include <sys/types.h>

namespace platform::detail {

// In the forked child (async-signal-safe): it dies with the thread that forked
// it, and starts with default signal actions and none blocked. False when
// parent had already gone before that took effect (nobody would ever kill it).
bool StartAsHelper(pid_t parent);

// In the forked child: sends errno down the error pipe and leaves.
[[noreturn]] void FailHelperStart(int errorPipe, int error);

// Reaps a child that has ended or is about to.
void WaitPid(pid_t pid);

} // namespace platform::detail
