// The picture encoders by file extension, for the program's picture saving.
#include "system/Exports.h"

#include <cstring>

#include "picture/encoders.h"
#include "platform/wstr.h"

namespace reelpage {

const void* GetImageEncoder(const WCHAR* path, GUID* out) {
    if (!path || !out) return nullptr;
    picture::EncoderId id;
    if (!picture::FindEncoderByPath(platform::ToUtf8(path), id)) return nullptr;
    static_assert(sizeof(id.bytes) == sizeof(*out));
    std::memcpy(out, id.bytes, sizeof id.bytes);
    return out;
}

} // namespace reelpage
