// The pictures and desktop files the build puts into the program folder.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

const fs::path kProgramDir = REELPAGE_PROGRAM_DIR;
const fs::path kSourceDir = REELPAGE_SOURCE_DIR;

struct PngHeader {
    bool ok = false;
    uint32_t width = 0, height = 0;
    uint8_t colorType = 0;
};

uint32_t BigEndian32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Reads the signature and the IHDR chunk, which a valid PNG must start with.
PngHeader ReadPngHeader(const fs::path& path) {
    unsigned char b[26] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(b), sizeof b)) return {};
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!std::equal(std::begin(kSignature), std::end(kSignature), b)) return {};
    if (BigEndian32(b + 8) != 13 || std::string(reinterpret_cast<char*>(b + 12), 4) != "IHDR")
        return {};
    return {true, BigEndian32(b + 16), BigEndian32(b + 20), b[25]};
}

void ExpectPng(const fs::path& path, uint32_t width, uint32_t height) {
    SCOPED_TRACE(path.string());
    PngHeader h = ReadPngHeader(path);
    ASSERT_TRUE(h.ok) << "missing or not a PNG";
    EXPECT_EQ(h.width, width);
    EXPECT_EQ(h.height, height);
    EXPECT_EQ(h.colorType, 6) << "pictures are drawn over the control: RGBA expected";
}

} // namespace

// The names are the ones the views load, spelled as they load them (a wrong
// case is a missing file here).
TEST(ResourcePictures, EveryPictureTheViewsLoadIsThereAtItsSize) {
    const struct {
        const char* name;
        uint32_t width, height;
    } pictures[] = {
        {"AddVideo", 32, 32},
        {"AddFile", 16, 16},
        {"Delete", 16, 16},
        {"IE", 28, 28},
        {"Opera", 28, 28},
        {"FireFox", 28, 28},
        {"Chrome", 28, 28},
        {"Safari", 28, 28},
        {"IE2", 28, 28},
        {"Opera2", 28, 28},
        {"FireFox2", 28, 28},
        {"Chrome2", 28, 28},
        {"Safari2", 28, 28},
        {"Play", 16, 16},
        {"Pause", 16, 16},
        {"Clip", 16, 16},
        {"Start", 32, 32},
        {"Info", 16, 16},
        {"Poster", 16, 16},
        {"Reset", 16, 16},
        {"Return", 16, 16},
        {"Finish", 16, 16},
        {"graphics-align-bottom", 16, 16},
        {"graphics-align-center", 16, 16},
        {"graphics-align-centered", 16, 16},
        {"graphics-align-left", 16, 16},
        {"graphics-align-right", 16, 16},
        {"graphics-align-top", 16, 16},
        {"RotateLeft", 24, 24},
        {"RotateRight", 24, 24},
        {"FlipHorizontal", 24, 24},
        {"FlipVertical", 24, 24},
        {"Zoom", 16, 16},
        {"Go", 20, 20},
        {"Logo", 480, 290},
    };
    for (const auto& p : pictures)
        ExpectPng(kProgramDir / "Resource" / (std::string(p.name) + ".png"), p.width, p.height);
}

// A drawing added to the sources but left out of the render table would never
// reach the program folder.
TEST(ResourcePictures, EverySourceDrawingIsRendered) {
    int drawings = 0;
    for (const auto& entry : fs::directory_iterator(kSourceDir / "data" / "resource")) {
        if (entry.path().extension() != ".svg" || entry.path().stem() == "reelpage-icon") continue;
        ++drawings;
        fs::path png = kProgramDir / "Resource" / entry.path().stem().replace_extension(".png");
        EXPECT_TRUE(ReadPngHeader(png).ok) << png;
    }
    EXPECT_GT(drawings, 0) << "no drawings found in the sources";
}

TEST(DesktopEntry, NamesTheProgramAndAnIconThatExists) {
    const fs::path entry = kProgramDir / "share" / "applications" / "reelpage.desktop";
    std::ifstream in(entry);
    ASSERT_TRUE(in) << entry;
    std::string line, exec, icon;
    while (std::getline(in, line)) {
        if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
        if (line.rfind("Icon=", 0) == 0) icon = line.substr(5);
    }
    EXPECT_EQ(exec, "reelpage %f");
    EXPECT_EQ(icon, "reelpage");
    for (uint32_t size : {256u, 48u}) {
        std::string dir = std::to_string(size) + "x" + std::to_string(size);
        ExpectPng(kProgramDir / "share" / "icons" / "hicolor" / dir / "apps" / (icon + ".png"),
                  size, size);
    }

    if (std::system("command -v desktop-file-validate > /dev/null") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    std::string command = "desktop-file-validate '" + entry.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
