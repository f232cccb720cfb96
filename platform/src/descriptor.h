#pragma once
// Descriptor chores shared by the shared-memory, event, mutex and process code.

namespace platform::detail {

// Handle fields use 0 for "none" and helpers may treat 0..2 as their standard
// streams, so a new object never keeps a number below 3: when the system hands
// one out (a process started with its standard streams closed) it is moved up,
// keeping its close-on-exec setting. Returns the descriptor to use, or -1 with
// errno set (the original is closed then).
int AboveStdio(int fd);

} // namespace platform::detail
