#pragma once
// Where the engine finds its installation and keeps per-user files.
#include <string>

#include "reelpage/types.h"

namespace reelpage {

// The program folder: where the engine library, the helpers, the plug-ins,
// the templates and the data files stand. Set by InitFolders.
extern WCHAR g_szModulePath[kMaxPath];

// The folder of the engine library itself (UTF-8), usable before InitFolders.
std::string InstallFolder();
// Tests run the engine from their own program and point it at the build's
// program folder.
void SetInstallFolderForTesting(const std::string& folder);

// <AppData>/Zelmorix/Reelpage/Poster, set by InitFolders.
const WCHAR* PosterFolder();
// <AppData>/Zelmorix/MediaInfo, created at library load.
const WCHAR* MediaInfoFolder();
// Creates <AppData>/Zelmorix/MediaInfo and remembers it.
void CreateMediaInfoFolder();

int32_t InitFolders();
HRESULT GetPicturesFolder(WCHAR* out);

} // namespace reelpage
