#pragma once
// Small helpers for tests that start helper processes with LaunchHelper: the
// test program itself is the helper, run as one of its registered children.
#include "child.h"

#include <string>
#include <vector>

namespace helper_test {

// "SELF" --child name args..., the self path quoted when asked.
std::string CommandLine(const std::string& program, const std::string& child,
                        const std::vector<std::string>& args = {});

// Pids of the live or zombie children of this process.
std::vector<int> ChildPids();

// A fresh folder under the test's temporary home.
std::string TempFolder(const std::string& name);

} // namespace helper_test
