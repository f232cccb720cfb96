#include "platform/wait.h"

#include "platform/event.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

enum class Take { Signalled, Consumed, Lost, Failed };

// For a handle that poll reported ready. An event is consumed by reading its
// counter; another waiter may have read it first (EAGAIN). A process handle
// has nothing to read (EINVAL) and simply stays signalled.
Take TakeReady(int h) {
    uint64_t value = 0;
    for (;;) {
        ssize_t r = read(h, &value, sizeof value);
        if (r == sizeof value) return Take::Consumed;
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno == EAGAIN) return Take::Lost;
        if (r < 0 && errno == EINVAL) return Take::Signalled;
        if (r >= 0) errno = EINVAL;
        return Take::Failed;
    }
}

class Deadline {
public:
    explicit Deadline(int timeoutMs)
        : infinite_(timeoutMs < 0), end_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    // Milliseconds for poll(), rounded up so a wait never spins on a fraction.
    int PollMs() const {
        if (infinite_) return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    bool Passed() const { return !infinite_ && Clock::now() >= end_; }

private:
    bool infinite_;
    Clock::time_point end_;
};

// Polls the given set once; -1 on failure (errno set), else the ready count.
int PollOnce(pollfd* fds, int n, int ms) {
    int r = poll(fds, static_cast<nfds_t>(n), ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    for (int i = 0; i < n; ++i) {
        if (fds[i].revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
    }
    return r;
}

int WaitAny(const int* handles, int n, const Deadline& deadline) {
    pollfd fds[kMaxWaitHandles];
    for (int i = 0; i < n; ++i)
        fds[i] = {handles[i], POLLIN, 0};
    for (;;) {
        int r = PollOnce(fds, n, deadline.PollMs());
        if (r < 0) return kWaitFailed;
        for (int i = 0; r > 0 && i < n; ++i) {
            if (fds[i].revents == 0) continue;
            Take t = TakeReady(handles[i]);
            if (t == Take::Failed) return kWaitFailed;
            if (t != Take::Lost) return kWaitObject0 + i;
        }
        if (deadline.Passed()) return kWaitTimeout;
    }
}

int WaitAll(const int* handles, int n, const Deadline& deadline) {
    bool seen[kMaxWaitHandles] = {};
    for (;;) {
        // Poll only the handles not seen signalled yet, so the ones already
        // signalled do not turn this into a busy loop.
        pollfd fds[kMaxWaitHandles];
        int index[kMaxWaitHandles];
        int m = 0;
        for (int i = 0; i < n; ++i) {
            if (!seen[i]) {
                fds[m] = {handles[i], POLLIN, 0};
                index[m++] = i;
            }
        }
        if (m > 0) {
            int r = PollOnce(fds, m, deadline.PollMs());
            if (r < 0) return kWaitFailed;
            for (int k = 0; k < m; ++k)
                seen[index[k]] = fds[k].revents != 0;
        }
        bool all = true;
        for (int i = 0; i < n; ++i)
            all = all && seen[i];
        if (all) {
            // Take every event; if one was taken by another waiter meanwhile,
            // give back what this wait took and wait for that one again.
            bool consumed[kMaxWaitHandles] = {};
            int lost = -1;
            for (int i = 0; i < n && lost < 0; ++i) {
                Take t = TakeReady(handles[i]);
                if (t == Take::Failed) {
                    int saved = errno;
                    for (int j = 0; j < i; ++j) {
                        if (consumed[j]) SetEvent(handles[j]);
                    }
                    errno = saved;
                    return kWaitFailed;
                }
                consumed[i] = t == Take::Consumed;
                if (t == Take::Lost) lost = i;
            }
            if (lost < 0) return kWaitObject0;
            for (int j = 0; j < lost; ++j) {
                if (consumed[j]) SetEvent(handles[j]);
            }
            seen[lost] = false;
        }
        if (deadline.Passed()) return kWaitTimeout;
    }
}

} // namespace

int WaitForHandle(int h, int timeoutMs) {
    return WaitForHandles(&h, 1, false, timeoutMs);
}

int WaitForHandles(const int* handles, int n, bool waitAll, int timeoutMs) {
    if (!handles || n < 1 || n > kMaxWaitHandles || timeoutMs < kInfinite) {
        errno = EINVAL;
        return kWaitFailed;
    }
    // One event listed twice could never be taken twice at once.
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            if (handles[i] == handles[j]) {
                errno = EINVAL;
                return kWaitFailed;
            }
        }
    }
    Deadline deadline(timeoutMs);
    return waitAll ? WaitAll(handles, n, deadline) : WaitAny(handles, n, deadline);
}

} // namespace platform
