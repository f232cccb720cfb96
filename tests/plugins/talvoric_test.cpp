// The encoding plug-in, loaded by a stand-in for the decoder helper (a child
// of the test) and fed synthetic frames; the test plays the engine and the
// encoders and checks what arrives in the frame slots.
#include "VideoStreamReader.h"
#include "child.h"
#include "media_fixtures.h"
#include "preview_harness.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "picture/encoders.h"
#include "platform/event.h"
#include "platform/filetime.h"
#include "platform/interlocked.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/blocks.h"
#include "reelpage/messages.h"
#include "reelpage/plugin.h"
#include "reelpage/records.h"

namespace {

using namespace reelpage;

// The synthetic source: every sample says where it is, so moved pixels can be
// traced back. Frame index i shifts luma so frames can be told apart.
uint8_t SourceY(int x, int y, int i) {
    return uint8_t(x * 3 + y * 5 + i);
}
uint8_t SourceU(int x, int y) {
    return uint8_t(x * 7 + y * 11 + 50);
}
uint8_t SourceV(int x, int y) {
    return uint8_t(x * 13 + y * 3 + 100);
}
// BGRA source: quadrants red, green / blue, white, frame index in alpha.
picture::Bgra SourcePixel(int x, int y, int w, int h) {
    const bool right = x >= w / 2, bottom = y >= h / 2;
    if (!bottom) return right ? picture::Bgra{0, 255, 0, 255} : picture::Bgra{0, 0, 255, 255};
    return right ? picture::Bgra{255, 255, 255, 255} : picture::Bgra{255, 0, 0, 255};
}

// The decoder helper's duty, as far as the plug-in sees it. Arguments: the
// launch block's handle, frame times in microseconds (comma separated), a
// uniform grey level for BGRA frames (-1: quadrants), "openfail" to report
// a source that cannot be opened or "picture=PATH" for BGRA frames read from
// a raw picture of the asked size.
REELPAGE_CHILD(talvoric_host) {
    void* lib = dlopen((std::string(REELPAGE_PROGRAM_DIR) + "/talvoric.so").c_str(), RTLD_NOW);
    if (!lib) return 2;
    auto entry = reinterpret_cast<PluginEntry>(dlsym(lib, kPluginEntryName));
    if (!entry) return 2;
    PluginCallbacks cb{};
    entry(0, &cb);
    platform::SharedBlock launch;
    if (platform::MapSharedBlock(std::stoi(args[0]), sizeof(HelperLaunch), &launch) != 0) return 2;
    if (cb.Init(static_cast<HelperLaunch*>(launch.view)) != 0) return 3;
    if (args.size() > 3 && args[3] == "openfail") {
        cb.OpenFailed(0);
        return 0;
    }
    int32_t format = 0, w = 0, h = 0;
    cb.GetFormat(&format, &w, &h);
    if (cb.CheckFormat(format, w, h, w, h) != 0) return 4;
    if (cb.CheckFormat(format, w + 2, h, w + 2, h) == 0) return 4;
    const int grey = std::stoi(args[2]);
    std::vector<uint8_t> raw;
    if (args.size() > 3 && args[3].rfind("picture=", 0) == 0) {
        std::ifstream in(args[3].substr(8), std::ios::binary);
        raw.assign(std::istreambuf_iterator<char>(in), {});
        if (raw.size() != size_t(w) * h * 4) return 6;
    }
    std::stringstream times(args[1]);
    std::string item;
    int i = 0;
    int64_t last = 0;
    while (std::getline(times, item, ',')) {
        last = std::stoll(item);
        void* planes[3] = {};
        int32_t strides[3] = {};
        if (cb.GetFrameBuffer(planes, strides, last) != 0) {
            ++i;
            continue;
        }
        auto* p0 = static_cast<uint8_t*>(planes[0]);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (format == kPixYuv420) {
                    p0[y * strides[0] + x] = SourceY(x, y, i);
                    if (x < w / 2 && y < h / 2) {
                        static_cast<uint8_t*>(planes[1])[y * strides[1] + x] = SourceU(x, y);
                        static_cast<uint8_t*>(planes[2])[y * strides[2] + x] = SourceV(x, y);
                    }
                } else if (!raw.empty()) {
                    std::memcpy(p0 + y * strides[0] + x * 4, &raw[(size_t(y) * w + x) * 4], 4);
                } else {
                    picture::Bgra px =
                        grey >= 0 ? picture::Bgra{uint8_t(grey), uint8_t(grey), uint8_t(grey), 255}
                                  : SourcePixel(x, y, w, h);
                    std::memcpy(p0 + y * strides[0] + x * 4, &px, 4);
                }
            }
        cb.FrameReady(planes, strides, last);
        ++i;
    }
    cb.EndOfStream(last);
    return 5; // EndOfStream never returns
}

struct JobSpec {
    int srcW = 64, srcH = 48;
    int outW = 64, outH = 48;
    int transform = kTransformPassThrough;
    int orientation = 0;
    int resize = 0;
    int cropL = 0, cropT = 0, cropW = -1, cropH = -1; // -1: the oriented source
    int brightness = 0, contrast = 0;
    int fpsNum = 25, fpsDen = 1;
    int64_t clipStart = 0, clipStop = 0;
    std::string watermark;
    int wmL = 0, wmT = 0, wmW = 0, wmH = 0, wmTransparency = 0;
    int encoders = 1;
    int slots = 0; // the job's slot count as the engine sets it; 0 leaves the header's default
    std::function<void(Project&)> edit; // further project fields
};

struct OutFrame {
    std::vector<uint8_t> bytes;
    bool repeat = false;
};

class TalvoricJob {
public:
    explicit TalvoricJob(const JobSpec& s) : m_spec(s) {
        platform::RouterInit();
        m_window = platform::RouterCreateWindow(
            [this](uint32_t, uint32_t msg, int64_t w, int64_t l) -> int64_t {
                m_messages.push_back({msg, w, l});
                return 0;
            });
        const bool planar =
            s.transform == kTransformPassThrough || s.transform == kTransformOrientOnly;
        m_frameBytes = VideoFrameBytes(s.outW, s.outH, planar ? kPixYuv420 : kPixBgra);
        Create(sizeof(MediaInfo), &m_media);
        auto* m = static_cast<MediaInfo*>(m_media.view);
        m->m_hSelf = m_media.handle;
        m->m_Width = s.srcW;
        m->m_Height = s.srcH;
        m->m_FrameRateNum = s.fpsNum;
        m->m_FrameRateDen = s.fpsDen;
        // At the end the plug-in checks that the source is still the file the
        // record measured; the test program stands in for a source here.
        const std::string source = std::filesystem::read_symlink("/proc/self/exe").string();
        struct stat st {};
        EXPECT_EQ(stat(source.c_str(), &st), 0);
        platform::WStrCopy(m->m_szFileName, platform::FromUtf8(source));
        m->m_FileSize = int64_t(st.st_size);
        m->m_CreationTime = platform::FileTimeFromTimespec(st.st_mtim);
        Create(sizeof(Project), &m_project);
        auto* p = static_cast<Project*>(m_project.view);
        p->m_hSelf = m_project.handle;
        p->m_OutputWidth = s.outW;
        p->m_OutputHeight = s.outH;
        p->m_ResizeMethod = s.resize;
        p->m_Orientation = s.orientation;
        const bool swap = s.orientation & 1;
        p->m_CropLeft = s.cropL;
        p->m_CropTop = s.cropT;
        p->m_CropWidth = s.cropW >= 0 ? s.cropW : (swap ? s.srcH : s.srcW);
        p->m_CropHeight = s.cropH >= 0 ? s.cropH : (swap ? s.srcW : s.srcH);
        p->m_Brightness = s.brightness;
        p->m_Contrast = s.contrast;
        p->m_ClipStart = s.clipStart;
        p->m_ClipStop = s.clipStop;
        platform::WStrCopy(p->m_WatermarkFile, platform::FromUtf8(s.watermark));
        p->m_WatermarkLeft = s.wmL;
        p->m_WatermarkTop = s.wmT;
        p->m_WatermarkWidth = s.wmW;
        p->m_WatermarkHeight = s.wmH;
        p->m_WatermarkTransparency = s.wmTransparency;
        if (s.edit) s.edit(*p);
        Create(sizeof(Talvoricer), &m_talvoricer);
        auto* t = Talv();
        t->m_cEncoder = s.encoders;
        t->m_hMediaInfo = m_media.handle;
        t->m_hTaskList = m_project.handle;
        t->m_hwndMessage = m_window;
        t->m_lParam = 77;
        t->m_Transform = s.transform;
        t->m_FlipXY = swap ? 1 : 0;
        for (int k = 0; k < s.encoders; ++k) {
            Create(k == 0 ? VideoStreamBlockSize(m_frameBytes, s.slots > 0 ? s.slots : kVideoSlots)
                          : kSharedVideoBlockSize,
                   &m_video[k]);
            Header(k)->m_cSlots = s.slots;
            Header(k)->m_hFrameEvent = platform::CreateEvent(true);
            Header(k)->m_hSlotEvent = platform::CreateEvent(true);
            t->m_hVideoStreams[k] = m_video[k].handle;
        }
        Create(sizeof(HelperLaunch), &m_launch);
        auto* l = static_cast<HelperLaunch*>(m_launch.view);
        l->m_hSession = m_talvoricer.handle;
        l->m_llStart = s.clipStart;
    }
    ~TalvoricJob() {
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            testing_child::WaitExit(m_child);
        }
        for (int k = 0; k < m_spec.encoders; ++k) {
            platform::CloseEvent(Header(k)->m_hFrameEvent);
            platform::CloseEvent(Header(k)->m_hSlotEvent);
            platform::CloseSharedBlock(&m_video[k]);
        }
        for (auto* b : {&m_media, &m_project, &m_talvoricer, &m_launch})
            platform::CloseSharedBlock(b);
        platform::RouterDestroyWindow(m_window);
    }

    void Start(const std::vector<int64_t>& times, int grey = -1, const char* extra = "") {
        std::string list;
        for (int64_t t : times)
            list += (list.empty() ? "" : ",") + std::to_string(t);
        m_child = testing_child::Spawn(
            "talvoric_host", {std::to_string(m_launch.handle), list, std::to_string(grey), extra});
    }

    // Reads encoder k's queue as an encoder would: to its end, or, with a
    // quiet time, until nothing new has come for that long.
    std::vector<OutFrame> Consume(int k = 0, int quietMs = -1) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        auto quiet = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < until) {
            switch (ReadOne(k)) {
            case enc::VideoStreamReader::Next::End:
                return m_frames[k];
            case enc::VideoStreamReader::Next::None:
                if (quietMs >= 0 &&
                    std::chrono::steady_clock::now() - quiet > std::chrono::milliseconds(quietMs))
                    return m_frames[k];
                platform::WaitForHandle(Header(k)->m_hFrameEvent, 50);
                break;
            default:
                quiet = std::chrono::steady_clock::now();
            }
        }
        ADD_FAILURE() << "the queue never ended";
        return m_frames[k];
    }

    // Reads every encoder's queue to its end side by side, a read from each
    // in turn, as the encoders' own processes do. Reading one queue to its
    // end before the next only ends when the rest of the job fits in the
    // slots: the producer waits for the encoder that is not read.
    std::vector<std::vector<OutFrame>> ConsumeTogether() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::vector<bool> ended(m_spec.encoders, false);
        int left = m_spec.encoders;
        while (left > 0 && std::chrono::steady_clock::now() < until) {
            bool moved = false;
            for (int k = 0; k < m_spec.encoders; ++k) {
                if (ended[k]) continue;
                const auto next = ReadOne(k);
                if (next == enc::VideoStreamReader::Next::End) {
                    ended[k] = true;
                    --left;
                }
                moved |= next != enc::VideoStreamReader::Next::None;
            }
            if (!moved) platform::WaitForHandle(Header(0)->m_hFrameEvent, 10);
        }
        if (left > 0) ADD_FAILURE() << left << " queues never ended";
        return {m_frames, m_frames + m_spec.encoders};
    }

    int Exit(bool waitForMessage = true) {
        const int rc = testing_child::WaitExitWithin(m_child, 20000);
        EXPECT_NE(rc, -2) << "the plug-in never ended; killed";
        m_child = -1;
        if (!waitForMessage) return rc;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_messages.empty() && std::chrono::steady_clock::now() < until) {
            platform::WaitForHandle(platform::RouterWakeHandle(), 100);
            platform::RouterDispatch();
        }
        return rc;
    }

    struct Msg {
        uint32_t msg;
        int64_t wParam, lParam;
    };
    const std::vector<Msg>& Messages() const { return m_messages; }
    int Child() const { return m_child; }
    Talvoricer* Talv() { return static_cast<Talvoricer*>(m_talvoricer.view); }
    VideoStreamHeader* Header(int k) { return static_cast<VideoStreamHeader*>(m_video[k].view); }

private:
    // One read of encoder k's queue; a picture or a repeat is kept.
    enc::VideoStreamReader::Next ReadOne(int k) {
        if (!m_readers[k]) {
            const uint8_t* slots = static_cast<uint8_t*>(m_video[0].view) + kVideoSlotsOffset;
            m_readers[k] = std::make_unique<enc::VideoStreamReader>(Header(k), slots, m_frameBytes);
        }
        const uint8_t* data = nullptr;
        const auto next = m_readers[k]->Read(&data);
        if (next == enc::VideoStreamReader::Next::Frame)
            m_frames[k].push_back({std::vector<uint8_t>(data, data + m_frameBytes), false});
        else if (next == enc::VideoStreamReader::Next::Repeat)
            m_frames[k].push_back({m_frames[k].back().bytes, true});
        return next;
    }

    static void Create(size_t size, platform::SharedBlock* b) {
        ASSERT_EQ(platform::CreateSharedBlock(size, true, b), 0);
    }
    JobSpec m_spec;
    size_t m_frameBytes = 0;
    platform::SharedBlock m_media, m_project, m_talvoricer, m_launch, m_video[3];
    uint32_t m_window = 0;
    int m_child = -1;
    std::vector<Msg> m_messages;
    std::unique_ptr<enc::VideoStreamReader> m_readers[3];
    std::vector<OutFrame> m_frames[3];
};

std::vector<int64_t> Times(int count, int64_t step, int64_t from = 0) {
    std::vector<int64_t> t;
    for (int i = 0; i < count; ++i)
        t.push_back(from + i * step);
    return t;
}

void ExpectFinished(TalvoricJob& job) {
    EXPECT_EQ(job.Exit(), 0);
    ASSERT_EQ(job.Messages().size(), 1u);
    EXPECT_EQ(job.Messages()[0].msg, kMsgDecodeDone);
    EXPECT_EQ(job.Messages()[0].wParam, kDecodeFinished);
    EXPECT_EQ(job.Talv()->m_EndOfStream, 1);
    EXPECT_EQ(job.Header(0)->m_bEndOfStream, 1);
    EXPECT_EQ(job.Header(0)->m_cSlotsInUse, 0);
}

TEST(Talvoric, PassThroughHandsTheDecodedPlanesOnUntouched) {
    JobSpec s;
    TalvoricJob job(s);
    job.Start(Times(3, 40000));
    auto frames = job.Consume();
    ExpectFinished(job);
    ASSERT_EQ(frames.size(), 3u);
    const uint8_t* f = frames[2].bytes.data();
    const uint8_t* u = f + 64 * 48;
    const uint8_t* v = u + 32 * 24;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(f[y * 64 + x], SourceY(x, y, 2));
    EXPECT_EQ(u[5 * 32 + 7], SourceU(7, 5));
    EXPECT_EQ(v[23 * 32 + 31], SourceV(31, 23));
}

// Orientation alone (path 1): each plane, chroma included, is turned.
TEST(Talvoric, OrientationAloneTurnsLumaAndChroma) {
    for (int orientation : {2, 1}) {
        SCOPED_TRACE(orientation);
        JobSpec s;
        s.transform = kTransformOrientOnly;
        s.orientation = orientation;
        if (orientation == 1) std::swap(s.outW, s.outH);
        TalvoricJob job(s);
        job.Start(Times(2, 40000));
        auto frames = job.Consume();
        ExpectFinished(job);
        ASSERT_EQ(frames.size(), 2u);
        const int W = s.outW, H = s.outH;
        const uint8_t* f = frames[1].bytes.data();
        const uint8_t* u = f + W * H;
        const uint8_t* v = u + (W / 2) * (H / 2);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                // Half turn: (x, y) -> (w-1-x, h-1-y); quarter left: (y, w-1-x).
                const int dx = orientation == 2 ? 63 - x : y;
                const int dy = orientation == 2 ? 47 - y : 63 - x;
                ASSERT_EQ(f[dy * W + dx], SourceY(x, y, 1)) << x << "," << y;
            }
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x) {
                const int dx = orientation == 2 ? 31 - x : y;
                const int dy = orientation == 2 ? 23 - y : 31 - x;
                ASSERT_EQ(u[dy * (W / 2) + dx], SourceU(x, y)) << x << "," << y;
                ASSERT_EQ(v[dy * (W / 2) + dx], SourceV(x, y)) << x << "," << y;
            }
    }
}

picture::Bgra At(const OutFrame& f, int W, int x, int y) {
    picture::Bgra p;
    std::memcpy(&p, f.bytes.data() + (size_t(y) * W + x) * 4, 4);
    return p;
}

// Orientation with a resize (path 3): the quadrants move as the turn says and
// the picture is scaled into the output.
TEST(Talvoric, TurnedThenFittedIntoTheOutput) {
    JobSpec s;
    s.transform = kTransformOrientResize;
    s.orientation = 3; // a quarter turn to the right: (x, y) -> (h-1-y, x)
    s.outW = 24;
    s.outH = 32;
    TalvoricJob job(s);
    job.Start(Times(1, 40000));
    auto frames = job.Consume();
    ExpectFinished(job);
    ASSERT_EQ(frames.size(), 1u);
    // Source quadrants: TL red, TR green, BL blue, BR white. Turned right,
    // the top left of the result is the source's bottom left.
    EXPECT_EQ(At(frames[0], 24, 4, 4), (picture::Bgra{255, 0, 0, 255}));      // blue
    EXPECT_EQ(At(frames[0], 24, 20, 4), (picture::Bgra{0, 0, 255, 255}));     // red
    EXPECT_EQ(At(frames[0], 24, 4, 28), (picture::Bgra{255, 255, 255, 255})); // white
    EXPECT_EQ(At(frames[0], 24, 20, 28), (picture::Bgra{0, 255, 0, 255}));    // green
}

TEST(Talvoric, LetterboxLeavesBlackBarsAndAppliesBrightness) {
    JobSpec s;
    s.transform = kTransformResize;
    s.srcW = 1280;
    s.srcH = 720;
    s.outW = 640;
    s.outH = 480;
    s.resize = 1;
    s.brightness = 20;
    TalvoricJob job(s);
    job.Start(Times(2, 40000), 128);
    auto frames = job.Consume();
    ExpectFinished(job);
    ASSERT_EQ(frames.size(), 2u);
    for (int y : {0, 30, 59, 420, 479})
        EXPECT_EQ(At(frames[1], 640, 320, y).g, 0) << y;
    for (int y : {60, 240, 419}) {
        EXPECT_EQ(At(frames[1], 640, 0, y).g, 148) << y; // 128 brightened by 20
        EXPECT_EQ(At(frames[1], 640, 639, y).r, 148) << y;
    }
}

class TalvoricWatermark : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("wm-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
        picture::Bitmap b;
        ASSERT_EQ(b.Create(8, 8), picture::Error::None);
        b.View().Fill({0, 0, 255, 255}); // opaque red
        picture::EncoderId png;
        ASSERT_TRUE(picture::FindEncoderByMimeType("image/png", png));
        m_png = (m_dir / "wm.png").string();
        ASSERT_EQ(picture::SavePicture(b, m_png, png), picture::Error::None);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
    std::string m_png;
};

TEST_F(TalvoricWatermark, TransparencyZeroHundredAndOpaqueNothing) {
    for (int transparency : {0, 100, 255}) {
        SCOPED_TRACE(transparency);
        JobSpec s;
        s.transform = kTransformEffectsOnly;
        s.watermark = m_png;
        s.wmL = 10;
        s.wmT = 6;
        s.wmW = 16;
        s.wmH = 16;
        s.wmTransparency = transparency;
        TalvoricJob job(s);
        job.Start(Times(1, 40000), 100);
        auto frames = job.Consume();
        ExpectFinished(job);
        ASSERT_EQ(frames.size(), 1u);
        const picture::Bgra inside = At(frames[0], 64, 17, 13);
        const int alpha = 255 * (255 - transparency) / 255;
        EXPECT_NEAR(inside.r, (255 * alpha + 100 * (255 - alpha)) / 255, 1);
        EXPECT_NEAR(inside.g, 100 * (255 - alpha) / 255, 1);
        EXPECT_EQ(At(frames[0], 64, 9, 13), (picture::Bgra{100, 100, 100, 255}));  // left of it
        EXPECT_EQ(At(frames[0], 64, 26, 13), (picture::Bgra{100, 100, 100, 255})); // right of it
    }
}

// A watermark over the bars of a letterbox is drawn onto cleared bars each
// time, so it looks the same in every frame, however often a slot is reused.
TEST_F(TalvoricWatermark, OverTheBarsItDoesNotBuildUpAcrossReusedSlots) {
    JobSpec s;
    s.transform = kTransformResize;
    s.srcW = 64;
    s.srcH = 24;
    s.outW = 64;
    s.outH = 48;
    s.resize = 1; // bars of 12 rows above and below
    s.watermark = m_png;
    s.wmW = s.wmH = 8;
    s.wmTransparency = 200;
    TalvoricJob job(s);
    job.Start(Times(40, 40000), 100);
    auto frames = job.Consume();
    ExpectFinished(job);
    ASSERT_EQ(frames.size(), 40u);
    EXPECT_GT(At(frames[0], 64, 2, 2).r, 0);
    EXPECT_EQ(At(frames[39], 64, 2, 2), At(frames[0], 64, 2, 2));
}

TEST(Talvoric, AGapIsFilledByRepeatingOneSlot) {
    JobSpec s; // 25 fps
    TalvoricJob job(s);
    job.Start({0, 40000, 80000, 1080000, 1120000});
    auto frames = job.Consume();
    ExpectFinished(job);
    // 3 frames, then the one after the gap stands for 25 output frames, then 1.
    ASSERT_EQ(frames.size(), 29u);
    int pictures = 0;
    for (const OutFrame& f : frames)
        pictures += f.repeat ? 0 : 1;
    EXPECT_EQ(pictures, 5);
    for (int n = 4; n < 28; ++n)
        EXPECT_TRUE(frames[n].repeat) << n;
    EXPECT_EQ(job.Header(0)->m_cFramesAnnounced, 29);
    EXPECT_EQ(job.Talv()->m_Pts, 1120000);
}

TEST(Talvoric, FramesBeforeTheClipAreDroppedAndTheClipStopEndsTheJob) {
    JobSpec s;
    s.clipStart = 1000000;
    s.clipStop = 1200000;
    TalvoricJob job(s);
    // From a key frame half a second before the clip to well after its end.
    job.Start(Times(30, 40000, 520000));
    auto frames = job.Consume();
    ExpectFinished(job);
    // Output frames at clip times 0 .. 0.16 s from the source frames of 1.0 s
    // (index 12) on: 0.2 s of picture, like the 0.2 s of sound. The frame of
    // 1.2 s ends the job.
    ASSERT_EQ(frames.size(), 5u);
    for (size_t n = 0; n < frames.size(); ++n) {
        EXPECT_FALSE(frames[n].repeat);
        EXPECT_EQ(frames[n].bytes[0], SourceY(0, 0, 12 + int(n))) << n;
    }
    // Frames before the clip never took a slot.
    EXPECT_EQ(job.Header(0)->m_SlotOfFrame[0], 0);
    EXPECT_EQ(job.Talv()->m_Pts, 160000);
}

// Time stamps rounded by the container (milliseconds, as in Matroska and
// WebM) come a little before or after the output times: each frame is still
// queued once, at its nearest output time.
TEST(Talvoric, RoundedTimeStampsGiveEachFrameOnce) {
    for (const auto& [num, den] :
         std::vector<std::pair<int, int>>{{30, 1}, {30000, 1001}, {60, 1}}) {
        SCOPED_TRACE(num);
        JobSpec s;
        s.fpsNum = num;
        s.fpsDen = den;
        std::vector<int64_t> times;
        for (int i = 0; i < 40; ++i) // milliseconds, rounded half up, then jittered
            times.push_back((int64_t(i) * 1000 * den + num / 2) / num * 1000 + (i % 3 - 1) * 1000);
        times[0] = 0;
        TalvoricJob job(s);
        job.Start(times);
        auto frames = job.Consume();
        ExpectFinished(job);
        ASSERT_EQ(frames.size(), 40u);
        for (size_t n = 0; n < frames.size(); ++n) {
            EXPECT_FALSE(frames[n].repeat) << n;
            EXPECT_EQ(frames[n].bytes[0], SourceY(0, 0, int(n))) << n;
        }
    }
}

// A job's slot count is what the engine chose for its picture size, down to
// three; a header that names none has sixteen.
TEST(Talvoric, TheProducerWaitsForTheSlowestEncoder) {
    for (const auto& [slots, held] : std::vector<std::pair<int, int>>{{0, 16}, {16, 16}, {3, 3}}) {
        SCOPED_TRACE(slots);
        JobSpec s;
        s.encoders = 2;
        s.slots = slots;
        TalvoricJob job(s);
        job.Start(Times(40, 40000));
        // Encoder 1 reads nothing yet: the producer stops once every slot is
        // in use, whatever encoder 0 has given back. How long the helper
        // takes to get there depends on the machine (a sanitized build under
        // load takes seconds): that is waited for, and only then does a quiet
        // half second show that it stopped.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (job.Header(1)->m_cSlotsInUse < held && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto first = job.Consume(0, 500);
        EXPECT_EQ(first.size(), size_t(held));
        EXPECT_EQ(job.Header(1)->m_cSlotsInUse, held);
        const auto all = job.ConsumeTogether();
        ExpectFinished(job);
        EXPECT_EQ(job.Header(1)->m_cSlotsInUse, 0);
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(all[k].size(), 40u) << k;
            // Every frame is its own picture: no slot was written while read.
            for (size_t n = 0; n < all[k].size(); ++n) {
                EXPECT_FALSE(all[k][n].repeat) << k << " " << n;
                EXPECT_EQ(all[k][n].bytes[0], SourceY(0, 0, int(n))) << k << " " << n;
            }
        }
    }
}

// libavfilter and the libraries it brings are mapped only by a job that
// blurs or sharpens.
TEST(Talvoric, OnlyBlurOrSharpenLoadsTheFilterLibrary) {
    const struct {
        const char* name;
        int transform;
        std::function<void(Project&)> edit;
        bool loaded;
    } kCases[] = {
        {"plain", kTransformPassThrough, nullptr, false},
        {"brightness", kTransformEffectsOnly, [](Project& p) { p.m_Brightness = 20; }, false},
        {"blur", kTransformEffectsOnly, [](Project& p) { p.m_BlurRadius = 2; }, true},
        {"sharpen", kTransformEffectsOnly,
         [](Project& p) { p.m_SharpenRadius = 2, p.m_SharpenAmount = 50; }, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        JobSpec s;
        s.transform = c.transform;
        s.edit = c.edit;
        TalvoricJob job(s);
        // Nothing is read: the producer fills every slot, each picture
        // composed, and waits.
        job.Start(Times(40, 40000));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (platform::LoadAcquire(&job.Header(0)->m_cSlotsInUse) < kVideoSlots &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(job.Header(0)->m_cSlotsInUse, kVideoSlots);
        std::ifstream maps("/proc/" + std::to_string(job.Child()) + "/maps");
        const std::string text{std::istreambuf_iterator<char>(maps), {}};
        ASSERT_NE(text.find("talvoric.so"), std::string::npos);
        EXPECT_EQ(text.find("/libavfilter.so") != std::string::npos, c.loaded);
    }
}

TEST(Talvoric, OpenFailedReportsMinusOneWithTheCookie) {
    JobSpec s;
    TalvoricJob job(s);
    job.Start({}, -1, "openfail");
    EXPECT_EQ(job.Exit(), 0);
    ASSERT_EQ(job.Messages().size(), 1u);
    EXPECT_EQ(job.Messages()[0].msg, kMsgDecodeDone);
    EXPECT_EQ(job.Messages()[0].wParam, kDecodeFailed);
    EXPECT_EQ(job.Messages()[0].lParam, 77);
}

TEST(Talvoric, InitRefusesBlocksItCannotUse) {
    {
        JobSpec s;
        s.encoders = 1;
        TalvoricJob job(s);
        job.Talv()->m_hVideoStreams[0] = 999; // not a block
        job.Start(Times(1, 40000));
        EXPECT_EQ(job.Exit(false), 3);
    }
    {
        JobSpec s;
        s.outW = 32; // pass-through needs the source size
        TalvoricJob job(s);
        job.Start(Times(1, 40000));
        EXPECT_EQ(job.Exit(false), 3);
    }
}

} // namespace

namespace {

// Every effect on at a middle setting.
void AllEffects(Project& p) {
    p.m_Brightness = 10, p.m_Contrast = 10;
    p.m_Hue = 30, p.m_Saturation = 20, p.m_Lightness = 10;
    p.m_BlurRadius = 4, p.m_BlurExpandEdge = -1;
    p.m_SharpenRadius = 6, p.m_SharpenAmount = 15;
    p.m_TintHue = 40, p.m_TintAmount = 20;
    p.m_LevelsHighlight = 10, p.m_LevelsMidtone = 20, p.m_LevelsShadow = 10;
    p.m_CyanRed = 20, p.m_MagentaGreen = -10, p.m_YellowBlue = 15;
    p.m_Exposure = 20, p.m_Density = 20;
    p.m_WhiteSaturation = 30, p.m_BlackSaturation = 20;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a[i]) - b[i];
        sum += d * d;
        ++n;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / (sum / n));
}

} // namespace

// The same source frame, letterboxed from 4:3 into 16:9 with every effect on,
// composed by the preview plug-in (run by the real decoder helper from a
// lossless file) and by the encoding plug-in: the same picture.
TEST(Talvoric, PreviewAndOutputComposeTheSamePictureWithEveryEffect) {
    const std::string dir = std::filesystem::temp_directory_path() / "effects_agree";
    std::filesystem::create_directories(dir);
    const std::string video = dir + "/source.mkv", raw = dir + "/frame.bgra";
    ASSERT_TRUE(testing_media::Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25",
                                       "-frames:v", "1", "-c:v", "ffv1", "-pix_fmt", "bgra",
                                       video}));
    ASSERT_TRUE(testing_media::Ffmpeg(
        {"-i", video, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra", raw}));

    JobSpec s;
    s.transform = kTransformResize;
    s.srcW = 160, s.srcH = 120, s.outW = 128, s.outH = 72, s.resize = 1;
    s.edit = AllEffects;
    TalvoricJob job(s);
    job.Start(Times(1, 40000), -1, ("picture=" + raw).c_str());
    auto frames = job.Consume();
    ExpectFinished(job);
    ASSERT_EQ(frames.size(), 1u);

    preview_test::PreviewHarness h(
        {.file = video, .width = 160, .height = 120, .outWidth = 128, .outHeight = 72, .resize = 1});
    ASSERT_NE(h.WaitFrame(), nullptr);
    AllEffects(h.Project());
    h.Post(kCmdAdjustmentsChanged);
    const preview_test::DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->width, 128);
    ASSERT_EQ(f->height, 72);
    ASSERT_EQ(f->pts, 0);

    const double agree = Psnr(f->pixels, frames[0].bytes);
    EXPECT_GE(agree, 45.0);
    // And the effects are in both: without them the picture differs plainly.
    JobSpec plain = s;
    plain.edit = nullptr;
    TalvoricJob bare(plain);
    bare.Start(Times(1, 40000), -1, ("picture=" + raw).c_str());
    auto bareFrames = bare.Consume();
    ExpectFinished(bare);
    ASSERT_EQ(bareFrames.size(), 1u);
    EXPECT_LT(Psnr(bareFrames[0].bytes, frames[0].bytes), 25.0);
    // The bars stay black.
    EXPECT_EQ(At(frames[0], 128, 2, 36), (picture::Bgra{0, 0, 0, 0}));
    std::printf("preview and output agree to %.1f dB\n", agree);
}

namespace {

// SSIM ("All", over Y, U and V) of a BGRX picture against the first frame of a
// video, both brought to 4:2:0 the same way; -1 when ffmpeg gives no figure.
// Both start at time 0: a video whose first frame is stamped later would
// otherwise be paired with the picture by time, not as the first frame.
double SsimAgainstFirstFrame(const std::vector<uint8_t>& bgrx, int width, int height,
                             const std::string& video, const std::string& dir) {
    const std::string raw = dir + "/composed.bgra";
    {
        std::ofstream out(raw, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bgrx.data()), std::streamsize(bgrx.size()));
        if (!out) return -1;
    }
    const std::string log = dir + "/ssim.log";
    const std::string cmd =
        "ffmpeg -hide_banner -nostdin -f rawvideo -pix_fmt bgr0 -s " + std::to_string(width) +
        "x" + std::to_string(height) + " -i '" + raw + "' -i '" + video +
        "' -lavfi '[0:v]setpts=PTS-STARTPTS,format=yuv420p[a];"
        "[1:v]trim=end_frame=1,setpts=PTS-STARTPTS,format=yuv420p[b];[b][a]ssim' "
        "-f null - 2> '" + log + "'";
    if (std::system(cmd.c_str()) != 0) return -1;
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.rfind("All:");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + 4);
}

} // namespace

// The whole program, reelpage-cli, publishing with every effect on: the
// first frame of video.mp4 is the composed picture, up to what H.264
// compression takes away.
TEST(Talvoric, PublishedMp4ShowsTheComposedPictureWithEveryEffect) {
    const std::string dir = std::filesystem::temp_directory_path() / "effects_published";
    std::filesystem::create_directories(dir + "/out");
    const std::string video = dir + "/source.mkv";
    ASSERT_TRUE(testing_media::Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25",
                                       "-frames:v", "25", "-c:v", "ffv1", "-pix_fmt", "bgra",
                                       video}));

    const char* const effects[] = {
        "hue=30",           "saturation=20",      "lightness=10",     "blur=4",
        "expand-edge=1",    "sharpen-radius=6",   "sharpen-amount=15", "tint-hue=40",
        "tint-amount=20",   "levels-highlight=10", "levels-midtone=20", "levels-shadow=10",
        "cyan-red=20",      "magenta-green=-10",  "yellow-blue=15",   "exposure=20",
        "density=20",       "white-saturation=30", "black-saturation=20"};
    std::string cmd = "'" + std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli' -q -o '" + dir +
                      "/out' --formats mp4 --size source --brightness 10 --contrast 10";
    for (const char* e : effects)
        cmd += std::string(" --effect ") + e;
    cmd += " '" + video + "' > '" + dir + "/cli.log' 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        const std::vector<uint8_t> log = testing_media::ReadFile(dir + "/cli.log");
        FAIL() << cmd << "\n" << std::string(log.begin(), log.end());
    }
    const std::string published = dir + "/out/source/video.mp4";
    ASSERT_TRUE(std::filesystem::exists(published));

    preview_test::PreviewHarness h({.file = video, .width = 320, .height = 240});
    ASSERT_NE(h.WaitFrame(), nullptr);
    AllEffects(h.Project());
    h.Post(kCmdAdjustmentsChanged);
    ASSERT_NE(h.WaitFrame(), nullptr);
    h.Post(kCmdSeek, 0); // back to the first frame, the one compared
    const preview_test::DeliveredFrame* f = h.WaitFrame();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->width, 320);
    ASSERT_EQ(f->height, 240);
    ASSERT_EQ(f->pts, 0);

    const double ssim = SsimAgainstFirstFrame(f->pixels, 320, 240, published, dir);
    EXPECT_GE(ssim, 0.97);
    // The figure means something: the same frame without the effects is far off.
    preview_test::PreviewHarness bare({.file = video, .width = 320, .height = 240});
    ASSERT_NE(bare.WaitFrame(), nullptr);
    bare.Post(kCmdSeek, 0);
    const preview_test::DeliveredFrame* b = bare.WaitFrame();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->pts, 0);
    const double without = SsimAgainstFirstFrame(b->pixels, 320, 240, published, dir);
    EXPECT_LT(without, ssim - 0.1);
    std::printf("published video.mp4 against the composed frame: SSIM %.4f (%.4f without "
                "the effects)\n", ssim, without);
}
