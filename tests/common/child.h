#pragma once
// Tests that cross a process boundary re-run their own test program as the
// child: `test_x --child NAME ARGS...` calls the function registered as NAME.
#include <string>
#include <vector>

namespace testing_child {

using ChildMain = int (*)(const std::vector<std::string>& args);

struct Registrar {
    Registrar(const char* name, ChildMain fn);
};

// Path of the running test program, for building a child's command line.
std::string SelfPath();

// Runs a registered child if argv asks for one; returns true and sets *rc then.
bool Dispatch(int argc, char** argv, int* rc);

// Starts SelfPath() --child name args... with fork+exec (no handle magic: the
// caller decides which descriptors are inheritable). Returns the pid.
int Spawn(const std::string& name, const std::vector<std::string>& args);

// Waits for pid and returns its exit status (or 128+signal).
int WaitExit(int pid);

// As WaitExit, for at most ms milliseconds: a child still running then is
// killed and -2 returned, so that a child stuck in a wait fails its test
// instead of holding it until the test runner's own time-out.
int WaitExitWithin(int pid, int ms);

} // namespace testing_child

#define REELPAGE_CHILD(name)                                                                       \
    static int child_##name(const std::vector<std::string>& args);                                 \
    static ::testing_child::Registrar child_reg_##name(#name, child_##name);                       \
    static int child_##name([[maybe_unused]] const std::vector<std::string>& args)
