// The page templates as installed in the program folder: what the engine will
// read there (lists and pages as UTF-16LE after a two-byte mark, at most
// 131,072 bytes, expanded into 65,536 units) and what a published page needs.
// A mistake here is silent at run time: a misspelt placeholder stays in every
// published page, an oversized page is cut off, a listed folder without a page
// publishes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const fs::path kTemplates = fs::path(REELPAGE_PROGRAM_DIR) / "Templates";

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes a file the way the engine reads it: the first two bytes are the
// mark, the rest UTF-16LE. Fails the test on a missing mark or a broken pair.
std::u16string ReadUtf16(const fs::path& file) {
    const std::string bytes = ReadBytes(file);
    EXPECT_GE(bytes.size(), 2u) << file;
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE")) << file << ": no UTF-16LE mark";
    EXPECT_EQ(bytes.size() % 2, 0u) << file;
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        const bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            ++i;
        else
            EXPECT_FALSE(high || low) << file << ": broken surrogate at unit " << i;
    }
    return text;
}

std::string Ascii(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// The list format: lines end at LF, a CR ends a line's text, empty lines skip.
std::vector<std::string> ReadList(const char* name) {
    std::vector<std::string> names;
    const fs::path file = kTemplates / name;
    if (!fs::exists(file)) return names;
    std::string line;
    bool cut = false;
    for (char c : Ascii(ReadUtf16(file)) + "\n") {
        if (c == '\n') {
            if (!line.empty()) names.push_back(line);
            line.clear();
            cut = false;
        } else if (c == '\r') {
            cut = true;
        } else if (!cut) {
            line.push_back(c);
        }
    }
    return names;
}

std::vector<std::string> Catalogue() {
    auto names = ReadList("Templates.lst");
    for (auto& n : ReadList("TemplatesEx.lst"))
        names.push_back(n);
    return names;
}

const std::vector<std::string> kPagePlaceholders = {
    "{$title}",     "{$width}",         "{$height}", "{$controls}",   "{$autoplay}", "{$loop}",
    "{$loop_code}", "{$advertisement}", "{$id}",     "{$data-setup}", "{$source}",
    "{$tracks}"};
const std::vector<std::string> kAdPlaceholders = {"{$width}", "{$height}", "{$link}"};

// Counts each placeholder of the table in a page, matched as the generator
// matches them (case-insensitive, in table order), and reports any "{$" that
// starts none of them: it would reach the published page as it stands.
std::vector<size_t> CountPlaceholders(const std::string& text,
                                      const std::vector<std::string>& table,
                                      const std::string& where) {
    std::vector<size_t> counts(table.size());
    const std::string lower = Lower(text);
    for (size_t i = 0; i < lower.size(); ++i) {
        if (lower[i] != '{') continue;
        bool matched = false;
        for (size_t k = 0; k < table.size() && !matched; ++k) {
            if (lower.compare(i, table[k].size(), table[k]) == 0) {
                ++counts[k];
                i += table[k].size() - 1;
                matched = true;
            }
        }
        if (!matched && lower.compare(i, 2, "{$") == 0) {
            ADD_FAILURE() << where << ": unknown placeholder " << text.substr(i, 24);
        }
    }
    return counts;
}

TEST(InstalledTemplates, CatalogueNamesCompleteTemplatesWithPreviews) {
    const auto names = Catalogue();
    ASSERT_GE(names.size(), 4u) << "the lists in " << kTemplates << " name too few templates";
    int withAd = 0;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const fs::path dir = kTemplates / name;
        EXPECT_TRUE(fs::is_regular_file(dir / "index.html"));
        // The generator copies only the top-level files of a template folder,
        // so everything the page links must be there, not in a subfolder.
        const std::string page = Ascii(ReadUtf16(dir / "index.html"));
        for (const char* file : {"player.css", "player.js", "style.css"}) {
            EXPECT_TRUE(fs::is_regular_file(dir / file)) << file;
            EXPECT_NE(page.find(std::string("\"") + file + "\""), std::string::npos) << file;
        }
        if (fs::exists(dir / "ad")) {
            ++withAd;
            EXPECT_TRUE(fs::is_regular_file(dir / "ad" / "ad.html"));
            EXPECT_TRUE(fs::is_regular_file(dir / "ad" / "ad.css"));
        }
        // The program shows the preview fitted into 448 x 252.
        const std::string png = ReadBytes(kTemplates / "Resource" / (name + ".png"));
        ASSERT_GE(png.size(), 24u) << "no preview picture";
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        auto be32 = [&](size_t at) {
            return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
                   uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
        };
        EXPECT_EQ(be32(16) * 252, be32(20) * 448) << "preview not in the 448 x 252 shape";
    }
    EXPECT_GE(withAd, 2) << "fewer than two templates with an advertisement";
}

TEST(InstalledTemplates, PagesUseOnlyKnownPlaceholdersWhereTheyBelong) {
    for (const auto& name : Catalogue()) {
        SCOPED_TRACE(name);
        const fs::path dir = kTemplates / name;
        const std::string page = Ascii(ReadUtf16(dir / "index.html"));
        const auto n = CountPlaceholders(page, kPagePlaceholders, name + "/index.html");
        EXPECT_EQ(n[0], 2u) << "{$title} belongs in <title> and in the heading";
        EXPECT_EQ(n[10], 1u) << "one {$source}";
        EXPECT_EQ(n[11], 1u) << "one {$tracks}";
        EXPECT_LT(Lower(page).find("{$source}"), Lower(page).find("{$tracks}"))
            << "the tracks follow the sources inside the video";
        EXPECT_EQ(n[9], 1u) << "one {$data-setup}";
        // The object is JSON with double quotes: only a single-quoted attribute holds it.
        EXPECT_NE(Lower(page).find("data-setup='{$data-setup}'"), std::string::npos);
        EXPECT_EQ(n[3], 1u) << "{$controls}";
        EXPECT_EQ(n[4], 1u) << "{$autoplay}";
        EXPECT_EQ(n[5] + n[6], 1u) << "{$loop} or {$loop_code}";
        for (const char* attr :
             {"poster=\"poster.png\"", "preload=", "playsinline", "<html lang="}) {
            EXPECT_NE(page.find(attr), std::string::npos) << attr;
        }
        // The generator escapes the title and the link for text and attributes,
        // which is no protection inside a script.
        for (size_t at = page.find("<script"); at != std::string::npos;
             at = page.find("<script", at + 1)) {
            const std::string body = page.substr(at, page.find("</script>", at) - at);
            EXPECT_EQ(body.find("{$"), std::string::npos) << "placeholder inside a script";
        }

        const bool hasAd = fs::exists(dir / "ad");
        EXPECT_EQ(n[7], hasAd ? 1u : 0u) << "{$advertisement} exactly where there is an ad folder";
        if (!hasAd) continue;
        const std::string ad = Ascii(ReadUtf16(dir / "ad" / "ad.html"));
        const auto a = CountPlaceholders(ad, kAdPlaceholders, name + "/ad/ad.html");
        EXPECT_EQ(a[2], 1u) << "{$link}";
        EXPECT_NE(ad.find("href=\"{$link}\" target=\"_blank\" rel=\"noopener\""),
                  std::string::npos);
        EXPECT_NE(ad.find("src=\"ad/logo.png\""), std::string::npos);
        EXPECT_NE(ad.find("width=\"{$width}\" height=\"{$height}\""), std::string::npos);
        EXPECT_NE(ad.find("alt=\""), std::string::npos);
        EXPECT_EQ(ad.find("alt=\"\""), std::string::npos) << "the linked picture needs a text";
        EXPECT_NE(ad.find("data-rp-ad-play"), std::string::npos) << "no way to start the video";
    }
}

size_t Utf8Size(const std::u16string& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] < 0x80)
            n += 1;
        else if (s[i] < 0x800)
            n += 2;
        else if (s[i] >= 0xD800 && s[i] <= 0xDBFF)
            n += 4, ++i;
        else
            n += 3;
    }
    return n;
}

// The expanded page must fit the generator's 65,536-unit buffer and its UTF-8
// form 65,536 bytes, whatever the user typed: the longest title and link the
// records hold, every character escaped to the longest entity (which is also
// more UTF-8 than any unescaped character of the same length).
TEST(InstalledTemplates, LongestExpansionFitsTheGeneratorsBuffers) {
    constexpr size_t kTitle = 259, kLink = 1023, kEntity = 6; // "&quot;"
    const size_t number = "-2147483648"s.size();
    const size_t replacement[] = {
        kTitle * kEntity,
        number,
        number,
        "controls=\"controls\""s.size(),
        "autoplay=\"autoplay\""s.size(),
        "loop=\"loop\""s.size(),
        "loop=\"loop\" onended=\"var v=this;setTimeout(function(){v.play()},300)\""s.size(),
        0, // the advertisement, counted from ad.html below
        "zelmorix_video_to_html5_4294967295"s.size(),
        "{\"width\":, \"height\":, \"preload\":\"auto\", \"poster\":\"poster.png\", "
        "\"preload\":\"auto\", \"controls\": true, \"autoplay\": true , \"loop\": true}"s.size() +
            2 * number,
        "<source src=\"video.webm\" type='video/webm' />"
        "<source src=\"video.mp4\" type='video/mp4' />"
        "<source src=\"video.ogv\" type='video/ogg' />"s.size(),
        // At most 16 tracks, tags of 35 characters, labels of 63 escaped.
        16 * ("<track kind=\"captions\" src=\"captions..16.vtt\" srclang=\"\" label=\"\" "
              "default>"s.size() +
              2 * 35 + 63 * kEntity)};
    for (const auto& name : Catalogue()) {
        SCOPED_TRACE(name);
        const fs::path dir = kTemplates / name;
        for (const fs::path& file : {dir / "index.html", dir / "ad" / "ad.html"}) {
            if (fs::exists(file)) {
                EXPECT_LE(fs::file_size(file), 131072u) << file;
            }
        }
        const std::u16string page = ReadUtf16(dir / "index.html");
        const auto n = CountPlaceholders(Ascii(page), kPagePlaceholders, name);
        size_t adUnits = 0, adBytes = 0;
        if (fs::exists(dir / "ad" / "ad.html")) {
            const std::u16string ad = ReadUtf16(dir / "ad" / "ad.html");
            const auto a = CountPlaceholders(Ascii(ad), kAdPlaceholders, name);
            const size_t added = (a[0] + a[1]) * number + a[2] * kLink * kEntity;
            adUnits = ad.size() + added;
            adBytes = Utf8Size(ad) + added;
        }
        // Every replacement is ASCII, so it is as many bytes as units.
        size_t added = n[7] * adUnits;
        for (size_t k = 0; k < kPagePlaceholders.size(); ++k)
            added += n[k] * replacement[k];
        EXPECT_LT(page.size() + added, 65536u) << "UTF-16 units";
        EXPECT_LE(Utf8Size(page) + added - n[7] * adUnits + n[7] * adBytes, 65536u)
            << "UTF-8 bytes";
    }
}

int RunTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Utf16Converter, ConvertsWellFormedTextAndRefusesTheRest) {
    const fs::path tmp = fs::path(getenv("REELPAGE_TEST_HOME")) / "to_utf16le";
    fs::create_directories(tmp);
    struct Case {
        const char* what;
        std::string input;
        const char* limit;
        std::string expected; // empty: refused, and no output left behind
    };
    const Case cases[] = {
        {"ASCII and line ends kept", "a\r\nb\n", nullptr,
         "\xFF\xFE"
         "a\0\r\0\n\0b\0\n\0"s},
        {"UTF-8 mark dropped, not doubled", "\xEF\xBB\xBFx", nullptr,
         "\xFF\xFE"
         "x\0"s},
        {"two- and three-byte forms", "\xC3\xA9\xE2\x80\x94", nullptr, "\xFF\xFE\xE9\0\x14\x20"s},
        {"astral character as a pair", "\xF0\x9F\x8E\xAC", nullptr, "\xFF\xFE\x3C\xD8\xAC\xDF"s},
        {"empty file gives the mark", "", nullptr, "\xFF\xFE"},
        {"exactly at the limit", "ab", "6",
         "\xFF\xFE"
         "a\0b\0"s},
        {"over the limit", "abc", "6", ""},
        {"stray continuation byte", "a\x80", nullptr, ""},
        {"overlong slash", "\xC0\xAF", nullptr, ""},
        {"overlong three-byte form", "\xE0\x80\xAF", nullptr, ""},
        {"encoded surrogate", "\xED\xA0\x80", nullptr, ""},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", nullptr, ""},
        {"cut short at the end", "ok\xE2\x80", nullptr, ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path in = tmp / ("in" + std::to_string(i));
        const fs::path out = tmp / ("out" + std::to_string(i++));
        std::ofstream(in, std::ios::binary) << c.input;
        std::vector<std::string> args = {TO_UTF16LE};
        if (c.limit) args.insert(args.end(), {"--max-bytes", c.limit});
        args.insert(args.end(), {in.string(), out.string()});
        const int rc = RunTool(args);
        if (c.expected.empty()) {
            EXPECT_NE(rc, 0);
            EXPECT_FALSE(fs::exists(out));
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(ReadBytes(out), c.expected);
        }
        EXPECT_FALSE(fs::exists(out.string() + ".tmp"));
    }
}

} // namespace
