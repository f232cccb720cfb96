#pragma once
// Where the media records live in the registry store, and how one is written:
// the body of the record (from the file name on) as one binary value named by
// the record's id. The engine's history and the probe plug-in both write
// records, and must agree on both.
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "platform/folders.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/wstr.h"
#include "reelpage/records.h"

namespace reelpage {

constexpr char16_t kMediaInfoKey[] = u"SOFTWARE\\Zelmorix\\MediaInfo";

// Writes the record under a file lock that every writer of records takes,
// so that runs importing one file at once leave one record for it: when
// another run already stored a record of the same file as it is now, that
// record stands and this one is not stored (*stored false; its side files
// go at exit as those of any record that could not be stored). Records of
// the same path made from an older version of the file are replaced.
// Returns 0, or the failing call's code with *failedCall naming that call
// for the caller's log.
inline int StoreMediaRecord(const MediaInfo& media, const char** failedCall,
                            bool* stored = nullptr) {
    if (stored) *stored = false;
    int lock = -1;
    std::string appData;
    if (platform::GetKnownFolder(platform::KnownFolder::AppData, false, &appData) == 0) {
        const std::string path = appData + "/Zelmorix/MediaInfo/records.lock";
        lock = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lock >= 0) flock(lock, LOCK_EX);
    }
    struct Unlock {
        int fd;
        ~Unlock() {
            if (fd >= 0) close(fd);
        }
    } unlock{lock};

    platform::RegKey key;
    int rc = platform::RegCreateKey(platform::RegRoot::CurrentUser, kMediaInfoKey, &key);
    if (rc != 0) {
        *failedCall = "RegCreateKey";
        return rc;
    }
    const std::u16string own = platform::GuidToU16String(media.m_id);
    const std::u16string_view path(media.m_szFileName,
                                   platform::WStrNLen(media.m_szFileName, std::size(media.m_szFileName)));
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    std::vector<std::u16string> older;
    for (uint32_t i = 0; platform::RegEnumValue(key, i, &name, &type, &data) == 0; ++i) {
        if (name == own || type != platform::REG_BINARY || data.size() != kMediaInfoBodySize)
            continue;
        MediaInfo other{};
        std::memcpy(reinterpret_cast<char*>(&other) + kMediaInfoBodyOffset, data.data(),
                    kMediaInfoBodySize);
        const std::u16string_view otherPath(
            other.m_szFileName, platform::WStrNLen(other.m_szFileName, std::size(other.m_szFileName)));
        if (otherPath != path) continue;
        if (other.m_FileSize == media.m_FileSize && other.m_CreationTime == media.m_CreationTime)
            return 0;
        older.push_back(name);
    }
    for (const std::u16string& value : older)
        platform::RegDeleteValue(key, value);
    rc = platform::RegSetValue(key, own, platform::REG_BINARY,
                               reinterpret_cast<const char*>(&media) + kMediaInfoBodyOffset,
                               uint32_t(kMediaInfoBodySize));
    if (rc != 0) *failedCall = "RegSetValueEx";
    if (rc == 0 && stored) *stored = true;
    return rc;
}

} // namespace reelpage
