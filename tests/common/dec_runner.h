#pragma once
// Runs the decoder helper the way the engine does, on a launch block made
// here, and reads back what the recorder plug-in traced.
#include <cstdint>
#include <string>
#include <vector>

namespace dec_test {

struct DecRun {
    int exitCode = -1;
    std::vector<std::string> trace;
    std::string log; // what dec wrote to the log handle it was given
};

// Starts "<program folder>/dec" <handle> with a launch block for file and
// plugin (the recorder unless named) and waits for it to end; arguments, when
// given, follow the handle on the command line.
DecRun RunDec(const std::string& file, int64_t start = 0, bool mediaInfo = false,
              const std::string& plugin = REELPAGE_RECORDER_PLUGIN,
              const std::string& arguments = "");

// A fresh folder in the test's home.
std::string Folder(const std::string& name);

// The lines of a trace that start with prefix.
std::vector<std::string> Lines(const DecRun& run, const std::string& prefix);

// "FrameReady <time> <level>" split up.
struct Frame {
    int64_t time;
    double level;
};
std::vector<Frame> Frames(const std::vector<std::string>& lines);

} // namespace dec_test
