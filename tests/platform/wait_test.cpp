// Waiting on several handles at once: events and helper processes mixed.
#include "helper_processes.h"
#include "platform/event.h"
#include "platform/process.h"
#include "platform/wait.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// An event and a helper that ends when the event is set.
struct Helper {
    int release = CreateEvent(true);
    int process = -1;
    Helper() {
        LaunchHelper(helper_test::CommandLine(testing_child::SelfPath(), "wait_until_set",
                                              {std::to_string(release)}),
                     "", &process);
    }
    ~Helper() {
        TerminateHelper(process, 0);
        WaitForHandle(process, 30000);
        CloseHelperHandle(process);
        CloseEvent(release);
    }
};

} // namespace

REELPAGE_CHILD(wait_until_set) {
    return WaitForHandle(std::stoi(args.at(0)), 60000) == kWaitObject0 ? 0 : 1;
}

TEST(WaitForHandles, AnyReturnsTheLowestSignalledAndConsumesOnlyIt) {
    Helper helper;
    ASSERT_GT(helper.process, 0);
    int e0 = CreateEvent(false), e2 = CreateEvent(false);
    int handles[] = {e0, helper.process, e2};

    EXPECT_EQ(WaitForHandles(handles, 3, false, 50), kWaitTimeout);
    SetEvent(e2);
    EXPECT_EQ(WaitForHandles(handles, 3, false, 1000), kWaitObject0 + 2);
    EXPECT_EQ(WaitForHandles(handles, 3, false, 0), kWaitTimeout);

    SetEvent(e0);
    SetEvent(e2);
    EXPECT_EQ(WaitForHandles(handles, 3, false, 0), kWaitObject0 + 0);
    EXPECT_EQ(WaitForHandles(handles, 3, false, 0), kWaitObject0 + 2);

    // A set from another thread ends a wait already under way.
    std::thread setter([e0] {
        std::this_thread::sleep_for(100ms);
        SetEvent(e0);
    });
    EXPECT_EQ(WaitForHandles(handles, 3, false, 10000), kWaitObject0 + 0);
    setter.join();

    // A process handle, once ended, stays signalled.
    SetEvent(helper.release);
    EXPECT_EQ(WaitForHandles(handles, 3, false, 30000), kWaitObject0 + 1);
    EXPECT_EQ(WaitForHandles(handles, 3, false, 0), kWaitObject0 + 1);
    CloseEvent(e0);
    CloseEvent(e2);
}

TEST(WaitForHandles, AllWaitsForEveryHandleAndConsumesNothingBefore) {
    Helper helper;
    ASSERT_GT(helper.process, 0);
    int e0 = CreateEvent(false), e1 = CreateEvent(false);
    int handles[] = {e0, helper.process, e1};

    SetEvent(e0);
    SetEvent(e1);
    // The helper still runs: no success, and the two events stay set.
    EXPECT_EQ(WaitForHandles(handles, 3, true, 100), kWaitTimeout);
    SetEvent(helper.release);
    ASSERT_EQ(WaitForHandle(helper.process, 30000), kWaitObject0);
    EXPECT_EQ(WaitForHandles(handles, 3, true, 0), kWaitObject0);
    // Now both events were consumed together.
    EXPECT_EQ(WaitForHandle(e0, 0), kWaitTimeout);
    EXPECT_EQ(WaitForHandle(e1, 0), kWaitTimeout);

    // Signalled one after the other while the wait is under way.
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        SetEvent(e1);
        std::this_thread::sleep_for(50ms);
        SetEvent(e0);
    });
    EXPECT_EQ(WaitForHandles(handles, 3, true, 10000), kWaitObject0);
    setter.join();
    EXPECT_EQ(WaitForHandle(e0, 0), kWaitTimeout);
    EXPECT_EQ(WaitForHandle(e1, 0), kWaitTimeout);
    CloseEvent(e0);
    CloseEvent(e1);
}

TEST(WaitForHandles, BadArgumentsFail) {
    int e = CreateEvent(false);
    int closed = CreateEvent(false);
    CloseEvent(closed);
    int twice[] = {e, e};
    int withClosed[] = {e, closed};
    int many[kMaxWaitHandles + 1] = {};
    struct Case {
        const int* handles;
        int n;
        bool all;
        int timeout;
        int error;
    } cases[] = {
        {twice, 2, true, 0, EINVAL},      {twice, 2, false, 0, EINVAL},
        {withClosed, 2, false, 0, EBADF}, {withClosed, 2, true, 0, EBADF},
        {many, 0, false, 0, EINVAL},      {many, kMaxWaitHandles + 1, false, 0, EINVAL},
        {nullptr, 1, false, 0, EINVAL},   {&e, 1, false, -2, EINVAL},
    };
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_EQ(WaitForHandles(c.handles, c.n, c.all, c.timeout), kWaitFailed);
        EXPECT_EQ(errno, c.error);
    }
    CloseEvent(e);
}
