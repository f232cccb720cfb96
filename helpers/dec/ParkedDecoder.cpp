#include "ParkedDecoder.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

#include "reelpage/helper_log.h"

namespace dec {

namespace {

// How much lower than the helper's own the parked decoder's priority is:
// playback on the same cores comes first. Not lower: on cores busy with other
// work a thread far down gets so little time that it neither arrives within
// a clip's playback nor stops promptly when Play takes it over (it must reach
// the end of the picture it is decoding), and nobody may raise it again.
constexpr int kLowerPriority = 4;

void LowerThisThreadsPriority() {
    const id_t tid = id_t(gettid());
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, tid);
    if (errno != 0) return;
    // Per thread on Linux: the rest of the helper keeps its priority.
    if (setpriority(PRIO_PROCESS, tid, std::min(now + kLowerPriority, 19)) != 0)
        reelpage::HelperLog(reelpage::kHelperLogError,
                            "Failed(%d) to lower the parked decoder's priority\n", errno);
}

} // namespace

ParkedDecoder::ParkedDecoder(const std::string& file, int videoIndex, AVCodecID codec,
                             int64_t targetUs)
    : m_szFile(file), m_nVideo(videoIndex), m_Codec(codec), m_llTarget(targetUs) {
    m_Thread = std::thread([this] { Run(); });
}

ParkedDecoder::~ParkedDecoder() {
    m_bStop = true;
    if (m_Thread.joinable()) m_Thread.join();
    m_Opening.held.clear();
    m_Opening.video.reset();
    av_packet_free(&m_Opening.packet);
    avformat_close_input(&m_Opening.format);
}

bool ParkedDecoder::Finish() {
    m_bStop = true;
    if (m_Thread.joinable()) m_Thread.join();
    return m_bUsable;
}

bool ParkedDecoder::OpenAndSeek() {
    Opening& o = m_Opening;
    // No interrupt callback: the opening goes on to its taker, and the
    // reading layer keeps a copy of the callback that cannot be taken back.
    if (avformat_open_input(&o.format, m_szFile.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(o.format, nullptr) < 0) return false;
    if (m_nVideo < 0 || unsigned(m_nVideo) >= o.format->nb_streams) return false;
    const AVStream* st = o.format->streams[m_nVideo];
    if (st->codecpar->codec_id != m_Codec) return false;
    for (unsigned i = 0; i < o.format->nb_streams; ++i)
        o.format->streams[i]->discard = int(i) == m_nVideo ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    o.packet = av_packet_alloc();
    o.startUs = o.format->start_time != AV_NOPTS_VALUE ? o.format->start_time : 0;
    const AVRational rate = PictureRate(st);
    if (rate.num > 0 && rate.den > 0)
        m_llFrameUs = std::max<int64_t>(1, av_rescale(1000000, rate.den, rate.num));

    // Pictures from a frame before the time on are kept: which one covers
    // the time is the plug-in's to say, after its own frame rate.
    const auto ask = [this](int64_t time, void* planes[3], int32_t strides[3]) {
        planes[0] = planes[1] = planes[2] = nullptr;
        strides[0] = strides[1] = strides[2] = 0;
        return time + 2 * m_llFrameUs > m_llTarget ? 0 : 1;
    };
    const auto keep = [this](const AVFrame* frame, void*[3], int32_t[3], int64_t time) {
        if (AVFrame* copy = av_frame_clone(frame)) m_Opening.held.emplace_back(copy, time);
    };
    // One thread: the decoder's own threads would not run at this thread's
    // priority, and after taking over it decodes one picture per tick.
    o.video = std::make_unique<VideoFeeder>();
    if (!o.packet || !o.video->Open(st, o.startUs, ask, keep, 1)) return false;
    o.video->Reset();
    const bool sought = SeekStream(o.format, m_nVideo, o.startUs, m_llTarget,
                                   [this](AVPacket* p) { Dispatch(p); });
    // Taken over even before it has decoded anything, it is past the
    // opening and the seek.
    return sought;
}

void ParkedDecoder::Dispatch(AVPacket* packet) {
    if (packet->stream_index != m_nVideo) return;
    if (AVPacket* own = av_packet_alloc()) {
        av_packet_move_ref(own, packet);
        m_Opening.video->Push(own);
    }
}

bool ParkedDecoder::Arrived() const {
    return !m_Opening.held.empty() && m_Opening.held.back().Time() > m_llTarget;
}

void ParkedDecoder::Run() {
    LowerThisThreadsPriority();
    Work();
    m_bStopped = true;
}

void ParkedDecoder::Work() {
    if (!OpenAndSeek()) return;
    m_bUsable = true;
    Opening& o = m_Opening;
    // Stopped between pictures only, never with one asked for and not yet
    // out: whoever takes over asks its own questions from the next one on.
    while (!Arrived() && !(m_bStop && !o.video->Outstanding())) {
        const VideoFeeder::Step step = o.video->Work(o.eof);
        if (step == VideoFeeder::Step::Worked) continue;
        if (step == VideoFeeder::Step::Done) break;
        const int rc = av_read_frame(o.format, o.packet);
        if (rc == AVERROR(EAGAIN)) continue;
        if (rc < 0) {
            o.eof = true;
            continue;
        }
        Dispatch(o.packet);
        av_packet_unref(o.packet);
    }
    if (!m_bStop) {
        m_bArrived = true;
        reelpage::HelperLog(reelpage::kHelperLogInfo, "Parked at %lld us with %zu pictures\n",
                            static_cast<long long>(m_llTarget), o.held.size());
    }
}

} // namespace dec
