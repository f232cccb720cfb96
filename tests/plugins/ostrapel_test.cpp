// The media-information plug-in driven directly through its callback table,
// in this process, with a router window standing in for the import dialog.
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

#include "media_fixtures.h"
#include "platform/folders.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "reelpage/messages.h"
#include "reelpage/plugin.h"
#include "reelpage/records.h"

using namespace reelpage;
using testing_media::Le16;
using testing_media::Le32;
using testing_media::ReadFile;

namespace {

struct Message {
    uint32_t msg;
    int64_t wParam;
    int64_t lParam;
};

class Ostrapel : public ::testing::Test {
protected:
    void SetUp() override {
        m_pModule = dlopen(REELPAGE_PROGRAM_DIR "/Ostrapel.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_pModule, nullptr) << dlerror();
        auto entry = reinterpret_cast<PluginEntry>(dlsym(m_pModule, kPluginEntryName));
        ASSERT_NE(entry, nullptr);
        entry(0, &m_Plugin);

        m_hwnd = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t l) {
            m_Messages.push_back({msg, w, l});
            return int64_t(0);
        });
        ASSERT_NE(m_hwnd, 0u);
        ASSERT_EQ(platform::CreateSharedBlock(sizeof(MediaInfo), true, &m_MediaBlock), 0);
        ASSERT_EQ(platform::CreateSharedBlock(sizeof(ProbeRequest), true, &m_ProbeBlock), 0);
        m_pMedia = static_cast<MediaInfo*>(m_MediaBlock.view);
        m_pMedia->m_hSelf = m_MediaBlock.handle;
        m_pMedia->m_id = platform::CreateGuid();
        auto* probe = static_cast<ProbeRequest*>(m_ProbeBlock.view);
        probe->m_hMediaInfo = m_MediaBlock.handle;
        probe->m_hwndMessage = m_hwnd;
        probe->m_lParam = 77;
        probe->m_uMsgDone = kMsgProbeDone;
        probe->m_uMsgProgress = kMsgProbeProgress;
        std::string appData;
        platform::GetKnownFolder(platform::KnownFolder::AppData, false, &appData);
        m_szFolder = appData + "/Zelmorix/MediaInfo";
        std::filesystem::create_directories(m_szFolder);
        HelperLaunch launch{};
        launch.m_hSession = m_ProbeBlock.handle;
        ASSERT_EQ(m_Plugin.Init(&launch), 0);
    }

    void TearDown() override {
        if (m_pModule) dlclose(m_pModule);
    }

    std::vector<Message> Messages() {
        platform::RouterDispatch();
        return m_Messages;
    }
    std::string SideFile(const char* ext) const {
        return m_szFolder + "/" + platform::GuidToU8String(m_pMedia->m_id) + "." + ext;
    }
    // Frame answers for frames every 40 ms from 0 up to end; FrameReady
    // fills the buffer with a level derived from the frame's time first.
    std::vector<int> Frames(int64_t end) {
        std::vector<int> answers;
        for (int64_t t = 0; t <= end; t += 40000) {
            void* planes[3] = {};
            int32_t strides[3] = {};
            const int answer = m_Plugin.GetFrameBuffer(planes, strides, t);
            answers.push_back(answer);
            if (answer != 0) continue;
            EXPECT_EQ(strides[0], m_pMedia->m_Width * 4);
            std::memset(planes[0], int(t / 40000), size_t(strides[0]) * m_pMedia->m_Height);
            m_Plugin.FrameReady(planes, strides, t);
        }
        return answers;
    }

    void* m_pModule = nullptr;
    PluginCallbacks m_Plugin{};
    uint32_t m_hwnd = 0;
    std::vector<Message> m_Messages;
    platform::SharedBlock m_MediaBlock, m_ProbeBlock;
    MediaInfo* m_pMedia = nullptr;
    std::string m_szFolder;
};

} // namespace

TEST_F(Ostrapel, ShortClipKeepsItsFirstFrame) {
    m_Plugin.SetVideoInfo(0, 27, 6, 4, 6, 4, 25, 1, 1000);
    m_Plugin.SetDuration(2000000);
    const std::vector<int> answers = Frames(1960000);
    EXPECT_EQ(answers[0], 0);
    for (size_t i = 1; i < answers.size(); ++i)
        EXPECT_EQ(answers[i], 1) << i;
    EXPECT_EQ(m_pMedia->m_SampleFile, 1);

    const std::vector<uint8_t> bmp = ReadFile(SideFile("bmp"));
    ASSERT_EQ(bmp.size(), 54u + 6 * 4 * 4);
    const uint8_t header[] = {'B', 'M', 150, 0, 0, 0, 0, 0, 0,  0,    54,   0,    0,
                              0,   40,  0,   0, 0, 6, 0, 0, 0,  0xFC, 0xFF, 0xFF, 0xFF,
                              1,   0,   32,  0, 0, 0, 0, 0, 96, 0,    0,    0};
    EXPECT_EQ(std::memcmp(bmp.data(), header, sizeof header), 0);
    for (size_t i = 38; i < 54; ++i)
        EXPECT_EQ(bmp[i], 0) << i;
    for (size_t i = 54; i < bmp.size(); ++i)
        EXPECT_EQ(bmp[i], 0) << i; // frame 0
}

TEST_F(Ostrapel, LongerClipShowsTheFrameAtThreeSeconds) {
    m_Plugin.SetVideoInfo(0, 27, 8, 2, 8, 2, 25, 1, 1000);
    m_Plugin.SetDuration(10000000);
    const std::vector<int> answers = Frames(4000000);
    EXPECT_EQ(answers[0], 0);
    for (size_t i = 1; i < 75; ++i)
        EXPECT_EQ(answers[i], 1) << i;
    EXPECT_EQ(answers[75], 0); // 3.0 s
    for (size_t i = 76; i < answers.size(); ++i)
        EXPECT_EQ(answers[i], -1) << i;
    const std::vector<uint8_t> bmp = ReadFile(SideFile("bmp"));
    ASSERT_EQ(bmp.size(), 54u + 8 * 2 * 4);
    EXPECT_EQ(bmp[54], 75);
    EXPECT_EQ(bmp.back(), 75);
}

TEST_F(Ostrapel, TakesDecodedFramesOnlyAtTheThumbnailsSize) {
    m_Plugin.SetVideoInfo(0, 27, 5, 3, 5, 3, 25, 1, 1000);
    struct Case {
        int32_t format, w, h, tw, th, answer;
    };
    const Case cases[] = {
        {kPixBgra, 5, 3, 5, 3, 0},    {kPixBgr0, 5, 3, 5, 3, 0},  {kPixBgr24, 5, 3, 5, 3, 0},
        {kPixYuv420, 5, 3, 5, 3, -1}, {kPixBgra, 5, 3, 5, 4, -1}, {kPixBgra, 6, 3, 5, 3, -1},
        {kPixBgra, 5, 3, 6, 3, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(m_Plugin.CheckFormat(c.format, c.w, c.h, c.tw, c.th), c.answer)
            << c.format << " " << c.w << "x" << c.h << " -> " << c.tw << "x" << c.th;

    // Last accepted: 24-bit, whose bitmap rows are padded to four bytes.
    void* planes[3] = {};
    int32_t strides[3] = {};
    ASSERT_EQ(m_Plugin.GetFrameBuffer(planes, strides, 0), 0);
    EXPECT_EQ(strides[0], 16);
    std::memset(planes[0], 9, 16 * 3);
    m_Plugin.FrameReady(planes, strides, 0);
    const std::vector<uint8_t> bmp = ReadFile(SideFile("bmp"));
    ASSERT_EQ(bmp.size(), 54u + 16 * 3);
    EXPECT_EQ(Le16(&bmp[28]), 24);
    EXPECT_EQ(Le32(&bmp[34]), 48u);
    EXPECT_EQ(Le32(&bmp[2]), 54u + 48);
}

TEST_F(Ostrapel, SampleFileProgressAndResult) {
    m_Plugin.SetVideoInfo(0, 27, 4, 4, 4, 4, 25, 1, 1000);
    m_Plugin.SetAudioInfo(8000, 2, 64000);
    m_Plugin.SetDuration(1000000); // 32000 bytes expected
    int64_t ignored = 0;
    std::vector<uint8_t> pcm(3200);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = uint8_t(i * 7);
    // Posted messages are delivered as they come; the sent ones (in this
    // process) at once.
    for (int i = 0; i < 10; ++i) {
        m_Plugin.Poll(&ignored);
        platform::RouterDispatch();
        m_Plugin.AudioData(pcm.data(), 1600);
        m_Plugin.Poll(&ignored); // no change: nothing posted
        platform::RouterDispatch();
        m_Plugin.AudioData(pcm.data() + 1600, 1600);
    }
    m_Plugin.AudioData(pcm.data(), 100); // past the estimate
    m_Plugin.Poll(&ignored);
    platform::RouterDispatch();
    EXPECT_EQ(m_Plugin.EndOfStream(760000), -1);

    // 5, 10, ... 95 while the sound comes in, then 100 with the result.
    const std::vector<Message> messages = Messages();
    std::vector<int64_t> progress;
    for (const Message& m : messages) {
        EXPECT_EQ(m.lParam, 77);
        if (m.msg == kMsgProbeProgress) progress.push_back(m.wParam);
    }
    ASSERT_EQ(progress.size(), 20u);
    for (size_t i = 0; i < progress.size(); ++i)
        EXPECT_EQ(progress[i], int64_t(5 * (i + 1)));
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2].msg, kMsgProbeProgress);
    EXPECT_EQ(messages.back().msg, kMsgProbeDone);
    EXPECT_EQ(messages.back().wParam, kProbeOk);

    const std::vector<uint8_t> wav = ReadFile(SideFile("wav"));
    ASSERT_EQ(wav.size(), 46u + 32100);
    const uint8_t header[46] = {'R',  'I',  'F', 'F', 0x8A, 0x7D, 0,    0,    'W', 'A', 'V', 'E',
                                'f',  'm',  't', ' ', 18,   0,    0,    0,    1,   0,   2,   0,
                                0x40, 0x1F, 0,   0,   0x00, 0x7D, 0,    0,    4,   0,   16,  0,
                                0,    0,    'd', 'a', 't',  'a',  0x64, 0x7D, 0,   0};
    EXPECT_EQ(std::memcmp(wav.data(), header, 46), 0);
    EXPECT_EQ(std::memcmp(wav.data() + 46, pcm.data(), pcm.size()), 0);
    // The longer of the last frame and the sound (32100 bytes at 32000 a second).
    EXPECT_EQ(m_pMedia->m_Duration, 1003125);
    EXPECT_EQ(m_pMedia->m_bAudioStream, 1);

    // Stored exactly as the engine stores a record.
    platform::RegKey key;
    ASSERT_EQ(platform::RegOpenKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo",
                                   &key),
              0);
    uint32_t type = 0, size = kMediaInfoBodySize;
    std::vector<uint8_t> body(kMediaInfoBodySize);
    ASSERT_EQ(platform::RegQueryValue(key, platform::GuidToU16String(m_pMedia->m_id), &type,
                                      body.data(), &size),
              0);
    EXPECT_EQ(type, platform::REG_BINARY);
    EXPECT_EQ(std::memcmp(body.data(), reinterpret_cast<uint8_t*>(m_pMedia) + kMediaInfoBodyOffset,
                          kMediaInfoBodySize),
              0);
}

TEST_F(Ostrapel, SoundThatDecodesToNothingLeavesNoSampleFile) {
    m_Plugin.SetVideoInfo(0, 27, 4, 4, 4, 4, 25, 1, 1000);
    m_Plugin.SetAudioInfo(44100, 2, 128000);
    m_Plugin.SetDuration(2000000);
    EXPECT_TRUE(std::filesystem::exists(SideFile("wav")));
    Frames(1960000);
    EXPECT_EQ(m_Plugin.EndOfStream(1960000), -1);
    EXPECT_FALSE(std::filesystem::exists(SideFile("wav")));
    EXPECT_EQ(m_pMedia->m_bAudioStream, 0);
    EXPECT_EQ(m_pMedia->m_Duration, 1960000);
    const std::vector<Message> messages = Messages();
    ASSERT_EQ(messages.size(), 2u); // no progress on the way without sound bytes
    EXPECT_EQ(messages[0].msg, kMsgProbeProgress);
    EXPECT_EQ(messages[0].wParam, 100);
    EXPECT_EQ(messages[1].msg, kMsgProbeDone);
}

TEST_F(Ostrapel, FailuresAndFilesWithoutStreams) {
    EXPECT_EQ(m_Plugin.OpenFailed(0), 0);
    std::vector<Message> messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].msg, kMsgProbeDone);
    EXPECT_EQ(messages[0].wParam, kProbeUnsupported);
    EXPECT_EQ(messages[0].lParam, 77);

    // Neither pictures nor sound: a result, but nothing stored.
    m_Messages.clear();
    m_Plugin.SetVideoInfo(1, 0, 0, 0, 0, 0, 0, 0, 0);
    m_Plugin.SetDuration(0);
    EXPECT_EQ(m_Plugin.EndOfStream(0), -1);
    messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].wParam, kProbeOk);
    platform::RegKey key;
    if (platform::RegOpenKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo",
                             &key) == 0) {
        EXPECT_EQ(platform::RegQueryValue(key, platform::GuidToU16String(m_pMedia->m_id), nullptr,
                                          nullptr, nullptr),
                  platform::ERROR_FILE_NOT_FOUND);
    }
}
