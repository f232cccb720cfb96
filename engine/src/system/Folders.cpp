#include "system/Folders.h"

#include "system/Exports.h"
#include "InstallManifest.h"
#include "system/Log.h"

#include "platform/folders.h"
#include "platform/wstr.h"

namespace reelpage {

WCHAR g_szModulePath[kMaxPath];

namespace {

WCHAR g_szPosterFolder[kMaxPath];
WCHAR g_szMediaInfoFolder[kMaxPath];
std::string g_installOverride;

// Appends "/name" to a path field (cut at the field's end) and creates it;
// an existing folder is fine and other failures are not fatal here.
void AppendAndCreate(WCHAR* path, const char16_t* name) {
    std::u16string joined = std::u16string(path) + u"/" + name;
    platform::WStrCopy(path, kMaxPath, joined);
    platform::CreateFolder(platform::ToUtf8(path));
}

} // namespace

std::string InstallFolder() {
    if (!g_installOverride.empty()) return g_installOverride;
    return platform::ModuleFolder(reinterpret_cast<const void*>(&InstallFolder));
}

void SetInstallFolderForTesting(const std::string& folder) { g_installOverride = folder; }

const WCHAR* PosterFolder() { return g_szPosterFolder; }
const WCHAR* MediaInfoFolder() { return g_szMediaInfoFolder; }

void CreateMediaInfoFolder() {
    std::string appData;
    // Created along the way: a fresh account may not have it yet, and the
    // probe's files go below it.
    platform::GetKnownFolder(platform::KnownFolder::AppData, true, &appData);
    platform::WStrCopy(g_szMediaInfoFolder, platform::FromUtf8(appData));
    AppendAndCreate(g_szMediaInfoFolder, u"Zelmorix");
    AppendAndCreate(g_szMediaInfoFolder, u"MediaInfo");
}

int32_t InitFolders() {
    std::string install = InstallFolder();
    platform::WStrCopy(g_szModulePath, platform::FromUtf8(install));

    std::string appData;
    // Created along the way: a fresh account may not have it yet.
    platform::GetKnownFolder(platform::KnownFolder::AppData, true, &appData);
    platform::WStrCopy(g_szPosterFolder, platform::FromUtf8(appData));
    AppendAndCreate(g_szPosterFolder, u"Zelmorix");
    AppendAndCreate(g_szPosterFolder, u"Reelpage");
    AppendAndCreate(g_szPosterFolder, u"Poster");

    // What the check learnt stays in the user's cache folder, so that only
    // the first start after an installation or an update reads every file.
    std::string cache;
    if (platform::GetKnownFolder(platform::KnownFolder::Cache, true, &cache) == 0 &&
        platform::CreateFolder(cache + "/reelpage") == 0)
        cache += "/reelpage/install-check";
    else
        cache.clear();
    std::string problem;
    int rc = manifest::Verify(install, &problem, cache);
    if (rc != 0)
        LogWrite(kLogError, "Installation check failed(%d): %s\n", rc, problem.c_str());
    return rc;
}

HRESULT GetPicturesFolder(WCHAR* out) {
    out[0] = 0;
    std::string folder;
    int rc = platform::GetKnownFolder(platform::KnownFolder::Pictures, true, &folder);
    if (rc != 0) return E_FAIL;
    platform::WStrCopy(out, kMaxPath, platform::FromUtf8(folder));
    return S_OK;
}

} // namespace reelpage
