#include "TheoraEncoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <theora/theoraenc.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace reelpage::enc {

TheoraEncoder::~TheoraEncoder() {
    for (AVPacket* p : m_packets)
        av_packet_free(&p);
    if (m_ctx) th_encode_free(m_ctx);
}

int TheoraEncoder::Fail(const std::string& what, int code) {
    // libtheora's codes are its own (TH_EFAULT, TH_EINVAL, TH_EIMPL).
    if (m_error.empty())
        m_error = code != 0 ? what + ": libtheora error " + std::to_string(code) : what;
    return AVERROR_EXTERNAL;
}

bool TheoraEncoder::Open(const TheoraSettings& s) {
    m_settings = s;
    if (s.width <= 0 || s.height <= 0 || s.frameRateNum <= 0 || s.frameRateDen <= 0) {
        m_error = "bad Theora picture size or frame rate";
        return false;
    }
    // Theora codes whole blocks of 16 x 16; the picture region says what is
    // shown, so the picture keeps its exact size.
    m_frameWidth = (s.width + 15) & ~15;
    m_frameHeight = (s.height + 15) & ~15;
    th_info info;
    th_info_init(&info);
    info.frame_width = uint32_t(m_frameWidth);
    info.frame_height = uint32_t(m_frameHeight);
    info.pic_width = uint32_t(s.width);
    info.pic_height = uint32_t(s.height);
    info.pic_x = 0;
    info.pic_y = 0;
    info.fps_numerator = uint32_t(s.frameRateNum);
    info.fps_denominator = uint32_t(s.frameRateDen);
    info.aspect_numerator = 1;
    info.aspect_denominator = 1;
    // Theora can name only BT.470 M and BG, neither of which our pictures
    // claim; FFmpeg's wrapper left every other case unspecified too.
    info.colorspace = TH_CS_UNSPECIFIED;
    info.pixel_fmt = TH_PF_420;
    info.target_bitrate = int(std::clamp<int64_t>(s.bitRate, 1, INT_MAX));
    info.quality = 0;
    // The rest (the keyframe granule shift of 6, rate control at the bit rate
    // with libtheora's own buffer) is what FFmpeg's wrapper left as well.
    m_ctx = th_encode_alloc(&info);
    th_info_clear(&info);
    if (!m_ctx) {
        m_error = "th_encode_alloc refused " + std::to_string(s.width) + "x" +
                  std::to_string(s.height) + " at " + std::to_string(s.frameRateNum) + "/" +
                  std::to_string(s.frameRateDen);
        return false;
    }
    ogg_uint32_t interval = ogg_uint32_t(std::max(s.keyframeInterval, 1));
    int rc =
        th_encode_ctl(m_ctx, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &interval, sizeof interval);
    if (rc != 0) {
        Fail("TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE", rc);
        return false;
    }
    int level = s.speedLevel;
    rc = th_encode_ctl(m_ctx, TH_ENCCTL_SET_SPLEVEL, &level, sizeof level);
    if (rc != 0) {
        Fail("TH_ENCCTL_SET_SPLEVEL " + std::to_string(level), rc);
        return false;
    }

    th_comment comment;
    th_comment_init(&comment);
    ogg_packet header;
    for (;;) {
        rc = th_encode_flushheader(m_ctx, &comment, &header);
        if (rc <= 0) break;
        if (header.bytes < 0 || header.bytes > 0xffff) {
            rc = TH_EINVAL;
            break;
        }
        m_headers.push_back(uint8_t(header.bytes >> 8));
        m_headers.push_back(uint8_t(header.bytes & 0xff));
        m_headers.insert(m_headers.end(), header.packet, header.packet + header.bytes);
    }
    th_comment_clear(&comment);
    if (rc < 0) {
        Fail("th_encode_flushheader", rc);
        return false;
    }
    return true;
}

int TheoraEncoder::SpeedLevel() const {
    int level = -1;
    if (!m_ctx || th_encode_ctl(m_ctx, TH_ENCCTL_GET_SPLEVEL, &level, sizeof level) != 0) return -1;
    return level;
}

int TheoraEncoder::MaxSpeedLevel() const {
    int level = -1;
    if (!m_ctx || th_encode_ctl(m_ctx, TH_ENCCTL_GET_SPLEVEL_MAX, &level, sizeof level) != 0)
        return -1;
    return level;
}

int TheoraEncoder::SendFrame(const AVFrame* picture) {
    if (!m_ctx) return Fail("Theora encoder not open", 0);
    if (m_ended) return AVERROR_EOF;
    if (picture) {
        if (picture->width < m_settings.width || picture->height < m_settings.height)
            return Fail("a picture smaller than the stream", 0);
        m_last = picture;
        return Encode(picture, picture->pts);
    }
    m_ended = true;
    // A picture that repeats the one before is coded as an empty packet, and
    // FFmpeg's Ogg muxer drops the empty packets that end a stream (a page
    // holding only them has no bytes and is never written): a clip ending on
    // a still picture would lose its last frames and end early. So the last
    // of them is coded again as a keyframe, which always has bytes.
    if (m_packets.size() > m_ready && m_last) {
        AVPacket* empty = m_packets.back();
        m_packets.pop_back();
        const int64_t pts = empty->pts;
        av_packet_free(&empty);
        ogg_uint32_t now = 1;
        const int rc =
            th_encode_ctl(m_ctx, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &now, sizeof now);
        if (rc != 0) return Fail("TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE", rc);
        const int sent = Encode(m_last, pts);
        if (sent < 0) return sent;
    }
    m_ready = m_packets.size();
    return 0;
}

int TheoraEncoder::Encode(const AVFrame* picture, int64_t pts) {
    // libtheora wants the coded frame's size here but reads only the
    // picture region (the top left corner).
    th_ycbcr_buffer planes;
    for (int i = 0; i < 3; ++i) {
        planes[i].width = i == 0 ? m_frameWidth : m_frameWidth / 2;
        planes[i].height = i == 0 ? m_frameHeight : m_frameHeight / 2;
        planes[i].stride = picture->linesize[i];
        planes[i].data = picture->data[i];
    }
    const int rc = th_encode_ycbcr_in(m_ctx, planes);
    if (rc != 0) return Fail("th_encode_ycbcr_in", rc);
    m_nextPts = pts;
    return TakePackets();
}

int TheoraEncoder::TakePackets() {
    // libtheora keeps a packet's bytes only until its next call: copy them.
    for (;;) {
        ogg_packet op;
        const int rc = th_encode_packetout(m_ctx, 0, &op);
        if (rc == 0) return 0;
        if (rc < 0) return Fail("th_encode_packetout", rc);
        AVPacket* packet = av_packet_alloc();
        if (!packet) return AVERROR(ENOMEM);
        const int made = av_new_packet(packet, int(op.bytes));
        if (made < 0) {
            av_packet_free(&packet);
            return made;
        }
        if (op.bytes > 0) std::memcpy(packet->data, op.packet, size_t(op.bytes));
        packet->pts = packet->dts = m_nextPts++;
        packet->duration = 1;
        if (th_packet_iskeyframe(&op) == 1) packet->flags |= AV_PKT_FLAG_KEY;
        m_packets.push_back(packet);
        // Empty packets wait until a packet with bytes follows them (see
        // SendFrame); they cost nothing to hold.
        if (op.bytes > 0) m_ready = m_packets.size();
    }
}

int TheoraEncoder::ReceivePacket(AVPacket* packet) {
    av_packet_unref(packet);
    if (m_ready == 0) return m_ended ? AVERROR_EOF : AVERROR(EAGAIN);
    AVPacket* next = m_packets.front();
    m_packets.pop_front();
    --m_ready;
    av_packet_move_ref(packet, next);
    av_packet_free(&next);
    return 0;
}

} // namespace reelpage::enc
