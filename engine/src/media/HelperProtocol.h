#pragma once
// The engine's side of the helper processes: how dec and enc are started, the
// launch block dec reads first, and the command queue of a preview session.
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/shm.h"
#include "reelpage/blocks.h"

namespace reelpage {

// "\"<program folder>/dec\" <handle>": the handle sign-extended to 64 bits and
// printed unsigned; the path is quoted, so a folder with spaces works.
// videoThreads > 0 fixes the decoder's video threads (0: the decoder's own
// choice), as a second argument; without sound, kDecoderNoSound comes last.
std::string DecoderCommandLine(HANDLE32 launchBlock, int videoThreads = 0, bool sound = true);
// "<program folder>/enc <handle>", unquoted.
std::string EncoderCommandLine(HANDLE32 encoderTask);

// The one way helpers are started: in the program folder, ending with the
// engine. A helper gets exactly the handles in handOver (its blocks, their
// events, the log) and nothing else; without a list it gets every
// inheritable handle. Returns 0 and the process handle, or the error.
int LaunchHelper(const std::string& commandLine, int* process);
int LaunchHelper(const std::string& commandLine, const std::vector<int>& handOver, int* process);
// Starts dec on a launch block; a failure is logged with the standard line.
int LaunchDecoder(HANDLE32 launchBlock, int* process);
int LaunchDecoder(HANDLE32 launchBlock, const std::vector<int>& handOver, int* process,
                  int videoThreads = 0, bool sound = true);
// Starts enc on an encoder task; a failure is logged as the encoder's.
int LaunchEncoder(HANDLE32 encoderTask, int* process);
int LaunchEncoder(HANDLE32 encoderTask, const std::vector<int>& handOver, int* process);

// A new inheritable launch block for dec: the media file, the log, the mode,
// the start time, "<program folder>/<plugin>" and the session block. Paths
// are cut to fit their fields. Returns 0 or the error.
int CreateHelperLaunch(const WCHAR* mediaFile, BOOL bMediaInfo, int64_t llStart,
                       const char16_t* plugin, HANDLE32 session, platform::SharedBlock* out);

// The engine's handles on a preview session's control block.
struct PreviewChannel {
    platform::SharedBlock block; // PreviewControl
    platform::SharedMutex mutex; // m_hMutex
    int commandEvent = -1;       // m_hCommandEvent
    PreviewControl* Control() const { return static_cast<PreviewControl*>(block.view); }
};

// Creates the control block with its mutex and command event (all
// inheritable) and stores their handles in it. Returns 0 or the error.
int CreatePreviewChannel(PreviewChannel* out);
void ClosePreviewChannel(PreviewChannel* channel);

// Queues a command for the preview helper. A code already waiting keeps its
// place and takes the new parameter, so a burst of one command (clock ticks,
// drag steps) leaves only its latest value.
void PostHelperCommand(PreviewChannel& channel, int32_t code, int64_t llParam);
// The time of the frame the helper delivered last.
int64_t GetPosition(PreviewChannel& channel);

} // namespace reelpage
