// Loading, cleaning and storing the history of imported files.
#include "Exports.h"
#include "Folders.h"
#include "History.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/wstr.h"

using namespace reelpage;
namespace fs = std::filesystem;

namespace {

constexpr char16_t kKey[] = u"SOFTWARE\\Zelmorix\\MediaInfo";

std::string Home() { return getenv("HOME"); }

void Touch(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Stores a record for a media file that exists, with its side files.
MediaInfo StoreRecord(const std::string& file, uint64_t history, bool video, bool audio) {
    Touch(file, "media " + file);
    MediaInfo m{};
    m.m_id = platform::CreateGuid();
    platform::WStrCopy(m.m_szFileName, platform::FromUtf8(file));
    platform::WStrCopy(m.m_szName, u"title");
    int64_t size = 0;
    uint64_t created = 0;
    EXPECT_TRUE(QueryFileIdentity(file, &size, &created));
    m.m_FileSize = size;
    m.m_CreationTime = created;
    m.m_History = history;
    m.m_bVideoStream = video;
    m.m_bAudioStream = audio;
    CreateMediaInfoFolder();
    if (video) Touch(platform::ToUtf8(MediaSideFile(m, u"bmp")), "BM");
    if (audio) Touch(platform::ToUtf8(MediaSideFile(m, u"wav")), "RIFF");
    SaveMediaInfo(&m);
    return m;
}

bool HasValue(const std::u16string& name) {
    platform::RegKey key;
    if (platform::RegOpenKey(platform::RegRoot::CurrentUser, kKey, &key) != 0) return false;
    return platform::RegQueryValue(key, name, nullptr, nullptr, nullptr) != platform::ERROR_FILE_NOT_FOUND;
}

std::u16string IdText(const MediaInfo& m) { return platform::GuidToU16String(m.m_id); }

} // namespace

TEST(History, EmptyWithoutKey) {
    ReloadHistoryForTesting();
    EXPECT_EQ(Bind<FnGetHistoryCount>(kGetHistoryCount)(), 0);
    EXPECT_TRUE(fs::is_directory(std::string(getenv("XDG_DATA_HOME")) + "/Zelmorix/MediaInfo"));
}

TEST(History, LoadsNewestFirstAndSkipsBadValues) {
    MediaInfo a = StoreRecord(Home() + "/a.mp4", 300, true, true);
    MediaInfo b = StoreRecord(Home() + "/b.mp4", 900, true, false);
    MediaInfo c = StoreRecord(Home() + "/c.mp4", 100, false, true);
    {
        platform::RegKey key;
        ASSERT_EQ(platform::RegCreateKey(platform::RegRoot::CurrentUser, kKey, &key), 0);
        std::vector<uint8_t> body(kMediaInfoBodySize, 0), shorter(735, 0);
        ASSERT_EQ(platform::RegSetValue(key, u"not-a-guid", platform::REG_BINARY, body.data(), 736), 0);
        platform::Guid g = platform::CreateGuid();
        ASSERT_EQ(platform::RegSetValue(key, platform::GuidToU16String(g), platform::REG_BINARY,
                                        shorter.data(), 735), 0);
        ASSERT_EQ(platform::RegSetValue(key, u"{00000000-0000-0000-0000-000000000001}",
                                        platform::REG_DWORD, body.data(), 736), 0);
    }
    InitDiagnostics();
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 3);
    EXPECT_EQ(std::memcmp(&GetHistoryItem(0)->m_id, &b.m_id, 16), 0);
    EXPECT_EQ(std::memcmp(&GetHistoryItem(1)->m_id, &a.m_id, 16), 0);
    EXPECT_EQ(std::memcmp(&GetHistoryItem(2)->m_id, &c.m_id, 16), 0);
    // Each record is whole and lives in its own block.
    MediaInfo* first = GetHistoryItem(0);
    EXPECT_EQ(platform::ToUtf8(first->m_szFileName), Home() + "/b.mp4");
    EXPECT_GT(first->m_hSelf, 2);
    EXPECT_NE(first->m_hSelf, GetHistoryItem(1)->m_hSelf);
    // Skipped values stay where they are.
    EXPECT_TRUE(HasValue(u"not-a-guid"));
    EXPECT_TRUE(HasValue(u"{00000000-0000-0000-0000-000000000001}"));

    // A new import goes to the front.
    MediaInfo* fresh = AddMediaRecord();
    EXPECT_EQ(GetHistoryItem(0), fresh);
    EXPECT_EQ(GetHistoryCount(), 4);
}

TEST(History, StaleRecordsAreRemovedWithTheirFiles) {
    MediaInfo keep = StoreRecord(Home() + "/keep.mp4", 1, true, true);
    MediaInfo changed = StoreRecord(Home() + "/changed.mp4", 2, true, true);
    MediaInfo gone = StoreRecord(Home() + "/gone.mp4", 3, false, false);
    MediaInfo noThumb = StoreRecord(Home() + "/nothumb.mp4", 4, true, false);
    Touch(Home() + "/changed.mp4", "a different size now");
    fs::remove(Home() + "/gone.mp4");
    fs::remove(platform::ToUtf8(MediaSideFile(noThumb, u"bmp")));

    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(std::memcmp(&GetHistoryItem(0)->m_id, &keep.m_id, 16), 0);
    EXPECT_TRUE(HasValue(IdText(keep)));
    for (const MediaInfo* m : {&changed, &gone, &noThumb}) {
        EXPECT_FALSE(HasValue(IdText(*m)));
        EXPECT_FALSE(fs::exists(platform::ToUtf8(MediaSideFile(*m, u"bmp"))));
        EXPECT_FALSE(fs::exists(platform::ToUtf8(MediaSideFile(*m, u"wav"))));
    }
    EXPECT_TRUE(fs::exists(platform::ToUtf8(MediaSideFile(keep, u"wav"))));
}

TEST(History, SavedTitleSurvivesAndDamagedStringsAreCut) {
    MediaInfo m = StoreRecord(Home() + "/t.mp4", 5, false, false);
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    MediaInfo* item = GetHistoryItem(0);
    platform::WStrCopy(item->m_szName, u"My holiday");
    Bind<FnSaveMediaInfo>(kSaveMediaInfo)(item);
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(std::u16string(GetHistoryItem(0)->m_szName), u"My holiday");

    // A title without its terminating NUL is cut inside the field.
    MediaInfo damaged = m;
    for (auto& ch : damaged.m_szName) ch = u'z';
    SaveMediaInfo(&damaged);
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(platform::WStrLen(GetHistoryItem(0)->m_szName), 63u);
}
