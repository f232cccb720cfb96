#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "reelpage/records.h"

namespace reelpage {

// Appends the templates named in Templates/<listName> of the program folder.
void LoadTemplateList(const char16_t* listName);
// Appends an entry for every template a list file's bytes name: UTF-16LE
// after a two-byte mark, one name a line.
void AppendTemplates(std::string_view listBytes, std::vector<TemplateEntry>* out);

int32_t GetTemplateCount();
TemplateEntry* GetTemplate(int32_t index);

} // namespace reelpage
