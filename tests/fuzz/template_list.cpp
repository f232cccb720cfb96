// The template lists of the program folder (Templates/*.lst): any bytes,
// read as the catalogue reads them.
#include "fuzz_support.h"
#include "publishing/Templates.h"
#include "system/Folders.h"

#include <vector>

#include "platform/wstr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A program folder of realistic length, so that the names' paths are
    // made as long as they are installed.
    const std::string folder = fuzz::Home() + "/usr/lib/reelpage";
    fuzz::MakeFolders(folder + "/Templates/Resource");
    platform::WStrCopy(reelpage::g_szModulePath, platform::FromUtf8(folder));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<reelpage::TemplateEntry> entries;
    reelpage::AppendTemplates(fuzz::Bytes(data, size), &entries);
    for (const reelpage::TemplateEntry& e : entries) {
        fuzz::CheckTerminated(e.szName, "TemplateEntry.szName");
        fuzz::CheckTerminated(e.szPreview, "TemplateEntry.szPreview");
        if (e.szName[0] == 0) __builtin_trap(); // an empty line is no template
    }
    return 0;
}
