#pragma once
// UTF-16 strings in fixed-size record fields. Every copy and format is bounded
// by the field's capacity in characters and always leaves a terminating NUL, so
// no field is ever written past its end. Paths become UTF-8 only at system calls.
#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

size_t WStrLen(const char16_t* s);
size_t WStrNLen(const char16_t* s, size_t cap);

// Copies at most cap - 1 characters and the NUL; cap 0 writes nothing.
void WStrCopy(char16_t* dst, size_t cap, const char16_t* src);
void WStrCopy(char16_t* dst, size_t cap, std::u16string_view src);
template <size_t N> inline void WStrCopy(char16_t (&dst)[N], std::u16string_view src) {
    WStrCopy(dst, N, src);
}

// Makes sure a field read from outside holds a NUL inside its bounds.
void WStrTerminate(char16_t* field, size_t cap);

// Case-insensitive comparison for ASCII and Latin-1 letters; other characters
// compare by code unit.
int WStrICmp(std::u16string_view a, std::u16string_view b);

std::string ToUtf8(std::u16string_view s);
std::string ToUtf8(const char16_t* s);
std::u16string FromUtf8(std::string_view s);

// printf-style formatting into a UTF-16 field. "%ls" takes a const char16_t*,
// "%hs" and "%s" a UTF-8 const char*, everything else follows printf ("%I64u"
// is read as "%llu"). The result is cut to cap - 1 characters. Returns the
// number of characters written.
int WFormat(char16_t* dst, size_t cap, const char* fmt, ...);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The va_list form of FormatU8.
std::string VFormatU8(const char* fmt, va_list ap);
// Same as WFormat but returns UTF-8 (for paths used at system calls).
std::string FormatU8(const char* fmt, ...);

} // namespace platform
