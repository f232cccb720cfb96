// Encoding jobs end to end: the real dec with the encoding plug-in and the
// real encoders, started through the engine's exports.
#include "encoding_fixture.h"
#include "system/Exports.h"
#include "system/Log.h"

#include <set>
#include <thread>

#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sys/file.h>

#include "media_fixtures.h"
#include "platform/process.h"
#include "platform/shm.h"
#include "reelpage/protocol.h"

namespace encoding_test {
namespace {

using media_check::ProbeStream;
namespace fs = std::filesystem;

std::string LogPath() {
    return std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log";
}

double Seconds(const std::string& s) {
    return s.empty() || s == "N/A" ? -1 : std::stod(s);
}

// The main road: a 10 s 640 x 360 clip with sound into all three formats,
// then the page.
TEST_F(Encoding, AllThreeFormatsFromATenSecondClip) {
    OpenLog(); // the helpers' lines tell what the job's decoder did
    MediaInfo* m = Import(MakeClip("clip.mp4", "640x360", 10));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->m_Width, 640);
    Project* p = NewProject(m, true, true, true);
    const size_t logBefore = testing_media::ReadText(LogPath()).size();
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->m_cEncoder, 3);
    EXPECT_EQ(status->m_Transform, kTransformPassThrough);
    EXPECT_EQ(status->m_Duration, m->m_Duration);
    const JobResult r = Wait(status, true);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.done, 3);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(r.audioFed, 1);
    // The last picture's time: the media's duration less about a frame.
    EXPECT_GE(status->m_Pts, status->m_Duration - 80000);
    // Built under a hidden name beside its place, and moved there only once
    // the outputs are complete.
    const std::string building = OutputFolder();
    EXPECT_EQ(fs::path(building).parent_path(), m_Parent);
    EXPECT_EQ(fs::path(building).filename().string().rfind(".reelpage-job-", 0), 0u) << building;
    EXPECT_FALSE(fs::exists(m_Parent + "/clip"));
    EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(0), 0);
    const std::string folder = OutputFolder();
    EXPECT_EQ(folder, m_Parent + "/clip");
    EXPECT_FALSE(fs::exists(building));

    struct Expect {
        const char* file;
        const char* video;
        const char* audio;
        const char* format;
    } outputs[] = {{"video.webm", "vp8", "vorbis", "matroska,webm"},
                   {"video.mp4", "h264", "aac", "mov,mp4,m4a,3gp,3g2,mj2"},
                   {"video.ogv", "theora", "flac", "ogg"}};
    for (const Expect& e : outputs) {
        SCOPED_TRACE(e.file);
        const std::string file = folder + "/" + e.file;
        EXPECT_EQ(media_check::FormatName(file), e.format);
        auto v = ProbeStream(file, "v:0");
        EXPECT_EQ(v["codec_name"], e.video);
        EXPECT_EQ(v["width"], "640");
        EXPECT_EQ(v["height"], "360");
        // 250 frames at 25 fps: 10 s, within one frame.
        EXPECT_EQ(v["nb_read_frames"], "250");
        const double duration = Seconds(media_check::Capture(
            "ffprobe -v error -show_entries format=duration -of csv=p=0 " + file));
        EXPECT_NEAR(duration, 10.0, 0.04);
        auto a = ProbeStream(file, "a:0");
        EXPECT_EQ(a["codec_name"], e.audio);
        EXPECT_EQ(a["sample_rate"], "44100");
        EXPECT_EQ(a["channels"], "2");
        // The sound is the clip's: 10 s of 44.1 kHz stereo, give or take the
        // encoder's last frame.
        const double pcm = double(media_check::DecodedPcmBytes(file, 44100, 2));
        EXPECT_NEAR(pcm, 1764000.0, 2048 * 4);
    }
    // Every output has its sound, and yet the job's decoder decoded none: it
    // comes from the import's sample file.
    const std::string log = testing_media::ReadText(LogPath());
    EXPECT_NE(log.find("clip.mp4 is not decoded (nosound)", logBefore), std::string::npos) << log;
    auto boxes = media_check::TopLevelBoxes(folder + "/video.mp4");
    auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    EXPECT_LT(moov, mdat);

    WCHAR page[kMaxPath];
    EXPECT_EQ(Bind<FnPublishPage>(kPublishPage)(1, page), 0);
    EXPECT_EQ(platform::ToUtf8(page), folder + "/index.html");
    EXPECT_TRUE(fs::exists(folder + "/index.html"));
    EXPECT_TRUE(fs::exists(folder + "/poster.png"));
    std::ifstream html(folder + "/index.html");
    const std::string text((std::istreambuf_iterator<char>(html)), {});
    EXPECT_NE(text.find("video.webm"), std::string::npos);
    EXPECT_NE(text.find("video.ogv"), std::string::npos);
    (void)p;
}

TEST_F(Encoding, OnlyMp4IsEncoderZeroWithTheFullQueue) {
    MediaInfo* m = Import(MakeClip("short.mp4", "160x90", 1));
    Project* p = NewProject(m, false, true, false);
    ASSERT_NE(p, nullptr);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->m_cEncoder, 1);
    const EncoderTask* t = EncoderTaskForTesting(0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->m_nIndex, 0);
    EXPECT_EQ(std::u16string(t->m_szFormat), u"mp4");
    EXPECT_EQ(std::u16string(t->m_szVideoCodec), u"libx264");
    EXPECT_EQ(std::u16string(t->m_szAudioCodec), u"libfaac");
    EXPECT_EQ(t->m_AudioBitRate, 128000);
    EXPECT_EQ(t->m_PixelFormat, kPixYuv420);
    EXPECT_EQ(t->m_hSharedVideo, 0);
    EXPECT_EQ(BlockSize(status->m_hVideoStreams[0]),
              VideoStreamBlockSize(VideoFrameBytes(160, 90, 0)));
    EXPECT_EQ(BlockSize(t->m_hAudioStream), kAudioStreamBlockSize);
    EXPECT_EQ(status->m_hVideoStreams[1], 0);
    const JobResult r = Wait(status, true);
    EXPECT_EQ(r.done, 1);
    Bind<FnFinishEncoding>(kFinishEncoding)(0);
    EXPECT_EQ(fs::directory_iterator(OutputFolder())->path().filename(), "video.mp4");
}

TEST_F(Encoding, WebmAndOggShareEncoderZerosBlocks) {
    MediaInfo* m = Import(MakeClip("short.mp4", "160x90", 1));
    NewProject(m, true, false, true);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->m_cEncoder, 2);
    const EncoderTask* webm = EncoderTaskForTesting(0);
    const EncoderTask* ogg = EncoderTaskForTesting(1);
    ASSERT_NE(ogg, nullptr);
    EXPECT_EQ(std::u16string(webm->m_szFormat), u"webm");
    EXPECT_EQ(std::u16string(ogg->m_szFormat), u"ogg");
    EXPECT_EQ(ogg->m_nIndex, 1);
    EXPECT_EQ(ogg->m_hVideoStream, status->m_hVideoStreams[1]);
    EXPECT_EQ(BlockSize(ogg->m_hVideoStream), kSharedVideoBlockSize);
    EXPECT_EQ(ogg->m_hSharedVideo, status->m_hVideoStreams[0]);
    EXPECT_EQ(ogg->m_nSharedVideoOffset, 1056);
    EXPECT_EQ(BlockSize(ogg->m_hAudioStream), kSharedAudioBlockSize);
    EXPECT_EQ(ogg->m_hSharedAudio, webm->m_hAudioStream);
    EXPECT_EQ(ogg->m_nSharedAudioOffset, 32);
    EXPECT_EQ(ogg->m_nAudioRingSize, 0x200000);
    EXPECT_EQ(ogg->m_uMsg, kMsgEncoderDone);
    EXPECT_EQ(ogg->m_hSelf > 0, true);
    EXPECT_TRUE(platform::ToUtf8(ogg->m_szFileName).ends_with("/video.ogv"));
    const JobResult r = Wait(status, true);
    EXPECT_EQ(r.done, 2);
}

// A large picture gets few slots: every header of the job names the same
// count, encoder 0's block holds just those, and three encoders reading
// them at their own pace still get every frame.
TEST_F(Encoding, AJobOfFewSlotsKeepsEveryFrame) {
    MediaInfo* m = Import(MakeClip("large.mp4", "1280x720", 1));
    ASSERT_NE(m, nullptr);
    Project* p = NewProject(m, true, true, true);
    ASSERT_NE(p, nullptr);
    p->m_Brightness = 10; // a 32-bit picture in the slots
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    ASSERT_EQ(status->m_cEncoder, 3);
    const size_t frameBytes = VideoFrameBytes(1280, 720, kPixBgra);
    const int32_t slots = VideoSlotsFor(frameBytes);
    EXPECT_EQ(slots, 3);
    EXPECT_EQ(BlockSize(status->m_hVideoStreams[0]), VideoStreamBlockSize(frameBytes, slots));
    for (int k = 0; k < 3; ++k) {
        platform::SharedBlock header;
        ASSERT_EQ(platform::MapSharedBlock(status->m_hVideoStreams[k], sizeof(VideoStreamHeader),
                                           &header),
                  0);
        EXPECT_EQ(static_cast<const VideoStreamHeader*>(header.view)->m_cSlots, slots) << k;
        platform::UnmapSharedBlock(&header); // the engine's handle stays open
    }
    const JobResult r = Wait(status, true);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.done, 3);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(0), 0);
    for (const char* file : {"video.webm", "video.mp4", "video.ogv"})
        EXPECT_EQ(ProbeStream(OutputFolder() + "/" + file, "v:0")["nb_read_frames"], "25") << file;
}

// The poster picture is saved as soon as the first picture is out, not at
// the end: its block holds a whole 32-bit picture, kept until it is saved.
TEST_F(Encoding, ThePosterIsSavedWhileTheJobRuns) {
    MediaInfo* m = Import(MakeClip("poster.mp4", "320x180", 6));
    ASSERT_NE(m, nullptr);
    ASSERT_NE(NewProject(m, false, false, true), nullptr);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    const std::string poster = OutputFolder() + "/poster.png";
    bool savedEarly = false;
    JobResult r;
    do {
        r = Wait(status, true, 50);
        savedEarly |= r.timedOut && fs::exists(poster);
    } while (r.timedOut && !savedEarly);
    EXPECT_TRUE(savedEarly);
    EXPECT_EQ(status->m_hVideoStreams[kPosterFrameStream], 0);
    r = Wait(status, true);
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(0), 0);
    EXPECT_TRUE(fs::exists(OutputFolder() + "/poster.png"));
}

TEST_F(Encoding, LaterJobsOnTheSameSourceAreNumbered) {
    MediaInfo* m = Import(MakeClip("title.mp4", "160x90", 1, 25, 0));
    NewProject(m, false, true, false);
    for (const char* expected : {"title", "title(1)", "title(2)"}) {
        Talvoricer* status = Start();
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(Wait(status, false).done, 1);
        EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(0), 0);
        EXPECT_EQ(OutputFolder(), m_Parent + "/" + expected);
    }
    EXPECT_TRUE(fs::exists(m_Parent + "/title(1)/video.mp4"));
}

TEST_F(Encoding, SourceWithoutSound) {
    MediaInfo* m = Import(MakeClip("silent.mp4", "160x90", 1, 25, 0));
    ASSERT_EQ(m->m_bAudioStream, 0);
    NewProject(m, true, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(EncoderTaskForTesting(0)->m_bNoAudio, 1);
    EXPECT_EQ(EncoderTaskForTesting(1)->m_bNoAudio, 1);
    EXPECT_EQ(EncoderTaskForTesting(1)->m_hAudioStream, 0);
    const JobResult r = Wait(status, false);
    EXPECT_EQ(r.done, 2);
    EXPECT_EQ(r.audioFed, 0);
    Bind<FnFinishEncoding>(kFinishEncoding)(0);
    for (const char* f : {"/video.webm", "/video.mp4"}) {
        EXPECT_EQ(ProbeStream(OutputFolder() + f, "v:0")["nb_read_frames"], "25");
        EXPECT_TRUE(ProbeStream(OutputFolder() + f, "a:0").empty());
    }
}

// A clip from 10 s to 20 s of 44.1 kHz stereo feeds exactly 1,764,000 bytes
// from byte 46 + 1,764,000 of the sample file. FLAC keeps them bit for bit.
TEST_F(Encoding, ClipFeedsExactlyItsStretchOfTheSampleFile) {
    MediaInfo* m = Import(MakeClip("long.mp4", "160x90", 21, 10));
    Project* p = NewProject(m, false, false, true);
    p->m_ClipStart = 10000000;
    p->m_ClipStop = 20000000;
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->m_Duration, 10000000);
    const JobResult r = Wait(status, true);
    ASSERT_EQ(r.done, 1);
    Bind<FnFinishEncoding>(kFinishEncoding)(0);
    const std::string ogv = OutputFolder() + "/video.ogv";
    const std::string decoded =
        media_check::Capture("ffmpeg -nostdin -v error -i " + ogv + " -map 0:a -f s16le -");
    ASSERT_EQ(decoded.size(), 1764000u);
    std::ifstream wav(platform::ToUtf8(MediaSideFile(*m, u"wav")), std::ios::binary);
    std::string expected(1764000, '\0');
    wav.seekg(46 + 1764000);
    wav.read(expected.data(), std::streamsize(expected.size()));
    EXPECT_TRUE(decoded == expected);
    // Pictures from 10 s up to 20 s: 100 frames at 10 fps, as long as the
    // sound.
    EXPECT_EQ(ProbeStream(ogv, "v:0")["nb_read_frames"], "100");
}

TEST_F(Encoding, AOneSecondGapRepeatsTheNextFrame) {
    // 25 fps; the eleventh picture comes one second after the tenth.
    const std::string clip =
        MakeClip("gap.mkv", "160x90", 2, 25, 0, 2,
                 "-vf \"setpts='N/(25*TB)+if(gte(N,10),24/(25*TB),0)'\" -fps_mode passthrough -an");
    MediaInfo* m = Import(clip);
    ASSERT_EQ(m->m_FrameRateNum, 25);
    NewProject(m, false, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(Wait(status, false).done, 1);
    Bind<FnFinishEncoding>(kFinishEncoding)(0);
    // 50 pictures, the eleventh standing for 25 output frames.
    EXPECT_EQ(ProbeStream(OutputFolder() + "/video.mp4", "v:0")["nb_read_frames"], "74");
}

// Letterbox (1280 x 720 into 640 x 480) and a half turn, on decoded pixels.
TEST_F(Encoding, LetterboxBarsAndAHalfTurnReachTheFile) {
    MediaInfo* m = Import(MakeClip("wide.mp4", "1280x720", 1, 25, 0));
    Project* p = NewProject(m, false, true, false);
    p->m_OutputWidth = 640;
    p->m_OutputHeight = 480;
    p->m_ResizeMethod = 1;
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->m_Transform, kTransformResize);
    EXPECT_EQ(EncoderTaskForTesting(0)->m_PixelFormat, kPixBgra);
    EXPECT_EQ(Wait(status, false).done, 1);
    Bind<FnFinishEncoding>(kFinishEncoding)(0);
    auto rgb = media_check::DecodedRgb(OutputFolder() + "/video.mp4", 5);
    ASSERT_EQ(rgb.size(), 640u * 480 * 3);
    auto luma = [&](int x, int y) {
        const uint8_t* px = &rgb[(size_t(y) * 640 + x) * 3];
        return (px[0] + px[1] + px[2]) / 3;
    };
    for (int y : {2, 30, 55, 425, 477})
        EXPECT_LT(luma(320, y), 24) << y;
    int lit = 0;
    for (int x = 0; x < 640; x += 16)
        lit += luma(x, 240) > 40;
    EXPECT_GT(lit, 20);
}

TEST_F(Encoding, HalfTurnTurnsPictureAndChroma) {
    // Quadrants of four colours, so a turn and a colour swap both show.
    const std::string clip = Media("quad.mp4");
    ASSERT_TRUE(media_check::Ffmpeg(
        "-f lavfi -i color=red:s=80x48:d=1:r=25 -f lavfi -i color=lime:s=80x48:d=1:r=25 "
        "-f lavfi -i color=blue:s=80x48:d=1:r=25 -f lavfi -i color=white:s=80x48:d=1:r=25 "
        "-filter_complex \"[0][1]hstack[t];[2][3]hstack[b];[t][b]vstack\" -c:v libx264 "
        "-preset ultrafast -qp 0 -pix_fmt yuv420p " +
        clip));
    MediaInfo* m = Import(clip);
    Project* p = NewProject(m, true, false, false);
    p->m_Orientation = kOrientTurnedHalf;
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->m_Transform, kTransformOrientOnly);
    EXPECT_EQ(EncoderTaskForTesting(0)->m_PixelFormat, kPixYuv420);
    EXPECT_EQ(Wait(status, false).done, 1);
    Bind<FnFinishEncoding>(kFinishEncoding)(0);
    auto rgb = media_check::DecodedRgb(OutputFolder() + "/video.webm", 3);
    ASSERT_EQ(rgb.size(), 160u * 96 * 3);
    auto px = [&](int x, int y) { return &rgb[(size_t(y) * 160 + x) * 3]; };
    // Turned half round: white top left, blue top right, lime bottom left, red bottom right.
    EXPECT_GT(px(40, 24)[0], 200);
    EXPECT_GT(px(40, 24)[2], 200);
    EXPECT_GT(px(120, 24)[2], 200);
    EXPECT_LT(px(120, 24)[0], 60);
    EXPECT_GT(px(40, 72)[1], 200);
    EXPECT_LT(px(40, 72)[0], 60);
    EXPECT_GT(px(120, 72)[0], 200);
    EXPECT_LT(px(120, 72)[1], 60);
}

// Cancelling stops every helper and removes the folder.
TEST_F(Encoding, CancelWhileRunning) {
    MediaInfo* m = Import(MakeClip("cancel.mp4", "640x360", 10));
    NewProject(m, true, true, true);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    const std::string folder = OutputFolder();
    std::vector<int> pids;
    for (int k = 0; k < 3; ++k)
        pids.push_back(platform::GetHelperProcessId(EncoderTaskForTesting(k)->m_hProcess));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (status->m_Pts < 1000000 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(status->m_Pts, 1000000);
    EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(1), 0);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::is_empty(m_Parent));
    for (int pid : pids)
        EXPECT_NE(kill(pid, 0), 0) << pid; // reaped and gone
    m_Window.DispatchNow();
    for (const probe_test::Message& msg : m_Window.Messages())
        EXPECT_NE(msg.msg, kMsgEncoderDone) << "a cancelled job reports nothing";
}

// A helper that dies does not leave the job waiting: its end is a failure.
TEST_F(Encoding, AKilledHelperIsReportedAsFailure) {
    MediaInfo* m = Import(MakeClip("killed.mp4", "640x360", 10));
    for (const char* victim : {"enc", "dec"}) {
        SCOPED_TRACE(victim);
        NewProject(m, true, true, false);
        Talvoricer* status = Start();
        ASSERT_NE(status, nullptr);
        while (status->m_Pts < 500000)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        int pid = -1;
        if (std::string(victim) == "enc") {
            pid = platform::GetHelperProcessId(EncoderTaskForTesting(1)->m_hProcess);
        } else {
            // The decoder is the helper of ours running dec.
            std::string children =
                media_check::HelperPids(getpid(), "dec");
            pid = children.empty() ? -1 : std::stoi(children);
        }
        ASSERT_GT(pid, 0);
        kill(pid, SIGKILL);
        const JobResult r = Wait(status, true, 30000);
        EXPECT_FALSE(r.timedOut);
        EXPECT_GE(r.failed, 1);
        for (const probe_test::Message& msg : m_Window.Messages()) {
            if (msg.msg == kMsgEncoderDone && msg.wParam != 0) {
                EXPECT_EQ(msg.wParam, kEncoderHelperDied);
            }
        }
        Bind<FnFinishEncoding>(kFinishEncoding)(1);
    }
}

TEST_F(Encoding, MissingSampleFileIsReportedAndTheStartFailsCleanly) {
    MediaInfo* m = Import(MakeClip("nosample.mp4", "160x90", 1));
    fs::remove(platform::ToUtf8(MediaSideFile(*m, u"wav")));
    NewProject(m, false, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    const JobResult r = Wait(status, true, 30000);
    EXPECT_EQ(r.audioFailed, 1);
    Bind<FnFinishEncoding>(kFinishEncoding)(1);

    // Nothing chosen: the start fails.
    NewProject(m, false, false, false);
    EXPECT_EQ(Start(), nullptr);
    EXPECT_EQ(OutputFolder(), "");
}

// The helpers this process started, directly or through the helper host,
// that have not been reaped yet. The host itself stays for the next job.
std::string ChildProcesses() {
    return media_check::HelperPids(getpid(), "dec") + media_check::HelperPids(getpid(), "enc");
}

size_t OpenDescriptorCount() {
    const auto fds = fs::directory_iterator("/proc/self/fd");
    return size_t(std::distance(fs::begin(fds), fs::end(fds)));
}

// A start that fails after its first steps undoes them: no block or event is
// left open, and no folder stays, hidden or not.
TEST_F(Encoding, AFailedStartLeavesNothingBehind) {
    MediaInfo* m = Import(MakeClip("long.mp4", "160x90", 1));
    // 245 characters of parent folder: "<parent>/long" could be made, but not
    // the encoder's "<parent>/long/video.webm".
    std::string deep = m_Parent + "/";
    deep += std::string(245 - deep.size(), 'd');
    // A program folder without the encoder: the decoder, which starts first,
    // is already running when the first encoder cannot be started.
    const std::string noEncoder = probe_test::Folder("no-encoder");
    for (const auto& entry : fs::directory_iterator(REELPAGE_PROGRAM_DIR))
        if (entry.path().filename() != "enc")
            fs::create_symlink(entry.path(), noEncoder + "/" + entry.path().filename().string());
    struct Case {
        const char* what;
        std::string parent;
        bool webm, mp4;
        std::string programs = REELPAGE_PROGRAM_DIR;
    } cases[] = {
        {"no format chosen", m_Parent, false, false},
        {"the output path too long", deep, true, true},
        {"an encoder that cannot be started", m_Parent, true, true, noEncoder},
    };
    // The import's helper is gone before anything is counted.
    for (int i = 0; i < 500 && !ChildProcesses().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ChildProcesses(), "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetInstallFolderForTesting(c.programs);
        InitFolders();
        platform::WStrCopy(TheSettings().m_szFolder, platform::FromUtf8(c.parent));
        NewProject(m, c.webm, c.mp4, false);
        const size_t descriptors = OpenDescriptorCount();
        EXPECT_EQ(Start(), nullptr);
        // At most as many: a helper's pipes may still be closing when the
        // first count is taken.
        EXPECT_LE(OpenDescriptorCount(), descriptors);
        EXPECT_EQ(ChildProcesses(), "") << "a helper of the failed start still runs";
        EXPECT_EQ(OutputFolder(), "");
        EXPECT_TRUE(!fs::exists(c.parent) || fs::is_empty(c.parent));
    }
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    InitFolders();
}

// Hidden job folders left by a job that was killed are removed when the
// engine starts and when a job starts; one whose job still runs (it holds
// the folder's lock) is left alone, as is anything else in the folder.
TEST_F(Encoding, StaleJobFoldersAreSweptButNotThoseOfRunningJobs) {
    const std::string stale = m_Parent + "/.reelpage-job-0000DEAD";
    const std::string running = m_Parent + "/.reelpage-job-0000BEEF";
    const std::string users = m_Parent + "/.reelpage-mine";
    for (const std::string& f : {stale, running, users}) {
        fs::create_directories(f + "/ad");
        std::ofstream(f + "/video.mp4") << "half";
    }
    const int lock = open(running.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);

    // The next start, with the output folder among the user's settings.
    ASSERT_EQ(Bind<FnSaveSettings>(kSaveSettings)(), 0);
    Bind<FnInitEngine>(kInitEngine)();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(running + "/video.mp4"));
    EXPECT_TRUE(fs::exists(users + "/video.mp4"));

    fs::create_directories(stale);
    MediaInfo* m = Import(MakeClip("sweep.mp4", "160x90", 1, 25, 0));
    NewProject(m, false, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(running + "/video.mp4"));
    EXPECT_EQ(Wait(status, false).done, 1);
    EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(0), 0);
    EXPECT_TRUE(fs::exists(m_Parent + "/sweep/video.mp4"));
    close(lock);
}

// The inode of every descriptor a process has open.
std::set<ino_t> OpenInodes(int pid) {
    std::set<ino_t> inodes;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& e : fs::directory_iterator(dir)) {
        struct stat st {};
        if (stat(e.path().c_str(), &st) == 0) inodes.insert(st.st_ino);
    }
    return inodes;
}

ino_t InodeOf(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// Each helper gets the blocks it needs and no others; a program started by
// anybody else in the process (the browser that opens a page) gets none.
TEST_F(Encoding, DescriptorsReachOnlyTheHelpersThatNeedThem) {
    InitDiagnostics();
    MediaInfo* other = Import(MakeClip("other.mp4", "160x90", 1));
    MediaInfo* m = Import(MakeClip("handles.mp4", "640x360", 10));
    NewProject(m, true, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    const int encoder1 = platform::GetHelperProcessId(EncoderTaskForTesting(1)->m_hProcess);
    const std::string children =
        media_check::HelperPids(getpid(), "dec");
    ASSERT_FALSE(children.empty());
    const int decoder = std::stoi(children);
    // Forked by the helper host, so what follows holds for its hand-over.
    EXPECT_EQ(media_check::Capture("pgrep -P " + std::to_string(getpid()) + " -x dec"), "");

    const std::set<ino_t> enc = OpenInodes(encoder1), dec = OpenInodes(decoder);
    const ino_t otherRecord = InodeOf(other->m_hSelf), log = InodeOf(LogHandle());
    ASSERT_NE(log, 0u);
    EXPECT_FALSE(enc.count(otherRecord)) << "an encoder holds another file's record";
    EXPECT_FALSE(dec.count(otherRecord)) << "the decoder holds another file's record";
    EXPECT_FALSE(enc.count(InodeOf(m->m_hSelf))) << "an encoder holds the media record";
    EXPECT_TRUE(dec.count(InodeOf(m->m_hSelf)));
    EXPECT_TRUE(enc.count(log));

    // A program started the ordinary way while the job runs.
    const std::string fds = media_check::Capture("ls -l /proc/self/fd");
    for (const char* ours : {"memfd:", "eventfd", "reelpage.log", "socket:"})
        EXPECT_EQ(fds.find(ours), std::string::npos) << fds;
    Bind<FnFinishEncoding>(kFinishEncoding)(1);
}

// Leaving the engine with a job running cancels it: every helper ended and
// the unfinished folder removed, as a cancel does.
TEST_F(Encoding, ExitEngineCancelsARunningJob) {
    MediaInfo* m = Import(MakeClip("exit.mp4", "640x360", 10));
    NewProject(m, true, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    const std::string folder = OutputFolder();
    std::vector<int> pids;
    for (int k = 0; k < 2; ++k)
        pids.push_back(platform::GetHelperProcessId(EncoderTaskForTesting(k)->m_hProcess));
    const std::string children =
        media_check::HelperPids(getpid(), "dec");
    ASSERT_FALSE(children.empty());
    pids.push_back(std::stoi(children));
    Bind<FnExitEngine>(kExitEngine)();
    EXPECT_FALSE(fs::exists(folder));
    for (int pid : pids)
        EXPECT_NE(kill(pid, 0), 0) << pid; // reaped and gone

    // The same for an import: its helper ends and its files go.
    const std::string clip = MakeClip("importing.mp4", "640x360", 20);
    MediaInfo* importing = Bind<FnOpenMedia>(kOpenMedia)(
        platform::FromUtf8(clip).c_str(), m_Window.Handle(), 0, kMsgProbeDone, kMsgProbeProgress);
    const std::string wav = platform::ToUtf8(MediaSideFile(*importing, u"wav"));
    for (int i = 0; i < 2000 && !fs::exists(wav); ++i)
        usleep(1000);
    Bind<FnExitEngine>(kExitEngine)();
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_TRUE(media_check::HelperPids(getpid(), "dec").empty());

    // An import that has given its answer is finished, even when its helper
    // has not quite ended at the exit: its files stay for the next run.
    m_Window.DispatchNow();
    m_Window.Clear();
    MediaInfo* done = Import(MakeClip("done.mp4", "160x90", 1));
    Bind<FnExitEngine>(kExitEngine)();
    EXPECT_TRUE(fs::exists(platform::ToUtf8(MediaSideFile(*done, u"wav"))));
    EXPECT_TRUE(fs::exists(platform::ToUtf8(MediaSideFile(*done, u"bmp"))));
}

// A sample file shorter than its import wrote (cut before the job, or under
// the feeder while it runs) fails the job instead of giving outputs whose
// sound ends before the picture.
TEST_F(Encoding, SampleFileCutShortFailsTheJob) {
    MediaInfo* m = Import(MakeClip("cut.mp4", "160x90", 30));
    const std::string wav = platform::ToUtf8(MediaSideFile(*m, u"wav"));
    const uintmax_t whole = fs::file_size(wav);
    ASSERT_GT(whole, 4u << 20);
    for (const uintmax_t cut : {whole - 1000, uintmax_t(3u << 20) + 100}) {
        SCOPED_TRACE(cut);
        NewProject(m, false, true, false);
        const bool before = cut > (4u << 20);
        if (before) fs::resize_file(wav, cut);
        Talvoricer* status = Start();
        ASSERT_NE(status, nullptr);
        if (!before) fs::resize_file(wav, cut);
        const JobResult r = Wait(status, true, 60000);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.audioFailed, 1);
        EXPECT_EQ(r.audioFed, 0);
        Bind<FnFinishEncoding>(kFinishEncoding)(1);
    }
}

// The source cut to 40 % while its outputs are written: the decoder meets
// the end of the file long before the recorded length, and the job fails
// instead of giving outputs whose pictures stop where their sound goes on.
TEST_F(Encoding, ASourceCutShortWhileEncodedFailsTheJob) {
    const std::string clip = MakeClip("shrinking.mkv", "320x180", 20);
    MediaInfo* m = Import(clip);
    NewProject(m, false, true, false);
    Talvoricer* status = Start();
    ASSERT_NE(status, nullptr);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (status->m_Pts <= 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    fs::resize_file(clip, fs::file_size(clip) * 4 / 10);
    const JobResult r = Wait(status, true, 120000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_GE(r.failed, 1);
    EXPECT_EQ(r.done, 0);
    Bind<FnFinishEncoding>(kFinishEncoding)(1);
    EXPECT_TRUE(fs::is_empty(m_Parent));
}

// Pictures of a few pixels, from decoders whose own buffers sit right next
// to the small pictures they are turned into: each imports and encodes.
TEST_F(Encoding, TinyPicturesImportAndEncode) {
    const struct {
        const char* codec;
        const char* size;
    } cases[] = {
        {"-c:v mpeg4", "2x2"},  {"-c:v libvpx -b:v 100k", "2x2"},     {"-c:v ffv1", "2x2"},
        {"-c:v mjpeg -pix_fmt yuvj420p", "2x2"}, {"-c:v mpeg4", "6x2"}, {"-c:v libx264", "2x2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + c.size);
        const std::string name = std::string("tiny ") + c.size + " " + std::to_string(&c - cases) + ".mkv";
        MediaInfo* m = Import(MakeClip(name, c.size, 1, 25, 0, 2, c.codec));
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->m_bVideoStream, 1);
        // What "Original" makes of it: each side rounded up to 16.
        Project* p = NewProject(m, true, true, false);
        p->m_OutputWidth = p->m_OutputHeight = 16;
        Talvoricer* status = Start();
        ASSERT_NE(status, nullptr);
        const JobResult r = Wait(status, false, 60000);
        EXPECT_EQ(r.done, 2);
        EXPECT_EQ(r.failed, 0);
        EXPECT_EQ(Bind<FnFinishEncoding>(kFinishEncoding)(0), 0);
    }
}

} // namespace
} // namespace encoding_test
