// The media-information plug-in: run inside the decoder helper during an
// import, it fills the shared media record, writes the thumbnail and the
// whole sound track as a sample file, reports progress and the result to the
// importing window and stores the finished record.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/folders.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wstr.h"
#include "reelpage/helper_log.h"
#include "reelpage/map_block.h"
#include "reelpage/media_store.h"
#include "reelpage/messages.h"
#include "reelpage/plugin.h"
#include "reelpage/records.h"

using namespace reelpage;

namespace {

constexpr int64_t kThumbnailTime = 3000000; // the thumbnail shows the picture at 3 s
constexpr int kWaveHeaderSize = 46;
constexpr int kBitmapHeaderSize = 54;

ProbeRequest* g_pProbe = nullptr;
MediaInfo* g_pMedia = nullptr;

int g_hSampleFile = -1;
int g_hThumbnailFile = -1;
// A side file could not be written whole: the import must fail rather than
// give outputs without sound or poster.
bool g_bWriteFailed = false;
uint64_t g_cbWritten = 0;
uint64_t g_cbExpected = 0;
uint16_t g_nChannels = 0;
uint32_t g_nRate = 0;

int g_nThumbnailState = 0; // 0 first frame, 1 waiting for 3 s, 2 done
bool g_bPictureSeen = false;
int32_t g_nFormat = kPixBgra;
std::unique_ptr<uint8_t[]> g_pThumbnail;
int32_t g_nThumbnailStride = 0;
int64_t g_llLastVideoTime = 0;
uint64_t g_nLastPercent = 0;

// "<AppData>/Zelmorix/MediaInfo/{id}.<ext>": the same files the engine's
// history names.
std::string SideFile(const char* ext) {
    std::string appData;
    platform::GetKnownFolder(platform::KnownFolder::AppData, false, &appData);
    return platform::Format("%s/Zelmorix/MediaInfo/%s.%s", appData.c_str(),
                            platform::GuidToU8String(g_pMedia->m_id).c_str(), ext);
}

int BitsOf(int32_t format) {
    return format == kPixBgr24 ? 24 : 32;
}

void Put16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}
void Put32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

bool WriteAll(int fd, const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// A side file is created fresh and stays open and locked until the import
// ends: the engine's start-up sweep leaves locked files alone and removes
// those an import killed half-way left behind.
int CreateSideFile(const std::string& path) {
    unlink(path.c_str());
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        HelperLog(kHelperLogError, "Faild(%d) to create file:%s\n", errno, path.c_str());
        g_bWriteFailed = true;
        return -1;
    }
    flock(fd, LOCK_EX | LOCK_NB);
    return fd;
}

void WriteThumbnail(const uint8_t* pixels) {
    const std::string path = SideFile("bmp");
    if (g_hThumbnailFile < 0) g_hThumbnailFile = CreateSideFile(path);
    const int fd = g_hThumbnailFile;
    if (fd < 0) return;
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) {
        HelperLog(kHelperLogError, "Faild(%d) to write file:%s\n", errno, path.c_str());
        g_bWriteFailed = true;
        return;
    }
    const int bits = BitsOf(g_nFormat);
    const uint32_t imageSize = uint32_t(g_nThumbnailStride) * uint32_t(g_pMedia->m_Height);
    uint8_t header[kBitmapHeaderSize] = {'B', 'M'};
    Put32(header + 2, kBitmapHeaderSize + imageSize);
    Put32(header + 10, kBitmapHeaderSize);
    Put32(header + 14, 40);
    Put32(header + 18, uint32_t(g_pMedia->m_Width));
    Put32(header + 22, uint32_t(-g_pMedia->m_Height)); // negative: rows top-down
    Put16(header + 26, 1);
    Put16(header + 28, uint16_t(bits));
    Put32(header + 34, imageSize);
    const bool ok = WriteAll(fd, header, sizeof header) && WriteAll(fd, pixels, imageSize);
    if (!ok) {
        HelperLog(kHelperLogError, "Faild(%d) to write file:%s\n", errno, path.c_str());
        g_bWriteFailed = true;
        return;
    }
    g_pMedia->m_SampleFile = 1;
}

void FinishSampleFile() {
    uint8_t h[kWaveHeaderSize] = {};
    // A RIFF file cannot say more than 4 GiB; longer sound keeps its bytes.
    const uint32_t data = uint32_t(std::min<uint64_t>(g_cbWritten, 0xFFFFFFFFu - 38));
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, data + 38);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 18);
    Put16(h + 20, 1);
    Put16(h + 22, g_nChannels);
    Put32(h + 24, g_nRate);
    Put32(h + 28, g_nRate * g_nChannels * 2);
    Put16(h + 32, uint16_t(g_nChannels * 2));
    Put16(h + 34, 16);
    Put16(h + 36, 0);
    std::memcpy(h + 38, "data", 4);
    Put32(h + 42, data);
    if (pwrite(g_hSampleFile, h, sizeof h, 0) != ssize_t(sizeof h)) {
        HelperLog(kHelperLogError, "Faild(%d) to write file:%s\n", errno, SideFile("wav").c_str());
        g_bWriteFailed = true;
    }
}

void StoreRecord() {
    const char* failed = "";
    if (int rc = StoreMediaRecord(*g_pMedia, &failed); rc != 0)
        HelperLog(kHelperLogError, "Faild(%d) to %s\n", rc, failed);
}

int32_t Init(HelperLaunch* launch) {
    HelperLogOpen(launch->m_hLogFile, "Ostrapel");
    platform::SharedBlock probe, media;
    if (!MapBlock(launch->m_hSession, sizeof(ProbeRequest), &probe, "ProbeRequest")) return -1;
    g_pProbe = static_cast<ProbeRequest*>(probe.view);
    if (!MapBlock(g_pProbe->m_hMediaInfo, sizeof(MediaInfo), &media, "MediaInfo")) return -1;
    g_pMedia = static_cast<MediaInfo*>(media.view);
    return 0;
}

int32_t SetDuration(int64_t duration) {
    g_pMedia->m_Duration = duration;
    if (!g_pMedia->m_bAudioStream) return 0;
    const std::string path = SideFile("wav");
    g_hSampleFile = CreateSideFile(path);
    if (g_hSampleFile < 0) return 0;
    if (lseek(g_hSampleFile, kWaveHeaderSize, SEEK_SET) != kWaveHeaderSize) {
        HelperLog(kHelperLogError, "Faild to seek file\n");
        close(g_hSampleFile);
        g_hSampleFile = -1;
        return 0;
    }
    g_nChannels = uint16_t(g_pMedia->m_nChannel);
    g_nRate = uint32_t(g_pMedia->m_SampleRate);
    g_cbExpected =
        uint64_t(g_nRate) * g_nChannels * uint64_t(std::max<int64_t>(duration, 0)) * 2 / 1000000;
    return 0;
}

int32_t SetVideoInfo(int32_t bNoVideo, int32_t format, int32_t width, int32_t height,
                     int32_t codedWidth, int32_t codedHeight, int32_t rateNum, int32_t rateDen,
                     int32_t bitRate) {
    g_pMedia->m_bVideoStream = !bNoVideo;
    g_pMedia->m_VideoFormat = format;
    g_pMedia->m_Width = width;
    g_pMedia->m_Height = height;
    g_pMedia->m_CodecWidth = codedWidth;
    g_pMedia->m_CodecHeight = codedHeight;
    g_pMedia->m_FrameRateNum = rateNum;
    g_pMedia->m_FrameRateDen = rateDen;
    g_pMedia->m_VideoBitRate = bitRate;
    return 0;
}

int32_t SetAudioInfo(int32_t rate, int32_t channels, int32_t bitRate) {
    g_pMedia->m_SampleRate = rate;
    g_pMedia->m_nChannel = channels;
    g_pMedia->m_AudioBitRate = bitRate;
    g_pMedia->m_bAudioStream = 1;
    return 0;
}

int32_t CheckFormat(int32_t format, int32_t width, int32_t height, int32_t targetWidth,
                    int32_t targetHeight) {
    // Frames must fill the thumbnail buffer exactly, which has the source size.
    if ((format == kPixBgr24 || format == kPixBgra || format == kPixBgr0) &&
        targetWidth == g_pMedia->m_Width && targetHeight == g_pMedia->m_Height &&
        width == targetWidth && height == targetHeight) {
        g_nFormat = format;
        return 0;
    }
    return -1;
}

int32_t GetFormat(int32_t* format, int32_t* width, int32_t* height) {
    *format = kPixBgra;
    *width = g_pMedia->m_Width;
    *height = g_pMedia->m_Height;
    g_nFormat = kPixBgra;
    return 0;
}

int32_t Poll(int64_t*) {
    const MediaInfo& m = *g_pMedia;
    if (m.m_Duration == 0 || (!m.m_bAudioStream && !m.m_bVideoStream)) return 0;
    uint64_t percent = 0;
    if (m.m_bAudioStream) {
        if (g_cbExpected > 0) percent = g_cbWritten * 100 / g_cbExpected;
    } else if (g_llLastVideoTime > 0 && m.m_Duration > 0) {
        percent = uint64_t(g_llLastVideoTime) * 100 / uint64_t(m.m_Duration);
    }
    // 100 is said once, when the record is complete (EndOfStream); a count
    // that runs past its estimate (sound longer than the container said)
    // holds the bar where it is instead of sending it back.
    if (percent >= 100) return 0;
    if (percent != g_nLastPercent) {
        platform::PostMessage(g_pProbe->m_hwndMessage, g_pProbe->m_uMsgProgress, int64_t(percent),
                              g_pProbe->m_lParam);
        g_nLastPercent = percent;
    }
    return 0;
}

int32_t GetFrameBuffer(void* planes[3], int32_t strides[3], int64_t time) {
    g_llLastVideoTime = time;
    const int width = g_pMedia->m_Width, height = g_pMedia->m_Height;
    switch (g_nThumbnailState) {
    case 0: {
        if (width <= 0 || height <= 0) return -1;
        // Rows of a 24-bit bitmap are padded to four bytes; the buffer is laid
        // out as the file needs it.
        const int bytes = BitsOf(g_nFormat) / 8;
        g_nThumbnailStride = (width * bytes + 3) & ~3;
        const size_t size = size_t(g_nThumbnailStride) * size_t(height);
        g_pThumbnail.reset(new (std::nothrow) uint8_t[size]);
        if (!g_pThumbnail) return -1;
        // Conversion fills every pixel; only the padding of 24-bit rows
        // would be left as it was (zeroing 8 MB at 1080p costs page faults).
        if (g_nThumbnailStride != width * bytes) std::memset(g_pThumbnail.get(), 0, size);
        g_nThumbnailState = 1;
        break;
    }
    case 1:
        if (time < kThumbnailTime) return 1;
        g_nThumbnailState = 2;
        break;
    default:
        return -1;
    }
    planes[0] = g_pThumbnail.get();
    planes[1] = planes[2] = nullptr;
    strides[0] = g_nThumbnailStride;
    strides[1] = strides[2] = 0;
    return 0;
}

int32_t FrameReady(void* planes[3], int32_t*, int64_t) {
    g_bPictureSeen = true;
    WriteThumbnail(static_cast<const uint8_t*>(planes[0]));
    // The picture at 3 s is the last one: its buffer is not needed any more.
    if (g_nThumbnailState == 2) g_pThumbnail.reset();
    return 0;
}

int32_t AudioData(const void* pcm, int32_t bytes) {
    if (g_hSampleFile < 0 || bytes <= 0) return 0;
    if (!WriteAll(g_hSampleFile, pcm, size_t(bytes))) {
        HelperLog(kHelperLogError, "Faild(%d) to write file:%s\n", errno, SideFile("wav").c_str());
        g_bWriteFailed = true;
        close(g_hSampleFile);
        g_hSampleFile = -1;
        return 0;
    }
    g_cbWritten += uint64_t(bytes);
    return 0;
}

int32_t EndOfStream(int64_t time) {
    MediaInfo& m = *g_pMedia;
    // A video stream whose header promises pictures that never came (a
    // container with no frames) is no video: it would pass as a clip of no
    // length and fail only at encoding.
    if (m.m_bVideoStream && !g_bPictureSeen) {
        HelperLog(kHelperLogError, "%s holds no picture\n", platform::ToUtf8(m.m_szFileName).c_str());
        m.m_bVideoStream = 0;
    }
    if (!m.m_bVideoStream) time = 0;
    int64_t audioDuration = 0;
    if (m.m_bAudioStream) {
        if (g_hSampleFile >= 0) FinishSampleFile();
        if (g_cbWritten == 0) {
            unlink(SideFile("wav").c_str());
            m.m_bAudioStream = 0;
        } else {
            audioDuration = int64_t(g_cbWritten * 1000000 / (uint64_t(g_nRate) * g_nChannels * 2));
        }
    }
    if (g_bWriteFailed) {
        // Half a sound track gives outputs whose sound stops early; no
        // thumbnail gives them no poster. Nothing of this import is kept.
        HelperLog(kHelperLogError,
                  "The import of %s failed: its thumbnail or sample file could not be written\n",
                  platform::ToUtf8(m.m_szFileName).c_str());
        unlink(SideFile("wav").c_str());
        unlink(SideFile("bmp").c_str());
        platform::SendMessage(g_pProbe->m_hwndMessage, g_pProbe->m_uMsgDone, kProbeFailed,
                              g_pProbe->m_lParam);
        return -1;
    }
    m.m_Duration = std::max(time, audioDuration);
    if (m.m_bVideoStream || m.m_bAudioStream) StoreRecord();
    // Unlocked only now that the store names them.
    for (int* fd : {&g_hSampleFile, &g_hThumbnailFile}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    platform::SendMessage(g_pProbe->m_hwndMessage, g_pProbe->m_uMsgProgress, 100,
                          g_pProbe->m_lParam);
    platform::SendMessage(g_pProbe->m_hwndMessage, g_pProbe->m_uMsgDone, kProbeOk,
                          g_pProbe->m_lParam);
    return -1;
}

int32_t OpenFailed(int32_t) {
    platform::SendMessage(g_pProbe->m_hwndMessage, g_pProbe->m_uMsgDone, kProbeUnsupported,
                          g_pProbe->m_lParam);
    return 0;
}

} // namespace

REELPAGE_PLUGIN_ENTRY {
    table->Init = Init;
    table->SetDuration = SetDuration;
    table->SetVideoInfo = SetVideoInfo;
    table->SetAudioInfo = SetAudioInfo;
    table->CheckFormat = CheckFormat;
    table->GetFormat = GetFormat;
    table->Poll = Poll;
    table->GetFrameBuffer = GetFrameBuffer;
    table->FrameReady = FrameReady;
    table->AudioData = AudioData;
    table->EndOfStream = EndOfStream;
    table->OpenFailed = OpenFailed;
}
