// Loading, cleaning and storing the history of imported files.
#include "system/Exports.h"
#include "system/Folders.h"
#include "media/History.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

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

// A sample file as an import writes it: the 46-byte header, then PCM.
std::string SampleFile(uint32_t rate, uint16_t channels, uint32_t dataBytes) {
    auto le = [](uint32_t v, int n) {
        std::string b;
        for (int i = 0; i < n; ++i)
            b += char((v >> (8 * i)) & 0xff);
        return b;
    };
    return "RIFF" + le(dataBytes + 38, 4) + "WAVEfmt " + le(18, 4) + le(1, 2) + le(channels, 2) +
           le(rate, 4) + le(rate * channels * 2, 4) + le(channels * 2, 2) + le(16, 2) + le(0, 2) +
           "data" + le(dataBytes, 4) + std::string(dataBytes, '\1');
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
    m.m_Duration = 1000000;
    m.m_bVideoStream = video;
    if (video) {
        m.m_Width = m.m_CodecWidth = 320;
        m.m_Height = m.m_CodecHeight = 240;
        m.m_FrameRateNum = 25;
        m.m_FrameRateDen = 1;
        m.m_VideoBitRate = 500000;
        m.m_SampleFile = 1;
    }
    m.m_bAudioStream = audio;
    if (audio) {
        m.m_SampleRate = 8000;
        m.m_nChannel = 2;
        m.m_AudioBitRate = 32000;
    }
    CreateMediaInfoFolder();
    if (video) Touch(platform::ToUtf8(MediaSideFile(m, u"bmp")), "BM");
    if (audio) Touch(platform::ToUtf8(MediaSideFile(m, u"wav")), SampleFile(8000, 2, 32000));
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
    MediaInfo m = StoreRecord(Home() + "/t.mp4", 5, false, true);
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

// Values no import can give (damage in the store, a record of an import that
// never finished) fail every later run that trusts them: such a record goes,
// with its files, and its media file is imported again when next opened.
TEST(History, RecordsWithImpossibleValuesAreDiscarded) {
    const struct {
        const char* name;
        void (*spoil)(MediaInfo&);
    } cases[] = {
        {"huge", [](MediaInfo& m) { m.m_Width = m.m_Height = 0x7fffffff; }},
        {"zero size", [](MediaInfo& m) { m.m_Width = m.m_Height = 0; }},
        {"zero frame rate", [](MediaInfo& m) { m.m_FrameRateNum = 0; }},
        {"zero rate denominator", [](MediaInfo& m) { m.m_FrameRateDen = 0; }},
        {"frame rate of 2^31-1 fps", [](MediaInfo& m) { m.m_FrameRateNum = 0x7fffffff; }},
        {"frame rate of 1001 fps", [](MediaInfo& m) { m.m_FrameRateNum = 1001; }},
        {"frame rate below one fps", [](MediaInfo& m) {
             m.m_FrameRateNum = 1;
             m.m_FrameRateDen = 2;
         }},
        {"no sample rate", [](MediaInfo& m) { m.m_SampleRate = 0; }},
        {"negative duration", [](MediaInfo& m) { m.m_Duration = -5; }},
        {"no stream at all", [](MediaInfo& m) { m.m_bVideoStream = m.m_bAudioStream = 0; }},
    };
    platform::RegDeleteKey(platform::RegRoot::CurrentUser, kKey);
    MediaInfo good = StoreRecord(Home() + "/good.mp4", 1, true, true);
    std::vector<MediaInfo> bad;
    for (const auto& c : cases) {
        MediaInfo m = StoreRecord(Home() + "/" + c.name + ".mp4", 2, true, true);
        c.spoil(m);
        SaveMediaInfo(&m);
        bad.push_back(m);
    }
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(std::memcmp(&GetHistoryItem(0)->m_id, &good.m_id, 16), 0);
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_FALSE(HasValue(IdText(bad[i])));
        EXPECT_FALSE(fs::exists(platform::ToUtf8(MediaSideFile(bad[i], u"bmp"))));
        EXPECT_FALSE(fs::exists(platform::ToUtf8(MediaSideFile(bad[i], u"wav"))));
    }
}

// A sample file is trusted only when it holds exactly what its import wrote
// and its format is the record's.
TEST(History, SampleFileMustMatchItsRecord) {
    platform::RegDeleteKey(platform::RegRoot::CurrentUser, kKey);
    MediaInfo whole = StoreRecord(Home() + "/whole.mp4", 1, true, true);
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"cut short", SampleFile(8000, 2, 32000).substr(0, 46 + 20000)},
        {"longer than its header says", SampleFile(8000, 2, 32000) + "xxxx"},
        {"other rate", SampleFile(44100, 2, 32000)},
        {"other channels", SampleFile(8000, 1, 32000)},
        {"only a header", SampleFile(8000, 2, 32000).substr(0, 30)},
        {"not a sample file", std::string(46 + 32000, 'x')},
    };
    std::vector<MediaInfo> bad;
    for (const auto& c : cases) {
        MediaInfo m = StoreRecord(Home() + "/" + c.name + ".mp4", 2, true, true);
        Touch(platform::ToUtf8(MediaSideFile(m, u"wav")), c.content);
        std::string why;
        EXPECT_FALSE(SampleFileMatches(m, &why)) << c.name;
        EXPECT_NE(why.find(".wav"), std::string::npos) << why;
        bad.push_back(m);
    }
    EXPECT_TRUE(SampleFileMatches(whole, nullptr));
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(std::memcmp(&GetHistoryItem(0)->m_id, &whole.m_id, 16), 0);
    for (const MediaInfo& m : bad)
        EXPECT_FALSE(HasValue(IdText(m)));
}

// Side files no stored record names are what an import ended by a kill or
// Ctrl-C leaves: removed at start-up, unless an import still holds them.
TEST(History, OrphanedSideFilesAreSweptAtStartUp) {
    platform::RegDeleteKey(platform::RegRoot::CurrentUser, kKey);
    MediaInfo kept = StoreRecord(Home() + "/kept.mp4", 1, true, true);
    const std::string folder = platform::ToUtf8(MediaInfoFolder());
    const std::string orphan = platform::GuidToU8String(platform::CreateGuid());
    const std::string busy = platform::GuidToU8String(platform::CreateGuid());
    for (const char* ext : {".bmp", ".wav"}) {
        Touch(folder + "/" + orphan + ext, "partial");
        Touch(folder + "/" + busy + ext, "partial");
    }
    Touch(folder + "/notes.txt", "not ours");
    const int lock = open((folder + "/" + busy + ".wav").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);

    ReloadHistoryForTesting();
    EXPECT_EQ(GetHistoryCount(), 1);
    EXPECT_FALSE(fs::exists(folder + "/" + orphan + ".bmp"));
    EXPECT_FALSE(fs::exists(folder + "/" + orphan + ".wav"));
    EXPECT_TRUE(fs::exists(folder + "/" + busy + ".wav"));
    EXPECT_TRUE(fs::exists(folder + "/notes.txt"));
    EXPECT_TRUE(fs::exists(platform::ToUtf8(MediaSideFile(kept, u"bmp"))));
    EXPECT_TRUE(fs::exists(platform::ToUtf8(MediaSideFile(kept, u"wav"))));
    close(lock);

    // Without any store the same holds.
    platform::RegDeleteKey(platform::RegRoot::CurrentUser, kKey);
    ReloadHistoryForTesting();
    EXPECT_FALSE(fs::exists(folder + "/" + busy + ".wav"));
}
