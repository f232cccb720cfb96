#pragma once
#include "reelpage/records.h"

namespace reelpage {

// The one Settings record of the process (zero until InitEngine loads it).
Settings& TheSettings();
// Loads the record from the registry, or applies the defaults.
void LoadSettings();

Settings* GetSettings();
// The defaults beyond the record, loaded and saved with it.
MoreSettings* GetMoreSettings();
MoreSettings& TheMoreSettings();
int32_t SaveSettings();

} // namespace reelpage
