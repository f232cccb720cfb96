#pragma once
// One run of the decoder helper: opens the media file named in the launch
// block and drives the plug-in's callbacks in the order plug-ins rely on
// (stream properties, format, start position, then the loop of Poll, frames
// and audio, and the end of the stream).
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "AudioDecoder.h"
#include "AudioReader.h"
#include "FrameConverter.h"
#include "ParkedDecoder.h"
#include "VideoFeeder.h"
#include "reelpage/plugin.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace dec {

// The width the stream's pictures are shown at: the stored width stretched
// by the sample aspect ratio (container's or codec's), so that pixels come
// out square.
int DisplayWidth(AVFormatContext* format, const AVStream* stream);

class DecodeSession {
public:
    // videoThreads > 0 fixes the video decoder's threads; 0 leaves them to
    // the session's kind (a probe's own rule, else FFmpeg's choice). Without
    // sound the sound stream is still reported but never read or decoded.
    DecodeSession(const reelpage::PluginCallbacks& plugin, const reelpage::HelperLaunch& launch,
                  int videoThreads = 0, bool sound = true);
    ~DecodeSession();
    DecodeSession(const DecodeSession&) = delete;
    DecodeSession& operator=(const DecodeSession&) = delete;

    // Runs until the plug-in is done with the file. Returns the helper's exit
    // code: 0 once the plug-in has had its last word (OpenFailed, or
    // EndOfStream answering -1).
    int Run();

private:
    bool Open();
    void ReportStreams();
    void NegotiateFormat();
    // Where the container keeps no rate for the sound (Vorbis in Matroska):
    // its compressed bytes over its length, told to the plug-in again at the
    // end of an import, which has then read every packet.
    void ReportMeasuredAudioRate();
    void Loop();
    bool ReadPacket();
    void Dispatch(AVPacket* packet);
    void Seek(int64_t targetUs);
    // A second decoder makes its way to targetUs and waits there.
    void Park(int64_t targetUs);
    bool OneThreadKeepsPace() const;
    void Unpark();
    // The parked decoder, stopped, replaces this one; its held pictures are
    // offered first.
    void TakeOver(ParkedDecoder& parked);
    // Offers the first held picture to the plug-in.
    void OfferHeld();
    VideoFeeder::AskFn AskCallback();
    VideoFeeder::DeliverFn DeliverCallback();
    void DeliverAudio(const uint8_t* pcm, int bytes);
    // The sound's rate and channel count as the plug-in is told them.
    int AudioRate() const;
    int AudioChannels() const;
    int AskFrame(int64_t time, void* planes[3], int32_t strides[3]);
    void DeliverFrame(const AVFrame* frame, void* planes[3], int32_t strides[3], int64_t time);

    const reelpage::PluginCallbacks& m_Plugin;
    std::string m_szFile;
    bool m_bMediaInfo = false;
    bool m_bRateReported = false;
    int64_t m_llStart = 0;
    int m_nVideoThreads = 0;
    bool m_bSound = true;

    AVFormatContext* m_pFormat = nullptr;
    AVPacket* m_pPacket = nullptr;
    int64_t m_StartUs = 0;
    int m_nVideo = -1;
    int m_nAudio = -1;
    int m_nRotation = 0;
    std::unique_ptr<VideoFeeder> m_pVideo;
    std::unique_ptr<AudioDecoder> m_pAudio; // audio decoded from this opening
    std::unique_ptr<AudioReader> m_pReader; // or from an opening of its own
    FrameConverter m_Converter;
    bool m_bDeliverVideo = false; // the plug-in named a format frames can be put in
    bool m_bEof = false;
    std::unique_ptr<ParkedDecoder> m_pParked;
    // One that was not there yet when its time was asked for, stopping.
    std::unique_ptr<ParkedDecoder> m_pRetired;
    // The time a decoder is to be parked at once the retired one has
    // stopped, or -1.
    int64_t m_llPendingPark = -1;
    bool m_bToldNotParked = false;
    // Pictures decoded by a parked decoder before it took over, not yet
    // offered to the plug-in: they come before anything the decoder gives.
    std::deque<HeldFrame> m_Held;
};

} // namespace dec
