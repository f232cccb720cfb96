#include "monitor_capture.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

int64_t MonotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

MonitorCapture::~MonitorCapture() { Stop(); }

bool MonitorCapture::Start(const std::string& source) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        const std::string device = "--device=" + source;
        const std::string rate = "--rate=" + std::to_string(kRate);
        execlp("parec", "parec", device.c_str(), "--raw", "--format=s16le", rate.c_str(),
               "--channels=1", "--latency-msec=5", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    m_nPid = pid;
    m_nFd = fds[0];
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void MonitorCapture::Run() {
    char buffer[4096];
    size_t carry = 0; // a byte of a sample split between two reads
    char odd = 0;
    while (!m_bStop) {
        const ssize_t n = read(m_nFd, buffer + carry, sizeof buffer - carry);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const int64_t now = MonotonicNs();
        if (carry) buffer[0] = odd;
        const size_t bytes = carry + size_t(n);
        const size_t whole = bytes / 2;
        for (size_t i = 0; i < whole; ++i)
            m_Samples.push_back(int16_t(uint16_t(uint8_t(buffer[2 * i])) |
                                        uint16_t(uint8_t(buffer[2 * i + 1])) << 8));
        carry = bytes % 2;
        if (carry) odd = buffer[bytes - 1];
        // The last sample of this piece was played no later than now.
        const int64_t start = now - int64_t(m_Samples.size()) * 1000000000 / kRate;
        m_llStartNs = std::min(m_llStartNs, start);
    }
}

void MonitorCapture::Stop() {
    if (m_nPid > 0) {
        kill(m_nPid, SIGTERM);
        waitpid(m_nPid, nullptr, 0);
        m_nPid = -1;
    }
    m_bStop = true;
    if (m_Thread.joinable()) m_Thread.join();
    if (m_nFd >= 0) close(m_nFd);
    m_nFd = -1;
}

std::vector<int64_t> MonitorCapture::ClickTimes() const {
    std::vector<int64_t> clicks;
    const size_t quiet = kRate * 3 / 10;
    size_t lastLoud = 0;
    bool any = false;
    for (size_t i = 0; i < m_Samples.size(); ++i) {
        if (std::abs(int(m_Samples[i])) < 2000) continue;
        if (!any || i - lastLoud > quiet)
            clicks.push_back(m_llStartNs + int64_t(i) * 1000000000 / kRate);
        any = true;
        lastLoud = i;
    }
    return clicks;
}

std::vector<double> PairOffsets(const std::vector<int64_t>& flashes,
                                const std::vector<int64_t>& clicks) {
    std::vector<double> offsets;
    for (const int64_t f : flashes) {
        int64_t best = INT64_MAX;
        for (const int64_t c : clicks)
            if (std::llabs(c - f) < std::llabs(best)) best = c - f;
        if (std::llabs(best) < 400000000) offsets.push_back(double(best) / 1e6);
    }
    return offsets;
}
