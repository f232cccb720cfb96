#pragma once
// 16-byte identifiers laid out like the Windows GUID, so that a record holding
// one keeps its byte layout, and their braced text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" that names registry values and files.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace platform {

struct Guid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(Guid) == 16 && alignof(Guid) == 4);
static_assert(std::is_trivially_copyable_v<Guid> && std::is_standard_layout_v<Guid>);

bool operator==(const Guid& a, const Guid& b);

// The HRESULT to report when a value name is not a braced GUID (the code the
// Windows call for the same job fails with).
constexpr uint32_t CO_E_CLASSSTRING = 0x800401F3;

// Characters of the braced form including the terminating NUL.
constexpr int kGuidStringChars = 39;

// A random (version 4, RFC 4122 variant) identifier. The bytes come from
// getrandom(); /dev/urandom and std::random_device stand in when the system
// call is unavailable, so the function always returns an identifier.
Guid CreateGuid();

// Writes the braced upper-case form and its NUL. Returns 39 (characters
// written, NUL included), or 0 and writes nothing when cap < 39.
int GuidToString(const Guid& g, char16_t* out, int cap);
int GuidToString(const Guid& g, char* out, int cap);
std::u16string GuidToU16String(const Guid& g);
std::string GuidToU8String(const Guid& g);

// Accepts exactly the 38-character braced form, hex digits in either case.
// Anything else (no braces, other lengths, misplaced hyphens, non-hex digits,
// surrounding blanks) is rejected: returns false and leaves *out untouched.
bool ParseGuid(std::u16string_view text, Guid* out);
bool ParseGuid(std::string_view text, Guid* out);

} // namespace platform
