#include "media/MediaProbe.h"

#include "captions/Captions.h"
#include "media/HelperProtocol.h"
#include "media/History.h"
#include "system/Folders.h"
#include "system/Log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <vector>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/filetime.h"
#include "platform/process.h"
#include "platform/router.h"
#include "platform/shm.h"
#include "platform/wait.h"
#include "platform/wstr.h"
#include "reelpage/messages.h"

namespace reelpage {

namespace {

constexpr char16_t kProbePlugin[] = u"Ostrapel.so";

// Watchers are detached, and one whose helper ends as the process exits
// still runs while exit-time destructors do: like the router, the list they
// leave is never destroyed.
struct RunningProbes {
    std::mutex lock;
    std::vector<int> handles; // process handles, owned by their watchers
};

RunningProbes& Probes() {
    static RunningProbes* const probes = new RunningProbes;
    return *probes;
}

// The plug-in reports the outcome of a probe itself, and dec exits with 0
// once it has. A helper that ends otherwise (crashed, killed, plug-in not
// loadable) has reported nothing: say so, or the importing window would
// wait for ever.
// Its half-written thumbnail and sample file go with it: no record will ever
// name them.
void WatchProbe(int process, HWND notify, uint32_t msgDone, int32_t cookie, MediaInfo media) {
    RunningProbes& probes = Probes();
    {
        std::lock_guard lock(probes.lock);
        probes.handles.push_back(process);
    }
    std::thread([=, &probes] {
        platform::WaitForHandle(process, platform::kInfinite);
        int code = 0;
        platform::GetHelperExitCode(process, &code);
        // An import that stored its record has finished, whatever ended its
        // helper afterwards (the exit of a front end that got its answer):
        // its files are the record's. The helper may have ended between the
        // store and its own report, so the window hears of the end here too
        // (a window takes the first report and no other).
        if (code != 0 && !IsRecordStored(media)) {
            LogWrite(kLogError, "The media probe ended without a result (exit code %d)\n", code);
            RemoveSideFiles(media);
            platform::PostMessage(notify, msgDone, kProbeFailed, cookie);
        } else if (code != 0) {
            platform::PostMessage(notify, msgDone, kProbeOk, cookie);
        }
        std::lock_guard lock(probes.lock);
        std::erase(probes.handles, process);
        platform::CloseHelperHandle(process);
    }).detach();
}

// The same file as the file system sees it: the same name, or on a file
// system that folds letter case, another spelling of the same file.
bool SameFile(const std::u16string& path, const struct stat* st, const WCHAR* known) {
    if (path == known) return true;
    if (!st || platform::WStrICmp(path, known) != 0) return false;
    struct stat other {};
    return stat(platform::ToUtf8(known).c_str(), &other) == 0 && other.st_dev == st->st_dev &&
           other.st_ino == st->st_ino;
}

// The import writes its thumbnail and sample file into the media folder; a
// folder it cannot write would lose the sound and the poster of every later
// output, so the import fails at once and says why.
bool MediaFolderWritable() {
    CreateMediaInfoFolder();
    const std::string folder = platform::ToUtf8(MediaInfoFolder());
    struct stat st {};
    const int err = stat(folder.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (err != 0) {
        LogWrite(kLogError, "Failed(%d) to CreateDirectory:%s\n", err, folder.c_str());
        return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        LogWrite(kLogError, "Failed(%d) to write in the media folder %s\n", errno, folder.c_str());
        return false;
    }
    return true;
}

} // namespace

void CancelProbes() {
    RunningProbes& probes = Probes();
    {
        std::lock_guard lock(probes.lock);
        for (int process : probes.handles)
            platform::TerminateHelper(process, -1);
    }
    // Their watchers remove what they wrote and then let go of them.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    for (;;) {
        {
            std::lock_guard lock(probes.lock);
            if (probes.handles.empty()) return;
        }
        if (std::chrono::steady_clock::now() >= until) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void TitleFromPath(const WCHAR* path, WCHAR* title, size_t cap) {
    std::u16string_view name(path);
    const size_t slash = name.find_last_of(u'/');
    if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
    const size_t dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos) name = name.substr(0, dot);
    platform::WStrCopy(title, cap, name);
}

MediaInfo* OpenMedia(const WCHAR* path, HWND notify, int32_t cookie, uint32_t msgDone,
                     uint32_t msgProgress) {
    if (!path) return nullptr;
    // dec runs in the program folder: a relative path is made absolute here,
    // against the caller's current folder, which it was meant for.
    std::u16string full = path;
    if (!full.empty() && full[0] != u'/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) full = platform::FromUtf8(cwd) + u"/" + full;
    }
    // A record holds 259 characters: a longer path cut to fit would name
    // another file, or none.
    if (full.size() >= size_t(kMaxPath)) {
        platform::PostMessage(notify, msgDone, kProbePathTooLong, cookie);
        return nullptr;
    }
    struct stat st {};
    const bool exists = stat(platform::ToUtf8(full).c_str(), &st) == 0;
    // Beside the probe: the captions are looked for while it runs.
    BeginCaptionSearch(full);
    for (int32_t i = 0; i < GetHistoryCount(); ++i) {
        MediaInfo* known = GetHistoryItem(i);
        if (!SameFile(full, exists ? &st : nullptr, known->m_szFileName)) continue;
        if (IsReusable(*known)) {
            platform::PostMessage(notify, msgDone, kProbeOk, cookie);
            return known;
        }
        // Unfinished, failed, damaged or made from an older version of the
        // file: imported again under a new record.
        LogWrite(kLogInfo, "Importing %ls again: its record cannot be used\n", known->m_szFileName);
        RetireRecord(known);
        break;
    }

    MediaInfo* media = AddMediaRecord();
    if (!media) {
        platform::PostMessage(notify, msgDone, kProbeFailed, cookie);
        return nullptr;
    }
    platform::WStrCopy(media->m_szFileName, full);
    TitleFromPath(media->m_szFileName, media->m_szName, std::size(media->m_szName));

    int64_t size = 0;
    uint64_t created = 0;
    if (!QueryFileIdentity(platform::ToUtf8(media->m_szFileName), &size, &created)) {
        platform::PostMessage(notify, msgDone, kProbeUnreadable, cookie);
        return media;
    }
    // There, but not ours to read: the helper would only say it cannot
    // open the file, which reads as a format it does not know.
    if (const int fd = open(platform::ToUtf8(media->m_szFileName).c_str(), O_RDONLY | O_CLOEXEC);
        fd >= 0) {
        close(fd);
    } else if (errno == EACCES || errno == EPERM) {
        platform::PostMessage(notify, msgDone, kProbeNoAccess, cookie);
        return media;
    }
    platform::FileTime now = 0;
    platform::SystemTimeToFileTime(platform::SystemTimeNowLocal(), &now);
    media->m_History = now;
    media->m_FileSize = size;
    media->m_CreationTime = created;
    if (!MediaFolderWritable()) {
        platform::PostMessage(notify, msgDone, kProbeFailed, cookie);
        return media;
    }

    // The helper reaches the importing window through the router.
    platform::RouterInit();
    platform::SharedBlock request, launch;
    int rc = platform::CreateSharedBlock(sizeof(ProbeRequest), true, &request);
    if (rc != 0) {
        LOG_FAILED(rc, "CreateFileMapping(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, "
                       "sizeof(ProbeRequest), NULL)");
        platform::PostMessage(notify, msgDone, kProbeFailed, cookie);
        return media;
    }
    auto* probe = static_cast<ProbeRequest*>(request.view);
    std::memset(probe, 0, sizeof *probe);
    probe->m_hMediaInfo = media->m_hSelf;
    probe->m_hwndMessage = notify;
    probe->m_lParam = cookie;
    probe->m_uMsgDone = msgDone;
    probe->m_uMsgProgress = msgProgress;

    int process = -1;
    rc = CreateHelperLaunch(media->m_szFileName, 1, 0, kProbePlugin, request.handle, &launch);
    if (rc == 0) {
        // Only the blocks the probe reads, not every record of the history.
        rc = LaunchDecoder(launch.handle, {request.handle, media->m_hSelf}, &process);
        platform::CloseSharedBlock(&launch);
    }
    // The helper holds its own handles on both blocks from here on.
    platform::CloseSharedBlock(&request);
    if (rc != 0) {
        platform::PostMessage(notify, msgDone, kProbeFailed, cookie);
        return media;
    }
    WatchProbe(process, notify, msgDone, cookie, *media);
    return media;
}

} // namespace reelpage
