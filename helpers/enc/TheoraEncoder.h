#pragma once
// Theora from libtheora itself rather than through FFmpeg's wrapper, which
// offers no way to set libtheora's speed level: Theora is by far the slowest
// of a job's encoders and sets the pace of the whole job. The packets go to
// FFmpeg's Ogg muxer like any encoder's, so the file is written as before.
//
// It follows FFmpeg's send/receive contract, so the output file drives it as
// it drives FFmpeg's encoders.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct AVFrame;
struct AVPacket;
struct th_enc_ctx;

namespace reelpage::enc {

struct TheoraSettings {
    int width = 0; // of the picture shown; the coded frame is rounded up to 16
    int height = 0;
    int frameRateNum = 0;
    int frameRateDen = 0;
    int64_t bitRate = 0;
    int keyframeInterval = 0; // at most this many frames from one keyframe to the next
    int speedLevel = 0;       // 0 slowest; see TheoraSpeedLevel()
};

class TheoraEncoder {
public:
    TheoraEncoder() = default;
    ~TheoraEncoder();
    TheoraEncoder(const TheoraEncoder&) = delete;
    TheoraEncoder& operator=(const TheoraEncoder&) = delete;

    // Sets up libtheora and makes the stream's headers. False with Error() set.
    bool Open(const TheoraSettings& settings);

    // The three header packets as FFmpeg's Ogg muxer takes them for a Theora
    // stream's extradata: each after its size in two bytes, big-endian.
    const std::vector<uint8_t>& Headers() const { return m_headers; }
    // The speed level libtheora works at, as it reports it; -1 before Open.
    int SpeedLevel() const;
    // libtheora's highest speed level for this stream; -1 before Open.
    int MaxSpeedLevel() const;

    // A picture of the settings' size in 4:2:0 (its planes may be larger:
    // only the picture is read), as the frame at picture->pts in frames;
    // null ends the stream. The last picture sent must stay as it is until
    // the end is sent (a stream that ends on repeats of it codes it once
    // more). 0, or a negative AVERROR with Error() set.
    int SendFrame(const AVFrame* picture);
    // 0 with the next packet in *packet (times in frames, one frame long),
    // AVERROR(EAGAIN) when the next picture is wanted, AVERROR_EOF after the
    // end, or another negative AVERROR with Error() set.
    int ReceivePacket(AVPacket* packet);

    const std::string& Error() const { return m_error; }

private:
    int Fail(const std::string& what, int code);
    int Encode(const AVFrame* picture, int64_t pts);
    // Moves the packets libtheora has made into m_packets.
    int TakePackets();

    th_enc_ctx* m_ctx = nullptr;
    TheoraSettings m_settings;
    std::vector<uint8_t> m_headers;
    int m_frameWidth = 0; // the coded frame
    int m_frameHeight = 0;
    int64_t m_nextPts = 0;           // of the next packet libtheora makes
    const AVFrame* m_last = nullptr; // the last picture sent
    std::deque<AVPacket*> m_packets; // made and not yet received, oldest first
    size_t m_ready = 0;              // how many of them may be received
    bool m_ended = false;
    std::string m_error;
};

} // namespace reelpage::enc
