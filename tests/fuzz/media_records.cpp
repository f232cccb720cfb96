// The stored media records and their side files: any record body, thumbnail
// and sample file, loaded into the history as the engine does at start-up.
// Now and then the record names a real file of the right identity, so that
// the checks of the side files are reached too.
#include "fuzz_support.h"
#include "media/History.h"

#include <cstdio>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>

#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/wstr.h"
#include "reelpage/media_store.h"

namespace {

std::string g_source;
std::string g_keyFolder;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_source = fuzz::Home() + "/source.mp4";
    fuzz::WriteFile(g_source, "not really a video, but a file of a size and a time");
    platform::RegKey key;
    if (platform::RegCreateKey(platform::RegRoot::CurrentUser, reelpage::kMediaInfoKey, &key) != 0)
        __builtin_trap();
    g_keyFolder = key.Folder();
    reelpage::EnsureHistoryLoaded();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static reelpage::MediaInfo m;
    std::memset(&m, 0, sizeof m);
    m.m_id = platform::Guid{0x6C1F4E2A, 0x9B37, 0x4D58, {0xA0, 0xE4, 0x3F, 0x2B, 0x7C, 0x9D, 0x1E, 0x85}};
    const bool realFile = in.ConsumeBool();
    const size_t bodySize =
        in.ConsumeBool() ? reelpage::kMediaInfoBodySize
                         : in.ConsumeIntegralInRange<size_t>(0, reelpage::kMediaInfoBodySize + 8);
    const std::string thumbnail = in.ConsumeRandomLengthString(4096);
    const std::string sample = in.ConsumeRandomLengthString(4096);
    const std::string body = in.ConsumeBytesAsString(reelpage::kMediaInfoBodySize);
    std::memcpy(reinterpret_cast<char*>(&m) + reelpage::kMediaInfoBodyOffset, body.data(),
                body.size());
    if (realFile) {
        platform::WStrCopy(m.m_szFileName, platform::FromUtf8(g_source));
        int64_t fileSize = 0;
        uint64_t created = 0;
        if (!reelpage::QueryFileIdentity(g_source, &fileSize, &created)) __builtin_trap();
        m.m_FileSize = fileSize;
        m.m_CreationTime = created;
    }
    std::string stored(reinterpret_cast<const char*>(&m) + reelpage::kMediaInfoBodyOffset,
                       reelpage::kMediaInfoBodySize);
    stored.resize(bodySize);

    // The value file as the store writes it, less the store's flushes to
    // disk, which would take most of the time of a run.
    std::string header = "RGV1";
    for (uint32_t v : {platform::REG_BINARY, uint32_t(stored.size())})
        for (int i = 0; i < 4; ++i) header += char(v >> (8 * i));
    const std::string valueFile = g_keyFolder + "/" + platform::GuidToU8String(m.m_id);
    fuzz::WriteFile(valueFile, header + stored);
    fuzz::WriteFile(platform::ToUtf8(reelpage::MediaSideFile(m, u"bmp")), thumbnail);
    fuzz::WriteFile(platform::ToUtf8(reelpage::MediaSideFile(m, u"wav")), sample);

    reelpage::ReloadHistoryForTesting();
    for (int32_t i = 0; i < reelpage::GetHistoryCount(); ++i) {
        const reelpage::MediaInfo& kept = *reelpage::GetHistoryItem(i);
        fuzz::CheckTerminated(kept.m_szFileName, "MediaInfo.m_szFileName");
        fuzz::CheckTerminated(kept.m_szName, "MediaInfo.m_szName");
        // What the history keeps is what the rest of the engine may trust.
        if (!reelpage::IsPlausible(kept)) __builtin_trap();
    }
    std::remove(valueFile.c_str());
    reelpage::RemoveSideFiles(m);
    return 0;
}
