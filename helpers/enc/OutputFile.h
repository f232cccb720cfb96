#pragma once
// One output file: the container, the video encoder fed with pictures from
// the frame slots, and the audio encoder fed with 16-bit PCM.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;
struct AVAudioFifo;

namespace reelpage::enc {

class TheoraEncoder;

struct OutputSpec {
    std::string path;
    std::string container;  // "webm", "mp4", "ogg"
    std::string videoCodec; // the task's names
    std::string audioCodec;
    int pixelFormat = 0; // layout of a slot: kPixYuv420 or kPixBgra
    int width = 0;       // of a slot
    int height = 0;
    int frameRateNum = 0;
    int frameRateDen = 0;
    int64_t videoBitRate = 0; // the source's; 0 = unknown
    bool audio = false;
    int sampleRate = 0; // of the PCM handed to AddPcm
    int channels = 0;
    int64_t audioBitRate = 0;
};

class OutputFile {
public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Sets up the encoders and writes the header. False with Error() set.
    bool Open(const OutputSpec& out);

    // The picture of one slot, as the next output frame.
    bool AddPicture(const uint8_t* slot);
    // The last picture again, as the next output frame.
    bool RepeatPicture();
    // Interleaved 16-bit PCM of any length (sample frames may be split
    // between calls).
    bool AddPcm(const uint8_t* pcm, size_t bytes);
    bool EndVideo();
    bool EndAudio();

    // Writes the index and closes the file; true only when every step of the
    // whole file succeeded and at least one picture was written.
    bool Finish();
    // Closes and deletes whatever was written.
    void Discard();

    int64_t VideoFrames() const { return m_videoFrames; }
    int64_t AudioSamples() const { return m_audioSamples + m_pendingSamples; }
    // Seconds of video and audio handed to the encoders.
    double VideoSeconds() const;
    double AudioSeconds() const;
    bool HasAudio() const { return m_audio != nullptr; }
    // The speed level libtheora encodes at, as it reports it; -1 for an
    // output without Theora.
    int TheoraSpeedLevel() const;
    const std::string& Error() const { return m_error; }

private:
    bool Fail(const char* what, int code);
    bool OpenVideo(const OutputSpec& out);
    // The Theora encoder and its stream, in place of an FFmpeg encoder's.
    bool OpenTheora(int64_t bitRate);
    bool OpenAudio(const OutputSpec& out);
    // Hands a frame (null: the end) to the video or the audio encoder and
    // writes the packets it gives back.
    bool Send(bool video, const AVFrame* frame);
    // Puts m_packet, fresh from the encoder, into the file (or, for sound
    // that waits for the pictures, into m_heldSound).
    bool Write(bool video);
    // Writes the held sound the pictures in the file now cover; all of it
    // once the pictures have ended.
    bool WriteHeldSound();
    // Hands m_picture to the video encoder as the next output frame.
    bool SendPicture();
    // Hands the slot itself to the video encoder as the next output frame
    // (when m_lendsSlots), and checks that it was given back.
    bool LendSlot(const uint8_t* slot);
    bool EncodeFifo(bool flushAll);
    // Converts PCM of the source's format for the encoder and queues it;
    // null input drains what the resampler still holds.
    bool QueueConverted(const uint8_t* pcm, int samples);
    void Close();

    OutputSpec m_spec;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_video = nullptr; // null when m_theora encodes the pictures
    std::unique_ptr<TheoraEncoder> m_theora;
    AVRational m_videoTimeBase{0, 1}; // one step per frame
    AVCodecContext* m_audio = nullptr;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    AVFrame* m_picture = nullptr;
    // The video encoders copy each picture into frames of their own as they
    // take it: a 4:2:0 slot of even sides is lent to them as it is, without
    // a copy of its own (m_picture then has no buffer of its own).
    bool m_lendsSlots = false;
    const uint8_t* m_lentSlot = nullptr; // the last slot lent, for a repeat
    bool m_slotReturned = true;          // the encoder let go of the lent slot
    AVFrame* m_sound = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_sws = nullptr;
    SwrContext* m_swr = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    std::string m_partial; // bytes of a sample frame split between calls
    int m_encodeWidth = 0;
    int m_encodeHeight = 0;
    int m_audioFrameSize = 0;
    int m_outRate = 0; // what the audio encoder gets
    int m_outChannels = 0;
    int64_t m_videoFrames = 0;
    int64_t m_audioSamples = 0;        // handed to the audio encoder
    int64_t m_pendingSamples = 0;      // waiting in the fifo
    bool m_soundWaits = false;         // see SoundWaitsForPictures()
    std::deque<AVPacket*> m_heldSound; // in m_audioStream's time base
    int64_t m_picturesEnd = 0;         // of those in the file, in m_videoTimeBase
    bool m_picturesDone = false;       // the video encoder is drained
    bool m_headerWritten = false;
    bool m_videoEnded = false;
    bool m_audioEnded = false;
    bool m_failed = false;
    std::string m_error;
};

} // namespace reelpage::enc
