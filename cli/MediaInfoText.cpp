#include "MediaInfoText.h"

#include <cstdio>

#include "platform/wstr.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace reelpage::cli {

namespace {

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}
std::string Format(const char* fmt, int v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string Field(const WCHAR* field, size_t cap) {
    return platform::ToUtf8(std::u16string_view(field, platform::WStrNLen(field, cap)));
}

// "talk.en.srt" or "stream 2", then what it is.
std::string CaptionLine(const CaptionEntry& c) {
    std::string file = Field(c.szFile, kMaxPath);
    file = file.substr(file.find_last_of('/') + 1);
    std::string s = (c.nStream < 0 ? file : "stream " + std::to_string(c.nStream)) + ": " +
                    Field(c.szLanguage, 36) + ", " + Field(c.szLabel, 64) + " (" +
                    Field(c.szFormat, 32) + ")";
    return c.bUsable ? s : s + ", not usable: picture subtitles";
}

} // namespace

std::string BitRateText(int32_t r) {
    // Some containers carry no rate (Vorbis in Matroska); 0 would be a lie.
    if (r <= 0) return "Unknown";
    if (r >= 1000000)
        return r % 1000000 == 0 ? Format("%d Mbps", r / 1000000) : Format("%.1f Mbps", r / 1e6);
    return r % 1000 == 0 ? Format("%d Kbps", r / 1000) : Format("%.1f Kbps", r / 1e3);
}

std::string FrameRateText(int32_t num, int32_t den) {
    if (den == 1) return Format("%d fps", num);
    return den != 0 ? Format("%.2f fps", double(num) / den) : std::string();
}

std::string SampleRateText(int32_t rate) {
    switch (rate) {
    case 8000:
        return "Phone Quality (8000)";
    case 22050:
        return "Low Quality (22050)";
    case 44100:
        return "CD Quality (44100)";
    case 48000:
        return "DVD Quality (48000)";
    default:
        return "";
    }
}

std::string ChannelText(int32_t channels) {
    if (channels == 1) return "Mono";
    if (channels == 2) return "Stereo";
    if (channels <= 0) return "";
    // More channels: the layout FFmpeg assumes for the count ("5.1" for six).
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    char name[64];
    const int length = av_channel_layout_describe(&layout, name, sizeof name);
    av_channel_layout_uninit(&layout);
    return length > 0 ? std::string(name) : std::string();
}

std::string SecondsToText(int64_t seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2lld:%.2lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return buf;
}

std::string MediaInfoLines(const MediaInfo& m, const std::vector<CaptionEntry>& captions) {
    std::string s;
    s += "File: " + Field(m.m_szFileName, 260) + "\n";
    s += "Title: " + Field(m.m_szName, 64) + "\n";
    s += "Duration: " + SecondsToText(m.m_Duration / 1000000) + "\n";
    if (m.m_bVideoStream) {
        s += "Video\n";
        s += "  Resolution: " + Format("%d", m.m_Width) + " x " + Format("%d", m.m_Height) + "\n";
        s += "  Frame Rate: " + FrameRateText(m.m_FrameRateNum, m.m_FrameRateDen) + "\n";
        s += "  Bit Rate: " + BitRateText(m.m_VideoBitRate) + "\n";
    }
    if (m.m_bAudioStream) {
        s += "Audio\n";
        s += "  Sample Rate: " + SampleRateText(m.m_SampleRate) + "\n";
        s += "  Channel: " + ChannelText(m.m_nChannel) + "\n";
        s += "  Bit Rate: " + BitRateText(m.m_AudioBitRate) + "\n";
    }
    if (!captions.empty()) {
        s += "Captions\n";
        for (const CaptionEntry& c : captions)
            s += "  " + CaptionLine(c) + "\n";
    }
    return s;
}

std::string MediaInfoJson(const MediaInfo& m, const std::vector<CaptionEntry>& captions) {
    std::string s = "{\n";
    s += "  \"file\": " + JsonString(Field(m.m_szFileName, 260)) + ",\n";
    s += "  \"title\": " + JsonString(Field(m.m_szName, 64)) + ",\n";
    s += "  \"fileSize\": " + std::to_string(m.m_FileSize) + ",\n";
    s += "  \"duration\": " + Format("%.6f", m.m_Duration / 1e6);
    if (m.m_bVideoStream) {
        s += ",\n  \"video\": {\n";
        s += "    \"resolution\": " +
             JsonString(Format("%d", m.m_Width) + " x " + Format("%d", m.m_Height)) + ",\n";
        s += "    \"width\": " + std::to_string(m.m_Width) + ",\n";
        s += "    \"height\": " + std::to_string(m.m_Height) + ",\n";
        s += "    \"frameRate\": " + JsonString(FrameRateText(m.m_FrameRateNum, m.m_FrameRateDen)) +
             ",\n";
        s += "    \"frameRateNum\": " + std::to_string(m.m_FrameRateNum) + ",\n";
        s += "    \"frameRateDen\": " + std::to_string(m.m_FrameRateDen) + ",\n";
        s += "    \"bitRate\": " + JsonString(BitRateText(m.m_VideoBitRate)) + ",\n";
        s += "    \"bitsPerSecond\": " + std::to_string(m.m_VideoBitRate) + "\n  }";
    }
    if (m.m_bAudioStream) {
        s += ",\n  \"audio\": {\n";
        s += "    \"sampleRate\": " + JsonString(SampleRateText(m.m_SampleRate)) + ",\n";
        s += "    \"samplesPerSecond\": " + std::to_string(m.m_SampleRate) + ",\n";
        s += "    \"channel\": " + JsonString(ChannelText(m.m_nChannel)) + ",\n";
        s += "    \"channels\": " + std::to_string(m.m_nChannel) + ",\n";
        s += "    \"bitRate\": " + JsonString(BitRateText(m.m_AudioBitRate)) + ",\n";
        s += "    \"bitsPerSecond\": " + std::to_string(m.m_AudioBitRate) + "\n  }";
    }
    s += ",\n  \"captions\": [";
    for (size_t i = 0; i < captions.size(); ++i) {
        const CaptionEntry& c = captions[i];
        s += std::string(i ? "," : "") + "\n    {\"file\": " + JsonString(Field(c.szFile, kMaxPath)) +
             ", \"stream\": " + std::to_string(c.nStream) +
             ", \"language\": " + JsonString(Field(c.szLanguage, 36)) +
             ", \"label\": " + JsonString(Field(c.szLabel, 64)) +
             ", \"format\": " + JsonString(Field(c.szFormat, 32)) +
             ", \"usable\": " + (c.bUsable ? "true" : "false") + "}";
    }
    s += captions.empty() ? "]" : "\n  ]";
    return s + "\n}\n";
}

} // namespace reelpage::cli
