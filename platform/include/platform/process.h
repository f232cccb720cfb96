#pragma once
// Helper processes: the one way the engine starts dec and enc, and the
// process handles it waits on (wait.h), terminates and closes.
//
// A helper inherits the descriptors its launch hands over (inherit.h), under
// the same number, so handle values written into shared blocks or onto its
// command line are valid inside it; everything else is close-on-exec. It cannot outlive the engine:
// it is started with a parent-death signal (SIGKILL), so it dies with the engine however the engine
// ends, even when killed.
//
// The kernel sends that signal when the *thread* that forked the helper ends,
// not the process. So no caller's thread forks: every helper is forked by one
// internal thread that lives as long as the process. LaunchHelper is therefore
// safe from any thread, also from one that ends right after the call.
//
// Every helper is reaped as soon as it ends, also after its handle has been
// closed, so none is left behind as a zombie. Process handles are close-on-exec
// (helpers do not inherit each other's handles) and must be closed with
// CloseHelperHandle, never with close(). A process forked without exec (which
// has no launcher thread) must not call these functions.
//
// The programs a helper host serves (helper_host.h) are forked by the host
// instead of exec'd; all of the above holds for them as well.
#include <string>
#include <vector>

namespace platform {

// What GetHelperExitCode reports while the helper still runs.
constexpr int kStillActive = 259;

// Splits a command line the Windows way: the first token is the program, up
// to the next blank or, when it starts with a double quote, up to the next
// double quote (so "\"/opt/my folder/dec\" 420" names a path with spaces).
// The other arguments follow the usual quoting rules: blanks inside double
// quotes are kept, 2n backslashes before a quote give n backslashes and the
// quote toggles quoting, 2n+1 give n backslashes and a literal quote, "" inside
// quotes is a literal quote, and other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the program the command line names with the rest as its arguments
// and the current directory currentDir (empty = the caller's). A relative
// program path is taken from the caller's current directory, a bare name is
// looked up in PATH. Returns 0 and the process handle, or an errno value when
// the program could not be started (not found, not executable, currentDir
// missing...), in which case no process is left running.
// Hands over every registered inheritable descriptor.
int LaunchHelper(const std::string& commandLine, const std::string& currentDir, int* processHandle);
// Hands over exactly handOver (and the router's helper end).
int LaunchHelper(const std::string& commandLine, const std::string& currentDir, int* processHandle,
                 const std::vector<int>& handOver);

// Kills the helper (SIGKILL) and makes exitCode its reported exit code, as
// TerminateProcess does. Asynchronous: wait on the handle to know it has
// ended. Returns 0, ESRCH when it had already ended (its own exit code is
// kept), or EBADF for an unknown handle.
int TerminateHelper(int processHandle, int exitCode);

// kStillActive while the helper runs; afterwards its exit status (0..255),
// the code given to TerminateHelper, or 128 + the signal number when a
// signal killed it otherwise. Returns 0, or EBADF for an unknown handle.
int GetHelperExitCode(int processHandle, int* code);

// The helper's process id (for logs), or -1 for an unknown handle.
int GetHelperProcessId(int processHandle);

// Closes the handle; a helper still running goes on and is reaped when it ends.
void CloseHelperHandle(int processHandle);

} // namespace platform
