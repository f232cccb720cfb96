// Loading and saving the user's defaults.
#include "system/Exports.h"
#include "records/Settings.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "platform/registry.h"
#include "platform/wstr.h"
#include "reelpage/protocol.h"

using namespace reelpage;

namespace {

std::string ReadLog() {
    std::ifstream in(std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int StoreRaw(const void* data, uint32_t size) {
    platform::RegKey key;
    int rc = platform::RegCreateKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\reelpage", &key);
    return rc ? rc : platform::RegSetValue(key, u"Settings", platform::REG_BINARY, data, size);
}

void ExpectDefaults(const Settings& s) {
    EXPECT_EQ(s.m_DefaultFormats[0], 1);
    EXPECT_EQ(s.m_DefaultFormats[1], 1);
    EXPECT_EQ(s.m_DefaultFormats[2], 1);
    EXPECT_EQ(s.m_SizeIndex, 0);
    EXPECT_EQ(s.m_OutputWidth, 640);
    EXPECT_EQ(s.m_OutputHeight, 480);
    EXPECT_EQ(s.m_ResizeMethod, 0);
    EXPECT_EQ(s.m_Autoplay, 1);
    EXPECT_EQ(s.m_Controls, 1);
    EXPECT_EQ(s.m_Loop, 0);
    EXPECT_EQ(s.m_WatermarkHPosition, kAlignStart);
    EXPECT_EQ(s.m_WatermarkVPosition, kAlignStart);
    EXPECT_EQ(s.m_WatermarkFile[0], 0);
    EXPECT_EQ(s.m_AdFile[0], 0);
    EXPECT_EQ(s.m_Templete, 0);
    EXPECT_EQ(s.m_DisableUpdate, 0);
    EXPECT_EQ(s.m_ParallelConvertor, GetProcessorCount());
    EXPECT_GT(s.m_ParallelConvertor, 0);
    // The Videos folder, without a trailing separator, and it exists.
    std::string folder = platform::ToUtf8(s.m_szFolder);
    EXPECT_EQ(folder, std::string(getenv("HOME")) + "/Videos");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

} // namespace

TEST(Settings, FirstStartCreatesTheKeyAndUsesDefaults) {
    InitDiagnostics();
    EXPECT_EQ(Bind<FnInitEngine>(kInitEngine)(), 0);
    ExpectDefaults(*GetSettings());
    EXPECT_NE(ReadLog().find(" *** Failed(2) to RegQueryValueEx(Type=0, cbData=0, size=3688)\n"),
              std::string::npos)
        << ReadLog();
    // The key exists now, but holds no value until the settings are saved.
    platform::RegKey key;
    ASSERT_EQ(platform::RegOpenKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\reelpage", &key), 0);
    uint32_t size = 0;
    EXPECT_EQ(platform::RegQueryValue(key, u"Settings", nullptr, nullptr, &size),
              platform::ERROR_FILE_NOT_FOUND);
}

TEST(Settings, AValueOfTheWrongSizeIsReplacedByDefaults) {
    std::vector<uint8_t> shorter(3684, 0x22);
    ASSERT_EQ(StoreRaw(shorter.data(), uint32_t(shorter.size())), 0);
    InitDiagnostics();
    InitEngine();
    ExpectDefaults(*GetSettings());
    EXPECT_NE(ReadLog().find("to RegQueryValueEx(Type=3, cbData=3684, size=3688)\n"), std::string::npos);
}

TEST(Settings, SaveAndLoadRoundTrip) {
    InitDiagnostics();
    InitEngine();
    Settings* s = GetSettings();
    s->m_DefaultFormats[1] = 0;
    s->m_SizeIndex = 9;
    s->m_OutputWidth = 1280;
    s->m_ParallelConvertor = 7;
    s->m_DisableUpdate = -1;
    platform::WStrCopy(s->m_AdLink, u"https://example.invalid/?a=1&b=\"2\"");
    ASSERT_EQ(Bind<FnSaveSettings>(kSaveSettings)(), 0);
    Settings saved = *s;

    std::memset(s, 0, sizeof *s);
    LoadSettings();
    EXPECT_EQ(std::memcmp(s, &saved, sizeof saved), 0);
    EXPECT_EQ(s->m_ParallelConvertor, 7);
    EXPECT_EQ(s->m_DisableUpdate, -1);

    // The stored value is exactly the record.
    platform::RegKey key;
    ASSERT_EQ(platform::RegOpenKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\reelpage", &key), 0);
    uint32_t type = 0, size = 0;
    ASSERT_EQ(platform::RegQueryValue(key, u"Settings", &type, nullptr, &size), 0);
    EXPECT_EQ(type, platform::REG_BINARY);
    EXPECT_EQ(size, 3688u);
}

TEST(Settings, StringsWithoutTheirEndAreCutInsideTheField) {
    Settings damaged;
    std::memset(&damaged, 0, sizeof damaged);
    for (auto& c : damaged.m_szFolder) c = u'x';
    for (auto& c : damaged.m_AdLink) c = u'y';
    ASSERT_EQ(StoreRaw(&damaged, sizeof damaged), 0);
    LoadSettings();
    EXPECT_EQ(platform::WStrLen(GetSettings()->m_szFolder), 259u);
    EXPECT_EQ(platform::WStrLen(GetSettings()->m_AdLink), 1023u);
}

TEST(Settings, WebmCodecIsAValueBesideTheRecordAndOldStoresReadAsVp8) {
    // A store from before the value existed: the record alone.
    Settings old;
    std::memset(&old, 0, sizeof old);
    old.m_DefaultFormats[0] = 1;
    ASSERT_EQ(StoreRaw(&old, sizeof old), 0);
    GetMoreSettings()->m_DefaultWebmCodec = kWebmAv1;
    LoadSettings();
    EXPECT_EQ(Bind<FnGetMoreSettings>(kGetMoreSettings)()->m_DefaultWebmCodec, kWebmVp8);

    GetMoreSettings()->m_DefaultWebmCodec = kWebmAv1;
    ASSERT_EQ(SaveSettings(), 0);
    GetMoreSettings()->m_DefaultWebmCodec = kWebmVp8;
    LoadSettings();
    EXPECT_EQ(GetMoreSettings()->m_DefaultWebmCodec, kWebmAv1);
    platform::RegKey key;
    ASSERT_EQ(platform::RegOpenKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\reelpage",
                                   &key, platform::RegAccess::ReadWrite),
              0);
    uint32_t type = 0, size = 0;
    ASSERT_EQ(platform::RegQueryValue(key, u"Settings", &type, nullptr, &size), 0);
    EXPECT_EQ(size, 3688u);

    // Values this build does not know, or of another type, read as VP8.
    struct Stored {
        uint32_t type;
        std::vector<uint8_t> bytes;
    } unknown[] = {
        {platform::REG_DWORD, {7, 0, 0, 0}},
        {platform::REG_DWORD, {0xff, 0xff, 0xff, 0xff}},
        {platform::REG_BINARY, {2, 0, 0, 0}},
        {platform::REG_DWORD, {2, 0}},
    };
    for (const Stored& v : unknown) {
        ASSERT_EQ(platform::RegSetValue(key, u"WebmCodec", v.type, v.bytes.data(),
                                        uint32_t(v.bytes.size())),
                  0);
        GetMoreSettings()->m_DefaultWebmCodec = kWebmAv1;
        LoadSettings();
        EXPECT_EQ(GetMoreSettings()->m_DefaultWebmCodec, kWebmVp8) << v.bytes.size();
    }
}
