#include "platform/router.h"

#include "platform/folders.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

// One message on either socket. The magic keeps stray datagrams sent to the
// named endpoint from becoming messages.
struct Packet {
    uint32_t magic;
    uint32_t kind;
    uint32_t hwnd;
    uint32_t msg;
    int64_t wParam;
    int64_t lParam;
};
static_assert(sizeof(Packet) == 32);

constexpr uint32_t kPacketMagic = 0x52504d31; // "RPM1"
constexpr uint32_t kKindPost = 1;
constexpr uint32_t kKindSend = 2; // carries the reply socket as SCM_RIGHTS
// Followed by lParam bytes of data; msg is kMsgCopyData, wParam its dwData.
constexpr uint32_t kKindCopyData = 3;

struct Entry {
    uint64_t seq = 0;
    uint32_t hwnd = 0;
    uint32_t msg = 0;
    int64_t wParam = 0;
    int64_t lParam = 0;
    std::shared_ptr<std::promise<int64_t>> waiter; // a send from another thread
    int replyFd = -1;                              // a send from another process
    std::shared_ptr<std::vector<char>> data;       // the bytes of a copy-data post

    bool IsSend() const { return waiter || replyFd >= 0; }
};

struct Window {
    // Shared so that a procedure may destroy its own window while it runs.
    std::shared_ptr<WindowProc> proc;
    std::thread::id owner;
};

struct Router {
    std::mutex lock;
    std::unordered_map<uint32_t, Window> windows;
    std::deque<Entry> queue; // in seq order
    uint32_t nextId = 1;
    uint64_t nextSeq = 1;

    int wakeFd = -1;
    int engineEnd = -1;  // receives from helpers; close-on-exec
    int helperEnd = -1;  // inherited by every child, named in the environment
    int endpointFd = -1; // the named datagram endpoint
    std::string endpointPath;
    pid_t pid = 0;
};

// Never destroyed: the receiving thread runs until the process ends, and
// exit-time destructors must not pull the state from under it.
std::atomic<Router*> g_router{nullptr};

void Wake(Router* r) {
    uint64_t one = 1;
    ssize_t n = write(r->wakeFd, &one, sizeof one);
    (void)n; // a full counter is still readable, which is all a wake needs
}

void Finish(Entry& e, int64_t result) {
    if (e.waiter) {
        e.waiter->set_value(result);
        e.waiter.reset();
    }
    if (e.replyFd >= 0) {
        // The reply socket is fresh and empty, so this cannot block; a sender
        // that has gone away just makes it fail.
        send(e.replyFd, &result, sizeof result, MSG_NOSIGNAL | MSG_DONTWAIT);
        close(e.replyFd);
        e.replyFd = -1;
    }
}

// Queues e for its window. Returns false (and answers a send with 0) when
// the window does not exist.
bool Enqueue(Router* r, Entry e) {
    bool queued = false;
    {
        std::lock_guard g(r->lock);
        if (r->windows.count(e.hwnd)) {
            e.seq = r->nextSeq++;
            r->queue.push_back(std::move(e));
            queued = true;
        }
    }
    if (!queued) {
        Finish(e, 0);
        return false;
    }
    Wake(r);
    return true;
}

void CloseAll(const std::vector<int>& fds) {
    for (int fd : fds)
        close(fd);
}

// Reads one packet from a helper socket or the endpoint. Only the helper
// socket may carry sends: the endpoint's senders are unrelated processes.
void ReceiveOne(Router* r, int fd, bool sendsAllowed) {
    Packet p{};
    // Room for the longest copy-data post and one byte more, which detects a
    // packet longer than any of ours. One receiving thread: reused.
    static std::vector<char> extra(kMaxCopyData + 1);
    iovec iov[2] = {{&p, sizeof p}, {extra.data(), extra.size()}};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
    msghdr mh{};
    mh.msg_iov = iov;
    mh.msg_iovlen = 2;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &mh, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) return;

    std::vector<int> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int rfd;
            std::memcpy(&rfd, CMSG_DATA(c) + i * sizeof(int), sizeof rfd);
            fds.push_back(rfd);
        }
    }

    bool wellFormed = n >= ssize_t(sizeof p) && !(mh.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) &&
                      p.magic == kPacketMagic;
    size_t dataSize = wellFormed ? size_t(n) - sizeof p : 0;
    Entry e;
    e.hwnd = p.hwnd;
    e.msg = p.msg;
    e.wParam = p.wParam;
    e.lParam = p.lParam;
    if (wellFormed && p.kind == kKindCopyData && fds.empty() && p.msg == kMsgCopyData &&
        dataSize <= kMaxCopyData && p.lParam == int64_t(dataSize)) {
        e.data = std::make_shared<std::vector<char>>(extra.begin(), extra.begin() + dataSize);
        e.lParam = 0;
        Enqueue(r, std::move(e));
    } else if (dataSize != 0) {
        CloseAll(fds); // only copy-data posts carry bytes
    } else if (wellFormed && p.kind == kKindPost && fds.empty()) {
        Enqueue(r, std::move(e));
    } else if (wellFormed && p.kind == kKindSend && sendsAllowed && fds.size() == 1) {
        e.replyFd = fds[0];
        Enqueue(r, std::move(e));
    } else {
        // Closing a reply socket we will not answer makes its sender return 0.
        CloseAll(fds);
    }
}

void ReceiveLoop(Router* r) {
    pollfd fds[2] = {{r->engineEnd, POLLIN, 0}, {r->endpointFd, POLLIN, 0}};
    for (;;) {
        if (fds[0].fd < 0 && fds[1].fd < 0) return;
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & POLLIN)
                ReceiveOne(r, fds[i].fd, i == 0);
            else if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL))
                fds[i].fd = -1; // poll ignores it from now on
        }
    }
}

void RemoveEndpointAtExit() {
    Router* r = g_router.load();
    // A forked child that exits without exec must not take its parent's name.
    if (r && !r->endpointPath.empty() && r->pid == getpid()) unlink(r->endpointPath.c_str());
}

// Binds the named endpoint; a failure leaves the router without one.
void OpenEndpoint(Router* r) {
    std::string path = RouterEndpointPath(r->pid);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    // A file with our pid in its name was left by a process that no longer
    // exists; the name is ours now.
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return;
    }
    chmod(path.c_str(), 0600); // only this user's processes may post to us
    r->endpointFd = fd;
    r->endpointPath = path;
    std::atexit(RemoveEndpointAtExit);
}

int StartRouter() {
    auto r = std::make_unique<Router>();
    r->pid = getpid();
    r->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (r->wakeFd < 0) return errno;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
        int err = errno;
        close(r->wakeFd);
        return err;
    }
    r->engineEnd = sv[0];
    r->helperEnd = sv[1];
    // The one descriptor of the router that helpers inherit; every launch
    // hands it over (process.cpp), nothing else gets it.
    setenv(kRouterFdVariable, std::to_string(r->helperEnd).c_str(), 1);
    OpenEndpoint(r.get());
    Router* raw = r.release();
    g_router.store(raw);
    std::thread(ReceiveLoop, raw).detach();
    return 0;
}

Router* Engine() {
    return g_router.load(std::memory_order_acquire);
}

// The inherited socket of a helper process, or -1.
int HelperSocket() {
    static const int fd = [] {
        const char* v = std::getenv(kRouterFdVariable);
        if (!v || !*v) return -1;
        char* end = nullptr;
        long n = std::strtol(v, &end, 10);
        if (*end || n < 0 || n > INT_MAX) return -1;
        int s = int(n);
        // The number may have been inherited without its descriptor; only a
        // Unix sequenced-packet socket can be the engine's.
        int type = 0, domain = 0;
        socklen_t len = sizeof type;
        if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_SEQPACKET)
            return -1;
        len = sizeof domain;
        if (getsockopt(s, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0 || domain != AF_UNIX)
            return -1;
        return s;
    }();
    return fd;
}

bool SendPacket(int fd, const Packet& p, int passFd) {
    iovec iov{const_cast<Packet*>(&p), sizeof p};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr mh{};
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    if (passFd >= 0) {
        mh.msg_control = control;
        mh.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&mh);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof passFd);
    }
    for (;;) {
        ssize_t n = sendmsg(fd, &mh, MSG_NOSIGNAL);
        if (n == ssize_t(sizeof p)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

int64_t HelperSend(int fd, uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam) {
    // Each send brings its own reply socket, so any number of helpers and
    // threads can share the inherited one and still get their own answers.
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return 0;
    Packet p{kPacketMagic, kKindSend, hwnd, msg, wParam, lParam};
    bool sent = SendPacket(fd, p, sv[1]);
    // From here only the engine holds the other end: its answer, or its end
    // closing (window gone, engine gone), ends the wait.
    close(sv[1]);
    int64_t result = 0;
    if (sent) {
        ssize_t n;
        do {
            n = recv(sv[0], &result, sizeof result, 0);
        } while (n < 0 && errno == EINTR);
        if (n != ssize_t(sizeof result)) result = 0;
    }
    close(sv[0]);
    return result;
}

} // namespace

int RouterInit() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] { result = StartRouter(); });
    return result;
}

bool RouterIsEngine() {
    return Engine() != nullptr;
}

uint32_t RouterCreateWindow(WindowProc proc) {
    if (!proc || RouterInit() != 0) return 0;
    Router* r = Engine();
    std::lock_guard g(r->lock);
    uint32_t id = r->nextId;
    while (id == 0 || r->windows.count(id))
        ++id;
    r->nextId = id + 1;
    r->windows[id] =
        Window{std::make_shared<WindowProc>(std::move(proc)), std::this_thread::get_id()};
    return id;
}

bool RouterDestroyWindow(uint32_t hwnd) {
    Router* r = Engine();
    if (!r) return false;
    std::deque<Entry> dropped;
    {
        std::lock_guard g(r->lock);
        if (!r->windows.erase(hwnd)) return false;
        for (auto it = r->queue.begin(); it != r->queue.end();) {
            if (it->hwnd == hwnd) {
                dropped.push_back(std::move(*it));
                it = r->queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Entry& e : dropped)
        Finish(e, 0);
    return true;
}

bool PostMessage(uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam) {
    if (hwnd == 0) return false;
    if (Router* r = Engine()) {
        Entry e;
        e.hwnd = hwnd;
        e.msg = msg;
        e.wParam = wParam;
        e.lParam = lParam;
        return Enqueue(r, std::move(e));
    }
    int fd = HelperSocket();
    if (fd < 0) return false;
    return SendPacket(fd, Packet{kPacketMagic, kKindPost, hwnd, msg, wParam, lParam}, -1);
}

int64_t SendMessage(uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam) {
    if (hwnd == 0) return 0;
    Router* r = Engine();
    if (!r) {
        int fd = HelperSocket();
        return fd < 0 ? 0 : HelperSend(fd, hwnd, msg, wParam, lParam);
    }
    std::shared_ptr<WindowProc> direct;
    {
        std::lock_guard g(r->lock);
        auto it = r->windows.find(hwnd);
        if (it == r->windows.end()) return 0;
        if (it->second.owner == std::this_thread::get_id()) direct = it->second.proc;
    }
    if (direct) return (*direct)(hwnd, msg, wParam, lParam);

    Entry e;
    e.hwnd = hwnd;
    e.msg = msg;
    e.wParam = wParam;
    e.lParam = lParam;
    e.waiter = std::make_shared<std::promise<int64_t>>();
    std::future<int64_t> answer = e.waiter->get_future();
    Enqueue(r, std::move(e)); // a vanished window has answered 0 already
    return answer.get();
}

void RemoveMessages(uint32_t hwnd, uint32_t msg) {
    Router* r = Engine();
    if (!r) return;
    std::lock_guard g(r->lock);
    std::erase_if(r->queue,
                  [&](const Entry& e) { return e.hwnd == hwnd && e.msg == msg && !e.IsSend(); });
}

int RouterWakeHandle() {
    if (RouterInit() != 0) return -1;
    return Engine()->wakeFd;
}

void RouterDispatch() {
    Router* r = Engine();
    if (!r) return;
    uint64_t count;
    // Reset the wake first: anything queued after the snapshot below wakes
    // the handle again, anything before it is delivered now.
    ssize_t n = read(r->wakeFd, &count, sizeof count);
    (void)n;
    const std::thread::id me = std::this_thread::get_id();
    uint64_t last;
    {
        std::lock_guard g(r->lock);
        last = r->nextSeq - 1;
    }
    for (;;) {
        // One message at a time, so that a procedure's RemoveMessages or
        // RouterDestroyWindow affects what is still queued behind it.
        Entry e;
        std::shared_ptr<WindowProc> proc;
        {
            std::lock_guard g(r->lock);
            auto it = r->queue.begin();
            for (; it != r->queue.end() && it->seq <= last; ++it) {
                auto w = r->windows.find(it->hwnd);
                if (w != r->windows.end() && w->second.owner == me) {
                    proc = w->second.proc;
                    break;
                }
            }
            if (!proc) return;
            e = std::move(*it);
            r->queue.erase(it);
        }
        int64_t result = 0;
        CopyData copy{};
        if (e.data) {
            copy = {uint64_t(e.wParam), uint32_t(e.data->size()), e.data->data()};
            e.lParam = int64_t(reinterpret_cast<intptr_t>(&copy));
        }
        try {
            result = (*proc)(e.hwnd, e.msg, e.wParam, e.lParam);
        } catch (...) {
            Finish(e, 0); // a waiting sender must not hang on a throwing procedure
            throw;
        }
        Finish(e, result);
    }
}

std::string RouterEndpointPath(int pid) {
    std::string dir;
    if (GetKnownFolder(KnownFolder::Runtime, false, &dir) != 0) return {};
    return dir + "/reelpage-router-" + std::to_string(pid);
}

namespace {

// Sends one datagram made of the iov parts to the router of process pid,
// without waiting; true when all of it went.
bool SendToProcess(int pid, iovec* iov, size_t parts) {
    std::string path = RouterEndpointPath(pid);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    size_t total = 0;
    for (size_t i = 0; i < parts; ++i)
        total += iov[i].iov_len;
    msghdr mh{};
    mh.msg_name = &addr;
    mh.msg_namelen = sizeof addr;
    mh.msg_iov = iov;
    mh.msg_iovlen = parts;
    ssize_t n = sendmsg(fd, &mh, MSG_DONTWAIT | MSG_NOSIGNAL);
    close(fd);
    return n == ssize_t(total);
}

} // namespace

bool RouterPostToProcess(int pid, uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam) {
    if (pid <= 0 || hwnd == 0) return false;
    Packet p{kPacketMagic, kKindPost, hwnd, msg, wParam, lParam};
    iovec iov[1] = {{&p, sizeof p}};
    return SendToProcess(pid, iov, 1);
}

bool RouterCopyDataToProcess(int pid, uint32_t hwnd, uint64_t dwData, const void* data,
                             size_t size) {
    if (pid <= 0 || hwnd == 0 || size > kMaxCopyData || (size && !data)) return false;
    Packet p{kPacketMagic, kKindCopyData, hwnd, kMsgCopyData, int64_t(dwData), int64_t(size)};
    iovec iov[2] = {{&p, sizeof p}, {const_cast<void*>(data), size}};
    return SendToProcess(pid, iov, 2);
}

} // namespace platform
