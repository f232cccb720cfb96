#pragma once
// Making test media with the ffmpeg command and checking what the encoders
// wrote with ffprobe: stream properties, frame counts, decoded sound length,
// decoded pixels and the top-level layout of an MP4 file.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace media_check {

// Runs a shell command and returns its standard output.
inline std::string Capture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    pclose(p);
    return out;
}

// The pids of the helpers named `name` (dec, enc) that process `root` started:
// its children, or its helper host's, which forks them; empty when none runs.
inline std::string HelperPids(int root, const std::string& name) {
    std::string parents = std::to_string(root);
    const std::string host = Capture("pgrep -P " + parents + " -x helperhost");
    for (size_t at = 0; at < host.size();) {
        const size_t nl = host.find('\n', at);
        parents += "," + host.substr(at, nl - at);
        at = nl == std::string::npos ? host.size() : nl + 1;
    }
    return Capture("pgrep -P " + parents + " -x " + name);
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the ffmpeg command quietly; true when it succeeded.
inline bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + args).c_str()) == 0;
}

// key=value of one stream ("v:0", "a:0"), frames counted by decoding.
inline std::map<std::string, std::string> ProbeStream(const std::string& path,
                                                      const std::string& stream) {
    std::string out = Capture("ffprobe -v error -count_frames -select_streams " + stream +
                              " -show_entries stream=codec_name,width,height,nb_read_frames,"
                              "sample_rate,channels,sample_fmt,bits_per_raw_sample,"
                              "r_frame_rate,duration -of default=nw=1 " +
                              Quote(path));
    std::map<std::string, std::string> m;
    size_t at = 0;
    while (at < out.size()) {
        size_t nl = out.find('\n', at);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(at, nl - at);
        size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
        at = nl + 1;
    }
    return m;
}

inline std::string FormatName(const std::string& path) {
    std::string s =
        Capture("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + Quote(path));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}

// Bytes of 16-bit PCM the first audio stream decodes to.
inline size_t DecodedPcmBytes(const std::string& path, int rate, int channels) {
    std::string cmd = "ffmpeg -nostdin -v error -i " + Quote(path) + " -map 0:a:0 -f s16le -ar " +
                      std::to_string(rate) + " -ac " + std::to_string(channels) + " - | wc -c";
    return std::stoull("0" + Capture(cmd));
}

// Frame n of the first video stream as packed RGB24 (empty when missing).
// With a frame rate, n counts frames at that constant rate: Theora stores a
// picture equal to the one before as no frame at all.
inline std::vector<uint8_t> DecodedRgb(const std::string& path, int n,
                                       const std::string& constantRate = "") {
    std::string filter = "select=eq(n\\," + std::to_string(n) + ")";
    if (!constantRate.empty()) filter = "fps=" + constantRate + "," + filter;
    std::string cmd = "ffmpeg -nostdin -v error -i " + Quote(path) + " -vf " + Quote(filter) +
                      " -vframes 1 -f rawvideo -pix_fmt rgb24 -";
    std::string s = Capture(cmd);
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The names of the top-level boxes of an MP4 file, in order.
inline std::vector<std::string> TopLevelBoxes(const std::string& path) {
    std::vector<std::string> boxes;
    std::ifstream in(path, std::ios::binary);
    for (;;) {
        unsigned char h[8];
        if (!in.read(reinterpret_cast<char*>(h), 8)) break;
        uint64_t size = (uint64_t(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
        boxes.emplace_back(reinterpret_cast<char*>(h + 4), 4);
        uint64_t header = 8;
        if (size == 1) {
            unsigned char l[8];
            if (!in.read(reinterpret_cast<char*>(l), 8)) break;
            size = 0;
            for (unsigned char c : l)
                size = (size << 8) | c;
            header = 16;
        }
        if (size == 0 || size < header) break;
        in.seekg(std::streamoff(size - header), std::ios::cur);
    }
    return boxes;
}

// A fresh folder under the test's temporary home, removed with the object.
class TempFolder {
public:
    TempFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "rp-media-XXXXXX").string();
        if (mkdtemp(tmpl.data())) m_path = tmpl;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!m_path.empty() && !std::getenv("REELPAGE_KEEP_TEMP"))
            std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace media_check
