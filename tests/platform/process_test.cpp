// Starting, waiting for, terminating and reaping helper processes. The helper
// is this test program run as one of its registered children.
#include "helper_processes.h"
#include "platform/event.h"
#include "platform/process.h"
#include "platform/shm.h"
#include "platform/wait.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;
using helper_test::ChildPids;
using helper_test::CommandLine;
using testing_child::SelfPath;

namespace {

int Arg(const std::vector<std::string>& args, size_t i) {
    return std::stoi(args.at(i));
}

bool IsChild(int pid) {
    auto pids = ChildPids();
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// Polls until cond holds or ms pass.
template <typename F> bool Eventually(F cond, int ms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

int ExitCode(int handle) {
    int code = -12345;
    EXPECT_EQ(GetHelperExitCode(handle, &code), 0);
    return code;
}

} // namespace

REELPAGE_CHILD(proc_exit) {
    return Arg(args, 0);
}

REELPAGE_CHILD(proc_sleep) {
    for (;;)
        pause();
}

// args: event; exits 3 once it is set.
REELPAGE_CHILD(proc_wait_event) {
    return WaitForHandle(Arg(args, 0), 60000) == kWaitObject0 ? 3 : 4;
}

// args: block, then anything. Writes "cwd|arg1|arg2..." into the block.
REELPAGE_CHILD(proc_report) {
    SharedBlock block;
    if (MapSharedBlock(Arg(args, 0), 0, &block) != 0) return 10;
    char cwd[1024];
    if (!getcwd(cwd, sizeof cwd)) return 11;
    std::string text = cwd;
    for (size_t i = 1; i < args.size(); ++i)
        text += "|" + args[i];
    std::strncpy(static_cast<char*>(block.view), text.c_str(), block.size - 1);
    CloseSharedBlock(&block);
    return 7;
}

// Writes "o" or "-" into the block for each further descriptor: open or not.
REELPAGE_CHILD(proc_open_fds) {
    SharedBlock block;
    if (MapSharedBlock(Arg(args, 0), 0, &block) != 0) return 10;
    std::string text;
    for (size_t i = 1; i < args.size(); ++i)
        text += fcntl(std::stoi(args[i]), F_GETFD) >= 0 ? "o" : "-";
    std::strncpy(static_cast<char*>(block.view), text.c_str(), block.size - 1);
    CloseSharedBlock(&block);
    return 7;
}

// A launch that names its helper's descriptors hands over those and no
// other inheritable one.
TEST(LaunchHelper, HandsOverOnlyTheNamedDescriptors) {
    SharedBlock named, other;
    ASSERT_EQ(CreateSharedBlock(4096, true, &named), 0);
    ASSERT_EQ(CreateSharedBlock(16, true, &other), 0);
    const int event = CreateEvent(true), namedEvent = CreateEvent(true);
    const std::vector<std::string> fds = {std::to_string(named.handle), std::to_string(namedEvent),
                                          std::to_string(other.handle), std::to_string(event)};
    int process = -1;
    ASSERT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_open_fds", fds), "", &process,
                           {named.handle, namedEvent}),
              0);
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 7);
    // The named block itself was mapped; then its event, the others.
    EXPECT_EQ(std::string(static_cast<char*>(named.view)), "o--");
    CloseHelperHandle(process);
    CloseEvent(event);
    CloseEvent(namedEvent);
    CloseSharedBlock(&other);
    CloseSharedBlock(&named);
}

TEST(CommandLine, SplitsTheWindowsWay) {
    struct Case {
        std::string line;
        std::vector<std::string> args;
    } cases[] = {
        {"\"/opt/my folder/dec\" 420", {"/opt/my folder/dec", "420"}},
        {"/opt/app/enc 17", {"/opt/app/enc", "17"}},
        {"  /bin/x \t a\tb  ", {"/bin/x", "a", "b"}},
        {"x \"a b\" c", {"x", "a b", "c"}},
        {"x a\" b\"c", {"x", "a bc"}},
        {R"(x a\\"b c")", {"x", R"(a\b c)"}}, // 2n backslashes: n, quote toggles
        {R"(x a\"b)", {"x", R"(a"b)"}},       // 2n+1: n and a literal quote
        {R"(x a\\b\)", {"x", R"(a\\b\)"}},    // no quote after: literal
        {R"(x "" y)", {"x", "", "y"}},
        {R"(x "a""b")", {"x", R"(a"b)"}},
        {R"("C:\dir\" 1)", {R"(C:\dir\)", "1"}}, // the program token has no escapes
        {"\"/opt/open ended", {"/opt/open ended"}},
        {"", {}},
        {" \t ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SplitCommandLine(c.line), c.args);
    }
}

TEST(LaunchHelper, StartsQuotedPlainAndRelativePathsWithHandlesAndFolder) {
    const std::string workDir = helper_test::TempFolder("work dir");
    const std::string home = helper_test::TempFolder("");
    // A relative program counts from the caller's folder, not from the
    // helper's current directory.
    ASSERT_EQ(chdir(home.c_str()), 0);
    struct Case {
        std::string folder;
        std::string name;
        bool relative;
    } cases[] = {
        {"my folder", "helper prog", false}, {"plain", "helper", false}, {"rel", "helper", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        std::string program = helper_test::TempFolder(c.folder) + "/" + c.name;
        std::filesystem::create_symlink(SelfPath(), program);
        if (c.relative) program = c.folder + "/" + c.name;
        SharedBlock block;
        ASSERT_EQ(CreateSharedBlock(4096, true, &block), 0);
        std::string line =
            CommandLine(program, "proc_report", {std::to_string(block.handle), "\"a b\"", "c"});

        int process = -1;
        ASSERT_EQ(LaunchHelper(line, workDir, &process), 0) << line;
        EXPECT_GT(process, 2);
        EXPECT_GT(GetHelperProcessId(process), 0);
        ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
        EXPECT_EQ(ExitCode(process), 7);
        EXPECT_EQ(std::string(static_cast<char*>(block.view)), workDir + "|a b|c");
        CloseHelperHandle(process);
        CloseSharedBlock(&block);
    }
}

TEST(LaunchHelper, UnquotedProgramPathWithBlanks) {
    // The encoder's command line names its program without quotes; a program
    // folder with blanks in its name must still start it.
    std::string program = helper_test::TempFolder("program folder") + "/enc helper";
    std::filesystem::create_symlink(SelfPath(), program);
    SharedBlock block;
    ASSERT_EQ(CreateSharedBlock(4096, true, &block), 0);
    std::string line = program + " --child proc_report " + std::to_string(block.handle) + " x";
    int process = -1;
    ASSERT_EQ(LaunchHelper(line, "/", &process), 0) << line;
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 7);
    EXPECT_EQ(std::string(static_cast<char*>(block.view)), "/|x");
    CloseHelperHandle(process);
    CloseSharedBlock(&block);
}

TEST(LaunchHelper, ReportsWhatCouldNotBeStarted) {
    const std::string dir = helper_test::TempFolder("bad");
    const std::string plainFile = dir + "/not-a-program";
    std::ofstream(plainFile) << "data";
    struct Case {
        std::string line;
        std::string currentDir;
        int error;
    } cases[] = {
        {"/nonexistent/prog 1", "", ENOENT},
        {"\"" + plainFile + "\" 1", "", EACCES},
        {CommandLine(SelfPath(), "proc_exit", {"0"}), dir + "/missing", ENOENT},
        {"no-such-program-anywhere 1", "", ENOENT},
        {"", "", EINVAL},
        {"   ", "", EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        int process = 99;
        EXPECT_EQ(LaunchHelper(c.line, c.currentDir, &process), c.error);
        EXPECT_EQ(process, -1);
    }
    EXPECT_TRUE(ChildPids().empty()); // failed children are reaped, not left behind
}

TEST(LaunchHelper, WaitTimesOutWhileRunningThenReportsTheExitCode) {
    int event = CreateEvent(true);
    int process = -1;
    ASSERT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_wait_event", {std::to_string(event)}), "",
                           &process),
              0);
    EXPECT_EQ(WaitForHandle(process, 100), kWaitTimeout);
    EXPECT_EQ(ExitCode(process), kStillActive);
    ASSERT_EQ(SetEvent(event), 0);
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    // Known as soon as the wait is over, and the handle stays signalled.
    EXPECT_EQ(ExitCode(process), 3);
    EXPECT_EQ(WaitForHandle(process, 0), kWaitObject0);
    CloseHelperHandle(process);
    CloseEvent(event);
    EXPECT_TRUE(Eventually([] { return ChildPids().empty(); }));
}

TEST(LaunchHelper, TerminateSetsTheReportedExitCode) {
    for (int code : {-1, 5}) {
        SCOPED_TRACE(code);
        int process = -1;
        ASSERT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_sleep"), "", &process), 0);
        EXPECT_EQ(ExitCode(process), kStillActive);
        ASSERT_EQ(TerminateHelper(process, code), 0);
        ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
        EXPECT_EQ(ExitCode(process), code);
        // A second terminate finds it ended and keeps the code.
        EXPECT_EQ(TerminateHelper(process, 99), ESRCH);
        EXPECT_EQ(ExitCode(process), code);
        CloseHelperHandle(process);
    }

    // Ended on its own before the terminate: its own code stays.
    int process = -1;
    ASSERT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_exit", {"9"}), "", &process), 0);
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(TerminateHelper(process, -1), ESRCH);
    EXPECT_EQ(ExitCode(process), 9);
    CloseHelperHandle(process);

    // Killed by someone else: 128 + the signal.
    ASSERT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_sleep"), "", &process), 0);
    kill(GetHelperProcessId(process), SIGTERM);
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 128 + SIGTERM);
    CloseHelperHandle(process);

    int code = 0;
    EXPECT_EQ(GetHelperExitCode(process, &code), EBADF);
    EXPECT_EQ(TerminateHelper(process, 1), EBADF);
}

TEST(LaunchHelper, HelperClosedWhileRunningIsStillReaped) {
    int event = CreateEvent(true);
    int process = -1;
    ASSERT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_wait_event", {std::to_string(event)}), "",
                           &process),
              0);
    int pid = GetHelperProcessId(process);
    CloseHelperHandle(process);
    EXPECT_TRUE(IsChild(pid));
    ASSERT_EQ(SetEvent(event), 0);
    // A zombie would still be listed as a child.
    EXPECT_TRUE(Eventually([pid] { return !IsChild(pid); }));
    CloseEvent(event);
}

TEST(LaunchHelper, HelperOutlivesTheThreadThatLaunchedIt) {
    // The parent-death signal follows the forking thread; a launch from a
    // short-lived thread must not tie the helper to that thread.
    int process = -1;
    std::thread([&] {
        EXPECT_EQ(LaunchHelper(CommandLine(SelfPath(), "proc_sleep"), "", &process), 0);
    }).join();
    ASSERT_GT(process, 0);
    EXPECT_EQ(WaitForHandle(process, 500), kWaitTimeout);
    EXPECT_EQ(ExitCode(process), kStillActive);
    ASSERT_EQ(TerminateHelper(process, 0), 0);
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    CloseHelperHandle(process);
}

TEST(LaunchHelper, ConcurrentLaunchesFromSeveralThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &good] {
            for (int i = 0; i < 3; ++i) {
                int want = t * 10 + i;
                int process = -1;
                if (LaunchHelper(CommandLine(SelfPath(), "proc_exit", {std::to_string(want)}), "",
                                 &process) != 0)
                    continue;
                int code = -1;
                if (WaitForHandle(process, 30000) == kWaitObject0 &&
                    GetHelperExitCode(process, &code) == 0 && code == want)
                    ++good;
                CloseHelperHandle(process);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(good.load(), 12);
    EXPECT_TRUE(Eventually([] { return ChildPids().empty(); }));
}

// args: block, event. Launches a sleeping helper, writes its pid into the
// block, sets the event and waits to be killed.
REELPAGE_CHILD(proc_engine) {
    SharedBlock block;
    if (MapSharedBlock(Arg(args, 0), 0, &block) != 0) return 10;
    int process = -1;
    if (LaunchHelper(CommandLine(SelfPath(), "proc_sleep"), "", &process) != 0) return 11;
    *static_cast<int*>(block.view) = GetHelperProcessId(process);
    SetEvent(Arg(args, 1));
    for (;;)
        pause();
}

TEST(LaunchHelper, HelperDiesWhenItsParentIsKilled) {
    // Orphans come to this process instead of init, so the helper's end can
    // be observed and its status read.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    SharedBlock block;
    ASSERT_EQ(CreateSharedBlock(64, true, &block), 0);
    int ready = CreateEvent(true);
    int engine =
        testing_child::Spawn("proc_engine", {std::to_string(block.handle), std::to_string(ready)});
    ASSERT_EQ(WaitForHandle(ready, 30000), kWaitObject0);
    int helper = *static_cast<int*>(block.view);
    ASSERT_GT(helper, 0);
    EXPECT_EQ(kill(helper, 0), 0);

    kill(engine, SIGKILL);
    EXPECT_EQ(testing_child::WaitExit(engine), 128 + SIGKILL);
    int status = 0;
    bool gone = Eventually([&] { return waitpid(helper, &status, WNOHANG) == helper; });
    if (!gone) {
        // Do not leave it behind for the rest of the machine.
        kill(helper, SIGKILL);
        waitpid(helper, nullptr, 0);
    }
    ASSERT_TRUE(gone);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    CloseEvent(ready);
    CloseSharedBlock(&block);
}
