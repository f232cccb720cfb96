// The stored Settings value: any body (and now and then any whole value file),
// read as the engine reads it at start-up.
#include "fuzz_support.h"
#include "records/Settings.h"

#include <fuzzer/FuzzedDataProvider.h>

#include "platform/registry.h"

namespace {

std::string g_valueFile;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Home();
    platform::RegKey key;
    if (platform::RegCreateKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\reelpage",
                               &key) != 0)
        __builtin_trap();
    g_valueFile = key.Folder() + "/Settings";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool wholeFile = in.ConsumeBool();
    std::string body = in.ConsumeRemainingBytesAsString();
    if (!wholeFile) {
        // A well-formed value of the record's size, so that every run gets
        // past the store to the record's own checks.
        body.resize(sizeof(reelpage::Settings));
        std::string header = "RGV1";
        for (uint32_t v : {platform::REG_BINARY, uint32_t(sizeof(reelpage::Settings))})
            for (int i = 0; i < 4; ++i) header += char(v >> (8 * i));
        body = header + body;
    }
    fuzz::WriteFile(g_valueFile, body);
    reelpage::LoadSettings();
    const reelpage::Settings& s = *reelpage::GetSettings();
    fuzz::CheckTerminated(s.m_szFolder, "Settings.m_szFolder");
    fuzz::CheckTerminated(s.m_WatermarkFile, "Settings.m_WatermarkFile");
    fuzz::CheckTerminated(s.m_AdFile, "Settings.m_AdFile");
    fuzz::CheckTerminated(s.m_AdLink, "Settings.m_AdLink");
    return 0;
}
