// Pages published from every shipped template by the page generator, checked
// as a viewer's browser meets them: the W3C Nu checker finds no errors, and
// headless Chromium (data/templates/tools/check-pages.mjs) plays the right
// source to its real length, handles refused autoplay and the advertisement,
// and answers real presses. The sample videos are made here with ffmpeg.
//
// The checker and the browser are outside tools: without them the tests are
// skipped on a developer's machine, but fail under CI, where
// tools/install-deps.sh and tools/test.sh install them.
// REELPAGE_PAGE_SHOTS=<folder> also leaves screenshots of every page there.
#include "system/Folders.h"
#include "publishing/PageGenerator.h"
#include "publishing/Templates.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "media_fixtures.h"
#include "platform/wstr.h"

extern char** environ;

using namespace reelpage;
namespace fs = std::filesystem;

namespace {

std::string Home() {
    return getenv("HOME");
}

std::string FindProgram(const std::string& name) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::string MissingPrograms(std::initializer_list<const char*> names) {
    std::string missing;
    for (const char* name : names)
        if (FindProgram(name).empty()) missing += std::string(missing.empty() ? "" : ", ") + name;
    return missing;
}

bool UnderCi() {
    const char* ci = getenv("CI");
    return ci && *ci && strcmp(ci, "false") != 0 && strcmp(ci, "0") != 0;
}

// CI installs every tool, so a missing one there is a broken setup rather
// than a reason to skip.
#define REQUIRE_TOOLS(missing)                                                                     \
    do {                                                                                           \
        const std::string m_ = (missing);                                                          \
        if (!m_.empty()) {                                                                         \
            if (UnderCi()) FAIL() << "missing under CI: " << m_ << " (tools/install-deps.sh)";     \
            GTEST_SKIP() << "needs " << m_ << " (tools/install-deps.sh, tools/test.sh)";           \
        }                                                                                          \
    } while (0)

struct RunResult {
    int status = -1;
    std::string output; // stdout and stderr together
};

RunResult RunProgram(const std::vector<std::string>& argv) {
    RunResult result;
    const std::string outFile = Home() + "/run-output.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.output = "cannot start " + argv[0] + ": " + strerror(rc);
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = testing_media::ReadText(outFile);
    return result;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

constexpr double kSeconds = 3;
constexpr const char16_t* kTitle = u"Harbour at dawn & the \"first\" ferry \u2014 <\u00e9t\u00e9>";
const char* const kFormats[] = {"webm", "mp4", "ogv"};

struct Scenario {
    const char* tag;
    bool formats[3]; // WebM, MP4, Ogg
    bool autoplay;
    bool controls;
    bool ad;
    bool damaged;  // WebM and MP4 files that no browser can decode
    bool portrait; // a phone video
    std::vector<const char*> presses;
    bool silent = false; // videos without a sound track
    bool av1 = false;    // the WebM file in AV1 with Opus
};

// What each template is published with. Autoplay is on with the
// advertisement: the generator must turn it off there.
std::vector<Scenario> ScenariosFor(bool templateHasAd) {
    std::vector<Scenario> s = {
        {"plain", {true, true, true}, false, true, false, false, false, {}},
        {"autoplay", {true, true, true}, true, true, false, false, false, {"unmute"}},
        {"nocontrols", {true, true, true}, false, false, false, false, false, {"keyboard"}},
        {"ogvonly", {false, false, true}, false, true, false, false, false, {}},
        {"damaged", {true, true, true}, false, true, false, true, false, {}},
        {"silent", {true, true, true}, true, true, false, false, false, {}, true},
        {"av1", {true, true, true}, false, true, false, false, false, {}, false, true},
    };
    if (templateHasAd) {
        s.push_back(
            {"ad", {true, true, true}, true, true, true, false, false, {"ad-play", "ad-escape"}});
        s.push_back({"portrait-ad", {true, true, false}, false, true, true, false, true, {}});
    } else {
        s.push_back({"portrait", {true, true, false}, false, true, false, false, true, {}});
    }
    return s;
}

struct PublishedPage {
    std::string name; // <template>-<scenario>
    std::string templateName;
    std::string folder;
    Scenario scenario;
    std::string title = platform::ToUtf8(kTitle);
    std::string captions; // the manifest's "captions" array, or empty
};

// One set of sample files per picture size, made in one ffmpeg run.
void MakeMedia(const std::string& dir, int w, int h) {
    fs::create_directories(dir);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    const std::string t = std::to_string(kSeconds);
    // clang-format off
    ASSERT_TRUE(testing_media::Ffmpeg({
        "-f", "lavfi", "-t", t, "-i", "testsrc2=size=" + size + ":rate=25",
        "-f", "lavfi", "-t", t, "-i", "sine=frequency=440:sample_rate=48000",
        "-c:v", "libvpx", "-b:v", "400k", "-c:a", "libvorbis",
        "-avoid_negative_ts", "make_zero", dir + "/video.webm",
        "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-movflags", "+faststart", dir + "/video.mp4",
        "-c:v", "libtheora", "-q:v", "6", "-c:a", "flac", "-sample_fmt", "s16",
        "-avoid_negative_ts", "make_zero", dir + "/video.ogv",
        "-c:v", "libsvtav1", "-preset", "12", "-crf", "40", "-c:a", "libopus",
        "-avoid_negative_ts", "make_zero", dir + "/video-av1.webm"}));
    // clang-format on
    ASSERT_TRUE(testing_media::Ffmpeg(
        {"-ss", "1.5", "-i", dir + "/video.mp4", "-frames:v", "1", dir + "/poster.bmp"}));
}

// Publishes every scenario with every shipped template into folders of its
// own, the way the program does after encoding: the videos are in the folder,
// the poster and advertisement pictures elsewhere. Once per process: both
// tests run in one when started by hand for the screenshots.
void PublishEveryTemplate(std::vector<PublishedPage>* pages) {
    static std::vector<PublishedPage> published;
    if (!published.empty()) {
        *pages = published;
        return;
    }
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    ASSERT_EQ(InitFolders(), 0) << "the installation check failed; see the engine log";
    LoadTemplateList(u"Templates.lst");
    LoadTemplateList(u"TemplatesEx.lst");
    ASSERT_GE(GetTemplateCount(), 4);

    const std::string landscape = Home() + "/media/landscape",
                      portrait = Home() + "/media/portrait";
    MakeMedia(landscape, 320, 180);
    if (testing::Test::HasFatalFailure()) return;
    MakeMedia(portrait, 180, 320);
    if (testing::Test::HasFatalFailure()) return;
    const std::string adPicture = Home() + "/media/ad.png";
    ASSERT_TRUE(testing_media::Ffmpeg(
        {"-f", "lavfi", "-i", "smptehdbars=size=600x250", "-frames:v", "1", adPicture}));

    for (int i = 0; i < GetTemplateCount(); ++i) {
        const TemplateEntry* e = GetTemplate(i);
        const std::string templ = platform::ToUtf8(e->szName);
        for (const Scenario& s : ScenariosFor(e->bHasAd)) {
            PublishedPage page{templ + "-" + s.tag,
                               templ,
                               Home() + "/pages/" + templ + "-" + s.tag,
                               s,
                               platform::ToUtf8(kTitle),
                               {}};
            const std::string& media = s.portrait ? portrait : landscape;
            fs::create_directories(page.folder);
            for (int f = 0; f < 3; ++f) {
                if (!s.formats[f]) continue;
                const std::string file = std::string("/video.") + kFormats[f];
                if (s.damaged && f < 2)
                    std::ofstream(page.folder + file) << "not a video";
                else if (s.av1 && f == 0)
                    fs::copy_file(media + "/video-av1.webm", page.folder + file);
                else if (s.silent)
                    ASSERT_TRUE(testing_media::Ffmpeg(
                        {"-i", media + file, "-an", "-c", "copy", page.folder + file}));
                else
                    fs::copy_file(media + file, page.folder + file);
            }
            Project p{};
            MediaInfo m{};
            platform::WStrCopy(m.m_szName, kTitle);
            m.m_bAudioStream = !s.silent;
            p.m_Templete = i;
            for (int f = 0; f < 3; ++f)
                p.m_Formats[f] = s.formats[f];
            p.m_OutputWidth = s.portrait ? 180 : 320;
            p.m_OutputHeight = s.portrait ? 320 : 180;
            p.m_Autoplay = s.autoplay;
            p.m_Controls = s.controls;
            platform::WStrCopy(p.m_szPosterImage, platform::FromUtf8(media + "/poster.bmp"));
            if (s.ad) {
                // 600 x 250 fitted into the video as the program does.
                platform::WStrCopy(p.m_AdFile, platform::FromUtf8(adPicture));
                platform::WStrCopy(p.m_AdLink, u"https://example.invalid/offer?a=1&b=2");
                p.m_AdImageWidth = 600;
                p.m_AdImageHeight = 250;
                p.m_AdWidth = s.portrait ? 180 : 320;
                p.m_AdHeight = s.portrait ? 75 : 133;
            }
            ASSERT_TRUE(GeneratePage(platform::FromUtf8(page.folder).c_str(), p, &m)) << page.name;
            pages->push_back(page);
        }
    }
    published = *pages;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Packages the whole program makes (reelpage-cli: import, encode, publish)
// from a video with caption files beside it and from an MP4 with a caption
// stream. The cues are the ones the browser must have; one file spells
// markup as entities, which must show as text.
const char kTalkSrt[] = "1\n00:00:00,500 --> 00:00:01,200\nHello <i>there</i>\n\n"
                        "2\n00:00:01,300 --> 00:00:02,000\nFish & chips\n\n"
                        "3\n00:00:02,100 --> 00:00:02,800\nLine one\nLine two\n";
const char kTalkSrtCues[] = "[[0.5, 1.2, \"Hello there\"], [1.3, 2, \"Fish & chips\"], "
                            "[2.1, 2.8, \"Line one\\nLine two\"]]";

void PublishCaptionedPackages(std::vector<PublishedPage>* pages) {
    static std::vector<PublishedPage> published;
    if (published.empty()) {
        const std::string dir = Home() + "/captioned";
        fs::create_directories(dir);
        fs::copy_file(Home() + "/media/landscape/video.mp4", dir + "/talk.mp4",
                      fs::copy_options::overwrite_existing);
        std::ofstream(dir + "/talk.srt") << kTalkSrt;
        std::ofstream(dir + "/talk.en.vtt")
            << "WEBVTT\n\n00:00.000 --> 00:01.500\n&lt;img src=x onerror=alert(1)&gt; &amp; "
               "<b>more</b>\n";
        ASSERT_TRUE(testing_media::Ffmpeg(
            {"-i", dir + "/talk.mp4", "-i", dir + "/talk.srt", "-map", "0", "-map", "1", "-c:v",
             "copy", "-c:a", "copy", "-c:s", "mov_text", "-metadata:s:s:0", "language=eng",
             dir + "/stream.mp4"}));
        const std::string talkCaptions =
            "[{\"src\": \"captions.en.vtt\", \"lang\": \"en\", \"label\": \"English\", "
            "\"cues\": [[0, 1.5, \"<img src=x onerror=alert(1)> & more\"]]}, "
            "{\"src\": \"captions.und.vtt\", \"lang\": \"und\", \"label\": \"Captions\", "
            "\"cues\": " + std::string(kTalkSrtCues) + "}]";
        const std::string streamCaptions =
            "[{\"src\": \"captions.en.vtt\", \"lang\": \"en\", \"label\": \"English\", "
            "\"cues\": " + std::string(kTalkSrtCues) + "}]";
        for (const auto& [video, captions] :
             {std::pair{std::string("talk"), talkCaptions}, {std::string("stream"), streamCaptions}}) {
            const RunResult r = RunProgram({std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli",
                                            "-q", "-o", dir, "--formats", "webm,mp4",
                                            "--no-autoplay", "--controls", "--template", "0",
                                            dir + "/" + video + ".mp4"});
            ASSERT_EQ(r.status, 0) << r.output;
            const std::string page = Lines(r.output).back();
            Scenario s{"captions", {true, true, false}, false, true, false, false, false, {}};
            published.push_back({"cli-" + video, "cli", fs::path(page).parent_path().string(), s,
                                 video, captions});
        }
    }
    pages->insert(pages->end(), published.begin(), published.end());
}

std::string Manifest(const std::vector<PublishedPage>& pages) {
    std::string json = "{\"pages\": [\n";
    for (size_t i = 0; i < pages.size(); ++i) {
        const PublishedPage& page = pages[i];
        const Scenario& s = page.scenario;
        std::string formats, presses;
        for (int f = 0; f < 3; ++f)
            if (s.formats[f])
                formats += std::string(formats.empty() ? "" : ", ") + JsonString(kFormats[f]);
        for (const char* press : s.presses)
            presses += std::string(presses.empty() ? "" : ", ") + JsonString(press);
        auto flag = [](bool b) { return b ? "true" : "false"; };
        json += "  {\"name\": " + JsonString(page.name) +
                ", \"page\": " + JsonString(page.folder + "/index.html") +
                ", \"title\": " + JsonString(page.title) + ", \"formats\": [" +
                formats + "], \"damaged\": " + flag(s.damaged) + ", \"ad\": " + flag(s.ad) +
                ", \"autoplay\": " + flag(s.autoplay) + ", \"silent\": " + flag(s.silent) + ", \"controls\": " + flag(s.controls) +
                ", \"duration\": " + std::to_string(kSeconds) + ", \"presses\": [" + presses +
                "]" + (page.captions.empty() ? "" : ", \"captions\": " + page.captions) + "}" +
                (i + 1 < pages.size() ? ",\n" : "\n");
    }
    return json + "]}\n";
}

} // namespace

TEST(PublishedPages, PassTheHtmlChecker) {
    const std::string jar =
        std::string(REELPAGE_SOURCE_DIR) + "/tests/web/node_modules/vnu-jar/build/dist/vnu.jar";
    std::string missing = MissingPrograms({"ffmpeg", "java"});
    if (!fs::exists(jar))
        missing += std::string(missing.empty() ? "" : ", ") + jar + " (npm ci --prefix tests/web)";
    REQUIRE_TOOLS(missing);

    std::vector<PublishedPage> pages;
    PublishEveryTemplate(&pages);
    if (HasFatalFailure()) return;
    PublishCaptionedPackages(&pages);
    if (HasFatalFailure()) return;
    // The style sheets too, as a rule the browser drops changes the look
    // silently; each distinct one once, since checking CSS is slow.
    std::vector<std::string> argv = {"java", "-jar", jar, "--errors-only", "--also-check-css"};
    std::set<std::string> styleSheets;
    for (const auto& page : pages) {
        argv.push_back(page.folder + "/index.html");
        for (const auto& e : fs::recursive_directory_iterator(page.folder))
            if (e.path().extension() == ".css" &&
                styleSheets.insert(testing_media::ReadText(e.path())).second)
                argv.push_back(e.path().string());
    }
    const RunResult r = RunProgram(argv);
    // The checker names each file in its messages; each page's errors are
    // reported under its template.
    for (const auto& page : pages)
        for (const auto& line : Lines(r.output))
            if (line.find(page.folder + "/") != std::string::npos)
                ADD_FAILURE() << "template " << page.templateName << ", page " << page.name << ": "
                              << line;
    EXPECT_EQ(r.status, 0) << r.output;
}

// Each source names its container and codecs as read from the file, in the
// order the browser tries them: WebM, MP4, Ogg.
TEST(PublishedPages, SourcesCarryTheCodecsOfTheirFiles) {
    REQUIRE_TOOLS(MissingPrograms({"ffmpeg"}));
    std::vector<PublishedPage> pages;
    PublishEveryTemplate(&pages);
    if (HasFatalFailure()) return;
    const std::string mp4 =
        "<source src=\"video.mp4\" type='video/mp4; codecs=\"avc1.64000c, mp4a.40.2\"' />";
    // The Ogg file keeps its bare type, for the player's Ogg handling.
    const std::string ogv = "<source src=\"video.ogv\" type='video/ogg' />";
    const struct {
        const char* tag;
        std::string sources;
    } cases[] = {
        {"plain",
         "<source src=\"video.webm\" type='video/webm; codecs=\"vp8, vorbis\"' />" + mp4 + ogv},
        {"av1",
         "<source src=\"video.webm\" type='video/webm; codecs=\"av01.0.00M.08, opus\"' />" + mp4 +
             ogv},
        {"silent", "<source src=\"video.webm\" type='video/webm; codecs=\"vp8\"' />"
                   "<source src=\"video.mp4\" type='video/mp4; codecs=\"avc1.64000c\"' />"
                   "<source src=\"video.ogv\" type='video/ogg' />"},
        // Files no browser can read keep their bare types.
        {"damaged", "<source src=\"video.webm\" type='video/webm' />"
                    "<source src=\"video.mp4\" type='video/mp4' />" + ogv},
    };
    int checked = 0;
    for (const auto& page : pages) {
        for (const auto& c : cases) {
            if (page.scenario.tag != std::string(c.tag)) continue;
            const std::string html = testing_media::ReadText(page.folder + "/index.html");
            EXPECT_NE(html.find(c.sources), std::string::npos) << page.name << "\n" << html;
            ++checked;
        }
    }
    EXPECT_EQ(checked, int(std::size(cases)) * GetTemplateCount());
}

TEST(PublishedPages, PlayInChromium) {
    REQUIRE_TOOLS(MissingPrograms({"ffmpeg", "node", "chromium"}));

    std::vector<PublishedPage> pages;
    PublishEveryTemplate(&pages);
    if (HasFatalFailure()) return;
    PublishCaptionedPackages(&pages);
    if (HasFatalFailure()) return;
    const std::string manifest = Home() + "/pages/manifest.json";
    std::ofstream(manifest) << Manifest(pages);
    std::vector<std::string> argv = {
        "node", std::string(REELPAGE_SOURCE_DIR) + "/data/templates/tools/check-pages.mjs",
        manifest};
    if (const char* shots = getenv("REELPAGE_PAGE_SHOTS")) {
        argv.push_back("--shots");
        argv.push_back(shots);
    }
    const RunResult r = RunProgram(argv);
    const std::vector<std::string> lines = Lines(r.output);
    auto reported = [&](const std::string& what) {
        for (const auto& line : lines)
            if (line.rfind("ok " + what, 0) == 0 || line.rfind("FAIL " + what, 0) == 0) return true;
        return false;
    };
    for (const auto& page : pages) {
        for (const auto& line : lines)
            if (line.rfind("FAIL " + page.name + " ", 0) == 0)
                ADD_FAILURE() << "template " << page.templateName << ": " << line;
        // Every page, policy and press must have been checked, not passed over.
        std::vector<std::string> expected = {page.name + " (refused)"};
        if (page.scenario.autoplay && !page.scenario.ad)
            expected.push_back(page.name + " (allowed)");
        if (page.scenario.damaged) expected.push_back(page.name + " with its script late");
        for (const char* press : page.scenario.presses)
            expected.push_back(page.name + " " + press);
        if (!page.captions.empty()) {
            expected.push_back(page.name + " captions from the disk");
            expected.push_back(page.name + " captions served");
        }
        for (const auto& what : expected)
            EXPECT_TRUE(reported(what))
                << "template " << page.templateName << ": " << what << " was not checked";
    }
    EXPECT_EQ(r.status, 0) << r.output;
}
