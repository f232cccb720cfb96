// The diagnostic log: one fresh file per run, the banner, level marks, the
// 4,096-byte cut, raw text, and the system report.
#include "system/Exports.h"
#include "system/Log.h"
#include "child.h"
#include "reelpage/exports.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

using namespace reelpage;

namespace {

std::string LogPath() {
    return std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log";
}

std::string ReadLog() {
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
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

TEST(Diagnostics, BannerAndSystemReport) {
    EXPECT_EQ(Bind<FnIsVistaOrLater>(kIsVistaOrLater)(), 0);
    EXPECT_EQ(Bind<FnGetProcessorCount>(kGetProcessorCount)(), 0);
    // A process without a GUI application has no web engine to ask: browser
    // detection is left out, and the report alone is the whole step.
    EXPECT_EQ(Bind<FnInitDiagnostics>(kInitDiagnostics)(), S_OK);
    std::string log = ReadLog();
    std::regex banner("^=+\n\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}\\.\\d{3}\n=+\n\n");
    EXPECT_TRUE(std::regex_search(log, banner)) << log;
    EXPECT_EQ(log.substr(0, 44), std::string(44, '='));
#if defined(__x86_64__)
    EXPECT_NE(log.find("\n     Processor=X8664 Architecture=AMD64 \n"), std::string::npos) << log;
    EXPECT_NE(log.find("\n     CPU TYPE:AMD64\n"), std::string::npos);
#endif
    EXPECT_NE(log.find("kernel "), std::string::npos);
    int n = Bind<FnGetProcessorCount>(kGetProcessorCount)();
    EXPECT_GT(n, 0);
    EXPECT_NE(log.find("     NumberOfProcessors=" + std::to_string(n) + "\n"), std::string::npos);
    for (const char* line :
         {"     MemoryStatus:\n", " percent of memory is in use.\n", "M bytes total of physical memory.\n",
          "M bytes free of physical memory.\n", "M bytes total of virtual memory.\n",
          "M bytes free  of virtual memory.\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(Bind<FnIsVistaOrLater>(kIsVistaOrLater)(), 1);
}

TEST(Diagnostics, LevelMarksCutAndRawText) {
    // Nothing is written before the log is open.
    LogWrite(kLogError, "too early\n");
    InitDiagnostics();
    size_t start = ReadLog().size();
    LogWrite(0, "level0\n");
    LogWrite(1, "level1\n");
    LogWrite(2, "level2\n");
    LogWrite(3, "level3\n");
    LogWritePlain("plain %d\n", 7);
    // A message of 4,091 characters fits exactly; one more is cut.
    std::string fits(4091, 'a'), longer(5000, 'b');
    LogWrite(3, "%s", fits.c_str());
    LogWrite(3, "%s", longer.c_str());
    WriteLog("raw without end");
    LogWrite(1, "next\n");
    std::string log = ReadLog();
    EXPECT_EQ(log.find("too early"), std::string::npos);
    std::string expect = "     level0\n     level1\n  *  level2\n *** level3\nplain 7\n *** " + fits +
                         " *** " + std::string(4091, 'b') + "raw without end     next\n";
    EXPECT_EQ(log.substr(start), expect);
}

TEST(Diagnostics, FailureLineShapes) {
    InitDiagnostics();
    size_t start = ReadLog().size();
    LOG_FAILED(2, "open(path)");
    LOG_FAILED_HR(0x80004005, "Something()");
    std::string tail = ReadLog().substr(start);
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
    int pid = testing_child::Spawn("log_from_helper", {std::to_string(fd)});
    for (int i = 0; i < 200; ++i) LogWrite(1, "engine line %d\n", i);
    ASSERT_EQ(testing_child::WaitExit(pid), 0);
    // Every line arrives whole, whoever wrote it.
    std::istringstream lines(ReadLog());
    std::string line;
    int helper = 0, engine = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("helper line ", 0) == 0) ++helper;
        if (line.rfind("     engine line ", 0) == 0) ++engine;
    }
    EXPECT_EQ(helper, 200);
    EXPECT_EQ(engine, 200);
}
