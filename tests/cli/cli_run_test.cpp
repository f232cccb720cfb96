// reelpage-cli run as a user runs it, on media the ffmpeg command makes.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media_check.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int rc = -1;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        m_home = getenv("REELPAGE_TEST_HOME");
        m_out = m_home + "/packages";
        fs::create_directories(m_out);
    }

    pid_t Spawn(const std::vector<std::string>& args) {
        std::vector<std::string> all = {std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, (m_home + "/cli.out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, (m_home + "/cli.err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        return pid;
    }

    Outcome Finish(pid_t pid) {
        Outcome r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = Read(m_home + "/cli.out");
        r.err = Read(m_home + "/cli.err");
        return r;
    }

    Outcome RunCli(const std::vector<std::string>& args) { return Finish(Spawn(args)); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    std::string Clip(const std::string& name, const std::string& size, int seconds,
                     bool audio = true) {
        const std::string path = m_home + "/" + name;
        std::string args = "-f lavfi -i testsrc2=s=" + size + ":r=25:d=" + std::to_string(seconds);
        if (audio)
            args += " -f lavfi -i sine=frequency=330:sample_rate=48000:duration=" +
                    std::to_string(seconds);
        args += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + path;
        EXPECT_TRUE(media_check::Ffmpeg(args));
        return path;
    }

    std::string m_home, m_out;
};

TEST_F(Cli, InfoPrintsWhatTheFileInformationDialogShows) {
    const std::string clip = Clip("info.mp4", "320x180", 1);
    Outcome r = RunCli({"--info", clip});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("File: " + clip + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Title: info\n"), std::string::npos);
    EXPECT_NE(r.out.find("  Resolution: 320 x 180\n"), std::string::npos);
    EXPECT_NE(r.out.find("  Frame Rate: 25 fps\n"), std::string::npos);
    EXPECT_NE(r.out.find("  Sample Rate: DVD Quality (48000)\n"), std::string::npos);
    EXPECT_NE(r.out.find("  Channel: Mono\n"), std::string::npos);
    r = RunCli({"--info", "--json", clip});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_NE(r.out.find("\"resolution\": \"320 x 180\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"samplesPerSecond\": 48000"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(m_out)); // nothing encoded
}

TEST_F(Cli, MakesThePackageWithTheOptionsGiven) {
    const std::string clip = Clip("trip.mp4", "320x180", 2);
    // A small opaque watermark and an advertisement picture.
    ASSERT_TRUE(
        media_check::Ffmpeg("-f lavfi -i color=red:s=32x16:d=1 -frames:v 1 " + m_home + "/wm.png"));
    ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i color=blue:s=200x100:d=1 -frames:v 1 " + m_home +
                                    "/ad.png"));
    Outcome r = RunCli({"-o",
                        m_out,
                        "--formats",
                        "webm,mp4,ogg",
                        "--size",
                        "source",
                        "--rotate",
                        "right",
                        "--start",
                        "0.5",
                        "--stop",
                        "1.5",
                        "--brightness",
                        "10",
                        "--watermark",
                        m_home + "/wm.png",
                        "--watermark-position",
                        "left,top",
                        "--template",
                        "1",
                        "--ad",
                        m_home + "/ad.png",
                        "--ad-link",
                        "https://example.org/",
                        "--loop",
                        "--title",
                        "Trip",
                        clip});
    ASSERT_EQ(r.rc, 0) << r.err;
    const std::string folder = m_out + "/trip";
    EXPECT_EQ(r.out, folder + "/index.html\n");
    EXPECT_NE(r.err.find("Package: " + folder), std::string::npos) << r.err;
    for (const char* f : {"video.webm", "video.mp4", "video.ogv", "poster.png", "index.html"})
        EXPECT_TRUE(fs::exists(folder + "/" + f)) << f;
    EXPECT_TRUE(fs::exists(folder + "/ad/logo.png"));
    const std::string page = Read(folder + "/index.html");
    EXPECT_NE(page.find("Trip"), std::string::npos);
    EXPECT_NE(page.find("https://example.org/"), std::string::npos);
    const std::map<std::string, std::pair<std::string, std::string>> codecs = {
        {"video.webm", {"vp8", "vorbis"}},
        {"video.mp4", {"h264", "aac"}},
        {"video.ogv", {"theora", "flac"}}};
    for (const auto& [f, codec] : codecs) {
        EXPECT_EQ(media_check::ProbeStream(folder + "/" + f, "a:0")["codec_name"], codec.second);
        // One second of 48 kHz mono sound, give or take an encoder frame.
        EXPECT_NEAR(double(media_check::DecodedPcmBytes(folder + "/" + f, 48000, 1)), 96000.0,
                    2048.0 * 2)
            << f;
        auto v = media_check::ProbeStream(folder + "/" + f, "v:0");
        EXPECT_EQ(v["codec_name"], codec.first) << f;
        EXPECT_EQ(v["width"], "180") << f; // turned a quarter
        EXPECT_EQ(v["height"], "320") << f;
        EXPECT_EQ(v["nb_read_frames"], "25") << f; // 0.5 s .. 1.5 s at 25 fps
    }
    // The watermark is red in the top left corner of the turned picture.
    auto rgb = media_check::DecodedRgb(folder + "/video.mp4", 3);
    ASSERT_EQ(rgb.size(), 180u * 320 * 3);
    EXPECT_GT(rgb[(5 * 180 + 5) * 3], 200);
    EXPECT_LT(rgb[(5 * 180 + 5) * 3 + 1], 60);
    // A second run names the next folder.
    r = RunCli({"-q", "-o", m_out, "--formats", "mp4", clip});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, m_out + "/trip(1)/index.html\n");
    EXPECT_EQ(r.err, ""); // quiet
}

// TIFF and WebP pictures load in the helpers as PNG does: each kind, as the
// watermark and as the advertisement, reaches video.mp4 and the page.
TEST_F(Cli, TiffAndWebpPicturesReachTheVideoAndThePage) {
    const std::string clip = Clip("pics.mp4", "160x120", 1);
    struct Case {
        const char* watermark;
        const char* ad;
    };
    for (const Case c : {Case{"tiff", "webp"}, Case{"webp", "tiff"}}) {
        SCOPED_TRACE(std::string("watermark ") + c.watermark + ", advertisement " + c.ad);
        const std::string wm = m_home + "/wm." + c.watermark, ad = m_home + "/ad." + c.ad;
        ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i color=red:s=32x16:d=1 -frames:v 1 " + wm));
        ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i color=blue:s=200x100:d=1 -frames:v 1 " + ad));
        const std::string out = m_out + "/" + c.watermark;
        fs::create_directories(out);
        Outcome r = RunCli({"-q", "-o", out, "--formats", "mp4", "--size", "source",
                            "--watermark", wm, "--watermark-position", "left,top", "--ad", ad,
                            "--ad-size", "120x60", "--ad-link", "https://example.org/buy",
                            clip});
        ASSERT_EQ(r.rc, 0) << r.err;
        const std::string folder = out + "/pics";
        // The watermark is red in the top left corner, the rest is the clip.
        auto rgb = media_check::DecodedRgb(folder + "/video.mp4", 3);
        ASSERT_EQ(rgb.size(), 160u * 120 * 3);
        EXPECT_GT(rgb[(5 * 160 + 5) * 3], 200);
        EXPECT_LT(rgb[(5 * 160 + 5) * 3 + 1], 60);
        EXPECT_LT(rgb[(5 * 160 + 5) * 3 + 2], 60);
        EXPECT_FALSE(rgb[(60 * 160 + 80) * 3] > 200 && rgb[(60 * 160 + 80) * 3 + 1] < 60);
        // The advertisement is a PNG of the size asked for, still blue, and linked.
        auto logo = media_check::ProbeStream(folder + "/ad/logo.png", "v:0");
        EXPECT_EQ(logo["codec_name"], "png");
        EXPECT_EQ(logo["width"], "120");
        EXPECT_EQ(logo["height"], "60");
        auto px = media_check::DecodedRgb(folder + "/ad/logo.png", 0);
        ASSERT_EQ(px.size(), 120u * 60 * 3);
        EXPECT_LT(px[(30 * 120 + 60) * 3], 30);
        EXPECT_GT(px[(30 * 120 + 60) * 3 + 2], 220);
        const std::string page = Read(folder + "/index.html");
        EXPECT_NE(page.find("https://example.org/buy"), std::string::npos);
        EXPECT_NE(page.find("ad/logo.png"), std::string::npos);
    }
}

TEST_F(Cli, CtrlCCancelsAndLeavesNothing) {
    const std::string clip = Clip("long.mp4", "640x360", 10);
    const pid_t pid = Spawn({"-o", m_out, clip});
    // Wait until the encoders run, then press Ctrl-C.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<int> helpers;
    while (std::chrono::steady_clock::now() < until) {
        if (Read(m_home + "/cli.err").find("Encoding into") != std::string::npos) {
            std::string list = media_check::Capture("pgrep -P " + std::to_string(pid));
            helpers.clear();
            for (size_t at = 0; at < list.size();) {
                size_t nl = list.find('\n', at);
                helpers.push_back(std::stoi(list.substr(at, nl - at)));
                at = nl == std::string::npos ? list.size() : nl + 1;
            }
            if (helpers.size() >= 4) break; // three encoders and the decoder
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GE(helpers.size(), 4u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    Outcome r = Finish(pid);
    EXPECT_EQ(r.rc, 130) << r.err;
    EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(m_out + "/long"));
    // A helper killed as the front end ends may linger as a zombie until the
    // system reaps it; only one still running counts as left behind.
    auto running = [](int helper) {
        std::ifstream stat("/proc/" + std::to_string(helper) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t paren = text.rfind(')');
        return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z';
    };
    for (int helper : helpers) {
        for (int i = 0; i < 100 && running(helper); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(running(helper)) << "helper " << helper << " left";
    }
}

// Output and messages into a pipe whose reader has gone (as with `| head -2`
// once it has its lines): the job still ends with a whole package.
TEST_F(Cli, AClosedOutputStreamNeverKillsTheJob) {
    const std::string clip = Clip("piped.mp4", "160x90", 2);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    std::vector<std::string> all = {std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli", "-o",
                                    m_out, clip};
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&files, pipeFds[1], 2);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    close(pipeFds[1]);
    const Outcome r = Finish(pid);
    EXPECT_EQ(r.rc, 0);
    for (const char* file : {"index.html", "poster.png", "video.mp4", "video.webm", "video.ogv"})
        EXPECT_TRUE(fs::exists(m_out + "/piped/" + file)) << file;
}

TEST_F(Cli, FailuresSayWhatWentWrong) {
    fs::create_directories(m_home + "/texts");
    std::ofstream(m_home + "/texts/notes.mp4") << "not a video at all\n";
    const std::string silent = m_home + "/sound.wav";
    ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i sine=duration=1 " + silent));
    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* says;
    } cases[] = {
        {{"--bogus", "x.mp4"}, 1, "unknown option --bogus"},
        {{"/nonexistent/clip.mp4"}, 2, "Unable to read file information or file does not exist."},
        {{m_home + "/texts/notes.mp4"}, 2, "Not support this file."},
        {{silent}, 2, "Not a movie file"},
        {{"--watermark", "/nonexistent.png", silent}, 1, "/nonexistent.png: no such file"},
        {{"--output", "/nonexistent/folder", silent}, 1, "no such folder"},
    };
    for (const Case& c : cases) {
        Outcome r = RunCli(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.says << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const std::string clip = Clip("c.mp4", "160x90", 1, false);
    Outcome r = RunCli({"--crop", "100,0,100,90", clip});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("--crop: the rectangle reaches beyond the 160 x 90 picture"),
              std::string::npos)
        << r.err;
    r = RunCli({"--template", "Nope", clip});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("no such template"), std::string::npos) << r.err;
}

TEST_F(Cli, HelpDocumentsEveryOption) {
    Outcome r = RunCli({"--help"});
    EXPECT_EQ(r.rc, 0);
    for (const char* option : {"--output",
                               "--formats",
                               "--size",
                               "--resize",
                               "--start",
                               "--stop",
                               "--rotate",
                               "--flip",
                               "--crop",
                               "--brightness",
                               "--contrast",
                               "--watermark",
                               "--watermark-position",
                               "--watermark-at",
                               "--watermark-size",
                               "--watermark-transparency",
                               "--template",
                               "--templates",
                               "--autoplay",
                               "--controls",
                               "--loop",
                               "--ad",
                               "--ad-link",
                               "--ad-size",
                               "--title",
                               "--info",
                               "--json",
                               "--quiet",
                               "Exit status",
                               "Ctrl-C"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    r = RunCli({"--templates"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("0  "), std::string::npos) << r.out;
}

} // namespace
