#include "fuzz_support.h"

#include "private_home.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fuzz {

namespace {

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "fuzz target set-up failed: %s\n", what.c_str());
    std::abort();
}

std::string MakeHome() {
    std::string home;
    if (const char* given = std::getenv("REELPAGE_FUZZ_HOME"); given && *given) {
        home = given;
    } else {
        char tmpl[] = "/tmp/reelpage-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) Die("mkdtemp");
        home = tmpl;
        static const std::string removed = home;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(removed, ec);
        });
    }
    if (!testing_home::PointHomeAt(home)) Die("making the folders of " + home);
    return home;
}

} // namespace

const std::string& Home() {
    static const std::string home = MakeHome();
    return home;
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) Die("writing " + path);
}

void MakeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) Die("creating " + path + ": " + ec.message());
}

void CheckTerminated(const char16_t* field, size_t cap, const char* what) {
    for (size_t i = 0; i < cap; ++i)
        if (field[i] == 0) return;
    std::fprintf(stderr, "%s holds no NUL within its %zu units\n", what, cap);
    std::abort();
}

std::u16string Utf16(std::string_view bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
    return text;
}

} // namespace fuzz
