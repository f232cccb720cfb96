// Captions: which files beside a video are its captions and in what
// language, the subtitle streams inside it, cues read through FFmpeg's
// decoders (and the same cues as FFmpeg's own WebVTT output has), the clip
// range, escaping, bad files, and the package's caption files.
#include "captions/Captions.h"
#include "captions/ProjectCaptions.h"
#include "publishing/PageGenerator.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "media_fixtures.h"
#include "platform/wstr.h"

using namespace reelpage;
namespace fs = std::filesystem;

namespace {

std::string Home() {
    return getenv("HOME");
}

void Write(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

const char kTalk[] = "1\n00:00:00,500 --> 00:00:01,200\nHello <i>there</i>\n\n"
                     "2\n00:00:01,300 --> 00:00:02,000\n{\\an8}Fish & chips\n\n"
                     "3\n00:00:02,100 --> 00:00:02,800\nLine one\nLine two\n\n";

CaptionTrack FileTrack(const std::string& path) {
    CaptionTrack t;
    t.file = platform::FromUtf8(path);
    const std::string ext = path.substr(path.find_last_of('.') + 1);
    t.format = ext == "srt" ? "subrip" : ext == "vtt" ? "webvtt" : "ass";
    t.language = "und";
    return t;
}

// The cues of a WebVTT text: times in milliseconds and the text lines.
std::vector<Cue> ParseVtt(const std::string& text) {
    std::vector<Cue> cues;
    std::stringstream in(text);
    auto ms = [](std::string t) {
        if (std::count(t.begin(), t.end(), ':') == 1) t = "00:" + t;
        return int64_t(std::stoi(t.substr(0, 2))) * 3600000 + std::stoi(t.substr(3, 2)) * 60000 +
               std::stoi(t.substr(6, 2)) * 1000 + std::stoi(t.substr(9, 3));
    };
    for (std::string line; std::getline(in, line);) {
        const size_t arrow = line.find(" --> ");
        if (arrow == std::string::npos) continue;
        Cue c{ms(line.substr(0, arrow)), ms(line.substr(arrow + 5, 12)), {}};
        for (std::string body; std::getline(in, body) && !body.empty();)
            c.text += (c.text.empty() ? "" : "\n") + body;
        cues.push_back(c);
    }
    return cues;
}

} // namespace

TEST(Captions, LanguageComesFromTheNameBesideTheVideo) {
    const struct {
        const char* caption;
        const char* language; // empty: not a caption file of /v/clip.mp4
    } kCases[] = {
        {"/v/clip.srt", "und"},     {"/v/clip.vtt", "und"},      {"/v/clip.en.srt", "en"},
        {"/v/clip.de.vtt", "de"},   {"/v/clip.pt-BR.vtt", "pt-BR"}, {"/v/clip.ENG.srt", "en"},
        {"/v/clip.fre.ass", "fr"},  {"/v/clip.SRT", "und"},      {"/v/clip.en.txt", ""},
        {"/v/clip.mp4", ""},        {"/v/other.srt", ""},        {"/v/clipper.srt", ""},
        {"/v/clip.part2.srt", ""},  {"/v/clip.x.srt", ""},       {"/w/clip.srt", ""},
        {"/v/sub/clip.srt", ""},    {"/v/clip..srt", ""},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(SideCaptionLanguage(u"/v/clip.mp4", platform::FromUtf8(c.caption)), c.language)
            << c.caption;
}

TEST(Captions, FindsFilesBesideAndStreamsInside) {
    const std::string dir = Home() + "/find";
    fs::create_directories(dir);
    Write(dir + "/talk.srt", kTalk);
    Write(dir + "/talk.en.vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\nHi\n");
    Write(dir + "/other.srt", kTalk);
    // Two subtitle streams: English and one without a language.
    ASSERT_TRUE(testing_media::Ffmpeg(
        {"-f", "lavfi", "-t", "3", "-i", "testsrc2=size=160x120:rate=10", "-i", dir + "/talk.srt",
         "-i", dir + "/talk.srt", "-map", "0", "-map", "1", "-map", "2", "-c:v", "libx264",
         "-preset", "ultrafast", "-c:s", "mov_text", "-metadata:s:s:0", "language=eng",
         "-metadata:s:s:1", "language=", dir + "/talk.mp4"}));
    const std::vector<CaptionTrack> found = FindCaptions(platform::FromUtf8(dir + "/talk.mp4"));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(platform::ToUtf8(found[0].file), dir + "/talk.en.vtt");
    EXPECT_EQ(found[0].language, "en");
    EXPECT_EQ(found[0].label, "English");
    EXPECT_EQ(found[0].format, "webvtt");
    EXPECT_EQ(platform::ToUtf8(found[1].file), dir + "/talk.srt");
    EXPECT_EQ(found[1].language, "und");
    EXPECT_EQ(found[1].label, "Captions");
    for (size_t i : {2u, 3u}) {
        EXPECT_EQ(platform::ToUtf8(found[i].file), dir + "/talk.mp4");
        EXPECT_EQ(found[i].stream, int32_t(i - 1));
        EXPECT_EQ(found[i].format, "mov_text");
        EXPECT_TRUE(found[i].usable);
    }
    EXPECT_EQ(found[2].language, "en");
    EXPECT_EQ(found[3].language, "und");

    // The stream's cues are the file's, in the video's time.
    std::vector<Cue> fromStream, fromFile;
    std::string problem;
    ASSERT_TRUE(ReadCues(found[2], &fromStream, &problem)) << problem;
    ASSERT_TRUE(ReadCues(found[1], &fromFile, &problem)) << problem;
    EXPECT_EQ(fromStream, fromFile);
}

TEST(Captions, CuesAreFfmpegsAsPlainText) {
    const std::string srt = Home() + "/talk.srt";
    Write(srt, kTalk);
    std::vector<Cue> cues;
    std::string problem;
    ASSERT_TRUE(ReadCues(FileTrack(srt), &cues, &problem)) << problem;
    const std::vector<Cue> expected = {{500, 1200, "Hello there"},
                                       {1300, 2000, "Fish & chips"},
                                       {2100, 2800, "Line one\nLine two"}};
    EXPECT_EQ(cues, expected);

    // FFmpeg's own WebVTT output of the same file has the same cues; its
    // markup (<i>) is what ours leaves out.
    const std::string vtt = Home() + "/talk-ffmpeg.vtt";
    ASSERT_TRUE(testing_media::Ffmpeg({"-i", srt, vtt}));
    std::vector<Cue> ffmpeg = ParseVtt(testing_media::ReadText(vtt));
    ASSERT_EQ(ffmpeg.size(), cues.size());
    for (size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(ffmpeg[i].start, cues[i].start) << i;
        EXPECT_EQ(ffmpeg[i].end, cues[i].end) << i;
    }
    EXPECT_EQ(ffmpeg[2].text, cues[2].text);
    // Written again, with the ampersand escaped.
    EXPECT_EQ(ParseVtt(WebVttText(cues)), (std::vector<Cue>{{500, 1200, "Hello there"},
                                                            {1300, 2000, "Fish &amp; chips"},
                                                            {2100, 2800, "Line one\nLine two"}}));
}

TEST(Captions, MarkupInCueTextStaysText) {
    // A WebVTT file may spell markup as entities: decoded, it is text, and
    // written again, escaped.
    const std::string vtt = Home() + "/html.vtt";
    Write(vtt, "WEBVTT\n\n00:00.000 --> 00:01.000\n"
               "&lt;script&gt;alert(1)&lt;/script&gt; &amp; <b>bold</b>\n");
    std::vector<Cue> cues;
    std::string problem;
    ASSERT_TRUE(ReadCues(FileTrack(vtt), &cues, &problem)) << problem;
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].text, "<script>alert(1)</script> & bold");
    const std::string written = WebVttText(cues);
    EXPECT_NE(written.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; bold"), std::string::npos)
        << written;
    EXPECT_EQ(written.find("<script"), std::string::npos);
    // An arrow in a cue would start a new timing line.
    EXPECT_EQ(WebVttText({{0, 10, "a --> b"}}), "WEBVTT\n\n00:00:00.000 --> 00:00:00.010\na --&gt; b\n");
}

TEST(Captions, SubRipEntitiesAreTheCharactersTheyName) {
    // Players read SubRip as HTML, so such files spell "&" and "<" as
    // entities; a page must not show "&amp;". What is not an entity stays.
    const std::string srt = Home() + "/entities.srt";
    Write(srt, "1\n00:00:00,000 --> 00:00:01,000\n"
               "Tom &amp; Jerry &lt;3 &quot;hi&quot; it&apos;s &#39;x&#39; &#x263A;\n\n"
               "2\n00:00:01,000 --> 00:00:02,000\n"
               "AT&T & co &copy; &#0; &#xD800; &#1114112; &#; &amp\n\n");
    std::vector<Cue> cues;
    std::string problem;
    ASSERT_TRUE(ReadCues(FileTrack(srt), &cues, &problem)) << problem;
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].text, "Tom & Jerry <3 \"hi\" it's 'x' \u263a");
    EXPECT_EQ(cues[1].text, "AT&T & co &copy; &#0; &#xD800; &#1114112; &#; &amp");
    // Written out, the decoded characters are escaped once, not twice.
    EXPECT_NE(WebVttText(cues).find("Tom &amp; Jerry &lt;3"), std::string::npos);
}

TEST(Captions, PlainTextDropsOverridesAndBlankLines) {
    EXPECT_EQ(PlainCueText("0,0,Default,,0,0,0,,{\\i1}Hi{\\i0}\\Nthere"), "Hi\nthere");
    EXPECT_EQ(PlainCueText("0,0,Default,,0,0,0,,a\\hb\\N\\N  c  "), "a b\nc");
    EXPECT_EQ(PlainCueText("0,0,Default,,0,0,0,,x, y {unclosed"), "x, y {unclosed");
    EXPECT_EQ(PlainCueText("0,0,Default,,0,0,0,,{\\an8}"), "");
    EXPECT_EQ(PlainCueText("too,few,fields"), "");
}

TEST(Captions, ClipRangeDropsCutsAndShifts) {
    const std::vector<Cue> cues = {{1000, 2000, "a"}, {2500, 3500, "b"}, {4000, 5000, "c"}};
    const struct {
        const char* what;
        int64_t start, stop; // microseconds, stop 0 = to the end
        std::vector<Cue> expected;
    } kCases[] = {
        {"whole video", 0, 0, cues},
        {"start between cues", 2200000, 0, {{300, 1300, "b"}, {1800, 2800, "c"}}},
        {"start inside a cue cuts it", 3000000, 0, {{0, 500, "b"}, {1000, 2000, "c"}}},
        {"start at a cue's end drops it", 2000000, 0, {{500, 1500, "b"}, {2000, 3000, "c"}}},
        {"stop inside a cue cuts it", 0, 3000000, {{1000, 2000, "a"}, {2500, 3000, "b"}}},
        {"stop at a cue's start drops it", 0, 4000000, {{1000, 2000, "a"}, {2500, 3500, "b"}}},
        {"both", 1500000, 4500000, {{0, 500, "a"}, {1000, 2000, "b"}, {2500, 3000, "c"}}},
        {"between cues", 2100000, 2400000, {}},
        {"past the last cue", 6000000, 0, {}},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ClipCues(cues, c.start, c.stop), c.expected) << c.what;
}

TEST(Captions, BadFilesAreToldByName) {
    const std::string dir = Home() + "/bad";
    fs::create_directories(dir);
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) % 251);
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } kCases[] = {
        {"empty.srt", "", "empty"},
        {"blank.srt", "\n \r\n\t\n", "empty"},
        {"latin1.srt", "1\n00:00:01,000 --> 00:00:02,000\nCaf\xe9\n", "not UTF-8"},
        {"binary.srt", binary, "binary data"},
        {"backwards.srt", "1\n00:00:05,000 --> 00:00:02,000\nBackwards\n", "broken timing"},
        {"aeons.srt", "1\n00:00:05,000 --> 888888888888888800:00:04,000\nLater\n", "broken timing"},
        {"notimes.srt", "1\nno times at all\nJust text\n", "no cues"},
        {"prose.vtt", "Dear diary, today nothing happened.\n", "no cues in it"},
    };
    for (const auto& c : kCases) {
        const std::string path = dir + "/" + c.name;
        Write(path, c.bytes);
        std::vector<Cue> cues;
        std::string problem;
        EXPECT_FALSE(ReadCues(FileTrack(path), &cues, &problem)) << c.name;
        EXPECT_EQ(problem.rfind(path + ": ", 0), 0u) << problem;
        EXPECT_NE(problem.find(c.says), std::string::npos) << c.name << ": " << problem;
    }
    // 50 MB, refused by its size before anything reads it.
    const std::string large = dir + "/large.srt";
    Write(large, kTalk);
    ASSERT_EQ(truncate(large.c_str(), 50 * 1024 * 1024), 0);
    std::vector<Cue> cues;
    std::string problem;
    EXPECT_FALSE(ReadCues(FileTrack(large), &cues, &problem));
    EXPECT_EQ(problem, large + ": too large for a caption file (50 MB; at most 8 MB)");

    // One cue of sound timing among broken ones is kept, and the rest told.
    const std::string some = dir + "/some.srt";
    Write(some, "1\n00:00:05,000 --> 00:00:02,000\nBackwards\n\n"
                "2\n00:00:06,000 --> 00:00:07,000\nFine\n");
    EXPECT_TRUE(ReadCues(FileTrack(some), &cues, &problem));
    EXPECT_EQ(cues, (std::vector<Cue>{{6000, 7000, "Fine"}}));
    EXPECT_EQ(problem, some + ": 1 cue(s) with broken timing left out");
}

TEST(Captions, PackageGetsGoodTracksAndTellsOfBadOnes) {
    const std::string dir = Home() + "/package";
    fs::create_directories(dir + "/out");
    Write(dir + "/a.srt", kTalk);
    Write(dir + "/b.srt", "");
    Write(dir + "/c.vtt", "WEBVTT\n\n00:00.000 --> 00:03.000\n&lt;/script&gt;\xe2\x80\xa8\n");
    std::vector<CaptionTrack> tracks = {FileTrack(dir + "/a.srt"), FileTrack(dir + "/b.srt"),
                                        FileTrack(dir + "/c.vtt")};
    tracks[0].language = "en";
    tracks[0].label = "English";
    tracks[2].language = "en";
    tracks.push_back(tracks[0]);
    tracks.back().usable = false; // picture subtitles are passed over in silence
    std::vector<std::string> problems;
    const std::vector<PackageCaption> made =
        WritePackageCaptions(dir + "/out", tracks, 1000000, 0, &problems);
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0].file, "captions.en.vtt");
    EXPECT_EQ(made[1].file, "captions.en.2.vtt");
    EXPECT_EQ(made[0].label, "English");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], dir + "/b.srt: empty");
    // The cues from the clip's start on (the first cut there), moved to its time.
    EXPECT_EQ(ParseVtt(testing_media::ReadText(dir + "/out/captions.en.vtt")),
              (std::vector<Cue>{{0, 200, "Hello there"},
                                {300, 1000, "Fish &amp; chips"},
                                {1100, 1800, "Line one\nLine two"}}));
    // The script for pages opened from the disk: the same cues, nothing that
    // could close a script or start markup.
    const std::string script = testing_media::ReadText(dir + "/out/captions.js");
    EXPECT_NE(script.find("\"captions.en.vtt\": [\n  [0.000000, 0.200000, \"Hello there\"],\n"
                          "  [0.300000, 1.000000, \"Fish \\u0026amp; chips\"]"),
              std::string::npos)
        << script;
    EXPECT_EQ(script.find('<'), std::string::npos) << script;
    EXPECT_NE(script.find("\\u2028"), std::string::npos) << script;
    // A clip without any cue of a track leaves that track out.
    problems.clear();
    EXPECT_TRUE(WritePackageCaptions(dir + "/out", {tracks[2]}, 5000000, 0, &problems).empty());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], dir + "/c.vtt: no cues within the clip");
}

TEST(Captions, PageHasOneTrackPerFileTheFirstByDefault) {
    Project p{};
    MediaInfo m{};
    p.m_OutputWidth = 320;
    p.m_OutputHeight = 180;
    const std::vector<PackageCaption> captions = {{"captions.en.vtt", "en", "English"},
                                                  {"captions.und.vtt", "und", "\"Director\" <b>"}};
    std::u16string out;
    ASSERT_TRUE(ExpandPage(u"<video>{$source}{$tracks}</video>", nullptr,
                           PageValues{&p, &m, 1, &captions}, &out));
    EXPECT_EQ(platform::ToUtf8(out),
              "<video><track kind=\"captions\" src=\"captions.en.vtt\" srclang=\"en\" "
              "label=\"English\" default><track kind=\"captions\" src=\"captions.und.vtt\" "
              "srclang=\"und\" label=\"&quot;Director&quot; &lt;b&gt;\"></video>");
    ASSERT_TRUE(ExpandPage(u"<video>{$tracks}</video>", nullptr, PageValues{&p, &m, 1}, &out));
    EXPECT_EQ(platform::ToUtf8(out), "<video></video>");
}

TEST(Captions, ByHandFilesAreCheckedAndCaptionsCanBeLeftOut) {
    const std::string dir = Home() + "/hand";
    Write(dir + "/good.srt", kTalk);
    Write(dir + "/empty.srt", "");
    Write(dir + "/notes.txt", kTalk);
    WCHAR message[kMaxPath];
    EXPECT_EQ(AddCaptionFile(platform::FromUtf8(dir + "/good.srt").c_str(), u"de", message),
              kCaptionAdded);
    EXPECT_EQ(AddCaptionFile(platform::FromUtf8(dir + "/empty.srt").c_str(), u"", message),
              kCaptionUnusable);
    EXPECT_EQ(platform::ToUtf8(message), dir + "/empty.srt: empty");
    EXPECT_EQ(AddCaptionFile(platform::FromUtf8(dir + "/notes.txt").c_str(), u"", message),
              kCaptionUnusable);
    EXPECT_EQ(platform::ToUtf8(message),
              dir + "/notes.txt: not a caption file (.srt, .vtt, .ass or .ssa)");
    EXPECT_EQ(AddCaptionFile(platform::FromUtf8(dir + "/good.srt").c_str(), u"german", message),
              kCaptionUnusable);
    EXPECT_EQ(platform::ToUtf8(message),
              dir + "/good.srt: \"german\" is not a language (en, de, pt-BR, ...)");

    CaptionEntry entries[4];
    ASSERT_EQ(GetProjectCaptions(entries, 4), 1);
    EXPECT_EQ(platform::ToUtf8(entries[0].szLanguage), "de");
    EXPECT_EQ(platform::ToUtf8(entries[0].szLabel), "German");
    EXPECT_TRUE(entries[0].bByHand);
    EXPECT_EQ(ChosenCaptions().size(), 1u);
    SetCaptionsEnabled(0);
    EXPECT_FALSE(GetCaptionsEnabled());
    EXPECT_TRUE(ChosenCaptions().empty());
}
