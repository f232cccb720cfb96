// The diagnostic log: one fresh file per run, the banner, level marks, the
// 4,096-byte cut, raw text, and the system report.
#include "system/Exports.h"
#include "system/Log.h"
#include "child.h"
#include "reelpage/exports.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
// GCC 12 with the sanitizers sees a std::function inside <regex>'s
// automaton as maybe uninitialized, a false alarm that -Werror would make
// fatal for the sanitized build.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <sstream>

using namespace reelpage;

namespace {

std::string LogPath() {
    return std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The log file a child process left under the log's name.
std::string ReadLog() {
    return ReadFile(LogPath());
}

// The log this process writes. It is opened once per process, and a child
// started since then (an earlier test's) has put a new file under its name:
// only the descriptor still reaches this process's own.
std::string OwnLog() {
    const int fd = LogHandle();
    return fd > 0 ? ReadFile("/proc/self/fd/" + std::to_string(fd)) : std::string();
}

} // namespace

REELPAGE_CHILD(log_run) {
    Bind<FnInitDiagnostics>(kInitDiagnostics)();
    Bind<FnWriteLog>(kWriteLog)(args.at(0).c_str());
    return 0;
}

TEST(Diagnostics, EachStartReplacesThePreviousLog) {
    ASSERT_EQ(testing_child::WaitExit(testing_child::Spawn("log_run", {"first-run-marker\n"})), 0);
    EXPECT_NE(ReadLog().find("first-run-marker"), std::string::npos);
    ASSERT_EQ(testing_child::WaitExit(testing_child::Spawn("log_run", {"second-run-marker\n"})), 0);
    std::string log = ReadLog();
    EXPECT_EQ(log.find("first-run-marker"), std::string::npos);
    EXPECT_NE(log.find("second-run-marker"), std::string::npos);
}

// In a process of its own, since the report is made once per process: 1
// when the system's figures were unknown before the report and known after.
REELPAGE_CHILD(log_report) {
    if (Bind<FnIsVistaOrLater>(kIsVistaOrLater)() != 0) return 2;
    if (Bind<FnGetProcessorCount>(kGetProcessorCount)() != 0) return 3;
    // A process without a GUI application has no web engine to ask: browser
    // detection is left out, and the report alone is the whole step.
    if (Bind<FnInitDiagnostics>(kInitDiagnostics)() != S_OK) return 4;
    if (Bind<FnIsVistaOrLater>(kIsVistaOrLater)() != 1) return 5;
    const int n = Bind<FnGetProcessorCount>(kGetProcessorCount)();
    if (n <= 0) return 6;
    LogWritePlain("processors seen: %d\n", n);
    return 0;
}

TEST(Diagnostics, BannerAndSystemReport) {
    ASSERT_EQ(testing_child::WaitExit(testing_child::Spawn("log_report", {})), 0);
    std::string log = ReadLog();
    std::regex banner("^=+\n\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}\\.\\d{3}\n=+\n\n");
    EXPECT_TRUE(std::regex_search(log, banner)) << log;
    EXPECT_EQ(log.substr(0, 44), std::string(44, '='));
#if defined(__x86_64__)
    EXPECT_NE(log.find("\n     Processor=X8664 Architecture=AMD64 \n"), std::string::npos) << log;
    EXPECT_NE(log.find("\n     CPU TYPE:AMD64\n"), std::string::npos);
#endif
    EXPECT_NE(log.find("kernel "), std::string::npos);
    const std::string said = "processors seen: ";
    const size_t at = log.find(said);
    ASSERT_NE(at, std::string::npos) << log;
    const std::string seen = log.substr(at + said.size(), log.find('\n', at) - at - said.size());
    EXPECT_NE(log.find("     NumberOfProcessors=" + seen + "\n"), std::string::npos) << seen;
    for (const char* line :
         {"     MemoryStatus:\n", " percent of memory is in use.\n", "M bytes total of physical memory.\n",
          "M bytes free of physical memory.\n", "M bytes total of virtual memory.\n",
          "M bytes free  of virtual memory.\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

// In a process of its own: what is written before its log is open can only
// be seen not to arrive in a process that has not opened it yet.
REELPAGE_CHILD(log_levels) {
    LogWrite(kLogError, "too early\n");
    InitDiagnostics();
    LogWrite(0, "level0\n");
    LogWrite(1, "level1\n");
    LogWrite(2, "level2\n");
    LogWrite(3, "level3\n");
    LogWritePlain("plain %d\n", 7);
    // A message of 4,091 characters fits exactly; one more is cut.
    LogWrite(3, "%s", std::string(4091, 'a').c_str());
    LogWrite(3, "%s", std::string(5000, 'b').c_str());
    WriteLog("raw without end");
    LogWrite(1, "next\n");
    return 0;
}

TEST(Diagnostics, LevelMarksCutAndRawText) {
    ASSERT_EQ(testing_child::WaitExit(testing_child::Spawn("log_levels", {})), 0);
    const std::string log = ReadLog();
    EXPECT_EQ(log.find("too early"), std::string::npos) << "nothing is written before the log is open";
    const std::string expect = "     level0\n     level1\n  *  level2\n *** level3\nplain 7\n *** " +
                               std::string(4091, 'a') + " *** " + std::string(4091, 'b') +
                               "raw without end     next\n";
    ASSERT_GE(log.size(), expect.size()) << log;
    EXPECT_EQ(log.substr(log.size() - expect.size()), expect);
}

TEST(Diagnostics, FailureLineShapes) {
    InitDiagnostics();
    size_t start = OwnLog().size();
    LOG_FAILED(2, "open(path)");
    LOG_FAILED_HR(0x80004005, "Something()");
    std::string tail = OwnLog().substr(start);
    std::regex shape(" \\*\\*\\* Failed\\(2\\) on open\\(path\\), FILE:.*diagnostics_test\\.cpp, LINE:\\d+\n"
                     " \\*\\*\\* Failed\\(0x80004005\\) on Something\\(\\), FILE:.*, LINE:\\d+\n");
    EXPECT_TRUE(std::regex_match(tail, shape)) << tail;
}

REELPAGE_CHILD(log_from_helper) {
    // A helper appends to the inherited log descriptor, one write per line.
    int fd = std::stoi(args.at(0));
    for (int i = 0; i < 200; ++i) {
        std::string line = "helper line " + std::to_string(i) + "\n";
        if (write(fd, line.data(), line.size()) != ssize_t(line.size())) return 1;
    }
    return 0;
}

TEST(Diagnostics, HelpersAppendThroughTheInheritedHandle) {
    InitDiagnostics();
    int fd = LogHandle();
    ASSERT_GT(fd, 2);
    const size_t start = OwnLog().size();
    int pid = testing_child::Spawn("log_from_helper", {std::to_string(fd)});
    for (int i = 0; i < 200; ++i) LogWrite(1, "engine line %d\n", i);
    ASSERT_EQ(testing_child::WaitExit(pid), 0);
    // Every line arrives whole, whoever wrote it.
    std::istringstream lines(OwnLog().substr(start));
    std::string line;
    int helper = 0, engine = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("helper line ", 0) == 0) ++helper;
        if (line.rfind("     engine line ", 0) == 0) ++engine;
    }
    EXPECT_EQ(helper, 200);
    EXPECT_EQ(engine, 200);
}
