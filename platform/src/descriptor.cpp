#include "descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform::detail {

int AboveStdio(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int flags = fcntl(fd, F_GETFD);
    int moved = fcntl(fd, (flags & FD_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 3);
    int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

} // namespace platform::detail
