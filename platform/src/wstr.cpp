#include "platform/wstr.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform {

size_t WStrLen(const char16_t* s) {
    if (!s) return 0;
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

size_t WStrNLen(const char16_t* s, size_t cap) {
    size_t n = 0;
    while (n < cap && s[n]) ++n;
    return n;
}

void WStrCopy(char16_t* dst, size_t cap, std::u16string_view src) {
    if (cap == 0) return;
    size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
    // Never end a field with half of a surrogate pair.
    if (n > 0 && n < src.size() && src[n - 1] >= 0xD800 && src[n - 1] <= 0xDBFF) --n;
    std::memmove(dst, src.data(), n * sizeof(char16_t));
    dst[n] = 0;
}

void WStrCopy(char16_t* dst, size_t cap, const char16_t* src) {
    WStrCopy(dst, cap, src ? std::u16string_view(src, WStrLen(src)) : std::u16string_view());
}

void WStrTerminate(char16_t* field, size_t cap) {
    if (cap && WStrNLen(field, cap) == cap) field[cap - 1] = 0;
}

static char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

int WStrICmp(std::u16string_view a, std::u16string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string ToUtf8(const char16_t* s) {
    return s ? ToUtf8(std::u16string_view(s, WStrLen(s))) : std::string();
}

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = s[i];
        uint32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (i + extra >= s.size()) {
            out += u'\uFFFD';
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cb = s[i + k];
            if ((cb & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

// Formats with printf rules, except that "%ls" takes UTF-16 and "%I64" means "%ll".
std::string VFormatU8(const char* fmt, va_list ap) {
    std::string out;
    const char* p = fmt;
    while (*p) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        // Collect one conversion: flags, width, precision, length, type.
        std::string conv = "%";
        ++p;
        while (*p && std::strchr("-+ #0", *p)) conv += *p++;
        bool starWidth = false, starPrec = false;
        if (*p == '*') {
            starWidth = true;
            conv += *p++;
        }
        while (*p >= '0' && *p <= '9') conv += *p++;
        if (*p == '.') {
            conv += *p++;
            if (*p == '*') {
                starPrec = true;
                conv += *p++;
            }
            while (*p >= '0' && *p <= '9') conv += *p++;
        }
        std::string len;
        if (std::strncmp(p, "I64", 3) == 0) {
            len = "ll";
            p += 3;
        } else {
            while (*p && std::strchr("hlLqjzt", *p)) len += *p++;
        }
        char type = *p ? *p++ : 0;
        int w = starWidth ? va_arg(ap, int) : 0;
        int pr = starPrec ? va_arg(ap, int) : 0;
        char buf[512];
        auto emit = [&](auto value) {
            std::string f = conv + len + type;
            int n;
            if (starWidth && starPrec) n = std::snprintf(buf, sizeof buf, f.c_str(), w, pr, value);
            else if (starWidth) n = std::snprintf(buf, sizeof buf, f.c_str(), w, value);
            else if (starPrec) n = std::snprintf(buf, sizeof buf, f.c_str(), pr, value);
            else n = std::snprintf(buf, sizeof buf, f.c_str(), value);
            if (n > 0) out.append(buf, n < int(sizeof buf) ? n : int(sizeof buf) - 1);
        };
        switch (type) {
        case 's':
            if (len == "l" || len == "w") {
                std::string u8 = ToUtf8(va_arg(ap, const char16_t*));
                len.clear();
                std::string f = conv + "s";
                int n = std::snprintf(nullptr, 0, f.c_str(), u8.c_str());
                std::string tmp(n, '\0');
                std::snprintf(tmp.data(), n + 1, f.c_str(), u8.c_str());
                out += tmp;
            } else {
                const char* s = va_arg(ap, const char*);
                len.clear();
                std::string f = conv + "s";
                int n = std::snprintf(nullptr, 0, f.c_str(), s ? s : "(null)");
                std::string tmp(n, '\0');
                std::snprintf(tmp.data(), n + 1, f.c_str(), s ? s : "(null)");
                out += tmp;
            }
            break;
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
        case 'c':
            if (len == "ll" || len == "q" || len == "j") emit(va_arg(ap, long long));
            else if (len == "l" || len == "z" || len == "t") emit(va_arg(ap, long));
            else emit(va_arg(ap, int));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            if (len == "L") emit(va_arg(ap, long double));
            else emit(va_arg(ap, double));
            break;
        case 'p':
            emit(va_arg(ap, void*));
            break;
        default:
            out += conv + len;
            if (type) out += type;
            break;
        }
    }
    return out;
}

int WFormat(char16_t* dst, size_t cap, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string u8 = VFormatU8(fmt, ap);
    va_end(ap);
    std::u16string w = FromUtf8(u8);
    WStrCopy(dst, cap, w);
    return cap ? int(WStrLen(dst)) : 0;
}

std::string FormatU8(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string u8 = VFormatU8(fmt, ap);
    va_end(ap);
    return u8;
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), n + 1, fmt, ap2);
    va_end(ap2);
    return out;
}

} // namespace platform
