#include "media_fixtures.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_media {

bool Ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool MakeRamp(const std::string& path, double seconds, int fps, int audioRate, int channels,
              const std::vector<std::string>& videoArgs) {
    char video[256];
    std::snprintf(video, sizeof video,
                  "color=c=black:s=160x120:r=%d:d=%g,format=yuv420p,"
                  "geq=lum='16+4*mod(N,50)':cb=128:cr=128",
                  fps, seconds);
    std::vector<std::string> args = {"-f", "lavfi", "-i", video};
    if (audioRate > 0) {
        char audio[128];
        std::snprintf(audio, sizeof audio, "sine=frequency=440:sample_rate=%d:duration=%g",
                      audioRate, seconds);
        args.insert(args.end(), {"-f", "lavfi", "-i", audio, "-ac", std::to_string(channels)});
    }
    args.insert(args.end(), {"-c:v", "libx264", "-crf", "4", "-pix_fmt", "yuv420p"});
    args.insert(args.end(), videoArgs.begin(), videoArgs.end());
    args.push_back(path);
    return Ffmpeg(args);
}

int RampIndex(double grey) {
    return int(std::lround(grey * 219.0 / 255.0 / 4.0)) % 50;
}

int RampIndexAt(int64_t timeUs, int fps) {
    return int((timeUs * fps + 500000) / 1000000) % 50;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

namespace {
std::string TempName(const char* ext) {
    char tmpl[] = "/tmp/reelpage-media-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    std::string name = std::string(tmpl) + ext;
    unlink(tmpl);
    return name;
}
} // namespace

std::vector<uint8_t> FfmpegPcm(const std::string& path) {
    const std::string out = TempName(".pcm");
    std::vector<uint8_t> pcm;
    if (Ffmpeg({"-i", path, "-vn", "-f", "s16le", "-acodec", "pcm_s16le", out}))
        pcm = ReadFile(out);
    unlink(out.c_str());
    return pcm;
}

std::vector<uint8_t> FfmpegFirstFrameBgra(const std::string& path) {
    const std::string out = TempName(".bgra");
    std::vector<uint8_t> frame;
    if (Ffmpeg({"-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra", out}))
        frame = ReadFile(out);
    unlink(out.c_str());
    return frame;
}

uint32_t Le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t Le16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

} // namespace testing_media
