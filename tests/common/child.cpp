#include "child.h"

#include "platform/inherit.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_child {

static std::map<std::string, ChildMain>& Table() {
    static std::map<std::string, ChildMain> table;
    return table;
}

Registrar::Registrar(const char* name, ChildMain fn) { Table()[name] = fn; }

std::string SelfPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n < 0) return {};
    buf[n] = 0;
    return buf;
}

bool Dispatch(int argc, char** argv, int* rc) {
    if (argc < 3 || std::string(argv[1]) != "--child") return false;
    auto it = Table().find(argv[2]);
    if (it == Table().end()) {
        *rc = 127;
        return true;
    }
    std::vector<std::string> args(argv + 3, argv + argc);
    *rc = it->second(args);
    return true;
}

int Spawn(const std::string& name, const std::vector<std::string>& args) {
    std::string self = SelfPath();
    std::vector<std::string> all = {self, "--child", name};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : all) argv.push_back(s.data());
    argv.push_back(nullptr);
    // As a helper launch would: the inheritable descriptors go along.
    std::vector<int> handOver = platform::InheritableHandles();
    if (const char* router = getenv("REELPAGE_ROUTER_FD")) handOver.push_back(atoi(router));
    pid_t pid = fork();
    if (pid == 0) {
        platform::KeepAcrossExec(handOver.data(), int(handOver.size()));
        execv(self.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

static int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int WaitExit(int pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return ExitCode(status);
}

int WaitExitWithin(int pid, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() >= until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return r < 0 ? -1 : ExitCode(status);
}

} // namespace testing_child
