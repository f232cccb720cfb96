// reelpage-cli run as a user runs it, on media the ffmpeg command makes.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
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
        std::vector<std::string> all = {Program()};
        all.insert(all.end(), args.begin(), args.end());
        return SpawnCommand(all, m_home + "/cli.out", m_home + "/cli.err");
    }

    static std::string Program() { return std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli"; }

    // Any command, its output and messages into the files named.
    static pid_t SpawnCommand(std::vector<std::string> all, const std::string& out,
                              const std::string& err) {
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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

    // The processes `pid` started, running or not yet reaped.
    static std::vector<int> Children(int pid) {
        const std::string list = media_check::Capture("pgrep -P " + std::to_string(pid));
        std::vector<int> children;
        for (size_t at = 0; at < list.size();) {
            const size_t nl = list.find('\n', at);
            children.push_back(std::stoi(list.substr(at, nl - at)));
            at = nl == std::string::npos ? list.size() : nl + 1;
        }
        return children;
    }

    // Every process under `pid`: its children and theirs (the helper host's
    // helpers among them).
    static std::vector<int> Descendants(int pid) {
        std::vector<int> all = Children(pid);
        for (size_t i = 0; i < all.size(); ++i) {
            const std::vector<int> more = Children(all[i]);
            all.insert(all.end(), more.begin(), more.end());
        }
        return all;
    }

    // How many of the processes run a helper, dec or enc.
    static size_t HelperCount(const std::vector<int>& pids) {
        size_t count = 0;
        for (int pid : pids) {
            std::string name;
            std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> std::ws, name);
            count += name == "dec" || name == "enc";
        }
        return count;
    }

    // A helper killed as the front end ends may linger as a zombie until the
    // system reaps it; only one still running counts as left behind.
    static bool Running(int pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t paren = text.rfind(')');
        return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z';
    }

    // Gives each process a few seconds to end; says which did not.
    static void ExpectEnded(const std::vector<int>& processes) {
        for (int process : processes) {
            for (int i = 0; i < 100 && Running(process); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_FALSE(Running(process)) << "process " << process << " left";
        }
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
    // The place the package will have, not only the hidden one it is built in.
    EXPECT_NE(r.err.find("Encoding into " + folder + " (built in " + m_out + "/.reelpage-job-"),
              std::string::npos)
        << r.err;
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

// Captions beside and inside a video are listed by --info; a caption file
// given by hand that cannot be used stops the run before anything is
// encoded, one merely found is left out with a message and the package is
// made all the same; --no-captions leaves even good ones out.
TEST_F(Cli, CaptionsAreListedCheckedAndLeftOutOnRequest) {
    const std::string dir = m_home + "/cc";
    fs::create_directories(dir);
    const std::string plain = Clip("cc/plain.mp4", "160x120", 2, false);
    std::ofstream(dir + "/talk.de.srt") << "1\n00:00:00,200 --> 00:00:01,000\nHallo\n";
    ASSERT_TRUE(media_check::Ffmpeg("-i " + plain + " -i " + dir + "/talk.de.srt -map 0 -map 1 " +
                                    "-c:v copy -c:s mov_text -metadata:s:s:0 language=eng " + dir +
                                    "/talk.mp4"));
    Outcome r = RunCli({"--info", dir + "/talk.mp4"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("Captions\n  talk.de.srt: de, German (subrip)\n"
                         "  stream 1: en, English (mov_text)\n"),
              std::string::npos)
        << r.out;
    r = RunCli({"--info", "--json", dir + "/talk.mp4"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("{\"file\": \"" + dir + "/talk.mp4\", \"stream\": 1, \"language\": \"en\", "
                         "\"label\": \"English\", \"format\": \"mov_text\", \"usable\": true}"),
              std::string::npos)
        << r.out;

    // By hand: missing, empty, and of an unknown kind.
    std::ofstream(dir + "/empty.srt").close();
    std::ofstream(dir + "/notes.txt") << "1\n00:00:00,200 --> 00:00:01,000\nHallo\n";
    const struct {
        std::string given;
        std::string says;
    } kCases[] = {
        {dir + "/none.srt", "reelpage-cli: --captions " + dir + "/none.srt: no such file\n"},
        {dir + "/empty.srt:en", "reelpage-cli: --captions " + dir + "/empty.srt: empty\n"},
        {dir + "/notes.txt",
         "reelpage-cli: --captions " + dir + "/notes.txt: not a caption file (.srt, .vtt, .ass or .ssa)\n"},
    };
    for (const auto& c : kCases) {
        r = RunCli({"-q", "-o", m_out, "--formats", "mp4", "--captions", c.given, plain});
        EXPECT_EQ(r.rc, 1) << c.given;
        EXPECT_EQ(r.err, c.says);
    }
    EXPECT_TRUE(fs::is_empty(m_out)); // nothing was started

    // Found beside the video and broken: said, and the package is made.
    std::ofstream(dir + "/plain.srt") << std::string("\x00\x01" "binary\xff", 9);
    r = RunCli({"-q", "-o", m_out, "--formats", "mp4", plain});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err, "reelpage-cli: captions: " + dir +
                         "/plain.srt: not a caption file (it holds binary data)\n");
    EXPECT_FALSE(fs::exists(m_out + "/plain/captions.js"));
    EXPECT_EQ(Read(m_out + "/plain/index.html").find("<track"), std::string::npos);

    // Two good tracks, or none at all with --no-captions.
    r = RunCli({"-q", "-o", m_out, "--formats", "mp4", dir + "/talk.mp4"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::exists(m_out + "/talk/captions.de.vtt"));
    EXPECT_TRUE(fs::exists(m_out + "/talk/captions.en.vtt"));
    EXPECT_NE(Read(m_out + "/talk/index.html")
                  .find("<track kind=\"captions\" src=\"captions.de.vtt\" srclang=\"de\" "
                        "label=\"German\" default>"),
              std::string::npos);
    r = RunCli({"-q", "-o", m_out, "--formats", "mp4", "--no-captions", dir + "/talk.mp4"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_FALSE(fs::exists(m_out + "/talk(1)/captions.de.vtt"));
    EXPECT_EQ(Read(m_out + "/talk(1)/index.html").find("<track"), std::string::npos);
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
            helpers = Descendants(pid);
            if (HelperCount(helpers) >= 4) break; // three encoders and the decoder
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GE(HelperCount(helpers), 4u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    Outcome r = Finish(pid);
    EXPECT_EQ(r.rc, 130) << r.err;
    EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(m_out + "/long"));
    ExpectEnded(helpers);
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

// Every output written, but the package cannot take its name: its name is
// taken and the numbered ones would leave no room for the names of its files.
// A failure that says where the files are kept; they stay there, and a later
// job's sweep of unfinished ones leaves them alone.
TEST_F(Cli, APackageThatCannotTakeItsNameIsKeptAndSaidSo) {
    const std::string parent = m_home + "/named";
    // The longest package folder whose files' names still fit.
    const size_t longest = 227;
    ASSERT_LT(parent.size() + 1, longest - 100);
    const std::string title(longest - parent.size() - 1, 't');
    fs::create_directories(parent + "/" + title);
    std::ofstream(parent + "/" + title + "/mine.txt") << "the user's";
    const std::string clip = Clip(title + ".mp4", "160x90", 1, false);
    Outcome r = RunCli({"-o", parent, "--formats", "mp4", clip});
    EXPECT_EQ(r.rc, 3) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Encoding into " + parent + "/" + title + "(n) (built in "),
              std::string::npos)
        << r.err;
    std::string keptFolder;
    for (const auto& entry : fs::directory_iterator(parent))
        if (entry.path().filename().string().rfind(".reelpage-job-", 0) == 0)
            keptFolder = entry.path().string();
    ASSERT_FALSE(keptFolder.empty());
    EXPECT_NE(r.err.find("its files are kept in " + keptFolder), std::string::npos) << r.err;
    EXPECT_GT(fs::file_size(keptFolder + "/video.mp4"), 0u);
    EXPECT_EQ(Read(parent + "/" + title + "/mine.txt"), "the user's");

    r = RunCli({"-q", "-o", parent, "--formats", "mp4", Clip("next.mp4", "160x90", 1, false)});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(fs::exists(keptFolder + "/video.mp4")) << "swept by the next job";
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
        {{"/" + std::string(300, 'p') + ".mp4"}, 2, "The file's path is too long"},
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

// A file that is there but not ours to read is said to be so, not taken for
// a format the program does not know. As root, permissions bind only once
// the front end runs as an ordinary user.
TEST_F(Cli, AFileThatCannotBeReadIsSaidSo) {
    char tmpl[] = "/tmp/reelpage-noaccess-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    chmod(dir.c_str(), 0777);
    const std::string clip = dir + "/secret.mp4";
    ASSERT_TRUE(media_check::Ffmpeg("-f lavfi -i testsrc2=s=160x90:d=1 -c:v libx264 " + clip));
    chmod(clip.c_str(), geteuid() == 0 ? 0600 : 0);
    std::vector<std::string> all;
    if (geteuid() == 0)
        all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    const std::string home = dir + "/home";
    all.insert(all.end(), {"/usr/bin/env", "-i", "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
                           "XDG_DATA_HOME=" + home + "/.local/share", "XDG_CACHE_HOME=" + home + "/.cache",
                           "TMPDIR=" + dir, "REELPAGE_MACHINE_REGISTRY=" + dir + "/machine",
                           Program(), "--info", clip});
    const pid_t pid = SpawnCommand(all, m_home + "/cli.out", m_home + "/cli.err");
    const Outcome r = Finish(pid);
    std::error_code ec;
    fs::remove_all(dir, ec);
    EXPECT_EQ(r.rc, 2) << r.err;
    EXPECT_NE(r.err.find(clip + ": The file cannot be read: permission denied."), std::string::npos)
        << r.err;
}

// Runs that import one new file at the same time leave one record for it,
// and no sample or thumbnail that no record names.
TEST_F(Cli, RunsOnOneNewFileAtOnceLeaveOneRecord) {
    const std::string clip = Clip("together.mp4", "160x90", 2);
    std::vector<pid_t> runs;
    for (int i = 0; i < 5; ++i)
        runs.push_back(SpawnCommand({Program(), "--info", clip}, "/dev/null", "/dev/null"));
    for (pid_t pid : runs) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string records = std::string(getenv("XDG_CONFIG_HOME")) +
                                "/Zelmorix/registry/SOFTWARE/Zelmorix/MediaInfo";
    const auto count = [](const std::string& folder, const std::string& ext) {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(folder))
            n += ext.empty() || e.path().extension() == ext;
        return n;
    };
    EXPECT_EQ(count(records, ""), 1u);
    const std::string sides = std::string(getenv("XDG_DATA_HOME")) + "/Zelmorix/MediaInfo";
    EXPECT_EQ(count(sides, ".wav"), 1u);
    EXPECT_EQ(count(sides, ".bmp"), 1u);
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
                               "--jobs",
                               "--recursive",
                               "Exit status",
                               "Ctrl-C"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    r = RunCli({"--templates"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("0  "), std::string::npos) << r.out;
}

// Several videos: a folder's and single files, good and bad, two of the same
// name. Each good one gets a package of its own, the bad ones are said and
// summed up, and the exit status tells that not all went well.
TEST_F(Cli, ABatchGoesPastFailuresAndSumsUp) {
    fs::create_directories(m_home + "/clips/other");
    Clip("clips/a.mp4", "160x90", 1);
    Clip("clips/b.mp4", "160x90", 1, false);
    Clip("clips/other/a.mp4", "160x90", 1);
    std::ofstream(m_home + "/clips/broken.mp4") << "not a video\n";
    std::ofstream(m_home + "/clips/notes.txt") << "not taken\n";
    const std::string clips = m_home + "/clips", missing = m_home + "/missing.mp4";
    const Outcome r =
        RunCli({"-o", m_out, "--formats", "mp4", clips, clips + "/other/a.mp4", missing});
    EXPECT_EQ(r.rc, 6) << r.err;
    // One after the other, in the order named and the folder's name order.
    EXPECT_EQ(r.out,
              m_out + "/a/index.html\n" + m_out + "/b/index.html\n" + m_out + "/a(1)/index.html\n");
    const std::string summary = "  published  " + clips + "/a.mp4: " + m_out + "/a/index.html\n" +
                                "  published  " + clips + "/b.mp4: " + m_out + "/b/index.html\n" +
                                "  failed     " + clips + "/broken.mp4: Not support this file.\n" +
                                "  published  " + clips + "/other/a.mp4: " + m_out +
                                "/a(1)/index.html\n" + "  failed     " + missing +
                                ": Unable to read file information or file does not exist.\n"
                                "reelpage-cli: 3 of 5 published, 2 failed\n";
    EXPECT_TRUE(r.err.ends_with(summary)) << r.err;
    std::set<std::string> packages;
    for (const auto& entry : fs::directory_iterator(m_out)) {
        packages.insert(entry.path().filename());
        for (const char* file : {"index.html", "poster.png", "video.mp4"})
            EXPECT_TRUE(fs::exists(entry.path() / file)) << entry.path() << " " << file;
    }
    EXPECT_EQ(packages, (std::set<std::string>{"a", "a(1)", "b"}));
    // The log keeps every job's lines, not only the last one's.
    const std::string log = media_check::Capture("cat \"$(find " + media_check::Quote(m_home) +
                                                 " -name reelpage.log)\"");
    for (const char* package : {"/a\n", "/b\n", "/a(1)\n"})
        EXPECT_NE(log.find("in place as " + m_out + package), std::string::npos) << package << "\n"
                                                                                 << log;
}

// --jobs 2: two videos at a time, never more, each line of their messages
// and progress whole and headed by its video.
TEST_F(Cli, JobsRunSideBySideWithReadableLines) {
    fs::create_directories(m_home + "/three");
    for (const char* name : {"three/one.mp4", "three/two.mp4", "three/three.mp4"})
        Clip(name, "640x360", 3);
    const pid_t pid = Spawn({"-o", m_out, "--formats", "webm,mp4", "-j", "2", m_home + "/three"});
    size_t most = 0;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        most = std::max(most, Children(pid).size());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(WIFEXITED(status));
    const std::string err = Read(m_home + "/cli.err");
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    EXPECT_EQ(most, 2u);
    for (const char* name : {"one", "two", "three"})
        EXPECT_TRUE(fs::exists(m_out + "/" + name + "/index.html")) << name;
    const size_t summary = err.find("\n  published");
    ASSERT_NE(summary, std::string::npos) << err;
    std::istringstream lines(err.substr(0, summary + 1));
    std::set<std::string> progressOf; // the videos with a progress line
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with("[1/3 one.mp4] ") || line.starts_with("[2/3 three.mp4] ") ||
                    line.starts_with("[3/3 two.mp4] "))
            << line;
        if (line.find("%  elapsed") != std::string::npos)
            progressOf.insert(line.substr(0, line.find(']') + 1));
    }
    EXPECT_EQ(progressOf,
              (std::set<std::string>{"[1/3 one.mp4]", "[2/3 three.mp4]", "[3/3 two.mp4]"}))
        << err;
    EXPECT_TRUE(err.ends_with("reelpage-cli: 3 of 3 published\n")) << err;
}

// Ctrl-C sent to the batch alone (not to its whole process group, as a
// terminal does): the running jobs are cancelled and leave nothing, the
// rest never start, and no job or helper process is left.
TEST_F(Cli, CtrlCCancelsEveryJobOfABatch) {
    fs::create_directories(m_home + "/long");
    for (const char* name : {"long/l1.mp4", "long/l2.mp4", "long/l3.mp4"})
        Clip(name, "640x360", 10);
    const pid_t pid = Spawn({"-o", m_out, "-j", "2", m_home + "/long"});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    std::vector<int> jobs, everything;
    size_t encoding = 0;
    while (std::chrono::steady_clock::now() < until) {
        jobs = Children(pid);
        everything = jobs;
        encoding = 0;
        for (int job : jobs) {
            const std::vector<int> helpers = Descendants(job);
            everything.insert(everything.end(), helpers.begin(), helpers.end());
            if (HelperCount(helpers) >= 4) ++encoding; // three encoders and the decoder
        }
        if (encoding == 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(encoding, 2u) << "the two jobs never encoded at once";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    const Outcome r = Finish(pid);
    EXPECT_EQ(r.rc, 130) << r.err;
    EXPECT_TRUE(r.err.ends_with("  cancelled    " + m_home + "/long/l1.mp4\n" + "  cancelled    " +
                                m_home + "/long/l2.mp4\n" + "  not started  " + m_home +
                                "/long/l3.mp4\n" +
                                "reelpage-cli: 0 of 3 published, 2 cancelled, 1 not started\n"))
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::is_empty(m_out)) << "a package was left half-written";
    ExpectEnded(everything);
}

} // namespace
