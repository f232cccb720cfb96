#pragma once
// HOME, the XDG folders and the machine-wide registry root of a process, all
// below one folder of its own, so that it never reads or writes the user's
// real settings, logs or registry store.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace testing_home {

// Creates the folders below home and points the variables at them; false
// when a folder cannot be made.
inline bool PointHomeAt(const std::string& home) {
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", ""},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_RUNTIME_DIR", "/run"},
        // A folder the process owns, so that the fallback to the per-user
        // store can be exercised by making it read-only.
        {"REELPAGE_MACHINE_REGISTRY", "/machine-registry"},
    };
    for (const auto& [variable, below] : folders) {
        const std::string path = home + below;
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        if (ec) return false;
        setenv(variable, path.c_str(), 1);
    }
    return true;
}

} // namespace testing_home
