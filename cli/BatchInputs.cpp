#include "BatchInputs.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string.h>

namespace reelpage::cli {

namespace {

namespace fs = std::filesystem;

// Containers that hold video as a rule; raw streams and playlists are left to
// be named one by one.
constexpr std::string_view kVideoExtensions[] = {
    "3g2", "3gp", "3gpp", "asf",  "avi", "divx", "dv",   "f4v",  "flv", "ivf", "m2t", "m2ts",
    "m2v", "m4v", "mkv",  "mod",  "mov", "mp4",  "mpeg", "mpg",  "mts", "mxf", "nut", "ogm",
    "ogv", "qt",  "rm",   "rmvb", "tod", "ts",   "vob",  "webm", "wmv", "y4m"};

bool Hidden(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

// The folder's videos as paths relative to it, in name order.
std::vector<std::string> VideosIn(const fs::path& folder, bool recursive, std::string* error) {
    std::vector<std::string> found;
    std::error_code ec;
    const auto take = [&](const fs::directory_entry& entry) {
        std::error_code ignored;
        if (!Hidden(entry.path()) && entry.is_regular_file(ignored) &&
            IsVideoFileName(entry.path().filename().string()))
            found.push_back(entry.path().lexically_relative(folder).string());
    };
    if (recursive) {
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (Hidden(it->path())) {
                it.disable_recursion_pending();
                continue;
            }
            take(*it);
        }
    } else {
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec))
            take(*it);
    }
    if (ec) {
        *error = "the folder cannot be read: " + ec.message();
        return {};
    }
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return strverscmp(a.c_str(), b.c_str()) < 0;
    });
    if (found.empty())
        *error =
            recursive ? "no video files in the folder or below it" : "no video files in the folder";
    return found;
}

} // namespace

bool IsVideoFileName(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string ext(name.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return std::find(std::begin(kVideoExtensions), std::end(kVideoExtensions), ext) !=
           std::end(kVideoExtensions);
}

std::vector<BatchInput> ListBatchInputs(const std::vector<std::string>& args, bool recursive) {
    std::vector<BatchInput> inputs;
    std::set<std::string> seen; // by the path with links resolved
    const auto add = [&](const std::string& path) {
        std::error_code ec;
        const fs::path real = fs::canonical(path, ec);
        if (!seen.insert(ec ? path : real.string()).second) return;
        inputs.push_back({path, {}});
    };
    for (const std::string& arg : args) {
        std::error_code ec;
        if (!fs::is_directory(arg, ec)) {
            add(arg);
            continue;
        }
        std::string error;
        const std::vector<std::string> videos = VideosIn(arg, recursive, &error);
        if (!error.empty()) inputs.push_back({arg, error});
        std::string folder = arg;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        for (const std::string& video : videos)
            add(folder == "/" ? folder + video : folder + "/" + video);
    }
    return inputs;
}

} // namespace reelpage::cli
