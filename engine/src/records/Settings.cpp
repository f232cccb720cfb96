// The user's defaults, stored byte for byte as one binary registry value.
#include "records/Settings.h"

#include "system/Exports.h"
#include "system/Log.h"

#include <cstring>

#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/wstr.h"
#include "reelpage/protocol.h"

namespace reelpage {

namespace {

Settings g_Settings;
MoreSettings g_MoreSettings;
constexpr char16_t kSettingsKey[] = u"SOFTWARE\\Zelmorix\\reelpage";
constexpr char16_t kSettingsValue[] = u"Settings";
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

void ApplyDefaults(Settings& s) {
    s.m_DefaultFormats[0] = s.m_DefaultFormats[1] = s.m_DefaultFormats[2] = 1;
    s.m_SizeIndex = 0;
    s.m_OutputWidth = 640;
    s.m_OutputHeight = 480;
    std::string videos;
    if (platform::GetKnownFolder(platform::KnownFolder::Videos, true, &videos) == 0)
        platform::WStrCopy(s.m_szFolder, platform::FromUtf8(videos));
    s.m_Autoplay = 1;
    s.m_Controls = 1;
    s.m_Loop = 0;
    s.m_WatermarkHPosition = kAlignStart;
    s.m_WatermarkVPosition = kAlignStart;
    s.m_ParallelConvertor = GetProcessorCount();
}

// A stored record whose strings lost their NUL (a damaged or hand-edited
// value) must not let anyone read past a field.
void TerminateStrings(Settings& s) {
    platform::WStrTerminate(s.m_szFolder, std::size(s.m_szFolder));
    platform::WStrTerminate(s.m_WatermarkFile, std::size(s.m_WatermarkFile));
    platform::WStrTerminate(s.m_AdFile, std::size(s.m_AdFile));
    platform::WStrTerminate(s.m_AdLink, std::size(s.m_AdLink));
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
            TerminateStrings(g_Settings);
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
