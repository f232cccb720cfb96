#include "Batch.h"

#include "CliOptions.h"
#include "MediaInfoText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {
#include <sys/pidfd.h>
}

#include "reelpage/exports.h"

extern char** environ;

namespace reelpage::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSayPrefix = "reelpage-cli: ";

enum class Outcome { Waiting, Running, Published, Failed, Cancelled };

struct Job {
    BatchInput input;
    std::string name;  // the file's name, for the progress line
    std::string label; // "[3/8 clip.mp4]", in front of each of its lines
    Outcome outcome = Outcome::Waiting;
    std::string page, why, lastMessage;
    int process = -1;             // pidfd
    int out = -1, err = -1;       // the read ends of its standard output and error
    std::string outPart, errPart; // a line not ended yet
    int percent = -1;
    int tenthShown = -1;
};

// In the forked child: fd becomes target and stays open across exec.
void Onto(int fd, int target) {
    if (fd == target)
        fcntl(fd, F_SETFD, 0);
    else
        dup2(fd, target);
}

class Batch {
public:
    Batch(const std::vector<BatchInput>& inputs, const BatchSettings& settings)
        : m_settings(settings), m_tty(isatty(2) && !settings.quiet) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            Job j;
            j.input = inputs[i];
            j.name = fs::path(inputs[i].path).filename().string();
            if (j.name.empty()) j.name = inputs[i].path;
            j.label = "[" + std::to_string(i + 1) + "/" + std::to_string(inputs.size()) + " " +
                      j.name + "]";
            m_list.push_back(std::move(j));
        }
        // By its own path, so that the jobs are named as this program is.
        std::error_code ec;
        m_program = fs::read_symlink("/proc/self/exe", ec).string();
        if (ec) m_program = "/proc/self/exe";
        for (char** e = environ; *e; ++e) {
            const std::string_view entry(*e);
            const std::string_view name = entry.substr(0, entry.find('='));
            if (name != kBatchJobVariable && name != kLogAppendVariable)
                m_environment.emplace_back(entry);
        }
        // Each job tells every percent, and adds to the log this process began.
        m_environment.push_back(std::string(kBatchJobVariable) + "=1");
        m_environment.push_back(std::string(kLogAppendVariable) + "=1");
        sigset_t stops;
        sigemptyset(&stops);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&stops, s);
        m_signals = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~Batch() {
        if (m_signals >= 0) close(m_signals);
    }

    int Run() {
        m_begun = std::chrono::steady_clock::now();
        size_t next = 0;
        for (;;) {
            while (!m_stopping && m_running < m_settings.jobs && next < m_list.size()) {
                Job& j = m_list[next++];
                if (j.input.error.empty())
                    Start(j);
                else
                    Fail(j, j.input.error);
            }
            if (m_running == 0) break;
            Wait();
            DrawStatus();
        }
        ClearStatus();
        return Summary();
    }

private:
    void Start(Job& j) {
        int out[2] = {-1, -1}, err[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            Fail(j, std::string("no job could be started: ") + std::strerror(errno));
            for (int fd : {out[0], out[1], err[0], err[1]})
                if (fd >= 0) close(fd);
            return;
        }
        // Everything the child needs is made before the fork: after it, only
        // async-signal-safe calls.
        std::vector<std::string> args = {"reelpage-cli"};
        args.insert(args.end(), m_settings.options.begin(), m_settings.options.end());
        args.push_back("--");
        args.push_back(j.input.path);
        std::vector<char*> argv, envp;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : m_environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            Onto(out[1], 1);
            Onto(err[1], 2);
            // Should this process be killed, the job cancels as on Ctrl-C:
            // its package removed, its helpers ended. The stop signals stay
            // blocked (inherited), so they reach its wait loop and nothing else.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(kExitCancelled);
            execve(m_program.c_str(), argv.data(), envp.data());
            const char text[] = "reelpage-cli: the job's program could not be started\n";
            ssize_t ignored = write(2, text, sizeof text - 1);
            (void)ignored;
            _exit(127);
        }
        const int forkError = errno;
        close(out[1]);
        close(err[1]);
        if (pid < 0) {
            close(out[0]);
            close(err[0]);
            Fail(j, std::string("no job could be started: ") + std::strerror(forkError));
            return;
        }
        // Still our unreaped child, so the pid cannot name another process yet.
        j.process = pidfd_open(pid, 0);
        if (j.process < 0) {
            const int error = errno;
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            close(out[0]);
            close(err[0]);
            Fail(j, std::string("the job could not be watched: ") + std::strerror(error));
            return;
        }
        j.out = out[0];
        j.err = err[0];
        fcntl(j.out, F_SETFL, O_NONBLOCK);
        fcntl(j.err, F_SETFL, O_NONBLOCK);
        j.outcome = Outcome::Running;
        ++m_running;
    }

    void Fail(Job& j, const std::string& why) {
        j.outcome = Outcome::Failed;
        j.why = why;
        Show(j.label + " " + why);
    }

    // One round of waiting: signals, the jobs' lines and their ends.
    void Wait() {
        std::vector<pollfd> fds = {{m_signals, POLLIN, 0}};
        std::vector<std::pair<Job*, int*>> sources; // the job and which of its descriptors
        for (Job& j : m_list) {
            if (j.outcome != Outcome::Running) continue;
            for (int* fd : {&j.out, &j.err, &j.process}) {
                if (*fd < 0) continue;
                fds.push_back({*fd, POLLIN, 0});
                sources.emplace_back(&j, fd);
            }
        }
        // A terminal's progress line shows the time going by.
        if (poll(fds.data(), fds.size(), m_tty ? 1000 : -1) < 0) return;
        signalfd_siginfo info;
        bool signalled = false;
        while (read(m_signals, &info, sizeof info) == sizeof info)
            signalled = true;
        if (signalled) Stop();
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            auto [job, fd] = sources[i - 1];
            if (fd == &job->process)
                Finish(*job);
            else if (*fd >= 0)
                Drain(*job, fd);
        }
    }

    // A terminal's Ctrl-C reaches every job by itself; a stop signal sent to
    // this process alone must reach them too.
    void Stop() {
        if (m_stopping) return;
        m_stopping = true;
        for (const Job& j : m_list)
            if (j.outcome == Outcome::Running) pidfd_send_signal(j.process, SIGINT, nullptr, 0);
    }

    // Reads what is there, line by line; closes at the end.
    void Drain(Job& j, int* fd) {
        std::string& part = fd == &j.out ? j.outPart : j.errPart;
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(*fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got > 0) {
                part.append(buffer, size_t(got));
                for (size_t nl; (nl = part.find('\n')) != std::string::npos;) {
                    Line(j, part.substr(0, nl), fd == &j.err);
                    part.erase(0, nl + 1);
                }
                continue;
            }
            if (got < 0 && errno == EAGAIN) return;
            // The end, or a pipe that cannot be read any more.
            if (!part.empty()) Line(j, part, fd == &j.err);
            part.clear();
            close(*fd);
            *fd = -1;
            return;
        }
    }

    void Line(Job& j, const std::string& line, bool fromError) {
        if (!fromError) {
            if (!line.empty()) j.page = line; // the page's path, the one line it prints
            return;
        }
        int percent = 0;
        if (ParseProgressLine(line, &percent)) {
            j.percent = percent;
            // A log gets a line every tenth from each job, as from one.
            if (!m_tty && !m_settings.quiet && percent / 10 > j.tenthShown) {
                j.tenthShown = percent / 10;
                Show(j.label + " " + line);
            }
            return;
        }
        if (line.starts_with(kSayPrefix)) {
            j.lastMessage = line.substr(kSayPrefix.size());
            Show(j.label + " " + j.lastMessage);
            return;
        }
        Show(j.label + " " + line);
    }

    void Finish(Job& j) {
        for (int* fd : {&j.out, &j.err})
            if (*fd >= 0) Drain(j, fd);
        // Whatever still holds the pipes (nothing should) is not waited for.
        for (int* fd : {&j.out, &j.err}) {
            if (*fd < 0) continue;
            close(*fd);
            *fd = -1;
        }
        siginfo_t info{};
        int rc;
        do {
            rc = waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(j.process), &info,
                        WEXITED);
        } while (rc < 0 && errno == EINTR);
        close(j.process);
        j.process = -1;
        --m_running;
        const bool exited = rc == 0 && info.si_code == CLD_EXITED;
        const int status = rc != 0  ? W_EXITCODE(127, 0)
                           : exited ? W_EXITCODE(info.si_status, 0)
                                    : info.si_status;
        if (exited && info.si_status == kExitOk) {
            j.outcome = Outcome::Published;
            ClearStatus(); // standard output may be the same terminal
            std::printf("%s\n", j.page.c_str());
            std::fflush(stdout);
            return;
        }
        const bool stopSignal =
            !exited && rc == 0 && (info.si_status == SIGINT || info.si_status == SIGTERM);
        if ((exited && info.si_status == kExitCancelled) || stopSignal) {
            j.outcome = Outcome::Cancelled;
            return;
        }
        std::error_code ec;
        const std::string real = fs::canonical(j.input.path, ec).string();
        j.outcome = Outcome::Failed;
        j.why = FailureReason(j.lastMessage, {j.input.path, real}, status);
    }

    // A whole line, above the progress line on a terminal.
    void Show(const std::string& line) {
        ClearStatus();
        std::fprintf(stderr, "%s\n", line.c_str());
    }

    void ClearStatus() {
        if (!m_statusShown) return;
        std::fputs("\r\033[K", stderr);
        m_statusShown = false;
    }

    // "[2/8 done 0:42] clip3.mp4 45%  clip4.mp4 starting", cut to the
    // terminal's width: a line that wraps cannot be drawn over.
    void DrawStatus() {
        if (!m_tty || m_running == 0) return;
        size_t done = 0;
        for (const Job& j : m_list)
            if (j.outcome != Outcome::Waiting && j.outcome != Outcome::Running) ++done;
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - m_begun);
        std::string line = "[" + std::to_string(done) + "/" + std::to_string(m_list.size()) +
                           " done " + SecondsToText(elapsed.count()) + "]";
        for (const Job& j : m_list) {
            if (j.outcome != Outcome::Running) continue;
            line += " " + j.name + " " +
                    (j.percent >= 0 ? std::to_string(j.percent) + "%" : std::string("starting"));
        }
        winsize size{};
        const size_t width = ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
        if (line.size() >= width) line.resize(width - 1);
        if (m_statusShown && line == m_statusLine) return;
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        m_statusShown = true;
        m_statusLine = line;
    }

    int Summary() const {
        static constexpr const char* kWords[] = {"not started", "", "published", "failed",
                                                 "cancelled"};
        size_t counts[5] = {};
        size_t column = 0;
        for (const Job& j : m_list) {
            ++counts[size_t(j.outcome)];
            column = std::max(column, std::strlen(kWords[size_t(j.outcome)]));
        }
        for (const Job& j : m_list) {
            const char* word = kWords[size_t(j.outcome)];
            std::string line = "  " + std::string(word) +
                               std::string(column + 2 - std::strlen(word), ' ') + j.input.path;
            if (j.outcome == Outcome::Published) line += ": " + j.page;
            if (j.outcome == Outcome::Failed) line += ": " + j.why;
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        std::string totals = std::to_string(counts[size_t(Outcome::Published)]) + " of " +
                             std::to_string(m_list.size()) + " published";
        for (Outcome o : {Outcome::Failed, Outcome::Cancelled, Outcome::Waiting})
            if (counts[size_t(o)])
                totals += ", " + std::to_string(counts[size_t(o)]) + " " + kWords[size_t(o)];
        std::fprintf(stderr, "%.*s%s\n", int(kSayPrefix.size()), kSayPrefix.data(), totals.c_str());
        if (m_stopping) return kExitCancelled;
        return counts[size_t(Outcome::Published)] == m_list.size() ? kExitOk : kExitBatchFailed;
    }

    const BatchSettings m_settings;
    const bool m_tty; // a progress line drawn over
    std::vector<Job> m_list;
    std::string m_program;                  // this program's file
    std::vector<std::string> m_environment; // the jobs'
    int m_signals = -1;
    int m_running = 0;
    bool m_stopping = false;
    bool m_statusShown = false;
    std::string m_statusLine; // as last drawn
    std::chrono::steady_clock::time_point m_begun;
};

} // namespace

bool ParseProgressLine(const std::string& line, int* percent) {
    size_t digits = 0;
    while (digits < line.size() && digits < 3 &&
           std::isdigit(static_cast<unsigned char>(line[digits])))
        ++digits;
    if (digits == 0 || line.compare(digits, 10, "%  elapsed") != 0) return false;
    *percent = std::stoi(line.substr(0, digits));
    return true;
}

std::string FailureReason(const std::string& lastMessage, const std::vector<std::string>& paths,
                          int waitStatus) {
    if (!lastMessage.empty()) {
        for (const std::string& path : paths)
            if (!path.empty() && lastMessage.starts_with(path + ": "))
                return lastMessage.substr(path.size() + 2);
        return lastMessage;
    }
    if (WIFSIGNALED(waitStatus)) {
        const int sig = WTERMSIG(waitStatus);
        return "ended by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")";
    }
    return "ended with exit status " + std::to_string(WEXITSTATUS(waitStatus));
}

int RunBatch(const std::vector<BatchInput>& inputs, const BatchSettings& settings) {
    return Batch(inputs, settings).Run();
}

} // namespace reelpage::cli
