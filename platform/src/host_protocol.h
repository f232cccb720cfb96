#pragma once
// The messages between the launcher thread and the helper host, one per
// SOCK_SEQPACKET packet, descriptors as SCM_RIGHTS.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::detail {

enum class HostMessage : uint32_t {
    Hello = 1,    // host -> engine: the names it serves, each ending in NUL
    Launch = 2,   // engine -> host: LaunchHeader, targets, strings; descriptors
    Launched = 3, // host -> engine: LaunchResult; the pidfd when error is 0
    Ended = 4,    // host -> engine: EndReport, after the host has reaped it
};

// Followed by fdCount int32 target numbers, then NUL-terminated strings: the
// program name, argCount arguments, envCount environment entries, and the
// current directory (empty = the engine's). The descriptors come in the same
// order as the targets, then one more: the engine's current directory.
struct LaunchHeader {
    HostMessage kind;
    uint32_t fdCount;
    uint32_t argCount;
    uint32_t envCount;
};

struct LaunchResult {
    HostMessage kind;
    int32_t error;
    int32_t pid;
};

struct EndReport {
    HostMessage kind;
    int32_t pid;
    int32_t code;   // siginfo si_code
    int32_t status; // siginfo si_status
};

// Sends one packet with the descriptors; returns 0 or errno.
int SendPacket(int sock, const void* data, size_t size, const int* fds, size_t fdCount);

// Receives one packet whole, its descriptors close-on-exec. Returns the byte
// count (0 = the other end has gone), or -1 with errno set. Descriptors beyond
// maxFds, or of a truncated packet, are closed and count as an error (EMSGSIZE).
ssize_t ReceivePacket(int sock, std::vector<char>* data, std::vector<int>* fds, size_t maxFds,
                      int flags);

// The NUL-terminated strings from data[offset] on; false when the last one is
// not terminated.
bool SplitStrings(const std::vector<char>& data, size_t offset, std::vector<std::string>* out);

} // namespace platform::detail
