// Start-up and shut-down of the engine, and the record-size handshake.
#include "system/Exports.h"
#include "media/History.h"
#include "media/MediaProbe.h"
#include "system/Log.h"
#include "system/RouterQt.h"
#include "records/Settings.h"
#include "publishing/Templates.h"
#include "system/UpdateCheck.h"
#include "encoding/VideoEncoder.h"
#include "system/PreviewLink.h"

#include <csignal>
#include <fstream>
#include <string>

#include "platform/helper_host.h"

namespace reelpage {

namespace {

bool DebuggerAttached() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("TracerPid:", 0) == 0) return std::stoi(line.substr(10)) != 0;
    return false;
}

} // namespace

void CheckRecordSizes(int32_t settingsSize, int32_t mediaInfoSize, int32_t projectSize) {
    const int32_t app[3] = {settingsSize, mediaInfoSize, projectSize};
    const int32_t low[3] = {kSettingsSize, kMediaInfoSize, kProjectSize};
    for (int i = 0; i < 3; ++i) {
        if (app[i] == low[i]) continue;
        LogWrite(kLogError, "App:%d, Low:%d\n", app[i], low[i]);
        // Mismatched builds: stop in the debugger when one is watching; a user's
        // run goes on with the line in the log.
        if (DebuggerAttached()) std::raise(SIGTRAP);
    }
}

int32_t InitEngine() {
    // Helpers die with the engine through PR_SET_PDEATHSIG set at each launch,
    // so no process-wide job needs creating here; the timer resolution and the
    // picture services need no start-up on this platform.
    // Window messages for the program and the engine's own windows are
    // delivered on this (the user-interface) thread from here on.
    AttachRouterToQt();
    EnsureHistoryLoaded();
    LoadTemplateList(u"Templates.lst");
    LoadTemplateList(u"TemplatesEx.lst");
    LoadSettings();
    // Packages of jobs a kill or a power cut ended half-way.
    if (TheSettings().m_szFolder[0]) SweepStaleJobFolders(TheSettings().m_szFolder);
    return 0;
}

void ExitEngine() {
    // Work still running at exit is cancelled, not abandoned: helpers ended,
    // an unfinished package folder and half-written import files removed.
    // A job already finished keeps its folder.
    // The preview ends here, while Qt still runs: its window, timers and
    // sound sink must not be left to static destructors after the
    // application object is gone.
    EndPreviewSession();
    FinishEncoding(1);
    FreeEncoding();
    CancelProbes();
    RemoveUnrecordedSideFiles();
    // The update query's thread must not outlive the application it runs Qt
    // under: its transfer is aborted and the thread joined.
    StopUpdateCheck();
    // Last, with every helper ended: the helper host is reaped by this
    // process, so its time and its helpers' count as this process's own.
    platform::EndHelperHost();
}

} // namespace reelpage
