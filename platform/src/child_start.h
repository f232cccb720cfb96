#pragma once
// The start of a forked helper, shared by the launcher thread's fork and exec
// and the helper host's fork.
#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform::detail {

// In the forked child (async-signal-safe): it dies with the thread that forked
// it, and starts with default signal actions and none blocked. False when
// parent had already gone before that took effect (nobody would ever kill it).
bool StartAsHelper(pid_t parent);

// In the forked child: sends errno down the error pipe and leaves.
[[noreturn]] void FailHelperStart(int errorPipe, int error);

// Reaps a child that has ended or is about to.
void WaitPid(pid_t pid);

// The parent's side of ForkHelper, after the fork (pid < 0: it failed with
// forkError).
int AwaitHelperStart(pid_t pid, int forkError, const int pipeFds[2], pid_t* started, int* pidfd);

// Forks a helper: the child runs childMain(parent, errorPipe), which never
// returns. It either fails its start with FailHelperStart, or starts by
// writing 0 down the pipe or by exec (which closes the pipe). Returns 0 with
// the pid and a pidfd (opened while the child is still unreaped, so it cannot
// name another process), or an errno value with no child left.
template <class ChildMain>
int ForkHelper(ChildMain&& childMain, pid_t* pid, int* pidfd) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        childMain(parent, pipeFds[1]);
        _exit(127);
    }
    return AwaitHelperStart(child, errno, pipeFds, pid, pidfd);
}

} // namespace platform::detail
