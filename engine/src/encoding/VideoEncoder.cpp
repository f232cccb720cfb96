#include "encoding/VideoEncoder.h"

#include "system/Folders.h"
#include "media/HelperProtocol.h"
#include "media/History.h"
#include "system/Log.h"
#include "publishing/PageGenerator.h"
#include "preview/PreviewSession.h"
#include "records/Project.h"
#include "records/Settings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "picture/encoders.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/interlocked.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/encoding.h"
#include "reelpage/messages.h"
#include "reelpage/protocol.h"

namespace reelpage {

namespace {

// The output formats in their fixed order; Project.m_Formats says which take part.
struct OutputFormat {
    const char16_t* container;
    const char16_t* extension;
    const char16_t* videoCodec;
    const char16_t* audioCodec;
};
constexpr OutputFormat kFormats[3] = {
    {u"webm", u"webm", u"libvpx", u"libvorbis"},
    {u"mp4", u"mp4", u"libx264", u"libfaac"},
    {u"ogg", u"ogv", u"libtheora", u"flac"},
};

constexpr size_t kAudioChunk = 0x40000;
constexpr int kDecoderVideoThreads = 1;
// How long the audio thread sleeps between looks at the cancel flag while
// it waits for space; the space event normally wakes it sooner.
constexpr int kAudioWaitMs = 200;
// How long a finished job waits for an encoder to end. Each has reported its
// file complete by then and has only to exit; one that hangs is ended rather
// than holding the program, which waits for this on its interface thread.
constexpr int kEncoderEndMs = 10000;

struct EncoderBlocks {
    platform::SharedBlock video;
    platform::SharedBlock audio;
    platform::SharedBlock task;
    int process = -1;
    bool ended = false; // its end was seen by the watcher (or the finish)
    VideoStreamHeader* Video() const { return static_cast<VideoStreamHeader*>(video.view); }
    AudioStreamHeader* Audio() const { return static_cast<AudioStreamHeader*>(audio.view); }
    EncoderTask* Task() const { return static_cast<EncoderTask*>(task.view); }
};

class VideoEncoder {
public:
    Project* const m_pProject;
    MediaInfo* const m_pMediaInfo;
    int m_cEncoder = 0;
    EncoderBlocks m_Encoders[3];
    platform::SharedBlock m_Launch;
    platform::SharedBlock m_Talvoricer;
    platform::SharedBlock m_PosterFrame; // empty when the poster is a picture of the user's
    int m_hDecoder = -1;
    const HWND m_hwndNotify;
    std::atomic<bool> m_bCancel{false};
    WCHAR m_szFolder[kMaxPath] = {};
    std::thread m_AudioThread;
    int m_hAudioDone = -1; // set by the audio thread as it ends
    std::atomic<bool> m_bAllAudioFed{false};
    std::thread m_Watcher;
    int m_hStopWatcher = -1;
    bool m_bFinished = false;

    VideoEncoder(HWND notify, Project* project, MediaInfo* media)
        : m_pProject(project), m_pMediaInfo(media), m_hwndNotify(notify) {}
    ~VideoEncoder() { Release(true); }

    Talvoricer* Status() const { return static_cast<Talvoricer*>(m_Talvoricer.view); }

    // Makes the output folder, the blocks and the helpers and threads of the
    // job. False when a step fails: what the steps before it made is undone
    // then, except the new folder, which a failed start keeps.
    bool Start();
    void FeedAudio();
    void Watch();
    // Ends the helpers (terminating them when cancel is set, else waiting)
    // and the threads, then releases every block and handle.
    void Release(bool cancel);

private:
    // The steps of Start(), in their order; each logs its own failure.
    bool CreateStatusBlock(const FramePath& path);
    bool OutputSizeUsable() const;
    void CreatePosterFrameBlock();
    bool StartEncoders(const FramePath& path);
    bool CreateEncoderBlocks(int k, size_t frameBytes, int32_t slotCount);
    bool FillEncoderTask(int k, const OutputFormat& format, const FramePath& path);
    bool StartEncoder(int k);
    bool CreateDecoderLaunch();
    void StartAudioThread();
    bool StartDecoder();

    bool HasAudio() const { return m_pMediaInfo->m_bAudioStream != 0; }
    void SavePosterFrame();
    void StopWatcher();
    void EndAudioThread();
};

std::unique_ptr<VideoEncoder> g_pVideoEncoder;

void CloseEvents(int a, int b) {
    if (a > 0) platform::CloseEvent(a);
    if (b > 0) platform::CloseEvent(b);
}

int CreateBlock(size_t size, platform::SharedBlock* block, const char* what) {
    int rc = platform::CreateSharedBlock(size, true, block);
    if (rc != 0) {
        const std::string call = std::string("CreateFileMapping(INVALID_HANDLE_VALUE, &sa, "
                                             "PAGE_READWRITE, 0, ") +
                                 what + ", NULL)";
        LOG_FAILED(rc, call.c_str());
    }
    return rc;
}

int CreateEventLogged() {
    int e = platform::CreateEvent(true);
    if (e < 0) LOG_FAILED(errno, "CreateEvent(&sa, FALSE, FALSE, NULL)");
    return e;
}

// The title of the output folder: the media file's name without folder and
// extension.
std::u16string OutputTitle(const MediaInfo& media) {
    std::u16string_view name(media.m_szFileName);
    const size_t slash = name.find_last_of(u'/');
    if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
    const size_t dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::u16string(name);
}

// "<folder>/<title>", or "<folder>/<title>(n)" with the first n that is
// free, created. Making the folder is the test of being free, so two jobs
// can never end up in the same folder.
bool CreateOutputFolder(const MediaInfo& media, WCHAR* out) {
    std::u16string parent = TheSettings().m_szFolder;
    if (parent.empty()) {
        std::string videos;
        platform::GetKnownFolder(platform::KnownFolder::Videos, true, &videos);
        parent = platform::FromUtf8(videos);
    }
    while (parent.size() > 1 && parent.back() == u'/')
        parent.pop_back();
    std::error_code ec;
    std::filesystem::create_directories(platform::ToUtf8(parent), ec);
    const std::u16string title = OutputTitle(media);
    for (int n = 0;; ++n) {
        if (n == 0)
            platform::WFormat(out, kMaxPath, "%ls/%ls", parent.c_str(), title.c_str());
        else
            platform::WFormat(out, kMaxPath, "%ls/%ls(%d)", parent.c_str(), title.c_str(), n);
        if (mkdir(platform::ToUtf8(out).c_str(), 0777) == 0) return true;
        if (errno != EEXIST || n >= 100000) {
            LogWrite(kLogError, "Failed(%d) to CreateDirectory:%ls\n", errno, out);
            return false;
        }
    }
}

bool EffectsActive(const Project& p) {
    return p.m_Brightness != 0 || p.m_Contrast != 0 || p.m_Hue != 0 || p.m_Saturation != 0 ||
           p.m_Lightness != 0 || p.m_BlurRadius != 0 ||
           (p.m_SharpenRadius != 0 && p.m_SharpenAmount != 0) ||
           (p.m_TintHue != 0 && p.m_TintAmount != 0) || p.m_LevelsHighlight != 0 ||
           p.m_LevelsMidtone != 0 || p.m_LevelsShadow != 0 || p.m_CyanRed != 0 ||
           p.m_MagentaGreen != 0 || p.m_YellowBlue != 0 || p.m_Exposure != 0 || p.m_Density != 0 ||
           p.m_WhiteSaturation != 0 || p.m_BlackSaturation != 0;
}

} // namespace

bool ProjectPosterIsThumbnail(const Project& project, const MediaInfo& media) {
    WCHAR poster[kMaxPath];
    std::memcpy(poster, project.m_szPosterImage, sizeof poster);
    platform::WStrTerminate(poster, kMaxPath);
    return poster[0] == 0 || std::u16string_view(poster) == MediaSideFile(media, u"bmp");
}

FramePath ChooseFramePath(const Project& p, const MediaInfo& media) {
    const bool turned = p.m_Orientation != kOrientUpright;
    const bool swaps = OrientationSwapsSides(p.m_Orientation);
    // The source as the frame path sees it once turned: the crop rectangle
    // and the output size are measured in that picture too.
    const int32_t sourceW = swaps ? media.m_Height : media.m_Width;
    const int32_t sourceH = swaps ? media.m_Width : media.m_Height;
    const bool resize = p.m_CropLeft != 0 || p.m_CropTop != 0 || p.m_OutputWidth != p.m_CropWidth ||
                        p.m_OutputHeight != p.m_CropHeight || p.m_OutputWidth != sourceW ||
                        p.m_OutputHeight != sourceH;
    const bool pictureWork = EffectsActive(p) || p.m_WatermarkFile[0] != 0;
    FramePath path{kTransformPassThrough, kPixYuv420, swaps ? 1 : 0};
    if (resize)
        path.transform = turned ? kTransformOrientResize : kTransformResize;
    else if (pictureWork)
        path.transform = turned ? kTransformOrientResize : kTransformEffectsOnly;
    else if (turned)
        path.transform = kTransformOrientOnly;
    // 4:2:0 planes of an odd width or height do not fit the slot layout (its
    // chroma planes are W/2 x H/2): such pictures go the 32-bit way, where
    // the effects-only and the turning paths copy or turn them without any
    // other change.
    if (IsPlanarTransform(path.transform) && ((p.m_OutputWidth | p.m_OutputHeight) & 1))
        path.transform = turned ? kTransformOrientResize : kTransformEffectsOnly;
    if (!IsPlanarTransform(path.transform)) path.pixelFormat = kPixBgra;
    return path;
}

int32_t VideoSlotsFor(size_t frameBytes) {
    // The encoders run within as many frames of each other as there are
    // slots, and the slowest one only needs the next frame ready when it
    // takes it; more slots than a few let the faster encoders run further
    // ahead, which gains nothing while they wait for the slowest at the end,
    // yet every slot is memory touched all through the job. So the slots
    // share a fixed budget: a 720p picture keeps all 16, a 1080p one gets 8,
    // and a large 32-bit picture no fewer than 4, which still leaves the
    // decoder room to run a few frames ahead on a busy machine.
    constexpr size_t kSlotBudget = size_t(12) << 20;
    constexpr int32_t kFewestSlots = 4;
    const size_t fit = kSlotBudget / std::max<size_t>(frameBytes, 1);
    return int32_t(std::clamp<size_t>(fit, kFewestSlots, kVideoSlots));
}

int32_t AudioBitRateFor(int32_t sampleRate, int32_t channels) {
    static const struct {
        int32_t rate, channels, bitRate;
    } kTable[] = {
        {8000, 1, 16000},  {8000, 2, 32000},   {22050, 1, 32000}, {22050, 2, 64000},
        {44100, 1, 64000}, {44100, 2, 128000}, {48000, 1, 64000}, {48000, 2, 128000},
    };
    for (const auto& e : kTable)
        if (e.rate == sampleRate && e.channels == channels) return e.bitRate;
    const int64_t product = int64_t(sampleRate) * channels;
    if (product < 44100) return 64000;
    if (product < 96000) return 128000;
    return 196000;
}

int64_t SampleFilePosition(int64_t time, int32_t sampleRate, int32_t channels) {
    const int64_t frame = int64_t(2) * std::max(channels, 1);
    const int64_t bytes = std::max<int64_t>(time, 0) * sampleRate * frame / 1000000;
    // Whole sample frames only; for 1, 2, 4 or 8 channels this is clearing
    // the low bits, and it stays right for 3 or 6.
    return bytes - bytes % frame + kSampleFileHeader;
}

// Reads exactly size bytes at offset; false on a short read (the file got
// shorter under us) or an error, with errno 0 for the former.
static bool ReadWhole(int fd, uint8_t* to, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, to, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        to += got;
        size -= size_t(got);
        offset += got;
    }
    return true;
}

void VideoEncoder::FeedAudio() {
    const std::string path = platform::ToUtf8(MediaSideFile(*m_pMediaInfo, u"wav"));
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    auto fail = [this] {
        platform::PostMessage(m_hwndNotify, kMsgAudioFed, kAudioFedFailed, 0);
        platform::SetEvent(m_hAudioDone);
    };
    if (fd < 0) {
        LogWritePlain("Failed(%d) to create file\n", errno);
        fail();
        return;
    }
    struct stat st {};
    fstat(fd, &st);
    const int64_t fileSize = st.st_size;
    if (fileSize < kSampleFileHeader) {
        LogWritePlain("Error file, size=%lld\n", static_cast<long long>(fileSize));
        close(fd);
        fail();
        return;
    }
    // A sample file cut short (a full disk at the import, or truncated since)
    // would give outputs whose sound ends before the picture.
    std::string why;
    if (!SampleFileMatches(*m_pMediaInfo, &why)) {
        LogWrite(kLogError, "The sound of the import cannot be used: %s\n", why.c_str());
        close(fd);
        fail();
        return;
    }
    const Project& p = *m_pProject;
    const int32_t rate = m_pMediaInfo->m_SampleRate, channels = m_pMediaInfo->m_nChannel;
    const int64_t start = std::min(SampleFilePosition(p.m_ClipStart, rate, channels), fileSize);
    const int64_t end = p.m_ClipStop != 0
                            ? std::min(SampleFilePosition(p.m_ClipStop, rate, channels), fileSize)
                            : fileSize;
    const int64_t length = std::max<int64_t>(end - start, 0);
    auto* ring = static_cast<uint8_t*>(m_Encoders[0].audio.view) + kAudioRingOffset;

    int64_t fed = 0;
    bool failed = false;
    while (fed < length && !m_bCancel) {
        for (int k = 0; k < m_cEncoder && !m_bCancel; ++k) {
            AudioStreamHeader* h = m_Encoders[k].Audio();
            while (platform::LoadAcquire(&h->m_cbAvailable) > kAudioHighWater && !m_bCancel)
                platform::WaitForHandle(h->m_hSpaceEvent, kAudioWaitMs);
        }
        if (m_bCancel) break;
        // Whole chunks only, so that none wraps around the end of the ring:
        // a short read is a failure, never a smaller chunk.
        const int64_t at = fed % int64_t(kAudioRingSize);
        const size_t chunk = size_t(
            std::min<int64_t>({length - fed, int64_t(kAudioChunk), int64_t(kAudioRingSize) - at}));
        if (!ReadWhole(fd, ring + at, chunk, start + fed)) {
            LogWrite(kLogError, "Failed(%d) to read the sample file %s at %lld: it ends early\n",
                     errno, path.c_str(), static_cast<long long>(start + fed));
            failed = true;
            break;
        }
        for (int k = 0; k < m_cEncoder; ++k) {
            platform::InterlockedAdd(&m_Encoders[k].Audio()->m_cbAvailable, int32_t(chunk));
            platform::SetEvent(m_Encoders[k].Audio()->m_hDataEvent);
        }
        fed += int64_t(chunk);
    }
    close(fd);
    if (failed) {
        // The job fails: the encoders are ended by its finish, their files
        // never complete.
        fail();
        return;
    }
    if (!m_bCancel) {
        for (int k = 0; k < m_cEncoder; ++k) {
            platform::InterlockedExchange(&m_Encoders[k].Audio()->m_bEndOfStream, 1);
            platform::SetEvent(m_Encoders[k].Audio()->m_hDataEvent);
        }
        m_bAllAudioFed = true;
        platform::PostMessage(m_hwndNotify, kMsgAudioFed, kAudioFedAll, 0);
    }
    platform::SetEvent(m_hAudioDone);
}

// Watches the helpers' process handles. A helper that ends without having
// said how (an encoder killed or crashed, a decoder that stopped before the
// end of the pictures) would leave the job waiting for ever; it is reported
// as a failed output instead.
void VideoEncoder::Watch() {
    bool decoderEnded = false;
    for (;;) {
        int handles[5];
        int owner[5]; // encoder index, 3 = the decoder, -1 = stop
        int n = 0;
        handles[n] = m_hStopWatcher, owner[n++] = -1;
        if (!decoderEnded) handles[n] = m_hDecoder, owner[n++] = 3;
        for (int k = 0; k < m_cEncoder; ++k)
            if (!m_Encoders[k].ended) handles[n] = m_Encoders[k].process, owner[n++] = k;
        if (n == 1) return;
        const int r = platform::WaitForHandles(handles, n, false, platform::kInfinite);
        if (r < platform::kWaitObject0 || r >= n) {
            LogWrite(kLogError, "Failed(%d) to wait for the encoding helpers\n", errno);
            return;
        }
        const int who = owner[r - platform::kWaitObject0];
        if (who < 0) return;
        if (who < 3) {
            EncoderBlocks& e = m_Encoders[who];
            e.ended = true;
            int code = 0;
            platform::GetHelperExitCode(e.process, &code);
            if (code != kEncoderOk && code != kEncoderFailed) {
                LogWrite(kLogError, "Encoder %d ended without reporting (exit code %d)\n", who,
                         code);
                platform::PostMessage(m_hwndNotify, kMsgEncoderDone, kEncoderHelperDied, 0);
            }
            continue;
        }
        decoderEnded = true;
        if (platform::LoadAcquire(&Status()->m_EndOfStream) != 0) continue;
        // The encoders wait for pictures that will never come: their files
        // can never be complete. One failure says it for the job.
        int code = 0;
        platform::GetHelperExitCode(m_hDecoder, &code);
        LogWrite(kLogError, "The decoder ended before the last picture (exit code %d)\n", code);
        platform::PostMessage(m_hwndNotify, kMsgEncoderDone, kEncoderHelperDied, 0);
        for (int k = 0; k < m_cEncoder; ++k) {
            if (m_Encoders[k].ended) continue;
            platform::TerminateHelper(m_Encoders[k].process, -1);
            m_Encoders[k].ended = true;
        }
    }
}

void VideoEncoder::StopWatcher() {
    if (!m_Watcher.joinable()) return;
    platform::SetEvent(m_hStopWatcher);
    m_Watcher.join();
}

void VideoEncoder::EndAudioThread() {
    if (!m_AudioThread.joinable()) return;
    // It may be waiting for space in any encoder's ring.
    for (int k = 0; k < m_cEncoder; ++k)
        if (m_Encoders[k].audio.view) platform::SetEvent(m_Encoders[k].Audio()->m_hSpaceEvent);
    if (platform::WaitForHandle(m_hAudioDone, 1000) != platform::kWaitObject0)
        LogWrite(kLogError, "The audio thread did not end within 1000 ms\n");
    // Joined in any case: its blocks are released right after, and it only
    // ever waits with a short time-out, so it ends soon.
    m_AudioThread.join();
}

// The package's poster.png from the first output picture, when the plug-in
// has left one. A picture that cannot be written is logged and left to the
// page generator, which then makes the poster from the thumbnail.
void VideoEncoder::SavePosterFrame() {
    const auto* header = static_cast<const PosterFrameHeader*>(m_PosterFrame.view);
    if (!header || !platform::LoadAcquire(&header->m_bReady) || !m_szFolder[0]) return;
    const picture::ConstBitmapView frame{reinterpret_cast<const uint8_t*>(header + 1),
                                         header->m_Width, header->m_Height,
                                         ptrdiff_t(header->m_Width) * 4, picture::AlphaMode::Opaque};
    picture::EncoderId png;
    picture::FindEncoderByMimeType("image/png", png);
    const std::string path = platform::ToUtf8(m_szFolder) + "/poster.png";
    const picture::Error e = picture::SavePicture(frame, path, png);
    if (e != picture::Error::None)
        LogWrite(kLogError, "Failed to write %s: %s\n", path.c_str(), picture::ErrorText(e));
}

void VideoEncoder::Release(bool cancel) {
    if (m_bFinished) return;
    m_bFinished = true;
    m_bCancel = cancel;
    StopWatcher();
    // Cancelling ends every helper at once and waits for all of them against
    // one deadline, so that the whole job is gone within a second.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    if (cancel) {
        for (const EncoderBlocks& e : m_Encoders)
            if (e.process >= 0) platform::TerminateHelper(e.process, -1);
        if (m_hDecoder >= 0) platform::TerminateHelper(m_hDecoder, -1);
    }
    auto end = [cancel, deadline](int& process, int waitMs) {
        if (process < 0) return;
        if (cancel) {
            // Gone before its folder is deleted: a killed helper writes nothing more.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            platform::WaitForHandle(process, int(std::max<int64_t>(left.count(), 0)));
        } else {
            platform::WaitForHandle(process, waitMs);
        }
        platform::CloseHelperHandle(process);
        process = -1;
    };
    bool decoderDone = false, audioDone = false;
    for (int k = 0; k < 3; ++k) {
        EncoderBlocks& e = m_Encoders[k];
        if (!cancel && e.process >= 0 &&
            platform::WaitForHandle(e.process, kEncoderEndMs) != platform::kWaitObject0) {
            LogWrite(kLogError, "Encoder %d did not end within %d ms\n", k, kEncoderEndMs);
            platform::TerminateHelper(e.process, -1);
        }
        end(e.process, 1000);
        platform::CloseSharedBlock(&e.task);
        if (!decoderDone) {
            end(m_hDecoder, 1000);
            decoderDone = true;
        }
        if (!audioDone) {
            EndAudioThread();
            audioDone = true;
        }
        if (e.video.view) CloseEvents(e.Video()->m_hFrameEvent, e.Video()->m_hSlotEvent);
        platform::CloseSharedBlock(&e.video);
        if (e.audio.view) CloseEvents(e.Audio()->m_hDataEvent, e.Audio()->m_hSpaceEvent);
        platform::CloseSharedBlock(&e.audio);
    }
    if (!cancel) SavePosterFrame();
    platform::CloseSharedBlock(&m_PosterFrame);
    platform::CloseSharedBlock(&m_Launch);
    platform::CloseSharedBlock(&m_Talvoricer);
    CloseEvents(m_hStopWatcher, m_hAudioDone);
    m_hStopWatcher = m_hAudioDone = -1;
    if (cancel && m_szFolder[0]) {
        std::error_code ec;
        std::filesystem::remove_all(platform::ToUtf8(m_szFolder), ec);
        if (ec) LogWrite(kLogError, "Failed(%d) to RemoveDirectory:%ls\n", ec.value(), m_szFolder);
    }
}

bool VideoEncoder::Start() {
    if (!CreateOutputFolder(*m_pMediaInfo, m_szFolder)) {
        m_szFolder[0] = 0; // nothing of ours to delete
        return false;
    }
    const FramePath path = ChooseFramePath(*m_pProject, *m_pMediaInfo);
    const bool started = [&] {
        if (!CreateStatusBlock(path) || !OutputSizeUsable()) return false;
        CreatePosterFrameBlock();
        if (!StartEncoders(path) || !CreateDecoderLaunch()) return false;
        StartAudioThread();
        return StartDecoder();
    }();
    if (!started) {
        // Ends every helper already started and releases every block, but
        // keeps the new folder, as a failed start should.
        m_szFolder[0] = 0;
        Release(true);
        return false;
    }
    const Project& project = *m_pProject;
    Status()->m_Duration = project.m_ClipStop != 0 ? project.m_ClipStop - project.m_ClipStart
                                                   : m_pMediaInfo->m_Duration - project.m_ClipStart;
    LogWrite(kLogInfo, "Encoding %ls into %ls: %d output(s), frame path %d\n",
             m_pMediaInfo->m_szFileName, m_szFolder, m_cEncoder, path.transform);
    return true;
}

// The status block the program polls and the decoder's plug-in fills, and
// the events of the job's own threads.
bool VideoEncoder::CreateStatusBlock(const FramePath& path) {
    if (CreateBlock(sizeof(Talvoricer), &m_Talvoricer, "sizeof(Talvoricer)") != 0) return false;
    Talvoricer* status = Status();
    std::memset(status, 0, sizeof *status);
    status->m_hMediaInfo = m_pMediaInfo->m_hSelf;
    status->m_hTaskList = m_pProject->m_hSelf;
    status->m_hwndMessage = m_hwndNotify;
    status->m_lParam = 0;
    status->m_Transform = path.transform;
    status->m_FlipXY = path.flipXY;
    m_hStopWatcher = CreateEventLogged();
    m_hAudioDone = CreateEventLogged();
    return m_hStopWatcher >= 0 && m_hAudioDone >= 0;
}

bool VideoEncoder::OutputSizeUsable() const {
    if (m_pProject->m_OutputWidth > 0 && m_pProject->m_OutputHeight > 0) return true;
    LogWrite(kLogError, "Output size %dx%d\n", m_pProject->m_OutputWidth,
             m_pProject->m_OutputHeight);
    return false;
}

// Unless the user chose the poster's picture (a snapshot or a file), the
// poster is the first output picture: the thumbnail knows nothing of the
// turn, the crop or the fit. Without the block (logged) the page generator
// makes the poster from the thumbnail, so the job goes on.
void VideoEncoder::CreatePosterFrameBlock() {
    if (!ProjectPosterIsThumbnail(*m_pProject, *m_pMediaInfo)) return;
    const int32_t w = m_pProject->m_OutputWidth, h = m_pProject->m_OutputHeight;
    if (CreateBlock(PosterFrameBlockSize(w, h), &m_PosterFrame, "PosterFrame") != 0) return;
    auto* header = static_cast<PosterFrameHeader*>(m_PosterFrame.view);
    *header = PosterFrameHeader{0, w, h, 0};
    Status()->m_hVideoStreams[kPosterFrameStream] = m_PosterFrame.handle;
}

// One encoder per chosen format, numbered in the formats' order.
bool VideoEncoder::StartEncoders(const FramePath& path) {
    const size_t frameBytes =
        VideoFrameBytes(m_pProject->m_OutputWidth, m_pProject->m_OutputHeight, path.pixelFormat);
    const int32_t slotCount = VideoSlotsFor(frameBytes);
    for (int f = 0; f < 3; ++f) {
        if (!m_pProject->m_Formats[f]) continue;
        const int k = m_cEncoder;
        if (!CreateEncoderBlocks(k, frameBytes, slotCount) || !FillEncoderTask(k, kFormats[f], path) ||
            !StartEncoder(k))
            return false;
        m_cEncoder = k + 1;
    }
    if (m_cEncoder == 0) {
        LogWrite(kLogError, "No output format chosen\n");
        return false;
    }
    Status()->m_cEncoder = m_cEncoder;
    return true;
}

// Encoder 0's blocks hold the frames and the sound every encoder reads;
// the others' are headers only. Every header names the job's slot count.
bool VideoEncoder::CreateEncoderBlocks(int k, size_t frameBytes, int32_t slotCount) {
    EncoderBlocks& e = m_Encoders[k];
    if (CreateBlock(k == 0 ? VideoStreamBlockSize(frameBytes, slotCount) : kSharedVideoBlockSize,
                    &e.video, "VideoStream") != 0)
        return false;
    e.Video()->m_cSlots = slotCount;
    e.Video()->m_hSlotEvent = CreateEventLogged();
    e.Video()->m_hFrameEvent = CreateEventLogged();
    if (e.Video()->m_hSlotEvent < 0 || e.Video()->m_hFrameEvent < 0) return false;
    Status()->m_hVideoStreams[k] = e.video.handle;
    if (HasAudio()) {
        if (CreateBlock(k == 0 ? kAudioStreamBlockSize : kSharedAudioBlockSize, &e.audio,
                        "AudioStream") != 0)
            return false;
        std::memset(e.audio.view, 0, sizeof(AudioStreamHeader));
        e.Audio()->m_hSpaceEvent = CreateEventLogged();
        e.Audio()->m_hDataEvent = CreateEventLogged();
        if (e.Audio()->m_hSpaceEvent < 0 || e.Audio()->m_hDataEvent < 0) return false;
    }
    return CreateBlock(sizeof(EncoderTask), &e.task, "sizeof(EncoderTask)") == 0;
}

bool VideoEncoder::FillEncoderTask(int k, const OutputFormat& format, const FramePath& path) {
    const EncoderBlocks& e = m_Encoders[k];
    const MediaInfo& media = *m_pMediaInfo;
    EncoderTask* t = e.Task();
    std::memset(t, 0, sizeof *t);
    // The task's path field holds 255 characters: a longer one would make
    // the encoder write somewhere else.
    WCHAR file[kMaxPath + 16];
    const int length =
        platform::WFormat(file, std::size(file), "%ls/video.%ls", m_szFolder, format.extension);
    if (length >= int(std::size(t->m_szFileName))) {
        LogWrite(kLogError, "Output path too long: %ls\n", file);
        return false;
    }
    platform::WStrCopy(t->m_szFileName, file);
    platform::WStrCopy(t->m_szFormat, format.container);
    platform::WStrCopy(t->m_szVideoCodec, format.videoCodec);
    t->m_PixelFormat = path.pixelFormat;
    t->m_VideoBitRate = media.m_VideoBitRate;
    t->m_FrameRateDen = media.m_FrameRateDen;
    t->m_FrameRateNum = media.m_FrameRateNum;
    t->m_Width = m_pProject->m_OutputWidth;
    t->m_Height = m_pProject->m_OutputHeight;
    if (HasAudio()) {
        platform::WStrCopy(t->m_szAudioCodec, format.audioCodec);
        t->m_AudioBitRate = AudioBitRateFor(media.m_SampleRate, media.m_nChannel);
        t->m_SampleRate = media.m_SampleRate;
        t->m_nChannel = media.m_nChannel;
        t->m_hAudioStream = e.audio.handle;
    } else {
        t->m_bNoAudio = 1;
    }
    t->m_hVideoStream = e.video.handle;
    if (k > 0) {
        t->m_hSharedVideo = m_Encoders[0].video.handle;
        t->m_nSharedVideoOffset = int32_t(kVideoSlotsOffset);
        if (HasAudio()) {
            t->m_hSharedAudio = m_Encoders[0].audio.handle;
            t->m_nSharedAudioOffset = int32_t(kAudioRingOffset);
        }
    }
    t->m_nAudioRingSize = kAudioRingSize;
    t->m_hLogFile = LogHandle();
    t->m_hwndMessage = m_hwndNotify;
    t->m_uMsg = kMsgEncoderDone;
    t->m_nIndex = k;
    t->m_hSelf = e.task.handle;
    return true;
}

bool VideoEncoder::StartEncoder(int k) {
    EncoderBlocks& e = m_Encoders[k];
    // The encoder's own blocks and events, and encoder 0's that it reads.
    std::vector<int> handOver;
    for (const EncoderBlocks* b : {&e, &m_Encoders[0]}) {
        handOver.push_back(b->video.handle);
        handOver.push_back(b->Video()->m_hSlotEvent);
        handOver.push_back(b->Video()->m_hFrameEvent);
        if (HasAudio()) {
            handOver.push_back(b->audio.handle);
            handOver.push_back(b->Audio()->m_hSpaceEvent);
            handOver.push_back(b->Audio()->m_hDataEvent);
        }
    }
    if (LaunchEncoder(e.task.handle, handOver, &e.process) != 0) return false;
    e.Task()->m_hProcess = e.process;
    return true;
}

// The decoder's launch block names the source, the clip's start and the
// encoding plug-in, which finds the status block through it.
bool VideoEncoder::CreateDecoderLaunch() {
    return CreateHelperLaunch(m_pMediaInfo->m_szFileName, 0, m_pProject->m_ClipStart,
                              u"talvoric.so", m_Talvoricer.handle, &m_Launch) == 0;
}

void VideoEncoder::StartAudioThread() {
    if (HasAudio()) m_AudioThread = std::thread([this] { FeedAudio(); });
}

bool VideoEncoder::StartDecoder() {
    // The decoder reads the status block, the records and every encoder's
    // frame queue, and leaves the poster's picture in its block.
    std::vector<int> handOver = {m_Talvoricer.handle, m_pMediaInfo->m_hSelf, m_pProject->m_hSelf};
    for (int i = 0; i < m_cEncoder; ++i) {
        const EncoderBlocks& e = m_Encoders[i];
        handOver.insert(handOver.end(),
                        {e.video.handle, e.Video()->m_hSlotEvent, e.Video()->m_hFrameEvent});
    }
    if (m_PosterFrame.view) handOver.push_back(m_PosterFrame.handle);
    // One decoding thread: the decoder is far faster than the slowest encoder
    // it feeds, so frame threads would only compete with the encoders for the
    // cores, and each holds a decoding context and pictures of its own.
    if (LaunchDecoder(m_Launch.handle, handOver, &m_hDecoder, kDecoderVideoThreads) != 0)
        return false;
    m_Watcher = std::thread([this] { Watch(); });
    return true;
}

Talvoricer* StartEncoding(HWND notify) {
    EndPreviewSession();
    g_pVideoEncoder.reset(); // a job never finished is abandoned
    Project* project = CurrentProject();
    MediaInfo* media = CurrentProjectMedia();
    if (!project || !media) {
        LogWrite(kLogError, "StartEncoding without a project\n");
        return nullptr;
    }
    auto job = std::make_unique<VideoEncoder>(notify, project, media);
    if (!job->Start()) return nullptr;
    g_pVideoEncoder = std::move(job);
    return g_pVideoEncoder->Status();
}

int32_t FinishEncoding(BOOL cancel) {
    if (!g_pVideoEncoder) return 0;
    g_pVideoEncoder->Release(cancel != 0);
    return 0;
}

int32_t FreeEncoding() {
    g_pVideoEncoder.reset();
    return 0;
}

const EncoderTask* EncoderTaskForTesting(int index) {
    if (!g_pVideoEncoder || index < 0 || index >= g_pVideoEncoder->m_cEncoder) return nullptr;
    return g_pVideoEncoder->m_Encoders[index].Task();
}

const WCHAR* GetOutputFolder() {
    return g_pVideoEncoder ? g_pVideoEncoder->m_szFolder : nullptr;
}

int32_t PublishPage(BOOL generate, WCHAR* out) {
    if (out) out[0] = 0;
    if (!g_pVideoEncoder) return -1;
    const VideoEncoder& job = *g_pVideoEncoder;
    bool ok = true;
    if (generate) {
        const Project* project = CurrentProject();
        ok = project && GeneratePage(job.m_szFolder, *project, CurrentProjectMedia());
    }
    if (out) platform::WFormat(out, kMaxPath, "%ls/index.html", job.m_szFolder);
    return ok ? 0 : -1;
}

} // namespace reelpage
