#pragma once
// Where the media records live in the registry store, and how one is written:
// the body of the record (from the file name on) as one binary value named by
// the record's id. The engine's history and the probe plug-in both write
// records, and must agree on both.
#include "platform/guid.h"
#include "platform/registry.h"
#include "reelpage/records.h"

namespace reelpage {

constexpr char16_t kMediaInfoKey[] = u"SOFTWARE\\Zelmorix\\MediaInfo";

// Returns 0, or the failing call's code with *failedCall naming that call
// for the caller's log.
inline int StoreMediaRecord(const MediaInfo& media, const char** failedCall) {
    platform::RegKey key;
    int rc = platform::RegCreateKey(platform::RegRoot::CurrentUser, kMediaInfoKey, &key);
    if (rc != 0) {
        *failedCall = "RegCreateKey";
        return rc;
    }
    rc = platform::RegSetValue(key, platform::GuidToU16String(media.m_id), platform::REG_BINARY,
                               reinterpret_cast<const char*>(&media) + kMediaInfoBodyOffset,
                               uint32_t(kMediaInfoBodySize));
    if (rc != 0) *failedCall = "RegSetValueEx";
    return rc;
}

} // namespace reelpage
