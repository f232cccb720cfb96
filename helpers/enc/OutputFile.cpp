#include "OutputFile.h"

#include "CodecSettings.h"
#include "TheoraEncoder.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "reelpage/blocks.h"

namespace reelpage::enc {

namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Fail(const char* what, int code) {
    m_failed = true;
    if (m_error.empty()) {
        m_error = what;
        if (code != 0) m_error += ": " + ErrorText(code);
    }
    return false;
}

double OutputFile::VideoSeconds() const {
    return m_spec.frameRateNum > 0
               ? double(m_videoFrames) * m_spec.frameRateDen / m_spec.frameRateNum
               : 0.0;
}

double OutputFile::AudioSeconds() const {
    return m_outRate > 0 ? double(AudioSamples()) / m_outRate : 0.0;
}

bool OutputFile::Open(const OutputSpec& out) {
    m_spec = out;
    const char* muxer = MuxerForContainer(out.container);
    if (!muxer) return Fail(("unknown container \"" + out.container + "\"").c_str(), 0);
    int rc = avformat_alloc_output_context2(&m_format, nullptr, muxer, out.path.c_str());
    if (rc < 0 || !m_format) return Fail("avformat_alloc_output_context2", rc);
    m_soundWaits = SoundWaitsForPictures(muxer);
    if (!OpenVideo(out)) return false;
    if (out.audio && !OpenAudio(out)) return false;
    m_packet = av_packet_alloc();
    if (!m_packet) return Fail("av_packet_alloc", AVERROR(ENOMEM));

    rc = avio_open(&m_format->pb, out.path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) return Fail(("avio_open " + out.path).c_str(), rc);
    AVDictionary* options = nullptr;
    AddMuxerOptions(muxer, &options);
    rc = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (rc < 0) return Fail("avformat_write_header", rc);
    m_headerWritten = true;
    return true;
}

bool OutputFile::OpenVideo(const OutputSpec& out) {
    const char* name = EncoderForCodec(out.videoCodec);
    const bool theora = EncodedWithLibtheora(name);
    const AVCodec* codec = name && !theora ? avcodec_find_encoder_by_name(name) : nullptr;
    if (!theora && !codec)
        return Fail(("unknown video codec \"" + out.videoCodec + "\"").c_str(), 0);
    if (out.width < 2 || out.height < 2 || out.frameRateNum <= 0 || out.frameRateDen <= 0)
        return Fail("bad picture size or frame rate", 0);
    if (out.pixelFormat != kPixYuv420 && out.pixelFormat != kPixBgra)
        return Fail("bad pixel format", 0);
    // 4:2:0 needs even sides; an odd last column or row is left out.
    m_encodeWidth = out.width & ~1;
    m_encodeHeight = out.height & ~1;
    if (name && !std::strcmp(name, "libsvtav1") &&
        (m_encodeWidth < kAv1MinSide || m_encodeHeight < kAv1MinSide))
        return Fail(("AV1 needs a picture of at least " + std::to_string(kAv1MinSide) + " x " +
                     std::to_string(kAv1MinSide) + ", not " + std::to_string(m_encodeWidth) +
                     " x " + std::to_string(m_encodeHeight))
                        .c_str(),
                    0);
    m_videoTimeBase = {out.frameRateDen, out.frameRateNum};
    const int64_t bitRate = VideoBitRate(name, out.videoBitRate, m_encodeWidth, m_encodeHeight,
                                         out.frameRateNum, out.frameRateDen);
    int qualityCrf = 0;
    if (theora) {
        if (!OpenTheora(bitRate)) return false;
    } else {
        m_video = avcodec_alloc_context3(codec);
        if (!m_video) return Fail("avcodec_alloc_context3", AVERROR(ENOMEM));
        m_video->width = m_encodeWidth;
        m_video->height = m_encodeHeight;
        m_video->pix_fmt = AV_PIX_FMT_YUV420P;
        m_video->sample_aspect_ratio = {1, 1};
        m_video->time_base = m_videoTimeBase;
        m_video->framerate = {out.frameRateNum, out.frameRateDen};
        if (EncodedByQuality(name)) {
            const QualityRate q = QualityRateFor(name, out.videoBitRate, m_encodeWidth,
                                                 m_encodeHeight, out.frameRateNum,
                                                 out.frameRateDen);
            // libvpx-vp9 takes a bit rate beside the quality as the most it
            // may spend; SVT-AV1 takes the most as its maximum rate and would
            // leave constant quality for a bit rate.
            if (!std::strcmp(name, "libvpx-vp9")) m_video->bit_rate = q.maxRate;
            m_video->rc_max_rate = q.maxRate;
            qualityCrf = q.crf;
        } else {
            m_video->bit_rate = bitRate;
        }
        if (out.pixelFormat == kPixBgra) {
            // The picture is converted here with the BT.601 matrix; say so.
            m_video->colorspace = AVCOL_SPC_SMPTE170M;
            m_video->color_primaries = AVCOL_PRI_SMPTE170M;
            m_video->color_trc = AVCOL_TRC_SMPTE170M;
            m_video->color_range = AVCOL_RANGE_MPEG;
        }
        if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
            m_video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* options = nullptr;
        AddVideoEncoderOptions(name, &options);
        if (qualityCrf > 0) av_dict_set_int(&options, "crf", qualityCrf, 0);
        int rc = avcodec_open2(m_video, codec, &options);
        av_dict_free(&options);
        if (rc < 0) return Fail(("avcodec_open2 " + std::string(name)).c_str(), rc);

        m_videoStream = avformat_new_stream(m_format, nullptr);
        if (!m_videoStream) return Fail("avformat_new_stream", AVERROR(ENOMEM));
        rc = avcodec_parameters_from_context(m_videoStream->codecpar, m_video);
        if (rc < 0) return Fail("avcodec_parameters_from_context", rc);
    }
    m_videoStream->time_base = m_videoTimeBase;
    m_videoStream->avg_frame_rate = {out.frameRateNum, out.frameRateDen};

    m_picture = av_frame_alloc();
    if (!m_picture) return Fail("av_frame_alloc", AVERROR(ENOMEM));
    m_lendsSlots = out.pixelFormat == kPixYuv420 && m_encodeWidth == out.width &&
                   m_encodeHeight == out.height;
    if (m_lendsSlots) return true;
    m_picture->format = AV_PIX_FMT_YUV420P;
    // Theora codes whole blocks of 16 x 16: planes that cover them keep
    // libtheora's reads within the buffer whatever it does near the edges.
    m_picture->width = theora ? (m_encodeWidth + 15) & ~15 : m_encodeWidth;
    m_picture->height = theora ? (m_encodeHeight + 15) & ~15 : m_encodeHeight;
    int rc = av_frame_get_buffer(m_picture, 0);
    if (rc < 0) return Fail("av_frame_get_buffer", rc);
    if (out.pixelFormat == kPixBgra) {
        m_sws = sws_getContext(m_encodeWidth, m_encodeHeight, AV_PIX_FMT_BGRA, m_encodeWidth,
                               m_encodeHeight, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                               nullptr);
        if (!m_sws) return Fail("sws_getContext", 0);
    }
    return true;
}

bool OutputFile::OpenTheora(int64_t bitRate) {
    TheoraSettings settings;
    settings.width = m_encodeWidth;
    settings.height = m_encodeHeight;
    settings.frameRateNum = m_spec.frameRateNum;
    settings.frameRateDen = m_spec.frameRateDen;
    settings.bitRate = bitRate;
    settings.keyframeInterval = kTheoraKeyframeInterval;
    settings.speedLevel = kTheoraSpeedLevel;
    m_theora = std::make_unique<TheoraEncoder>();
    if (!m_theora->Open(settings)) return Fail(m_theora->Error().c_str(), 0);

    m_videoStream = avformat_new_stream(m_format, nullptr);
    if (!m_videoStream) return Fail("avformat_new_stream", AVERROR(ENOMEM));
    AVCodecParameters* par = m_videoStream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_THEORA;
    par->format = AV_PIX_FMT_YUV420P;
    par->width = m_encodeWidth;
    par->height = m_encodeHeight;
    par->bit_rate = bitRate;
    par->sample_aspect_ratio = {1, 1};
    const std::vector<uint8_t>& headers = m_theora->Headers();
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(headers.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return Fail("av_mallocz", AVERROR(ENOMEM));
    std::memcpy(par->extradata, headers.data(), headers.size());
    par->extradata_size = int(headers.size());
    return true;
}

int OutputFile::TheoraSpeedLevel() const {
    return m_theora ? m_theora->SpeedLevel() : -1;
}

bool OutputFile::OpenAudio(const OutputSpec& out) {
    const char* name = EncoderForCodec(out.audioCodec);
    const AVCodec* codec = name ? avcodec_find_encoder_by_name(name) : nullptr;
    if (!codec) return Fail(("unknown audio codec \"" + out.audioCodec + "\"").c_str(), 0);
    if (out.sampleRate <= 0 || out.channels <= 0 || out.channels > 8)
        return Fail("bad sample rate or channel count", 0);

    const OutputSound sound = OutputSoundFor(codec, out.sampleRate, out.channels);
    m_outRate = sound.sampleRate;
    m_outChannels = sound.channels;
    m_audio = avcodec_alloc_context3(codec);
    if (!m_audio) return Fail("avcodec_alloc_context3", AVERROR(ENOMEM));
    m_audio->sample_rate = m_outRate;
    av_channel_layout_default(&m_audio->ch_layout, m_outChannels);
    // FLAC keeps 16-bit samples as they are; told nothing it would store
    // them as 24-bit in 32-bit words, larger for nothing.
    AVSampleFormat format = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (!std::strcmp(name, "flac")) format = AV_SAMPLE_FMT_S16;
    m_audio->sample_fmt = format;
    if (std::strcmp(name, "flac") != 0)
        m_audio->bit_rate = AudioBitRateFor(out.audioBitRate, m_outRate, m_outChannels);
    m_audio->time_base = {1, m_outRate};
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    AddAudioEncoderOptions(name, &options);
    int rc = avcodec_open2(m_audio, codec, &options);
    av_dict_free(&options);
    if (rc < 0) return Fail(("avcodec_open2 " + std::string(name)).c_str(), rc);

    m_audioStream = avformat_new_stream(m_format, nullptr);
    if (!m_audioStream) return Fail("avformat_new_stream", AVERROR(ENOMEM));
    rc = avcodec_parameters_from_context(m_audioStream->codecpar, m_audio);
    if (rc < 0) return Fail("avcodec_parameters_from_context", rc);
    m_audioStream->time_base = m_audio->time_base;

    const bool variable = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    m_audioFrameSize = m_audio->frame_size > 0 && !variable ? m_audio->frame_size : 1024;
    if (format != AV_SAMPLE_FMT_S16 || m_outRate != out.sampleRate ||
        m_outChannels != out.channels) {
        AVChannelLayout source;
        av_channel_layout_default(&source, out.channels);
        rc = swr_alloc_set_opts2(&m_swr, &m_audio->ch_layout, format, m_outRate, &source,
                                 AV_SAMPLE_FMT_S16, out.sampleRate, 0, nullptr);
        av_channel_layout_uninit(&source);
        if (rc < 0) return Fail("swr_alloc_set_opts2", rc);
        // Folding surround into stereo sums several channels into one; into
        // float samples the resampler would leave the sum unscaled, and loud
        // sound would reach the listener clipped. Scaled, every format of the
        // package sounds alike.
        rc = av_opt_set_double(m_swr, "rematrix_maxval", 1.0, 0);
        if (rc < 0) return Fail("av_opt_set_double rematrix_maxval", rc);
        rc = swr_init(m_swr);
        if (rc < 0) return Fail("swr_init", rc);
    }
    m_fifo = av_audio_fifo_alloc(format, m_outChannels, m_audioFrameSize * 4);
    if (!m_fifo) return Fail("av_audio_fifo_alloc", AVERROR(ENOMEM));
    m_sound = av_frame_alloc();
    if (!m_sound) return Fail("av_frame_alloc", AVERROR(ENOMEM));
    m_sound->format = format;
    m_sound->sample_rate = m_outRate;
    rc = av_channel_layout_copy(&m_sound->ch_layout, &m_audio->ch_layout);
    if (rc < 0) return Fail("av_channel_layout_copy", rc);
    m_sound->nb_samples = m_audioFrameSize;
    rc = av_frame_get_buffer(m_sound, 0);
    if (rc < 0) return Fail("av_frame_get_buffer", rc);
    return true;
}

bool OutputFile::Send(bool video, const AVFrame* frame) {
    TheoraEncoder* theora = video ? m_theora.get() : nullptr;
    AVCodecContext* codec = video ? m_video : m_audio;
    int rc = theora ? theora->SendFrame(frame) : avcodec_send_frame(codec, frame);
    if (rc < 0) return theora ? Fail(theora->Error().c_str(), 0) : Fail("avcodec_send_frame", rc);
    for (;;) {
        rc = theora ? theora->ReceivePacket(m_packet) : avcodec_receive_packet(codec, m_packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0)
            return theora ? Fail(theora->Error().c_str(), 0) : Fail("avcodec_receive_packet", rc);
        if (!Write(video)) return false;
    }
}

bool OutputFile::Write(bool video) {
    AVStream* stream = video ? m_videoStream : m_audioStream;
    // Each picture lasts one step of the video time base.
    if (video && m_packet->pts != AV_NOPTS_VALUE)
        m_picturesEnd = std::max(m_picturesEnd, m_packet->pts + 1);
    av_packet_rescale_ts(m_packet, video ? m_videoTimeBase : m_audio->time_base, stream->time_base);
    m_packet->stream_index = stream->index;
    if (!m_soundWaits) {
        const int rc = av_interleaved_write_frame(m_format, m_packet);
        return rc < 0 ? Fail("av_interleaved_write_frame", rc) : true;
    }
    if (!video && !m_picturesDone) {
        AVPacket* held = av_packet_alloc();
        if (!held) return Fail("av_packet_alloc", AVERROR(ENOMEM));
        av_packet_move_ref(held, m_packet);
        m_heldSound.push_back(held);
        return true;
    }
    const int rc = av_write_frame(m_format, m_packet);
    av_packet_unref(m_packet);
    if (rc < 0) return Fail("av_write_frame", rc);
    return video ? WriteHeldSound() : true;
}

bool OutputFile::WriteHeldSound() {
    while (!m_heldSound.empty()) {
        AVPacket* p = m_heldSound.front();
        if (!m_picturesDone && p->pts != AV_NOPTS_VALUE &&
            av_compare_ts(m_picturesEnd, m_videoTimeBase, p->pts + p->duration,
                          m_audioStream->time_base) < 0)
            return true;
        m_heldSound.pop_front();
        const int rc = av_write_frame(m_format, p);
        av_packet_free(&p);
        if (rc < 0) return Fail("av_write_frame", rc);
    }
    return true;
}

bool OutputFile::AddPicture(const uint8_t* slot) {
    if (m_failed || m_videoEnded) return false;
    if (m_lendsSlots) return LendSlot(slot);
    int rc = av_frame_make_writable(m_picture);
    if (rc < 0) return Fail("av_frame_make_writable", rc);
    const int W = m_spec.width, H = m_spec.height;
    if (m_spec.pixelFormat == kPixYuv420) {
        // Y, then U, then V, each plane contiguous with no padding.
        const uint8_t* y = slot;
        const uint8_t* u = y + size_t(W) * H;
        const uint8_t* v = u + size_t(W / 2) * (H / 2);
        av_image_copy_plane(m_picture->data[0], m_picture->linesize[0], y, W, m_encodeWidth,
                            m_encodeHeight);
        av_image_copy_plane(m_picture->data[1], m_picture->linesize[1], u, W / 2, m_encodeWidth / 2,
                            m_encodeHeight / 2);
        av_image_copy_plane(m_picture->data[2], m_picture->linesize[2], v, W / 2, m_encodeWidth / 2,
                            m_encodeHeight / 2);
    } else {
        const uint8_t* planes[1] = {slot};
        const int strides[1] = {W * 4};
        sws_scale(m_sws, planes, strides, 0, m_encodeHeight, m_picture->data, m_picture->linesize);
    }
    m_picture->pts = m_videoFrames;
    return SendPicture();
}

bool OutputFile::RepeatPicture() {
    if (m_failed || m_videoEnded) return false;
    if (m_videoFrames == 0) return Fail("a repeat before any picture", 0);
    // The reader keeps the repeated picture's slot until the next picture.
    if (m_lendsSlots) return LendSlot(m_lentSlot);
    m_picture->pts = m_videoFrames;
    return SendPicture();
}

namespace {
void SlotReturned(void* returned, uint8_t*) {
    *static_cast<bool*>(returned) = true;
}
} // namespace

bool OutputFile::LendSlot(const uint8_t* slot) {
    const int W = m_spec.width, H = m_spec.height;
    av_frame_unref(m_picture);
    m_picture->format = AV_PIX_FMT_YUV420P;
    m_picture->width = W;
    m_picture->height = H;
    auto* y = const_cast<uint8_t*>(slot);
    m_slotReturned = false;
    m_picture->buf[0] = av_buffer_create(y, VideoFrameBytes(W, H, kPixYuv420), &SlotReturned,
                                         &m_slotReturned, AV_BUFFER_FLAG_READONLY);
    if (!m_picture->buf[0]) {
        m_slotReturned = true;
        return Fail("av_buffer_create", AVERROR(ENOMEM));
    }
    // Y, then U, then V, each plane contiguous with no padding.
    m_picture->data[0] = y;
    m_picture->data[1] = y + size_t(W) * H;
    m_picture->data[2] = m_picture->data[1] + size_t(W / 2) * (H / 2);
    m_picture->linesize[0] = W;
    m_picture->linesize[1] = m_picture->linesize[2] = W / 2;
    m_picture->pts = m_videoFrames;
    m_lentSlot = slot;
    const bool sent = SendPicture();
    // libtheora copies the picture region as it takes a picture, yet codes
    // the last one again when the stream ends on repeats of it: the frame
    // keeps the slot until the next picture. By the end nothing writes to
    // the slots any more, and before it a slot the producer reuses comes
    // back as a new picture, which replaces this one.
    if (m_theora) return sent;
    av_frame_unref(m_picture);
    // The reader hands the slot back to the decoder at its next read: an
    // encoder that still held it would encode another picture.
    if (sent && !m_slotReturned) return Fail("the video encoder kept a lent picture", 0);
    return sent;
}

bool OutputFile::SendPicture() {
    ++m_videoFrames;
    return Send(true, m_picture);
}

bool OutputFile::AddPcm(const uint8_t* pcm, size_t bytes) {
    if (m_failed || m_audioEnded || !m_audio) return false;
    const size_t frameBytes = size_t(2) * m_spec.channels;
    // Complete a sample frame split by the previous call first.
    if (!m_partial.empty()) {
        const size_t take = std::min(bytes, frameBytes - m_partial.size());
        m_partial.append(reinterpret_cast<const char*>(pcm), take);
        pcm += take;
        bytes -= take;
        if (m_partial.size() < frameBytes) return true;
        std::string whole;
        whole.swap(m_partial);
        if (!AddPcm(reinterpret_cast<const uint8_t*>(whole.data()), whole.size())) return false;
    }
    const int samples = int(bytes / frameBytes);
    const size_t used = size_t(samples) * frameBytes;
    if (bytes > used) m_partial.assign(reinterpret_cast<const char*>(pcm) + used, bytes - used);
    if (samples == 0) return true;

    if (!QueueConverted(pcm, samples)) return false;
    return EncodeFifo(false);
}

bool OutputFile::QueueConverted(const uint8_t* pcm, int samples) {
    if (!m_swr) {
        if (!pcm) return true;
        void* in[1] = {const_cast<uint8_t*>(pcm)};
        int rc = av_audio_fifo_write(m_fifo, in, samples);
        return rc < 0 ? Fail("av_audio_fifo_write", rc) : true;
    }
    const int room = swr_get_out_samples(m_swr, pcm ? samples : 0);
    if (room < 0) return Fail("swr_get_out_samples", room);
    if (room == 0) return true;
    uint8_t** converted = nullptr;
    int rc = av_samples_alloc_array_and_samples(&converted, nullptr, m_outChannels, room,
                                                m_audio->sample_fmt, 0);
    if (rc < 0) return Fail("av_samples_alloc_array_and_samples", rc);
    const uint8_t* in[1] = {pcm};
    const int n = swr_convert(m_swr, converted, room, pcm ? in : nullptr, pcm ? samples : 0);
    rc = n;
    if (n > 0) rc = av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(converted), n);
    av_freep(&converted[0]);
    av_freep(&converted);
    if (n < 0) return Fail("swr_convert", n);
    if (rc < 0) return Fail("av_audio_fifo_write", rc);
    return true;
}

bool OutputFile::EncodeFifo(bool flushAll) {
    for (;;) {
        const int available = av_audio_fifo_size(m_fifo);
        m_pendingSamples = available;
        if (available == 0 || (available < m_audioFrameSize && !flushAll)) return true;
        const int n = std::min(available, m_audioFrameSize);
        int rc = av_frame_make_writable(m_sound);
        if (rc < 0) return Fail("av_frame_make_writable", rc);
        rc = av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_sound->data), n);
        if (rc < n) return Fail("av_audio_fifo_read", rc < 0 ? rc : 0);
        m_sound->nb_samples = n;
        const bool shortFrameAllowed =
            m_audio->codec->capabilities &
            (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        if (n < m_audioFrameSize && !shortFrameAllowed) {
            // An encoder that takes whole frames only gets the tail padded
            // with silence (less than one frame).
            av_samples_set_silence(m_sound->data, n, m_audioFrameSize - n, m_outChannels,
                                   m_audio->sample_fmt);
            m_sound->nb_samples = m_audioFrameSize;
        }
        m_sound->pts = m_audioSamples;
        m_audioSamples += n;
        m_pendingSamples = available - n;
        if (!Send(false, m_sound)) return false;
    }
}

bool OutputFile::EndVideo() {
    if (m_failed) return false;
    if (m_videoEnded) return true;
    m_videoEnded = true;
    if (!Send(true, nullptr)) return false;
    m_picturesDone = true;
    return WriteHeldSound();
}

bool OutputFile::EndAudio() {
    if (m_failed) return false;
    if (m_audioEnded || !m_audio) return true;
    m_audioEnded = true;
    if (!m_partial.empty()) m_partial.clear();     // never a whole sample frame: dropped
    if (!QueueConverted(nullptr, 0)) return false; // the resampler's tail
    if (!EncodeFifo(true)) return false;
    return Send(false, nullptr);
}

bool OutputFile::Finish() {
    if (m_failed || !m_headerWritten) return false;
    if (!EndVideo() || !EndAudio()) return false;
    if (m_videoFrames == 0) return Fail("no picture reached the encoder", 0);
    int rc = av_write_trailer(m_format);
    if (rc < 0) return Fail("av_write_trailer", rc);
    if (m_format->pb->error < 0) return Fail("writing the file", m_format->pb->error);
    rc = avio_closep(&m_format->pb);
    if (rc < 0) return Fail("avio_closep", rc);
    Close();
    return true;
}

void OutputFile::Discard() {
    const bool created = m_format && m_format->pb;
    Close();
    if (created) unlink(m_spec.path.c_str());
}

void OutputFile::Close() {
    if (m_format) {
        if (m_format->pb) avio_closep(&m_format->pb);
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    avcodec_free_context(&m_video);
    m_theora.reset();
    avcodec_free_context(&m_audio);
    av_frame_free(&m_picture);
    av_frame_free(&m_sound);
    av_packet_free(&m_packet);
    sws_freeContext(m_sws);
    m_sws = nullptr;
    swr_free(&m_swr);
    if (m_fifo) av_audio_fifo_free(m_fifo);
    m_fifo = nullptr;
    for (AVPacket* p : m_heldSound)
        av_packet_free(&p);
    m_heldSound.clear();
}

} // namespace reelpage::enc
