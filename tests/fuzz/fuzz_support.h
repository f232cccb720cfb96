#pragma once
// What the fuzz targets share: a private home for the process, and files
// written from the fuzzer's input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// The process's HOME, with the XDG folders and the machine-wide registry
// root below it: $REELPAGE_FUZZ_HOME when set, else a new temporary folder
// removed at exit. Made on the first call; every target calls it first.
const std::string& Home();

// Replaces path with exactly these bytes; aborts when it cannot, since a
// target that silently reads something else would fuzz nothing.
void WriteFile(const std::string& path, std::string_view bytes);

// Creates path and its parents; aborts when it cannot.
void MakeFolders(const std::string& path);

// Aborts, naming the field, when it holds no NUL: whoever reads it next
// would run past its end.
void CheckTerminated(const char16_t* field, size_t cap, const char* what);
template <size_t N> void CheckTerminated(const char16_t (&field)[N], const char* what) {
    CheckTerminated(field, N, what);
}

// UTF-16 text from bytes, two a unit (little-endian), an odd last byte dropped.
std::u16string Utf16(std::string_view bytes);

inline std::string_view Bytes(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace fuzz
