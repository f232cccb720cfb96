#pragma once
// The producing side of an encoding job, played by a test: the blocks the
// engine creates for each encoder, the encoder processes, frames queued the
// way the encoding plug-in queues them and PCM fed the way the engine's audio
// thread feeds it. The test process is the router's engine side, so the
// encoders' messages reach a window of the test.
#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/interlocked.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"
#include "reelpage/messages.h"

namespace stream_test {

using namespace reelpage;

struct Output {
    std::string container, videoCodec, audioCodec, file;
};

struct Message {
    uint32_t msg;
    int64_t wParam;
};

class Producer {
public:
    Producer(int width, int height, int pixelFormat, int fpsNum, int fpsDen, bool audio = false,
             int sampleRate = 44100, int channels = 2)
        : m_width(width), m_height(height), m_pixelFormat(pixelFormat), m_fpsNum(fpsNum),
          m_fpsDen(fpsDen), m_audio(audio), m_rate(sampleRate), m_channels(channels) {
        platform::RouterInit();
        m_window = platform::RouterCreateWindow(
            [this](uint32_t, uint32_t msg, int64_t w, int64_t) -> int64_t {
                m_messages.push_back({msg, w});
                return 0;
            });
    }
    ~Producer() {
        for (Encoder& e : m_encoders) {
            if (e.process >= 0) {
                platform::TerminateHelper(e.process, -1);
                platform::WaitForHandle(e.process, 5000);
                platform::CloseHelperHandle(e.process);
            }
            platform::CloseEvent(Video(e)->m_hFrameEvent);
            platform::CloseEvent(Video(e)->m_hSlotEvent);
            if (e.audio.view) {
                platform::CloseEvent(Audio(e)->m_hDataEvent);
                platform::CloseEvent(Audio(e)->m_hSpaceEvent);
            }
            platform::CloseSharedBlock(&e.video);
            platform::CloseSharedBlock(&e.audio);
            platform::CloseSharedBlock(&e.task);
        }
        platform::RouterDestroyWindow(m_window);
    }

    size_t FrameBytes() const { return VideoFrameBytes(m_width, m_height, m_pixelFormat); }

    // Creates the blocks of the next encoder and starts it. With tweak the
    // test may spoil the task before the encoder sees it.
    void Start(const Output& out, const std::function<void(EncoderTask&)>& tweak = {}) {
        const int k = int(m_encoders.size());
        Encoder e;
        ASSERT_EQ(platform::CreateSharedBlock(k == 0 ? VideoStreamBlockSize(FrameBytes())
                                                     : kSharedVideoBlockSize,
                                              true, &e.video),
                  0);
        Video(e)->m_hFrameEvent = platform::CreateEvent(true);
        Video(e)->m_hSlotEvent = platform::CreateEvent(true);
        if (m_audio) {
            ASSERT_EQ(platform::CreateSharedBlock(
                          k == 0 ? kAudioStreamBlockSize : kSharedAudioBlockSize, true, &e.audio),
                      0);
            Audio(e)->m_hDataEvent = platform::CreateEvent(true);
            Audio(e)->m_hSpaceEvent = platform::CreateEvent(true);
        }
        ASSERT_EQ(platform::CreateSharedBlock(sizeof(EncoderTask), true, &e.task), 0);
        auto* t = static_cast<EncoderTask*>(e.task.view);
        platform::WStrCopy(t->m_szFileName, platform::FromUtf8(out.file));
        platform::WStrCopy(t->m_szFormat, platform::FromUtf8(out.container));
        platform::WStrCopy(t->m_szVideoCodec, platform::FromUtf8(out.videoCodec));
        t->m_PixelFormat = m_pixelFormat;
        t->m_VideoBitRate = 0;
        t->m_FrameRateNum = m_fpsNum;
        t->m_FrameRateDen = m_fpsDen;
        t->m_Width = m_width;
        t->m_Height = m_height;
        if (m_audio) {
            platform::WStrCopy(t->m_szAudioCodec, platform::FromUtf8(out.audioCodec));
            t->m_AudioBitRate = 128000;
            t->m_SampleRate = m_rate;
            t->m_nChannel = m_channels;
        } else {
            t->m_bNoAudio = 1;
        }
        t->m_hVideoStream = e.video.handle;
        t->m_hAudioStream = m_audio ? e.audio.handle : 0;
        if (k > 0) {
            t->m_hSharedVideo = m_encoders[0].video.handle;
            t->m_nSharedVideoOffset = int32_t(kVideoSlotsOffset);
            if (m_audio) {
                t->m_hSharedAudio = m_encoders[0].audio.handle;
                t->m_nSharedAudioOffset = int32_t(kAudioRingOffset);
            }
        }
        t->m_nAudioRingSize = kAudioRingSize;
        t->m_hwndMessage = m_window;
        t->m_uMsg = kMsgEncoderDone;
        t->m_nIndex = k;
        t->m_hSelf = e.task.handle;
        if (tweak) tweak(*t);
        const std::string cmd =
            std::string(REELPAGE_PROGRAM_DIR) + "/enc " + std::to_string(e.task.handle);
        ASSERT_EQ(platform::LaunchHelper(cmd, REELPAGE_PROGRAM_DIR, &e.process), 0);
        m_encoders.push_back(e);
    }

    // The plug-in's GetFrameBuffer and FrameReady for one decoded frame:
    // wait for a free slot, fill it, announce it `announce` times.
    void PutFrame(const std::function<void(uint8_t*)>& fill, int announce = 1) {
        for (Encoder& e : m_encoders) {
            const auto start = std::chrono::steady_clock::now();
            while (platform::LoadAcquire(&Video(e)->m_cSlotsInUse) >= kVideoSlots) {
                platform::WaitForHandle(Video(e)->m_hSlotEvent, 100);
                ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30))
                    << "the encoder never gave a slot back";
            }
        }
        uint8_t* slot = Slots() + size_t(m_slot) * FrameBytes();
        fill(slot);
        for (int i = 0; i < announce; ++i) {
            for (Encoder& e : m_encoders) {
                Video(e)->m_SlotOfFrame[m_announced % kSlotTableSize] = uint8_t(m_slot);
                platform::InterlockedIncrement(&Video(e)->m_cFramesAnnounced);
            }
            ++m_announced;
        }
        m_slot = (m_slot + 1) % kVideoSlots;
        for (Encoder& e : m_encoders) {
            platform::InterlockedIncrement(&Video(e)->m_cSlotsInUse);
            platform::SetEvent(Video(e)->m_hFrameEvent);
        }
    }

    // The plug-in's finishing step: end flags, then wait until every slot is back.
    void EndVideo() {
        for (Encoder& e : m_encoders) {
            platform::InterlockedExchange(&Video(e)->m_bEndOfStream, 1);
            platform::SetEvent(Video(e)->m_hFrameEvent);
        }
        for (Encoder& e : m_encoders) {
            const auto start = std::chrono::steady_clock::now();
            while (platform::LoadAcquire(&Video(e)->m_cSlotsInUse) != 0) {
                platform::WaitForHandle(Video(e)->m_hSlotEvent, 100);
                ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60))
                    << "slots in use stayed at " << Video(e)->m_cSlotsInUse;
            }
        }
    }

    // The engine's audio thread: 256 KiB chunks into encoder 0's ring, never
    // more than 0x1C0000 bytes waiting in any encoder.
    void FeedAudio(const std::vector<uint8_t>& pcm) {
        size_t fed = 0;
        while (fed < pcm.size()) {
            for (Encoder& e : m_encoders)
                while (platform::LoadAcquire(&Audio(e)->m_cbAvailable) > kAudioHighWater)
                    platform::WaitForHandle(Audio(e)->m_hSpaceEvent, 100);
            const size_t chunk = std::min<size_t>(pcm.size() - fed, 0x40000);
            uint8_t* ring = static_cast<uint8_t*>(m_encoders[0].audio.view) + kAudioRingOffset;
            std::memcpy(ring + fed % kAudioRingSize, pcm.data() + fed, chunk);
            for (Encoder& e : m_encoders) {
                platform::InterlockedAdd(&Audio(e)->m_cbAvailable, int32_t(chunk));
                platform::SetEvent(Audio(e)->m_hDataEvent);
            }
            fed += chunk;
        }
        for (Encoder& e : m_encoders) {
            platform::InterlockedExchange(&Audio(e)->m_bEndOfStream, 1);
            platform::SetEvent(Audio(e)->m_hDataEvent);
        }
    }

    // Waits until every encoder has ended and delivers their messages.
    void WaitAll(int timeoutMs = 60000) {
        for (Encoder& e : m_encoders) {
            ASSERT_EQ(platform::WaitForHandle(e.process, timeoutMs), platform::kWaitObject0);
            platform::GetHelperExitCode(e.process, &e.exitCode);
        }
        // Messages travel through the router's socket: give them a moment.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_messages.size() < m_encoders.size() && std::chrono::steady_clock::now() < until) {
            platform::WaitForHandle(platform::RouterWakeHandle(), 100);
            platform::RouterDispatch();
        }
    }

    int ExitCode(int k) const { return m_encoders[size_t(k)].exitCode; }
    const std::vector<Message>& Messages() const { return m_messages; }
    VideoStreamHeader* VideoHeader(int k) { return Video(m_encoders[size_t(k)]); }

    std::vector<uint8_t> Tone(double seconds) const {
        const size_t samples = size_t(seconds * m_rate);
        std::vector<uint8_t> pcm(samples * m_channels * 2);
        auto* s = reinterpret_cast<int16_t*>(pcm.data());
        for (size_t i = 0; i < samples; ++i)
            for (int c = 0; c < m_channels; ++c)
                s[i * m_channels + c] = int16_t(8000 * ((i / 50 + c) % 2 ? 1 : -1));
        return pcm;
    }

private:
    struct Encoder {
        platform::SharedBlock video, audio, task;
        int process = -1;
        int exitCode = -1;
    };
    static VideoStreamHeader* Video(Encoder& e) {
        return static_cast<VideoStreamHeader*>(e.video.view);
    }
    static AudioStreamHeader* Audio(Encoder& e) {
        return static_cast<AudioStreamHeader*>(e.audio.view);
    }
    uint8_t* Slots() { return static_cast<uint8_t*>(m_encoders[0].video.view) + kVideoSlotsOffset; }

    int m_width, m_height, m_pixelFormat, m_fpsNum, m_fpsDen;
    bool m_audio;
    int m_rate, m_channels;
    uint32_t m_window = 0;
    std::vector<Encoder> m_encoders;
    std::vector<Message> m_messages;
    int m_slot = 0;
    uint32_t m_announced = 0;
};

// Fills a planar YUV 4:2:0 slot with one colour.
inline void FillYuv(uint8_t* slot, int w, int h, uint8_t y, uint8_t u, uint8_t v) {
    std::memset(slot, y, size_t(w) * h);
    std::memset(slot + size_t(w) * h, u, size_t(w / 2) * (h / 2));
    std::memset(slot + size_t(w) * h + size_t(w / 2) * (h / 2), v, size_t(w / 2) * (h / 2));
}

inline void FillBgra(uint8_t* slot, int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    for (int i = 0; i < w * h; ++i) {
        slot[i * 4] = b;
        slot[i * 4 + 1] = g;
        slot[i * 4 + 2] = r;
        slot[i * 4 + 3] = 255;
    }
}

} // namespace stream_test
