#include "InstallManifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

namespace fs = std::filesystem;

namespace manifest {

std::string HashFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    AVSHA* sha = av_sha_alloc();
    if (!sha) {
        std::fclose(f);
        return {};
    }
    av_sha_init(sha, 256);
    std::vector<uint8_t> buf(1 << 20);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) av_sha_update(sha, buf.data(), n);
    bool failed = std::ferror(f);
    std::fclose(f);
    uint8_t digest[32];
    av_sha_final(sha, digest);
    av_free(sha);
    if (failed) return {};
    char hex[65];
    for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return std::string(hex, 64);
}

int Write(const std::string& folder) {
    std::error_code ec;
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string rel = fs::relative(it->path(), folder).generic_string();
        if (rel == kFileName || rel.find('\n') != std::string::npos) continue;
        files.push_back(rel);
    }
    if (ec) return ec.value();
    std::sort(files.begin(), files.end());
    std::ostringstream out;
    out << "reelpage-manifest 1\n";
    for (const auto& rel : files) {
        std::string path = folder + "/" + rel;
        std::string hash = HashFile(path);
        if (hash.empty()) return EIO;
        out << hash << ' ' << fs::file_size(path) << ' ' << rel << '\n';
    }
    std::string target = folder + "/" + kFileName, temp = target + ".tmp";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        f << out.str();
        if (!f) return EIO;
    }
    fs::rename(temp, target, ec);
    return ec ? ec.value() : 0;
}

namespace {

constexpr const char* kCacheHeader = "reelpage-verified 1";

// What identifies one state of a file: any write changes the change time,
// which no user can set back, so an equal identity means the same bytes.
// A file changed within the last seconds may change again within the
// resolution of its times without them moving: such files are hashed at
// every check until they have been still for a while.
constexpr time_t kSettledSeconds = 2;

std::string Identity(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    if (st.st_ctim.tv_sec + kSettledSeconds > time(nullptr) ||
        st.st_mtim.tv_sec + kSettledSeconds > time(nullptr))
        return {};
    char text[160];
    std::snprintf(text, sizeof text, "%llu %llu %lld %lld.%09ld %lld.%09ld",
                  static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec,
                  static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
    return text;
}

// "<path>\t<identity>\t<hash>" lines: files whose hash matched when they had
// that identity.
using VerifiedFiles = std::map<std::string, std::pair<std::string, std::string>>;

VerifiedFiles ReadCache(const std::string& cachePath) {
    VerifiedFiles files;
    std::ifstream in(cachePath);
    std::string line;
    if (cachePath.empty() || !std::getline(in, line) || line != kCacheHeader) return files;
    while (std::getline(in, line)) {
        const size_t a = line.find('\t');
        const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        if (b == std::string::npos) continue;
        files[line.substr(0, a)] = {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    }
    return files;
}

// Written whole under a temporary name and renamed: a cache that cannot be
// written only costs the next start the hashing.
void WriteCache(const std::string& cachePath, const VerifiedFiles& files) {
    std::ostringstream out;
    out << kCacheHeader << '\n';
    for (const auto& [path, entry] : files)
        if (path.find_first_of("\t\n") == std::string::npos)
            out << path << '\t' << entry.first << '\t' << entry.second << '\n';
    const std::string temp = cachePath + ".tmp";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        f << out.str();
        f.flush();
        if (!f) {
            std::remove(temp.c_str());
            return;
        }
    }
    std::error_code ec;
    fs::rename(temp, cachePath, ec);
    if (ec) std::remove(temp.c_str());
}

} // namespace

int Verify(const std::string& folder, std::string* firstProblem, const std::string& cachePath) {
    std::ifstream in(folder + "/" + kFileName);
    if (!in) return 2;
    std::string line;
    if (!std::getline(in, line) || line != "reelpage-manifest 1") return 13;
    auto problem = [&](int code, const std::string& what) {
        if (firstProblem) *firstProblem = what;
        return code;
    };
    VerifiedFiles verified = ReadCache(cachePath);
    bool learned = false;
    while (std::getline(in, line)) {
        // "<64 hex> <size> <path>": the path may hold blanks, so split twice.
        size_t a = line.find(' ');
        size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (a != 64 || b == std::string::npos || b + 1 >= line.size()) return problem(13, line);
        std::string hash = line.substr(0, a), rel = line.substr(b + 1);
        unsigned long long size = 0;
        if (std::sscanf(line.c_str() + a + 1, "%llu", &size) != 1) return problem(13, line);
        if (rel.find("..") != std::string::npos || rel.front() == '/') return problem(13, line);
        std::string path = folder + "/" + rel;
        std::error_code ec;
        auto actual = fs::file_size(path, ec);
        if (ec) return problem(3, rel);
        if (actual != size) return problem(4, rel);
        // Hashing every installed file on every start costs more than the
        // rest of a start; a file unchanged since its hash last matched the
        // same manifest line is not read again.
        const std::string identity = Identity(path);
        auto known = verified.find(path);
        if (!identity.empty() && known != verified.end() && known->second.first == identity &&
            known->second.second == hash)
            continue;
        if (HashFile(path) != hash) return problem(4, rel);
        if (!identity.empty()) {
            verified[path] = {identity, hash};
            learned = true;
        }
    }
    if (learned && !cachePath.empty()) WriteCache(cachePath, verified);
    return 0;
}

} // namespace manifest
