// The user's defaults, stored byte for byte as one binary registry value.
#include "records/Settings.h"

#include "publishing/Templates.h"
#include "system/Exports.h"
#include "system/Log.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/wstr.h"
#include "picture/bitmap.h"
#include "reelpage/output_size.h"
#include "reelpage/protocol.h"

namespace reelpage {

namespace {

Settings g_Settings;
MoreSettings g_MoreSettings;
constexpr char16_t kSettingsKey[] = u"SOFTWARE\\Zelmorix\\reelpage";
constexpr char16_t kSettingsValue[] = u"Settings";
// More conversions side by side than any machine has cores for is a damaged
// value, not a choice.
constexpr int32_t kParallelConvertorMax = 256;
constexpr char16_t kWebmCodecValue[] = u"WebmCodec";

// The values beyond the record: each absent, damaged or unknown one reads
// as its default, so a store from before it existed works as it did.
void LoadMoreSettings(const platform::RegKey& key) {
    g_MoreSettings = MoreSettings{};
    uint32_t type = 0, value = 0, size = sizeof value;
    if (platform::RegQueryValue(key, kWebmCodecValue, &type, &value, &size) == 0 &&
        type == platform::REG_DWORD && size == sizeof value && value < uint32_t(kWebmCodecCount))
        g_MoreSettings.m_DefaultWebmCodec = int32_t(value);
}

// Everything but the folder, which costs a look-up and may create the
// Videos folder: the checks below want the numbers alone.
void ApplyNumberDefaults(Settings& s) {
    s.m_DefaultFormats[0] = s.m_DefaultFormats[1] = s.m_DefaultFormats[2] = 1;
    s.m_SizeIndex = 0;
    s.m_OutputWidth = 640;
    s.m_OutputHeight = 480;
    s.m_Autoplay = 1;
    s.m_Controls = 1;
    s.m_Loop = 0;
    s.m_WatermarkHPosition = kAlignStart;
    s.m_WatermarkVPosition = kAlignStart;
    s.m_ParallelConvertor = GetProcessorCount();
}

void ApplyDefaultFolder(Settings& s) {
    std::fill(std::begin(s.m_szFolder), std::end(s.m_szFolder), u'\0');
    std::string videos;
    if (platform::GetKnownFolder(platform::KnownFolder::Videos, true, &videos) == 0)
        platform::WStrCopy(s.m_szFolder, platform::FromUtf8(videos));
}

void ApplyDefaults(Settings& s) {
    ApplyNumberDefaults(s);
    ApplyDefaultFolder(s);
}

void LogReset(const char* field) {
    LogWrite(kLogError, "Settings field %s is damaged; it was reset to its default\n", field);
}

// The store can be damaged or edited by hand, and every later run trusts
// what it reads: a value no dialog could have written takes its default.
// Booleans need no check (any value is true but 0).
struct NumberRule {
    const char* name;
    int32_t Settings::*field;
    int32_t min, max;
};

// A path field read from outside: it must end inside the field, and a
// non-empty path must be absolute, or it would resolve against whatever
// folder the program happens to run in.
bool PathFieldIsSound(const char16_t* field, size_t cap) {
    const size_t len = platform::WStrNLen(field, cap);
    return len < cap && (len == 0 || field[0] == u'/');
}

void CheckFields(Settings& s) {
    Settings defaults{};
    ApplyNumberDefaults(defaults);
    const int32_t lastTemplate = std::max(0, GetTemplateCount() - 1);
    const NumberRule rules[] = {
        {"m_SizeIndex", &Settings::m_SizeIndex, kSizeOriginal, kSizeCustom},
        {"m_OutputWidth", &Settings::m_OutputWidth, kCustomSideMin, kCustomSideMax},
        {"m_OutputHeight", &Settings::m_OutputHeight, kCustomSideMin, kCustomSideMax},
        {"m_ResizeMethod", &Settings::m_ResizeMethod, 0, 2},
        {"m_WatermarkImageWidth", &Settings::m_WatermarkImageWidth, 0, picture::kMaxSide},
        {"m_WatermarkImageHeight", &Settings::m_WatermarkImageHeight, 0, picture::kMaxSide},
        {"m_WatermarkTransparency", &Settings::m_WatermarkTransparency, 0, 200},
        {"m_AdImageWidth", &Settings::m_AdImageWidth, 0, picture::kMaxSide},
        {"m_AdImageHeight", &Settings::m_AdImageHeight, 0, picture::kMaxSide},
        {"m_Templete", &Settings::m_Templete, 0, lastTemplate},
        {"m_ParallelConvertor", &Settings::m_ParallelConvertor, 1, kParallelConvertorMax},
    };
    for (const NumberRule& rule : rules) {
        int32_t& value = s.*rule.field;
        if (value >= rule.min && value <= rule.max) continue;
        value = defaults.*rule.field;
        LogReset(rule.name);
    }
    const auto isPosition = [](int32_t v) {
        return v == kAlignStart || v == kAlignCenter || v == kAlignEnd;
    };
    if (!isPosition(s.m_WatermarkHPosition)) {
        s.m_WatermarkHPosition = defaults.m_WatermarkHPosition;
        LogReset("m_WatermarkHPosition");
    }
    if (!isPosition(s.m_WatermarkVPosition)) {
        s.m_WatermarkVPosition = defaults.m_WatermarkVPosition;
        LogReset("m_WatermarkVPosition");
    }

    // An empty folder is no folder either: outputs would land in the
    // working directory.
    if (!PathFieldIsSound(s.m_szFolder, std::size(s.m_szFolder)) || s.m_szFolder[0] == 0) {
        ApplyDefaultFolder(s);
        LogReset("m_szFolder");
    }
    if (!PathFieldIsSound(s.m_WatermarkFile, std::size(s.m_WatermarkFile))) {
        std::fill(std::begin(s.m_WatermarkFile), std::end(s.m_WatermarkFile), u'\0');
        s.m_WatermarkImageWidth = s.m_WatermarkImageHeight = 0;
        LogReset("m_WatermarkFile");
    }
    if (!PathFieldIsSound(s.m_AdFile, std::size(s.m_AdFile))) {
        std::fill(std::begin(s.m_AdFile), std::end(s.m_AdFile), u'\0');
        s.m_AdImageWidth = s.m_AdImageHeight = 0;
        LogReset("m_AdFile");
    }
    if (platform::WStrNLen(s.m_AdLink, std::size(s.m_AdLink)) == std::size(s.m_AdLink)) {
        std::fill(std::begin(s.m_AdLink), std::end(s.m_AdLink), u'\0');
        LogReset("m_AdLink");
    }
}

} // namespace

Settings& TheSettings() { return g_Settings; }

void LoadSettings() {
    platform::RegKey key;
    int rc = platform::RegCreateKey(platform::RegRoot::CurrentUser, kSettingsKey, &key);
    if (rc != 0) {
        LogWrite(kLogError, "Failed(%d) to RegCreateKey\n", rc);
    } else {
        uint32_t type = 0, size = sizeof(Settings);
        LoadMoreSettings(key);
        rc = platform::RegQueryValue(key, kSettingsValue, &type, &g_Settings, &size);
        if (rc == 0 && type == platform::REG_BINARY && size == sizeof(Settings)) {
            CheckFields(g_Settings);
            return;
        }
        LogWrite(kLogError, "Failed(%d) to RegQueryValueEx(Type=%d, cbData=%d, size=%d)\n", rc,
                 int(type), int(size), int(sizeof(Settings)));
        key.Close();
        std::memset(&g_Settings, 0, sizeof g_Settings);
        g_MoreSettings = MoreSettings{};
    }
    ApplyDefaults(g_Settings);
}

Settings* GetSettings() { return &g_Settings; }
MoreSettings* GetMoreSettings() { return &g_MoreSettings; }
MoreSettings& TheMoreSettings() { return g_MoreSettings; }

int32_t SaveSettings() {
    platform::RegKey key;
    int rc = platform::RegCreateKey(platform::RegRoot::CurrentUser, kSettingsKey, &key);
    if (rc != 0) {
        LogWrite(kLogError, "Failed(%d) to RegCreateKey\n", rc);
        return rc;
    }
    rc = platform::RegSetValue(key, kSettingsValue, platform::REG_BINARY, &g_Settings,
                               sizeof(Settings));
    if (rc != 0) {
        LogWrite(kLogError, "Failed(%d) to RegSetValueEx\n", rc);
        return rc;
    }
    const uint32_t codec = uint32_t(g_MoreSettings.m_DefaultWebmCodec);
    rc = platform::RegSetValue(key, kWebmCodecValue, platform::REG_DWORD, &codec, sizeof codec);
    if (rc != 0) LogWrite(kLogError, "Failed(%d) to RegSetValueEx(WebmCodec)\n", rc);
    return rc;
}

} // namespace reelpage
