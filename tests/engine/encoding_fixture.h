#pragma once
// An encoding job driven through the engine's exports as the program drives
// it: import with OpenMedia, a project, StartEncoding, the messages of the
// job at a router window, FinishEncoding. Media come from the ffmpeg command.
#include "system/Folders.h"
#include "media/History.h"
#include "records/Project.h"
#include "records/Settings.h"
#include "encoding/VideoEncoder.h"
#include "probe_fixture.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>

#include "media_check.h"
#include "platform/registry.h"
#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/encoding.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"

namespace encoding_test {

using namespace reelpage;

struct JobResult {
    int done = 0;   // kMsgEncoderDone with kEncoderOk
    int failed = 0; // kMsgEncoderDone with anything else
    int audioFed = 0, audioFailed = 0;
    bool timedOut = false;
};

class Encoding : public ::testing::Test {
protected:
    void SetUp() override {
        SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
        InitFolders();
        platform::RegDeleteKey(platform::RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo");
        ReloadHistoryForTesting();
        // Settings, templates: what the program has by the time it encodes.
        Bind<FnInitEngine>(kInitEngine)();
        m_Parent = probe_test::Folder("out");
        platform::WStrCopy(TheSettings().m_szFolder, platform::FromUtf8(m_Parent));
    }
    void TearDown() override {
        Bind<FnFinishEncoding>(kFinishEncoding)(1);
        Bind<FnFreeEncoding>(kFreeEncoding)();
        // Late messages of this job (the decoder's own) must not reach a
        // window whose fixture is gone when several cases share a process.
        platform::RouterDestroyWindow(m_Window.Handle());
    }

    std::string Media(const std::string& name) { return probe_test::Folder("media") + "/" + name; }

    // ffmpeg makes the source: a moving test picture and a tone.
    std::string MakeClip(const std::string& name, const std::string& size, double seconds,
                         int fps = 25, int sampleRate = 44100, int channels = 2,
                         const std::string& extra = "") {
        const std::string path = Media(name);
        std::string args = "-f lavfi -i testsrc2=s=" + size + ":r=" + std::to_string(fps) +
                           ":d=" + std::to_string(seconds);
        if (sampleRate > 0)
            args += " -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sampleRate) +
                    ":duration=" + std::to_string(seconds) + " -ac " + std::to_string(channels);
        args += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + extra + " " +
                media_check::Quote(path);
        EXPECT_TRUE(media_check::Ffmpeg(args)) << args;
        return path;
    }

    MediaInfo* Import(const std::string& path) {
        MediaInfo* m =
            Bind<FnOpenMedia>(kOpenMedia)(platform::FromUtf8(path).c_str(), m_Window.Handle(), 0,
                                          kMsgProbeDone, kMsgProbeProgress);
        EXPECT_NE(m, nullptr);
        EXPECT_EQ(m_Window.WaitDone(), kProbeOk);
        m_Window.Clear();
        return m;
    }

    // A project whose output is the source's own size, with the formats given.
    Project* NewProject(MediaInfo* m, bool webm, bool mp4, bool ogg) {
        Project* p = Bind<FnCreateProject>(kCreateProject)(m, 0, 0);
        EXPECT_NE(p, nullptr);
        if (!p) return nullptr;
        p->m_Formats[0] = webm ? -1 : 0;
        p->m_Formats[1] = mp4 ? -1 : 0;
        p->m_Formats[2] = ogg ? -1 : 0;
        p->m_OutputWidth = m->m_Width;
        p->m_OutputHeight = m->m_Height;
        return p;
    }

    Talvoricer* Start() {
        m_Window.Clear();
        return Bind<FnStartEncoding>(kStartEncoding)(m_Window.Handle());
    }

    // Delivers the job's messages until every encoder has reported (and the
    // sound was fed, when the source has sound), a failure arrived, or the time
    // is up.
    JobResult Wait(const Talvoricer* status, bool audio, int timeoutMs = 120000) {
        JobResult r;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            r = {};
            for (const probe_test::Message& m : m_Window.Messages()) {
                if (m.msg == kMsgEncoderDone) (m.wParam == kEncoderOk ? r.done : r.failed)++;
                if (m.msg == kMsgAudioFed)
                    (m.wParam == kAudioFedAll ? r.audioFed : r.audioFailed)++;
            }
            if (r.failed || r.audioFailed) return r;
            if (r.done == status->m_cEncoder && (!audio || r.audioFed)) return r;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                r.timedOut = true;
                return r;
            }
            pollfd p{platform::RouterWakeHandle(), POLLIN, 0};
            poll(&p, 1, int(std::min<int64_t>(left.count(), 200)));
            platform::RouterDispatch();
        }
    }

    std::string OutputFolder() {
        const WCHAR* f = Bind<FnGetOutputFolder>(kGetOutputFolder)();
        return f ? platform::ToUtf8(f) : std::string();
    }

    static size_t BlockSize(int handle) {
        struct stat st {};
        return fstat(handle, &st) == 0 ? size_t(st.st_size) : 0;
    }

    probe_test::ImportWindow m_Window;
    std::string m_Parent;
};

} // namespace encoding_test
