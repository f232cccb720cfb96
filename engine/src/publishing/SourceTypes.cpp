#include "publishing/SourceTypes.h"

#include "system/Log.h"

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace reelpage {

namespace {

// Reads bits most significant first; past the end it reads zeros and says so.
class Bits {
public:
    Bits(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    unsigned Read(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i, ++m_at) {
            const size_t byte = m_at / 8;
            if (byte >= m_size) {
                m_over = true;
                v <<= 1;
                continue;
            }
            v = (v << 1) | ((m_data[byte] >> (7 - m_at % 8)) & 1);
        }
        return v;
    }
    bool Over() const { return m_over; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_over = false;
};

// Two decimal digits, as the codec names write their numbers.
std::string TwoDigits(unsigned v) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u", v);
    return text;
}

// The VP9 levels: the most luma samples a second and in a picture.
struct Vp9Level {
    int code;
    double samplesPerSecond;
    double pictureSize;
};
constexpr Vp9Level kVp9Levels[] = {
    {10, 829440, 36864},          {11, 2764800, 73728},         {20, 4608000, 122880},
    {21, 9216000, 245760},        {30, 20736000, 552960},       {31, 36864000, 983040},
    {40, 83558400, 2228224},      {41, 160432128, 2228224},     {50, 311951360, 8912896},
    {51, 588251136, 8912896},     {52, 1176502272, 8912896},    {60, 1176502272, 35651584},
    {61, 2353004544.0, 35651584}, {62, 4706009088.0, 35651584},
};

std::string CodecName(const AVStream* s, AVFormatContext* format) {
    const AVCodecParameters* par = s->codecpar;
    switch (par->codec_id) {
    case AV_CODEC_ID_VP8: return "vp8";
    case AV_CODEC_ID_VORBIS: return "vorbis";
    case AV_CODEC_ID_OPUS: return "opus";
    case AV_CODEC_ID_THEORA: return "theora";
    case AV_CODEC_ID_FLAC: return "flac";
    case AV_CODEC_ID_AV1: return Av1CodecName(par->extradata, size_t(par->extradata_size));
    case AV_CODEC_ID_H264: return AvcCodecName(par->extradata, size_t(par->extradata_size));
    case AV_CODEC_ID_AAC: return AacCodecName(par->extradata, size_t(par->extradata_size));
    case AV_CODEC_ID_VP9: {
        // The profile and bit depth are in the frames only.
        AVPacket* packet = av_packet_alloc();
        std::string name;
        while (packet && name.empty() && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == s->index) {
                const AVRational r = s->avg_frame_rate;
                name = Vp9CodecName(packet->data, size_t(packet->size), par->width, par->height,
                                    r.num > 0 && r.den > 0 ? av_q2d(r) : 30.0);
                if (name.empty()) break;
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        return name;
    }
    default: return {};
    }
}

} // namespace

std::string Av1CodecName(const uint8_t* av1c, size_t size) {
    if (!av1c || size < 4 || av1c[0] != 0x81) return {};
    Bits b(av1c + 1, 2);
    const unsigned profile = b.Read(3), level = b.Read(5), tier = b.Read(1);
    const unsigned high = b.Read(1), twelve = b.Read(1);
    const int depth = high ? (twelve ? 12 : 10) : 8;
    return "av01." + std::to_string(profile) + "." + TwoDigits(level) + (tier ? "H." : "M.") +
           TwoDigits(unsigned(depth));
}

std::string Vp9CodecName(const uint8_t* frame, size_t size, int width, int height,
                         double framesPerSecond) {
    if (!frame || size < 4 || width <= 0 || height <= 0) return {};
    Bits b(frame, size);
    if (b.Read(2) != 2) return {}; // frame marker
    const unsigned low = b.Read(1), high = b.Read(1);
    const unsigned profile = low | (high << 1);
    if (profile == 3) b.Read(1);
    if (b.Read(1)) return {}; // shows an earlier frame: no header
    const bool key = b.Read(1) == 0;
    b.Read(2); // show_frame, error_resilient_mode
    int depth = 8;
    if (key) {
        if (b.Read(24) != 0x498342) return {};
        if (profile >= 2) depth = b.Read(1) ? 12 : 10;
    } else if (profile >= 2) {
        return {}; // the depth is only in a key frame
    }
    if (b.Over()) return {};
    const double picture = double(width) * height;
    const double rate = picture * framesPerSecond;
    int level = 0;
    for (const Vp9Level& l : kVp9Levels)
        if (picture <= l.pictureSize && rate <= l.samplesPerSecond) {
            level = l.code;
            break;
        }
    if (level == 0) return {};
    return "vp09." + TwoDigits(profile) + "." + TwoDigits(unsigned(level)) + "." +
           TwoDigits(unsigned(depth));
}

std::string AvcCodecName(const uint8_t* avcc, size_t size) {
    if (!avcc || size < 4 || avcc[0] != 1) return {};
    char text[16];
    std::snprintf(text, sizeof text, "avc1.%02x%02x%02x", avcc[1], avcc[2], avcc[3]);
    return text;
}

std::string AacCodecName(const uint8_t* config, size_t size) {
    if (!config || size < 2) return {};
    Bits b(config, size);
    unsigned type = b.Read(5);
    if (type == 31) type = 32 + b.Read(6);
    if (type == 0 || b.Over()) return {};
    return "mp4a.40." + std::to_string(type);
}

std::string SourceType(const std::string& path) {
    AVFormatContext* format = nullptr;
    int rc = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        LogWrite(kLogError, "Failed(%d) to read the streams of %s\n", rc, path.c_str());
        return {};
    }
    std::string mime;
    const char* name = format->iformat->name;
    if (std::strstr(name, "webm") || std::strstr(name, "matroska"))
        mime = "video/webm";
    else if (std::strstr(name, "mp4"))
        mime = "video/mp4";
    else if (!std::strcmp(name, "ogg"))
        mime = "video/ogg";
    // The video first, then the sound, as pages and browsers list them.
    std::vector<std::string> codecs;
    for (AVMediaType kind : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO})
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* s = format->streams[i];
            if (s->codecpar->codec_type != kind) continue;
            const std::string codec = CodecName(s, format);
            if (codec.empty()) {
                LogWrite(kLogError, "No browser name for the %s codec of %s\n",
                         avcodec_get_name(s->codecpar->codec_id), path.c_str());
                avformat_close_input(&format);
                return {};
            }
            codecs.push_back(codec);
        }
    avformat_close_input(&format);
    if (mime.empty() || codecs.empty()) {
        LogWrite(kLogError, "No video type for %s (%s)\n", path.c_str(), name);
        return {};
    }
    std::string type = mime + "; codecs=\"";
    for (size_t i = 0; i < codecs.size(); ++i)
        type += (i ? ", " : "") + codecs[i];
    return type + "\"";
}

} // namespace reelpage
