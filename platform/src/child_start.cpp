#include "child_start.h"

#include "descriptor.h"

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

namespace platform::detail {

bool StartAsHelper(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) return false;
    // The launcher thread blocks every signal and the engine may ignore some;
    // a helper starts with none blocked and default actions.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) {
        if (s != SIGKILL && s != SIGSTOP) sigaction(s, &dfl, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    return true;
}

void FailHelperStart(int errorPipe, int error) {
    ssize_t ignored = write(errorPipe, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

void WaitPid(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

int AwaitHelperStart(pid_t pid, int forkError, const int pipeFds[2], pid_t* started, int* pidfd) {
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return forkError;
    }
    int childError = 0;
    ssize_t got;
    do {
        got = read(pipeFds[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(pipeFds[0]);
    if (got == sizeof childError && childError != 0) {
        WaitPid(pid);
        return childError;
    }
    const int fd = AboveStdio(pidfd_open(pid, 0));
    if (fd < 0) {
        const int error = errno;
        kill(pid, SIGKILL);
        WaitPid(pid);
        return error;
    }
    *started = pid;
    *pidfd = fd;
    return 0;
}

} // namespace platform::detail
