#include "DecodeSession.h"

#include "reelpage/helper_log.h"
#include "PixelCodes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/wstr.h"
#include "reelpage/decoder_words.h"

extern "C" {
#include <libavutil/cpu.h>
}

namespace dec {

namespace {

// How far back a seek that landed past its target tries again.
constexpr int64_t kSeekRetreatUs = 1000000;
constexpr int kSeekAttempts = 5;

const AVStream* StreamAt(const AVFormatContext* f, int index) {
    return index >= 0 ? f->streams[index] : nullptr;
}

// Keyframes closer together than this (in pictures) make a probe decode on
// one thread.
constexpr int64_t kShortGroup = 60;
constexpr int kMaxProbeVideoThreads = 4;

// A probe takes two pictures near the start while the sound decodes on a
// thread of its own. Each frame thread beyond the first holds back one more
// picture before the wanted one comes out, decoded for nothing. Where
// keyframes come often (cameras, phones) decoding restarts at the keyframe
// before each picture and one thread costs least. Where they are far apart
// (an encoder's defaults: up to 250 pictures) a picture a few seconds in
// depends on every reference picture since the first, and frame threads
// decode those side by side. The container's index tells which: the
// distance from the first keyframe to the next one (or to the end when
// there is no other). Without an index (Matroska reads its cues only for
// a seek) the spacing is unknown and the threads are the safer bet: they
// cost a few pictures where groups are short and save most of the time
// where they are long.
int ProbeVideoThreads(const AVStream* st) {
    const int cores = std::clamp(av_cpu_count(), 1, kMaxProbeVideoThreads);
    if (cores == 1) return 1;
    const AVRational rate = PictureRate(st);
    if (rate.num <= 0 || rate.den <= 0) return cores;
    AVStream* s = const_cast<AVStream*>(st);
    const int count = avformat_index_get_entries_count(s);
    int64_t first = AV_NOPTS_VALUE, next = AV_NOPTS_VALUE;
    for (int i = 0; i < count && next == AV_NOPTS_VALUE; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(s, i);
        if (!e || !(e->flags & AVINDEX_KEYFRAME) || e->timestamp == AV_NOPTS_VALUE) continue;
        if (first == AV_NOPTS_VALUE)
            first = e->timestamp;
        else if (e->timestamp > first)
            next = e->timestamp;
    }
    if (first == AV_NOPTS_VALUE) return cores;
    if (next == AV_NOPTS_VALUE) {
        if (st->duration == AV_NOPTS_VALUE || st->duration <= 0) return cores;
        next = (st->start_time != AV_NOPTS_VALUE ? st->start_time : 0) + st->duration;
    }
    const int64_t pictures = av_rescale_q(next - first, st->time_base, av_inv_q(rate));
    return pictures < kShortGroup ? 1 : cores;
}

} // namespace

int DisplayWidth(AVFormatContext* format, const AVStream* stream) {
    const int width = stream->codecpar->width;
    const AVRational sar =
        av_guess_sample_aspect_ratio(format, const_cast<AVStream*>(stream), nullptr);
    if (sar.num <= 0 || sar.den <= 0 || sar.num == sar.den || width <= 0) return width;
    // Pixels that are not square (anamorphic DVD, DV and broadcast pictures)
    // are shown, and from here on handled, at the width that gives them their
    // true shape with square pixels; the height stays. An even width keeps
    // 4:2:0 pictures whole. Ratios no real picture has are taken as square.
    const int64_t shown = av_rescale_rnd(width, sar.num, sar.den, AV_ROUND_NEAR_INF);
    if (shown < width / 8 || shown > int64_t(width) * 8) return width;
    return int(std::max<int64_t>(2, (shown + 1) & ~int64_t(1)));
}

DecodeSession::DecodeSession(const reelpage::PluginCallbacks& plugin,
                             const reelpage::HelperLaunch& launch, int videoThreads,
                             bool sound)
    : m_Plugin(plugin), m_nVideoThreads(videoThreads), m_bSound(sound) {
    char16_t name[reelpage::kMaxPath];
    platform::WStrCopy(name, reelpage::kMaxPath, launch.m_szFileName);
    m_szFile = platform::ToUtf8(name);
    m_bMediaInfo = launch.m_bMediaInfo != 0;
    m_llStart = launch.m_llStart;
}

DecodeSession::~DecodeSession() {
    m_pParked.reset();
    m_pRetired.reset();
    m_Held.clear();
    m_pReader.reset();
    m_pVideo.reset();
    m_pAudio.reset();
    av_packet_free(&m_pPacket);
    avformat_close_input(&m_pFormat);
}

int DecodeSession::Run() {
    if (!Open()) {
        m_Plugin.OpenFailed(0);
        return 0;
    }
    ReportStreams();
    NegotiateFormat();
    if (m_llStart != 0) Seek(m_llStart);
    Loop();
    return 0;
}

namespace {

// The frame rate the outputs are made at. The guess from the time stamps
// serves for sources of one rate, also where they leave gaps. A phone's
// variable-rate clip has time stamps a few milliseconds off a regular grid,
// which makes that guess the finest step among them (80, 120 or 90000 fps)
// and every output would repeat most frames; its mean rate, at the nearest
// usual rate at or above it, shows every frame at the rate it was mostly
// recorded at.
AVRational NominalFrameRate(AVRational guessed, AVRational mean) {
    static const AVRational kUsual[] = {{24000, 1001}, {24, 1},  {25, 1},        {30000, 1001},
                                        {30, 1},       {48, 1},  {50, 1},        {60000, 1001},
                                        {60, 1},       {100, 1}, {120000, 1001}, {120, 1}};
    if (guessed.num <= 0 || guessed.den <= 0 || mean.num <= 0 || mean.den <= 0) return guessed;
    const double g = av_q2d(guessed), m = av_q2d(mean);
    bool usual = false;
    for (const AVRational& r : kUsual)
        usual = usual || std::abs(av_q2d(r) - g) < g * 0.001;
    // A usual rate well above the mean is a source with gaps or a stretch
    // recorded slower: the guess stands.
    if (g <= m * 1.25 || (usual && g <= m * 3)) return guessed;
    for (const AVRational& r : kUsual)
        if (av_q2d(r) >= m * 0.999 && av_q2d(r) <= m * 1.25) return r;
    return mean;
}

} // namespace

bool DecodeSession::Open() {
    int rc = avformat_open_input(&m_pFormat, m_szFile.c_str(), nullptr, nullptr);
    if (rc < 0) {
        reelpage::HelperLog(reelpage::kHelperLogError, "cannot open %s (%d)\n", m_szFile.c_str(),
                            rc);
        return false;
    }
    rc = avformat_find_stream_info(m_pFormat, nullptr);
    if (rc < 0) {
        reelpage::HelperLog(reelpage::kHelperLogError, "no stream information in %s (%d)\n",
                            m_szFile.c_str(), rc);
        return false;
    }
    m_pPacket = av_packet_alloc();
    m_StartUs = m_pFormat->start_time != AV_NOPTS_VALUE ? m_pFormat->start_time : 0;

    // The picture stream: cover art of a sound file is not a video.
    int best = -1;
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
        const AVStream* st = m_pFormat->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (st->codecpar->width <= 0 || st->codecpar->height <= 0) continue;
        if (best < 0) best = int(i);
    }
    if (best >= 0) {
        int found = av_find_best_stream(m_pFormat, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (found >= 0 && !(m_pFormat->streams[found]->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            m_pFormat->streams[found]->codecpar->width > 0)
            best = found;
        auto video = std::make_unique<VideoFeeder>();
        if (video->Open(
                m_pFormat->streams[best], m_StartUs, AskCallback(), DeliverCallback(),
                m_nVideoThreads > 0 ? m_nVideoThreads
                : m_bMediaInfo      ? ProbeVideoThreads(m_pFormat->streams[best])
                                    : 0)) {
            m_nVideo = best;
            m_pVideo = std::move(video);
        } else {
            reelpage::HelperLog(reelpage::kHelperLogError, "no decoder for the video of %s\n",
                                m_szFile.c_str());
        }
    }
    int audio = av_find_best_stream(m_pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio >= 0 && !m_bSound) {
        // Still told to the plug-in, from the container's figures; its
        // packets are discarded unread.
        const AVCodecParameters* par = m_pFormat->streams[audio]->codecpar;
        if (par->sample_rate > 0 && par->ch_layout.nb_channels > 0) m_nAudio = audio;
        reelpage::HelperLog(reelpage::kHelperLogInfo, "The sound of %s is not decoded (%s)\n",
                            m_szFile.c_str(), reelpage::kDecoderNoSound);
    } else if (audio >= 0) {
        const AVCodecParameters* par = m_pFormat->streams[audio]->codecpar;
        // A probe wants all of the sound while the pictures stop early; with
        // a video stream beside it, the sound decodes on its own thread.
        if (m_bMediaInfo && m_pVideo) {
            auto reader = std::make_unique<AudioReader>();
            if (reader->Start(m_szFile, audio, par)) {
                m_pReader = std::move(reader);
                m_nAudio = audio;
            }
        }
        if (!m_pReader) {
            auto decoder = std::make_unique<AudioDecoder>();
            if (decoder->Open(par)) {
                m_pAudio = std::move(decoder);
                m_nAudio = audio;
            } else {
                reelpage::HelperLog(reelpage::kHelperLogError, "no decoder for the audio of %s\n",
                                    m_szFile.c_str());
            }
        }
    }
    if (!m_pVideo && m_nAudio < 0) {
        reelpage::HelperLog(reelpage::kHelperLogError, "nothing to decode in %s\n",
                            m_szFile.c_str());
        return false;
    }
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
        const bool used = int(i) == m_nVideo || (int(i) == m_nAudio && m_pAudio);
        m_pFormat->streams[i]->discard = used ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    return true;
}

void DecodeSession::ReportStreams() {
    if (m_pVideo) {
        const AVStream* st = StreamAt(m_pFormat, m_nVideo);
        const AVCodecParameters* par = st->codecpar;
        size_t size = 0;
        const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
        m_nRotation = size >= 9 * sizeof(int32_t)
                          ? StreamRotation(reinterpret_cast<const int32_t*>(matrix))
                          : 0;
        int width = DisplayWidth(m_pFormat, st), height = par->height;
        const AVCodecContext* codec = m_pVideo->Codec();
        int codedWidth = codec->coded_width > 0 ? codec->coded_width : width;
        int codedHeight = codec->coded_height > 0 ? codec->coded_height : height;
        if (m_nRotation == 90 || m_nRotation == 270) {
            std::swap(width, height);
            std::swap(codedWidth, codedHeight);
        }
        AVRational rate = NominalFrameRate(
            av_guess_frame_rate(m_pFormat, const_cast<AVStream*>(st), nullptr), st->avg_frame_rate);
        if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
        av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT32_MAX);
        int64_t bitRate = par->bit_rate;
        if (bitRate <= 0 && m_pFormat->bit_rate > 0) {
            // Containers that keep no per-stream rate: what the sound leaves.
            int64_t audioRate =
                m_nAudio >= 0 ? m_pFormat->streams[m_nAudio]->codecpar->bit_rate : 0;
            bitRate = std::max<int64_t>(m_pFormat->bit_rate - std::max<int64_t>(audioRate, 0), 0);
        }
        m_Plugin.SetVideoInfo(0, int32_t(par->codec_id), width, height, codedWidth, codedHeight,
                              rate.num, rate.den, int32_t(std::min<int64_t>(bitRate, INT32_MAX)));
    } else {
        m_Plugin.SetVideoInfo(1, 0, 0, 0, 0, 0, 0, 0, 0);
    }
    if (m_nAudio >= 0) {
        const AVCodecParameters* par = m_pFormat->streams[m_nAudio]->codecpar;
        m_Plugin.SetAudioInfo(AudioRate(), AudioChannels(),
                              int32_t(std::clamp<int64_t>(par->bit_rate, 0, INT32_MAX)));
    }
    int64_t duration = m_pFormat->duration != AV_NOPTS_VALUE ? m_pFormat->duration : 0;
    if (duration <= 0) {
        for (int index : {m_nVideo, m_nAudio}) {
            const AVStream* st = StreamAt(m_pFormat, index);
            if (st && st->duration != AV_NOPTS_VALUE)
                duration = std::max(
                    duration, av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000}));
        }
    }
    m_Plugin.SetDuration(std::max<int64_t>(duration, 0));
}

void DecodeSession::ReportMeasuredAudioRate() {
    if (m_nAudio < 0 || m_bRateReported) return;
    m_bRateReported = true;
    const AVStream* st = m_pFormat->streams[m_nAudio];
    if (st->codecpar->bit_rate > 0) return; // the container's own figure stands
    const int64_t bytes = m_pReader ? m_pReader->PacketBytes() : m_pAudio ? m_pAudio->PacketBytes() : 0;
    int64_t duration = st->duration != AV_NOPTS_VALUE
                           ? av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000})
                           : 0;
    if (duration <= 0 && m_pFormat->duration != AV_NOPTS_VALUE) duration = m_pFormat->duration;
    // Under a tenth of a second the figure would be mostly the headers.
    if (bytes <= 0 || duration < 100000) return;
    const int64_t rate = av_rescale(bytes, 8 * 1000000, duration);
    m_Plugin.SetAudioInfo(AudioRate(), AudioChannels(), int32_t(std::min<int64_t>(rate, INT32_MAX)));
}

int DecodeSession::AudioRate() const {
    if (m_pReader) return m_pReader->SampleRate();
    if (m_pAudio) return m_pAudio->SampleRate();
    return m_pFormat->streams[m_nAudio]->codecpar->sample_rate;
}

int DecodeSession::AudioChannels() const {
    if (m_pReader) return m_pReader->Channels();
    if (m_pAudio) return m_pAudio->Channels();
    return m_pFormat->streams[m_nAudio]->codecpar->ch_layout.nb_channels;
}

void DecodeSession::NegotiateFormat() {
    if (!m_pVideo) return;
    int32_t code = -1, width = 0, height = 0;
    m_Plugin.GetFormat(&code, &width, &height);
    const AVCodecParameters* par = m_pFormat->streams[m_nVideo]->codecpar;
    int sourceWidth = par->width, sourceHeight = par->height;
    if (m_nRotation == 90 || m_nRotation == 270) std::swap(sourceWidth, sourceHeight);
    AVPixelFormat format = PixelFormatOfCode(code);
    // Frames as the decoder makes them, when the plug-in takes them so; a
    // stream that must be turned upright is never as the decoder makes it.
    const AVPixelFormat native = AVPixelFormat(par->format);
    const int32_t nativeCode = CodeOfPixelFormat(native);
    if (m_nRotation == 0 && nativeCode >= 0 &&
        m_Plugin.CheckFormat(nativeCode, sourceWidth, sourceHeight, width, height) == 0) {
        format = native;
        width = sourceWidth;
        height = sourceHeight;
    }
    if (format == AV_PIX_FMT_NONE || width <= 0 || height <= 0) {
        reelpage::HelperLog(reelpage::kHelperLogError,
                            "the plug-in asks for frames in format %d at %dx%d; no pictures\n",
                            code, width, height);
        return;
    }
    m_Converter.Configure(format, width, height, m_nRotation);
    m_bDeliverVideo = true;
}

VideoFeeder::AskFn DecodeSession::AskCallback() {
    return [this](int64_t t, void* p[3], int32_t s[3]) { return AskFrame(t, p, s); };
}

VideoFeeder::DeliverFn DecodeSession::DeliverCallback() {
    return [this](const AVFrame* f, void* p[3], int32_t s[3], int64_t t) {
        DeliverFrame(f, p, s, t);
    };
}

int DecodeSession::AskFrame(int64_t time, void* planes[3], int32_t strides[3]) {
    if (!m_bDeliverVideo) return -1;
    return m_Plugin.GetFrameBuffer(planes, strides, time);
}

void DecodeSession::DeliverFrame(const AVFrame* frame, void* planes[3], int32_t strides[3],
                                 int64_t time) {
    if (!m_Converter.Convert(frame, planes, strides)) {
        reelpage::HelperLog(reelpage::kHelperLogError,
                            "cannot convert a %dx%d frame of format %d\n", frame->width,
                            frame->height, frame->format);
        return;
    }
    m_Plugin.FrameReady(planes, strides, time);
}

void DecodeSession::DeliverAudio(const uint8_t* pcm, int bytes) {
    if (bytes > 0) m_Plugin.AudioData(pcm, bytes);
}

void DecodeSession::Dispatch(AVPacket* packet) {
    if (packet->stream_index == m_nVideo && m_pVideo) {
        AVPacket* own = av_packet_alloc();
        av_packet_move_ref(own, packet);
        m_pVideo->Push(own);
        return;
    }
    if (packet->stream_index == m_nAudio && m_pAudio)
        m_pAudio->Decode(packet, [this](const uint8_t* p, int n) { DeliverAudio(p, n); });
    av_packet_unref(packet);
}

bool DecodeSession::ReadPacket() {
    int rc = av_read_frame(m_pFormat, m_pPacket);
    if (rc < 0) {
        if (rc != AVERROR_EOF && rc != AVERROR(EAGAIN))
            reelpage::HelperLog(reelpage::kHelperLogError, "reading %s stopped (%d)\n",
                                m_szFile.c_str(), rc);
        if (rc == AVERROR(EAGAIN)) return true;
        m_bEof = true;
        return false;
    }
    Dispatch(m_pPacket);
    return true;
}

bool SeekStream(AVFormatContext* format, int videoIndex, int64_t startUs, int64_t targetUs,
                const std::function<void(AVPacket*)>& dispatch) {
    const AVStream* st = StreamAt(format, videoIndex);
    int64_t retreat = 0;
    for (int attempt = 0; attempt < kSeekAttempts; ++attempt) {
        const int64_t at = std::max(targetUs - retreat, int64_t(0)) + startUs;
        int rc;
        if (st) {
            const int64_t ts = av_rescale_q(at, AV_TIME_BASE_Q, st->time_base);
            rc = avformat_seek_file(format, videoIndex, INT64_MIN, ts, ts, 0);
        } else {
            rc = avformat_seek_file(format, -1, INT64_MIN, at, at, 0);
        }
        if (rc < 0) {
            reelpage::HelperLog(reelpage::kHelperLogError, "cannot seek %s to %lld (%d)\n",
                                format->url, static_cast<long long>(targetUs), rc);
            return false;
        }
        if (!st) return true;
        // Seeking is by keyframe and, in some containers, by estimate: look at
        // the keyframe it reached. Past the target, the frame the target falls
        // on lies further back.
        std::vector<AVPacket*> held;
        int64_t keyPts = AV_NOPTS_VALUE;
        bool end = false;
        while (keyPts == AV_NOPTS_VALUE) {
            AVPacket* p = av_packet_alloc();
            if (av_read_frame(format, p) < 0) {
                av_packet_free(&p);
                end = true;
                break;
            }
            held.push_back(p);
            if (p->stream_index == videoIndex && (p->flags & AV_PKT_FLAG_KEY))
                keyPts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        }
        const int64_t targetTs = av_rescale_q(targetUs + startUs, AV_TIME_BASE_Q, st->time_base);
        const bool accept = end || keyPts == AV_NOPTS_VALUE || keyPts <= targetTs ||
                            at <= startUs || attempt + 1 == kSeekAttempts;
        if (accept) {
            for (AVPacket* p : held) {
                dispatch(p);
                av_packet_free(&p);
            }
            return true;
        }
        for (AVPacket* p : held)
            av_packet_free(&p);
        retreat = retreat ? retreat * 2 : kSeekRetreatUs;
    }
    return true;
}

// The parked opening decodes on one thread, and plays on with that one
// thread once taken over: past about 1080p at 60 pictures a second (4K
// sources, HEVC above all) it could not keep pace, so those replay the usual
// way, from the keyframe.
bool DecodeSession::OneThreadKeepsPace() const {
    const AVStream* st = m_pFormat->streams[m_nVideo];
    const AVRational rate = PictureRate(st);
    const double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 30.0;
    constexpr double kMostPixelsPerSecond = 1920.0 * 1088.0 * 60.0;
    return double(st->codecpar->width) * st->codecpar->height * fps <= kMostPixelsPerSecond;
}

void DecodeSession::Park(int64_t targetUs) {
    // One parked decoder at most: the one waiting for another time goes
    // before the new one opens the file.
    m_pParked.reset();
    m_llPendingPark = -1;
    if (!m_pVideo || m_bMediaInfo) return;
    if (!OneThreadKeepsPace()) {
        if (!m_bToldNotParked)
            reelpage::HelperLog(reelpage::kHelperLogInfo,
                                "Not parked: one thread would not keep pace with this video\n");
        m_bToldNotParked = true;
        return;
    }
    if (m_pRetired && !m_pRetired->Stopped()) {
        // Waiting for it to stop would hold up the playback that just began.
        m_llPendingPark = targetUs;
        return;
    }
    m_pRetired.reset();
    m_pParked = std::make_unique<ParkedDecoder>(m_szFile, m_nVideo, m_pVideo->Codec()->codec_id,
                                                targetUs);
}

void DecodeSession::Unpark() {
    m_pParked.reset();
    m_llPendingPark = -1;
}

void DecodeSession::TakeOver(ParkedDecoder& parked) {
    ParkedDecoder::Opening& o = parked.Taken();
    std::swap(m_pFormat, o.format);
    std::swap(m_pPacket, o.packet);
    std::swap(m_pVideo, o.video);
    std::swap(m_StartUs, o.startUs);
    std::swap(m_bEof, o.eof);
    m_Held = std::move(o.held);
    m_pVideo->SetCallbacks(AskCallback(), DeliverCallback());
    if (m_pAudio) {
        // The parked opening read no sound; from here on it does.
        m_pAudio->Reset();
        m_pFormat->streams[m_nAudio]->discard = AVDISCARD_DEFAULT;
    }
    reelpage::HelperLog(reelpage::kHelperLogInfo,
                        "Took over the decoder parked at %lld us with %zu pictures\n",
                        static_cast<long long>(parked.Target()), m_Held.size());
}

void DecodeSession::OfferHeld() {
    HeldFrame held = std::move(m_Held.front());
    m_Held.pop_front();
    void* planes[3] = {};
    int32_t strides[3] = {};
    const int answer = AskFrame(held.Time(), planes, strides);
    if (answer == 0) DeliverFrame(held.Frame(), planes, strides, held.Time());
    if (answer < 0) m_Held.clear();
}

void DecodeSession::Seek(int64_t targetUs) {
    if (targetUs == m_llPendingPark) m_llPendingPark = -1;
    if (m_pParked && m_pParked->Target() == targetUs) {
        std::unique_ptr<ParkedDecoder> parked = std::move(m_pParked);
        if (parked->HasArrived() && parked->Finish()) {
            TakeOver(*parked);
            return;
        }
        // Still on its way, at its low priority and with one thread, it
        // would reach the time later than this decoder does from the
        // keyframe; waiting for it to stop would delay that too, so it is
        // left to stop by itself and freed once it has.
        parked->RequestStop();
        m_pRetired = std::move(parked);
    }
    m_Held.clear();
    if (m_pVideo) m_pVideo->Reset();
    if (m_pAudio) m_pAudio->Reset();
    m_bEof = false;
    SeekStream(m_pFormat, m_nVideo, m_StartUs, targetUs, [this](AVPacket* p) { Dispatch(p); });
}

void DecodeSession::Loop() {
    const auto audioSink = [this](const uint8_t* p, int n) { DeliverAudio(p, n); };
    bool ended = false;
    std::vector<uint8_t> chunk;
    for (;;) {
        if (m_pRetired && m_pRetired->Stopped()) {
            m_pRetired.reset();
            if (m_llPendingPark >= 0) Park(m_llPendingPark);
        }
        if (!m_pVideo || !m_pVideo->Outstanding()) {
            int64_t target = 0;
            const int32_t answer = m_Plugin.Poll(&target);
            if (answer == reelpage::kPollSeek) {
                Seek(target);
                ended = false;
                continue;
            }
            if (answer == reelpage::kPollPark || answer == reelpage::kPollUnpark) {
                if (answer == reelpage::kPollPark)
                    Park(target);
                else
                    Unpark();
                continue;
            }
            if (ended) {
                // A preview keeps its helper after the end: the user may seek
                // back. Its Poll sleeps on the command event until a seek
                // comes; a plug-in that answers at once anyway is asked again
                // only after a pause, so the end never turns into a busy loop.
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                continue;
            }
            if (m_pReader && m_pReader->Take(&chunk, 0) && !chunk.empty())
                DeliverAudio(chunk.data(), int(chunk.size()));
            if (!m_Held.empty()) {
                OfferHeld();
                continue;
            }
        }
        VideoFeeder::Step step =
            m_pVideo ? m_pVideo->Work(m_bEof)
                     : (m_bEof ? VideoFeeder::Step::Done : VideoFeeder::Step::NeedPacket);
        if (step == VideoFeeder::Step::Worked) continue;
        if (!m_bEof) {
            ReadPacket();
            continue;
        }
        // Everything is read and every picture handed over; the sound last.
        if (m_pReader && m_pReader->Take(&chunk, 20)) {
            if (!chunk.empty()) DeliverAudio(chunk.data(), int(chunk.size()));
            continue;
        }
        if (m_pAudio) m_pAudio->Drain(audioSink);
        if (m_bMediaInfo) ReportMeasuredAudioRate();
        const int64_t last = m_pVideo ? m_pVideo->LastFrameTime() : 0;
        if (m_pVideo) {
            const VideoFeeder::Counts& c = m_pVideo->Statistics();
            reelpage::HelperLog(reelpage::kHelperLogInfo,
                                "%d video packets, %d decoded, %d restarts at a keyframe\n",
                                c.pushed, c.decoded, c.restarts);
        }
        if (m_Plugin.EndOfStream(last) == -1) return;
        ended = true;
    }
}

} // namespace dec
