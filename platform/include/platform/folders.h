#pragma once
// Where things live: the folder of a loaded module, and the user's known
// folders after the XDG rules (user-dirs.dirs, then $HOME fallbacks).
#include <string>

namespace platform {

enum class KnownFolder {
    AppData,   // $XDG_DATA_HOME, else ~/.local/share
    Documents, // XDG_DOCUMENTS_DIR, else ~/Documents
    Videos,    // XDG_VIDEOS_DIR, else ~/Videos
    Pictures,  // XDG_PICTURES_DIR, else ~/Pictures
    Config,    // $XDG_CONFIG_HOME, else ~/.config
    Runtime,   // $XDG_RUNTIME_DIR, else a private $TMPDIR/reelpage-<uid> (0700, made safely)
    Cache,     // $XDG_CACHE_HOME, else ~/.cache
};

// Path of a known folder without a trailing '/'. With create set the folder
// (and its parents) is created when missing. Returns 0, or an errno value
// when the folder cannot be named or created.
int GetKnownFolder(KnownFolder which, bool create, std::string* out);

// Folder of the executable of this process, without the trailing '/'.
std::string ExecutableFolder();

// Folder of the shared object or executable that holds the given address.
std::string ModuleFolder(const void* addressInModule);

// Creates one folder; an existing folder is fine. Returns 0 or errno.
int CreateFolder(const std::string& path);

} // namespace platform
