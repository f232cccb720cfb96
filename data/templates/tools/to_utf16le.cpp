// Build tool: turns a UTF-8 source file into the UTF-16LE text with a byte-order
// mark that the engine reads for template lists and template pages.
//
//   to_utf16le [--max-bytes N] <input> <output>
//
// The input must be well-formed UTF-8 (a leading UTF-8 byte-order mark is
// dropped so it is not doubled). Malformed input fails the build instead of
// shipping a page the engine would mangle. --max-bytes refuses a result larger
// than the engine will read, so an oversized template is caught here and not by
// a user whose page is silently cut off. The output is written to a temporary
// file and renamed, so a failed run never leaves a half-written file behind.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace {

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) into UTF-16LE bytes. Returns the offset of the first bad byte on
// failure.
std::optional<size_t> Utf8ToUtf16Le(const std::string& in, std::string& out) {
    auto put = [&out](uint32_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    };
    size_t i = 0;
    while (i < in.size()) {
        const auto b0 = static_cast<unsigned char>(in[i]);
        uint32_t cp = 0;
        size_t len = 0;
        if (b0 < 0x80) {
            cp = b0;
            len = 1;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            cp = b0 & 0x1F;
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            cp = b0 & 0x0F;
            len = 3;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            cp = b0 & 0x07;
            len = 4;
        } else {
            return i;
        }
        if (i + len > in.size()) return i;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(in[i + k]);
            if ((b & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (b & 0x3F);
        }
        const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return i;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    return std::nullopt;
}

int Fail(const char* what, const char* path) {
    std::fprintf(stderr, "to_utf16le: %s: %s\n", path, what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    unsigned long long maxBytes = 0;
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--max-bytes") == 0) {
        char* end = nullptr;
        maxBytes = std::strtoull(argv[arg + 1], &end, 10);
        if (end == argv[arg + 1] || *end != '\0' || maxBytes == 0) {
            std::fprintf(stderr, "to_utf16le: bad --max-bytes value '%s'\n", argv[arg + 1]);
            return 2;
        }
        arg += 2;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: to_utf16le [--max-bytes N] <input> <output>\n");
        return 2;
    }
    const char* inPath = argv[arg];
    const char* outPath = argv[arg + 1];

    std::ifstream in(inPath, std::ios::binary);
    if (!in) return Fail(std::strerror(errno), inPath);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return Fail("read error", inPath);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    std::string utf16 = "\xFF\xFE";
    utf16.reserve(2 + text.size() * 2);
    if (auto bad = Utf8ToUtf16Le(text, utf16)) {
        std::fprintf(stderr, "to_utf16le: %s: malformed UTF-8 at byte %zu\n", inPath, *bad);
        return 1;
    }
    if (maxBytes && utf16.size() > maxBytes) {
        std::fprintf(stderr, "to_utf16le: %s: %zu bytes as UTF-16, more than the %llu allowed\n",
                     inPath, utf16.size(), maxBytes);
        return 1;
    }

    const std::string tmpPath = std::string(outPath) + ".tmp";
    {
        std::ofstream out(tmpPath, std::ios::binary | std::ios::trunc);
        if (!out) return Fail(std::strerror(errno), tmpPath.c_str());
        out.write(utf16.data(), static_cast<std::streamsize>(utf16.size()));
        out.close();
        if (!out) {
            std::remove(tmpPath.c_str());
            return Fail("write error", tmpPath.c_str());
        }
    }
    if (std::rename(tmpPath.c_str(), outPath) != 0) {
        const int err = errno;
        std::remove(tmpPath.c_str());
        return Fail(std::strerror(err), outPath);
    }
    return 0;
}
