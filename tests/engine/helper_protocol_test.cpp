// Starting the helpers, the launch block, and the preview command queue.
#include "system/Folders.h"
#include "media/HelperProtocol.h"
#include "system/Log.h"
#include "probe_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

#include "platform/event.h"
#include "platform/process.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/protocol.h"

using namespace reelpage;

namespace {

std::string ReadLog() {
    std::ifstream in(std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(HelperProtocol, CommandLines) {
    SetInstallFolderForTesting("/opt/my programs");
    InitFolders();
    EXPECT_EQ(DecoderCommandLine(0x1A4), "\"/opt/my programs/dec\" 420");
    EXPECT_EQ(EncoderCommandLine(0x1A4), "/opt/my programs/enc 420");
    // The handle is sign-extended before it is printed unsigned.
    EXPECT_EQ(DecoderCommandLine(-1), "\"/opt/my programs/dec\" 18446744073709551615");
    // Fixed video threads follow as a second argument; 0 leaves them out.
    EXPECT_EQ(DecoderCommandLine(0x1A4, 1), "\"/opt/my programs/dec\" 420 1");
    EXPECT_EQ(DecoderCommandLine(0x1A4, 0), "\"/opt/my programs/dec\" 420");
    EXPECT_EQ(DecoderCommandLine(0x1A4, 1, false), "\"/opt/my programs/dec\" 420 1 nosound");
    EXPECT_EQ(DecoderCommandLine(0x1A4, 0, false), "\"/opt/my programs/dec\" 420 nosound");
}

TEST(HelperProtocol, LaunchBlockFieldsAreCutToFit) {
    SetInstallFolderForTesting("/opt/reelpage");
    InitFolders();
    OpenLog();
    const std::u16string longPath = u"/media/" + std::u16string(300, u'x') + u".mp4";
    platform::SharedBlock block;
    ASSERT_EQ(CreateHelperLaunch(longPath.c_str(), 1, 1234, u"Ostrapel.so", 77, &block), 0);
    const auto* launch = static_cast<const HelperLaunch*>(block.view);
    EXPECT_EQ(platform::WStrNLen(launch->m_szFileName, kMaxPath), 259u);
    EXPECT_EQ(std::u16string(launch->m_szFileName), longPath.substr(0, 259));
    EXPECT_EQ(std::u16string(launch->m_szPlugin), u"/opt/reelpage/Ostrapel.so");
    EXPECT_EQ(launch->m_hLogFile, LogHandle());
    EXPECT_NE(launch->m_hLogFile, 0);
    EXPECT_EQ(launch->m_bMediaInfo, 1);
    EXPECT_EQ(launch->m_llStart, 1234);
    EXPECT_EQ(launch->m_hSession, 77);
    platform::CloseSharedBlock(&block);
}

// dec starts from a program folder whose name has a space in it, and a
// launch that cannot start is logged with the standard failure line.
TEST(HelperProtocol, DecoderStartsFromAFolderWithSpaces) {
    const std::string folder =
        probe_test::ProgramFolderWith("my programs", REELPAGE_RECORDER_PLUGIN);
    SetInstallFolderForTesting(folder);
    InitFolders();
    OpenLog();
    const std::string trace = probe_test::Folder("t") + "/trace.txt";
    setenv("REC_TRACE", trace.c_str(), 1);
    platform::SharedBlock block;
    ASSERT_EQ(CreateHelperLaunch(u"/nonexistent.mp4", 0, 0, u"Ostrapel.so", 0, &block), 0);
    int process = -1;
    ASSERT_EQ(LaunchDecoder(block.handle, &process), 0);
    ASSERT_EQ(platform::WaitForHandle(process, 60000), platform::kWaitObject0);
    int code = -1;
    platform::GetHelperExitCode(process, &code);
    platform::CloseHelperHandle(process);
    EXPECT_EQ(code, 0);
    std::ifstream in(trace);
    std::stringstream lines;
    lines << in.rdbuf();
    EXPECT_EQ(lines.str(), "Init start=0 probe=0\nOpenFailed\n");

    SetInstallFolderForTesting(probe_test::Folder("empty folder"));
    InitFolders();
    process = -1;
    EXPECT_NE(LaunchDecoder(block.handle, &process), 0);
    EXPECT_NE(ReadLog().find("Failed(2) on CreateProcess(NULL, szCmd, NULL, NULL, 1, "
                             "CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, NULL, g_szModulePath, "
                             "&siStartInfo, &piProcInfo), FILE:"),
              std::string::npos)
        << ReadLog();
    EXPECT_NE(LaunchEncoder(5, &process), 0);
    EXPECT_NE(ReadLog().find("Faild(2) to CreateProcess\n"), std::string::npos);
    platform::CloseSharedBlock(&block);
}

TEST(HelperProtocol, CommandsCoalescePerCode) {
    struct Case {
        std::vector<std::pair<int32_t, int64_t>> posted;
        std::vector<std::pair<int32_t, int64_t>> queued;
    };
    const Case cases[] = {
        {{{kCmdPresent, 100}, {kCmdPresent, 200}}, {{kCmdPresent, 200}}},
        {{{kCmdSeek, 5000}, {kCmdPresent, 40}, {kCmdSeek, 9000}},
         {{kCmdSeek, 9000}, {kCmdPresent, 40}}},
        {{{kCmdEnterCropMode, 0},
          {kCmdCropOrWatermarkMoved, 0},
          {kCmdLeaveCropMode, 0},
          {kCmdCropOrWatermarkMoved, 0}},
         {{kCmdEnterCropMode, 0}, {kCmdCropOrWatermarkMoved, 0}, {kCmdLeaveCropMode, 0}}},
    };
    for (const Case& c : cases) {
        PreviewChannel channel;
        ASSERT_EQ(CreatePreviewChannel(&channel), 0);
        PreviewControl* control = channel.Control();
        EXPECT_EQ(control->m_hMutex, channel.mutex.handle);
        EXPECT_EQ(control->m_hCommandEvent, channel.commandEvent);
        for (auto [code, param] : c.posted)
            PostHelperCommand(channel, code, param);
        ASSERT_EQ(control->m_cCommand, int32_t(c.queued.size()));
        for (size_t i = 0; i < c.queued.size(); ++i) {
            EXPECT_EQ(control->m_Commands[i].m_nCode, c.queued[i].first);
            EXPECT_EQ(control->m_Commands[i].reserved, 0);
            EXPECT_EQ(control->m_Commands[i].m_llParam, c.queued[i].second);
        }
        // The helper is woken once however many commands came.
        EXPECT_EQ(platform::WaitForHandle(channel.commandEvent, 0), platform::kWaitObject0);
        EXPECT_EQ(platform::WaitForHandle(channel.commandEvent, 0), platform::kWaitTimeout);
        ClosePreviewChannel(&channel);
    }
}

TEST(HelperProtocol, QueueNeverGrowsPastItsEntries) {
    PreviewChannel channel;
    ASSERT_EQ(CreatePreviewChannel(&channel), 0);
    // A count the helper left damaged must not send the engine past the array.
    channel.Control()->m_cCommand = 500;
    PostHelperCommand(channel, kCmdCropOrWatermarkMoved, 1);
    for (const HelperCommand& c : channel.Control()->m_Commands)
        EXPECT_EQ(c.m_nCode, 0);
    channel.Control()->m_cCommand = 0;
    // Codes no helper knows: the queue keeps one entry per code whatever it is.
    for (int code = 100; code < 140; ++code)
        PostHelperCommand(channel, code, code);
    EXPECT_EQ(channel.Control()->m_cCommand, kCommandSlots);
    EXPECT_EQ(channel.Control()->m_Commands[kCommandSlots - 1].m_nCode, 100 + kCommandSlots - 1);
    ClosePreviewChannel(&channel);
}

TEST(HelperProtocol, PositionIsReadUnderTheMutex) {
    PreviewChannel channel;
    ASSERT_EQ(CreatePreviewChannel(&channel), 0);
    channel.Control()->m_Pts = 4240000;
    EXPECT_EQ(GetPosition(channel), 4240000);
    // While the helper holds the mutex the engine waits for it.
    std::atomic<bool> locked{false};
    std::thread helper([&] {
        platform::LockSharedMutex(channel.mutex, -1);
        locked = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        channel.Control()->m_Pts = 5000000;
        platform::UnlockSharedMutex(channel.mutex);
    });
    while (!locked)
        std::this_thread::yield();
    EXPECT_EQ(GetPosition(channel), 5000000);
    helper.join();
    ClosePreviewChannel(&channel);
}
