// Build tool: turns the readable product texts into the scrambled product.ifo.
//
// The engine reads the file as 64-bit little-endian words and replaces each,
// in ascending order, by (w[i] << 3) | (w[i+1] >> 61). This tool writes the
// words that give back the plain texts under that rule.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

static const char* const kKeys[] = {"guid",    "key",         "title",     "homepage",
                                    "company", "email",       "description", "copyright",
                                    "version", "updatepage"};

static std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkproduct SOURCE.txt OUTPUT.ifo\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "mkproduct: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<std::string> values;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        std::string key = eq == std::string::npos ? t : Trim(t.substr(0, eq));
        size_t index = values.size();
        if (eq == std::string::npos || index >= std::size(kKeys) || key != kKeys[index]) {
            std::fprintf(stderr, "mkproduct: %s:%d: expected \"%s = ...\"\n", argv[1], lineNo,
                         index < std::size(kKeys) ? kKeys[index] : "end of file");
            return 1;
        }
        values.push_back(Trim(t.substr(eq + 1)));
    }
    if (values.size() != std::size(kKeys)) {
        std::fprintf(stderr, "mkproduct: %s: %zu of %zu texts\n", argv[1], values.size(),
                     std::size(kKeys));
        return 1;
    }

    std::string plain;
    for (const auto& v : values) plain += v + '\0';
    size_t words = (plain.size() + 7) / 8;
    std::vector<uint64_t> p(words + 1, 0), s(words + 1, 0);
    std::memcpy(p.data(), plain.data(), plain.size());
    s[0] = p[0] >> 3;
    for (size_t i = 1; i <= words; ++i) s[i] = (p[i] >> 3) | (p[i - 1] << 61);
    // Drop trailing zero words: the reader counts bytes past the end as zero.
    while (s.size() > 1 && s.back() == 0) s.pop_back();

    std::string temp = std::string(argv[2]) + ".tmp";
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (uint64_t w : s) {
        unsigned char b[8];
        for (int k = 0; k < 8; ++k) b[k] = uint8_t(w >> (8 * k));
        out.write(reinterpret_cast<const char*>(b), 8);
    }
    out.close();
    if (!out || std::rename(temp.c_str(), argv[2]) != 0) {
        std::fprintf(stderr, "mkproduct: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
