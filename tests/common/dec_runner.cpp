#include "dec_runner.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include "platform/process.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"

namespace dec_test {

std::string Folder(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(getenv("REELPAGE_TEST_HOME")) / name;
    std::filesystem::create_directories(dir);
    return dir;
}

DecRun RunDec(const std::string& file, int64_t start, bool mediaInfo, const std::string& plugin,
              const std::string& arguments) {
    DecRun run;
    const std::string trace = Folder("traces") + "/trace-" + std::to_string(getpid()) + "-" +
                              std::to_string(rand()) + ".txt";
    setenv("REC_TRACE", trace.c_str(), 1);
    const std::string logPath = trace + ".log";
    // Inheritable, as the engine's log is.
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    platform::SharedBlock block;
    if (platform::CreateSharedBlock(sizeof(reelpage::HelperLaunch), true, &block) != 0) return run;
    auto* launch = static_cast<reelpage::HelperLaunch*>(block.view);
    std::memset(launch, 0, sizeof *launch);
    platform::WStrCopy(launch->m_szFileName, reelpage::kMaxPath, platform::FromUtf8(file));
    platform::WStrCopy(launch->m_szPlugin, reelpage::kMaxPath, platform::FromUtf8(plugin));
    launch->m_llStart = start;
    launch->m_bMediaInfo = mediaInfo;
    launch->m_hLogFile = log;
    std::string line = "\"" REELPAGE_PROGRAM_DIR "/dec\" " + std::to_string(block.handle);
    if (!arguments.empty()) line += " " + arguments;
    int process = -1;
    if (platform::LaunchHelper(line, REELPAGE_PROGRAM_DIR, &process) == 0) {
        if (platform::WaitForHandle(process, 120000) != platform::kWaitObject0)
            platform::TerminateHelper(process, 99);
        platform::WaitForHandle(process, platform::kInfinite);
        platform::GetHelperExitCode(process, &run.exitCode);
        platform::CloseHelperHandle(process);
    }
    platform::CloseSharedBlock(&block);
    if (log >= 0) close(log);
    std::ifstream logIn(logPath);
    run.log.assign(std::istreambuf_iterator<char>(logIn), {});
    std::ifstream in(trace);
    for (std::string l; std::getline(in, l);)
        run.trace.push_back(l);
    return run;
}

std::vector<std::string> Lines(const DecRun& run, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& l : run.trace)
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

std::vector<Frame> Frames(const std::vector<std::string>& lines) {
    std::vector<Frame> frames;
    for (const auto& l : lines) {
        if (l.rfind("FrameReady ", 0) != 0) continue;
        std::istringstream in(l.substr(11));
        Frame f{};
        in >> f.time >> f.level;
        frames.push_back(f);
    }
    return frames;
}

} // namespace dec_test
