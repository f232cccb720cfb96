// The catalogue of installed page templates, read once from two list files.
#include "publishing/Templates.h"

#include "system/Folders.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

#include "platform/wstr.h"

namespace reelpage {

namespace {

std::vector<TemplateEntry> g_Templates;

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void LoadTemplateList(const char16_t* listName) {
    char16_t path[kMaxPath];
    platform::WFormat(path, kMaxPath, "%ls/Templates/%ls", g_szModulePath, listName);
    std::ifstream in(platform::ToUtf8(path), std::ios::binary);
    if (!in) return;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    AppendTemplates(bytes, &g_Templates);
}

void AppendTemplates(std::string_view bytes, std::vector<TemplateEntry>* out) {
    // UTF-16LE after a two-byte mark that is skipped unread.
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find(u'\n', pos);
        if (eol == std::u16string::npos) eol = text.size();
        std::u16string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        // A CR ends the line's text; anything after it on the line is ignored.
        if (size_t cr = line.find(u'\r'); cr != std::u16string::npos) line.resize(cr);
        // A NUL inside the file ends the text, as for any NUL-terminated buffer.
        if (size_t nul = line.find(u'\0'); nul != std::u16string::npos) {
            line.resize(nul);
            pos = text.size();
        }
        if (line.empty()) continue;

        TemplateEntry e;
        std::memset(&e, 0, sizeof e);
        platform::WStrCopy(e.szName, line);
        platform::WFormat(e.szPreview, kMaxPath, "%ls/Templates/Resource/%ls.png", g_szModulePath,
                          line.c_str());
        char16_t ad[kMaxPath];
        platform::WFormat(ad, kMaxPath, "%ls/Templates/%ls/ad", g_szModulePath, line.c_str());
        e.bHasAd = IsFolder(platform::ToUtf8(ad)) ? 1 : 0;
        out->push_back(e);
    }
}

int32_t GetTemplateCount() { return int32_t(g_Templates.size()); }

TemplateEntry* GetTemplate(int32_t index) {
    if (index < 0 || size_t(index) >= g_Templates.size()) return nullptr;
    return &g_Templates[index];
}

} // namespace reelpage
