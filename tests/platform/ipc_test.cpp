// Shared blocks, events, the shared mutex and interlocked counters, used
// across a real process boundary: the child only gets handle numbers.
#include "child.h"
#include "platform/event.h"
#include "platform/inherit.h"
#include "platform/interlocked.h"
#include "platform/mutex.h"
#include "platform/shm.h"
#include "platform/wait.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct Mailbox {
    char toChild[64];
    char toParent[64];
    int32_t lockedCount; // only changed under the mutex, non-atomically
    int32_t interlocked32;
    int64_t interlocked64;
    int32_t go; // lets both counting children start at once
};

int Arg(const std::vector<std::string>& args, size_t i) {
    return std::stoi(args.at(i));
}

bool CloseOnExec(int fd) {
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

Mailbox* Box(const SharedBlock& b) {
    return static_cast<Mailbox*>(b.view);
}

} // namespace

// args: block, event to child, event to parent, mutex
REELPAGE_CHILD(ipc_peer) {
    SharedBlock block;
    SharedMutex mutex;
    if (MapSharedBlock(Arg(args, 0), 0, &block) != 0 || block.size != 4096) return 10;
    if (OpenSharedMutex(Arg(args, 3), &mutex) != 0) return 11;
    Mailbox* box = Box(block);
    if (LockSharedMutex(mutex, 5000) != 0) return 12;
    bool pinged = std::strcmp(box->toChild, "ping") == 0;
    std::strcpy(box->toParent, "pong");
    UnlockSharedMutex(mutex);
    if (!pinged) return 13;
    if (SetEvent(Arg(args, 2)) != 0) return 14;
    if (WaitForHandle(Arg(args, 1), 20000) != kWaitObject0) return 15;
    LockSharedMutex(mutex, 5000);
    bool second = std::strcmp(box->toChild, "second") == 0;
    UnlockSharedMutex(mutex);
    CloseSharedMutex(&mutex);
    CloseSharedBlock(&block);
    return second ? 0 : 16;
}

TEST(SharedObjects, ChildUsesBlockEventsAndMutexFromHandleNumbers) {
    SharedBlock block;
    SharedMutex mutex;
    ASSERT_EQ(CreateSharedBlock(4096, true, &block), 0);
    ASSERT_EQ(CreateSharedMutex(true, &mutex), 0);
    int toChild = CreateEvent(true);
    int toParent = CreateEvent(true);
    ASSERT_GE(toChild, 0);
    ASSERT_GE(toParent, 0);
    std::strcpy(Box(block)->toChild, "ping");

    int pid =
        testing_child::Spawn("ipc_peer", {std::to_string(block.handle), std::to_string(toChild),
                                          std::to_string(toParent), std::to_string(mutex.handle)});
    ASSERT_GT(pid, 0);
    ASSERT_EQ(WaitForHandle(toParent, 20000), kWaitObject0);
    ASSERT_EQ(LockSharedMutex(mutex, 5000), 0);
    EXPECT_STREQ(Box(block)->toParent, "pong");
    std::strcpy(Box(block)->toChild, "second");
    ASSERT_EQ(UnlockSharedMutex(mutex), 0);
    ASSERT_EQ(SetEvent(toChild), 0);
    EXPECT_EQ(testing_child::WaitExit(pid), 0);

    CloseEvent(toChild);
    CloseEvent(toParent);
    CloseSharedMutex(&mutex);
    CloseSharedBlock(&block);
}

// args: block, mutex, rounds
REELPAGE_CHILD(ipc_counter) {
    SharedBlock block;
    SharedMutex mutex;
    if (MapSharedBlock(Arg(args, 0), sizeof(Mailbox), &block) != 0) return 10;
    if (OpenSharedMutex(Arg(args, 1), &mutex) != 0) return 11;
    Mailbox* box = Box(block);
    int rounds = Arg(args, 2);
    while (!LoadAcquire(&box->go))
        sched_yield();
    for (int i = 0; i < rounds; ++i) {
        if (LockSharedMutex(mutex, -1) != 0) return 12;
        // A read and a separate write with a yield between them now and then,
        // so that two holders at once would lose counts.
        volatile int32_t* count = &box->lockedCount;
        int32_t seen = *count;
        if (i % 4 == 0) sched_yield();
        *count = seen + 1;
        UnlockSharedMutex(mutex);
        InterlockedIncrement(&box->interlocked32);
        InterlockedAdd(&box->interlocked64, int64_t{3} << 32);
    }
    return 0;
}

TEST(SharedObjects, MutexAndInterlockedCountersHoldAcrossProcesses) {
    SharedBlock block;
    SharedMutex mutex;
    ASSERT_EQ(CreateSharedBlock(sizeof(Mailbox), true, &block), 0);
    ASSERT_EQ(CreateSharedMutex(true, &mutex), 0);
    const int rounds = 20000;
    std::vector<std::string> args = {std::to_string(block.handle), std::to_string(mutex.handle),
                                     std::to_string(rounds)};
    int a = testing_child::Spawn("ipc_counter", args);
    int b = testing_child::Spawn("ipc_counter", args);
    std::this_thread::sleep_for(100ms);
    StoreRelease(&Box(block)->go, 1);
    EXPECT_EQ(testing_child::WaitExit(a), 0);
    EXPECT_EQ(testing_child::WaitExit(b), 0);
    EXPECT_EQ(Box(block)->lockedCount, 2 * rounds);
    EXPECT_EQ(LoadAcquire(&Box(block)->interlocked32), 2 * rounds);
    EXPECT_EQ(LoadAcquire(&Box(block)->interlocked64), int64_t{6} * rounds << 32);
    CloseSharedMutex(&mutex);
    CloseSharedBlock(&block);
}

// args: mutex, event "holding"
REELPAGE_CHILD(ipc_hold_mutex) {
    SharedMutex mutex;
    if (OpenSharedMutex(Arg(args, 0), &mutex) != 0) return 10;
    if (LockSharedMutex(mutex, 5000) != 0) return 11;
    SetEvent(Arg(args, 1));
    for (;;)
        pause();
}

TEST(SharedObjects, MutexOfAKilledHolderGoesToTheNextLocker) {
    SharedMutex mutex;
    ASSERT_EQ(CreateSharedMutex(true, &mutex), 0);
    int holding = CreateEvent(true);
    int pid = testing_child::Spawn("ipc_hold_mutex",
                                   {std::to_string(mutex.handle), std::to_string(holding)});
    ASSERT_EQ(WaitForHandle(holding, 20000), kWaitObject0);

    bool abandoned = true;
    EXPECT_EQ(LockSharedMutex(mutex, 0, &abandoned), ETIMEDOUT);
    EXPECT_FALSE(abandoned);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LockSharedMutex(mutex, 150), ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);

    // The holder dies while this thread is already blocked in the lock.
    std::thread killer([pid] {
        std::this_thread::sleep_for(200ms);
        kill(pid, SIGKILL);
    });
    EXPECT_EQ(LockSharedMutex(mutex, 20000, &abandoned), 0);
    EXPECT_TRUE(abandoned);
    killer.join();
    EXPECT_EQ(testing_child::WaitExit(pid), 128 + SIGKILL);
    EXPECT_EQ(UnlockSharedMutex(mutex), 0);

    // Made consistent: later lockers get a normal mutex.
    EXPECT_EQ(LockSharedMutex(mutex, 0, &abandoned), 0);
    EXPECT_FALSE(abandoned);
    EXPECT_EQ(UnlockSharedMutex(mutex), 0);
    CloseEvent(holding);
    CloseSharedMutex(&mutex);
}

TEST(SharedObjects, MutexIsRecursiveAndOwnedByOneThread) {
    SharedMutex mutex;
    ASSERT_EQ(CreateSharedMutex(false, &mutex), 0);
    ASSERT_EQ(LockSharedMutex(mutex, -1), 0);
    ASSERT_EQ(LockSharedMutex(mutex, 0), 0);
    std::thread other([&] {
        EXPECT_EQ(LockSharedMutex(mutex, 50), ETIMEDOUT);
        EXPECT_EQ(UnlockSharedMutex(mutex), EPERM);
    });
    other.join();
    EXPECT_EQ(UnlockSharedMutex(mutex), 0);
    std::thread stillHeld([&] { EXPECT_EQ(LockSharedMutex(mutex, 0), ETIMEDOUT); });
    stillHeld.join();
    EXPECT_EQ(UnlockSharedMutex(mutex), 0);
    EXPECT_EQ(UnlockSharedMutex(mutex), EPERM);
    std::thread free([&] {
        EXPECT_EQ(LockSharedMutex(mutex, 0), 0);
        EXPECT_EQ(UnlockSharedMutex(mutex), 0);
    });
    free.join();
    CloseSharedMutex(&mutex);
}

// Nothing reaches a program started by somebody else: every descriptor is
// close-on-exec, and the inheritable flag only makes it one a helper launch
// may hand over.
TEST(SharedObjects, InheritableFlagDecidesWhatALaunchMayHandOver) {
    for (bool inheritable : {true, false}) {
        SCOPED_TRACE(inheritable);
        SharedBlock block;
        SharedMutex mutex;
        ASSERT_EQ(CreateSharedBlock(16, inheritable, &block), 0);
        ASSERT_EQ(CreateSharedMutex(inheritable, &mutex), 0);
        int event = CreateEvent(inheritable);
        ASSERT_GE(event, 0);
        const std::vector<int> handable = InheritableHandles();
        for (int h : {block.handle, mutex.handle, event}) {
            EXPECT_GT(h, 2); // 0 means "no handle" in records
            EXPECT_TRUE(CloseOnExec(h));
            EXPECT_EQ(std::count(handable.begin(), handable.end(), h), inheritable ? 1 : 0);
        }
        CloseEvent(event);
        CloseSharedMutex(&mutex);
        CloseSharedBlock(&block);
        // A closed descriptor's number is handed over no more.
        const std::vector<int> after = InheritableHandles();
        for (int h : {block.handle, mutex.handle, event})
            EXPECT_EQ(std::count(after.begin(), after.end(), h), 0);
    }
}

TEST(SharedObjects, HandlesAvoidTheStandardStreamNumbers) {
    // A process started with stdin closed must not hand out 0, the value that
    // means "no handle" in record fields.
    int saved = dup(0);
    close(0);
    SharedBlock block;
    int rc = CreateSharedBlock(16, true, &block);
    int event = CreateEvent(true);
    if (saved >= 0) {
        dup2(saved, 0);
        close(saved);
    }
    ASSERT_EQ(rc, 0);
    EXPECT_GT(block.handle, 2);
    EXPECT_GT(event, 2);
    CloseEvent(event);
    CloseSharedBlock(&block);
}

TEST(SharedObjects, BlockViewsShareMemoryAndRefuseOversizeMaps) {
    SharedBlock a;
    ASSERT_EQ(CreateSharedBlock(10000, false, &a), 0);
    const auto* bytes = static_cast<const unsigned char*>(a.view);
    EXPECT_EQ(std::count(bytes, bytes + 10000, 0), 10000);

    SharedBlock whole;
    ASSERT_EQ(MapSharedBlock(dup(a.handle), 0, &whole), 0);
    EXPECT_EQ(whole.size, 10000u);
    static_cast<char*>(a.view)[9999] = 42;
    EXPECT_EQ(static_cast<char*>(whole.view)[9999], 42);

    SharedBlock tooBig;
    int h = dup(a.handle);
    EXPECT_EQ(MapSharedBlock(h, 10001, &tooBig), EINVAL);
    EXPECT_EQ(tooBig.view, nullptr);
    close(h);

    int event = CreateEvent(false);
    EXPECT_EQ(MapSharedBlock(event, 0, &tooBig), EINVAL);
    EXPECT_EQ(MapSharedBlock(-1, 0, &tooBig), EBADF);
    CloseEvent(event);
    EXPECT_EQ(CreateSharedBlock(0, false, &tooBig), EINVAL);

    SharedBlock tiny;
    ASSERT_EQ(CreateSharedBlock(1, false, &tiny), 0);
    SharedMutex notAMutex;
    EXPECT_EQ(OpenSharedMutex(dup(tiny.handle), &notAMutex), EINVAL);

    // Unmapping keeps the handle usable for a later view.
    UnmapSharedBlock(&a);
    EXPECT_EQ(a.view, nullptr);
    SharedBlock again;
    ASSERT_EQ(MapSharedBlock(a.handle, 0, &again), 0);
    EXPECT_EQ(static_cast<char*>(again.view)[9999], 42);
    CloseSharedBlock(&again);
    CloseSharedBlock(&whole);
    CloseSharedBlock(&tiny);
}

TEST(Events, AutoResetAndOneWakePerSet) {
    int event = CreateEvent(false);
    ASSERT_GE(event, 0);
    EXPECT_EQ(WaitForHandle(event, 0), kWaitTimeout);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForHandle(event, 60), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);

    // Two sets before a wait are one signal, and the wait consumes it.
    ASSERT_EQ(SetEvent(event), 0);
    ASSERT_EQ(SetEvent(event), 0);
    EXPECT_EQ(WaitForHandle(event, 0), kWaitObject0);
    EXPECT_EQ(WaitForHandle(event, 0), kWaitTimeout);

    ASSERT_EQ(SetEvent(event), 0);
    ASSERT_EQ(ResetEvent(event), 0);
    EXPECT_EQ(WaitForHandle(event, 0), kWaitTimeout);

    // Two waiters, one set: exactly one of them wakes.
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (WaitForHandle(event, 5000) == kWaitObject0) ++woken;
    };
    std::thread w1(waiter), w2(waiter);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(SetEvent(event), 0);
    for (int i = 0; i < 500 && woken.load() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms); // time for a wrong second wake-up
    EXPECT_EQ(woken.load(), 1);
    ASSERT_EQ(SetEvent(event), 0);
    w1.join();
    w2.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_EQ(WaitForHandle(event, 0), kWaitTimeout);

    CloseEvent(event);
    EXPECT_EQ(SetEvent(event), EBADF);
    EXPECT_EQ(WaitForHandle(event, 0), kWaitFailed);
}

TEST(Interlocked, ReturnValuesFollowTheWindowsConventions) {
    int32_t v32 = 5;
    EXPECT_EQ(InterlockedIncrement(&v32), 6);
    EXPECT_EQ(InterlockedDecrement(&v32), 5);
    EXPECT_EQ(InterlockedAdd(&v32, 10), 15);
    EXPECT_EQ(InterlockedExchange(&v32, 7), 15);
    EXPECT_EQ(InterlockedCompareExchange(&v32, 9, 8), 7); // no match: unchanged
    EXPECT_EQ(v32, 7);
    EXPECT_EQ(InterlockedCompareExchange(&v32, 9, 7), 7); // match: stored
    EXPECT_EQ(v32, 9);

    // Wrapping like the hardware does, without undefined behaviour.
    int32_t top = INT32_MAX;
    EXPECT_EQ(InterlockedIncrement(&top), INT32_MIN);
    uint32_t zero = 0;
    EXPECT_EQ(InterlockedDecrement(&zero), UINT32_MAX);

    int64_t v64 = int64_t{1} << 40;
    EXPECT_EQ(InterlockedAdd(&v64, -1), (int64_t{1} << 40) - 1);
    StoreRelease(&v64, -3);
    EXPECT_EQ(LoadAcquire(&v64), -3);
}
