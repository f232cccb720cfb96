#include "InstallManifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
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

int Verify(const std::string& folder, std::string* firstProblem) {
    std::ifstream in(folder + "/" + kFileName);
    if (!in) return 2;
    std::string line;
    if (!std::getline(in, line) || line != "reelpage-manifest 1") return 13;
    auto problem = [&](int code, const std::string& what) {
        if (firstProblem) *firstProblem = what;
        return code;
    };
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
        if (actual != size || HashFile(path) != hash) return problem(4, rel);
    }
    return 0;
}

} // namespace manifest
