// The encoder helper: writes one output file from the frames and the sound the
// engine and the decoder helper put into shared memory, then tells the engine
// how it went. Started as "enc <handle of its EncoderTask block>".
#include "AudioStreamReader.h"
#include "EncoderMain.h"
#include "OutputFile.h"
#include "VideoStreamReader.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"
#include "reelpage/encoding.h"
#include "reelpage/helper_log.h"
#include "reelpage/map_block.h"

namespace reelpage::enc {

namespace {

// How far the sound may run ahead of the pictures in the file being written.
// Reading further ahead only makes the muxer hold more packets back, and
// holding the sound back keeps the engine's ring from filling up behind an
// encoder whose pictures are slow.
constexpr double kAudioLeadSeconds = 1.0;
constexpr size_t kPcmChunk = 64 * 1024;

struct Blocks {
    platform::SharedBlock video, sharedVideo, audio, sharedAudio;
    ~Blocks() {
        platform::CloseSharedBlock(&video);
        platform::CloseSharedBlock(&sharedVideo);
        platform::CloseSharedBlock(&audio);
        platform::CloseSharedBlock(&sharedAudio);
    }
};

// Maps one stream block of the task and finds the bytes of data it announces:
// in the block every encoder shares when the task names one, else right after
// the stream's own header.
const uint8_t* MapStream(HANDLE32 handle, size_t headerBytes, HANDLE32 shared, int32_t sharedOffset,
                         size_t bytes, platform::SharedBlock* own, platform::SharedBlock* common,
                         const char* what) {
    if (shared <= 0) {
        if (!MapWholeBlock(handle, int64_t(headerBytes), bytes, own, what)) return nullptr;
        return static_cast<const uint8_t*>(own->view) + headerBytes;
    }
    if (!MapWholeBlock(handle, 0, headerBytes, own, what) ||
        !MapWholeBlock(shared, sharedOffset, bytes, common, what))
        return nullptr;
    return static_cast<const uint8_t*>(common->view) + sharedOffset;
}

bool MapBlocks(const EncoderTask& task, size_t frameBytes, Blocks* b, const uint8_t** slots,
               const uint8_t** ring) {
    static_assert(kVideoSlotsOffset == sizeof(VideoStreamHeader));
    static_assert(kAudioRingOffset == sizeof(AudioStreamHeader));
    // Maps the header first: it names the job's slot count, and so how many
    // bytes of slots there must be.
    *slots = MapStream(task.m_hVideoStream, kVideoSlotsOffset, task.m_hSharedVideo,
                       task.m_nSharedVideoOffset, 0, &b->video, &b->sharedVideo,
                       "the video stream");
    if (!*slots) return false;
    const auto* header = static_cast<const VideoStreamHeader*>(b->video.view);
    const size_t need = size_t(VideoSlotsOf(*header)) * frameBytes;
    const bool shared = task.m_hSharedVideo > 0;
    const size_t have = (shared ? b->sharedVideo.size : b->video.size) -
                        size_t(*slots - static_cast<const uint8_t*>(
                                            shared ? b->sharedVideo.view : b->video.view));
    if (have < need) {
        HelperLog(kHelperLogError, "The video stream holds %zu bytes of slots, not %zu\n", have,
                  need);
        return false;
    }
    if (task.m_bNoAudio) return true;

    if (task.m_nAudioRingSize <= 0) {
        HelperLog(kHelperLogError, "The task names no audio ring\n");
        return false;
    }
    *ring = MapStream(task.m_hAudioStream, kAudioRingOffset, task.m_hSharedAudio,
                      task.m_nSharedAudioOffset, size_t(task.m_nAudioRingSize), &b->audio,
                      &b->sharedAudio, "the audio stream");
    return *ring != nullptr;
}

OutputSpec SpecOf(const EncoderTask& task) {
    OutputSpec s;
    s.path = platform::ToUtf8(task.m_szFileName);
    s.container = platform::ToUtf8(task.m_szFormat);
    s.videoCodec = platform::ToUtf8(task.m_szVideoCodec);
    s.pixelFormat = task.m_PixelFormat;
    s.width = task.m_Width;
    s.height = task.m_Height;
    s.frameRateNum = task.m_FrameRateNum;
    s.frameRateDen = task.m_FrameRateDen;
    s.videoBitRate = task.m_VideoBitRate;
    s.audio = !task.m_bNoAudio;
    if (s.audio) {
        s.audioCodec = platform::ToUtf8(task.m_szAudioCodec);
        s.sampleRate = task.m_SampleRate;
        s.channels = task.m_nChannel;
        s.audioBitRate = task.m_AudioBitRate;
    }
    return s;
}

// Encodes until both streams have ended. False on the first failure.
bool Encode(const EncoderTask& task) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    Clock::duration waited{};
    // How long the encoder, its output open, still waited for its first picture.
    Clock::time_point ready{}, firstPicture{};
    if (task.m_Width <= 0 || task.m_Height <= 0 ||
        (task.m_PixelFormat != kPixYuv420 && task.m_PixelFormat != kPixBgra)) {
        HelperLog(kHelperLogError, "Bad task: %d x %d, pixel format %d\n", task.m_Width,
                  task.m_Height, task.m_PixelFormat);
        return false;
    }
    const size_t frameBytes = VideoFrameBytes(task.m_Width, task.m_Height, task.m_PixelFormat);
    Blocks blocks;
    const uint8_t* slots = nullptr;
    const uint8_t* ring = nullptr;
    if (!MapBlocks(task, frameBytes, &blocks, &slots, &ring)) return false;

    auto* videoHeader = static_cast<VideoStreamHeader*>(blocks.video.view);
    VideoStreamReader video(videoHeader, slots, frameBytes);
    auto* audioHeader = static_cast<AudioStreamHeader*>(blocks.audio.view);
    AudioStreamReader audio(audioHeader, ring, size_t(task.m_nAudioRingSize));

    OutputFile out;
    const OutputSpec want = SpecOf(task);
    if (!out.Open(want)) {
        HelperLog(kHelperLogError, "Cannot start %s: %s\n", want.path.c_str(), out.Error().c_str());
        out.Discard();
        return false;
    }
    HelperLog(kHelperLogInfo, "Writing %s: %s %dx%d at %d/%d%s%s\n", want.path.c_str(),
              want.videoCodec.c_str(), want.width, want.height, want.frameRateNum,
              want.frameRateDen, want.audio ? ", " : "", want.audioCodec.c_str());
    if (out.TheoraSpeedLevel() >= 0)
        HelperLog(kHelperLogInfo, "Theora at speed level %d\n", out.TheoraSpeedLevel());

    bool videoDone = false, audioDone = task.m_bNoAudio != 0;
    std::vector<uint8_t> pcm(kPcmChunk);
    int events[2] = {videoHeader->m_hFrameEvent, 0};
    const int nEvents = audioDone ? 1 : 2;
    if (!audioDone) events[1] = audioHeader->m_hDataEvent;

    bool ok = true;
    ready = Clock::now();
    while (ok && (!videoDone || !audioDone)) {
        bool progress = false;
        if (!audioDone &&
            (videoDone || out.AudioSeconds() <= out.VideoSeconds() + kAudioLeadSeconds)) {
            bool end = false;
            const size_t n = audio.Read(pcm.data(), pcm.size(), &end);
            if (n > 0) {
                ok = out.AddPcm(pcm.data(), n);
                progress = true;
            } else if (end) {
                ok = out.EndAudio();
                audioDone = true;
                progress = true;
            }
        }
        if (ok && !videoDone) {
            const uint8_t* picture = nullptr;
            switch (video.Read(&picture)) {
            case VideoStreamReader::Next::Frame:
                if (firstPicture == Clock::time_point{}) firstPicture = Clock::now();
                ok = out.AddPicture(picture);
                progress = true;
                break;
            case VideoStreamReader::Next::Repeat:
                ok = out.RepeatPicture();
                progress = true;
                break;
            case VideoStreamReader::Next::End:
                ok = out.EndVideo();
                videoDone = true;
                progress = true;
                break;
            case VideoStreamReader::Next::None:
                break;
            }
        }
        if (ok && !progress) {
            // Both events are auto-reset and only say "look again"; the time-out
            // only guards against a wake-up lost to a bug elsewhere.
            const Clock::time_point before = Clock::now();
            const int woken = platform::WaitForHandles(events, nEvents, false, 1000);
            waited += Clock::now() - before;
            if (woken == platform::kWaitFailed) {
                HelperLog(kHelperLogError, "Failed(%d) to wait for the streams\n", errno);
                ok = false;
            }
        }
    }
    if (ok) ok = out.Finish();
    if (!ok) {
        HelperLog(kHelperLogError, "Failed to write %s: %s\n", want.path.c_str(),
                  out.Error().c_str());
        out.Discard();
        return false;
    }
    if (video.LostEntries() > 0)
        HelperLog(kHelperLogError, "%u frames lost their slot-table entry\n", video.LostEntries());
    // How the time went: an encoder that seldom waits sets the pace of the job.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    using Seconds = std::chrono::duration<double>;
    HelperLog(kHelperLogInfo,
              "Wrote %s: %lld frames, %.3f s of sound in %.2f s (%.2f s of CPU, %.2f s waiting "
              "for frames or sound, %.3f s of it for the first picture)\n",
              want.path.c_str(), static_cast<long long>(out.VideoFrames()), out.AudioSeconds(),
              Seconds(Clock::now() - started).count(), cpu, Seconds(waited).count(),
              firstPicture == Clock::time_point{} ? 0.0 : Seconds(firstPicture - ready).count());
    return true;
}

} // namespace

} // namespace reelpage::enc

int EncoderMain(int argc, char** argv) {
    using namespace reelpage;
    // Until the task block is mapped there is nobody to report to: the exit
    // code tells the engine so.
    if (argc < 2) return kEncoderUnreported;
    char* endp = nullptr;
    errno = 0;
    const long handle = std::strtol(argv[1], &endp, 10);
    if (errno != 0 || endp == argv[1] || *endp != 0 || handle <= 0 || handle > 0x7fffffff)
        return kEncoderUnreported;

    platform::SharedBlock block;
    if (platform::MapSharedBlock(int(handle), sizeof(EncoderTask), &block) != 0)
        return kEncoderUnreported;
    // A private copy: the engine owns the block and nothing in it changes.
    EncoderTask task;
    std::memcpy(&task, block.view, sizeof task);
    platform::WStrTerminate(task.m_szFileName, 256);
    platform::WStrTerminate(task.m_szFormat, 64);
    platform::WStrTerminate(task.m_szVideoCodec, 64);
    platform::WStrTerminate(task.m_szAudioCodec, 64);

    char name[32];
    std::snprintf(name, sizeof name, "enc%d", task.m_nIndex);
    HelperLogOpen(task.m_hLogFile, name);
    HelperLogCaptureFfmpeg();
    // SVT-AV1 writes its own lines to the standard error, past FFmpeg's log:
    // its settings banner at every start would land on the terminal of the
    // command-line front end. Its errors still do; the log has ours.
    setenv("SVT_LOG", "1", 0);

    const int result = enc::Encode(task) ? kEncoderOk : kEncoderFailed;
    const bool reported = platform::PostMessage(task.m_hwndMessage, task.m_uMsg, result, 0);
    platform::CloseSharedBlock(&block);
    return reported ? result : kEncoderUnreported;
}
