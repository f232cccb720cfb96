#include "picture/encoders.h"

#include <algorithm>
#include <cctype>

namespace picture {
namespace {

// Our own ids, laid out like a GUID in memory (Data1 and the two 16-bit
// fields little-endian): {4F01BB0n-4EA2-4722-8AAD-19A794EF9EE9}, n = 1..5.
constexpr EncoderId MakeId(uint8_t n) {
    return EncoderId{{n, 0xBB, 0x01, 0x4F, 0xA2, 0x4E, 0x22, 0x47, 0x8A, 0xAD, 0x19, 0xA7, 0x94,
                      0xEF, 0x9E, 0xE9}};
}

constexpr ImageEncoder kEncoders[] = {
    {"image/bmp", MakeId(1)},  {"image/jpeg", MakeId(2)}, {"image/gif", MakeId(3)},
    {"image/tiff", MakeId(4)}, {"image/png", MakeId(5)},
};

struct ExtensionRule {
    const char* extension;
    const char* mimeType;
};
// Tried in this order; the first match wins.
constexpr ExtensionRule kExtensions[] = {
    {"bmp", "image/bmp"},  {"jpeg", "image/jpeg"}, {"jpg", "image/jpeg"}, {"gif", "image/gif"},
    {"tif", "image/tiff"}, {"tiff", "image/tiff"}, {"png", "image/png"},
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

bool EncoderId::IsZero() const {
    return std::all_of(std::begin(bytes), std::end(bytes), [](uint8_t b) { return b == 0; });
}

std::span<const ImageEncoder> ImageEncoders() {
    return kEncoders;
}

bool FindEncoderByMimeType(std::string_view mimeType, EncoderId& out) {
    for (const ImageEncoder& e : kEncoders) {
        if (EqualsIgnoreCase(e.mimeType, mimeType)) {
            out = e.id;
            return true;
        }
    }
    return false;
}

const char* MimeTypeOfEncoder(const EncoderId& id) {
    if (id.IsZero()) return nullptr;
    for (const ImageEncoder& e : kEncoders)
        if (e.id == id) return e.mimeType;
    return nullptr;
}

bool FindEncoderByPath(std::string_view path, EncoderId& out) {
    size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return false;
    std::string_view extension = name.substr(dot + 1);
    for (const ExtensionRule& rule : kExtensions) {
        if (EqualsIgnoreCase(rule.extension, extension))
            return FindEncoderByMimeType(rule.mimeType, out);
    }
    return false;
}

} // namespace picture
