// Loading and saving the user's defaults.
#include "system/Exports.h"
#include "records/Settings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
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

// A stored record that holds a value no dialog could have written: every
// such field takes its default, the others stay as stored, and the log names
// the field that was reset.
// A stored record that holds a value no dialog could have written: every
// such field takes its default, the others stay as stored, and the log names
// the field that was reset.
TEST(Settings, DamagedFieldsTakeTheirDefaultsAndTheLogNamesThem) {
    InitDiagnostics();
    InitEngine();
    // A sound record with values other than the defaults, so that a field
    // reset by mistake shows.
    Settings sound = *GetSettings();
    sound.m_SizeIndex = 9;
    sound.m_OutputWidth = 1280;
    sound.m_OutputHeight = 720;
    sound.m_ResizeMethod = 2;
    sound.m_WatermarkTransparency = 120;
    sound.m_WatermarkHPosition = kAlignEnd;
    sound.m_AdImageWidth = 300;
    sound.m_ParallelConvertor = 3;
    platform::WStrCopy(sound.m_szFolder, u"/srv/videos");
    platform::WStrCopy(sound.m_WatermarkFile, u"/srv/mark.png");
    sound.m_WatermarkImageWidth = 40;
    platform::WStrCopy(sound.m_AdLink, u"https://example.invalid/");
    const Settings defaults = [] {
        std::vector<uint8_t> none(1, 0); // a value of the wrong size gives the defaults
        EXPECT_EQ(StoreRaw(none.data(), 1), 0);
        LoadSettings();
        return *GetSettings();
    }();

    using Edit = void (*)(Settings&);
    struct Case {
        const char* field;
        Edit damage;
        Edit reset; // what the load should make of the sound record's field
    };
    const Case cases[] = {
        {"m_SizeIndex", [](Settings& s) { s.m_SizeIndex = 77; }, [](Settings& s) { s.m_SizeIndex = 0; }},
        {"m_OutputWidth", [](Settings& s) { s.m_OutputWidth = -5; },
         [](Settings& s) { s.m_OutputWidth = 640; }},
        {"m_OutputHeight", [](Settings& s) { s.m_OutputHeight = 0x7fffffff; },
         [](Settings& s) { s.m_OutputHeight = 480; }},
        {"m_ResizeMethod", [](Settings& s) { s.m_ResizeMethod = 9; },
         [](Settings& s) { s.m_ResizeMethod = 0; }},
        {"m_WatermarkHPosition", [](Settings& s) { s.m_WatermarkHPosition = 3; },
         [](Settings& s) { s.m_WatermarkHPosition = kAlignStart; }},
        {"m_WatermarkVPosition", [](Settings& s) { s.m_WatermarkVPosition = -1; },
         [](Settings& s) { s.m_WatermarkVPosition = kAlignStart; }},
        {"m_WatermarkTransparency", [](Settings& s) { s.m_WatermarkTransparency = 201; },
         [](Settings& s) { s.m_WatermarkTransparency = 0; }},
        {"m_AdImageWidth", [](Settings& s) { s.m_AdImageWidth = -1; },
         [](Settings& s) { s.m_AdImageWidth = 0; }},
        {"m_Templete", [](Settings& s) { s.m_Templete = 1000; }, [](Settings& s) { s.m_Templete = 0; }},
        {"m_ParallelConvertor", [](Settings& s) { s.m_ParallelConvertor = 0; },
         [](Settings& s) { s.m_ParallelConvertor = GetProcessorCount(); }},
        {"m_szFolder", [](Settings& s) { std::fill(std::begin(s.m_szFolder), std::end(s.m_szFolder), u'x'); },
         nullptr},
        {"m_szFolder", [](Settings& s) { platform::WStrCopy(s.m_szFolder, u"out/videos"); }, nullptr},
        {"m_szFolder", [](Settings& s) { s.m_szFolder[0] = 0; }, nullptr},
        {"m_WatermarkFile", [](Settings& s) { platform::WStrCopy(s.m_WatermarkFile, u"mark.png"); },
         [](Settings& s) {
             std::fill(std::begin(s.m_WatermarkFile), std::end(s.m_WatermarkFile), u'\0');
             s.m_WatermarkImageWidth = 0;
         }},
        {"m_AdLink", [](Settings& s) { std::fill(std::begin(s.m_AdLink), std::end(s.m_AdLink), u'y'); },
         [](Settings& s) { std::fill(std::begin(s.m_AdLink), std::end(s.m_AdLink), u'\0'); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        Settings stored = sound;
        c.damage(stored);
        ASSERT_EQ(StoreRaw(&stored, sizeof stored), 0);

        const size_t logBefore = ReadLog().size();
        LoadSettings();
        const std::string logged = ReadLog().substr(logBefore);
        EXPECT_NE(logged.find(std::string("Settings field ") + c.field + " is damaged"),
                  std::string::npos)
            << logged;

        Settings want = sound;
        if (c.reset) {
            c.reset(want);
        } else {
            std::copy(std::begin(defaults.m_szFolder), std::end(defaults.m_szFolder), want.m_szFolder);
        }
        EXPECT_EQ(std::memcmp(GetSettings(), &want, sizeof want), 0);
    }
    EXPECT_EQ(platform::ToUtf8(defaults.m_szFolder), std::string(getenv("HOME")) + "/Videos");
}

TEST(Settings, ARandomRecordLoadsAsUsableValues) {
    InitDiagnostics();
    InitEngine();
    std::mt19937 random(25);
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> body(sizeof(Settings));
        for (auto& b : body) b = uint8_t(random());
        ASSERT_EQ(StoreRaw(body.data(), uint32_t(body.size())), 0);
        LoadSettings();
        const Settings& s = *GetSettings();
        EXPECT_GE(s.m_SizeIndex, 0);
        EXPECT_LE(s.m_SizeIndex, 9);
        EXPECT_GE(s.m_OutputWidth, 16);
        EXPECT_LE(s.m_OutputWidth, 2048);
        EXPECT_GE(s.m_OutputHeight, 16);
        EXPECT_LE(s.m_OutputHeight, 2048);
        EXPECT_GE(s.m_ResizeMethod, 0);
        EXPECT_LE(s.m_ResizeMethod, 2);
        EXPECT_GE(s.m_ParallelConvertor, 1);
        EXPECT_EQ(platform::ToUtf8(s.m_szFolder), std::string(getenv("HOME")) + "/Videos");
        EXPECT_LT(platform::WStrNLen(s.m_AdLink, 1024), 1024u);
        EXPECT_LT(platform::WStrNLen(s.m_WatermarkFile, 260), 260u);
    }
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
