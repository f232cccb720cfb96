#pragma once
// Anonymous shared blocks: the memory records and rings shared with helper
// processes live in. A block is a memfd; its number is the handle written into
// other blocks or onto a helper's command line, and an inheritable block keeps
// that number unchanged in every helper started afterwards.
#include <cstddef>

namespace platform {

struct SharedBlock {
    int handle = -1;      // the memfd
    void* view = nullptr; // read/write mapping, shared with every other view
    size_t size = 0;      // bytes mapped
};

// Creates a zero-filled block of size bytes (size > 0) and maps all of it.
// inheritable = the handle survives exec into helpers; otherwise close-on-exec.
// Returns 0 or an errno value; *out is left empty on failure.
int CreateSharedBlock(size_t size, bool inheritable, SharedBlock* out);

// Maps the block behind an existing handle (typically one read from another
// block or a command line). size 0 maps the whole block; a size larger than
// the block is refused with EINVAL, since touching the missing part would
// fault. The handle is not duplicated: *out owns it from now on.
int MapSharedBlock(int handle, size_t size, SharedBlock* out);

// Drops the view only; the handle stays open (as when the handle still has to
// travel to a helper).
void UnmapSharedBlock(SharedBlock* block);

// Drops the view and closes the handle. The memory lives on while any other
// process still has a view or a handle.
void CloseSharedBlock(SharedBlock* block);

} // namespace platform
