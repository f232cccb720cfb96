#include "platform/process.h"

#include "descriptor.h"
#include "platform/inherit.h"
#include "platform/router.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

namespace platform {

namespace {

// What fork+exec needs, prepared before the fork: the child may only make
// async-signal-safe calls, so it must not build strings.
struct Request {
    std::string path;              // the program, absolute
    std::vector<std::string> args; // argv, args[0] the token as written
    std::string currentDir;        // empty = keep the caller's
    std::vector<char*> argv;
    std::vector<int> handOver; // descriptors that survive the exec
    // Result, filled by the launcher thread.
    bool done = false;
    int error = 0;
    int pidfd = -1;
    pid_t pid = -1;
};

struct Child {
    pid_t pid = -1;
    int watch = -1; // the launcher thread's own pidfd; only that thread closes it
    bool ended = false;
    int exitCode = kStillActive;
    bool terminated = false;
    int terminateCode = 0;
};

int ExitCodeOf(const siginfo_t& info, const Child& child) {
    if (info.si_code == CLD_EXITED) return info.si_status;
    if (child.terminated && info.si_status == SIGKILL) return child.terminateCode;
    return 128 + info.si_status;
}

// Collects the child's exit status if it has ended. Caller holds the lock, so
// the launcher thread and GetHelperExitCode never both record it.
void ReapIfEnded(Child& child, int pidfd) {
    if (child.ended) return;
    siginfo_t info{};
    int rc;
    do {
        rc = waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
                    WEXITED | WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0 && info.si_pid == 0) return; // still running
    child.ended = true;
    // rc < 0: the status is gone (SIGCHLD set to be ignored reaps on its own).
    child.exitCode = rc == 0 ? ExitCodeOf(info, child) : -1;
}

[[noreturn]] void ChildFail(int errorPipe, int error) {
    ssize_t ignored = write(errorPipe, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Runs in the forked child: async-signal-safe calls only.
[[noreturn]] void ChildExec(const Request& r, pid_t parent, int errorPipe) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have died before the line above took effect; then nobody
    // would ever kill this child.
    if (getppid() != parent) _exit(127);
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
    if (!r.currentDir.empty() && chdir(r.currentDir.c_str()) != 0) ChildFail(errorPipe, errno);
    KeepAcrossExec(r.handOver.data(), int(r.handOver.size()));
    execv(r.path.c_str(), r.argv.data());
    ChildFail(errorPipe, errno);
}

void WaitPid(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// fork+exec on the launcher thread. The error pipe is close-on-exec: a
// successful exec closes it (read sees end of file), a failure sends errno.
void Spawn(Request& r) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        r.error = errno;
        return;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) ChildExec(r, parent, pipeFds[1]);
    int forkError = errno;
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        r.error = forkError;
        return;
    }
    int childError = 0;
    ssize_t got;
    do {
        got = read(pipeFds[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(pipeFds[0]);
    if (got == sizeof childError) {
        WaitPid(pid);
        r.error = childError ? childError : ENOEXEC;
        return;
    }
    // Still our unreaped child, so the pid cannot have been reused yet.
    int pidfd = detail::AboveStdio(pidfd_open(pid, 0));
    if (pidfd < 0) {
        r.error = errno;
        kill(pid, SIGKILL);
        WaitPid(pid);
        return;
    }
    r.pid = pid;
    r.pidfd = pidfd;
}

// Forks every helper and reaps every helper. One thread for the whole process,
// started on first use and never stopped (see process.h for why it forks).
class Launcher {
public:
    static Launcher* Get() {
        // Deliberately never destroyed: helpers may still be running while
        // static destructors run at exit.
        static Launcher* instance = [] {
            auto* l = new Launcher;
            return l->Start() ? l : nullptr;
        }();
        return instance;
    }

    int Launch(Request& r) {
        std::unique_lock lock(mutex_);
        queue_.push_back(&r);
        uint64_t one = 1;
        if (write(wake_, &one, sizeof one) != sizeof one) {
            queue_.pop_back();
            return EAGAIN;
        }
        done_.wait(lock, [&] { return r.done; });
        return r.error;
    }

    int Terminate(int handle, int exitCode) {
        std::lock_guard lock(mutex_);
        Child* child = Find(handle);
        if (!child) return EBADF;
        ReapIfEnded(*child, handle);
        if (child->ended) return ESRCH;
        if (pidfd_send_signal(handle, SIGKILL, nullptr, 0) != 0) return errno;
        child->terminated = true;
        child->terminateCode = exitCode;
        return 0;
    }

    int ExitCode(int handle, int* code) {
        std::lock_guard lock(mutex_);
        Child* child = Find(handle);
        if (!child) return EBADF;
        // A wait on the handle may return before the launcher thread has
        // reaped the child; the code must be known as soon as the wait is over.
        ReapIfEnded(*child, handle);
        *code = child->exitCode;
        return 0;
    }

    int ProcessId(int handle) {
        std::lock_guard lock(mutex_);
        Child* child = Find(handle);
        return child ? child->pid : -1;
    }

    void Close(int handle) {
        std::lock_guard lock(mutex_);
        auto it = byHandle_.find(handle);
        if (it == byHandle_.end()) return;
        // A child that has ended is reaped here and now, so a caller that
        // waited for the end and closes the handle leaves no zombie behind;
        // one still running is reaped by the launcher thread when it ends.
        if (Child* child = Find(handle)) ReapIfEnded(*child, handle);
        byHandle_.erase(it);
        close(handle);
    }

private:
    bool Start() {
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) return false;
        // Created with every signal blocked, so signals meant for the engine
        // are never delivered to this thread (a new thread inherits the mask).
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        bool ok = true;
        try {
            std::thread(&Launcher::Run, this).detach();
        } catch (...) {
            ok = false;
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return ok;
    }

    Child* Find(int handle) {
        auto it = byHandle_.find(handle);
        return it == byHandle_.end() ? nullptr : it->second.get();
    }

    void Run() {
        std::vector<pollfd> fds;
        std::vector<std::shared_ptr<Child>> watched;
        for (;;) {
            fds.assign(1, pollfd{wake_, POLLIN, 0});
            {
                std::lock_guard lock(mutex_);
                watched = live_;
            }
            for (auto& c : watched)
                fds.push_back({c->watch, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0) continue;
            if (fds[0].revents) LaunchQueued();
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents) Reap(watched[i - 1]);
            }
        }
    }

    void LaunchQueued() {
        uint64_t count;
        ssize_t ignored = read(wake_, &count, sizeof count);
        (void)ignored;
        std::deque<Request*> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(queue_);
        }
        for (Request* r : batch)
            Spawn(*r);
        std::lock_guard lock(mutex_);
        for (Request* r : batch) {
            if (r->error == 0) Register(*r);
            r->done = true;
        }
        done_.notify_all();
    }

    // Caller holds the lock. The child is watched through a descriptor of its
    // own, so closing the caller's handle never disturbs the poll.
    void Register(Request& r) {
        auto child = std::make_shared<Child>();
        child->pid = r.pid;
        child->watch = fcntl(r.pidfd, F_DUPFD_CLOEXEC, 3);
        if (child->watch < 0) {
            r.error = errno;
            pidfd_send_signal(r.pidfd, SIGKILL, nullptr, 0);
            WaitPid(r.pid);
            close(r.pidfd);
            r.pidfd = -1;
            return;
        }
        byHandle_[r.pidfd] = child;
        live_.push_back(child);
    }

    void Reap(const std::shared_ptr<Child>& child) {
        std::lock_guard lock(mutex_);
        ReapIfEnded(*child, child->watch);
        if (!child->ended) return;
        close(child->watch);
        child->watch = -1;
        std::erase(live_, child);
    }

    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Request*> queue_;
    std::map<int, std::shared_ptr<Child>> byHandle_; // open process handles
    std::vector<std::shared_ptr<Child>> live_;       // children not reaped yet
    int wake_ = -1;
};

// A bare name as the shell would find it in PATH; empty when it is nowhere.
std::string SearchPath(const std::string& name) {
    const char* env = std::getenv("PATH");
    std::string dirs = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

// The program's absolute path, fixed before the child changes its folder: a
// path with a slash counts from the caller's folder, a bare name is searched
// in PATH.
int ResolveProgram(const std::string& token, std::string* path) {
    if (token.empty()) return EINVAL;
    std::string found = token.find('/') != std::string::npos ? token : SearchPath(token);
    if (found.empty()) return ENOENT;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(found, ec);
    if (ec) return ec.value();
    *path = absolute.string();
    return 0;
}

// An unquoted program path may hold blanks (an encoder's command line is not
// quoted): as the launch convention this follows does, try each longer
// blank-separated prefix of the line until one names an executable file, and
// split the rest into the arguments.
bool SplitUnquotedProgram(const std::string& line, std::vector<std::string>* args) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '"') return false;
    for (size_t end = line.find_first_of(" \t", start); end != std::string::npos;
         end = line.find_first_of(" \t", end + 1)) {
        size_t next = line.find_first_of(" \t", end + 1);
        std::string candidate =
            line.substr(start, (next == std::string::npos ? line.size() : next) - start);
        std::error_code ec;
        if (candidate.find('/') == std::string::npos ||
            !std::filesystem::is_regular_file(candidate, ec) || access(candidate.c_str(), X_OK) != 0)
            continue;
        std::vector<std::string> rest =
            next == std::string::npos ? std::vector<std::string>{}
                                      : SplitCommandLine("x" + line.substr(next));
        if (!rest.empty()) rest.erase(rest.begin());
        args->assign(1, candidate);
        args->insert(args->end(), rest.begin(), rest.end());
        return true;
    }
    return false;
}

} // namespace

int LaunchHelper(const std::string& commandLine, const std::string& currentDir,
                 int* processHandle) {
    return LaunchHelper(commandLine, currentDir, processHandle, InheritableHandles());
}

int LaunchHelper(const std::string& commandLine, const std::string& currentDir, int* processHandle,
                 const std::vector<int>& handOver) {
    *processHandle = -1;
    Request r;
    r.args = SplitCommandLine(commandLine);
    if (r.args.empty()) return EINVAL;
    if (r.args[0].find('/') != std::string::npos && access(r.args[0].c_str(), F_OK) != 0)
        SplitUnquotedProgram(commandLine, &r.args);
    int rc = ResolveProgram(r.args[0], &r.path);
    if (rc != 0) return rc;
    r.currentDir = currentDir;
    r.handOver = handOver;
    // Every helper reaches the engine's windows through the router.
    if (const char* router = std::getenv(kRouterFdVariable))
        r.handOver.push_back(std::atoi(router));
    for (auto& a : r.args)
        r.argv.push_back(a.data());
    r.argv.push_back(nullptr);
    Launcher* launcher = Launcher::Get();
    if (!launcher) return EAGAIN;
    rc = launcher->Launch(r);
    if (rc == 0) *processHandle = r.pidfd;
    return rc;
}

int TerminateHelper(int processHandle, int exitCode) {
    Launcher* launcher = Launcher::Get();
    return launcher ? launcher->Terminate(processHandle, exitCode) : EBADF;
}

int GetHelperExitCode(int processHandle, int* code) {
    Launcher* launcher = Launcher::Get();
    return launcher ? launcher->ExitCode(processHandle, code) : EBADF;
}

int GetHelperProcessId(int processHandle) {
    Launcher* launcher = Launcher::Get();
    return launcher ? launcher->ProcessId(processHandle) : -1;
}

void CloseHelperHandle(int processHandle) {
    if (Launcher* launcher = Launcher::Get()) launcher->Close(processHandle);
}

} // namespace platform
