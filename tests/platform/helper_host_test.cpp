// Helpers forked by a helper host: a launch must look to the helper and to
// the caller exactly as one by fork and exec. The host here serves the probe,
// which reports its parent, folder, environment and open descriptors.
#include "helper_processes.h"
#include "platform/event.h"
#include "platform/helper_host.h"
#include "platform/process.h"
#include "platform/shm.h"
#include "platform/wait.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

using namespace platform;

namespace {

const std::string kProbe = TEST_PROBE;

std::atomic<int> g_fallbacks{0};
std::atomic<int> g_lastFallback{-1};
void CountFallback(int error) {
    g_lastFallback = error;
    ++g_fallbacks;
}

struct Report {
    int ppid = 0;
    std::string cwd, value;
    std::set<int> open;
};

Report Parse(const SharedBlock& block) {
    std::string text(static_cast<const char*>(block.view));
    Report r;
    std::istringstream in(text);
    in >> r.ppid;
    in.get();
    std::getline(in, r.cwd, '|');
    std::getline(in, r.value, '|');
    for (std::string fd; std::getline(in, fd, ',');)
        r.open.insert(std::stoi(fd));
    return r;
}

int ExitCode(int handle) {
    int code = -12345;
    EXPECT_EQ(GetHelperExitCode(handle, &code), 0);
    return code;
}

// Starts the probe with the report block (and more) handed over.
int Start(const std::string& program, const std::string& mode, int code,
          const std::vector<int>& blocks, const std::string& dir = "") {
    std::string line = program + " " + std::to_string(code) + " " + mode;
    for (int b : blocks)
        line += " " + std::to_string(b);
    int process = -1;
    EXPECT_EQ(LaunchHelper(line, dir, &process, blocks), 0) << line;
    return process;
}

// Runs the probe to its end and returns its report.
Report RunProbe(const std::string& program, const std::vector<int>& blocks, const SharedBlock& report,
           const std::string& dir = "") {
    int process = Start(program, "exit", 0, blocks, dir);
    EXPECT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 0);
    CloseHelperHandle(process);
    return Parse(report);
}

class HelperHost : public testing::Test {
protected:
    void SetUp() override {
        UseHelperHost(TEST_HELPER_HOST, CountFallback);
        ASSERT_EQ(CreateSharedBlock(4096, true, &report_), 0);
    }
    void TearDown() override { CloseSharedBlock(&report_); }
    SharedBlock report_;
};

} // namespace

TEST_F(HelperHost, HandsOverTheSameDescriptorsUnderTheirNumbersAndNothingElse) {
    // The host is running first, so its own socket has a low number. It then
    // receives the descriptors at its lowest free numbers: one handed over at
    // 10 or so arrives lower, and 10 is where a later one of those far above
    // arrives. Placing them one by one in order would overwrite that one.
    EXPECT_NE(RunProbe(kProbe, {report_.handle}, report_).ppid, getpid());
    SharedBlock marked[6];
    std::vector<int> blocks = {report_.handle};
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(CreateSharedBlock(64, true, &marked[i]), 0);
        int moved = fcntl(marked[i].handle, F_DUPFD_CLOEXEC, i == 0 ? 10 : 40);
        ASSERT_GE(moved, 0);
        close(marked[i].handle);
        marked[i].handle = moved;
        blocks.push_back(moved);
    }
    SharedBlock notHanded;
    ASSERT_EQ(CreateSharedBlock(64, true, &notHanded), 0);

    Report r = RunProbe(kProbe, blocks, report_);
    EXPECT_NE(r.ppid, getpid()) << "not started by the host";
    std::set<int> want(blocks.begin(), blocks.end());
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) >= 0) want.insert(fd);
    EXPECT_EQ(r.open, want);
    for (auto& m : marked) {
        EXPECT_EQ(std::string(static_cast<char*>(m.view)), std::to_string(m.handle));
        CloseSharedBlock(&m);
    }
    CloseSharedBlock(&notHanded);
}

TEST_F(HelperHost, RunsInTheRequestedFolderWithTheEnvironmentOfItsLaunch) {
    const std::string here = helper_test::TempFolder("caller");
    const std::string there = helper_test::TempFolder("helper folder");
    ASSERT_EQ(chdir(here.c_str()), 0);
    // The environment changes between launches; each helper sees the one of
    // its own launch, not the one the host was started with.
    for (const char* value : {"first", "second value"}) {
        SCOPED_TRACE(value);
        ASSERT_EQ(setenv("PROBE_VALUE", value, 1), 0);
        Report r = RunProbe(kProbe, {report_.handle}, report_);
        EXPECT_NE(r.ppid, getpid());
        EXPECT_EQ(r.cwd, here);
        EXPECT_EQ(r.value, value);
    }
    ASSERT_EQ(unsetenv("PROBE_VALUE"), 0);
    Report r = RunProbe(kProbe, {report_.handle}, report_, there);
    EXPECT_EQ(r.cwd, there);
    EXPECT_EQ(r.value, "-");
    // A folder that is not there fails the launch as exec's would.
    int process = 99;
    EXPECT_EQ(LaunchHelper(kProbe + " 0 exit " + std::to_string(report_.handle), here + "/missing",
                           &process, {report_.handle}),
              ENOENT);
    EXPECT_EQ(process, -1);
    EXPECT_EQ(g_fallbacks.load(), 0);
}

TEST_F(HelperHost, ReportsExitTerminateAndSignalCodes) {
    for (int code : {0, 7, 255}) {
        SCOPED_TRACE(code);
        int process = Start(kProbe, "exit", code, {report_.handle});
        ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
        // Known as soon as the wait is over.
        EXPECT_EQ(ExitCode(process), code);
        EXPECT_EQ(TerminateHelper(process, 1), ESRCH);
        EXPECT_EQ(ExitCode(process), code);
        CloseHelperHandle(process);
    }
    for (int code : {-1, 5}) {
        SCOPED_TRACE(code);
        int process = Start(kProbe, "sleep", 0, {report_.handle});
        EXPECT_EQ(WaitForHandle(process, 200), kWaitTimeout);
        EXPECT_EQ(ExitCode(process), kStillActive);
        ASSERT_EQ(TerminateHelper(process, code), 0);
        ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
        EXPECT_EQ(ExitCode(process), code);
        CloseHelperHandle(process);
    }
    // Killed by someone else: 128 + the signal.
    int process = Start(kProbe, "sleep", 0, {report_.handle});
    const int pid = GetHelperProcessId(process);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 128 + SIGTERM);
    CloseHelperHandle(process);
}

TEST_F(HelperHost, HostKilledWhileAHelperRunsEndsTheHelperAndIsStartedAgain) {
    int process = Start(kProbe, "sleep", 0, {report_.handle});
    while (Parse(report_).open.empty())
        usleep(1000);
    const int host = Parse(report_).ppid;
    ASSERT_NE(host, getpid());
    ASSERT_EQ(kill(host, SIGKILL), 0);
    // The helper dies with it, and its handle says so.
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 128 + SIGKILL);
    CloseHelperHandle(process);

    // The next launch has a new host.
    std::memset(report_.view, 0, report_.size);
    Report r = RunProbe(kProbe, {report_.handle}, report_);
    EXPECT_NE(r.ppid, getpid());
    EXPECT_NE(r.ppid, host);
    EXPECT_EQ(g_fallbacks.load(), 1);
    EXPECT_EQ(g_lastFallback.load(), 0);
}

TEST_F(HelperHost, ProgramsItDoesNotServeGoByExec) {
    // The same file under another folder.
    const std::string elsewhere = helper_test::TempFolder("elsewhere") + "/probe";
    std::filesystem::copy_file(kProbe, elsewhere);
    EXPECT_EQ(RunProbe(elsewhere, {report_.handle}, report_).ppid, getpid());
    EXPECT_NE(RunProbe(kProbe, {report_.handle}, report_).ppid, getpid());
    EXPECT_EQ(RunProbe(elsewhere, {report_.handle}, report_).ppid, getpid());
    EXPECT_EQ(g_fallbacks.load(), 0);
}

TEST_F(HelperHost, AHostThatCannotBeStartedLeavesEveryLaunchToExec) {
    // Said once, not at every launch.
    UseHelperHost(helper_test::TempFolder("no host") + "/helperhost", CountFallback);
    const std::string alone = helper_test::TempFolder("no host") + "/probe";
    std::filesystem::copy_file(kProbe, alone);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RunProbe(alone, {report_.handle}, report_).ppid, getpid());
    EXPECT_EQ(g_fallbacks.load(), 1);
    EXPECT_EQ(g_lastFallback.load(), ENOENT);
}

TEST_F(HelperHost, EndingTheHostReapsItAndItsHelpersWithTheirTime) {
    auto childSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double before = childSeconds();
    int process = Start(kProbe, "burn", 0, {report_.handle});
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 0);
    CloseHelperHandle(process);
    const int host = Parse(report_).ppid;
    ASSERT_NE(host, getpid());
    // One still running goes with the host.
    std::memset(report_.view, 0, report_.size);
    process = Start(kProbe, "sleep", 0, {report_.handle});
    while (Parse(report_).open.empty())
        usleep(1000);
    EndHelperHost();
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(host)))
        << "the host was not reaped";
    ASSERT_EQ(WaitForHandle(process, 30000), kWaitObject0);
    EXPECT_EQ(ExitCode(process), 128 + SIGKILL);
    CloseHelperHandle(process);
    EXPECT_GE(childSeconds() - before, 0.15) << "the helper's time was lost with the host";
    // The next launch has a host of its own again.
    std::memset(report_.view, 0, report_.size);
    Report r = RunProbe(kProbe, {report_.handle}, report_);
    EXPECT_NE(r.ppid, getpid());
    EXPECT_NE(r.ppid, host);
    EXPECT_EQ(g_fallbacks.load(), 0);
}
