#include "reelpage/map_block.h"

#include "reelpage/helper_log.h"

namespace reelpage {

bool MapBlock(HANDLE32 handle, size_t size, platform::SharedBlock* block, const char* what) {
    const int rc = platform::MapSharedBlock(handle, size, block);
    if (rc != 0) HelperLog(kHelperLogError, "Failed(%d) to map %s (%d)\n", rc, what, handle);
    return rc == 0;
}

bool MapWholeBlock(HANDLE32 handle, int64_t offset, size_t bytes, platform::SharedBlock* block,
                   const char* what) {
    if (!MapBlock(handle, 0, block, what)) return false;
    if (offset >= 0 && size_t(offset) <= block->size && block->size - size_t(offset) >= bytes)
        return true;
    HelperLog(kHelperLogError, "%s (%d) of %zu bytes holds no %zu bytes at %lld\n", what, handle,
              block->size, bytes, static_cast<long long>(offset));
    return false;
}

} // namespace reelpage
