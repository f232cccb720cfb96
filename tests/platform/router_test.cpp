#include "platform/router.h"

#include "child.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

struct Received {
    uint32_t hwnd;
    uint32_t msg;
    int64_t wParam;
    int64_t lParam;
    std::thread::id thread;
};

bool operator==(const Received& a, const Received& b) {
    return a.hwnd == b.hwnd && a.msg == b.msg && a.wParam == b.wParam && a.lParam == b.lParam;
}

std::ostream& operator<<(std::ostream& os, const Received& r) {
    return os << "{hwnd " << r.hwnd << ", 0x" << std::hex << r.msg << std::dec << ", " << r.wParam
              << ", " << r.lParam << "}";
}

// A window that records what it receives (in one log that several windows
// may share) and answers with answer(), or 0.
struct Recorder {
    explicit Recorder(std::vector<Received>* sharedLog = nullptr,
                      std::function<int64_t(const Received&)> answer = {})
        : log(sharedLog ? sharedLog : &ownLog), answerFn(std::move(answer)) {
        hwnd = RouterCreateWindow([this](uint32_t h, uint32_t m, int64_t w, int64_t l) {
            Received r{h, m, w, l, std::this_thread::get_id()};
            log->push_back(r);
            return answerFn ? answerFn(r) : 0;
        });
    }
    ~Recorder() { RouterDestroyWindow(hwnd); }

    std::vector<Received> ownLog;
    std::vector<Received>* log;
    std::function<int64_t(const Received&)> answerFn;
    uint32_t hwnd = 0;
};

bool WaitReadable(int fd, int timeoutMs = 10000) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1;
}

// Delivers router messages on this thread until done() holds; false when
// ten seconds pass without it.
bool PumpUntil(const std::function<bool()>& done) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(10);
    while (!done()) {
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) return false;
        WaitReadable(RouterWakeHandle(), int(left));
        RouterDispatch();
    }
    return true;
}

// Makes an inheritable pipe; returns {read, write}.
std::pair<int, int> InheritablePipe() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe(fds), 0);
    return {fds[0], fds[1]};
}

uint32_t ArgHwnd(const std::vector<std::string>& args, size_t i) {
    return uint32_t(std::stoul(args.at(i)));
}

constexpr int64_t kCookie = 0x1234567890LL;

} // namespace

// --- Helper processes -------------------------------------------------------

// A probe-like helper: posts progress, then sends the final 100 and the
// result; after each send the parent's handler must already have run.
REELPAGE_CHILD(probe_like) {
    uint32_t hwnd = ArgHwnd(args, 0);
    int handled = std::stoi(args.at(1));
    fcntl(handled, F_SETFL, O_NONBLOCK);
    auto handlerRan = [&] {
        char c;
        return read(handled, &c, 1) == 1;
    };
    for (int percent = 0; percent < 100; percent += 10)
        if (!PostMessage(hwnd, 0x401, percent, kCookie)) return 10;
    if (!PostMessage(hwnd, 0x403, -1, INT64_MIN)) return 11;
    if (handlerRan()) return 12; // nothing has been sent yet
    if (SendMessage(hwnd, 0x401, 100, kCookie) != 100 * 16 + 5) return 13;
    if (!handlerRan()) return 14;
    if (SendMessage(hwnd, 0x402, -3, kCookie) != -3 * 16 + 5) return 15;
    if (!handlerRan()) return 16;
    return 0;
}

TEST(RouterHelper, SendIsHandledBeforeTheHelperGoesOnAndPostsKeepTheirOrder) {
    auto [handledRead, handledWrite] = InheritablePipe();
    Recorder win(nullptr, [&](const Received& r) -> int64_t {
        if (r.msg != 0x401 && r.msg != 0x402) return 0;
        if (r.msg == 0x401 && r.wParam != 100) return 0;
        EXPECT_EQ(write(handledWrite, "x", 1), 1);
        return r.wParam * 16 + 5;
    });
    ASSERT_NE(win.hwnd, 0u);
    int pid =
        testing_child::Spawn("probe_like", {std::to_string(win.hwnd), std::to_string(handledRead)});
    close(handledRead);
    EXPECT_TRUE(PumpUntil([&] { return !win.log->empty() && win.log->back().msg == 0x402; }));
    EXPECT_EQ(testing_child::WaitExit(pid), 0);
    close(handledWrite);

    std::vector<Received> want;
    for (int percent = 0; percent < 100; percent += 10)
        want.push_back({win.hwnd, 0x401, percent, kCookie, {}});
    want.push_back({win.hwnd, 0x403, -1, INT64_MIN, {}});
    want.push_back({win.hwnd, 0x401, 100, kCookie, {}});
    want.push_back({win.hwnd, 0x402, -3, kCookie, {}});
    EXPECT_EQ(*win.log, want);
    for (const Received& r : *win.log)
        EXPECT_EQ(r.thread, std::this_thread::get_id());
}

REELPAGE_CHILD(many_sends) {
    uint32_t hwnd = ArgHwnd(args, 0);
    int64_t base = std::stoll(args.at(1));
    for (int64_t i = 0; i < 40; ++i)
        if (SendMessage(hwnd, 0x500, base + i, 0) != (base + i) * 2 + 1) return 1;
    return 0;
}

TEST(RouterHelper, HelpersSharingTheSocketEachGetTheirOwnAnswers) {
    Recorder win(nullptr, [](const Received& r) { return r.wParam * 2 + 1; });
    std::vector<int> pids;
    for (int k = 1; k <= 3; ++k)
        pids.push_back(testing_child::Spawn("many_sends",
                                            {std::to_string(win.hwnd), std::to_string(k * 1000)}));
    EXPECT_TRUE(PumpUntil([&] { return win.log->size() == 3 * 40; }));
    for (int pid : pids)
        EXPECT_EQ(testing_child::WaitExit(pid), 0);
    // Each helper's sends arrive in its own order, whatever the interleaving.
    std::vector<int64_t> next = {1000, 2000, 3000};
    for (const Received& r : *win.log) {
        int64_t& expected = next.at(size_t(r.wParam / 1000 - 1));
        EXPECT_EQ(r.wParam, expected);
        expected = r.wParam + 1;
    }
}

REELPAGE_CHILD(send_expect) {
    return SendMessage(ArgHwnd(args, 0), 0x402, 1, 2) == std::stoll(args.at(1)) ? 0 : 1;
}

// The engine goes away with a send of the helper still queued: the helper's
// SendMessage returns 0, and nothing hangs or kills the helper.
REELPAGE_CHILD(helper_outlives_engine) {
    uint32_t hwnd = ArgHwnd(args, 0);
    int report = std::stoi(args.at(1));
    int64_t results[2];
    results[0] = SendMessage(hwnd, 0x402, 1, 2);
    // Whether this still reaches the dying engine's socket is a race; it must
    // only not raise SIGPIPE.
    PostMessage(hwnd, 0x401, 3, 4);
    results[1] = SendMessage(hwnd, 0x402, 5, 6);
    return write(report, results, sizeof results) == sizeof results ? 0 : 1;
}

REELPAGE_CHILD(engine_that_dies) {
    if (RouterInit() != 0) return 1;
    uint32_t hwnd = RouterCreateWindow([](uint32_t, uint32_t, int64_t, int64_t) { return 7; });
    int pid = testing_child::Spawn("helper_outlives_engine", {std::to_string(hwnd), args.at(0)});
    if (pid <= 0) return 2;
    // Readable once the helper's send is queued; then end without handling it.
    return WaitReadable(RouterWakeHandle()) ? 0 : 3;
}

TEST(RouterHelper, SendReturnsZeroWhenTheEngineGoesAway) {
    auto [reportRead, reportWrite] = InheritablePipe();
    int engine = testing_child::Spawn("engine_that_dies", {std::to_string(reportWrite)});
    close(reportWrite);
    EXPECT_EQ(testing_child::WaitExit(engine), 0);
    ASSERT_TRUE(WaitReadable(reportRead, 20000)) << "the helper hangs";
    int64_t results[2] = {-1, -1};
    EXPECT_EQ(read(reportRead, results, sizeof results), ssize_t(sizeof results));
    close(reportRead);
    EXPECT_EQ(results[0], 0); // the engine's procedure would have answered 7
    EXPECT_EQ(results[1], 0);
}

TEST(RouterHelper, SendToADestroyedWindowReturnsZero) {
    uint32_t gone;
    {
        Recorder win(nullptr, [](const Received&) { return 9; });
        gone = win.hwnd;
    }
    // The receiving thread answers on its own: no dispatch needed.
    int pid = testing_child::Spawn("send_expect", {std::to_string(gone), "0"});
    EXPECT_EQ(testing_child::WaitExit(pid), 0);
}

REELPAGE_CHILD(no_router) {
    unsetenv(kRouterFdVariable);
    if (PostMessage(1, 0x401, 0, 0)) return 1;
    return SendMessage(1, 0x402, 0, 0) == 0 ? 0 : 2;
}

TEST(RouterHelper, AProcessWithoutRouterHasNoWindows) {
    int pid = testing_child::Spawn("no_router", {});
    EXPECT_EQ(testing_child::WaitExit(pid), 0);
}

// --- Threads of the engine process ------------------------------------------

TEST(RouterThreads, PostsFromAnotherThreadArriveInOrderOnTheOwnerThread) {
    Recorder win(nullptr, [](const Received& r) { return r.wParam * 2; });
    constexpr int kCount = 500;
    int64_t sendResult = 0;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i)
            PostMessage(win.hwnd, 0x40B, i, -i);
        // Waits here until the owner thread has handled it, after every post.
        sendResult = SendMessage(win.hwnd, 0x40C, 21, 0);
    });
    EXPECT_TRUE(PumpUntil([&] { return win.log->size() == kCount + 1; }));
    worker.join();
    EXPECT_EQ(sendResult, 42);
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ((*win.log)[i], (Received{win.hwnd, 0x40B, i, -i, {}}));
    EXPECT_EQ(win.log->back().msg, 0x40Cu);
    for (const Received& r : *win.log)
        EXPECT_EQ(r.thread, std::this_thread::get_id());
}

TEST(RouterThreads, SendOnTheOwnerThreadCallsTheProcedureDirectly) {
    Recorder win(nullptr, [](const Received& r) { return r.wParam + 1; });
    ASSERT_TRUE(PostMessage(win.hwnd, 0x401, 1, 0));
    EXPECT_EQ(SendMessage(win.hwnd, 0x403, 41, 0), 42);
    ASSERT_EQ(win.log->size(), 1u); // the post still waits in the queue
    EXPECT_EQ(win.log->front().msg, 0x403u);
    RouterDispatch();
    ASSERT_EQ(win.log->size(), 2u);
    EXPECT_EQ(win.log->back().msg, 0x401u);
}

TEST(RouterQueue, RemoveMessagesTakesOnlyThatNumberOfThatWindow) {
    std::vector<Received> log;
    // 0x405 stands for a handler that removes the position messages queued
    // behind it.
    auto answer = [](const Received& r) {
        if (r.msg == 0x405) RemoveMessages(r.hwnd, 0x401);
        return r.wParam + 1;
    };
    Recorder w1(&log, answer), w2(&log, answer);
    RouterDispatch();
    // A send from another thread, queued before anything else: it survives
    // removal of its number, since its sender waits for it.
    int64_t sendResult = -1;
    std::thread sender([&] { sendResult = SendMessage(w1.hwnd, 0x401, 77, 0); });
    ASSERT_TRUE(WaitReadable(RouterWakeHandle()));

    for (auto [msg, w] : {std::pair{0x401, 1}, {0x402, 0}, {0x401, 2}, {0x403, 0}, {0x401, 3}})
        PostMessage(w1.hwnd, msg, w, 0);
    PostMessage(w2.hwnd, 0x401, 9, 0);
    RemoveMessages(w1.hwnd, 0x401);
    PostMessage(w1.hwnd, 0x405, 0, 0);
    PostMessage(w1.hwnd, 0x401, 4, 0);
    PostMessage(w1.hwnd, 0x406, 0, 0);
    RouterDispatch();
    sender.join();

    std::vector<Received> want = {{w1.hwnd, 0x401, 77, 0, {}}, {w1.hwnd, 0x402, 0, 0, {}},
                                  {w1.hwnd, 0x403, 0, 0, {}},  {w2.hwnd, 0x401, 9, 0, {}},
                                  {w1.hwnd, 0x405, 0, 0, {}},  {w1.hwnd, 0x406, 0, 0, {}}};
    EXPECT_EQ(log, want);
    EXPECT_EQ(sendResult, 78);
}

TEST(RouterQueue, DestroyedWindowLosesItsMessagesAndAnswersWaitingSenders) {
    Recorder win(nullptr, [](const Received&) { return 5; });
    Recorder other;
    RouterDispatch();
    int64_t sendResult = -1;
    std::thread sender([&] { sendResult = SendMessage(win.hwnd, 0x403, 0, 0); });
    ASSERT_TRUE(WaitReadable(RouterWakeHandle()));
    EXPECT_TRUE(PostMessage(win.hwnd, 0x401, 1, 0));
    EXPECT_TRUE(PostMessage(other.hwnd, 0x401, 2, 0));

    EXPECT_TRUE(RouterDestroyWindow(win.hwnd));
    sender.join(); // returns without any dispatch
    EXPECT_EQ(sendResult, 0);
    RouterDispatch();
    EXPECT_TRUE(win.log->empty());
    ASSERT_EQ(other.log->size(), 1u);
    EXPECT_EQ(other.log->front().wParam, 2);

    EXPECT_FALSE(PostMessage(win.hwnd, 0x401, 1, 0));
    EXPECT_EQ(SendMessage(win.hwnd, 0x401, 1, 0), 0);
    EXPECT_FALSE(RouterDestroyWindow(win.hwnd));
    Recorder next;
    EXPECT_NE(next.hwnd, win.hwnd); // a stale id never reaches a new window
}

TEST(RouterQueue, ProcedureMayDestroyItsOwnWindow) {
    uint32_t hwnd = 0;
    int calls = 0;
    hwnd = RouterCreateWindow([&](uint32_t h, uint32_t, int64_t, int64_t) {
        ++calls;
        RouterDestroyWindow(h);
        return 0;
    });
    PostMessage(hwnd, 0x401, 0, 0);
    PostMessage(hwnd, 0x401, 1, 0);
    RouterDispatch();
    EXPECT_EQ(calls, 1);
}

// --- Another engine process -------------------------------------------------

REELPAGE_CHILD(post_to_process) {
    int pid = std::stoi(args.at(0));
    return RouterPostToProcess(pid, ArgHwnd(args, 1), 0x0006, -1, kCookie) ? 0 : 1;
}

REELPAGE_CHILD(engine_exits) {
    if (RouterInit() != 0) return 1;
    return std::filesystem::exists(RouterEndpointPath(getpid())) ? 0 : 2;
}

TEST(RouterEndpoint, AnotherProcessPostsToThisOne) {
    Recorder win;
    ASSERT_TRUE(RouterIsEngine());
    int pid = testing_child::Spawn("post_to_process",
                                   {std::to_string(getpid()), std::to_string(win.hwnd)});
    EXPECT_EQ(testing_child::WaitExit(pid), 0);
    EXPECT_TRUE(PumpUntil([&] { return !win.log->empty(); }));
    ASSERT_EQ(win.log->size(), 1u);
    EXPECT_EQ(win.log->front(), (Received{win.hwnd, 0x0006, -1, kCookie, {}}));
}

REELPAGE_CHILD(copy_data_to_process) {
    int pid = std::stoi(args.at(0));
    uint32_t hwnd = ArgHwnd(args, 1);
    const std::string path = "/home/u/Vid\xc3\xa9os/clip one.mp4";
    std::string full(kMaxCopyData, 'x');
    std::string over(kMaxCopyData + 1, 'y');
    bool ok = RouterCopyDataToProcess(pid, hwnd, 7, path.data(), path.size()) &&
              RouterCopyDataToProcess(pid, hwnd, 8, full.data(), full.size()) &&
              !RouterCopyDataToProcess(pid, hwnd, 9, over.data(), over.size()) &&
              RouterPostToProcess(pid, hwnd, 0x0006, 1, 0);
    return ok ? 0 : 1;
}

TEST(RouterEndpoint, AnotherProcessHandsOverBytesInOrderWithItsPosts) {
    struct Got {
        uint32_t msg;
        int64_t wParam;
        std::string bytes;
    };
    std::vector<Got> got;
    uint32_t hwnd = RouterCreateWindow([&](uint32_t, uint32_t msg, int64_t w, int64_t l) {
        Got g{msg, w, {}};
        if (msg == kMsgCopyData) {
            // The bytes are lent for the call only: copied here.
            const auto* copy = reinterpret_cast<const CopyData*>(l);
            EXPECT_EQ(copy->dwData, uint64_t(w));
            g.bytes.assign(static_cast<const char*>(copy->lpData), copy->cbData);
        }
        got.push_back(g);
        return 0;
    });
    int pid = testing_child::Spawn("copy_data_to_process",
                                   {std::to_string(getpid()), std::to_string(hwnd)});
    EXPECT_EQ(testing_child::WaitExit(pid), 0) << "a send failed, or the oversized one passed";
    EXPECT_TRUE(PumpUntil([&] { return got.size() >= 3; }));
    RouterDestroyWindow(hwnd);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].msg, kMsgCopyData);
    EXPECT_EQ(got[0].wParam, 7);
    EXPECT_EQ(got[0].bytes, "/home/u/Vid\xc3\xa9os/clip one.mp4");
    EXPECT_EQ(got[1].wParam, 8);
    EXPECT_EQ(got[1].bytes, std::string(kMaxCopyData, 'x'));
    EXPECT_EQ(got[2].msg, 0x0006u);
}

TEST(RouterEndpoint, EndpointIsRemovedAtCleanExitAndStaleOnesFailQuietly) {
    int pid = testing_child::Spawn("engine_exits", {});
    EXPECT_EQ(testing_child::WaitExit(pid), 0);
    std::string path = RouterEndpointPath(pid);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(RouterPostToProcess(pid, 1, 0x0006, 0, 0));

    // What a crashed process leaves: a socket file nobody listens on.
    int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(s);
    EXPECT_FALSE(RouterPostToProcess(pid, 1, 0x0006, 0, 0));
    unlink(path.c_str());
}
