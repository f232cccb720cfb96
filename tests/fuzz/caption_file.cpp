// A caption file given by hand or found beside a video: any bytes, as a
// SubRip file or (first byte 'v') a WebVTT one, checked, read into cues,
// clipped (the next 16 bytes: the clip's start and stop) and written out as
// the package's WebVTT. The rest of the input is the file.
#include "captions/Captions.h"
#include "fuzz_support.h"

#include <cstring>

#include "platform/wstr.h"

namespace {

std::string g_srt, g_vtt;

void CheckCues(const std::vector<reelpage::Cue>& cues) {
    for (size_t i = 0; i < cues.size(); ++i) {
        // Every cue the page gets has a place on the time line and a length,
        // and they come in order of time.
        if (cues[i].start < 0 || cues[i].end <= cues[i].start) __builtin_trap();
        if (i > 0 && cues[i].start < cues[i - 1].start) __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string folder = fuzz::Home() + "/captions";
    fuzz::MakeFolders(folder);
    g_srt = folder + "/talk.srt";
    g_vtt = folder + "/talk.vtt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 17) return 0;
    const std::string& path = data[0] == 'v' ? g_vtt : g_srt;
    int64_t clipStart = 0, clipStop = 0;
    std::memcpy(&clipStart, data + 1, 8);
    std::memcpy(&clipStop, data + 9, 8);
    fuzz::WriteFile(path, fuzz::Bytes(data + 17, size - 17));

    reelpage::CaptionTrack track;
    std::string problem;
    if (!reelpage::CaptionFileTrack(platform::FromUtf8(path), "", &track, &problem)) {
        if (problem.empty()) __builtin_trap(); // a refusal says why
        return 0;
    }
    std::vector<reelpage::Cue> cues;
    if (!reelpage::ReadCues(track, &cues, &problem) || cues.empty()) __builtin_trap();
    CheckCues(cues);
    // A clip of the user's: start and stop in microseconds, within a day.
    constexpr int64_t kDay = 86'400'000'000;
    const int64_t start = clipStart % kDay < 0 ? -(clipStart % kDay) : clipStart % kDay;
    const int64_t stop = clipStop % kDay < 0 ? -(clipStop % kDay) : clipStop % kDay;
    const std::vector<reelpage::Cue> clipped = reelpage::ClipCues(cues, start, stop);
    CheckCues(clipped);
    const std::string vtt = reelpage::WebVttText(clipped);
    if (vtt.rfind("WEBVTT\n", 0) != 0) __builtin_trap();
    return 0;
}
