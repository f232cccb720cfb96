#pragma once
// The command line of reelpage-cli: what to import, how to set the project,
// and where the package goes.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reelpage::cli {

struct Pair {
    int a = 0, b = 0;
};

// The effects of the program's Effects dialog beyond brightness and contrast,
// with its ranges; --effect NAME=N sets one.
struct EffectOption {
    const char* name;
    int lo, hi;
};
inline constexpr EffectOption kEffects[] = {
    {"hue", -90, 90},           {"saturation", -50, 50},       {"lightness", -50, 50},
    {"blur", 0, 100},           {"expand-edge", 0, 1},         {"sharpen-radius", 0, 100},
    {"sharpen-amount", 0, 50},  {"tint-hue", -90, 90},         {"tint-amount", -50, 50},
    {"cyan-red", -50, 50},      {"magenta-green", -50, 50},    {"yellow-blue", -50, 50},
    {"levels-highlight", 0, 50}, {"levels-midtone", 0, 50},    {"levels-shadow", 0, 50},
    {"exposure", -100, 100},    {"density", -100, 100},        {"white-saturation", 0, 100},
    {"black-saturation", 0, 100},
};

struct CliOptions {
    bool help = false;
    bool version = false;
    bool listTemplates = false;
    bool info = false; // only import and print the file's properties
    bool json = false;
    bool quiet = false; // no progress line
    std::string input;

    std::optional<std::array<bool, 3>> formats; // WebM, MP4, Ogg
    // Output size: the program's preset index (0 Original, 1..8, 9 custom),
    // or the exact source size.
    std::optional<int> sizeIndex;
    bool sourceSize = false;
    Pair size;                                  // with sizeIndex 9
    std::optional<int> resize;                  // 0 Center, 1 Letterbox, 2 Crop
    std::optional<int64_t> clipStart, clipStop; // microseconds
    std::optional<std::array<int, 4>> crop;     // left, top, width, height
    std::vector<int> turns;                     // RotateFlip operations, in order
    std::optional<int> brightness, contrast;
    // --effect NAME=N, in order; names and ranges in kEffects.
    std::vector<std::pair<int, int>> effects; // index into kEffects, value

    std::string watermark;
    std::optional<Pair> watermarkPosition; // placement codes: 1/2/4 across, 1/2/4 down
    std::optional<Pair> watermarkAt;       // left, top
    std::optional<Pair> watermarkSize;
    std::optional<int> watermarkTransparency;

    std::string templateName;
    std::optional<bool> autoplay, controls, loop;
    std::string ad, adLink;
    std::optional<Pair> adSize;
    std::string output; // parent folder of the package
    std::string title;
};

// False with a message for the user when the line cannot be used.
bool ParseCommandLine(int argc, char** argv, CliOptions* out, std::string* error);

std::string Usage();

// "12.5", "1:02.5", "1:00:00": seconds as microseconds; false when malformed.
bool ParseTime(const std::string& text, int64_t* microseconds);

// The preset index of a size of the program's list, 9 for any other size.
int PresetIndexOf(int width, int height);

} // namespace reelpage::cli
