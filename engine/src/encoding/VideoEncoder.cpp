#include "encoding/VideoEncoder.h"

#include "captions/ProjectCaptions.h"

#include "system/Folders.h"
#include "media/HelperProtocol.h"
#include "media/History.h"
#include "system/Log.h"
#include "publishing/PageGenerator.h"
#include "system/PreviewLink.h"
#include "records/Project.h"
#include "records/Settings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "picture/encoders.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/guid.h"
#include "platform/interlocked.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/encoding.h"
#include "reelpage/messages.h"
#include "reelpage/output_size.h"
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
// The WebM output by Project.m_WebmCodec: VP8 above, or a newer codec with
// Opus, the sound those browsers pair with it.
constexpr OutputFormat kWebmFormats[kWebmCodecCount] = {
    kFormats[0],
    {u"webm", u"webm", u"libvpx-vp9", u"libopus"},
    {u"webm", u"webm", u"libsvtav1", u"libopus"},
};

constexpr size_t kAudioChunk = 0x40000;
constexpr int kDecoderVideoThreads = 1;
// How often the watcher looks for the poster picture until it has come.
constexpr int kPosterLookMs = 100;
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
    // The package folder: under a hidden name while the job runs, under its
    // final name once FinishEncoding has moved it there.
    WCHAR m_szFolder[kMaxPath] = {};
    std::u16string m_Parent, m_Title;
    int m_hFolderLock = -1; // held while the folder is the job's
    std::thread m_AudioThread;
    int m_hAudioDone = -1; // set by the audio thread as it ends
    std::atomic<bool> m_bAllAudioFed{false};
    std::thread m_Watcher;
    // Makes the captions beside the outputs; the page waits for it.
    std::thread m_CaptionThread;
    std::vector<PackageCaption> m_Captions;
    int m_hStopWatcher = -1;
    bool m_bFinished = false;
    bool m_bPlaced = false;

    VideoEncoder(HWND notify, Project* project, MediaInfo* media)
        : m_pProject(project), m_pMediaInfo(media), m_hwndNotify(notify) {}
    ~VideoEncoder() { Release(true); }

    Talvoricer* Status() const { return static_cast<Talvoricer*>(m_Talvoricer.view); }

    // Makes the job's folder, the blocks and the helpers and threads of the
    // job. False when a step fails: what the steps before it made, the
    // folder included, is undone then.
    bool Start();
    void FeedAudio();
    void Watch();
    // Ends the helpers (terminating them when cancel is set, else waiting)
    // and the threads, then releases every block and handle. A cancelled
    // job's folder is removed; a finished one is moved to its final name.
    // False when that move fails: the finished outputs are kept under the
    // hidden name then, marked so that no sweep takes them.
    bool Release(bool cancel);

private:
    // The steps of Start(), in their order; each logs its own failure.
    bool CreateStatusBlock(const FramePath& path);
    bool OutputSizeUsable() const;
    void CreatePosterFrameBlock();
    bool PrepareEncoders(const FramePath& path);
    bool CreateEncoderBlocks(int k, size_t frameBytes, int32_t slotCount);
    bool FillEncoderTask(int k, const OutputFormat& format, const FramePath& path);
    bool StartEncoder(int k);
    bool CreateDecoderLaunch();
    void StartAudioThread();
    bool StartDecoder();

    bool HasAudio() const { return m_pMediaInfo->m_bAudioStream != 0; }
    void SavePosterFrame();
    void TakePosterFrame();
    void StopWatcher();
    void EndAudioThread();
    bool MoveIntoPlace();
    void KeepUnplaced();
    void RemoveFolder();

public:
    void StartCaptions();
    void EndCaptions();
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

// A package is built under this hidden name beside its final place, so that
// a job killed half-way never leaves a half-written folder under a name of
// the user's.
constexpr char kJobFolderPrefix[] = ".reelpage-job-";
// In a job folder whose finished outputs could not take their name: the
// user's files, which the sweep of unfinished jobs leaves alone.
constexpr char kKeptMarker[] = "NOT-PLACED.txt";
// What a package folder's path must leave free for the names of the files in
// it ("/video.webm", "/poster.png", the template's files).
constexpr size_t kInnerNameRoom = 32;

bool FitsWithItsFiles(const WCHAR* folder) {
    return platform::WStrLen(folder) + kInnerNameRoom < size_t(kMaxPath);
}

std::u16string OutputParent() {
    std::u16string parent = TheSettings().m_szFolder;
    if (parent.empty()) {
        std::string videos;
        platform::GetKnownFolder(platform::KnownFolder::Videos, true, &videos);
        parent = platform::FromUtf8(videos);
    }
    while (parent.size() > 1 && parent.back() == u'/')
        parent.pop_back();
    return parent;
}

// "<parent>/<title>", or "<parent>/<title>(n)" for n > 0.
void FinalFolderName(const std::u16string& parent, const std::u16string& title, int n, WCHAR* out) {
    if (n == 0)
        platform::WFormat(out, kMaxPath, "%ls/%ls", parent.c_str(), title.c_str());
    else
        platform::WFormat(out, kMaxPath, "%ls/%ls(%d)", parent.c_str(), title.c_str(), n);
}

// A new hidden folder in parent, locked by the returned descriptor for as
// long as the job holds it; -1 on failure. The sweep below takes the lock of
// any such folder it removes, so a folder it removed between our mkdir and
// our lock is noticed (it is no longer the one under the name) and another
// one is made.
int MakeJobFolder(const std::u16string& parent, WCHAR* out) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::u16string id = platform::GuidToU16String(platform::CreateGuid());
        platform::WFormat(out, kMaxPath, "%ls/%hs%ls", parent.c_str(), kJobFolderPrefix,
                          id.substr(1, 8).c_str());
        const std::string path = platform::ToUtf8(out);
        if (mkdir(path.c_str(), 0777) != 0) {
            if (errno == EEXIST) continue;
            LogWrite(kLogError, "Failed(%d) to CreateDirectory:%ls\n", errno, out);
            return -1;
        }
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {}, named {};
        if (flock(fd, LOCK_EX) == 0 && fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev)
            return fd;
        close(fd);
    }
    LogWrite(kLogError, "Failed to make a job folder in %ls\n", parent.c_str());
    return -1;
}

} // namespace

void SweepStaleJobFolders(const std::u16string& parent) {
    const std::string folder = platform::ToUtf8(parent);
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (const dirent* e = readdir(d))
        if (std::strncmp(e->d_name, kJobFolderPrefix, sizeof kJobFolderPrefix - 1) == 0)
            names.push_back(e->d_name);
    closedir(d);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Another user's job, one still running (its lock is held) and the
        // kept outputs of a finished one are left alone.
        if (fstat(fd, &st) == 0 && st.st_uid == geteuid() &&
            faccessat(fd, kKeptMarker, F_OK, AT_SYMLINK_NOFOLLOW) != 0 &&
            flock(fd, LOCK_EX | LOCK_NB) == 0) {
            LogWrite(kLogInfo, "Removing %s: the package of a job that never finished\n",
                     path.c_str());
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
            if (ec) LogWrite(kLogError, "Failed(%d) to RemoveDirectory:%s\n", ec.value(), path.c_str());
        }
        close(fd);
    }
}

namespace {

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
    // An odd source or crop is never made at its own size (4:2:0 needs even
    // sides): it is fitted into the even picture, which the 32-bit way does.
    const OutputFrameSize out = ProjectPictureSize(p);
    const bool resize = p.m_CropLeft != 0 || p.m_CropTop != 0 || out.width != p.m_CropWidth ||
                        out.height != p.m_CropHeight || out.width != sourceW ||
                        out.height != sourceH;
    const bool pictureWork = EffectsActive(p) || p.m_WatermarkFile[0] != 0;
    FramePath path{kTransformPassThrough, kPixYuv420, swaps ? 1 : 0};
    if (resize)
        path.transform = turned ? kTransformOrientResize : kTransformResize;
    else if (pictureWork)
        path.transform = turned ? kTransformOrientResize : kTransformEffectsOnly;
    else if (turned)
        path.transform = kTransformOrientOnly;
    if (!IsPlanarTransform(path.transform)) path.pixelFormat = kPixBgra;
    return path;
}

int32_t VideoSlotsFor(size_t frameBytes) {
    // The encoders run within as many frames of each other as there are
    // slots, and the slowest one only needs the next frame ready when it
    // takes it; more slots than a few let the faster encoders run further
    // ahead, which gains nothing while they wait for the slowest at the end,
    // yet every slot is memory touched all through the job. So the slots
    // share a fixed budget: a 640x360 picture keeps all 16, a 720p one gets
    // 6, and 1080p or a large 32-bit picture no fewer than 3: the one the
    // slowest encoder is taking, the next one ready for it, and one for the
    // decoder to write meanwhile. Every encoder copies a picture into its own
    // buffers as it takes it, so none holds a slot longer than that.
    constexpr size_t kSlotBudget = size_t(8) << 20;
    constexpr int32_t kFewestSlots = 3;
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
        // While the poster picture is awaited, looks for it now and then.
        const int r = platform::WaitForHandles(handles, n, false,
                                               m_PosterFrame.view ? kPosterLookMs
                                                                  : platform::kInfinite);
        if (r == platform::kWaitTimeout) {
            TakePosterFrame();
            continue;
        }
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

// The poster picture leaves its block as soon as the plug-in has put it
// there: the block holds a whole 32-bit picture at the output size, which the
// job would otherwise keep to its end. The plug-in lets go of its view once
// it has written it; a cancelled or failed job's folder goes with the file.
void VideoEncoder::TakePosterFrame() {
    const auto* header = static_cast<const PosterFrameHeader*>(m_PosterFrame.view);
    if (!header || !platform::LoadAcquire(&header->m_bReady)) return;
    SavePosterFrame();
    Status()->m_hVideoStreams[kPosterFrameStream] = 0;
    platform::CloseSharedBlock(&m_PosterFrame);
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

// A bad caption file costs its own track and a message, never the package:
// the videos go on whatever the captions do.
void VideoEncoder::StartCaptions() {
    std::vector<CaptionTrack> tracks = ChosenCaptions();
    SetCaptionMessages({});
    if (tracks.empty()) return;
    const std::string folder = platform::ToUtf8(m_szFolder);
    const int64_t start = m_pProject->m_ClipStart, stop = m_pProject->m_ClipStop;
    m_CaptionThread = std::thread([this, tracks = std::move(tracks), folder, start, stop] {
        std::vector<std::string> problems;
        m_Captions = WritePackageCaptions(folder, tracks, start, stop, &problems, &m_bCancel);
        for (const std::string& p : problems)
            LogWrite(kLogError, "Captions: %s\n", p.c_str());
        SetCaptionMessages(std::move(problems));
    });
}

void VideoEncoder::EndCaptions() {
    if (m_CaptionThread.joinable()) m_CaptionThread.join();
}

bool VideoEncoder::Release(bool cancel) {
    if (m_bFinished) return m_bPlaced;
    m_bFinished = true;
    m_bCancel = cancel;
    // Before the folder of a cancelled job goes.
    EndCaptions();
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
    m_bPlaced = !cancel && m_szFolder[0] && MoveIntoPlace();
    if (!cancel && !m_bPlaced && m_szFolder[0])
        KeepUnplaced();
    else if (!m_bPlaced)
        RemoveFolder();
    if (m_hFolderLock >= 0) close(m_hFolderLock);
    m_hFolderLock = -1;
    return m_bPlaced;
}

// Complete outputs are never thrown away because a name could not be taken:
// they stay where they were made, with a note for whoever finds the folder.
void VideoEncoder::KeepUnplaced() {
    const std::string note = platform::ToUtf8(m_szFolder) + "/" + kKeptMarker;
    const std::string text = "These files are a finished package that could not be named " +
                             platform::ToUtf8(m_Parent) + "/" + platform::ToUtf8(m_Title) +
                             ".\nRename this folder to keep it visible.\n";
    const int fd = open(note.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0 && close(fd) != 0) written = false;
    if (!written) LogWrite(kLogError, "Failed(%d) to write %s\n", errno, note.c_str());
    LogWrite(kLogError, "The package stays in %ls\n", m_szFolder);
}

void VideoEncoder::RemoveFolder() {
    if (!m_szFolder[0]) return;
    std::error_code ec;
    std::filesystem::remove_all(platform::ToUtf8(m_szFolder), ec);
    if (ec) LogWrite(kLogError, "Failed(%d) to RemoveDirectory:%ls\n", ec.value(), m_szFolder);
    m_szFolder[0] = 0;
}

// The first free "<title>" or "<title>(n)": the rename itself is the test of
// being free, so two jobs finishing at once never share a folder.
bool VideoEncoder::MoveIntoPlace() {
    const std::string from = platform::ToUtf8(m_szFolder);
    WCHAR target[kMaxPath];
    for (int n = 0; n <= 100000; ++n) {
        FinalFolderName(m_Parent, m_Title, n, target);
        if (!FitsWithItsFiles(target)) break;
        const std::string to = platform::ToUtf8(target);
        int rc = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EINVAL) {
            // A file system without no-replace renames: making the name is
            // the test, and a folder renames onto an empty one atomically.
            if (mkdir(to.c_str(), 0777) != 0) {
                if (errno == EEXIST) continue;
                rc = -1;
            } else {
                rc = rename(from.c_str(), to.c_str());
                if (rc != 0) rmdir(to.c_str());
            }
        }
        if (rc == 0) {
            LogWrite(kLogInfo, "Package in place as %ls\n", target);
            platform::WStrCopy(m_szFolder, target);
            return true;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) break;
    }
    LogWrite(kLogError, "Failed(%d) to move %ls into place as %ls\n", errno, m_szFolder, target);
    return false;
}

bool VideoEncoder::Start() {
    m_Parent = OutputParent();
    m_Title = OutputTitle(*m_pMediaInfo);
    // Refused before anything is made: a package whose files cannot be named
    // would only fail once its encoders start.
    WCHAR target[kMaxPath];
    FinalFolderName(m_Parent, m_Title, 0, target);
    if (!FitsWithItsFiles(target) ||
        m_Parent.size() + sizeof kJobFolderPrefix + 8 + kInnerNameRoom >= size_t(kMaxPath)) {
        LogWrite(kLogError, "The output path is too long: %ls/%ls\n", m_Parent.c_str(),
                 m_Title.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(platform::ToUtf8(m_Parent), ec);
    SweepStaleJobFolders(m_Parent);
    m_hFolderLock = MakeJobFolder(m_Parent, m_szFolder);
    if (m_hFolderLock < 0) {
        m_szFolder[0] = 0; // nothing of ours to delete
        return false;
    }
    const FramePath path = ChooseFramePath(*m_pProject, *m_pMediaInfo);
    const bool started = [&] {
        if (!CreateStatusBlock(path) || !OutputSizeUsable()) return false;
        CreatePosterFrameBlock();
        if (!PrepareEncoders(path) || !CreateDecoderLaunch()) return false;
        StartAudioThread();
        // The decoder before the encoders: its first picture is then queued
        // by the time they have loaded their codecs, and the slowest
        // encoder, which sets the pace of the whole job, never waits for it.
        if (!StartDecoder()) return false;
        for (int k = 0; k < m_cEncoder; ++k)
            if (!StartEncoder(k)) return false;
        m_Watcher = std::thread([this] { Watch(); });
        return true;
    }();
    if (!started) {
        // Ends every helper already started, releases every block and
        // removes the folder: a job that never ran leaves nothing behind.
        Release(true);
        return false;
    }
    const Project& project = *m_pProject;
    Status()->m_Duration = project.m_ClipStop != 0 ? project.m_ClipStop - project.m_ClipStart
                                                   : m_pMediaInfo->m_Duration - project.m_ClipStart;
    StartCaptions();
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
    if (ProjectPictureSize(*m_pProject).width > 0) return true;
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
    const auto [w, h] = ProjectPictureSize(*m_pProject);
    if (CreateBlock(PosterFrameBlockSize(w, h), &m_PosterFrame, "PosterFrame") != 0) return;
    auto* header = static_cast<PosterFrameHeader*>(m_PosterFrame.view);
    *header = PosterFrameHeader{0, w, h, 0};
    Status()->m_hVideoStreams[kPosterFrameStream] = m_PosterFrame.handle;
}

// The blocks and the task of one encoder per chosen format, numbered in the
// formats' order; the decoder's plug-in maps them all as it starts.
bool VideoEncoder::PrepareEncoders(const FramePath& path) {
    const OutputFrameSize size = ProjectPictureSize(*m_pProject);
    const size_t frameBytes = VideoFrameBytes(size.width, size.height, path.pixelFormat);
    const int32_t slotCount = VideoSlotsFor(frameBytes);
    for (int f = 0; f < 3; ++f) {
        if (!m_pProject->m_Formats[f]) continue;
        const int k = m_cEncoder;
        const int32_t codec = m_pProject->m_WebmCodec;
        if (f == 0 && (codec < 0 || codec >= kWebmCodecCount)) {
            LogWrite(kLogError, "Unknown WebM codec %d\n", int(codec));
            return false;
        }
        const OutputFormat& format = f == 0 ? kWebmFormats[codec] : kFormats[f];
        if (!CreateEncoderBlocks(k, frameBytes, slotCount) || !FillEncoderTask(k, format, path))
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
    const OutputFrameSize size = ProjectPictureSize(*m_pProject);
    t->m_Width = size.width;
    t->m_Height = size.height;
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
    // Its sound would go nowhere: the encoders read the import's sample file.
    return LaunchDecoder(m_Launch.handle, handOver, &m_hDecoder, kDecoderVideoThreads, false) == 0;
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
    // A finished job whose package cannot take its name has no package.
    return g_pVideoEncoder->Release(cancel != 0) || cancel ? 0 : -1;
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
    if (!g_pVideoEncoder || !g_pVideoEncoder->m_szFolder[0]) return -1;
    VideoEncoder& job = *g_pVideoEncoder;
    bool ok = true;
    if (generate) {
        // Done long before the videos, as a rule.
        job.EndCaptions();
        const Project* project = CurrentProject();
        ok = project &&
             GeneratePage(job.m_szFolder, *project, CurrentProjectMedia(), job.m_Captions);
    }
    if (out) platform::WFormat(out, kMaxPath, "%ls/index.html", job.m_szFolder);
    return ok ? 0 : -1;
}

} // namespace reelpage
