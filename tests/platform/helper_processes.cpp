#include "helper_processes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace helper_test {

std::string CommandLine(const std::string& program, const std::string& child,
                        const std::vector<std::string>& args) {
    std::string line = program.find(' ') != std::string::npos ? "\"" + program + "\"" : program;
    line += " --child " + child;
    for (const auto& a : args)
        line += " " + a;
    return line;
}

std::vector<int> ChildPids() {
    std::vector<int> pids;
    const int self = getpid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...; comm may hold spaces and parentheses.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        char state = 0;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == self) pids.push_back(std::stoi(name));
    }
    return pids;
}

std::string TempFolder(const std::string& name) {
    const char* home = std::getenv("REELPAGE_TEST_HOME");
    std::filesystem::path dir = std::filesystem::path(home ? home : "/tmp") / name;
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace helper_test
