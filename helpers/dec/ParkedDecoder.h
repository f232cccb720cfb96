#pragma once
// A second opening of the file that makes its way to one time on a thread of
// its own, at low priority, and waits there with the pictures around that
// time decoded. A preview has it wait at the clip start while playback runs,
// so that the next play from the clip start continues from it at once instead
// of decoding again from the keyframe before the clip start.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "VideoFeeder.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace dec {

// Seeks the file to targetUs (counted from startUs, the media's start) on the
// video stream and hands the packets read to find out where it landed to
// dispatch. False when the container refused the seek.
bool SeekStream(AVFormatContext* format, int videoIndex, int64_t startUs, int64_t targetUs,
                const std::function<void(AVPacket*)>& dispatch);

// A decoded picture kept for later, with its time.
class HeldFrame {
public:
    HeldFrame(AVFrame* frame, int64_t time) : m_pFrame(frame), m_llTime(time) {}
    ~HeldFrame() { av_frame_free(&m_pFrame); }
    HeldFrame(HeldFrame&& other) noexcept
        : m_pFrame(std::exchange(other.m_pFrame, nullptr)), m_llTime(other.m_llTime) {}
    HeldFrame& operator=(HeldFrame&& other) noexcept {
        std::swap(m_pFrame, other.m_pFrame);
        m_llTime = other.m_llTime;
        return *this;
    }
    const AVFrame* Frame() const { return m_pFrame; }
    int64_t Time() const { return m_llTime; }

private:
    AVFrame* m_pFrame;
    int64_t m_llTime;
};

class ParkedDecoder {
public:
    // What a decoder that takes over gets, and what it leaves behind in
    // exchange (freed with this object).
    struct Opening {
        AVFormatContext* format = nullptr;
        AVPacket* packet = nullptr;
        std::unique_ptr<VideoFeeder> video;
        int64_t startUs = 0;
        bool eof = false;
        // The pictures from just before the time to the first one after it,
        // in order; the decoder goes on after the last of them.
        std::deque<HeldFrame> held;
    };

    // Starts on the file's stream videoIndex, whose codec must be codec.
    ParkedDecoder(const std::string& file, int videoIndex, AVCodecID codec, int64_t targetUs);
    ~ParkedDecoder();
    ParkedDecoder(const ParkedDecoder&) = delete;
    ParkedDecoder& operator=(const ParkedDecoder&) = delete;

    int64_t Target() const { return m_llTarget; }
    // It holds the picture after the time (or met the end of the file).
    bool HasArrived() const { return m_bArrived; }
    // Asks the work to stop at the next picture boundary, without waiting.
    void RequestStop() { m_bStop = true; }
    // The work has stopped: destroying it no longer waits.
    bool Stopped() const { return m_bStopped; }
    // Stops the work at the next picture boundary (a taker continues it);
    // true when the opening can take over: the file opened and the seek
    // done. Its pieces are then in Taken().
    bool Finish();
    Opening& Taken() { return m_Opening; }

private:
    void Run();
    void Work();
    bool OpenAndSeek();
    bool Arrived() const;
    // The parked stream's packets go to its decoder; the others are dropped.
    void Dispatch(AVPacket* packet);

    const std::string m_szFile;
    const int m_nVideo;
    const AVCodecID m_Codec;
    const int64_t m_llTarget;
    int64_t m_llFrameUs = 40000;
    Opening m_Opening;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bArrived{false};
    std::atomic<bool> m_bStopped{false};
    bool m_bUsable = false;
    std::thread m_Thread;
};

} // namespace dec
