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

enum Option {
    kInfo = 1000,
    kJson,
    kFormats,
    kSize,
    kResize,
    kStart,
    kStop,
    kCrop,
    kRotate,
    kFlip,
    kBrightness,
    kContrast,
    kWatermark,
    kWatermarkPosition,
    kWatermarkAt,
    kWatermarkSize,
    kWatermarkTransparency,
    kTemplate,
    kAutoplay,
    kNoAutoplay,
    kControls,
    kNoControls,
    kLoop,
    kNoLoop,
    kAd,
    kAdLink,
    kAdSize,
    kTitle,
    kEffect,
    kVersion,
    kTemplates,
};

const option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"info", no_argument, nullptr, kInfo},
    {"json", no_argument, nullptr, kJson},
    {"quiet", no_argument, nullptr, 'q'},
    {"output", required_argument, nullptr, 'o'},
    {"formats", required_argument, nullptr, kFormats},
    {"size", required_argument, nullptr, kSize},
    {"resize", required_argument, nullptr, kResize},
    {"start", required_argument, nullptr, kStart},
    {"stop", required_argument, nullptr, kStop},
    {"crop", required_argument, nullptr, kCrop},
    {"rotate", required_argument, nullptr, kRotate},
    {"flip", required_argument, nullptr, kFlip},
    {"brightness", required_argument, nullptr, kBrightness},
    {"contrast", required_argument, nullptr, kContrast},
    {"watermark", required_argument, nullptr, kWatermark},
    {"watermark-position", required_argument, nullptr, kWatermarkPosition},
    {"watermark-at", required_argument, nullptr, kWatermarkAt},
    {"watermark-size", required_argument, nullptr, kWatermarkSize},
    {"watermark-transparency", required_argument, nullptr, kWatermarkTransparency},
    {"template", required_argument, nullptr, kTemplate},
    {"templates", no_argument, nullptr, kTemplates},
    {"autoplay", no_argument, nullptr, kAutoplay},
    {"no-autoplay", no_argument, nullptr, kNoAutoplay},
    {"controls", no_argument, nullptr, kControls},
    {"no-controls", no_argument, nullptr, kNoControls},
    {"loop", no_argument, nullptr, kLoop},
    {"no-loop", no_argument, nullptr, kNoLoop},
    {"ad", required_argument, nullptr, kAd},
    {"ad-link", required_argument, nullptr, kAdLink},
    {"ad-size", required_argument, nullptr, kAdSize},
    {"title", required_argument, nullptr, kTitle},
    {"effect", required_argument, nullptr, kEffect},
    {nullptr, 0, nullptr, 0},
};

bool ParseWatermarkPosition(const std::string& s, Pair* out) {
    const std::vector<std::string> parts = Split(s, ',');
    if (parts.size() != 2) return false;
    auto code = [](const std::string& word, const char* a, const char* b, const char* c) {
        return word == a ? 1 : word == b ? 2 : word == c ? 4 : 0;
    };
    out->a = code(parts[0], "left", "center", "right");
    out->b = code(parts[1], "top", "middle", "bottom");
    return out->a != 0 && out->b != 0;
}

bool Apply(int opt, const std::string& arg, CliOptions* o, std::string* error) {
    auto bad = [&](const char* name, const char* expected) {
        *error = std::string("--") + name + ": \"" + arg + "\" is not " + expected;
        return false;
    };
    Pair pair;
    int value = 0;
    switch (opt) {
    case 'h':
        o->help = true;
        return true;
    case kVersion:
        o->version = true;
        return true;
    case kInfo:
        o->info = true;
        return true;
    case kJson:
        o->json = true;
        return true;
    case 'q':
        o->quiet = true;
        return true;
    case 'o':
        o->output = arg;
        return true;
    case kFormats: {
        std::array<bool, 3> f{};
        for (const std::string& name : Split(arg, ',')) {
            if (name == "webm")
                f[0] = true;
            else if (name == "mp4")
                f[1] = true;
            else if (name == "ogg" || name == "ogv")
                f[2] = true;
            else
                return bad("formats", "a list of webm, mp4 and ogg");
        }
        if (!f[0] && !f[1] && !f[2]) return bad("formats", "a list of webm, mp4 and ogg");
        o->formats = f;
        return true;
    }
    case kSize:
        o->sourceSize = false;
        if (arg == "original") {
            o->sizeIndex = 0;
        } else if (arg == "source") {
            o->sizeIndex.reset();
            o->sourceSize = true;
        } else if (ParsePair(arg, 'x', kCustomSideMin, kOutputSideMax, &pair)) {
            o->sizeIndex = PresetIndexOf(pair.a, pair.b);
            o->size = pair;
        } else {
            return bad("size", "original, source or WIDTHxHEIGHT (16 to 4096 each)");
        }
        return true;
    case kResize:
        if (arg == "center")
            o->resize = 0;
        else if (arg == "letterbox")
            o->resize = 1;
        else if (arg == "crop")
            o->resize = 2;
        else
            return bad("resize", "center, letterbox or crop");
        return true;
    case kStart:
    case kStop: {
        int64_t t = 0;
        if (!ParseTime(arg, &t)) return bad(opt == kStart ? "start" : "stop", "a time");
        (opt == kStart ? o->clipStart : o->clipStop) = t;
        return true;
    }
    case kCrop: {
        const std::vector<std::string> parts = Split(arg, ',');
        std::array<int, 4> c{};
        if (parts.size() != 4) return bad("crop", "LEFT,TOP,WIDTH,HEIGHT");
        for (size_t i = 0; i < 4; ++i)
            if (!ParseInt(parts[i], i < 2 ? 0 : 1, 16384, &c[i]))
                return bad("crop", "LEFT,TOP,WIDTH,HEIGHT");
        o->crop = c;
        return true;
    }
    case kRotate:
        if (arg == "left")
            o->turns.push_back(10);
        else if (arg == "right")
            o->turns.push_back(11);
        else if (arg == "half")
            o->turns.insert(o->turns.end(), {10, 10});
        else
            return bad("rotate", "left, right or half");
        return true;
    case kFlip:
        if (arg == "horizontal")
            o->turns.push_back(20);
        else if (arg == "vertical")
            o->turns.push_back(21);
        else
            return bad("flip", "horizontal or vertical");
        return true;
    case kBrightness:
    case kContrast:
        if (!ParseInt(arg, -100, 100, &value))
            return bad(opt == kBrightness ? "brightness" : "contrast", "a number from -100 to 100");
        (opt == kBrightness ? o->brightness : o->contrast) = value;
        return true;
    case kWatermark:
        o->watermark = arg;
        return true;
    case kWatermarkPosition:
        if (!ParseWatermarkPosition(arg, &pair))
            return bad("watermark-position", "left|center|right,top|middle|bottom");
        o->watermarkPosition = pair;
        return true;
    case kWatermarkAt:
        if (!ParsePair(arg, ',', -16384, 16384, &pair)) return bad("watermark-at", "X,Y");
        o->watermarkAt = pair;
        return true;
    case kWatermarkSize:
        if (!ParsePair(arg, 'x', 1, 4096, &pair)) return bad("watermark-size", "WIDTHxHEIGHT");
        o->watermarkSize = pair;
        return true;
    case kWatermarkTransparency:
        if (!ParseInt(arg, 0, 255, &value))
            return bad("watermark-transparency", "a number from 0 (opaque) to 255");
        o->watermarkTransparency = value;
        return true;
    case kTemplate:
        o->templateName = arg;
        return true;
    case kTemplates:
        o->listTemplates = true;
        return true;
    case kAutoplay:
    case kNoAutoplay:
        o->autoplay = opt == kAutoplay;
        return true;
    case kControls:
    case kNoControls:
        o->controls = opt == kControls;
        return true;
    case kLoop:
    case kNoLoop:
        o->loop = opt == kLoop;
        return true;
    case kAd:
        o->ad = arg;
        return true;
    case kAdLink:
        o->adLink = arg;
        return true;
    case kAdSize:
        if (!ParsePair(arg, 'x', 1, 4096, &pair)) return bad("ad-size", "WIDTHxHEIGHT");
        o->adSize = pair;
        return true;
    case kTitle:
        o->title = arg;
        return true;
    case kEffect: {
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        for (int i = 0; i < int(std::size(kEffects)); ++i) {
            if (name != kEffects[i].name) continue;
            if (eq == std::string::npos ||
                !ParseInt(arg.substr(eq + 1), kEffects[i].lo, kEffects[i].hi, &value)) {
                *error = "--effect " + name + ": \"" + arg + "\" needs a number from " +
                         std::to_string(kEffects[i].lo) + " to " + std::to_string(kEffects[i].hi);
                return false;
            }
            o->effects.emplace_back(i, value);
            return true;
        }
        return bad("effect", "NAME=N with a name that --help lists");
    }
    default:
        *error = "unknown option";
        return false;
    }
}

} // namespace

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
    optind = 1;
    opterr = 0;
    for (;;) {
        int index = 0;
        const int opt = getopt_long(argc, argv, ":ho:q", kOptions, &index);
        if (opt == -1) break;
        if (opt == '?') {
            *error = std::string("unknown option ") + argv[optind - 1];
            return false;
        }
        if (opt == ':') {
            *error = std::string("option ") + argv[optind - 1] + " needs a value";
            return false;
        }
        if (!Apply(opt, optarg ? optarg : "", out, error)) return false;
    }
    if (out->help || out->version || out->listTemplates) return true;
    if (optind >= argc) {
        *error = "no video file given";
        return false;
    }
    if (argc - optind > 1) {
        *error = std::string("one video file only (also got \"") + argv[optind + 1] + "\")";
        return false;
    }
    out->input = argv[optind];
    if (out->json && !out->info) {
        *error = "--json goes with --info";
        return false;
    }
    if (out->clipStart && out->clipStop && *out->clipStop <= *out->clipStart) {
        *error = "--stop must come after --start";
        return false;
    }
    return true;
}

std::string Usage() {
    return R"(Usage: reelpage-cli [OPTIONS] VIDEO
       reelpage-cli --info [--json] VIDEO

Turns one video into a web package: the video re-encoded as WebM, MP4 and/or
Ogg, a poster, and a page made from a template. Prints the path of the page.
Settings not given here come from the program's saved options.

Output:
  -o, --output DIR            folder the package folder is made in (it is named
                              after the video, with (1), (2)... when taken)
      --formats LIST          webm,mp4,ogg or any of them (default: saved options)
      --size SIZE             original   the source size rounded up to 16
                              source     exactly the source size (after --crop)
                                         (either fitted within 4096x4096)
                              WxH        e.g. 640x360; 320x240, 400x240, 640x360,
                                         640x480, 720x560, 854x480, 1280x720 and
                                         1920x1080 are the program's presets
      --resize METHOD         center, letterbox or crop: how the picture is
                              fitted into a size of another shape

Clip and picture:
      --start TIME            clip start; TIME is SECONDS, MM:SS or HH:MM:SS
      --stop TIME             clip end (after --start)
      --rotate DIR            left, right or half; repeatable, applied in order
      --flip AXIS             horizontal or vertical; repeatable, in order
      --crop L,T,W,H          crop rectangle in the turned picture
      --brightness N          -100 to 100 (0 = unchanged)
      --contrast N            -100 to 100 (0 = unchanged)
      --effect NAME=N         further effects, 0 = none; repeatable: hue, tint-hue
                              -90..90; saturation, lightness, tint-amount,
                              cyan-red, magenta-green, yellow-blue -50..50;
                              blur, sharpen-radius 0..100; sharpen-amount,
                              levels-highlight, -midtone, -shadow 0..50;
                              exposure, density -100..100; white-saturation,
                              black-saturation 0..100; expand-edge 0 or 1

Watermark:
      --watermark PICTURE     picture drawn on every frame (PNG, JPEG, BMP, GIF...)
      --watermark-position H,V  left|center|right,top|middle|bottom
      --watermark-at X,Y      position in the output picture instead
      --watermark-size WxH    size drawn (default: the picture's own size)
      --watermark-transparency N  0 (opaque) to 255 (invisible)

Page:
      --template NAME         page template, by name or number
      --templates             list the templates and end
      --autoplay, --no-autoplay
      --controls, --no-controls
      --loop, --no-loop
      --ad PICTURE            advertisement picture shown before the video
      --ad-link URL           where the advertisement leads
      --ad-size WxH           its size on the page (default: fitted to the video)
      --title TEXT            the page's title (default: the file name)

Information:
      --info                  only import the file and print its properties
      --json                  with --info: print them as JSON
  -q, --quiet                 no progress line
  -h, --help                  this text
      --version               the program's version

While encoding, a progress line shows the percentage, the time elapsed and
the time remaining. Ctrl-C cancels: the encoders stop and the unfinished
package folder is removed.

Exit status: 0 done; 1 bad command line; 2 the video could not be imported;
3 encoding failed; 4 the page could not be made; 5 the installation is
damaged; 130 cancelled.
)";
}

} // namespace reelpage::cli
