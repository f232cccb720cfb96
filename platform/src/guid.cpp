#include "platform/guid.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/random.h>
#include <unistd.h>

namespace platform {

namespace {

bool FillFromGetrandom(uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
}

bool FillFromUrandom(uint8_t* p, size_t n) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (n > 0) {
        ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        p += got;
        n -= size_t(got);
    }
    close(fd);
    return n == 0;
}

// The text form lists Data1, Data2 and Data3 as numbers (most significant
// digit first) and Data4 byte by byte; both directions walk this table.
struct Field {
    int pos;    // first hex digit in the braced text
    int digits; // hex digits
};
constexpr Field kFields[] = {{1, 8},  {10, 4}, {15, 4}, {20, 2}, {22, 2}, {25, 2},
                             {27, 2}, {29, 2}, {31, 2}, {33, 2}, {35, 2}};

template <typename Char> int Format(const Guid& g, Char* out, int cap) {
    if (!out || cap < kGuidStringChars) return 0;
    static const char kHex[] = "0123456789ABCDEF";
    uint64_t values[11] = {g.Data1, g.Data2, g.Data3};
    for (int i = 0; i < 8; ++i)
        values[3 + i] = g.Data4[i];
    out[0] = Char('{');
    for (int f = 0; f < 11; ++f) {
        for (int d = 0; d < kFields[f].digits; ++d) {
            int shift = 4 * (kFields[f].digits - 1 - d);
            out[kFields[f].pos + d] = Char(kHex[(values[f] >> shift) & 0xF]);
        }
    }
    out[9] = out[14] = out[19] = out[24] = Char('-');
    out[37] = Char('}');
    out[38] = Char(0);
    return kGuidStringChars;
}

int HexValue(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

template <typename Char> bool Parse(std::basic_string_view<Char> s, Guid* out) {
    if (s.size() != kGuidStringChars - 1) return false;
    if (s[0] != Char('{') || s[37] != Char('}')) return false;
    for (int pos : {9, 14, 19, 24})
        if (s[pos] != Char('-')) return false;
    uint64_t values[11] = {};
    for (int f = 0; f < 11; ++f) {
        for (int d = 0; d < kFields[f].digits; ++d) {
            // Cast through the unsigned type so a negative char is never a digit.
            int v = HexValue(uint32_t(std::make_unsigned_t<Char>(s[kFields[f].pos + d])));
            if (v < 0) return false;
            values[f] = values[f] << 4 | uint64_t(v);
        }
    }
    if (!out) return true;
    out->Data1 = uint32_t(values[0]);
    out->Data2 = uint16_t(values[1]);
    out->Data3 = uint16_t(values[2]);
    for (int i = 0; i < 8; ++i)
        out->Data4[i] = uint8_t(values[3 + i]);
    return true;
}

} // namespace

bool operator==(const Guid& a, const Guid& b) {
    return std::memcmp(&a, &b, sizeof(Guid)) == 0;
}

Guid CreateGuid() {
    uint8_t bytes[16];
    if (!FillFromGetrandom(bytes, sizeof bytes) && !FillFromUrandom(bytes, sizeof bytes)) {
        std::random_device rd;
        for (size_t i = 0; i < sizeof bytes; i += 4) {
            uint32_t r = rd();
            std::memcpy(bytes + i, &r, 4);
        }
    }
    Guid g;
    std::memcpy(&g, bytes, sizeof g);
    g.Data3 = uint16_t((g.Data3 & 0x0FFF) | 0x4000);
    g.Data4[0] = uint8_t((g.Data4[0] & 0x3F) | 0x80);
    return g;
}

int GuidToString(const Guid& g, char16_t* out, int cap) {
    return Format(g, out, cap);
}
int GuidToString(const Guid& g, char* out, int cap) {
    return Format(g, out, cap);
}

std::u16string GuidToU16String(const Guid& g) {
    char16_t buf[kGuidStringChars];
    Format(g, buf, kGuidStringChars);
    return std::u16string(buf, kGuidStringChars - 1);
}

std::string GuidToU8String(const Guid& g) {
    char buf[kGuidStringChars];
    Format(g, buf, kGuidStringChars);
    return std::string(buf, kGuidStringChars - 1);
}

bool ParseGuid(std::u16string_view text, Guid* out) {
    return Parse(text, out);
}
bool ParseGuid(std::string_view text, Guid* out) {
    return Parse(text, out);
}

} // namespace platform
