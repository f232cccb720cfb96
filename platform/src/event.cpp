#include "platform/event.h"

#include "descriptor.h"
#include "platform/inherit.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

int CreateEvent(bool inheritable) {
    // Non-blocking because several processes may wait on one event: all of
    // them see it readable, and those that lose the race for the read must get
    // EAGAIN and wait again rather than block inside read().
    // Close-on-exec in any case: see inherit.h.
    const int fd = detail::AboveStdio(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (fd >= 0 && inheritable) RegisterInheritable(fd);
    return fd;
}

int SetEvent(int event) {
    uint64_t one = 1;
    if (write(event, &one, sizeof one) == sizeof one) return 0;
    // EAGAIN: the counter is at its ceiling, which still means "set".
    return errno == EAGAIN ? 0 : errno;
}

int ResetEvent(int event) {
    uint64_t value = 0;
    if (read(event, &value, sizeof value) == sizeof value) return 0;
    return errno == EAGAIN ? 0 : errno;
}

void CloseEvent(int event) {
    UnregisterInheritable(event);
    if (event >= 0) close(event);
}

} // namespace platform
