#pragma once
#include <string>

#include "reelpage/records.h"

namespace reelpage {

// Appends the templates named in Templates/<listName> of the program folder.
void LoadTemplateList(const char16_t* listName);

int32_t GetTemplateCount();
TemplateEntry* GetTemplate(int32_t index);

} // namespace reelpage
