#include "platform/shm.h"

#include "descriptor.h"
#include "platform/inherit.h"

#include <cerrno>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int MapView(int handle, size_t size, SharedBlock* out) {
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle, 0);
    if (view == MAP_FAILED) return errno;
    out->handle = handle;
    out->view = view;
    out->size = size;
    return 0;
}

} // namespace

int CreateSharedBlock(size_t size, bool inheritable, SharedBlock* out) {
    *out = {};
    if (size == 0) return EINVAL;
    // Close-on-exec in any case: an inheritable block reaches only the
    // helpers a launch hands it to (inherit.h).
    int fd = detail::AboveStdio(memfd_create("reelpage-block", MFD_CLOEXEC));
    if (fd < 0) return errno;
    // ftruncate extends with zeros, so a new block reads as zeros everywhere.
    int rc = ftruncate(fd, static_cast<off_t>(size)) == 0 ? MapView(fd, size, out) : errno;
    if (rc != 0) close(fd);
    else if (inheritable)
        RegisterInheritable(fd);
    return rc;
}

int MapSharedBlock(int handle, size_t size, SharedBlock* out) {
    *out = {};
    struct stat st {};
    if (fstat(handle, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode) || st.st_size <= 0) return EINVAL;
    size_t whole = static_cast<size_t>(st.st_size);
    if (size == 0) size = whole;
    if (size > whole) return EINVAL;
    return MapView(handle, size, out);
}

void UnmapSharedBlock(SharedBlock* block) {
    if (block->view) munmap(block->view, block->size);
    block->view = nullptr;
    block->size = 0;
}

void CloseSharedBlock(SharedBlock* block) {
    UnmapSharedBlock(block);
    UnregisterInheritable(block->handle);
    if (block->handle >= 0) close(block->handle);
    block->handle = -1;
}

} // namespace platform
