// The registry store's value files: any file name and any content in a key's
// folder (another program, a damaged disk or a hand edit may leave either),
// read by enumeration and by name as the engine reads its values.
#include "fuzz_support.h"

#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

#include "platform/registry.h"

namespace {

std::string g_keyFolder;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Home();
    platform::RegKey key;
    if (platform::RegCreateKey(platform::RegRoot::CurrentUser, u"Fuzz", &key) != 0) __builtin_trap();
    g_keyFolder = key.Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::string file = in.ConsumeRandomLengthString(300);
    // What a folder entry cannot be called.
    std::erase(file, '/');
    std::erase(file, '\0');
    if (file.empty() || file == "." || file == ".." || file.size() > 255) return 0;
    const std::u16string asked = fuzz::Utf16(in.ConsumeRandomLengthString(64));
    const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(0, 64);
    fuzz::WriteFile(g_keyFolder + "/" + file, in.ConsumeRemainingBytesAsString());

    platform::RegKey key;
    if (platform::RegOpenKey(platform::RegRoot::CurrentUser, u"Fuzz", &key) != 0) __builtin_trap();
    std::vector<std::u16string> names;
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> value;
    for (uint32_t i = 0; platform::RegEnumValue(key, i, &name, &type, &value) == 0; ++i)
        names.push_back(name);
    names.push_back(asked);
    for (const std::u16string& n : names) {
        // Never a null buffer, which asks for the size only.
        std::vector<uint8_t> buffer(capacity + 1);
        uint32_t got = capacity;
        const int rc = platform::RegQueryValue(key, n, &type, buffer.data(), &got);
        if (rc == 0 && got > capacity) __builtin_trap(); // said to fit, but larger
        uint32_t needed = 0;
        platform::RegQueryValue(key, n, &type, nullptr, &needed);
    }
    std::error_code ec;
    std::filesystem::remove(g_keyFolder + "/" + file, ec);
    return 0;
}
