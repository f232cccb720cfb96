#pragma once
// Decodes a video stream for a plug-in, doing only the work the plug-in's
// answers leave necessary.
//
// The plug-in is asked about each frame (GetFrameBuffer) in presentation
// order. Where the container gives every packet its timestamps, the question
// is put before the frame is decoded, as soon as no earlier frame can still
// turn up: a frame the plug-in skips and no other frame refers to is then
// never decoded, and when it skips every frame up to the next keyframe,
// decoding restarts at that keyframe. Otherwise frames are asked about as they
// come out of the decoder. Either way the plug-in sees the same questions, in
// the same order, with each frame's own time; a frame it takes is converted
// into its buffer and handed over before the next question.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>

#include "DisposableFrames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace dec {

// The stream's rate of pictures: its average, else the container's guess;
// 0/0 or worse when neither is known.
AVRational PictureRate(const AVStream* stream);

class VideoFeeder {
public:
    // GetFrameBuffer: 0 = take it into planes, 1 = skip, -1 = no more video.
    using AskFn = std::function<int(int64_t time, void* planes[3], int32_t strides[3])>;
    // Converts the frame into the planes and calls FrameReady.
    using DeliverFn = std::function<void(const AVFrame* frame, void* planes[3], int32_t strides[3],
                                         int64_t time)>;

    enum class Step { Worked, NeedPacket, Done };

    VideoFeeder() = default;
    ~VideoFeeder();
    VideoFeeder(const VideoFeeder&) = delete;
    VideoFeeder& operator=(const VideoFeeder&) = delete;

    // startUs: the media's start time; frame times count from it. threads:
    // decoding threads, 0 = one per core.
    bool Open(const AVStream* stream, int64_t startUs, AskFn ask, DeliverFn deliver,
              int threads = 0);
    const AVCodecContext* Codec() const { return m_pCodec; }
    // Who is asked and handed the frames from now on (a decoder taken over
    // from another owner).
    void SetCallbacks(AskFn ask, DeliverFn deliver) {
        m_Ask = std::move(ask);
        m_Deliver = std::move(deliver);
    }

    // Takes over a packet of this stream.
    void Push(AVPacket* packet);
    // Feeds at most one packet to the decoder and hands over what comes out.
    // eof: no more packets will be pushed (until a Reset).
    Step Work(bool eof);
    // After a seek: drops everything held; decoding starts again at the next
    // keyframe pushed.
    void Reset();

    // The plug-in wants no more video: packets are only looked at for times.
    bool Off() const { return m_bOff; }
    // The plug-in has handed out a buffer for a frame not decoded yet. Until
    // it is filled and handed back, nothing else may be asked of the plug-in
    // (its Poll might reallocate that buffer).
    bool Outstanding() const { return m_bOutstanding; }
    // Time of the last frame of the stream seen so far (microseconds), or 0.
    int64_t LastFrameTime() const;

    // What was done with the packets pushed (for the log).
    struct Counts {
        int pushed = 0;
        int decoded = 0;
        int restarts = 0; // times decoding skipped ahead to a keyframe
    };
    const Counts& Statistics() const { return m_Counts; }

private:
    struct Pending {
        AVPacket* packet = nullptr;
        int64_t pts = AV_NOPTS_VALUE;
        bool key = false;
        bool disposable = false;
        bool discard = false; // decoded for reference only, never shown
    };
    struct Asked {
        bool wanted = false;
        void* planes[3] = {};
        int32_t strides[3] = {};
    };
    enum class Status { None, Unasked, Declined, Wanted };

    int64_t Time(int64_t pts) const;
    bool Settled(int64_t pts) const;
    bool CanReadMore() const;
    Status StatusOf(const Pending& p) const;
    void AskEarly();
    void Ask(int64_t pts);
    bool TrySkipToKeyframe();
    bool SkipStillPossible() const;
    void Drop(Pending& p);
    void PopFront(bool drop);
    void Feed(Pending& p);
    void Receive();
    // One picture out of the decoder, if it has one; false when not.
    bool ReceiveOne();
    void Handle(AVFrame* frame);
    void TurnOff();
    void ClearQueue();

    AVCodecContext* m_pCodec = nullptr;
    AVFrame* m_pFrame = nullptr;
    AVRational m_TimeBase{1, 1};
    int64_t m_FrameDuration = 0;        // in m_TimeBase, 0 = unknown
    int64_t m_LastOut = AV_NOPTS_VALUE; // time of the last frame out of the decoder
    int64_t m_StartUs = 0;
    AskFn m_Ask;
    DeliverFn m_Deliver;
    DisposableFrames m_Disposable;

    std::deque<Pending> m_Queue; // read, not yet fed or dropped (decode order)
    size_t m_cbQueued = 0;
    std::map<int64_t, Asked> m_Asked;   // answers given before decoding
    std::set<int64_t> m_Unasked;        // read, not yet asked
    std::multiset<int64_t> m_InDecoder; // fed, not yet out
    bool m_bEarly = true;               // questions may come before decoding
    int64_t m_SettledBelow = INT64_MIN; // every frame before this has been read
    int64_t m_LastAsked = INT64_MIN;
    bool m_bOutstanding = false;      // a frame was taken and is not out yet
    int64_t m_DropBefore = INT64_MIN; // leading pictures of a restart point
    bool m_bAwaitKey = false;         // after a seek, until the first keyframe
    bool m_bEof = false;
    bool m_bDraining = false; // the decoder was told the end, pictures may still come
    bool m_bDrained = false;
    bool m_bOff = false;
    int64_t m_MaxPts = AV_NOPTS_VALUE;
    Counts m_Counts;
};

} // namespace dec
