// Importing media through OpenMedia, with the real dec and the real
// media-information plug-in, on files ffmpeg makes here.
#include "system/Exports.h"
#include "system/Folders.h"
#include "media/History.h"
#include "media/MediaProbe.h"
#include "probe_fixture.h"
#include "small_disk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "media_check.h"
#include "media_fixtures.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/wstr.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"

using namespace reelpage;
using namespace probe_test;
using namespace testing_media;
namespace fs = std::filesystem;

namespace {

class MediaProbe : public ::testing::Test {
protected:
    void SetUp() override {
        // Cases that point the data folder elsewhere must not leave it there
        // for the cases after them in this process.
        if (const char* data = getenv("XDG_DATA_HOME")) m_szDataHome = data;
        SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
        InitFolders();
        unsetenv("REC_CRASH");
        // Every case starts with an empty history, also when several run in
        // one process.
        platform::RegDeleteKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo");
        ReloadHistoryForTesting();
    }

    void TearDown() override { setenv("XDG_DATA_HOME", m_szDataHome.c_str(), 1); }

    MediaInfo* Open(const std::string& path, int32_t cookie = 5) {
        auto open = Bind<FnOpenMedia>(kOpenMedia);
        EXPECT_NE(open, nullptr);
        return open(platform::FromUtf8(path).c_str(), m_Window.Handle(), cookie, kMsgProbeDone,
                    kMsgProbeProgress);
    }

    std::string Media(const std::string& name) { return Folder("media") + "/" + name; }
    static std::string SideFile(const MediaInfo& m, const char16_t* ext) {
        return platform::ToUtf8(MediaSideFile(m, ext));
    }

    // The progress posted while probing rises; 100 comes last, then the result.
    void ExpectProgressThenDone(int64_t result) {
        const auto& all = m_Window.Messages();
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.back().msg, kMsgProbeDone);
        EXPECT_EQ(all.back().wParam, result);
        for (const Message& m : all)
            EXPECT_EQ(m.lParam, 5);
        const std::vector<int64_t> progress = m_Window.Progress();
        ASSERT_FALSE(progress.empty());
        for (size_t i = 1; i < progress.size(); ++i)
            EXPECT_GT(progress[i], progress[i - 1]);
        EXPECT_EQ(progress.back(), 100);
        ASSERT_GE(all.size(), 2u);
        EXPECT_EQ(all[all.size() - 2].msg, kMsgProbeProgress);
    }

    ImportWindow m_Window;
    std::string m_szDataHome;
};

// The bitmap's first pixel as a ramp frame number; checks the header too.
int ThumbnailFrame(const std::string& path, int width, int height) {
    const std::vector<uint8_t> bmp = ReadFile(path);
    EXPECT_EQ(bmp.size(), 54u + size_t(width) * height * 4);
    if (bmp.size() < 54u + size_t(width) * height * 4) return -1;
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le32(&bmp[2]), bmp.size());
    EXPECT_EQ(Le32(&bmp[10]), 54u);
    EXPECT_EQ(Le32(&bmp[14]), 40u);
    EXPECT_EQ(int32_t(Le32(&bmp[18])), width);
    EXPECT_EQ(int32_t(Le32(&bmp[22])), -height);
    EXPECT_EQ(Le16(&bmp[26]), 1);
    EXPECT_EQ(Le16(&bmp[28]), 32);
    EXPECT_EQ(Le32(&bmp[30]), 0u);
    EXPECT_EQ(Le32(&bmp[34]), uint32_t(width * height * 4));
    return RampIndex(bmp[54 + 1]);
}

} // namespace

TEST_F(MediaProbe, TenSecondClip) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 10, 25, 44100, 2));
    MediaInfo* m = Open(clip);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GetHistoryItem(0), m);
    EXPECT_EQ(std::u16string(m->m_szName), u"clip");
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    ExpectProgressThenDone(kProbeOk);

    EXPECT_EQ(m->m_bVideoStream, 1);
    EXPECT_EQ(m->m_VideoFormat, 27);
    EXPECT_EQ(m->m_Width, 160);
    EXPECT_EQ(m->m_Height, 120);
    EXPECT_EQ(m->m_FrameRateNum, 25);
    EXPECT_EQ(m->m_FrameRateDen, 1);
    EXPECT_GT(m->m_VideoBitRate, 0);
    EXPECT_EQ(m->m_bAudioStream, 1);
    EXPECT_EQ(m->m_SampleRate, 44100);
    EXPECT_EQ(m->m_nChannel, 2);
    EXPECT_GT(m->m_AudioBitRate, 0);
    EXPECT_NEAR(double(m->m_Duration), 10.0e6, 50000);
    EXPECT_EQ(m->m_FileSize, int64_t(fs::file_size(clip)));
    EXPECT_NE(m->m_History, 0u);
    EXPECT_EQ(m->m_SampleFile, 1);

    // The thumbnail is the frame at 3 s (frame 75 of the ramp).
    EXPECT_EQ(ThumbnailFrame(SideFile(*m, u"bmp"), 160, 120), 75 % 50);

    // The sample file: the 46-byte header, then exactly what ffmpeg decodes.
    const std::vector<uint8_t> wav = ReadFile(SideFile(*m, u"wav"));
    const std::vector<uint8_t> pcm = FfmpegPcm(clip);
    ASSERT_EQ(wav.size(), 46 + pcm.size());
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(&wav[4]), pcm.size() + 38);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(&wav[16]), 18u);
    EXPECT_EQ(Le16(&wav[20]), 1);
    EXPECT_EQ(Le16(&wav[22]), 2);
    EXPECT_EQ(Le32(&wav[24]), 44100u);
    EXPECT_EQ(Le32(&wav[28]), 44100u * 4);
    EXPECT_EQ(Le16(&wav[32]), 4);
    EXPECT_EQ(Le16(&wav[34]), 16);
    EXPECT_EQ(Le16(&wav[36]), 0);
    EXPECT_EQ(std::string(wav.begin() + 38, wav.begin() + 42), "data");
    EXPECT_EQ(Le32(&wav[42]), pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), wav.begin() + 46));

    // The finished record is in the store: a new run finds it.
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(GetHistoryItem(0)->m_Duration, m->m_Duration);
    EXPECT_EQ(std::u16string(GetHistoryItem(0)->m_szFileName), platform::FromUtf8(clip));
}

TEST_F(MediaProbe, ShortClipKeepsItsFirstFrame) {
    const std::string clip = Media("short.mp4");
    ASSERT_TRUE(MakeRamp(clip, 2, 25, 0, 0));
    MediaInfo* m = Open(clip);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(ThumbnailFrame(SideFile(*m, u"bmp"), 160, 120), 0);
    EXPECT_EQ(m->m_bAudioStream, 0);
    EXPECT_FALSE(fs::exists(SideFile(*m, u"wav")));
    // Without sound the duration is the last frame's time.
    EXPECT_EQ(m->m_Duration, 1960000);
}

TEST_F(MediaProbe, SoundOnlyFile) {
    const std::string tone = Media("tone.m4a");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=500:sample_rate=48000:duration=4",
                        "-ac", "1", "-c:a", "aac", tone}));
    MediaInfo* m = Open(tone);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    ExpectProgressThenDone(kProbeOk);
    EXPECT_EQ(m->m_bVideoStream, 0);
    EXPECT_EQ(m->m_SampleFile, 0);
    EXPECT_FALSE(fs::exists(SideFile(*m, u"bmp")));
    EXPECT_EQ(m->m_bAudioStream, 1);
    const uint64_t bytes = fs::file_size(SideFile(*m, u"wav")) - 46;
    EXPECT_EQ(bytes, FfmpegPcm(tone).size());
    EXPECT_EQ(m->m_Duration, int64_t(bytes * 1000000 / (48000 * 2)));
}

// Matroska keeps no rate for Vorbis: the import counts it from the packets
// it reads anyway, so the sound is not shown at "0 Kbps".
TEST_F(MediaProbe, SoundRateOfVorbisInMatroskaIsCountedFromItsPackets) {
    const std::string clip = Media("vorbis.webm");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=3", "-f", "lavfi", "-i",
                        "anoisesrc=sample_rate=44100:duration=3", "-c:v", "libvpx", "-c:a",
                        "libvorbis", "-b:a", "96k", clip}));
    ASSERT_EQ(media_check::Capture("ffprobe -v error -select_streams a:0 -show_entries "
                                   "stream=bit_rate -of csv=p=0 '" + clip + "'"),
              "N/A\n")
        << "the container must not carry the rate for this test to mean anything";
    long long bytes = 0;
    std::istringstream sizes(media_check::Capture(
        "ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 '" + clip +
        "'"));
    for (long long n; sizes >> n;) bytes += n;
    ASSERT_GT(bytes, 0);
    MediaInfo* m = Open(clip);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    ASSERT_EQ(m->m_bAudioStream, 1);
    EXPECT_NEAR(m->m_AudioBitRate, bytes * 8 * 1e6 / double(m->m_Duration),
                0.03 * bytes * 8 / 3.0);
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(GetHistoryItem(0)->m_AudioBitRate, m->m_AudioBitRate) << "stored as counted";
}

TEST_F(MediaProbe, SoundTrackThatDecodesToNothing) {
    const std::string clip = Media("mute.mkv");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=2", "-f", "lavfi", "-i",
                        "sine=sample_rate=44100:duration=2", "-af", "atrim=end_sample=0", "-c:v",
                        "libx264", "-c:a", "aac", clip}));
    MediaInfo* m = Open(clip);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(m->m_bVideoStream, 1);
    EXPECT_EQ(m->m_bAudioStream, 0);
    EXPECT_FALSE(fs::exists(SideFile(*m, u"wav")));
    // Also in the stored record.
    ReloadHistoryForTesting();
    ASSERT_EQ(GetHistoryCount(), 1);
    EXPECT_EQ(GetHistoryItem(0)->m_bAudioStream, 0);
}

TEST_F(MediaProbe, UnsupportedFiles) {
    const std::string text = Media("notes.txt");
    std::ofstream(text) << "Just some words.\n";
    const std::string whole = Media("whole.mp4");
    ASSERT_TRUE(MakeRamp(whole, 2, 25));
    std::vector<uint8_t> bytes = ReadFile(whole);
    // A recording cut short loses the index at its end.
    const std::string cut = Media("cut.mp4");
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<char*>(bytes.data()), long(bytes.size() * 2 / 3));
    // A header overwritten.
    const std::string scrambled = Media("scrambled.mp4");
    for (size_t i = 0; i < 4096 && i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 31 + 7);
    std::ofstream(scrambled, std::ios::binary)
        .write(reinterpret_cast<char*>(bytes.data()), long(bytes.size()));
    for (const std::string& file : {text, cut, scrambled}) {
        SCOPED_TRACE(file);
        m_Window.Clear();
        MediaInfo* m = Open(file);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m_Window.WaitDone(), kProbeUnsupported);
        EXPECT_TRUE(m_Window.Progress().empty());
    }
}

// Files the import cannot take, each said for what it is: a path longer than
// a record holds is not cut to another file's name, and a container whose
// header promises a picture stream that holds no picture is no video.
TEST_F(MediaProbe, APathTooLongAndAVideoWithoutPicturesAreNamedForWhatTheyAre) {
    m_Window.Clear();
    EXPECT_EQ(Open("/" + std::string(300, 'p') + ".mp4"), nullptr);
    m_Window.DispatchNow();
    ASSERT_EQ(m_Window.Messages().size(), 1u);
    EXPECT_EQ(m_Window.Messages()[0].wParam, kProbePathTooLong);
    EXPECT_EQ(GetHistoryCount(), 0);

    // A Matroska file cut before its first cluster, with an empty cluster
    // after the header: its track says H.264 at 25 fps, no frame follows.
    const std::string whole = Media("one.mkv");
    ASSERT_TRUE(MakeRamp(whole, 1, 25, 0, 0, {"-f", "matroska"}));
    std::vector<uint8_t> bytes = ReadFile(whole);
    const std::vector<uint8_t> tracks = {0x16, 0x54, 0xAE, 0x6B}, cluster = {0x1F, 0x43, 0xB6, 0x75};
    // The seek head names the tracks too; the element itself comes later.
    auto at = std::search(bytes.begin() + 40, bytes.end(), tracks.begin(), tracks.end());
    at = std::search(at + 1, bytes.end(), tracks.begin(), tracks.end());
    at = std::search(at, bytes.end(), cluster.begin(), cluster.end());
    ASSERT_NE(at, bytes.end());
    bytes.erase(at, bytes.end());
    bytes.insert(bytes.end(), {0x1F, 0x43, 0xB6, 0x75, 0xFF, 0xE7, 0x81, 0x00});
    const std::string empty = Media("no pictures.mkv");
    std::ofstream(empty, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), long(bytes.size()));

    m_Window.Clear();
    MediaInfo* m = Open(empty);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(m->m_bVideoStream, 0);
    EXPECT_EQ(m->m_bAudioStream, 0);
    EXPECT_FALSE(fs::exists(SideFile(*m, u"bmp")));
    ReloadHistoryForTesting();
    EXPECT_EQ(GetHistoryCount(), 0);
}

// A store that cannot be written (here its key is a file where a folder
// belongs, which binds root too): the import still serves this run, and its
// sample and thumbnail go at exit instead of staying without a record.
TEST_F(MediaProbe, SideFilesWithoutAStoredRecordGoAtExit) {
    const std::string key =
        platform::RegRootFolder(platform::RegRoot::CurrentUser) + "/SOFTWARE/Zelmorix/MediaInfo";
    fs::remove_all(key);
    fs::create_directories(fs::path(key).parent_path());
    std::ofstream(key) << "in the way";
    const std::string clip = Media("unrecorded.mp4");
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 8000, 1));
    MediaInfo* m = Open(clip);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_FALSE(IsRecordStored(*m));
    EXPECT_TRUE(fs::exists(SideFile(*m, u"wav")));
    EXPECT_TRUE(fs::exists(SideFile(*m, u"bmp")));
    Bind<FnExitEngine>(kExitEngine)();
    EXPECT_FALSE(fs::exists(SideFile(*m, u"wav")));
    EXPECT_FALSE(fs::exists(SideFile(*m, u"bmp")));
    fs::remove(key);
}

TEST_F(MediaProbe, MissingFileStaysInTheHistory) {
    const std::string name(80, 'n');
    const std::string missing = Media(name + ".mp4");
    MediaInfo* m = Open(missing);
    ASSERT_NE(m, nullptr);
    m_Window.DispatchNow();
    ASSERT_EQ(m_Window.Messages().size(), 1u);
    EXPECT_EQ(m_Window.Messages()[0].wParam, kProbeUnreadable);
    EXPECT_EQ(m_Window.Messages()[0].lParam, 5);
    // The title is cut to 63 characters.
    EXPECT_EQ(std::u16string(m->m_szName), std::u16string(63, u'n'));
    EXPECT_EQ(GetHistoryItem(0), m);
    EXPECT_EQ(GetHistoryCount(), 1);
}

TEST_F(MediaProbe, PathsWithSpacesAndOtherScriptsThenAgainInOtherCase) {
    const std::string clip = Folder("My Clips/Überfahrt") + "/Straße am Meer – 海.MP4";
    ASSERT_TRUE(MakeRamp(clip, 2, 25, 22050, 1, {"-f", "mp4"}));
    MediaInfo* m = Open(clip, 5);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(m->m_bVideoStream, 1);
    EXPECT_EQ(m->m_bAudioStream, 1);
    EXPECT_EQ(std::u16string(m->m_szName), u"Straße am Meer – 海");
    EXPECT_TRUE(fs::exists(SideFile(*m, u"bmp")));

    // The same path again: answered from the history at once, without a
    // helper (the answer is already queued when OpenMedia returns).
    m_Window.Clear();
    const int before = GetHistoryCount();
    MediaInfo* again = Open(clip, 9);
    EXPECT_EQ(again, m);
    EXPECT_EQ(GetHistoryCount(), before);
    m_Window.DispatchNow();
    ASSERT_EQ(m_Window.Messages().size(), 1u);
    EXPECT_EQ(m_Window.Messages()[0].msg, kMsgProbeDone);
    EXPECT_EQ(m_Window.Messages()[0].wParam, kProbeOk);
    EXPECT_EQ(m_Window.Messages()[0].lParam, 9);
}

// Here letter case makes another file: each name gets its own record, so the
// video encoded is the one the user chose.
TEST_F(MediaProbe, NamesThatDifferOnlyInLetterCaseAreTwoFiles) {
    const std::string upper = Media("Clip.mp4"), lower = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(upper, 1, 25, 0, 0));
    ASSERT_TRUE(MakeRamp(lower, 2, 25, 0, 0));
    MediaInfo* first = Open(upper);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    m_Window.Clear();
    MediaInfo* second = Open(lower);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    ASSERT_NE(first, second);
    EXPECT_EQ(platform::ToUtf8(second->m_szFileName), lower);
    EXPECT_NEAR(double(second->m_Duration), 2.0e6, 50000);
    EXPECT_NEAR(double(first->m_Duration), 1.0e6, 50000);
    // A name that only differs in case and names no file is no match either.
    m_Window.Clear();
    Open(Media("CLIP.mp4"));
    EXPECT_EQ(m_Window.WaitDone(), kProbeUnreadable);
}

// A record answers a later import only when its import finished and the
// file is still the one it describes; otherwise the file is imported again.
TEST_F(MediaProbe, OnlyAFinishedRecordOfAnUnchangedFileIsReused) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 8000, 1));
    MediaInfo* m = Open(clip);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);

    // Same size, new content (a file written again in place).
    struct stat st {};
    ASSERT_EQ(stat(clip.c_str(), &st), 0);
    const timespec later[2] = {st.st_atim, {st.st_mtim.tv_sec + 60, st.st_mtim.tv_nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, clip.c_str(), later, 0), 0);
    m_Window.Clear();
    MediaInfo* fresh = Open(clip);
    EXPECT_NE(fresh, m);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(GetHistoryItem(0), fresh);
    EXPECT_FALSE(fs::exists(SideFile(*m, u"wav"))) << "the outdated record keeps its files";

    // Its sample file cut short after the import: imported again.
    const std::string wav = SideFile(*fresh, u"wav");
    fs::resize_file(wav, fs::file_size(wav) - 1000);
    m_Window.Clear();
    MediaInfo* third = Open(clip);
    EXPECT_NE(third, fresh);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    std::string why;
    EXPECT_TRUE(SampleFileMatches(*third, &why)) << why;

    // And the whole one is reused.
    m_Window.Clear();
    EXPECT_EQ(Open(clip), third);
    m_Window.DispatchNow();
    ASSERT_EQ(m_Window.Messages().size(), 1u);
    EXPECT_EQ(m_Window.Messages()[0].wParam, kProbeOk);
    EXPECT_EQ(GetHistoryCount(), 1);
}

// A failed import must not answer the next one with its half-filled record.
TEST_F(MediaProbe, FailedImportIsNotReused) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 0, 0));
    SetInstallFolderForTesting(ProgramFolderWith("crashing", REELPAGE_RECORDER_PLUGIN));
    InitFolders();
    setenv("REC_CRASH", "SetDuration", 1);
    MediaInfo* failed = Open(clip);
    ASSERT_EQ(m_Window.WaitDone(), kProbeFailed);
    unsetenv("REC_CRASH");
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    InitFolders();
    m_Window.Clear();
    MediaInfo* m = Open(clip);
    EXPECT_NE(m, failed);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(m->m_Width, 160);
}

// The decoder helper of this process's import, read straight from /proc:
// a forked helper has no libraries to load and is soon done with a short
// clip, so the look must cost less than starting a shell would.
pid_t ImportHelper() {
    std::vector<pid_t> parents = {getpid()};
    for (size_t i = 0; i < parents.size(); ++i) {
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(parents[i]) + "/task")) {
            std::ifstream children(task.path() / "children");
            for (pid_t pid; children >> pid;) {
                std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
                std::string name;
                comm >> name;
                if (name == "dec") return pid;
                if (name == "helperhost") parents.push_back(pid);
            }
        }
    }
    return -1;
}

// An import whose helper is killed half-way leaves no sample file or
// thumbnail behind. One killed after it stored its record has finished:
// the window hears so, and the files stay.
TEST_F(MediaProbe, KilledImportLeavesNoSideFiles) {
    bool halfWay = false;
    for (int attempt = 0; attempt < 5 && !halfWay; ++attempt) {
        SCOPED_TRACE(attempt);
        const std::string clip = Media("long" + std::to_string(attempt) + ".mp4");
        ASSERT_TRUE(MakeRamp(clip, 20, 25, 44100, 2));
        MediaInfo* m = Open(clip);
        ASSERT_NE(m, nullptr);
        // Step it a millisecond at a time until its sample file exists, then
        // kill it where it stands.
        pid_t dec = -1;
        for (int i = 0; i < 1000 && dec < 0; ++i)
            dec = ImportHelper();
        ASSERT_GT(dec, 0);
        kill(dec, SIGSTOP);
        const std::string wav = SideFile(*m, u"wav");
        for (int i = 0; i < 20000 && !fs::exists(wav); ++i) {
            kill(dec, SIGCONT);
            usleep(1000);
            kill(dec, SIGSTOP);
        }
        ASSERT_TRUE(fs::exists(wav));
        kill(dec, SIGKILL);
        const int64_t result = m_Window.WaitDone(30000);
        if (IsRecordStored(*m)) {
            // Too late to be half-way: the import was whole.
            EXPECT_EQ(result, kProbeOk);
            EXPECT_TRUE(fs::exists(wav));
            // Its repeat, if any, is not the next attempt's answer.
            usleep(300000);
            m_Window.DispatchNow();
            m_Window.Clear();
            continue;
        }
        halfWay = true;
        EXPECT_EQ(result, kProbeFailed);
        EXPECT_FALSE(fs::exists(wav));
        EXPECT_FALSE(fs::exists(SideFile(*m, u"bmp")));
    }
    EXPECT_TRUE(halfWay) << "no import was caught half-way";
}

// A data disk that fills during the import: no sample file cut short is
// kept (its outputs would lose sound), and the import says it failed.
TEST_F(MediaProbe, FullDataDiskFailsTheImportAndKeepsNothing) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 10, 25, 44100, 2));
    testing_disk::SmallDisk disk(Folder("small disk"), 512 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "no permission to mount a small disk";
    setenv("XDG_DATA_HOME", disk.Folder().c_str(), 1);
    ReloadHistoryForTesting();
    MediaInfo* m = Open(clip);
    EXPECT_EQ(m_Window.WaitDone(), kProbeFailed);
    EXPECT_FALSE(fs::exists(SideFile(*m, u"wav")));
    EXPECT_FALSE(fs::exists(SideFile(*m, u"bmp")));
    // Nothing of it is in the store for a later run to trust.
    ReloadHistoryForTesting();
    EXPECT_EQ(GetHistoryCount(), 0);
}

// A data folder the import cannot write in would give outputs without sound
// and poster: the import fails and the log says why.
TEST_F(MediaProbe, UnwritableDataFolderFailsTheImport) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 8000, 1));
    const std::string data = Folder("data");
    fs::create_directories(data + "/Zelmorix");
    std::ofstream(data + "/Zelmorix/MediaInfo") << "a file where the folder should be";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    ReloadHistoryForTesting();
    InitDiagnostics();
    Open(clip);
    EXPECT_EQ(m_Window.WaitDone(), kProbeFailed);
    std::ifstream log(std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("Zelmorix/MediaInfo"), std::string::npos) << text;
}

// The thumbnail is exactly the picture a full decode gives for the first
// frame at or after 3 s (or the first frame of a shorter clip), however few
// pictures the import decodes to reach it. The reference: that picture cut
// out by ffmpeg as raw video, imported the same way, so both go through the
// same conversion and must match byte for byte.
TEST_F(MediaProbe, ThumbnailIsTheExactPictureWhateverTheStreamsStructure) {
    struct Case {
        const char* name;
        double seconds;
        std::vector<std::string> encode;
        const char* pick; // the frame ffmpeg cuts out
    };
    const Case cases[] = {
        {"x264-defaults.mp4", 5, {}, "gte(t\\,3)"},
        {"b-pyramid.mp4",
         5,
         {"-x264-params", "scenecut=0:keyint=300:bframes=3:b-pyramid=normal"},
         "gte(t\\,3)"},
        {"keyframe-at-3s.mp4", 5, {"-g", "25", "-bf", "2"}, "gte(t\\,3)"},
        // Matroska keeps its index for seeks: nothing tells the spacing up front.
        {"keyframe-each-second.mkv", 5, {"-g", "25", "-bf", "2"}, "gte(t\\,3)"},
        {"shorter-than-3s.mp4", 2, {}, "eq(n\\,0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = Media(c.name);
        const std::string picture = Media(std::string(c.name) + ".nut");
        std::vector<std::string> make = {"-f", "lavfi", "-i",
                                         "testsrc2=s=160x120:r=25:d=" + std::to_string(c.seconds),
                                         "-c:v", "libx264", "-pix_fmt", "yuv420p"};
        make.insert(make.end(), c.encode.begin(), c.encode.end());
        make.push_back(clip);
        ASSERT_TRUE(Ffmpeg(make));
        ASSERT_TRUE(Ffmpeg({"-i", clip, "-vf", std::string("select=") + c.pick, "-frames:v", "1",
                            "-c:v", "rawvideo", "-pix_fmt", "yuv420p", picture}));
        MediaInfo* m = Open(clip);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
        m_Window.Clear();
        const std::vector<uint8_t> thumbnail = ReadFile(SideFile(*m, u"bmp"));
        MediaInfo* r = Open(picture);
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
        m_Window.Clear();
        const std::vector<uint8_t> expected = ReadFile(SideFile(*r, u"bmp"));
        ASSERT_EQ(expected.size(), 54u + 160 * 120 * 4);
        EXPECT_TRUE(thumbnail == expected);
    }
}

TEST_F(MediaProbe, PhoneVideoIsUpright) {
    const std::string plain = Media("landscape.mp4");
    const std::string phone = Media("phone.mp4");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=1", "-c:v", "libx264",
                        "-pix_fmt", "yuv420p", plain}));
    ASSERT_TRUE(Ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", phone}));
    MediaInfo* m = Open(phone);
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(m->m_Width, 120);
    EXPECT_EQ(m->m_Height, 160);
    // The thumbnail shows what ffmpeg shows for the file (turned upright).
    const std::vector<uint8_t> bmp = ReadFile(SideFile(*m, u"bmp"));
    const std::vector<uint8_t> upright = FfmpegFirstFrameBgra(phone);
    ASSERT_EQ(upright.size(), 120u * 160 * 4);
    ASSERT_EQ(bmp.size(), 54 + upright.size());
    double diff = 0;
    for (size_t i = 0; i < upright.size(); ++i)
        if (i % 4 != 3) diff += std::abs(int(bmp[54 + i]) - int(upright[i]));
    EXPECT_LT(diff / (120.0 * 160 * 3), 4.0);
    // ... and not what the decoder makes before turning it.
    const std::vector<uint8_t> unturned = FfmpegFirstFrameBgra(plain);
    double other = 0;
    for (size_t i = 0; i < unturned.size(); ++i)
        if (i % 4 != 3) other += std::abs(int(bmp[54 + i]) - int(unturned[i]));
    EXPECT_GT(other / (120.0 * 160 * 3), 20.0);
}

// A relative path means the caller's folder, not dec's; a fresh account may
// not have its data folder yet.
TEST_F(MediaProbe, RelativePathOnAFreshAccount) {
    const std::string folder = Folder("relative");
    ASSERT_TRUE(MakeRamp(folder + "/clip.mp4", 1, 25, 0, 0));
    const std::string data = Folder("fresh") + "/not/yet/there";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    ReloadHistoryForTesting();
    ASSERT_EQ(chdir(folder.c_str()), 0);
    MediaInfo* m = Open("clip.mp4");
    ASSERT_EQ(m_Window.WaitDone(), kProbeOk);
    EXPECT_EQ(platform::ToUtf8(m->m_szFileName), folder + "/clip.mp4");
    EXPECT_TRUE(
        fs::exists(data + "/Zelmorix/MediaInfo/" + platform::GuidToU8String(m->m_id) + ".bmp"));
    // The same relative name again is the same file.
    m_Window.Clear();
    EXPECT_EQ(Open("clip.mp4"), m);
}

TEST_F(MediaProbe, DecoderThatCannotStart) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 0, 0));
    SetInstallFolderForTesting(Folder("no helpers here"));
    InitFolders();
    MediaInfo* m = Open(clip);
    ASSERT_NE(m, nullptr);
    m_Window.DispatchNow();
    ASSERT_EQ(m_Window.Messages().size(), 1u);
    EXPECT_EQ(m_Window.Messages()[0].wParam, kProbeFailed);
}

// dec ending before the plug-in has reported (here: the plug-in crashes) is
// noticed through its process handle and reported as a failed import.
TEST_F(MediaProbe, DecoderThatDiesReportsFailure) {
    const std::string clip = Media("clip.mp4");
    ASSERT_TRUE(MakeRamp(clip, 1, 25, 0, 0));
    SetInstallFolderForTesting(ProgramFolderWith("crashing", REELPAGE_RECORDER_PLUGIN));
    InitFolders();
    setenv("REC_CRASH", "SetDuration", 1);
    Open(clip);
    EXPECT_EQ(m_Window.WaitDone(), kProbeFailed);
    EXPECT_TRUE(m_Window.Progress().empty());
}
