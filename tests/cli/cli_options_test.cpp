// The command line of reelpage-cli and the file information texts it prints.
#include "CliOptions.h"
#include "MediaInfoText.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <vector>

#include "platform/wstr.h"
#include "reelpage/records.h"

namespace {

using namespace reelpage::cli;

bool Parse(std::vector<std::string> args, CliOptions* o, std::string* error = nullptr) {
    args.insert(args.begin(), "reelpage-cli");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string ignored;
    return ParseCommandLine(int(args.size()), argv.data(), o, error ? error : &ignored);
}

TEST(CliOptions, EveryProjectSettingFromFlags) {
    CliOptions o;
    ASSERT_TRUE(Parse({"--formats",
                       "webm,ogg",
                       "--size",
                       "854x480",
                       "--resize",
                       "letterbox",
                       "--start",
                       "1:02.5",
                       "--stop",
                       "75",
                       "--crop",
                       "8,4,320,200",
                       "--rotate",
                       "left",
                       "--flip",
                       "vertical",
                       "--rotate",
                       "half",
                       "--brightness",
                       "20",
                       "--contrast",
                       "-100",
                       "--effect",
                       "blur=12",
                       "--effect",
                       "tint-hue=-90",
                       "--watermark",
                       "w.png",
                       "--watermark-position",
                       "right,bottom",
                       "--watermark-size",
                       "40x20",
                       "--watermark-transparency",
                       "255",
                       "--template",
                       "Clean",
                       "--no-autoplay",
                       "--controls",
                       "--loop",
                       "--ad",
                       "a.png",
                       "--ad-link",
                       "https://example.org/?a=1&b=2",
                       "--ad-size",
                       "300x100",
                       "-o",
                       "/tmp/out",
                       "--title",
                       "My clip",
                       "in put.mp4"},
                      &o));
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"in put.mp4"}));
    EXPECT_EQ(*o.formats, (std::array<bool, 3>{true, false, true}));
    EXPECT_EQ(*o.sizeIndex, 6); // a preset of the program's list
    EXPECT_EQ(*o.resize, 1);
    EXPECT_EQ(*o.clipStart, 62500000);
    EXPECT_EQ(*o.clipStop, 75000000);
    EXPECT_EQ(*o.crop, (std::array<int, 4>{8, 4, 320, 200}));
    EXPECT_EQ(o.turns,
              (std::vector<reelpage::OrientationOp>{reelpage::kRotateLeft, reelpage::kFlipVertical,
                                                    reelpage::kRotateLeft, reelpage::kRotateLeft}));
    EXPECT_EQ(*o.brightness, 20);
    EXPECT_EQ(*o.contrast, -100);
    EXPECT_EQ(o.effects, (std::vector<std::pair<int, int>>{{3, 12}, {7, -90}}));
    EXPECT_STREQ(kEffects[3].name, "blur");
    EXPECT_EQ(o.watermarkPosition->a, reelpage::kAlignEnd);
    EXPECT_EQ(o.watermarkPosition->b, reelpage::kAlignEnd);
    EXPECT_EQ(o.watermarkSize->a, 40);
    EXPECT_EQ(*o.watermarkTransparency, 255);
    EXPECT_EQ(o.templateName, "Clean");
    EXPECT_FALSE(*o.autoplay);
    EXPECT_TRUE(*o.controls);
    EXPECT_TRUE(*o.loop);
    EXPECT_EQ(o.adLink, "https://example.org/?a=1&b=2");
    EXPECT_EQ(o.adSize->b, 100);
    EXPECT_EQ(o.output, "/tmp/out");
    EXPECT_EQ(o.title, "My clip");

    EXPECT_FALSE(o.webmCodec); // the saved choice stays
    const std::pair<const char*, int> codecs[] = {
        {"vp8", reelpage::kWebmVp8}, {"vp9", reelpage::kWebmVp9}, {"av1", reelpage::kWebmAv1}};
    for (const auto& [name, codec] : codecs) {
        ASSERT_TRUE(Parse({"--webm-codec", name, "x.mp4"}, &o));
        EXPECT_EQ(*o.webmCodec, codec);
    }

    ASSERT_TRUE(Parse({"--size", "500x300", "x.mp4"}, &o));
    EXPECT_EQ(*o.sizeIndex, 9);
    EXPECT_EQ(o.size.a, 500);
    ASSERT_TRUE(Parse({"--size", "source", "x.mp4"}, &o));
    EXPECT_EQ(*o.sizeIndex, 0); // the same as original
    ASSERT_TRUE(Parse({"--info", "--json", "x.mp4"}, &o));
    EXPECT_TRUE(o.info && o.json);
    ASSERT_TRUE(Parse({"--help"}, &o));
    EXPECT_TRUE(o.help);

    // Several inputs: the options are handed to each job in a form that means
    // the same whatever the order or the spelling they were given in.
    ASSERT_TRUE(Parse({"a.mp4", "-j", "3", "--no-loop", "-o", "out", "clips", "--title=T", "-r",
                       "--", "-dash.mp4"},
                      &o));
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.mp4", "clips", "-dash.mp4"}));
    EXPECT_EQ(o.jobs, 3);
    EXPECT_TRUE(o.recursive);
    EXPECT_EQ(o.optionWords, (std::vector<std::string>{"--jobs=3", "--no-loop", "--output=out",
                                                       "--title=T", "--recursive"}));
}

TEST(CliOptions, MistakesAreNamed) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "no video file"},
        {{"--info", "a.mp4", "b.mp4"}, "--info takes one video file"},
        {{"--jobs", "0", "a.mp4", "b.mp4"}, "--jobs: \"0\" is not a number from 1 to 64"},
        {{"--formats", "avi", "x"}, "--formats"},
        {{"--webm-codec", "h265", "x"}, "--webm-codec: \"h265\" is not vp8, vp9 or av1"},
        {{"--webm-codec", "AV1", "x"}, "--webm-codec"},
        {{"x", "--webm-codec"}, "needs a value"},
        {{"--size", "10x10", "x"}, "--size"},
        {{"--size", "big", "x"}, "--size"},
        {{"--resize", "stretch", "x"}, "--resize"},
        {{"--start", "-3", "x"}, "--start"},
        {{"--start", "1:75", "x"}, "--start"},
        {{"--start", "5", "--stop", "4", "x"}, "--stop must come after --start"},
        {{"--crop", "1,2,3", "x"}, "--crop"},
        {{"--rotate", "up", "x"}, "--rotate"},
        {{"--brightness", "101", "x"}, "--brightness"},
        {{"--effect", "hue=91", "x"}, "--effect hue: \"hue=91\" needs a number from -90 to 90"},
        {{"--effect", "sharpen-amount", "x"}, "--effect sharpen-amount"},
        {{"--effect", "glow=3", "x"}, "--effect"},
        {{"--watermark-position", "left", "x"}, "--watermark-position"},
        {{"--watermark-transparency", "300", "x"}, "--watermark-transparency"},
        {{"--json", "x"}, "--json goes with --info"},
        {{"--bogus", "x"}, "unknown option --bogus"},
        {{"x", "--output"}, "needs a value"},
        {{"--captions", "a.srt", "--no-captions", "x"},
         "--captions and --no-captions exclude each other"},
        {{"--captions", "a.srt:", "x"}, "--captions: \"a.srt:\" is not FILE or FILE:LANG"},
        {{"--captions", ":en", "x"}, "--captions: \":en\" is not FILE or FILE:LANG"},
    };
    for (const Case& c : cases) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << "got: " << error;
    }
}

TEST(CliOptions, CaptionFilesWithTheirLanguages) {
    CliOptions o;
    ASSERT_TRUE(Parse({"--captions", "talk.srt", "--captions", "/a/b.de.vtt:pt-BR", "--captions",
                       "c:d.srt", "x.mp4"},
                      &o));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"talk.srt", ""}, {"/a/b.de.vtt", "pt-BR"}, {"c:d.srt", ""}};
    EXPECT_EQ(o.captions, expected);
    EXPECT_FALSE(o.noCaptions);
    ASSERT_TRUE(Parse({"--no-captions", "x.mp4"}, &o));
    EXPECT_TRUE(o.noCaptions);
    EXPECT_TRUE(o.captions.empty());
}

// A line that fails inside a group of short options must leave nothing of
// itself to the next line parsed in the same process.
TEST(CliOptions, ALineStartsAfreshAfterOneThatFailedInsideAGroup) {
    std::vector<std::string> first{"reelpage-cli", "-xq", "a.mp4"};
    std::vector<char*> argv;
    for (auto& a : first)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    CliOptions o;
    std::string error;
    ASSERT_FALSE(ParseCommandLine(int(first.size()), argv.data(), &o, &error));
    EXPECT_NE(error.find("unknown option"), std::string::npos) << error;

    ASSERT_TRUE(Parse({"b.mp4"}, &o, &error)) << error;
    EXPECT_FALSE(o.quiet);
    EXPECT_EQ(o.inputs, std::vector<std::string>{"b.mp4"});
}

TEST(CliOptions, Times) {
    int64_t t = 0;
    EXPECT_TRUE(ParseTime("12.5", &t));
    EXPECT_EQ(t, 12500000);
    EXPECT_TRUE(ParseTime("1:00:01", &t));
    EXPECT_EQ(t, 3601000000);
    EXPECT_TRUE(ParseTime("0:59.25", &t));
    EXPECT_EQ(t, 59250000);
    for (const char* bad : {"", ":", "1:", "a", "1.5:00", "1:60", "-1", "1:2:3:4"})
        EXPECT_FALSE(ParseTime(bad, &t)) << bad;
}

// The option headings of a manual page's OPTIONS section as --help writes
// them: ".BR \-o ", " \-\-output " \fIDIR\fR"" is "-o, --output DIR".
std::set<std::string> ManualPageOptions(const std::string& path) {
    std::ifstream in(path);
    std::set<std::string> headings;
    std::string line;
    bool inOptions = false, heading = false;
    while (std::getline(in, line)) {
        if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
        if (!inOptions) continue;
        if (line == ".TP" || line == ".TQ") {
            heading = true;
            continue;
        }
        if (heading && line.rfind(".B", 0) == 0) {
            // The macro's arguments, quoted or not, joined without spaces.
            std::string text;
            bool quoted = false;
            for (size_t i = line.find(' '); i != std::string::npos && i < line.size(); ++i) {
                if (line[i] == '"') {
                    quoted = !quoted;
                } else if (line.compare(i, 2, "\\f") == 0) {
                    i += 2; // a font change
                } else if (line.compare(i, 2, "\\-") == 0) {
                    text += '-';
                    ++i;
                } else if (line[i] != ' ' || quoted) {
                    text += line[i];
                }
            }
            headings.insert(text);
        }
        heading = false;
    }
    return headings;
}

// What bash completion offers for the words of a command line, the last one
// being completed.
std::string Complete(const std::string& script, const std::string& words) {
    const std::string command = "bash -c '. \"" + script + "\"; COMP_WORDS=(" + words +
                                "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _reelpage_cli; "
                                "echo \"${COMPREPLY[*]}\"' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, p))
        out.append(buffer, n);
    pclose(p);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// --help, the manual page and the bash completion all come from, or are
// checked against, the option table: an option added to it appears in all.
TEST(CliOptions, EveryOptionIsDocumentedAndCompleted) {
    const std::string usage = Usage();
    std::set<std::string> synopses;
    std::string names;
    for (const OptionSpec& entry : OptionTable()) {
        synopses.insert(Synopsis(entry));
        EXPECT_NE(usage.find(Synopsis(entry)), std::string::npos) << Synopsis(entry);
        if (entry.letter) names += std::string(" -") + entry.letter;
        names += std::string(" --") + entry.name;
        if (entry.negatable) names += std::string(" --no-") + entry.name;
    }
    EXPECT_EQ(ManualPageOptions(REELPAGE_SOURCE_DIR "/packaging/reelpage-cli.1.in"), synopses)
        << "packaging/reelpage-cli.1.in and the option table name different options";

    const std::string script = std::string(std::getenv("HOME")) + "/reelpage-cli.bash";
    std::ofstream out(script);
    out << BashCompletion();
    out.close();
    ASSERT_TRUE(out) << script;
    struct Case {
        const char* words;
        std::string offered;
    } cases[] = {
        {"reelpage-cli -", names.substr(1)},
        {"reelpage-cli --no", "--no-autoplay --no-controls --no-loop --no-captions"},
        {"reelpage-cli --formats mp4,o", "mp4,ogg"},
        {"reelpage-cli --size 6", "640x360 640x480"},
        {"reelpage-cli --effect levels-m", "levels-midtone="},
        {"reelpage-cli --watermark-position right,m", "right,middle"},
        {"reelpage-cli --title \"\"", ""}, // free text: no file names
    };
    for (const Case& c : cases)
        EXPECT_EQ(Complete(script, c.words), c.offered) << c.words;
}

TEST(MediaInfoText, TextsOfTheFileInformationDialog) {
    EXPECT_EQ(BitRateText(1500000), "1.5 Mbps");
    EXPECT_EQ(BitRateText(2000000), "2 Mbps");
    EXPECT_EQ(BitRateText(128000), "128 Kbps");
    EXPECT_EQ(BitRateText(96500), "96.5 Kbps");
    EXPECT_EQ(FrameRateText(30000, 1001), "29.97 fps");
    EXPECT_EQ(FrameRateText(25, 1), "25 fps");
    EXPECT_EQ(SampleRateText(44100), "CD Quality (44100)");
    EXPECT_EQ(SampleRateText(8000), "Phone Quality (8000)");
    EXPECT_EQ(SampleRateText(32000), "");
    EXPECT_EQ(BitRateText(0), "Unknown") << "a container without a rate";
    const std::pair<int32_t, const char*> channels[] = {
        {1, "Mono"}, {2, "Stereo"}, {3, "2.1"}, {6, "5.1"}, {8, "7.1"}, {0, ""}};
    for (auto [count, name] : channels)
        EXPECT_EQ(ChannelText(count), name) << count;
    EXPECT_EQ(SecondsToText(75 * 60 + 5), "75:05");
    EXPECT_EQ(SecondsToText(0), "00:00");
}

TEST(MediaInfoText, SoundOnlySectionsThatExistAndJsonEscapes) {
    reelpage::MediaInfo m{};
    platform::WStrCopy(m.m_szFileName, u"/v/a \"quoted\"\\name.mp4");
    platform::WStrCopy(m.m_szName, u"a \"quoted\"\\name");
    m.m_bVideoStream = 1;
    m.m_Width = 640;
    m.m_Height = 360;
    m.m_FrameRateNum = 25;
    m.m_FrameRateDen = 1;
    m.m_VideoBitRate = 1500000;
    const std::string lines = MediaInfoLines(m);
    EXPECT_NE(lines.find("  Resolution: 640 x 360\n"), std::string::npos);
    EXPECT_NE(lines.find("  Bit Rate: 1.5 Mbps\n"), std::string::npos);
    EXPECT_EQ(lines.find("Audio"), std::string::npos); // no sound: no audio page
    const std::string json = MediaInfoJson(m);
    EXPECT_NE(json.find(R"("title": "a \"quoted\"\\name")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("frameRate": "25 fps")"), std::string::npos);
    EXPECT_EQ(json.find("\"audio\""), std::string::npos);
}

} // namespace
