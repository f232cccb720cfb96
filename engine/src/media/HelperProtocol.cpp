#include "media/HelperProtocol.h"

#include "system/Folders.h"
#include "system/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/event.h"
#include "platform/helper_host.h"
#include "platform/process.h"
#include "platform/wstr.h"
#include "reelpage/decoder_words.h"

namespace reelpage {

namespace {
constexpr size_t kCommandLineChars = 1024;

void HostFallback(int error) {
    if (error != 0)
        LogWrite(kLogError, "Failed(%d) to start the helper host: helpers are started on their own\n",
                 error);
    else
        LogWrite(kLogError, "The helper host has ended: its helpers ended with it\n");
}

// The helpers are forked by the host in the program folder, which shares the
// pages their libraries wrote while loading among them all.
void UseHost() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::UseHelperHost(platform::ToUtf8(g_szModulePath) + "/helperhost", HostFallback);
    });
}
} // namespace

std::string DecoderCommandLine(HANDLE32 launchBlock, int videoThreads, bool sound) {
    char16_t line[kCommandLineChars];
    platform::WFormat(line, kCommandLineChars, "\"%ls/dec\" %I64u", g_szModulePath,
                      static_cast<unsigned long long>(static_cast<int64_t>(launchBlock)));
    std::string command = platform::ToUtf8(line);
    if (videoThreads > 0) command += " " + std::to_string(videoThreads);
    if (!sound) command += std::string(" ") + kDecoderNoSound;
    return command;
}

std::string EncoderCommandLine(HANDLE32 encoderTask) {
    char16_t line[kCommandLineChars];
    platform::WFormat(line, kCommandLineChars, "%ls/enc %d", g_szModulePath, int(encoderTask));
    return platform::ToUtf8(line);
}

int LaunchHelper(const std::string& commandLine, int* process) {
    UseHost();
    return platform::LaunchHelper(commandLine, platform::ToUtf8(g_szModulePath), process);
}

int LaunchHelper(const std::string& commandLine, const std::vector<int>& handOver, int* process) {
    UseHost();
    std::vector<int> all = handOver;
    if (LogHandle() > 0) all.push_back(LogHandle());
    return platform::LaunchHelper(commandLine, platform::ToUtf8(g_szModulePath), process, all);
}

namespace {
int DecoderStarted(int rc) {
    if (rc != 0)
        LOG_FAILED(rc, "CreateProcess(NULL, szCmd, NULL, NULL, 1, CREATE_SUSPENDED | "
                       "CREATE_BREAKAWAY_FROM_JOB, NULL, g_szModulePath, &siStartInfo, "
                       "&piProcInfo)");
    return rc;
}
} // namespace

int LaunchDecoder(HANDLE32 launchBlock, const std::vector<int>& handOver, int* process,
                  int videoThreads, bool sound) {
    std::vector<int> all = handOver;
    all.push_back(launchBlock);
    return DecoderStarted(
        LaunchHelper(DecoderCommandLine(launchBlock, videoThreads, sound), all, process));
}

int LaunchEncoder(HANDLE32 encoderTask, const std::vector<int>& handOver, int* process) {
    std::vector<int> all = handOver;
    all.push_back(encoderTask);
    int rc = LaunchHelper(EncoderCommandLine(encoderTask), all, process);
    if (rc != 0) LogWritePlain("Faild(%d) to CreateProcess\n", rc);
    return rc;
}

int LaunchDecoder(HANDLE32 launchBlock, int* process) {
    int rc = LaunchHelper(DecoderCommandLine(launchBlock), process);
    if (rc != 0)
        LOG_FAILED(rc, "CreateProcess(NULL, szCmd, NULL, NULL, 1, CREATE_SUSPENDED | "
                       "CREATE_BREAKAWAY_FROM_JOB, NULL, g_szModulePath, &siStartInfo, "
                       "&piProcInfo)");
    return rc;
}

int LaunchEncoder(HANDLE32 encoderTask, int* process) {
    int rc = LaunchHelper(EncoderCommandLine(encoderTask), process);
    if (rc != 0) LogWritePlain("Faild(%d) to CreateProcess\n", rc);
    return rc;
}

int CreateHelperLaunch(const WCHAR* mediaFile, BOOL bMediaInfo, int64_t llStart,
                       const char16_t* plugin, HANDLE32 session, platform::SharedBlock* out) {
    int rc = platform::CreateSharedBlock(sizeof(HelperLaunch), true, out);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "sizeof(HelperLaunch), NULL)");
        return rc;
    }
    auto* launch = static_cast<HelperLaunch*>(out->view);
    std::memset(launch, 0, sizeof *launch);
    platform::WStrCopy(launch->m_szFileName, kMaxPath, mediaFile ? mediaFile : u"");
    launch->m_hLogFile = LogHandle();
    launch->m_bMediaInfo = bMediaInfo;
    launch->m_llStart = llStart;
    platform::WFormat(launch->m_szPlugin, kMaxPath, "%ls/%ls", g_szModulePath, plugin);
    launch->m_hSession = session;
    return 0;
}

int CreatePreviewChannel(PreviewChannel* out) {
    int rc = platform::CreateSharedBlock(sizeof(PreviewControl), true, &out->block);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "sizeof(PreviewControl), NULL)");
        return rc;
    }
    std::memset(out->block.view, 0, sizeof(PreviewControl));
    rc = platform::CreateSharedMutex(true, &out->mutex);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateMutex(&sa, FALSE, NULL)");
        ClosePreviewChannel(out);
        return rc;
    }
    out->commandEvent = platform::CreateEvent(true);
    if (out->commandEvent < 0) {
        rc = errno;
        LOG_FAILED(rc, "CreateEvent(&sa, FALSE, FALSE, NULL)");
        ClosePreviewChannel(out);
        return rc;
    }
    out->Control()->m_hMutex = out->mutex.handle;
    out->Control()->m_hCommandEvent = out->commandEvent;
    return 0;
}

void ClosePreviewChannel(PreviewChannel* channel) {
    if (channel->commandEvent >= 0) platform::CloseEvent(channel->commandEvent);
    channel->commandEvent = -1;
    if (channel->mutex.handle >= 0) platform::CloseSharedMutex(&channel->mutex);
    if (channel->block.handle >= 0) platform::CloseSharedBlock(&channel->block);
}

void PostHelperCommand(PreviewChannel& channel, int32_t code, int64_t llParam) {
    PreviewControl* control = channel.Control();
    platform::LockSharedMutex(channel.mutex, -1);
    // The helper writes the count too; never trust it past the array.
    int32_t count = std::clamp(control->m_cCommand, 0, kCommandSlots);
    int32_t index = count;
    for (int32_t i = 0; i < count; ++i) {
        if (control->m_Commands[i].m_nCode == code) {
            index = i;
            break;
        }
    }
    bool queued = index < kCommandSlots;
    if (queued) {
        if (index == count) control->m_cCommand = count + 1;
        control->m_Commands[index].m_nCode = code;
        control->m_Commands[index].reserved = 0;
        control->m_Commands[index].m_llParam = llParam;
    }
    platform::UnlockSharedMutex(channel.mutex);
    if (!queued) {
        LogWrite(kLogError, "Preview command %d dropped: the queue is full\n", code);
        return;
    }
    platform::SetEvent(channel.commandEvent);
}

int64_t GetPosition(PreviewChannel& channel) {
    platform::LockSharedMutex(channel.mutex, -1);
    const int64_t pts = channel.Control()->m_Pts;
    platform::UnlockSharedMutex(channel.mutex);
    return pts;
}

} // namespace reelpage
