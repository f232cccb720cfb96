#include "preview/AudioOutput.h"

#include "system/Log.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace reelpage {

namespace {

// The PCM data of a sample file starts after its 46-byte header.
constexpr int64_t kSampleHeader = 46;
constexpr int kBufferCount = 5;

int64_t UsToBytes(int64_t us, int64_t byteRate) {
    return int64_t(static_cast<unsigned __int128>(static_cast<uint64_t>(us)) *
                   static_cast<uint64_t>(byteRate) / 1000000u);
}

int64_t BytesToUs(int64_t bytes, int64_t byteRate) {
    return byteRate > 0 ? int64_t(__int128(bytes) * 1000000 / byteRate) : 0;
}

bool PacedSinkForced() {
    const char* v = std::getenv("REELPAGE_AUDIO_SINK");
    return v && std::strcmp(v, "paced") == 0;
}

} // namespace

int64_t AudioBufferSize(int64_t byteRate, int32_t blockAlign, int32_t frameRateNum,
                        int32_t frameRateDen) {
    if (byteRate <= 0 || blockAlign <= 0) return 0;
    uint64_t size;
    if (frameRateNum <= 0 || frameRateDen <= 0)
        size = uint64_t(byteRate);
    else
        size = uint64_t(frameRateDen) * uint64_t(byteRate) / uint64_t(frameRateNum);
    // A frame longer than a second is a damaged record (2147483647 s a frame
    // asked for five buffers of gigabytes): one second, as for no rate.
    size = std::min(size, uint64_t(byteRate));
    size -= size % uint64_t(blockAlign);
    // At a frame rate above the sample rate a frame holds less than a sample;
    // an empty buffer would never advance the clock.
    return std::max<int64_t>(int64_t(size), blockAlign);
}

int64_t MuteFrameDuration(int32_t frameRateNum, int32_t frameRateDen) {
    if (frameRateNum <= 0 || frameRateDen <= 0) return 1000000;
    const int64_t ms = int64_t(frameRateDen) * 1000 / frameRateNum;
    // Above 1000 frames a second a whole-millisecond step would be 0 and the
    // clock would never move.
    return std::max<int64_t>(ms, 1) * 1000;
}

StereoMix::~StereoMix() {
    swr_free(&m_pSwr);
}

void StereoMix::Open(int32_t channels, int32_t sampleRate) {
    swr_free(&m_pSwr);
    m_nChannels = channels;
    AVChannelLayout source{}, stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_default(&source, channels);
    if (source.order == AV_CHANNEL_ORDER_NATIVE &&
        swr_alloc_set_opts2(&m_pSwr, &stereo, AV_SAMPLE_FMT_S16, sampleRate, &source,
                            AV_SAMPLE_FMT_S16, sampleRate, 0, nullptr) >= 0 &&
        av_opt_set_double(m_pSwr, "rematrix_maxval", 1.0, 0) >= 0 && swr_init(m_pSwr) >= 0) {
        av_channel_layout_uninit(&source);
        return;
    }
    av_channel_layout_uninit(&source);
    swr_free(&m_pSwr);
}

void StereoMix::Mix(const char* in, int64_t frames, char* out) {
    if (m_pSwr) {
        // Same rate in and out: every frame comes out at once.
        while (frames > 0) {
            const int n = int(std::min<int64_t>(frames, INT_MAX / 16));
            const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(in)};
            uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out)};
            const int got = swr_convert(m_pSwr, dst, n, src, n);
            if (got < 0) {
                std::memset(out, 0, size_t(frames) * 4);
                return;
            }
            if (got < n) std::memset(out + int64_t(got) * 4, 0, size_t(n - got) * 4);
            in += int64_t(n) * 2 * m_nChannels;
            out += int64_t(n) * 4;
            frames -= n;
        }
        return;
    }
    for (int64_t f = 0; f < frames; ++f, in += 2 * m_nChannels, out += 4) {
        int32_t sum[2] = {0, 0}, count[2] = {0, 0};
        for (int32_t c = 0; c < m_nChannels; ++c) {
            int16_t v;
            std::memcpy(&v, in + 2 * c, sizeof v);
            sum[c & 1] += v;
            ++count[c & 1];
        }
        for (int side = 0; side < 2; ++side) {
            const int16_t v = int16_t(sum[side] / std::max(count[side], 1));
            std::memcpy(out + 2 * side, &v, sizeof v);
        }
    }
}

// ---- PacedSink --------------------------------------------------------------

bool PacedSink::Open(int32_t sampleRate, int32_t channels) {
    m_llByteRate = int64_t(sampleRate) * channels * 2;
    Reset();
    return m_llByteRate > 0;
}

void PacedSink::Write(const char*, int64_t bytes) { m_llWritten += bytes; }

void PacedSink::Pause() {
    if (!m_bRunning) return;
    m_llElapsedNs += m_Run.nsecsElapsed();
    m_bRunning = false;
}

void PacedSink::Resume() {
    if (m_bRunning) return;
    m_Run.start();
    m_bRunning = true;
}

void PacedSink::Reset() {
    m_llWritten = 0;
    m_llElapsedNs = 0;
    if (m_bRunning) m_Run.start();
}

int64_t PacedSink::PlayedBytes() {
    const int64_t ns = m_llElapsedNs + (m_bRunning ? m_Run.nsecsElapsed() : 0);
    const int64_t played = int64_t(__int128(ns) * m_llByteRate / 1000000000);
    if (played <= m_llWritten) return played;
    // Starved: time spent without data is not played time.
    m_llElapsedNs = m_llByteRate > 0 ? int64_t(__int128(m_llWritten) * 1000000000 / m_llByteRate) : 0;
    if (m_bRunning) m_Run.start();
    return m_llWritten;
}

// ---- DeviceSink -------------------------------------------------------------

DeviceSink::~DeviceSink() {
    if (m_pSink) m_pSink->stop();
}

bool DeviceSink::StartStream() {
    m_pDevice = m_pSink->start();
    if (!m_pDevice || m_pSink->error() != QAudio::NoError) {
        m_pDevice = nullptr;
        return false;
    }
    m_llBaseUSecs = m_pSink->processedUSecs();
    return true;
}

bool DeviceSink::Open(int32_t sampleRate, int32_t channels) {
    if (sampleRate <= 0 || channels <= 0) return false;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return false;
    m_nSourceChannels = channels;
    // Devices commonly refuse more than two channels; the mix-down is for
    // the device only.
    m_nDeviceChannels = std::min(channels, 2);
    if (channels > 2) m_Mix.Open(channels, sampleRate);
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(m_nDeviceChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return false;
    m_llDeviceByteRate = int64_t(sampleRate) * m_nDeviceChannels * 2;
    m_pSink = std::make_unique<QAudioSink>(device, format);
    // A short device buffer: the player keeps only five frames of sound
    // queued, and a device that waits for a long buffer to fill before it
    // starts would never start.
    m_pSink->setBufferSize(qsizetype(m_llDeviceByteRate / 10));
    // The stream starts with the first resume: a stream started and at once
    // suspended has been seen to stall for seconds when resumed.
    m_bPaused = true;
    if (!StartStream()) {
        m_pSink.reset();
        return false;
    }
    m_pSink->stop();
    m_pDevice = nullptr;
    return true;
}

void DeviceSink::Write(const char* data, int64_t bytes) {
    m_llWritten += bytes;
    if (m_nDeviceChannels == m_nSourceChannels) {
        m_Pending.append(data, qsizetype(bytes));
    } else {
        const int64_t frames = bytes / (2 * m_nSourceChannels);
        const qsizetype start = m_Pending.size();
        m_Pending.resize(start + qsizetype(frames * 4));
        m_Mix.Mix(data, frames, m_Pending.data() + start);
    }
    Pump();
}

void DeviceSink::Pump() {
    if (!m_pDevice || m_Pending.isEmpty()) return;
    const qsizetype free = m_pSink->bytesFree();
    if (free <= 0) return;
    const qint64 n = m_pDevice->write(m_Pending.constData(), std::min(free, m_Pending.size()));
    if (n > 0) {
        m_Pending.remove(0, qsizetype(n));
        m_llDeviceWritten += n;
    }
}

void DeviceSink::Pause() {
    m_bPaused = true;
    if (m_pDevice) m_pSink->suspend();
}

void DeviceSink::Resume() {
    m_bPaused = false;
    if (!m_pSink) return;
    if (!m_pDevice) {
        if (!StartStream()) m_bLost = true;
    } else {
        m_pSink->resume();
    }
    Pump();
}

void DeviceSink::Reset() {
    m_Pending.clear();
    m_llWritten = 0;
    m_llDeviceWritten = 0;
    if (m_pDevice) m_pSink->stop();
    m_pDevice = nullptr;
    if (!m_bPaused && m_pSink && !StartStream()) m_bLost = true;
}

int64_t DeviceSink::PlayedBytes() {
    if (!m_pSink || !m_pDevice) return 0;
    Pump();
    // The sound server's own count of what it has played: what still waits
    // in the sink's buffer has never been counted, so it is not taken off.
    const int64_t given = UsToBytes(std::max<int64_t>(0, m_pSink->processedUSecs() - m_llBaseUSecs),
                                    m_llDeviceByteRate);
    const int64_t frames = given / (2 * m_nDeviceChannels);
    return std::min(frames * 2 * m_nSourceChannels, m_llWritten);
}

bool DeviceSink::Lost() const {
    if (m_bLost || !m_pSink) return true;
    const QAudio::Error e = m_pSink->error();
    if (e == QAudio::FatalError || e == QAudio::OpenError) return true;
    // A stream this sink started and never stopped has ended by itself.
    return m_pDevice && m_pSink->state() == QAudio::StoppedState;
}

std::unique_ptr<AudioSink> OpenAudioSink(int32_t sampleRate, int32_t channels) {
    if (!PacedSinkForced()) {
        auto device = std::make_unique<DeviceSink>();
        if (device->Open(sampleRate, channels)) return device;
        LogWrite(kLogInfo, "No sound device for %d Hz, %d channels; the preview plays silently\n",
                 sampleRate, channels);
    }
    auto paced = std::make_unique<PacedSink>();
    if (!paced->Open(sampleRate, channels)) return nullptr;
    return paced;
}

// ---- AudioPlayer ------------------------------------------------------------

AudioPlayer::AudioPlayer(int32_t frameRateNum, int32_t frameRateDen, ClockCallbacks callbacks,
                         const MediaInfo* media)
    : m_FrameRateNum(frameRateNum), m_FrameRateDen(frameRateDen),
      m_Callbacks(std::move(callbacks)), m_pMediaInfo(media) {
    m_PollTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_PollTimer, &QTimer::timeout, this, [this] { Poll(); });
}

AudioPlayer::~AudioPlayer() {
    m_PollTimer.stop();
    m_pSink.reset();
    if (m_hFile >= 0) ::close(m_hFile);
}

int AudioPlayer::Start(const std::string& samplePath, std::unique_ptr<AudioSink> sink) {
    m_hFile = ::open(samplePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_hFile < 0) {
        LogWritePlain("Faild(%d) to create file\n", errno);
        return -1;
    }
    struct stat st {};
    const int64_t fileSize = ::fstat(m_hFile, &st) == 0 ? int64_t(st.st_size) : 0;
    if (fileSize < kSampleHeader) {
        LogWritePlain("Error file, size=%lld\n", static_cast<long long>(fileSize));
        return -1;
    }
    m_llDataSize = m_llEndByte = fileSize - kSampleHeader;
    ::lseek(m_hFile, kSampleHeader, SEEK_SET);

    const int32_t channels = m_pMediaInfo ? m_pMediaInfo->m_nChannel : 0;
    const int32_t rate = m_pMediaInfo ? m_pMediaInfo->m_SampleRate : 0;
    const int32_t blockAlign = channels * 2;
    m_llByteRate = int64_t(rate) * blockAlign;
    if (m_llByteRate <= 0 || channels <= 0) {
        // Every time the clock reports is divided by the byte rate.
        LogWritePlain("Error audio format, rate=%d, channels=%d\n", rate, channels);
        return -1;
    }
    m_llBlockAlignMask = -int64_t(blockAlign);

    if (sink && !sink->Open(rate, channels)) sink.reset();
    else if (!sink) sink = OpenAudioSink(rate, channels);
    m_pSink = std::move(sink);
    if (!m_pSink) {
        LogWritePlain("Faild(%d) to waveOutOpen", -1);
        return E_FAIL;
    }
    m_pSink->Pause();

    m_llBufferSize = AudioBufferSize(m_llByteRate, blockAlign, m_FrameRateNum, m_FrameRateDen);
    const int64_t bufferMs = m_llBufferSize * 1000 / m_llByteRate;
    m_PollTimer.setInterval(int(std::clamp<int64_t>(bufferMs / 8, 1, 5)));
    for (int i = 0; i < kBufferCount; ++i) {
        m_Headers[i].data.assign(size_t(m_llBufferSize), 0);
        Fill(i);
    }
    m_nState = 2;
    return 0;
}

void AudioPlayer::Fill(int index) {
    Buffer& b = m_Headers[index];
    size_t got = 0;
    while (got < b.data.size()) {
        const ssize_t n = ::read(m_hFile, b.data.data() + got, b.data.size() - got);
        if (n > 0) {
            got += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break; // the end, or an error: the rest is silence
        }
    }
    std::fill(b.data.begin() + ptrdiff_t(got), b.data.end(), 0);
    m_llQueued += m_llBufferSize;
    b.dwUser = m_llQueued;
    m_pSink->Write(b.data.data(), m_llBufferSize);
    m_llSinkWritten += m_llBufferSize;
    b.sinkEnd = m_llSinkWritten;
    b.queued = true;
    m_Playing.push_back(index);
}

void AudioPlayer::Poll() {
    if (!m_pSink) return;
    if (m_pSink->Lost()) ReplaceLostSink();
    const int64_t played = m_pSink->PlayedBytes();
    m_llLastPlayed = played;
    while (m_nState == 1 && !m_Playing.empty() && m_Headers[m_Playing.front()].sinkEnd <= played) {
        const int index = m_Playing.front();
        m_Playing.pop_front();
        m_Headers[index].queued = false;
        BufferDone(index);
    }
}

void AudioPlayer::BufferDone(int index) {
    Buffer& b = m_Headers[index];
    const int64_t p = b.dwUser;
    b.dwUser = 0;
    if (m_nState != 1 || p == 0) return;
    if (!m_bEnded && p > m_llEndByte) {
        m_bEnded = m_bFinished = true;
        if (m_Callbacks.end && m_Callbacks.end()) {
            Stop();
            return;
        }
    }
    if (m_Callbacks.tick && m_Callbacks.tick(BytesToUs(p, m_llByteRate))) {
        Stop();
        return;
    }
    const int64_t s = p / m_llByteRate;
    if (s != m_llLastSecond) {
        m_llLastSecond = s;
        if (m_Callbacks.second && m_Callbacks.second(int32_t(s))) {
            Stop();
            return;
        }
    }
    Fill(index);
}

void AudioPlayer::Stop() {
    if (m_nState == 1) {
        m_nState = 2;
        m_pSink->Pause();
        m_PollTimer.stop();
    }
    m_llSeekTarget = 0;
    m_bSeekPending = true;
}

void AudioPlayer::Resume() {
    if (m_nState != 2 || !m_pSink) return;
    if (m_bSeekPending) {
        m_bSeekPending = false;
        m_bFinished = m_bEnded = false;
        const int64_t position = UsToBytes(std::max<int64_t>(m_llSeekTarget, 0), m_llByteRate) &
                                 m_llBlockAlignMask;
        m_llQueued = position;
        ::lseek(m_hFile, kSampleHeader + position, SEEK_SET);
        m_pSink->Reset();
        m_llSinkWritten = 0;
        m_llLastPlayed = 0;
        m_Playing.clear();
        for (Buffer& b : m_Headers) {
            b.dwUser = 0;
            b.queued = false;
        }
    }
    for (int i = 0; i < kBufferCount; ++i)
        if (!m_Headers[i].queued) Fill(i);
    m_pSink->Resume();
    m_nState = 1;
    m_PollTimer.start();
}

void AudioPlayer::Pause() {
    m_nState = 2;
    if (m_pSink) m_pSink->Pause();
    m_PollTimer.stop();
}

void AudioPlayer::Seek(int64_t timeUs) {
    m_llSeekTarget = timeUs;
    m_bSeekPending = true;
}

void AudioPlayer::SetEnd(int64_t timeUs) {
    m_llEndByte = timeUs == 0 ? m_llDataSize : UsToBytes(std::max<int64_t>(timeUs, 0), m_llByteRate);
}

void AudioPlayer::BeginSeekDrag() {
    m_nStateBeforeDrag = m_nState;
    if (m_nState == 1) {
        m_nState = 2;
        m_pSink->Pause();
        m_PollTimer.stop();
    }
}

void AudioPlayer::EndSeekDrag() {
    const bool wasPlaying = m_nStateBeforeDrag == 1;
    m_nStateBeforeDrag = 0;
    if (wasPlaying) Resume();
}

void AudioPlayer::ReplaceLostSink() {
    // Go on from what was really heard, without the device.
    // A lost device's own counts are not to be trusted any more.
    const int64_t unplayed = m_llSinkWritten - m_llLastPlayed;
    const int64_t position = std::max<int64_t>(0, m_llQueued - unplayed);
    LogWrite(kLogError, "The sound device was lost; the preview plays on without sound\n");
    auto paced = std::make_unique<PacedSink>();
    paced->Open(m_pMediaInfo->m_SampleRate, m_pMediaInfo->m_nChannel);
    m_pSink = std::move(paced);
    const bool playing = m_nState == 1;
    m_nState = 2;
    m_llSeekTarget = BytesToUs(position, m_llByteRate);
    m_bSeekPending = true;
    if (playing) Resume();
}

// ---- MutePlayer -------------------------------------------------------------

MutePlayer::MutePlayer(int32_t frameRateNum, int32_t frameRateDen, ClockCallbacks callbacks)
    : m_FrameRateNum(frameRateNum), m_FrameRateDen(frameRateDen),
      m_Callbacks(std::move(callbacks)) {
    m_Timer.setTimerType(Qt::PreciseTimer);
    connect(&m_Timer, &QTimer::timeout, this, [this] { OnTimer(); });
}

int MutePlayer::Start() {
    m_llFrameDuration = MuteFrameDuration(m_FrameRateNum, m_FrameRateDen);
    m_Timer.setInterval(int(m_llFrameDuration / 1000));
    m_nState = 2;
    return 0;
}

void MutePlayer::Resume() {
    m_nState = 1;
    m_Timer.start();
}

void MutePlayer::Pause() {
    m_nState = 2;
    m_Timer.stop();
}

void MutePlayer::BeginSeekDrag() {
    if (m_nState != 1) return;
    m_bSuspended = true;
    m_Timer.stop();
}

void MutePlayer::EndSeekDrag() {
    if (!m_bSuspended) return;
    m_bSuspended = false;
    m_Timer.start();
}

void MutePlayer::OnTimer() {
    // A period that was due when the clock stopped is not a tick.
    if (m_nState != 1 || m_bSuspended) return;
    m_llPosition += m_llFrameDuration;
    if (m_Callbacks.tick && m_Callbacks.tick(m_llPosition) && m_nState == 1) Pause();
    const int64_t s = m_llPosition / 1000000;
    if (s != m_llLastSecond) {
        m_llLastSecond = s;
        if (m_Callbacks.second && m_Callbacks.second(int32_t(s)) && m_nState == 1) Pause();
    }
}

} // namespace reelpage
