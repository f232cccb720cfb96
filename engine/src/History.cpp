#include "History.h"

#include "Folders.h"
#include "Log.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/filetime.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/shm.h"
#include "platform/wstr.h"
#include "reelpage/media_store.h"

namespace reelpage {

namespace {


struct Entry {
    platform::SharedBlock block;
    MediaInfo* Media() const { return static_cast<MediaInfo*>(block.view); }
};

std::vector<Entry> g_History;
bool g_bLoaded = false;

bool NewBlock(Entry* e) {
    int rc = platform::CreateSharedBlock(sizeof(MediaInfo), true, &e->block);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "sizeof(MediaInfo), NULL)");
        return false;
    }
    std::memset(e->block.view, 0, sizeof(MediaInfo));
    e->Media()->m_hSelf = e->block.handle;
    return true;
}

bool FileExists(const std::u16string& path) {
    return access(platform::ToUtf8(path).c_str(), F_OK) == 0;
}

bool IsValid(const MediaInfo& m) {
    int64_t size = 0;
    uint64_t created = 0;
    if (!QueryFileIdentity(platform::ToUtf8(m.m_szFileName), &size, &created)) return false;
    if (size != m.m_FileSize || created != m.m_CreationTime) return false;
    if (m.m_bVideoStream && !FileExists(MediaSideFile(m, u"bmp"))) return false;
    if (m.m_bAudioStream && !FileExists(MediaSideFile(m, u"wav"))) return false;
    return true;
}

void RemoveStale(size_t index, platform::RegKey* key) {
    Entry e = g_History[index];
    g_History.erase(g_History.begin() + index);
    const MediaInfo& m = *e.Media();
    unlink(platform::ToUtf8(MediaSideFile(m, u"bmp")).c_str());
    unlink(platform::ToUtf8(MediaSideFile(m, u"wav")).c_str());
    if (key->IsOpen()) platform::RegDeleteValue(*key, platform::GuidToU16String(m.m_id));
    platform::CloseSharedBlock(&e.block);
}

void Load() {
    CreateMediaInfoFolder();
    platform::RegKey key;
    int rc = platform::RegOpenKey(platform::RegRoot::CurrentUser, kMediaInfoKey, &key,
                                  platform::RegAccess::ReadWrite);
    if (rc != 0) {
        if (rc != platform::ERROR_FILE_NOT_FOUND) LogWrite(2, "Faild(%d) to RegOpenKeyEx\n", rc);
        return;
    }
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    for (uint32_t i = 0; platform::RegEnumValue(key, i, &name, &type, &data) == 0; ++i) {
        Entry e;
        if (!NewBlock(&e)) continue;
        GUID id;
        if (!platform::ParseGuid(name, &id)) {
            LogWrite(kLogError, "Faild(0x%x) to CLSIDFromString:%ls\n",
                     unsigned(platform::CO_E_CLASSSTRING), name.c_str());
            platform::CloseSharedBlock(&e.block);
            continue;
        }
        if (type != platform::REG_BINARY || data.size() != kMediaInfoBodySize) {
            LogWrite(kLogError, "Faild(%d) to RegQueryValueEx\n",
                     data.size() > kMediaInfoBodySize ? platform::ERROR_MORE_DATA : 0);
            platform::CloseSharedBlock(&e.block);
            continue;
        }
        MediaInfo* m = e.Media();
        m->m_id = id;
        std::memcpy(reinterpret_cast<char*>(m) + kMediaInfoBodyOffset, data.data(),
                    kMediaInfoBodySize);
        // A damaged or hand-edited value must not make anyone read past a field.
        platform::WStrTerminate(m->m_szFileName, std::size(m->m_szFileName));
        platform::WStrTerminate(m->m_szName, std::size(m->m_szName));
        g_History.push_back(e);
    }
    for (size_t i = g_History.size(); i-- > 0;)
        if (!IsValid(*g_History[i].Media())) RemoveStale(i, &key);
    std::stable_sort(g_History.begin(), g_History.end(), [](const Entry& a, const Entry& b) {
        return a.Media()->m_History > b.Media()->m_History;
    });
}

} // namespace

bool QueryFileIdentity(const std::string& path, int64_t* size, uint64_t* creationTime) {
    struct statx st {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_SIZE | STATX_BTIME | STATX_MTIME, &st) != 0)
        return false;
    if (!S_ISREG(st.stx_mode)) return false;
    // The birth time where the file system keeps one; otherwise the last
    // change of the content, which also tells a replaced file apart.
    const statx_timestamp& t = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    *size = int64_t(st.stx_size);
    *creationTime = platform::FileTimeFromTimespec(timespec{time_t(t.tv_sec), long(t.tv_nsec)});
    return true;
}

std::u16string MediaSideFile(const MediaInfo& media, const char16_t* ext) {
    char16_t path[kMaxPath];
    platform::WFormat(path, kMaxPath, "%ls/%ls.%ls", MediaInfoFolder(), platform::GuidToU16String(media.m_id).c_str(),
                      ext);
    return path;
}

void EnsureHistoryLoaded() {
    if (g_bLoaded) return;
    g_bLoaded = true;
    Load();
}

void ReloadHistoryForTesting() {
    for (auto& e : g_History) platform::CloseSharedBlock(&e.block);
    g_History.clear();
    g_bLoaded = false;
    EnsureHistoryLoaded();
}

int32_t GetHistoryCount() {
    EnsureHistoryLoaded();
    return int32_t(g_History.size());
}

MediaInfo* GetHistoryItem(int32_t index) {
    EnsureHistoryLoaded();
    if (index < 0 || size_t(index) >= g_History.size()) return nullptr;
    return g_History[index].Media();
}

MediaInfo* FindMediaByHandle(HANDLE32 handle) {
    EnsureHistoryLoaded();
    for (const auto& e : g_History)
        if (e.Media()->m_hSelf == handle) return e.Media();
    return nullptr;
}

MediaInfo* AddMediaRecord() {
    EnsureHistoryLoaded();
    Entry e;
    if (!NewBlock(&e)) return nullptr;
    e.Media()->m_id = platform::CreateGuid();
    g_History.insert(g_History.begin(), e);
    return e.Media();
}

void SaveMediaInfo(MediaInfo* media) {
    if (!media) return;
    const char* failed = "";
    if (int rc = StoreMediaRecord(*media, &failed); rc != 0)
        LogWritePlain("Faild(%d) to %s\n", rc, failed);
}

} // namespace reelpage
