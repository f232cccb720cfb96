#include "CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "reelpage/output_size.h"

namespace reelpage::cli {

namespace {

bool ParseInt(const std::string& s, int lo, int hi, int* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || v < lo || v > hi) return false;
    *out = int(v);
    return true;
}

// "AxB" or "A,B".
bool ParsePair(const std::string& s, char sep, int lo, int hi, Pair* out) {
    const size_t at = s.find(sep);
    if (at == std::string::npos) return false;
    return ParseInt(s.substr(0, at), lo, hi, &out->a) &&
           ParseInt(s.substr(at + 1), lo, hi, &out->b);
}

// Every part, empty ones too ("1:" is "1" and "").
std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        const size_t next = s.find(sep, at);
        parts.push_back(s.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) return parts;
        at = next + 1;
    }
}

// The words of an option whose value is one of a few, by their index.
constexpr const char* kFormatNames[] = {"webm", "mp4", "ogg"};
// By WebmCodec.
constexpr const char* kWebmCodecNames[] = {"vp8", "vp9", "av1"};
constexpr const char* kResizeNames[] = {"center", "letterbox", "crop"};
constexpr const char* kRotateNames[] = {"left", "right", "half"};
constexpr const char* kFlipNames[] = {"horizontal", "vertical"};
// A watermark's place across and down; their placement codes are 1, 2 and 4.
constexpr const char* kAcrossNames[] = {"left", "center", "right"};
constexpr const char* kDownNames[] = {"top", "middle", "bottom"};

template <size_t N> std::vector<std::string> Words(const char* const (&words)[N]) {
    return {std::begin(words), std::end(words)};
}

int IndexOf(std::span<const char* const> words, const std::string& word) {
    for (size_t i = 0; i < words.size(); ++i)
        if (word == words[i]) return int(i);
    return -1;
}

bool ParseWatermarkPosition(const std::string& s, Pair* out) {
    const std::vector<std::string> parts = Split(s, ',');
    if (parts.size() != 2) return false;
    const int across = IndexOf(kAcrossNames, parts[0]), down = IndexOf(kDownNames, parts[1]);
    if (across < 0 || down < 0) return false;
    constexpr WatermarkAlign kAligns[] = {kAlignStart, kAlignCenter, kAlignEnd};
    *out = {kAligns[across], kAligns[down]};
    return true;
}

// The appliers that several options share, one per kind of field.
template <std::string CliOptions::*field> bool StoreText(const OptionArg& a, CliOptions& o) {
    o.*field = a.value;
    return true;
}

template <bool CliOptions::*field> bool SetFlag(const OptionArg&, CliOptions& o) {
    o.*field = true;
    return true;
}

// --NAME and --no-NAME.
template <std::optional<bool> CliOptions::*field>
bool SetSwitch(const OptionArg& a, CliOptions& o) {
    o.*field = !a.negated;
    return true;
}

template <std::optional<int64_t> CliOptions::*field>
bool StoreTime(const OptionArg& a, CliOptions& o) {
    int64_t t = 0;
    if (!ParseTime(a.value, &t)) return a.Bad("a time");
    o.*field = t;
    return true;
}

template <std::optional<int> CliOptions::*field>
bool StoreLevel(const OptionArg& a, CliOptions& o) {
    int value = 0;
    if (!ParseInt(a.value, -100, 100, &value)) return a.Bad("a number from -100 to 100");
    o.*field = value;
    return true;
}

template <std::optional<Pair> CliOptions::*field>
bool StorePictureSize(const OptionArg& a, CliOptions& o) {
    Pair pair;
    if (!ParsePair(a.value, 'x', 1, 4096, &pair)) return a.Bad("WIDTHxHEIGHT");
    o.*field = pair;
    return true;
}

const OptionSpec kOptionTable[] = {
    // Output
    {.name = "output",
     .letter = 'o',
     .value = "DIR",
     .section = Section::Output,
     .help = "folder the package folder is made in (it is named\n"
             "after the video, with (1), (2)... when taken)",
     .apply = StoreText<&CliOptions::output>,
     .completion = Completion::Directory},
    {.name = "formats",
     .value = "LIST",
     .section = Section::Output,
     .help = "webm,mp4,ogg or any of them (default: saved options)",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             std::array<bool, 3> f{};
             for (const std::string& name : Split(a.value, ',')) {
                 const int i = name == "ogv" ? 2 : IndexOf(kFormatNames, name);
                 if (i < 0) return a.Bad("a list of webm, mp4 and ogg");
                 f[size_t(i)] = true;
             }
             if (!f[0] && !f[1] && !f[2]) return a.Bad("a list of webm, mp4 and ogg");
             o.formats = f;
             return true;
         },
     .completion = Completion::ChoiceList,
     .choices = [] { return Words(kFormatNames); }},
    {.name = "webm-codec",
     .value = "CODEC",
     .section = Section::Output,
     .help = "the WebM output's video: vp8 (with Vorbis; every\n"
             "browser with WebM), vp9 or av1 (with Opus; far\n"
             "smaller, for current browsers) (default: saved options)",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             const int i = IndexOf(kWebmCodecNames, a.value);
             if (i < 0) return a.Bad("vp8, vp9 or av1");
             o.webmCodec = i;
             return true;
         },
     .completion = Completion::Choice,
     .choices = [] { return Words(kWebmCodecNames); }},
    {.name = "size",
     .value = "SIZE",
     .section = Section::Output,
     .help = "original   the source size as it is shown (after\n"
             "           --crop, square pixels), odd sides one less,\n"
             "           fitted within 4096x4096\n"
             "source     the same as original\n"
             "WxH        e.g. 640x360; 320x240, 400x240, 640x360,\n"
             "           640x480, 720x560, 854x480, 1280x720 and\n"
             "           1920x1080 are the program's presets",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             Pair pair;
             if (a.value == "original" || a.value == "source") {
                 o.sizeIndex = kSizeOriginal;
             } else if (ParsePair(a.value, 'x', kCustomSideMin, kOutputSideMax, &pair)) {
                 o.sizeIndex = PresetIndexOf(pair.a, pair.b);
                 o.size = pair;
             } else {
                 return a.Bad("original, source or WIDTHxHEIGHT (16 to 4096 each)");
             }
             return true;
         },
     .completion = Completion::Choice,
     .choices =
         [] {
             std::vector<std::string> sizes = {"original", "source"};
             for (int i = 0; i < kSizeChoiceCount; ++i)
                 if (IsPresetSize(i))
                     sizes.push_back(std::to_string(kOutputSizePresets[i].width) + "x" +
                                     std::to_string(kOutputSizePresets[i].height));
             return sizes;
         }},
    {.name = "resize",
     .value = "METHOD",
     .section = Section::Output,
     .help = "center, letterbox or crop: how the picture is\n"
             "fitted into a size of another shape",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             const int i = IndexOf(kResizeNames, a.value);
             if (i < 0) return a.Bad("center, letterbox or crop");
             o.resize = i;
             return true;
         },
     .completion = Completion::Choice,
     .choices = [] { return Words(kResizeNames); }},

    // Clip and picture
    {.name = "start",
     .value = "TIME",
     .section = Section::ClipAndPicture,
     .help = "clip start; TIME is SECONDS, MM:SS or HH:MM:SS",
     .apply = StoreTime<&CliOptions::clipStart>},
    {.name = "stop",
     .value = "TIME",
     .section = Section::ClipAndPicture,
     .help = "clip end (after --start)",
     .apply = StoreTime<&CliOptions::clipStop>},
    {.name = "rotate",
     .value = "DIR",
     .section = Section::ClipAndPicture,
     .help = "left, right or half; repeatable, applied in order",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             switch (IndexOf(kRotateNames, a.value)) {
             case 0:
                 o.turns.push_back(kRotateLeft);
                 return true;
             case 1:
                 o.turns.push_back(kRotateRight);
                 return true;
             case 2:
                 o.turns.insert(o.turns.end(), {kRotateLeft, kRotateLeft});
                 return true;
             default:
                 return a.Bad("left, right or half");
             }
         },
     .completion = Completion::Choice,
     .choices = [] { return Words(kRotateNames); }},
    {.name = "flip",
     .value = "AXIS",
     .section = Section::ClipAndPicture,
     .help = "horizontal or vertical; repeatable, in order",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             switch (IndexOf(kFlipNames, a.value)) {
             case 0:
                 o.turns.push_back(kFlipHorizontal);
                 return true;
             case 1:
                 o.turns.push_back(kFlipVertical);
                 return true;
             default:
                 return a.Bad("horizontal or vertical");
             }
         },
     .completion = Completion::Choice,
     .choices = [] { return Words(kFlipNames); }},
    {.name = "crop",
     .value = "L,T,W,H",
     .section = Section::ClipAndPicture,
     .help = "crop rectangle in the turned picture",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             const std::vector<std::string> parts = Split(a.value, ',');
             std::array<int, 4> c{};
             if (parts.size() != 4) return a.Bad("LEFT,TOP,WIDTH,HEIGHT");
             for (size_t i = 0; i < 4; ++i)
                 if (!ParseInt(parts[i], i < 2 ? 0 : 1, 16384, &c[i]))
                     return a.Bad("LEFT,TOP,WIDTH,HEIGHT");
             o.crop = c;
             return true;
         }},
    {.name = "brightness",
     .value = "N",
     .section = Section::ClipAndPicture,
     .help = "-100 to 100 (0 = unchanged)",
     .apply = StoreLevel<&CliOptions::brightness>},
    {.name = "contrast",
     .value = "N",
     .section = Section::ClipAndPicture,
     .help = "-100 to 100 (0 = unchanged)",
     .apply = StoreLevel<&CliOptions::contrast>},
    {.name = "effect",
     .value = "NAME=N",
     .section = Section::ClipAndPicture,
     .help = "further effects, 0 = none; repeatable: hue, tint-hue\n"
             "-90..90; saturation, lightness, tint-amount,\n"
             "cyan-red, magenta-green, yellow-blue -50..50;\n"
             "blur, sharpen-radius 0..100; sharpen-amount,\n"
             "levels-highlight, -midtone, -shadow 0..50;\n"
             "exposure, density -100..100; white-saturation,\n"
             "black-saturation 0..100; expand-edge 0 or 1",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             const size_t eq = a.value.find('=');
             const std::string name = a.value.substr(0, eq);
             for (int i = 0; i < int(std::size(kEffects)); ++i) {
                 if (name != kEffects[i].name) continue;
                 int value = 0;
                 if (eq == std::string::npos ||
                     !ParseInt(a.value.substr(eq + 1), kEffects[i].lo, kEffects[i].hi, &value)) {
                     *a.error = "--effect " + name + ": \"" + a.value + "\" needs a number from " +
                                std::to_string(kEffects[i].lo) + " to " +
                                std::to_string(kEffects[i].hi);
                     return false;
                 }
                 o.effects.emplace_back(i, value);
                 return true;
             }
             return a.Bad("NAME=N with a name that --help lists");
         },
     .completion = Completion::Choice,
     .choices =
         [] {
             std::vector<std::string> names;
             for (const EffectOption& e : kEffects)
                 names.push_back(std::string(e.name) + "=");
             return names;
         }},

    // Watermark
    {.name = "watermark",
     .value = "PICTURE",
     .section = Section::Watermark,
     .help = "picture drawn on every frame (PNG, JPEG, BMP, GIF...)",
     .apply = StoreText<&CliOptions::watermark>,
     .completion = Completion::Picture},
    {.name = "watermark-position",
     .value = "H,V",
     .section = Section::Watermark,
     .help = "left|center|right,top|middle|bottom",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             Pair pair;
             if (!ParseWatermarkPosition(a.value, &pair))
                 return a.Bad("left|center|right,top|middle|bottom");
             o.watermarkPosition = pair;
             return true;
         },
     .completion = Completion::Choice,
     .choices =
         [] {
             std::vector<std::string> places;
             for (const char* across : kAcrossNames)
                 for (const char* down : kDownNames)
                     places.push_back(std::string(across) + "," + down);
             return places;
         }},
    {.name = "watermark-at",
     .value = "X,Y",
     .section = Section::Watermark,
     .help = "position in the output picture instead",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             Pair pair;
             if (!ParsePair(a.value, ',', -16384, 16384, &pair)) return a.Bad("X,Y");
             o.watermarkAt = pair;
             return true;
         }},
    {.name = "watermark-size",
     .value = "WxH",
     .section = Section::Watermark,
     .help = "size drawn (default: the picture's own size)",
     .apply = StorePictureSize<&CliOptions::watermarkSize>},
    {.name = "watermark-transparency",
     .value = "N",
     .section = Section::Watermark,
     .help = "0 (opaque) to 255 (invisible)",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             int value = 0;
             if (!ParseInt(a.value, 0, 255, &value))
                 return a.Bad("a number from 0 (opaque) to 255");
             o.watermarkTransparency = value;
             return true;
         }},

    // Page
    {.name = "template",
     .value = "NAME",
     .section = Section::Page,
     .help = "page template, by name or number",
     .apply = StoreText<&CliOptions::templateName>,
     .completion = Completion::Template},
    {.name = "templates",
     .section = Section::Page,
     .help = "list the templates and end",
     .apply = SetFlag<&CliOptions::listTemplates>},
    {.name = "autoplay",
     .negatable = true,
     .section = Section::Page,
     .apply = SetSwitch<&CliOptions::autoplay>},
    {.name = "controls",
     .negatable = true,
     .section = Section::Page,
     .apply = SetSwitch<&CliOptions::controls>},
    {.name = "loop",
     .negatable = true,
     .section = Section::Page,
     .apply = SetSwitch<&CliOptions::loop>},
    {.name = "ad",
     .value = "PICTURE",
     .section = Section::Page,
     .help = "advertisement picture shown before the video",
     .apply = StoreText<&CliOptions::ad>,
     .completion = Completion::Picture},
    {.name = "ad-link",
     .value = "URL",
     .section = Section::Page,
     .help = "where the advertisement leads",
     .apply = StoreText<&CliOptions::adLink>},
    {.name = "ad-size",
     .value = "WxH",
     .section = Section::Page,
     .help = "its size on the page (default: fitted to the video)",
     .apply = StorePictureSize<&CliOptions::adSize>},
    {.name = "title",
     .value = "TEXT",
     .section = Section::Page,
     .help = "the page's title (default: the file name)",
     .apply = StoreText<&CliOptions::title>},
    {.name = "captions",
     .value = "FILE[:LANG]",
     .section = Section::Page,
     .help = "a caption file (.srt, .vtt, .ass) for the page, in\n"
             "language LANG (en, pt-BR); repeatable. Captions\n"
             "beside the video (VIDEO.srt, VIDEO.en.vtt) and in it\n"
             "are taken anyway",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             // The language follows the last colon, unless that part is a
             // file name's ("a:b.srt").
             const size_t colon = a.value.rfind(':');
             const std::string tail = colon == std::string::npos ? "" : a.value.substr(colon + 1);
             const bool tagged =
                 colon != std::string::npos &&
                 tail.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789-") == std::string::npos;
             if (tagged && tail.empty()) return a.Bad("FILE or FILE:LANG");
             std::string file = tagged ? a.value.substr(0, colon) : a.value;
             if (file.empty()) return a.Bad("FILE or FILE:LANG");
             o.captions.push_back({std::move(file), tagged ? tail : std::string()});
             return true;
         },
     .completion = Completion::Captions},
    {.name = "no-captions",
     .section = Section::Page,
     .help = "no captions on the page, not even those found",
     .apply = SetFlag<&CliOptions::noCaptions>},

    // Several videos
    {.name = "jobs",
     .letter = 'j',
     .value = "N",
     .section = Section::Batch,
     .help = "videos encoded side by side, each by a process of\n"
             "its own (default: 1, one after the other)",
     .apply =
         [](const OptionArg& a, CliOptions& o) {
             if (!ParseInt(a.value, 1, 64, &o.jobs)) return a.Bad("a number from 1 to 64");
             return true;
         }},
    {.name = "recursive",
     .letter = 'r',
     .section = Section::Batch,
     .help = "a folder's subfolders too",
     .apply = SetFlag<&CliOptions::recursive>},

    // Information
    {.name = "info",
     .section = Section::Information,
     .help = "only import the file and print its properties",
     .apply = SetFlag<&CliOptions::info>},
    {.name = "json",
     .section = Section::Information,
     .help = "with --info: print them as JSON",
     .apply = SetFlag<&CliOptions::json>},
    {.name = "quiet",
     .letter = 'q',
     .section = Section::Information,
     .help = "no progress line",
     .apply = SetFlag<&CliOptions::quiet>},
    {.name = "help",
     .letter = 'h',
     .section = Section::Information,
     .help = "this text",
     .apply = SetFlag<&CliOptions::help>},
    {.name = "version",
     .section = Section::Information,
     .help = "the program's version",
     .apply = SetFlag<&CliOptions::version>},
};

constexpr const char* kSectionTitles[] = {"Output", "Clip and picture", "Watermark",
                                          "Page",   "Several videos",   "Information"};

// getopt_long's codes: a short option is its letter, entry i of the table is
// kLongCode + 2i, and kLongCode + 2i + 1 when given as --no-NAME.
constexpr int kLongCode = 1000;

} // namespace

bool OptionArg::Bad(const char* expected) const {
    *error = "--" + std::string(name) + ": \"" + value + "\" is not " + expected;
    return false;
}

std::span<const OptionSpec> OptionTable() {
    return kOptionTable;
}

std::string Synopsis(const OptionSpec& entry) {
    std::string text = entry.letter ? std::string("-") + entry.letter + ", " : "";
    text += std::string("--") + entry.name;
    if (entry.negatable) text += std::string(", --no-") + entry.name;
    if (entry.value) text += std::string(" ") + entry.value;
    return text;
}

bool ParseTime(const std::string& text, int64_t* microseconds) {
    const std::vector<std::string> parts = Split(text, ':');
    if (parts.empty() || parts.size() > 3) return false;
    double total = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (p.empty()) return false;
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(p.c_str(), &end);
        if (errno != 0 || *end != 0 || v < 0 || p[0] == '+' || p[0] == '-') return false;
        if (i + 1 < parts.size() && p.find('.') != std::string::npos) return false;
        if (i > 0 && v >= 60) return false;
        total = total * 60 + v;
    }
    if (total > 1e7) return false;
    *microseconds = int64_t(total * 1000000 + 0.5);
    return true;
}

int PresetIndexOf(int width, int height) {
    for (int i = 0; i < kSizeChoiceCount; ++i)
        if (IsPresetSize(i) && kOutputSizePresets[i].width == width &&
            kOutputSizePresets[i].height == height)
            return i;
    return kSizeCustom;
}

bool ParseCommandLine(int argc, char** argv, CliOptions* out, std::string* error) {
    *out = CliOptions{};
    std::vector<option> longOptions;
    std::string shortOptions = ":"; // a missing value is told apart from an unknown option
    std::vector<std::string> negatedNames;
    negatedNames.reserve(std::size(kOptionTable)); // their c_str() stay where they are
    for (size_t i = 0; i < std::size(kOptionTable); ++i) {
        const OptionSpec& entry = kOptionTable[i];
        const int hasArg = entry.value ? required_argument : no_argument;
        longOptions.push_back({entry.name, hasArg, nullptr, kLongCode + 2 * int(i)});
        if (entry.negatable) {
            negatedNames.push_back(std::string("no-") + entry.name);
            longOptions.push_back(
                {negatedNames.back().c_str(), hasArg, nullptr, kLongCode + 2 * int(i) + 1});
        }
        if (entry.letter) {
            shortOptions += entry.letter;
            if (entry.value) shortOptions += ':';
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    // 0, not 1: glibc then also forgets where it was inside a group of short
    // options, which after a failed line still points into that line's words.
    optind = 0;
    opterr = 0;
    for (;;) {
        int index = 0;
        const int opt = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), &index);
        if (opt == -1) break;
        if (opt == '?') {
            *error = std::string("unknown option ") + argv[optind - 1];
            return false;
        }
        if (opt == ':') {
            *error = std::string("option ") + argv[optind - 1] + " needs a value";
            return false;
        }
        const OptionSpec* entry = nullptr;
        bool negated = false;
        if (opt >= kLongCode) {
            entry = &kOptionTable[(opt - kLongCode) / 2];
            negated = (opt - kLongCode) % 2 != 0;
        } else {
            for (const OptionSpec& s : kOptionTable)
                if (s.letter == opt) entry = &s;
        }
        if (!entry) {
            *error = "unknown option";
            return false;
        }
        const OptionArg given{entry->name, optarg ? optarg : "", negated, error};
        if (!entry->apply(given, *out)) return false;
        out->optionWords.push_back(std::string(negated ? "--no-" : "--") + entry->name +
                                   (entry->value ? "=" + given.value : ""));
    }
    if (out->help || out->version || out->listTemplates) return true;
    if (optind >= argc) {
        *error = "no video file given";
        return false;
    }
    out->inputs.assign(argv + optind, argv + argc);
    if (out->info && out->inputs.size() > 1) {
        *error = std::string("--info takes one video file (also got \"") + argv[optind + 1] + "\")";
        return false;
    }
    if (out->json && !out->info) {
        *error = "--json goes with --info";
        return false;
    }
    if (out->noCaptions && !out->captions.empty()) {
        *error = "--captions and --no-captions exclude each other";
        return false;
    }
    if (out->clipStart && out->clipStop && *out->clipStop <= *out->clipStart) {
        *error = "--stop must come after --start";
        return false;
    }
    return true;
}

std::string Usage() {
    std::string text = R"(Usage: reelpage-cli [OPTIONS] VIDEO
       reelpage-cli [OPTIONS] VIDEO|FOLDER...
       reelpage-cli --info [--json] VIDEO

Turns one video into a web package: the video re-encoded as WebM, MP4 and/or
Ogg, a poster, and a page made from a template. Prints the path of the page.
Settings not given here come from the program's saved options.

Given several videos, or folders (whose video files are taken in name order),
it makes a package of each and prints each page's path; a video that fails
does not stop the others, and the last lines sum up what became of each.
)";
    // The options' texts start in this column; a longer left side pushes its
    // text along by two spaces.
    constexpr size_t kTextColumn = 30;
    for (size_t section = 0; section < std::size(kSectionTitles); ++section) {
        text += std::string("\n") + kSectionTitles[section] + ":\n";
        for (const OptionSpec& entry : kOptionTable) {
            if (size_t(entry.section) != section) continue;
            const std::string left = (entry.letter ? "  " : "      ") + Synopsis(entry);
            text += left;
            if (!*entry.help) {
                text += "\n";
                continue;
            }
            text +=
                std::string(left.size() + 2 <= kTextColumn ? kTextColumn - left.size() : 2, ' ');
            const std::vector<std::string> lines = Split(entry.help, '\n');
            for (size_t i = 0; i < lines.size(); ++i)
                text += (i ? std::string(kTextColumn, ' ') : "") + lines[i] + "\n";
        }
    }
    return text + R"(
While encoding, a progress line shows the percentage, the time elapsed and
the time remaining. Ctrl-C cancels: the encoders stop and the unfinished
package folder is removed; with several videos, each one running is
cancelled alike and no further one starts.

Exit status: 0 done; 1 bad command line; 2 the video could not be imported;
3 encoding failed; 4 the page could not be made; 5 the installation is
damaged; 6 of several videos, at least one could not be made into a package
(the summary says which and why); 130 cancelled.
)";
}

} // namespace reelpage::cli
