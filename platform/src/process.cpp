#include "platform/process.h"

#include "child_start.h"
#include "descriptor.h"
#include "host_protocol.h"
#include "platform/helper_host.h"
#include "platform/inherit.h"
#include "platform/router.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

namespace platform {

namespace {

using detail::HostMessage;

// What fork+exec needs, prepared before the fork: the child may only make
// async-signal-safe calls, so it must not build strings.
struct Request {
    std::string path;              // the program, absolute
    std::vector<std::string> args; // argv, args[0] the token as written
    std::string currentDir;        // empty = keep the caller's
    bool endHost = false;          // no launch: the helper host is to end
    std::vector<char*> argv;
    std::vector<int> handOver; // descriptors that survive the exec
    // Result, filled by the launcher thread.
    bool done = false;
    int error = 0;
    int pidfd = -1;
    pid_t pid = -1;
    bool registered = false; // a hosted child is registered as soon as the host names it
};

struct Child {
    pid_t pid = -1;
    int watch = -1; // the launcher thread's own pidfd; only that thread closes it
    bool ended = false;
    int exitCode = kStillActive;
    bool terminated = false;
    int terminateCode = 0;
    // Forked by the helper host: the host reaps it and reports its status.
    bool hosted = false;
    bool orphaned = false; // the host died first; its report will never come
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

// Runs in the forked child: async-signal-safe calls only.
[[noreturn]] void ChildExec(const Request& r, pid_t parent, int errorPipe) {
    if (!detail::StartAsHelper(parent)) _exit(127);
    if (!r.currentDir.empty() && chdir(r.currentDir.c_str()) != 0)
        detail::FailHelperStart(errorPipe, errno);
    KeepAcrossExec(r.handOver.data(), int(r.handOver.size()));
    execv(r.path.c_str(), r.argv.data());
    detail::FailHelperStart(errorPipe, errno);
}

// fork+exec on the launcher thread. The error pipe is close-on-exec: a
// successful exec closes it, a failure sends errno.
void Spawn(Request& r) {
    r.error = detail::ForkHelper(
        [&r](pid_t parent, int errorPipe) { ChildExec(r, parent, errorPipe); }, &r.pid, &r.pidfd);
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

    void SetHost(const std::string& path, void (*onFallback)(int)) {
        std::lock_guard lock(mutex_);
        hostPath_ = path;
        onFallback_ = onFallback;
    }

    int Terminate(int handle, int exitCode) {
        std::lock_guard lock(mutex_);
        Child* child = Find(handle);
        if (!child) return EBADF;
        if (child->hosted) {
            if (child->ended || HasEnded(handle)) return ESRCH;
        } else {
            ReapIfEnded(*child, handle);
            if (child->ended) return ESRCH;
        }
        if (pidfd_send_signal(handle, SIGKILL, nullptr, 0) != 0) return errno;
        child->terminated = true;
        child->terminateCode = exitCode;
        return 0;
    }

    int ExitCode(int handle, int* code) {
        std::unique_lock lock(mutex_);
        std::shared_ptr<Child> child = FindShared(handle);
        if (!child) return EBADF;
        // A wait on the handle may return before the launcher thread has
        // reaped the child; the code must be known as soon as the wait is over.
        if (child->hosted)
            AwaitReport(lock, *child, handle);
        else
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
        std::unique_lock lock(mutex_);
        std::shared_ptr<Child> child = FindShared(handle);
        if (!child) return;
        // A child that has ended is reaped here and now, so a caller that
        // waited for the end and closes the handle leaves no zombie behind;
        // one still running is reaped by the launcher thread (or its host)
        // when it ends.
        if (child->hosted)
            AwaitReport(lock, *child, handle);
        else
            ReapIfEnded(*child, handle);
        byHandle_.erase(handle);
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

    Child* Find(int handle) { return FindShared(handle).get(); }
    std::shared_ptr<Child> FindShared(int handle) {
        auto it = byHandle_.find(handle);
        return it == byHandle_.end() ? nullptr : it->second;
    }

    // For a hosted child that has ended: the host reaps it and reports right
    // after, so its code (and its being reaped) waits for that report.
    void AwaitReport(std::unique_lock<std::mutex>& lock, Child& child, int handle) {
        if (child.ended || !HasEnded(handle)) return;
        reports_.wait_for(lock, std::chrono::seconds(5),
                          [&] { return child.ended || child.orphaned; });
        if (child.ended) return;
        child.ended = true;
        // Gone with its host, which kills its children as it dies.
        child.exitCode = !child.orphaned    ? -1
                         : child.terminated ? child.terminateCode
                                            : 128 + SIGKILL;
    }

    // Whether the process behind a pidfd has ended, for one that is not ours
    // to reap.
    static bool HasEnded(int pidfd) {
        pollfd p{pidfd, POLLIN, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    }

    void Run() {
        std::vector<pollfd> fds;
        std::vector<std::shared_ptr<Child>> watched;
        for (;;) {
            fds.assign(1, pollfd{wake_, POLLIN, 0});
            const int hostSock = host_.sock;
            if (hostSock >= 0) fds.push_back({hostSock, POLLIN, 0});
            const size_t first = fds.size();
            {
                std::lock_guard lock(mutex_);
                watched = live_;
            }
            for (auto& c : watched)
                fds.push_back({c->watch, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0) continue;
            if (fds[0].revents) LaunchQueued();
            // A launch may have found the host gone and started another.
            if (hostSock >= 0 && fds[1].revents && hostSock == host_.sock) ReadHostReports();
            for (size_t i = first; i < fds.size(); ++i) {
                if (fds[i].revents) Reap(watched[i - first]);
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
        for (Request* r : batch) {
            if (r->endHost)
                EndHost();
            else if (!SpawnHosted(*r))
                Spawn(*r);
        }
        std::lock_guard lock(mutex_);
        for (Request* r : batch) {
            if (r->error == 0 && !r->registered && !r->endHost) Register(*r);
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
            detail::WaitPid(r.pid);
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

    // The helper host, as the launcher thread alone sees it.
    struct Host {
        std::string path; // the program started
        pid_t pid = -1;
        int pidfd = -1;
        int sock = -1;                 // -1: not running
        std::set<std::string> served;  // absolute paths of the programs it contains
        std::string failed;            // a path that could not be started is not tried again
    };

    void Fallback(int error) {
        void (*report)(int);
        {
            std::lock_guard lock(mutex_);
            report = onFallback_;
        }
        if (report) report(error);
    }

    // The socket's end tells the host to kill and reap its helpers and
    // exit; reaping it here makes its time, and theirs, this process's.
    void EndHost() {
        if (host_.sock < 0) return;
        // Reports already sent keep their helpers' own codes.
        ReadHostReports();
        if (host_.sock < 0) return;
        close(host_.sock);
        host_.sock = -1;
        pollfd p{host_.pidfd, POLLIN, 0};
        while (poll(&p, 1, 2000) < 0 && errno == EINTR) {
        }
        StopHostAndItsHelpers();
    }

    void StopHost() {
        if (host_.sock >= 0) close(host_.sock);
        host_.sock = -1;
        pidfd_send_signal(host_.pidfd, SIGKILL, nullptr, 0);
        siginfo_t info{};
        while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(host_.pidfd), &info,
                      WEXITED) < 0 &&
               errno == EINTR) {
        }
        close(host_.pidfd);
        host_.pidfd = -1;
        host_.served.clear();
    }

    // The host has died (or stopped answering): its children die with it, and
    // their reports will never come.
    void HostLost() {
        StopHostAndItsHelpers();
        Fallback(0);
    }

    // The host's helpers went with it: their reports will never come.
    void StopHostAndItsHelpers() {
        StopHost();
        {
            std::lock_guard lock(mutex_);
            for (auto& [pid, child] : hosted_)
                child->orphaned = true;
            hosted_.clear();
        }
        reports_.notify_all();
    }

    // Starts the host with one end of a socket pair and reads the names of the
    // programs it serves. Returns 0 or an errno value.
    int StartHost(const std::string& path) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return errno;
        const int mine = detail::AboveStdio(pair[0]);
        const int theirs = detail::AboveStdio(pair[1]);
        if (mine < 0 || theirs < 0) {
            int error = errno;
            if (mine >= 0) close(mine);
            if (theirs >= 0) close(theirs);
            return error;
        }
        Request r;
        r.path = path;
        r.args = {path, std::to_string(theirs)};
        r.argv = {r.args[0].data(), r.args[1].data(), nullptr};
        r.currentDir = "/";
        r.handOver = {theirs};
        Spawn(r);
        close(theirs);
        if (r.error != 0) {
            close(mine);
            return r.error;
        }
        host_ = Host{path, r.pid, r.pidfd, mine, {}, host_.failed};
        std::vector<char> data;
        std::vector<int> fds;
        pollfd p{mine, POLLIN, 0};
        HostMessage kind{};
        std::vector<std::string> names;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (poll(&p, 1, 10000) == 1 && detail::ReceivePacket(mine, &data, &fds, 0, 0) >=
                                           ssize_t(sizeof kind)) {
            std::memcpy(&kind, data.data(), sizeof kind);
            if (kind == HostMessage::Hello && detail::SplitStrings(data, sizeof kind, &names)) {
                for (const auto& name : names)
                    host_.served.insert((folder / name).lexically_normal().string());
                return 0;
            }
        }
        StopHost();
        return EPROTO;
    }

    // The request for r, with the environment as it is now: an exec'd helper
    // would get the one of the moment of its fork.
    static std::vector<char> LaunchMessage(const Request& r, const std::string& program,
                                           const std::set<int>& targets) {
        std::vector<std::string_view> env;
        for (char** e = environ; e && *e; ++e)
            env.emplace_back(*e);
        const detail::LaunchHeader header{HostMessage::Launch, uint32_t(targets.size()),
                                          uint32_t(r.args.size()), uint32_t(env.size())};
        std::vector<char> message(sizeof header);
        std::memcpy(message.data(), &header, sizeof header);
        for (int fd : targets) {
            int32_t target = fd;
            message.insert(message.end(), reinterpret_cast<char*>(&target),
                           reinterpret_cast<char*>(&target) + sizeof target);
        }
        auto add = [&](std::string_view text) {
            message.insert(message.end(), text.begin(), text.end());
            message.push_back(0);
        };
        add(std::filesystem::path(program).filename().string());
        for (const auto& a : r.args)
            add(a);
        for (auto e : env)
            add(e);
        add(r.currentDir);
        return message;
    }

    // Launches r through the host when the host serves its program. False when
    // the launch is for fork and exec: not served, or no host to be had.
    bool SpawnHosted(Request& r) {
        std::string path;
        {
            std::lock_guard lock(mutex_);
            path = hostPath_;
        }
        if (path.empty()) return false;
        if (host_.sock < 0) {
            if (path == host_.failed) return false;
            if (int error = StartHost(path); error != 0) {
                host_.failed = path;
                Fallback(error);
                return false;
            }
        }
        std::string program = std::filesystem::path(r.path).lexically_normal().string();
        // A program file gone missing fails as exec would have it fail.
        if (!host_.served.count(program) || access(r.path.c_str(), X_OK) != 0) return false;

        // What the child gets under its numbers: the standard streams as they
        // are now, and what the launch hands over.
        std::set<int> targets;
        for (int fd : r.handOver)
            if (fd >= 0 && fcntl(fd, F_GETFD) >= 0) targets.insert(fd);
        for (int fd = 0; fd <= 2; ++fd)
            if (fcntl(fd, F_GETFD) >= 0) targets.insert(fd);
        std::vector<int> fds(targets.begin(), targets.end());
        const int here = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (here < 0) return false;
        fds.push_back(here);

        const std::vector<char> message = LaunchMessage(r, program, targets);
        int error = detail::SendPacket(host_.sock, message.data(), message.size(), fds.data(),
                                       fds.size());
        close(here);
        if (error == EPIPE || error == ECONNRESET || error == ENOTCONN) {
            HostLost();
            return false;
        }
        // Too long an environment or too many descriptors, say: this one goes
        // by exec, and the host's helpers run on.
        if (error != 0) return false;

        std::vector<char> data;
        std::vector<int> received;
        for (;;) {
            pollfd p{host_.sock, POLLIN, 0};
            ssize_t got = -1;
            if (poll(&p, 1, 30000) == 1)
                got = detail::ReceivePacket(host_.sock, &data, &received, 1, 0);
            HostMessage kind{};
            if (got >= ssize_t(sizeof kind)) std::memcpy(&kind, data.data(), sizeof kind);
            if (kind == HostMessage::Ended && size_t(got) == sizeof(detail::EndReport)) {
                HandleReport(data);
                continue;
            }
            detail::LaunchResult result{};
            if (kind != HostMessage::Launched || size_t(got) != sizeof result) {
                for (int fd : received)
                    close(fd);
                HostLost();
                return false;
            }
            std::memcpy(&result, data.data(), sizeof result);
            if (result.error != 0 || received.size() != 1) {
                for (int fd : received)
                    close(fd);
                r.error = result.error != 0 ? result.error : EPROTO;
                return true;
            }
            const int pidfd = detail::AboveStdio(received[0]);
            if (pidfd < 0) {
                r.error = errno;
                return true;
            }
            r.pid = result.pid;
            r.pidfd = pidfd;
            auto child = std::make_shared<Child>();
            child->pid = r.pid;
            child->hosted = true;
            std::lock_guard lock(mutex_);
            byHandle_[r.pidfd] = child;
            hosted_[r.pid] = child;
            r.registered = true;
            return true;
        }
    }

    void HandleReport(const std::vector<char>& data) {
        detail::EndReport report{};
        std::memcpy(&report, data.data(), sizeof report);
        siginfo_t info{};
        info.si_code = report.code;
        info.si_status = report.status;
        {
            std::lock_guard lock(mutex_);
            auto it = hosted_.find(report.pid);
            if (it == hosted_.end()) return;
            Child& child = *it->second;
            child.ended = true;
            child.exitCode = ExitCodeOf(info, child);
            hosted_.erase(it);
        }
        reports_.notify_all();
    }

    void ReadHostReports() {
        std::vector<char> data;
        std::vector<int> fds;
        for (;;) {
            ssize_t got = detail::ReceivePacket(host_.sock, &data, &fds, 0, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            HostMessage kind{};
            if (got >= ssize_t(sizeof kind)) std::memcpy(&kind, data.data(), sizeof kind);
            if (kind != HostMessage::Ended || size_t(got) != sizeof(detail::EndReport)) {
                HostLost();
                return;
            }
            HandleReport(data);
        }
    }

    Host host_;
    std::string hostPath_;
    void (*onFallback_)(int) = nullptr;
    std::map<pid_t, std::shared_ptr<Child>> hosted_; // hosted children not reported yet
    std::condition_variable reports_;

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

void UseHelperHost(const std::string& hostPath, void (*onFallback)(int error)) {
    std::string path;
    if (!hostPath.empty()) {
        std::error_code ec;
        path = std::filesystem::absolute(hostPath, ec).lexically_normal().string();
        if (ec) path.clear();
    }
    if (Launcher* launcher = Launcher::Get()) launcher->SetHost(path, onFallback);
}

void EndHelperHost() {
    Launcher* launcher = Launcher::Get();
    if (!launcher) return;
    Request r;
    r.endHost = true;
    launcher->Launch(r);
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
