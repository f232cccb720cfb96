#pragma once
// The command line of reelpage-cli: what to import, how to set the project,
// and where the package goes.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reelpage/protocol.h"

namespace reelpage::cli {

// reelpage-cli's exit status, as --help lists it.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitImport = 2,
    kExitEncode = 3,
    kExitPublish = 4,
    kExitInstallation = 5,
    kExitBatchFailed = 6, // of several videos, at least one
    kExitCancelled = 130,
};

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
    // The videos and folders named, in order; one file is a run of its own,
    // anything more a batch.
    std::vector<std::string> inputs;
    int jobs = 1;           // batch jobs side by side
    bool recursive = false; // a folder's subfolders too
    // Every option as given, in a form that means the same to a job of a
    // batch: "--NAME=VALUE", "--NAME" or "--no-NAME".
    std::vector<std::string> optionWords;

    std::optional<std::array<bool, 3>> formats; // WebM, MP4, Ogg
    std::optional<int> webmCodec;               // a WebmCodec
    // Output size: the program's preset index (0 Original, 1..8, 9 custom).
    std::optional<int> sizeIndex;
    Pair size;                                  // with sizeIndex 9
    std::optional<int> resize;                  // 0 Center, 1 Letterbox, 2 Crop
    std::optional<int64_t> clipStart, clipStop; // microseconds
    std::optional<std::array<int, 4>> crop;     // left, top, width, height
    std::vector<OrientationOp> turns;           // RotateFlip operations, in order
    std::optional<int> brightness, contrast;
    // --effect NAME=N, in order; names and ranges in kEffects.
    std::vector<std::pair<int, int>> effects; // index into kEffects, value

    std::string watermark;
    std::optional<Pair> watermarkPosition; // WatermarkAlign across, down
    std::optional<Pair> watermarkAt;       // left, top
    std::optional<Pair> watermarkSize;
    std::optional<int> watermarkTransparency;

    std::string templateName;
    std::optional<bool> autoplay, controls, loop;
    std::string ad, adLink;
    std::optional<Pair> adSize;
    std::string output; // parent folder of the package
    std::string title;
    // --captions FILE[:LANG] in order (an empty language when none is given);
    // --no-captions leaves out every caption, found or given.
    std::vector<std::pair<std::string, std::string>> captions;
    bool noCaptions = false;
};

// The groups of --help, in the order it lists them.
enum class Section { Output, ClipAndPicture, Watermark, Page, Batch, Information };

// What bash offers for an option's value.
enum class Completion {
    None,       // free text: nothing
    Directory,  // folders
    Picture,    // picture files (and folders, to reach them)
    Captions,   // caption files (and folders)
    Choice,     // one of the option's choices
    ChoiceList, // a comma-separated list of them
    Template,   // the installed templates' numbers and names
};

// One option as given on the command line.
struct OptionArg {
    std::string_view name; // long name, without the dashes
    std::string value;     // empty for a flag
    bool negated = false;  // given as --no-NAME
    std::string* error = nullptr;

    // Says `--NAME: "VALUE" is not EXPECTED`; always false.
    bool Bad(const char* expected) const;
};

// One entry of the option table, from which the parser, --help and the bash
// completion are made: adding an option is adding an entry.
struct OptionSpec {
    const char* name;            // long name, without the dashes
    char letter = 0;             // short form, 0 for none
    const char* value = nullptr; // the value's name in --help; null for a flag
    bool negatable = false;      // --no-NAME too (OptionArg::negated)
    Section section = Section::Output;
    const char* help = ""; // for --help; "\n" starts a continuation line
    bool (*apply)(const OptionArg&, CliOptions&) = nullptr; // false with *error set
    Completion completion = Completion::None;
    std::vector<std::string> (*choices)() = nullptr; // for Choice and ChoiceList
};

// Every option, in the order --help lists them within their section.
std::span<const OptionSpec> OptionTable();

// How --help names an option: "-o, --output DIR", "--loop, --no-loop".
std::string Synopsis(const OptionSpec& entry);

// False with a message for the user when the line cannot be used.
bool ParseCommandLine(int argc, char** argv, CliOptions* out, std::string* error);

std::string Usage();

// The bash completion script of reelpage-cli, made from the option table.
std::string BashCompletion();

// "12.5", "1:02.5", "1:00:00": seconds as microseconds; false when malformed.
bool ParseTime(const std::string& text, int64_t* microseconds);

// The preset index of a size of the program's list, 9 for any other size.
int PresetIndexOf(int width, int height);

} // namespace reelpage::cli
