#include "VideoFeeder.h"

#include "reelpage/helper_log.h"

#include <algorithm>

namespace dec {

AVRational PictureRate(const AVStream* stream) {
    return stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
}

namespace {
// How far ahead packets may be read to find out whether decoding can skip
// to the next keyframe.
constexpr size_t kMaxQueuedPackets = 600;
constexpr size_t kMaxQueuedBytes = size_t(128) << 20;
} // namespace

VideoFeeder::~VideoFeeder() {
    ClearQueue();
    avcodec_free_context(&m_pCodec);
    av_frame_free(&m_pFrame);
}

bool VideoFeeder::Open(const AVStream* stream, int64_t startUs, AskFn ask, DeliverFn deliver,
                       int threads) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return false;
    m_pCodec = avcodec_alloc_context3(codec);
    m_pFrame = av_frame_alloc();
    if (!m_pCodec || !m_pFrame) return false;
    if (avcodec_parameters_to_context(m_pCodec, stream->codecpar) < 0) return false;
    m_pCodec->pkt_timebase = stream->time_base;
    m_pCodec->thread_count = threads;
    m_pCodec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(m_pCodec, codec, nullptr) < 0) return false;
    m_TimeBase = stream->time_base;
    const AVRational rate = PictureRate(stream);
    m_FrameDuration =
        rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), m_TimeBase) : 0;
    m_StartUs = startUs;
    m_Ask = std::move(ask);
    m_Deliver = std::move(deliver);
    m_Disposable.Init(stream->codecpar->codec_id, stream->codecpar->extradata,
                      stream->codecpar->extradata_size);
    return true;
}

int64_t VideoFeeder::Time(int64_t pts) const {
    return av_rescale_q(pts, m_TimeBase, AVRational{1, 1000000}) - m_StartUs;
}

int64_t VideoFeeder::LastFrameTime() const {
    return m_MaxPts == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(Time(m_MaxPts), 0);
}

bool VideoFeeder::Settled(int64_t pts) const {
    return m_bEof || pts < m_SettledBelow;
}

bool VideoFeeder::CanReadMore() const {
    return !m_bEof && m_Queue.size() < kMaxQueuedPackets && m_cbQueued < kMaxQueuedBytes;
}

void VideoFeeder::Push(AVPacket* packet) {
    const int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (t != AV_NOPTS_VALUE && (m_MaxPts == AV_NOPTS_VALUE || t > m_MaxPts)) m_MaxPts = t;
    ++m_Counts.pushed;
    if (m_bOff) {
        av_packet_free(&packet);
        return;
    }
    Pending p;
    p.packet = packet;
    p.pts = packet->pts;
    p.key = packet->flags & AV_PKT_FLAG_KEY;
    p.discard = packet->flags & AV_PKT_FLAG_DISCARD;
    if (m_bAwaitKey) {
        // What comes before the first keyframe after a seek cannot be decoded.
        if (!p.key) {
            av_packet_free(&packet);
            return;
        }
        m_bAwaitKey = false;
        if (p.pts != AV_NOPTS_VALUE) m_DropBefore = p.pts;
    }
    if (packet->dts != AV_NOPTS_VALUE) m_SettledBelow = std::max(m_SettledBelow, packet->dts);
    // Pictures shown before the keyframe decoding (re)started at refer to
    // frames before it, which were never decoded.
    if (p.pts != AV_NOPTS_VALUE && !p.key && p.pts < m_DropBefore) {
        av_packet_free(&packet);
        return;
    }
    p.disposable = m_Disposable.IsDisposable(packet);
    // Asking before decoding needs the time of every frame, and decode
    // timestamps, which say which frames can no longer be preceded. Some
    // containers leave out the first few until reordering is known.
    if (p.pts == AV_NOPTS_VALUE) m_bEarly = false;
    if (packet->dts == AV_NOPTS_VALUE && m_SettledBelow != INT64_MIN) m_bEarly = false;
    if (m_bEarly && !p.discard && p.pts <= m_LastAsked) m_bEarly = false;
    if (p.pts != AV_NOPTS_VALUE && !p.discard) {
        if (!m_Unasked.insert(p.pts).second) m_bEarly = false; // two frames, one time
    }
    m_cbQueued += size_t(packet->size);
    m_Queue.push_back(p);
}

VideoFeeder::Status VideoFeeder::StatusOf(const Pending& p) const {
    if (p.pts == AV_NOPTS_VALUE || p.discard) return Status::None;
    auto it = m_Asked.find(p.pts);
    if (it != m_Asked.end()) return it->second.wanted ? Status::Wanted : Status::Declined;
    return m_Unasked.count(p.pts) ? Status::Unasked : Status::None;
}

void VideoFeeder::Ask(int64_t pts) {
    Asked a;
    const int answer = m_Ask(Time(pts), a.planes, a.strides);
    m_LastAsked = std::max(m_LastAsked, pts);
    if (answer < 0) {
        TurnOff();
        return;
    }
    a.wanted = answer == 0;
    if (a.wanted) m_bOutstanding = true;
    m_Asked[pts] = a;
}

void VideoFeeder::AskEarly() {
    while (m_bEarly && !m_bOff && !m_bOutstanding && !m_Unasked.empty()) {
        const int64_t pts = *m_Unasked.begin();
        if (!Settled(pts)) break;
        m_Unasked.erase(m_Unasked.begin());
        Ask(pts);
    }
}

// When nothing up to the next keyframe in the queue (and nothing still inside
// the decoder) is wanted, decoding restarts there. A frame taken after that
// keyframe does not stand in the way.
bool VideoFeeder::TrySkipToKeyframe() {
    if (!m_bEarly) return false;
    size_t k = 1;
    while (k < m_Queue.size() && !(m_Queue[k].key && m_Queue[k].pts != AV_NOPTS_VALUE))
        ++k;
    if (k >= m_Queue.size()) return false;
    const int64_t keyPts = m_Queue[k].pts;
    // Pictures shown before the keyframe but decoded after it refer to what
    // would be skipped: all of them must have been read and declined.
    if (!Settled(keyPts)) return false;
    for (size_t j = 0; j < m_Queue.size(); ++j) {
        const Pending& p = m_Queue[j];
        if (j >= k && !(p.pts != AV_NOPTS_VALUE && p.pts < keyPts)) continue;
        if (j == k) continue;
        if (p.pts == AV_NOPTS_VALUE) return false;
        if (!p.discard && StatusOf(p) != Status::Declined && !(p.pts < m_DropBefore)) return false;
    }
    for (int64_t pts : m_InDecoder) {
        auto it = m_Asked.find(pts);
        if (it == m_Asked.end() || it->second.wanted) return false;
    }
    for (size_t j = 0; j < k; ++j)
        PopFront(true);
    avcodec_flush_buffers(m_pCodec);
    for (int64_t pts : m_InDecoder)
        m_Asked.erase(pts);
    m_InDecoder.clear();
    m_DropBefore = keyPts;
    ++m_Counts.restarts;
    return true;
}

// Whether reading further could still allow a skip to a keyframe.
bool VideoFeeder::SkipStillPossible() const {
    if (!m_bEarly || m_bOutstanding) return false;
    for (const Pending& p : m_Queue) {
        if (p.pts == AV_NOPTS_VALUE) return false;
        if (StatusOf(p) == Status::Wanted) return false;
    }
    for (int64_t pts : m_InDecoder) {
        auto it = m_Asked.find(pts);
        if (it != m_Asked.end() && it->second.wanted) return false;
    }
    return true;
}

void VideoFeeder::PopFront(bool drop) {
    Pending& p = m_Queue.front();
    m_cbQueued -= size_t(p.packet ? p.packet->size : 0);
    if (drop) {
        if (p.pts != AV_NOPTS_VALUE) {
            auto it = m_Asked.find(p.pts);
            if (it != m_Asked.end() && !it->second.wanted) m_Asked.erase(it);
            m_Unasked.erase(p.pts);
        }
        av_packet_free(&p.packet);
    }
    m_Queue.pop_front();
}

void VideoFeeder::Feed(Pending& p) {
    AVPacket* packet = p.packet;
    p.packet = nullptr;
    m_cbQueued -= size_t(packet->size);
    if (p.pts != AV_NOPTS_VALUE && !p.discard) m_InDecoder.insert(p.pts);
    m_Queue.pop_front();
    ++m_Counts.decoded;
    int rc = avcodec_send_packet(m_pCodec, packet);
    while (rc == AVERROR(EAGAIN)) {
        Receive();
        if (m_bOff) break;
        rc = avcodec_send_packet(m_pCodec, packet);
    }
    av_packet_free(&packet);
    if (!m_bOff) Receive();
}

void VideoFeeder::Receive() {
    while (!m_bOff) {
        int rc = avcodec_receive_frame(m_pCodec, m_pFrame);
        if (rc < 0) return;
        Handle(m_pFrame);
        av_frame_unref(m_pFrame);
    }
}

bool VideoFeeder::ReceiveOne() {
    if (m_bOff || avcodec_receive_frame(m_pCodec, m_pFrame) < 0) return false;
    Handle(m_pFrame);
    av_frame_unref(m_pFrame);
    return true;
}

void VideoFeeder::Handle(AVFrame* frame) {
    int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    // A frame without any time (the last one of some containers) follows
    // the one before it.
    if (pts == AV_NOPTS_VALUE && m_LastOut != AV_NOPTS_VALUE && m_FrameDuration > 0)
        pts = m_LastOut + m_FrameDuration;
    if (pts == AV_NOPTS_VALUE) return;
    m_LastOut = pts;
    // Frames come out in presentation order: whatever was expected before
    // this one will not come any more (the decoder dropped it).
    m_InDecoder.erase(m_InDecoder.begin(), m_InDecoder.upper_bound(pts));
    for (auto it = m_Asked.begin(); it != m_Asked.end() && it->first < pts;) {
        if (it->second.wanted) m_bOutstanding = false;
        it = m_Asked.erase(it);
    }
    if (pts < m_DropBefore) return;
    auto it = m_Asked.find(pts);
    if (it != m_Asked.end()) {
        Asked a = it->second;
        m_Asked.erase(it);
        if (!a.wanted) return;
        m_bOutstanding = false;
        m_Deliver(frame, a.planes, a.strides, Time(pts));
        return;
    }
    if (pts <= m_LastAsked) return; // overtaken by a later frame already asked about
    m_Unasked.erase(m_Unasked.begin(), m_Unasked.upper_bound(pts));
    Asked a;
    const int answer = m_Ask(Time(pts), a.planes, a.strides);
    m_LastAsked = pts;
    if (answer < 0) {
        TurnOff();
        return;
    }
    if (answer == 0) m_Deliver(frame, a.planes, a.strides, Time(pts));
}

void VideoFeeder::TurnOff() {
    m_bOff = true;
    m_bOutstanding = false;
    ClearQueue();
}

void VideoFeeder::ClearQueue() {
    for (Pending& p : m_Queue)
        av_packet_free(&p.packet);
    m_Queue.clear();
    m_cbQueued = 0;
    m_Asked.clear();
    m_Unasked.clear();
    m_InDecoder.clear();
}

void VideoFeeder::Reset() {
    ClearQueue();
    if (m_pCodec) avcodec_flush_buffers(m_pCodec);
    m_bOff = false;
    m_bEarly = true;
    m_SettledBelow = INT64_MIN;
    m_LastAsked = INT64_MIN;
    m_bOutstanding = false;
    m_DropBefore = INT64_MIN;
    m_bAwaitKey = true;
    m_bEof = false;
    m_bDraining = false;
    m_bDrained = false;
    m_LastOut = AV_NOPTS_VALUE;
}

VideoFeeder::Step VideoFeeder::Work(bool eof) {
    m_bEof = eof;
    for (;;) {
        if (m_bOff) return eof ? Step::Done : Step::NeedPacket;
        AskEarly();
        if (m_bOff) continue;
        if (m_Queue.empty()) {
            if (!eof) return Step::NeedPacket;
            if (m_bDrained) return Step::Done;
            if (!m_bDraining) {
                m_bDraining = true;
                avcodec_send_packet(m_pCodec, nullptr);
            }
            // Drained, the decoder hands out every picture it still holds at
            // once. One at a time, with the plug-in polled in between, each
            // is asked about when the plug-in has room for it: a preview
            // holds one picture ahead of its clock and would have to skip
            // the rest, the last pictures of the file.
            if (ReceiveOne()) return Step::Worked;
            m_bDrained = true;
            // A frame taken that never came out (the decoder dropped it)
            // will not come any more.
            m_bOutstanding = false;
            m_Asked.clear();
            return Step::Done;
        }
        Pending& p = m_Queue.front();
        if (p.pts != AV_NOPTS_VALUE && !p.key && p.pts < m_DropBefore) {
            PopFront(true);
            continue;
        }
        const Status status = StatusOf(p);
        if (status == Status::Unasked && m_bEarly && !m_bOutstanding && CanReadMore())
            return Step::NeedPacket; // read on until it can be asked about
        if (status == Status::Declined) {
            if (p.disposable) {
                PopFront(true);
                continue;
            }
            if (TrySkipToKeyframe()) continue;
            if (CanReadMore() && SkipStillPossible()) return Step::NeedPacket;
        }
        Feed(p);
        return Step::Worked;
    }
}

} // namespace dec
