#include "platform/helper_host.h"

#include "child_start.h"
#include "host_protocol.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

namespace platform {

namespace detail {

int SendPacket(int sock, const void* data, size_t size, const int* fds, size_t fdCount) {
    iovec iov{const_cast<void*>(data), size};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    std::vector<char> control;
    if (fdCount > 0) {
        control.assign(CMSG_SPACE(fdCount * sizeof(int)), 0);
        msg.msg_control = control.data();
        msg.msg_controllen = control.size();
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = SOL_SOCKET;
        cmsg->cmsg_type = SCM_RIGHTS;
        cmsg->cmsg_len = CMSG_LEN(fdCount * sizeof(int));
        std::memcpy(CMSG_DATA(cmsg), fds, fdCount * sizeof(int));
    }
    ssize_t sent;
    do {
        sent = sendmsg(sock, &msg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return errno;
    return size_t(sent) == size ? 0 : EMSGSIZE;
}

ssize_t ReceivePacket(int sock, std::vector<char>* data, std::vector<int>* fds, size_t maxFds,
                      int flags) {
    fds->clear();
    ssize_t size;
    char probe;
    do {
        size = recv(sock, &probe, 1, MSG_PEEK | MSG_TRUNC | flags);
    } while (size < 0 && errno == EINTR);
    if (size <= 0) return size;
    data->assign(size_t(size), 0);
    std::vector<char> control(CMSG_SPACE((maxFds ? maxFds : 1) * sizeof(int)), 0);
    iovec iov{data->data(), data->size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    ssize_t got;
    do {
        got = recvmsg(sock, &msg, MSG_CMSG_CLOEXEC | flags);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        const auto* p = reinterpret_cast<const int*>(CMSG_DATA(c));
        fds->insert(fds->end(), p, p + n);
    }
    if ((msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || fds->size() > maxFds || got != size) {
        for (int fd : *fds)
            close(fd);
        fds->clear();
        errno = EMSGSIZE;
        return -1;
    }
    return got;
}

bool SplitStrings(const std::vector<char>& data, size_t offset, std::vector<std::string>* out) {
    out->clear();
    while (offset < data.size()) {
        const char* start = data.data() + offset;
        const void* end = std::memchr(start, 0, data.size() - offset);
        if (!end) return false;
        out->emplace_back(start, static_cast<const char*>(end));
        offset += out->back().size() + 1;
    }
    return true;
}

} // namespace detail

namespace {

using detail::HostMessage;

// One launch request as the host received it.
struct Launch {
    int (*main)(int, char**) = nullptr;
    std::string name;
    std::vector<int> targets;
    std::vector<int> fds; // received, same order as targets, then the engine's folder
    std::vector<std::string> args, env;
    std::string currentDir;
    // The child's argv and environ, kept where the request is: a leak check at
    // the helper's exit still finds them.
    std::vector<char*> argv, envp;
};

// Closes every descriptor but those in keep (sorted).
void CloseAllBut(const std::vector<int>& keep) {
    unsigned from = 0;
    for (int fd : keep) {
        if (unsigned(fd) > from) close_range(from, unsigned(fd) - 1, 0);
        from = unsigned(fd) + 1;
    }
    close_range(from, ~0U, 0);
}

// In the forked child: makes the process what an exec'd helper would be, then
// runs the helper. The host is single-threaded, so anything may be called.
[[noreturn]] void RunChild(Launch& l, pid_t host, int errorPipe) {
    if (!detail::StartAsHelper(host)) _exit(127);
    // The name ps and /proc show, as the program's own file would give it.
    prctl(PR_SET_NAME, l.name.c_str());

    // Everything is first moved above the highest target, so that placing one
    // descriptor never overwrites another still to be placed.
    int floor = 3;
    for (int t : l.targets)
        floor = std::max(floor, t + 1);
    int pipe = fcntl(errorPipe, F_DUPFD_CLOEXEC, floor);
    if (pipe < 0) _exit(127);
    std::vector<int> high;
    for (int fd : l.fds) {
        high.push_back(fcntl(fd, F_DUPFD_CLOEXEC, floor));
        if (high.back() < 0) detail::FailHelperStart(pipe, errno);
    }
    for (size_t i = 0; i < l.targets.size(); ++i) {
        if (dup2(high[i], l.targets[i]) < 0) detail::FailHelperStart(pipe, errno);
    }
    if (fchdir(high.back()) != 0) detail::FailHelperStart(pipe, errno);
    if (!l.currentDir.empty() && chdir(l.currentDir.c_str()) != 0) detail::FailHelperStart(pipe, errno);
    std::vector<int> keep = l.targets;
    keep.push_back(pipe);
    std::sort(keep.begin(), keep.end());
    CloseAllBut(keep);

    for (auto& e : l.env)
        l.envp.push_back(e.data());
    l.envp.push_back(nullptr);
    environ = l.envp.data();
    for (auto& a : l.args)
        l.argv.push_back(a.data());
    l.argv.push_back(nullptr);

    int ok = 0;
    if (write(pipe, &ok, sizeof ok) != sizeof ok) _exit(127);
    close(pipe);
    std::exit(l.main(int(l.args.size()), l.argv.data()));
}

// Reads a launch request; an errno value when it is malformed.
int ParseLaunch(const std::vector<char>& data, std::vector<int>& fds, const HostedProgram* programs,
                size_t count, Launch* l) {
    detail::LaunchHeader h{};
    if (data.size() < sizeof h) return EPROTO;
    std::memcpy(&h, data.data(), sizeof h);
    size_t offset = sizeof h + size_t(h.fdCount) * sizeof(int32_t);
    if (h.kind != HostMessage::Launch || offset > data.size() || fds.size() != h.fdCount + 1)
        return EPROTO;
    l->targets.resize(h.fdCount);
    std::memcpy(l->targets.data(), data.data() + sizeof h, h.fdCount * sizeof(int32_t));
    for (int t : l->targets)
        if (t < 0) return EPROTO;
    std::vector<std::string> strings;
    if (!detail::SplitStrings(data, offset, &strings) ||
        strings.size() != 2 + size_t(h.argCount) + h.envCount)
        return EPROTO;
    l->name = strings[0];
    l->args.assign(strings.begin() + 1, strings.begin() + 1 + h.argCount);
    l->env.assign(strings.begin() + 1 + h.argCount, strings.end() - 1);
    l->currentDir = strings.back();
    l->fds = fds;
    for (size_t i = 0; i < count; ++i)
        if (l->name == programs[i].name) l->main = programs[i].main;
    return l->main && !l->args.empty() ? 0 : ENOENT;
}

// Forks the helper; returns 0 with its pid and pidfd, or an errno value.
int Start(Launch& l, pid_t* pid, int* pidfd) {
    return detail::ForkHelper([&l](pid_t host, int errorPipe) { RunChild(l, host, errorPipe); },
                              pid, pidfd);
}

} // namespace

int RunHelperHost(int argc, char** argv, const HostedProgram* programs, size_t count) {
    if (argc != 2) return 1;
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(argv[1], &end, 10);
    int type = 0;
    socklen_t typeSize = sizeof type;
    if (errno != 0 || end == argv[1] || *end != 0 || number < 3 || number > 0x7fffffff ||
        getsockopt(int(number), SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 ||
        type != SOCK_SEQPACKET)
        return 1;
    const int sock = int(number);
    fcntl(sock, F_SETFD, FD_CLOEXEC);
    // The host must not keep the folder it was started in busy.
    if (chdir("/") != 0) return 1;

    std::vector<char> hello(sizeof(HostMessage));
    const HostMessage kind = HostMessage::Hello;
    std::memcpy(hello.data(), &kind, sizeof kind);
    for (size_t i = 0; i < count; ++i)
        hello.insert(hello.end(), programs[i].name, programs[i].name + std::strlen(programs[i].name) + 1);
    if (detail::SendPacket(sock, hello.data(), hello.size(), nullptr, 0) != 0) return 1;

    std::map<pid_t, int> children; // pid -> the host's own pidfd
    std::vector<pollfd> fds;
    std::vector<pid_t> polled;
    std::vector<char> data;
    std::vector<int> received;
    for (;;) {
        fds.assign(1, pollfd{sock, POLLIN, 0});
        polled.clear();
        for (auto& [pid, pidfd] : children) {
            fds.push_back({pidfd, POLLIN, 0});
            polled.push_back(pid);
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const pid_t pid = polled[i - 1];
            siginfo_t info{};
            if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(children[pid]), &info,
                       WEXITED | WNOHANG) != 0 ||
                info.si_pid == 0)
                continue;
            close(children[pid]);
            children.erase(pid);
            detail::EndReport report{HostMessage::Ended, pid, info.si_code, info.si_status};
            if (detail::SendPacket(sock, &report, sizeof report, nullptr, 0) != 0) return 0;
        }
        if (!fds[0].revents) continue;
        // A request names at most every descriptor a process can have.
        ssize_t got = detail::ReceivePacket(sock, &data, &received, 253, 0);
        if (got == 0) {
            // The engine has ended the host: nothing it started may outlive
            // it, and each is reaped here so that its time is counted.
            for (auto& [pid, pidfd] : children) {
                pidfd_send_signal(pidfd, SIGKILL, nullptr, 0);
                siginfo_t info{};
                while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
                              WEXITED) != 0 &&
                       errno == EINTR) {
                }
                close(pidfd);
            }
            return 0;
        }
        if (got < 0 && errno != EMSGSIZE) return 0;
        Launch launch;
        detail::LaunchResult result{HostMessage::Launched, 0, -1};
        int pidfd = -1;
        result.error = got < 0 ? EMSGSIZE : ParseLaunch(data, received, programs, count, &launch);
        if (result.error == 0) result.error = Start(launch, &result.pid, &pidfd);
        for (int fd : received)
            close(fd);
        if (result.error == 0) children[result.pid] = pidfd;
        if (detail::SendPacket(sock, &result, sizeof result, &pidfd, pidfd >= 0 ? 1 : 0) != 0)
            return 0;
    }
}

} // namespace platform
