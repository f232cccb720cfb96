#include "platform/folders.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : std::string();
}

std::string Home() {
    std::string home = Env("HOME");
    return home.empty() ? std::string("/") : home;
}

std::string StripSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Reads XDG_<KEY>_DIR from user-dirs.dirs: a line like
// XDG_VIDEOS_DIR="$HOME/Videos" (only "$HOME/" and absolute paths are valid).
std::string UserDir(const char* key) {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) config = Home() + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line, want = std::string("XDG_") + key + "_DIR=";
    while (std::getline(in, line)) {
        if (line.rfind(want, 0) != 0) continue;
        std::string value = line.substr(want.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) {
            std::string rest = value.substr(5);
            // "$HOME/" alone means the feature is off: fall back like no entry.
            if (rest.empty() || rest == "/") return {};
            value = Home() + rest;
        } else if (value.empty() || value.front() != '/') {
            continue;
        }
        return StripSlash(value);
    }
    return {};
}

// The runtime folder when the session names none: a folder of this user's
// own in the temporary folder, made 0700. One that is already there is used
// only when it is a real folder (not a link), ours, and closed to everybody
// else: in a folder others can write, or follow, they could plant our files
// or hold them.
int PrivateTempFolder(std::string* out) {
    std::string base = Env("TMPDIR");
    if (base.empty() || base.front() != '/') base = "/tmp";
    const std::string path = StripSlash(base) + "/reelpage-" + std::to_string(getuid());
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0) return EACCES;
    *out = path;
    return 0;
}

} // namespace

int CreateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return 0;
    if (errno == EEXIST) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
        return ENOTDIR;
    }
    return errno;
}

int GetKnownFolder(KnownFolder which, bool create, std::string* out) {
    std::string path;
    switch (which) {
    case KnownFolder::AppData:
        path = Env("XDG_DATA_HOME");
        if (path.empty()) path = Home() + "/.local/share";
        break;
    case KnownFolder::Config:
        path = Env("XDG_CONFIG_HOME");
        if (path.empty()) path = Home() + "/.config";
        break;
    case KnownFolder::Cache:
        path = Env("XDG_CACHE_HOME");
        if (path.empty()) path = Home() + "/.cache";
        break;
    case KnownFolder::Runtime:
        path = Env("XDG_RUNTIME_DIR");
        if (path.empty()) {
            if (int rc = PrivateTempFolder(&path); rc != 0) return rc;
        }
        break;
    case KnownFolder::Documents:
        path = UserDir("DOCUMENTS");
        if (path.empty()) path = Home() + "/Documents";
        break;
    case KnownFolder::Videos:
        path = UserDir("VIDEOS");
        if (path.empty()) path = Home() + "/Videos";
        break;
    case KnownFolder::Pictures:
        path = UserDir("PICTURES");
        if (path.empty()) path = Home() + "/Pictures";
        break;
    }
    path = StripSlash(path);
    if (create) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        if (ec) return ec.value() ? ec.value() : EIO;
    }
    if (out) *out = path;
    return 0;
}

std::string ExecutableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().string();
}

std::string ModuleFolder(const void* addressInModule) {
    Dl_info info{};
    if (!dladdr(addressInModule, &info) || !info.dli_fname) return ExecutableFolder();
    std::error_code ec;
    auto path = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) return ExecutableFolder();
    return path.parent_path().string();
}

} // namespace platform
