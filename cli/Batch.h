#pragma once
// A batch of reelpage-cli: every video a job of its own, run by this same
// program with one video, so each job has an engine of its own (the engine
// keeps one project and one encoding per process) and its helpers end with it.
#include "BatchInputs.h"

#include <string>
#include <vector>

namespace reelpage::cli {

// Set in a job's environment: its progress line comes at every percent, for
// the batch to show.
inline constexpr const char* kBatchJobVariable = "REELPAGE_CLI_JOB";

struct BatchSettings {
    std::vector<std::string> options; // what every job is given before its video
    int jobs = 1;                     // side by side
    bool quiet = false;
};

// Runs the inputs, `jobs` at a time, printing each page's path on standard
// output as its job ends and, on standard error, the jobs' messages, their
// progress and at the end a summary. A stop signal (SIGINT, SIGTERM, SIGHUP;
// the caller has blocked them) cancels the running jobs and starts no more.
// Returns the exit status: kExitOk, kExitBatchFailed or kExitCancelled.
int RunBatch(const std::vector<BatchInput>& inputs, const BatchSettings& settings);

// "12%  elapsed 0:03  remaining 0:20": a job's progress line; its percentage.
bool ParseProgressLine(const std::string& line, int* percent);

// Why a job failed, from its last message: the message less the video's own
// path in front ("/v/a.mp4: Not support this file." is "Not support this
// file."), or else from how it ended.
std::string FailureReason(const std::string& lastMessage, const std::vector<std::string>& paths,
                          int waitStatus);

} // namespace reelpage::cli
