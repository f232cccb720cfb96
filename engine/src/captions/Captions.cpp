#include "captions/Captions.h"

#include "publishing/PageGenerator.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/wstr.h"

namespace reelpage {

namespace {

constexpr std::string_view kCaptionExtensions[][2] = {
    {"srt", "subrip"}, {"vtt", "webvtt"}, {"ass", "ass"}, {"ssa", "ass"}};

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "en", "eng", "pt-BR", "zh-Hant": letters first, then subtags of letters
// and digits.
bool IsLanguageTag(std::string_view tag) {
    if (tag.size() > kMaxLanguageTag) return false;
    size_t at = 0;
    int part = 0;
    while (at <= tag.size()) {
        const size_t dash = std::min(tag.find('-', at), tag.size());
        const std::string_view sub = tag.substr(at, dash - at);
        const bool letters = std::all_of(sub.begin(), sub.end(), [](char c) {
            return std::isalpha(static_cast<unsigned char>(c));
        });
        const bool alnum = std::all_of(sub.begin(), sub.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c));
        });
        if (part == 0 ? !(letters && sub.size() >= 2 && sub.size() <= 3)
                      : !(alnum && sub.size() >= 2 && sub.size() <= 8))
            return false;
        ++part;
        at = dash + 1;
    }
    return part > 0;
}

// Containers name languages with three letters (ISO 639-2); pages and
// browsers know the common ones by two.
std::string ShortLanguage(const std::string& code) {
    static const std::map<std::string, std::string> kTwoLetter = {
        {"eng", "en"}, {"deu", "de"}, {"ger", "de"}, {"fra", "fr"}, {"fre", "fr"}, {"spa", "es"},
        {"ita", "it"}, {"por", "pt"}, {"nld", "nl"}, {"dut", "nl"}, {"rus", "ru"}, {"jpn", "ja"},
        {"zho", "zh"}, {"chi", "zh"}, {"kor", "ko"}, {"ara", "ar"}, {"pol", "pl"}, {"swe", "sv"},
        {"nor", "no"}, {"dan", "da"}, {"fin", "fi"}, {"tur", "tr"}, {"ces", "cs"}, {"cze", "cs"},
        {"ell", "el"}, {"gre", "el"}, {"heb", "he"}, {"hin", "hi"}, {"hun", "hu"}, {"ukr", "uk"}};
    const std::string lower = Lower(code);
    const auto found = kTwoLetter.find(lower);
    return found != kTwoLetter.end() ? found->second : lower;
}

// The primary language in lower case, the rest as written: "EN-gb" -> "en-gb".
std::string NormalTag(const std::string& tag) {
    const size_t dash = tag.find('-');
    if (dash == std::string::npos) return ShortLanguage(tag);
    return ShortLanguage(tag.substr(0, dash)) + tag.substr(dash);
}

// At most kMaxLabel characters, cut between characters.
std::string ShortLabel(const std::string& label) {
    const std::u16string text = platform::FromUtf8(label);
    return text.size() <= kMaxLabel ? label : platform::ToUtf8(text.substr(0, kMaxLabel));
}

std::string LanguageLabel(const std::string& language) {
    if (language == "und" || language.empty()) return "Captions";
    const QLocale locale(QString::fromStdString(language));
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return language;
    return QLocale::languageToString(locale.language()).toStdString();
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t more = 0;
        if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else if (c >= 0x80)
            return false;
        if (s.size() - i <= more) return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        // Overlong forms, surrogates and code points past U+10FFFF.
        const auto d = more ? static_cast<unsigned char>(s[i + 1]) : 0;
        if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
            (c == 0xF4 && d >= 0x90))
            return false;
        i += more + 1;
    }
    return true;
}

// The caption file's own checks, before any decoder sees it.
bool CheckCaptionFile(const std::string& path, std::string* text, std::string* problem) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        *problem = path + ": no such file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *problem = path + ": not a file";
        return false;
    }
    if (st.st_size > kMaxCaptionFileBytes) {
        *problem = path + ": too large for a caption file (" +
                   std::to_string(st.st_size / (1024 * 1024)) + " MB; at most " +
                   std::to_string(kMaxCaptionFileBytes / (1024 * 1024)) + " MB)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size_t(st.st_size), '\0');
    if (!in || !in.read(bytes.data(), std::streamsize(bytes.size()))) {
        *problem = path + ": cannot be read";
        return false;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) {
        *problem = path + ": empty";
        return false;
    }
    if (bytes.find('\0') != std::string::npos) {
        *problem = path + ": not a caption file (it holds binary data)";
        return false;
    }
    if (!ValidUtf8(bytes)) {
        *problem = path + ": not UTF-8 text (save it as UTF-8)";
        return false;
    }
    *text = std::move(bytes);
    return true;
}

// "01:02:03,456", "01:02:03.456" or "02:03.456" as milliseconds.
bool ParseCueTime(std::string_view t, int64_t* ms) {
    int64_t parts[3] = {0, 0, 0};
    int count = 0;
    size_t at = 0;
    for (;;) {
        const size_t end = std::min(t.find(':', at), t.size());
        if (count == 3 || end == at) return false;
        for (size_t i = at; i < end; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(t[i]))) {
                if (end != t.size() || (t[i] != ',' && t[i] != '.')) return false;
                break;
            }
        }
        parts[count++] = std::strtoll(std::string(t.substr(at, end - at)).c_str(), nullptr, 10);
        if (end == t.size()) break;
        at = end + 1;
    }
    const size_t mark = t.find_last_of(",.");
    if (count < 2 || mark == std::string_view::npos || t.size() - mark != 4) return false;
    const int64_t millis = std::strtoll(std::string(t.substr(mark + 1)).c_str(), nullptr, 10);
    const int64_t h = count == 3 ? parts[0] : 0, m = parts[count - 2], sec = parts[count - 1];
    // Hours beyond any recording are no time: they would overflow the count
    // of milliseconds.
    constexpr int64_t kMaxHours = 1'000'000;
    if (m > 59 || sec > 59 || h > kMaxHours) return false;
    *ms = ((h * 60 + m) * 60 + sec) * 1000 + millis;
    return true;
}

// FFmpeg's demuxers mend a cue that ends before it starts (it then lasts
// until the next one): broken timing is looked for in the text itself. The
// starts of such cues, and how many timing lines are broken.
std::vector<int64_t> BrokenCueStarts(const std::string& text, int* broken) {
    std::vector<int64_t> starts;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;
        const size_t arrow = line.find("-->");
        if (arrow == std::string_view::npos) continue;
        auto token = [](std::string_view s) {
            const size_t first = s.find_first_not_of(" \t\r");
            if (first == std::string_view::npos) return std::string_view();
            s.remove_prefix(first);
            return s.substr(0, s.find_first_of(" \t\r"));
        };
        int64_t from = 0, to = 0;
        const bool startOk = ParseCueTime(token(line.substr(0, arrow)), &from);
        const bool endOk = ParseCueTime(token(line.substr(arrow + 3)), &to);
        if (startOk && endOk && to > from) continue;
        ++*broken;
        if (startOk) starts.push_back(from);
    }
    return starts;
}

std::string AvError(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

// Owns what one reading of a track opens.
struct Reading {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    ~Reading() {
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

std::string TrackName(const CaptionTrack& t) {
    const std::string file = platform::ToUtf8(t.file);
    return t.stream < 0 ? file
                        : file + ": stream " + std::to_string(t.stream) + " (" + t.format + ")";
}

std::string TimeText(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

std::string EscapeCueText(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// SubRip text is written for players that read it as HTML, so caption
// writers spell "&", "<" and quotes as entities there, and FFmpeg's decoder
// passes them on as they are. The named ones such files use, and numeric
// ones, become the characters they stand for; anything else stays as written.
std::string DecodeEntities(std::string_view text) {
    static const std::pair<std::string_view, std::string_view> kNamed[] = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"},
        {"nbsp", "\xc2\xa0"}};
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t amp = text.find('&', at);
        out.append(text.substr(at, amp - at));
        if (amp == std::string_view::npos) break;
        at = amp + 1;
        const size_t semi = text.find(';', amp);
        constexpr size_t kLongest = 10; // "&#x10FFFF;"
        if (semi == std::string_view::npos || semi - amp > kLongest) {
            out += '&';
            continue;
        }
        const std::string_view name = text.substr(amp + 1, semi - amp - 1);
        std::string_view decoded;
        std::string number;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* end = nullptr;
            const unsigned long cp =
                digits.empty() || !std::isxdigit(static_cast<unsigned char>(digits[0]))
                    ? 0
                    : std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            const bool whole = end && *end == '\0';
            // No NUL, no other control character but the tab, no surrogate
            // halves: none of them is text a caption can show.
            if (whole && cp <= 0x10FFFF && (cp >= 0x20 || cp == '\t') && (cp < 0x7F || cp > 0x9F) &&
                (cp < 0xD800 || cp > 0xDFFF)) {
                const char32_t c = char32_t(cp);
                number = QString::fromUcs4(&c, 1).toStdString();
                decoded = number;
            }
        } else {
            for (const auto& [entity, character] : kNamed)
                if (name == entity) decoded = character;
        }
        if (decoded.empty()) {
            out += '&';
            continue;
        }
        out += decoded;
        at = semi + 1;
    }
    return out;
}

// A JSON string that stays inert anywhere a page could put it.
std::string JsonText(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char hex[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

} // namespace

std::string SideCaptionLanguage(std::u16string_view videoPath, std::u16string_view captionPath) {
    const std::string video = platform::ToUtf8(videoPath), caption = platform::ToUtf8(captionPath);
    const size_t videoSlash = video.find_last_of('/'), captionSlash = caption.find_last_of('/');
    if (video.substr(0, videoSlash + 1) != caption.substr(0, captionSlash + 1)) return {};
    std::string base = FileName(video);
    if (const size_t dot = base.find_last_of('.'); dot != std::string::npos && dot > 0)
        base.resize(dot);
    const std::string name = FileName(caption);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || name.compare(0, base.size(), base) != 0 ||
        name.size() <= base.size() || name[base.size()] != '.')
        return {};
    const std::string extension = Lower(name.substr(dot + 1));
    if (std::none_of(std::begin(kCaptionExtensions), std::end(kCaptionExtensions),
                     [&](const auto& e) { return e[0] == extension; }))
        return {};
    if (dot == base.size()) return "und";
    const std::string middle = name.substr(base.size() + 1, dot - base.size() - 1);
    return IsLanguageTag(middle) ? NormalTag(middle) : std::string();
}

std::vector<CaptionTrack> FindCaptions(const std::u16string& videoPath) {
    std::vector<CaptionTrack> found;
    if (videoPath.empty()) return found;
    const std::string video = platform::ToUtf8(videoPath);
    const std::string folder = video.substr(0, video.find_last_of('/') + 1);
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec))
        if (entry.is_regular_file(ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::u16string path = platform::FromUtf8(folder + name);
        const std::string language = SideCaptionLanguage(videoPath, path);
        if (language.empty()) continue;
        CaptionTrack t;
        t.file = path;
        t.language = language;
        const std::string extension = Lower(name.substr(name.find_last_of('.') + 1));
        for (const auto& e : kCaptionExtensions)
            if (e[0] == extension) t.format = std::string(e[1]);
        t.label = LanguageLabel(language);
        found.push_back(std::move(t));
    }

    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, video.c_str(), nullptr, nullptr) != 0) return found;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
        const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
        CaptionTrack t;
        t.file = videoPath;
        t.stream = int32_t(i);
        t.format = d ? d->name : "unknown";
        const AVDictionaryEntry* lang = av_dict_get(st->metadata, "language", nullptr, 0);
        t.language = lang && IsLanguageTag(lang->value) ? NormalTag(lang->value) : "und";
        const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0);
        t.label = title && title->value[0] ? ShortLabel(title->value) : LanguageLabel(t.language);
        t.usable = d && (d->props & AV_CODEC_PROP_TEXT_SUB) &&
                   avcodec_find_decoder(st->codecpar->codec_id) != nullptr;
        found.push_back(std::move(t));
    }
    avformat_close_input(&format);
    return found;
}

namespace {
std::mutex g_SearchLock;
std::map<std::u16string, std::shared_future<std::vector<CaptionTrack>>> g_Searches;
} // namespace

void BeginCaptionSearch(const std::u16string& videoPath) {
    std::lock_guard lock(g_SearchLock);
    // Every import looks again: files beside the video may have come or gone.
    g_Searches[videoPath] = std::async(std::launch::async, [videoPath] {
                                return FindCaptions(videoPath);
                            }).share();
}

std::vector<CaptionTrack> FoundCaptions(const std::u16string& videoPath) {
    std::shared_future<std::vector<CaptionTrack>> search;
    {
        std::lock_guard lock(g_SearchLock);
        const auto it = g_Searches.find(videoPath);
        if (it != g_Searches.end()) search = it->second;
    }
    return search.valid() ? search.get() : FindCaptions(videoPath);
}

bool CaptionFileTrack(const std::u16string& path, const std::string& language, CaptionTrack* out,
                      std::string* problem) {
    const std::string file = platform::ToUtf8(path);
    if (!language.empty() && !IsLanguageTag(language)) {
        *problem = file + ": \"" + language + "\" is not a language (en, de, pt-BR, ...)";
        return false;
    }
    CaptionTrack t;
    t.file = path;
    t.byHand = true;
    t.language = language.empty() ? "und" : NormalTag(language);
    // Without a language given, a name such as "talk.de.srt" tells it.
    if (language.empty()) {
        const std::string name = FileName(file);
        const std::string stem = name.substr(0, name.find_last_of('.'));
        const size_t dot = stem.find_last_of('.');
        if (dot != std::string::npos && dot > 0 && IsLanguageTag(stem.substr(dot + 1)))
            t.language = NormalTag(stem.substr(dot + 1));
    }
    const std::string extension = Lower(file.substr(file.find_last_of('.') + 1));
    for (const auto& e : kCaptionExtensions)
        if (e[0] == extension) t.format = std::string(e[1]);
    if (t.format.empty()) {
        *problem = file + ": not a caption file (.srt, .vtt, .ass or .ssa)";
        return false;
    }
    t.label = LanguageLabel(t.language);
    std::vector<Cue> cues;
    if (!ReadCues(t, &cues, problem)) return false;
    problem->clear();
    *out = std::move(t);
    return true;
}

std::string PlainCueText(std::string_view dialogue) {
    // ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text.
    for (int field = 0; field < 8; ++field) {
        const size_t comma = dialogue.find(',');
        if (comma == std::string_view::npos) return {};
        dialogue.remove_prefix(comma + 1);
    }
    std::string text;
    for (size_t i = 0; i < dialogue.size(); ++i) {
        const char c = dialogue[i];
        if (c == '{') {
            const size_t close = dialogue.find('}', i);
            if (close != std::string_view::npos) {
                i = close;
                continue;
            }
        }
        if (c == '\\' && i + 1 < dialogue.size()) {
            const char n = dialogue[i + 1];
            if (n == 'N' || n == 'n' || n == 'h') {
                text += n == 'h' ? ' ' : '\n';
                ++i;
                continue;
            }
        }
        text += c == '\r' ? '\n' : c;
    }
    // A blank line would end a WebVTT cue early: lines are trimmed and empty
    // ones dropped.
    std::string out;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        const size_t first = line.find_first_not_of(" \t");
        const size_t last = line.find_last_not_of(" \t");
        if (first != std::string::npos) {
            if (!out.empty()) out += '\n';
            out += line.substr(first, last - first + 1);
        }
        at = end + 1;
    }
    return out;
}

bool ReadCues(const CaptionTrack& track, std::vector<Cue>* cues, std::string* problem,
              const std::atomic<bool>* cancel) {
    cues->clear();
    const std::string file = platform::ToUtf8(track.file);
    const std::string name = TrackName(track);
    std::string text;
    if (track.stream < 0 && !CheckCaptionFile(file, &text, problem)) return false;
    int broken = 0;
    const std::vector<int64_t> brokenStarts =
        track.format == "subrip" || track.format == "webvtt" ? BrokenCueStarts(text, &broken)
                                                             : std::vector<int64_t>();
    if (!track.usable) {
        *problem = name + ": picture subtitles cannot be made into captions";
        return false;
    }
    Reading r;
    const AVInputFormat* forced = nullptr;
    if (track.stream < 0) {
        const char* demuxer = track.format == "subrip" ? "srt" : track.format.c_str();
        forced = av_find_input_format(demuxer);
    }
    int err = avformat_open_input(&r.format, file.c_str(), forced, nullptr);
    if (err != 0) {
        *problem = name + ": not a caption file that can be read (" + AvError(err) + ")";
        return false;
    }
    int index = track.stream;
    if (index < 0)
        index = av_find_best_stream(r.format, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    if (index < 0 || unsigned(index) >= r.format->nb_streams ||
        r.format->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        *problem = name + ": no captions in it";
        return false;
    }
    for (unsigned i = 0; i < r.format->nb_streams; ++i)
        r.format->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* st = r.format->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    r.codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    r.packet = av_packet_alloc();
    if (!r.codec || !r.packet || avcodec_parameters_to_context(r.codec, st->codecpar) < 0) {
        *problem = name + ": no decoder for its captions";
        return false;
    }
    r.codec->pkt_timebase = st->time_base;
    if ((err = avcodec_open2(r.codec, decoder, nullptr)) < 0) {
        *problem = name + ": its captions cannot be decoded (" + AvError(err) + ")";
        return false;
    }
    // Inside a video, times count from the video's start, as the clip does.
    const int64_t origin = track.stream >= 0 && r.format->start_time != AV_NOPTS_VALUE
                               ? av_rescale(r.format->start_time, 1000, AV_TIME_BASE)
                               : 0;
    const AVRational ms{1, 1000};
    const bool subRip =
        st->codecpar->codec_id == AV_CODEC_ID_SUBRIP || st->codecpar->codec_id == AV_CODEC_ID_SRT;
    while (av_read_frame(r.format, r.packet) >= 0) {
        if (cancel && *cancel) {
            *problem = name + ": cancelled";
            return false;
        }
        if (r.packet->stream_index != index) {
            av_packet_unref(r.packet);
            continue;
        }
        AVSubtitle sub{};
        int got = 0;
        const int used = avcodec_decode_subtitle2(r.codec, &sub, &got, r.packet);
        if (used >= 0 && got) {
            std::string cueText;
            for (unsigned k = 0; k < sub.num_rects; ++k) {
                const AVSubtitleRect* rect = sub.rects[k];
                std::string part = rect->type == SUBTITLE_ASS && rect->ass ? PlainCueText(rect->ass)
                                   : rect->type == SUBTITLE_TEXT && rect->text ? rect->text
                                                                               : std::string();
                if (subRip) part = DecodeEntities(part);
                if (!part.empty()) cueText += (cueText.empty() ? "" : "\n") + part;
            }
            const int64_t pts = r.packet->pts != AV_NOPTS_VALUE ? r.packet->pts : r.packet->dts;
            int64_t start = pts == AV_NOPTS_VALUE ? -1 : av_rescale_q(pts, st->time_base, ms);
            // A cue whose end comes before its start has no length in the
            // packet, and the decoder then shows it "for ever": broken.
            const bool endless = sub.end_display_time == UINT32_MAX;
            int64_t length = r.packet->duration > 0
                                 ? av_rescale_q(r.packet->duration, st->time_base, ms)
                             : endless ? 0
                                       : int64_t(sub.end_display_time) - sub.start_display_time;
            start += sub.start_display_time - origin;
            // Empty samples only mark the gaps between cues.
            const bool mended = std::find(brokenStarts.begin(), brokenStarts.end(), start) !=
                                brokenStarts.end();
            if (!cueText.empty() && !mended) {
                if (pts == AV_NOPTS_VALUE || start < 0 || length <= 0)
                    ++broken;
                else
                    cues->push_back({start, start + length, std::move(cueText)});
            }
            avsubtitle_free(&sub);
        }
        av_packet_unref(r.packet);
    }
    std::stable_sort(cues->begin(), cues->end(),
                     [](const Cue& a, const Cue& b) { return a.start < b.start; });
    if (cues->empty()) {
        *problem = broken ? name + ": no cue has a sound time (" + std::to_string(broken) +
                                " with broken timing)"
                          : name + ": no cues in it";
        return false;
    }
    problem->clear();
    if (broken)
        *problem = name + ": " + std::to_string(broken) + " cue(s) with broken timing left out";
    return true;
}

std::vector<Cue> ClipCues(const std::vector<Cue>& cues, int64_t start, int64_t stop) {
    const int64_t from = start / 1000;
    const int64_t to = stop > 0 ? stop / 1000 : INT64_MAX;
    std::vector<Cue> out;
    for (const Cue& c : cues) {
        const int64_t s = std::max(c.start, from), e = std::min(c.end, to);
        if (e <= s) continue;
        out.push_back({s - from, e - from, c.text});
    }
    return out;
}

std::string WebVttText(const std::vector<Cue>& cues) {
    std::string out = "WEBVTT\n";
    for (const Cue& c : cues)
        out += "\n" + TimeText(c.start) + " --> " + TimeText(c.end) + "\n" + EscapeCueText(c.text) +
               "\n";
    return out;
}

std::vector<PackageCaption> WritePackageCaptions(const std::string& folder,
                                                 const std::vector<CaptionTrack>& tracks,
                                                 int64_t clipStart, int64_t clipStop,
                                                 std::vector<std::string>* problems,
                                                 const std::atomic<bool>* cancel) {
    std::vector<PackageCaption> made;
    std::string script = "window.reelpageCaptions = {";
    for (const CaptionTrack& t : tracks) {
        if (!t.usable) continue;
        if (made.size() == kMaxPageCaptions) {
            problems->push_back(TrackName(t) + ": left out, a page takes " +
                                std::to_string(kMaxPageCaptions) + " caption tracks at most");
            continue;
        }
        std::vector<Cue> cues;
        std::string problem;
        const bool read = ReadCues(t, &cues, &problem, cancel);
        if (!problem.empty()) problems->push_back(problem);
        if (!read) continue;
        cues = ClipCues(cues, clipStart, clipStop);
        if (cues.empty()) {
            problems->push_back(TrackName(t) + ": no cues within the clip");
            continue;
        }
        std::string tag;
        for (char c : t.language)
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') tag += c;
        std::string file = "captions." + tag + ".vtt";
        for (int n = 2; std::any_of(made.begin(), made.end(),
                                    [&](const PackageCaption& m) { return m.file == file; });
             ++n)
            file = "captions." + tag + "." + std::to_string(n) + ".vtt";
        if (!WriteWhole(folder + "/" + file, WebVttText(cues))) {
            problems->push_back(folder + "/" + file + ": cannot be written (" +
                                std::strerror(errno) + ")");
            continue;
        }
        script += std::string(made.empty() ? "\n" : ",\n") + JsonText(file) + ": [";
        for (size_t i = 0; i < cues.size(); ++i)
            script += std::string(i ? ",\n  [" : "\n  [") + std::to_string(cues[i].start / 1000.0) +
                      ", " + std::to_string(cues[i].end / 1000.0) + ", " +
                      JsonText(EscapeCueText(cues[i].text)) + "]";
        script += "]";
        made.push_back({file, t.language, t.label});
    }
    if (made.empty()) return made;
    if (!WriteWhole(folder + "/" + kCaptionScript, script + "\n};\n")) {
        problems->push_back(folder + "/" + kCaptionScript + ": cannot be written (" +
                            std::strerror(errno) + "); captions work only where the page is served");
    }
    return made;
}

CaptionEntry ToEntry(const CaptionTrack& t) {
    CaptionEntry e{};
    platform::WStrCopy(e.szFile, t.file);
    platform::WStrCopy(e.szLanguage, platform::FromUtf8(t.language));
    platform::WStrCopy(e.szFormat, platform::FromUtf8(t.format));
    platform::WStrCopy(e.szLabel, platform::FromUtf8(t.label));
    e.nStream = t.stream;
    e.bUsable = t.usable ? 1 : 0;
    e.bByHand = t.byHand ? 1 : 0;
    return e;
}

} // namespace reelpage
