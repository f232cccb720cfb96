#pragma once
// Mapping the shared blocks whose handles a helper process was given, with
// every failure written to the engine's log under the block's name.
#include <cstddef>
#include <cstdint>

#include "platform/shm.h"
#include "reelpage/types.h"

namespace reelpage {

// Maps size bytes of the block behind handle (0: all of it) into *block.
bool MapBlock(HANDLE32 handle, size_t size, platform::SharedBlock* block, const char* what);

// Maps all of the block behind handle and checks that it holds bytes bytes
// from offset on (a negative offset never does), for blocks whose size the
// sender chose.
bool MapWholeBlock(HANDLE32 handle, int64_t offset, size_t bytes, platform::SharedBlock* block,
                   const char* what);

} // namespace reelpage
