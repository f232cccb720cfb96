#pragma once
// The clocks that pace a preview: the audio player, which counts time by the
// sound actually played, and the silent player, a timer of one video frame.
// Both run on the user-interface thread and drive the session through the
// same three callbacks.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reelpage/records.h"

class QAudioSink;
class QIODevice;

struct SwrContext;

namespace reelpage {

// What a clock tells its session; a non-zero answer stops the clock.
struct ClockCallbacks {
    std::function<int(int64_t timeUs)> tick;
    std::function<int(int32_t seconds)> second;
    std::function<int()> end; // audio player only: its data reached the end byte
};

// Where the audio player's bytes go: 16-bit interleaved PCM of the sample
// file's format. Bytes are played in the order written; the sink counts what
// has really been played.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    // Opens paused. False when this sink cannot play the format.
    virtual bool Open(int32_t sampleRate, int32_t channels) = 0;
    virtual void Write(const char* data, int64_t bytes) = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    // Drops everything not yet played; the played count starts again at 0.
    virtual void Reset() = 0;
    // Bytes (of the sample file's format) played since Open or the last
    // Reset; never more than were written.
    virtual int64_t PlayedBytes() = 0;
    // The device went away while open; the player moves to a paced sink.
    virtual bool Lost() const { return false; }
};

// Plays nothing and counts bytes at the byte rate of a monotonic clock while
// resumed; a starved sink does not count ahead of what it was given.
class PacedSink : public AudioSink {
public:
    bool Open(int32_t sampleRate, int32_t channels) override;
    void Write(const char* data, int64_t bytes) override;
    void Pause() override;
    void Resume() override;
    void Reset() override;
    int64_t PlayedBytes() override;

private:
    int64_t m_llByteRate = 0;
    int64_t m_llWritten = 0;
    int64_t m_llElapsedNs = 0; // played time before the current run
    bool m_bRunning = false;
    QElapsedTimer m_Run;
};

// Mixes 16-bit interleaved PCM of more than two channels down to stereo for
// a device that takes no more, the way the encoders mix the outputs: the
// sample file carries only the channel count, so the channels are taken in
// FFmpeg's default layout for it and folded by libswresample (centre and
// surrounds at -3 dB, the LFE left out), scaled to stay within full scale.
// Counts without a known layout have their even channels averaged to the
// left and the odd ones to the right.
class StereoMix {
public:
    StereoMix() = default;
    StereoMix(const StereoMix&) = delete;
    StereoMix& operator=(const StereoMix&) = delete;
    ~StereoMix();
    void Open(int32_t channels, int32_t sampleRate);
    // frames of the source's channels in, as many stereo frames out.
    void Mix(const char* in, int64_t frames, char* out);

private:
    SwrContext* m_pSwr = nullptr;
    int32_t m_nChannels = 0;
};

// The sound device through QAudioSink in push mode. Sources of more than two
// channels are mixed down to stereo for the device only; counts stay in the
// sample file's bytes.
class DeviceSink : public AudioSink {
public:
    ~DeviceSink() override;
    bool Open(int32_t sampleRate, int32_t channels) override;
    void Write(const char* data, int64_t bytes) override;
    void Pause() override;
    void Resume() override;
    void Reset() override;
    int64_t PlayedBytes() override;
    bool Lost() const override;

private:
    void Pump();
    bool StartStream();

    std::unique_ptr<QAudioSink> m_pSink;
    QIODevice* m_pDevice = nullptr;
    QByteArray m_Pending; // converted bytes the device has not taken yet
    StereoMix m_Mix;
    int32_t m_nSourceChannels = 0;
    int32_t m_nDeviceChannels = 0;
    int64_t m_llDeviceByteRate = 0;
    int64_t m_llWritten = 0;     // source bytes written since the last reset
    int64_t m_llDeviceWritten = 0; // device bytes handed to the device since then
    int64_t m_llBaseUSecs = 0;   // processedUSecs at the last reset
    bool m_bPaused = true;
    bool m_bLost = false;
};

// The sink a new audio player uses: the device, unless
// REELPAGE_AUDIO_SINK=paced asks for the paced sink or no device can play the
// format (the caller then takes a PacedSink).
std::unique_ptr<AudioSink> OpenAudioSink(int32_t sampleRate, int32_t channels);

// The audio clock of a session whose source has sound.
class AudioPlayer : public QObject {
public:
    AudioPlayer(int32_t frameRateNum, int32_t frameRateDen, ClockCallbacks callbacks,
                const MediaInfo* media);
    ~AudioPlayer() override;

    // Opens the sample file and the sink and primes the five buffers,
    // paused. 0, -1 (file, or a format without a byte rate) or E_FAIL (sink).
    int Start(const std::string& samplePath, std::unique_ptr<AudioSink> sink = nullptr);
    void Resume();
    void Pause();
    void Seek(int64_t timeUs);
    void SetEnd(int64_t timeUs);
    void BeginSeekDrag();
    void EndSeekDrag();

    int32_t State() const { return m_nState; }
    int64_t BufferSize() const { return m_llBufferSize; }
    int64_t ByteRate() const { return m_llByteRate; }
    int64_t EndByte() const { return m_llEndByte; }
    bool Ended() const { return m_bEnded; }
    // Playback has reached the end byte (the session's end test).
    bool PlayedToEnd() const { return m_bFinished; }
    const AudioSink* Sink() const { return m_pSink.get(); }

    // Runs "buffer done" for every buffer the sink has played (the poll
    // timer's work; tests drive it directly).
    void Poll();

private:
    struct Buffer {
        std::vector<char> data;
        int64_t dwUser = 0;  // stream position at the end of this buffer; 0 = idle
        int64_t sinkEnd = 0; // the sink's written count after this buffer
        bool queued = false;
    };
    void Fill(int index);
    void BufferDone(int index);
    void Stop();
    void ReplaceLostSink();

    int32_t m_FrameRateNum, m_FrameRateDen;
    ClockCallbacks m_Callbacks;
    const MediaInfo* m_pMediaInfo;
    int32_t m_nState = 2;
    int m_hFile = -1;
    std::unique_ptr<AudioSink> m_pSink;
    Buffer m_Headers[5];
    std::deque<int> m_Playing; // buffers in the sink, in the order written
    int64_t m_llSinkWritten = 0;
    int64_t m_llLastPlayed = 0; // the sink's played count at the last poll
    int64_t m_llBufferSize = 0;
    int64_t m_llBlockAlignMask = 0;
    int64_t m_llByteRate = 0;
    int64_t m_llQueued = 0;
    int64_t m_llEndByte = 0;
    int64_t m_llDataSize = 0;
    bool m_bFinished = false;
    bool m_bEnded = false;
    int64_t m_llLastSecond = 0;
    int32_t m_nStateBeforeDrag = 0;
    bool m_bSeekPending = false;
    int64_t m_llSeekTarget = 0;
    QTimer m_PollTimer;
};

// The clock of a session whose source has no sound: one tick per video
// frame, advancing by a whole number of milliseconds.
class MutePlayer : public QObject {
public:
    MutePlayer(int32_t frameRateNum, int32_t frameRateDen, ClockCallbacks callbacks);

    int Start();
    void Resume();
    void Pause();
    void Seek(int64_t timeUs) { m_llPosition = timeUs; }
    void BeginSeekDrag();
    void EndSeekDrag();

    int32_t State() const { return m_nState; }
    int64_t FrameDuration() const { return m_llFrameDuration; }
    int64_t Position() const { return m_llPosition; }
    int TimerInterval() const { return m_Timer.interval(); }
    bool TimerActive() const { return m_Timer.isActive(); }

    // One timer period (the timer's work; tests drive it directly).
    void OnTimer();

private:
    int32_t m_FrameRateNum, m_FrameRateDen;
    ClockCallbacks m_Callbacks;
    int32_t m_nState = 2;
    int64_t m_llLastSecond = -1;
    bool m_bSuspended = false;
    int64_t m_llPosition = 0;
    int64_t m_llFrameDuration = 0;
    QTimer m_Timer;
};

// Bytes of sound per video frame, a whole number of samples: the audio
// player's buffer size. One second when the frame rate is unknown or a
// frame is longer than that, one sample when a frame is shorter than a sample.
int64_t AudioBufferSize(int64_t byteRate, int32_t blockAlign, int32_t frameRateNum,
                        int32_t frameRateDen);
// The silent player's step in microseconds, whole milliseconds. One second
// when the frame rate is unknown, 1 ms at least.
int64_t MuteFrameDuration(int32_t frameRateNum, int32_t frameRateDen);

} // namespace reelpage
