#pragma once
// Decodes one audio stream to what plug-ins receive: interleaved signed
// 16-bit samples at the stream's own rate and channel count.
#include <cstdint>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

namespace dec {

class AudioDecoder {
public:
    using Sink = std::function<void(const uint8_t* pcm, int bytes)>;

    AudioDecoder() = default;
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Opens the decoder; the output rate and channel count are those the
    // parameters declare (what the plug-in is told).
    bool Open(const AVCodecParameters* parameters);
    int SampleRate() const { return m_nRate; }
    int Channels() const { return m_nChannels; }

    // Decodes one packet; the PCM goes to the sink.
    void Decode(const AVPacket* packet, const Sink& sink);
    // End of the stream: what the decoder and the resampler still hold.
    void Drain(const Sink& sink);
    // After a seek: forget everything buffered.
    void Reset();
    // Compressed bytes of every packet given to Decode: with the stream's
    // length, its rate where the container keeps none.
    int64_t PacketBytes() const { return m_llPacketBytes; }

private:
    void Receive(const Sink& sink);
    bool Convert(const AVFrame* frame, const Sink& sink);

    AVCodecContext* m_pCodec = nullptr;
    SwrContext* m_pSwr = nullptr;
    AVFrame* m_pFrame = nullptr;
    int m_nRate = 0;
    int m_nChannels = 0;
    int64_t m_llPacketBytes = 0;
    // What the resampler was set up for; a change sets it up again.
    int m_nInRate = 0;
    int m_nInFormat = -1;
    AVChannelLayout m_InLayout{};
    std::vector<uint8_t> m_Buffer;
};

} // namespace dec
