#pragma once
// The helper host: one process per engine process that has every library the
// helpers link already loaded and starts each helper by forking itself. A
// forked helper shares the pages those libraries wrote while loading (their
// relocated data) with the host and its siblings, where an exec'd one would
// hold a private copy of each.
//
// The engine names the host's program (UseHelperHost); the launcher thread
// starts it with the first launch of a program it serves, and from then on a
// LaunchHelper of a served program is a request to the host. What the helper
// sees is what an exec'd one sees (process.h): the handed-over descriptors
// under their numbers and no other, the requested current directory, the
// engine's environment as it is at that launch, default signals, and death
// with its parent. A host that cannot be started, or has died, makes
// LaunchHelper fork and exec the program itself; the host is tried again at
// the next launch once it has run and died, never after it failed to start.
#include <cstddef>
#include <string>

namespace platform {

// A program a host contains: its file name in the program folder and its main.
struct HostedProgram {
    const char* name;
    int (*main)(int argc, char** argv);
};

// Serves programs from the host at hostPath: those its first message names,
// as files in hostPath's folder. The path is read when a host is started, so
// a change applies to the next host; an empty path stops using a host for new
// launches. onFallback, when given, hears once about each host that could not
// be started or died (the errno value, or 0 for a death), from the launcher
// thread.
void UseHelperHost(const std::string& hostPath, void (*onFallback)(int error) = nullptr);

// Ends the running host, if any, and reaps it: helpers it still runs are
// killed, and its and its helpers' time counts in this process's children's,
// as an exec'd helper's does. Waits for that (a host that does not go within
// two seconds is killed). A later launch starts another host.
void EndHelperHost();

// The host's main: argv[1] is the descriptor of its end of the socket the
// launcher thread gave it. Serves requests until the engine closes the socket,
// then returns 0; returns 1 when started otherwise. Must be called with no
// other thread running and never returns in a started helper, which leaves
// through exit() with its main's result.
int RunHelperHost(int argc, char** argv, const HostedProgram* programs, size_t count);

} // namespace platform
