#include "media/History.h"

#include "system/Folders.h"
#include "system/Log.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
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
// Records taken out of the list during the run: the program may still hold
// them (a project made from one), so their blocks stay mapped until the end.
std::vector<Entry> g_Retired;
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
    if (!IsPlausible(m)) return false;
    int64_t size = 0;
    uint64_t created = 0;
    if (!QueryFileIdentity(platform::ToUtf8(m.m_szFileName), &size, &created)) return false;
    if (size != m.m_FileSize || created != m.m_CreationTime) return false;
    if (m.m_bVideoStream && !FileExists(MediaSideFile(m, u"bmp"))) return false;
    if (m.m_bAudioStream && !SampleFileMatches(m, nullptr)) return false;
    return true;
}

void RemoveSideFilesAndValue(const MediaInfo& m, platform::RegKey* key) {
    RemoveSideFiles(m);
    if (key->IsOpen()) platform::RegDeleteValue(*key, platform::GuidToU16String(m.m_id));
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.bmp" or ".wav": a file the
// history names; anything else in the folder is none of its business.
bool IsSideFileName(const std::string& name, std::string* id) {
    if (name.size() != 38 + 4) return false;
    const std::string ext = name.substr(38);
    if (ext != ".bmp" && ext != ".wav") return false;
    GUID g;
    if (!platform::ParseGuid(platform::FromUtf8(name.substr(0, 38)), &g)) return false;
    *id = name.substr(0, 38);
    return true;
}

// Side files whose record never made it into the store: what an import
// ended by a kill or Ctrl-C leaves behind. An import still running (here or
// in another process) holds a lock on its files and is left alone.
void SweepOrphans(const std::set<std::string>& known) {
    const std::string folder = platform::ToUtf8(MediaInfoFolder());
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> orphans;
    while (dirent* e = readdir(d)) {
        std::string id;
        if (IsSideFileName(e->d_name, &id) && !known.count(id)) orphans.push_back(e->d_name);
    }
    closedir(d);
    for (const std::string& name : orphans) {
        const std::string path = folder + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        const bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (!busy) {
            LogWrite(kLogInfo, "Removing %s: no media record names it\n", path.c_str());
            unlink(path.c_str());
        }
        close(fd);
    }
}

void RemoveStale(size_t index, platform::RegKey* key) {
    Entry e = g_History[index];
    g_History.erase(g_History.begin() + index);
    RemoveSideFilesAndValue(*e.Media(), key);
    platform::CloseSharedBlock(&e.block);
}

void Load() {
    CreateMediaInfoFolder();
    platform::RegKey key;
    int rc = platform::RegOpenKey(platform::RegRoot::CurrentUser, kMediaInfoKey, &key,
                                  platform::RegAccess::ReadWrite);
    if (rc != 0) {
        if (rc != platform::ERROR_FILE_NOT_FOUND) LogWrite(2, "Faild(%d) to RegOpenKeyEx\n", rc);
        // Without a store no side file has a record; with an unreadable one
        // nothing can be told apart, so nothing is removed.
        if (rc == platform::ERROR_FILE_NOT_FOUND) SweepOrphans({});
        return;
    }
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    std::set<std::string> known; // every value that names a record, kept or not
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
        known.insert(platform::GuidToU8String(id));
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
    SweepOrphans(known);
    std::stable_sort(g_History.begin(), g_History.end(), [](const Entry& a, const Entry& b) {
        return a.Media()->m_History > b.Media()->m_History;
    });
}

} // namespace

bool QueryFileIdentity(const std::string& path, int64_t* size, uint64_t* creationTime) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // The last change of the content: a file rewritten in place keeps its
    // birth time, and its record must not answer for the new content.
    *size = int64_t(st.st_size);
    *creationTime = platform::FileTimeFromTimespec(st.st_mtim);
    return true;
}

bool IsPlausible(const MediaInfo& m) {
    // Far beyond any real source; a value past it is damage, and sizes from
    // here are rounded and multiplied in 32 bits further on.
    constexpr int32_t kMaxSide = 32768;
    if (m.m_FileSize < 0 || m.m_Duration < 0) return false;
    if (!m.m_bVideoStream && !m.m_bAudioStream) return false;
    if (m.m_bVideoStream) {
        if (m.m_Width <= 0 || m.m_Height <= 0 || m.m_Width > kMaxSide || m.m_Height > kMaxSide)
            return false;
        if (m.m_CodecWidth < 0 || m.m_CodecHeight < 0 || m.m_CodecWidth > kMaxSide ||
            m.m_CodecHeight > kMaxSide)
            return false;
        if (m.m_FrameRateNum <= 0 || m.m_FrameRateDen <= 0) return false;
        // What a real video has; a rate outside it makes every encoder
        // refuse its settings on every later run.
        constexpr int64_t kMinFps = 1, kMaxFps = 1000;
        const int64_t num = m.m_FrameRateNum, den = m.m_FrameRateDen;
        if (num < kMinFps * den || num > kMaxFps * den) return false;
        if (m.m_VideoBitRate < 0) return false;
    }
    if (m.m_bAudioStream) {
        if (m.m_SampleRate <= 0 || m.m_SampleRate > 768000) return false;
        if (m.m_nChannel <= 0 || m.m_nChannel > 64) return false;
        if (m.m_AudioBitRate < 0) return false;
    }
    return true;
}

bool SampleFileMatches(const MediaInfo& m, std::string* why) {
    const std::string path = platform::ToUtf8(MediaSideFile(m, u"wav"));
    auto fail = [&](const std::string& text) {
        if (why) *why = path + ": " + text;
        return false;
    };
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("cannot be opened (error " + std::to_string(errno) + ")");
    uint8_t h[46];
    struct stat st {};
    const bool read = pread(fd, h, sizeof h, 0) == ssize_t(sizeof h) && fstat(fd, &st) == 0;
    close(fd);
    if (!read) return fail("shorter than its header");
    auto u16 = [&](int at) { return uint32_t(h[at] | h[at + 1] << 8); };
    auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(h + 38, "data", 4) != 0 || u16(20) != 1 || u16(34) != 16)
        return fail("not the sample file of an import");
    if (u16(22) != uint32_t(m.m_nChannel) || u32(24) != uint32_t(m.m_SampleRate))
        return fail("its format differs from the media record");
    // The header is written last and counts what the import wrote; the file
    // holds exactly that (a RIFF header cannot count past 4 GiB).
    const int64_t data = int64_t(st.st_size) - 46;
    const uint32_t said = u32(42);
    const bool whole = said < 0xFFFFFFFFu - 38 ? data == int64_t(said) : data >= int64_t(said);
    if (!whole)
        return fail("holds " + std::to_string(data) + " bytes of sound, its import wrote " +
                    std::to_string(said));
    return true;
}

void RemoveSideFiles(const MediaInfo& m) {
    unlink(platform::ToUtf8(MediaSideFile(m, u"bmp")).c_str());
    unlink(platform::ToUtf8(MediaSideFile(m, u"wav")).c_str());
}

bool IsRecordStored(const MediaInfo& m) {
    platform::RegKey key;
    if (platform::RegOpenKey(platform::RegRoot::CurrentUser, kMediaInfoKey, &key) != 0)
        return false;
    return platform::RegQueryValue(key, platform::GuidToU16String(m.m_id), nullptr, nullptr,
                                   nullptr) == 0;
}

bool IsReusable(const MediaInfo& m) {
    // Only a finished import stores its record: one that failed, was
    // cancelled or still runs has none.
    return IsRecordStored(m) && IsValid(m);
}

void RetireRecord(MediaInfo* media) {
    for (size_t i = 0; i < g_History.size(); ++i) {
        if (g_History[i].Media() != media) continue;
        platform::RegKey key;
        platform::RegOpenKey(platform::RegRoot::CurrentUser, kMediaInfoKey, &key,
                             platform::RegAccess::ReadWrite);
        RemoveSideFilesAndValue(*media, &key);
        g_Retired.push_back(g_History[i]);
        g_History.erase(g_History.begin() + i);
        return;
    }
}

void RemoveUnrecordedSideFiles() {
    if (!g_bLoaded) return;
    for (const Entry& e : g_History) {
        const MediaInfo& m = *e.Media();
        if (IsRecordStored(m)) continue;
        if (!FileExists(MediaSideFile(m, u"wav")) && !FileExists(MediaSideFile(m, u"bmp"))) continue;
        LogWrite(kLogInfo, "Removing the sample and thumbnail of %ls: its record was not stored\n",
                 m.m_szFileName);
        RemoveSideFiles(m);
    }
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
    // A caller may still hold a record of the list it drops, as the program
    // may: those blocks stay mapped, like the records retired during a run.
    g_Retired.insert(g_Retired.end(), g_History.begin(), g_History.end());
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
