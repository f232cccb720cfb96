#include "AudioDecoder.h"

#include "reelpage/helper_log.h"

namespace dec {

AudioDecoder::~AudioDecoder() {
    avcodec_free_context(&m_pCodec);
    swr_free(&m_pSwr);
    av_frame_free(&m_pFrame);
    av_channel_layout_uninit(&m_InLayout);
}

bool AudioDecoder::Open(const AVCodecParameters* parameters) {
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) return false;
    m_pCodec = avcodec_alloc_context3(codec);
    m_pFrame = av_frame_alloc();
    if (!m_pCodec || !m_pFrame) return false;
    if (avcodec_parameters_to_context(m_pCodec, parameters) < 0) return false;
    m_pCodec->thread_count = 1;
    if (avcodec_open2(m_pCodec, codec, nullptr) < 0) return false;
    m_nRate = parameters->sample_rate > 0 ? parameters->sample_rate : m_pCodec->sample_rate;
    m_nChannels = parameters->ch_layout.nb_channels > 0 ? parameters->ch_layout.nb_channels
                                                        : m_pCodec->ch_layout.nb_channels;
    return m_nRate > 0 && m_nChannels > 0;
}

void AudioDecoder::Decode(const AVPacket* packet, const Sink& sink) {
    if (!m_pCodec) return;
    m_llPacketBytes += packet->size;
    int rc = avcodec_send_packet(m_pCodec, packet);
    while (rc == AVERROR(EAGAIN)) {
        Receive(sink);
        rc = avcodec_send_packet(m_pCodec, packet);
    }
    Receive(sink);
}

void AudioDecoder::Drain(const Sink& sink) {
    if (!m_pCodec) return;
    avcodec_send_packet(m_pCodec, nullptr);
    Receive(sink);
    if (m_pSwr) {
        // The resampler's delay line.
        for (;;) {
            int room = 4096;
            m_Buffer.resize(size_t(room) * m_nChannels * 2);
            uint8_t* out[1] = {m_Buffer.data()};
            int got = swr_convert(m_pSwr, out, room, nullptr, 0);
            if (got <= 0) break;
            sink(m_Buffer.data(), got * m_nChannels * 2);
        }
    }
    avcodec_flush_buffers(m_pCodec);
}

void AudioDecoder::Reset() {
    if (m_pCodec) avcodec_flush_buffers(m_pCodec);
    swr_free(&m_pSwr);
    m_nInFormat = -1;
}

void AudioDecoder::Receive(const Sink& sink) {
    for (;;) {
        int rc = avcodec_receive_frame(m_pCodec, m_pFrame);
        if (rc < 0) return;
        Convert(m_pFrame, sink);
        av_frame_unref(m_pFrame);
    }
}

bool AudioDecoder::Convert(const AVFrame* frame, const Sink& sink) {
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0)
        return false;
    if (!m_pSwr || frame->format != m_nInFormat || frame->sample_rate != m_nInRate ||
        av_channel_layout_compare(&frame->ch_layout, &m_InLayout) != 0) {
        swr_free(&m_pSwr);
        AVChannelLayout out{};
        // Same channel count as declared, in the default layout for that
        // count: the sound travels on with its count alone, and the preview
        // and the encoders take that layout. A 3.0 track left as it is would
        // have its centre taken for the LFE of 2.1 and dropped from every
        // stereo mix. A layout without known positions keeps its order.
        if (frame->ch_layout.nb_channels == m_nChannels &&
            frame->ch_layout.order != AV_CHANNEL_ORDER_NATIVE)
            av_channel_layout_copy(&out, &frame->ch_layout);
        else
            av_channel_layout_default(&out, m_nChannels);
        int rc = swr_alloc_set_opts2(&m_pSwr, &out, AV_SAMPLE_FMT_S16, m_nRate,
                                     const_cast<AVChannelLayout*>(&frame->ch_layout),
                                     AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&out);
        if (rc < 0 || swr_init(m_pSwr) < 0) {
            swr_free(&m_pSwr);
            reelpage::HelperLog(reelpage::kHelperLogError,
                                "cannot convert audio (%d Hz, %d channels)\n", frame->sample_rate,
                                frame->ch_layout.nb_channels);
            return false;
        }
        m_nInFormat = frame->format;
        m_nInRate = frame->sample_rate;
        av_channel_layout_uninit(&m_InLayout);
        av_channel_layout_copy(&m_InLayout, &frame->ch_layout);
    }
    const int room = swr_get_out_samples(m_pSwr, frame->nb_samples);
    if (room <= 0) return true;
    m_Buffer.resize(size_t(room) * m_nChannels * 2);
    uint8_t* out[1] = {m_Buffer.data()};
    int got = swr_convert(m_pSwr, out, room, const_cast<const uint8_t**>(frame->extended_data),
                          frame->nb_samples);
    if (got > 0) sink(m_Buffer.data(), got * m_nChannels * 2);
    return true;
}

} // namespace dec
