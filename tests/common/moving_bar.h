#pragma once
// The moving-bar picture: a bright bar on black that moves one step to the
// right per source frame (kBarSteps steps, then it starts again at the left),
// so each decoded output frame tells which source frame it holds, and the
// steps between output frames tell drops (a step of 2 or more) and repeats
// (a step of 0).
#include <cstdint>
#include <string>
#include <vector>

#include "media_check.h"

namespace moving_bar {

constexpr int kBarSteps = 32;

// The lavfi filter that draws the bar on the frames it gets, counting the
// frames that reach it (frames dropped before it do not count).
inline std::string BarFilter() {
    return "geq=lum='if(eq(floor(X*" + std::to_string(kBarSteps) +
           "/W)\\,"
           "mod(N\\," +
           std::to_string(kBarSteps) + "))\\,235\\,16)':cb=128:cr=128";
}

// Bar position (0..kBarSteps-1) of every frame of the file's first video
// stream, from the middle rows. With constantRate the frames are counted at
// that rate (Theora stores a repeated picture as no frame at all).
inline std::vector<int> Positions(const std::string& path, const std::string& constantRate = "") {
    const int width = std::atoi(media_check::ProbeStream(path, "v:0")["width"].c_str());
    std::vector<int> out;
    if (width < kBarSteps) return out;
    std::string filter = "crop=iw:2:0:ih/2";
    if (!constantRate.empty()) filter = "fps=" + constantRate + "," + filter;
    // Passthrough: the frames as stored, none made up to fill time.
    const std::string raw = media_check::Capture(
        "ffmpeg -nostdin -v error -i " + media_check::Quote(path) + " -vf " +
        media_check::Quote(filter) + " -fps_mode passthrough -f rawvideo -pix_fmt gray -");
    const size_t frame = size_t(width) * 2;
    for (size_t at = 0; at + frame <= raw.size(); at += frame) {
        int best = 0;
        long bestSum = -1;
        for (int k = 0; k < kBarSteps; ++k) {
            long sum = 0;
            for (int x = k * width / kBarSteps; x < (k + 1) * width / kBarSteps; ++x)
                sum += uint8_t(raw[at + x]) + uint8_t(raw[at + width + x]);
            if (sum > bestSum) bestSum = sum, best = k;
        }
        out.push_back(best);
    }
    return out;
}

// Steps between consecutive frames, as a string of digits (9 for 9 or more).
inline std::string Steps(const std::vector<int>& positions) {
    std::string s;
    for (size_t i = 1; i < positions.size(); ++i) {
        const int step = ((positions[i] - positions[i - 1]) % kBarSteps + kBarSteps) % kBarSteps;
        s += char('0' + std::min(step, 9));
    }
    return s;
}

// Every source frame once, in order.
inline bool EachFrameOnce(const std::string& steps) {
    return steps.find_first_not_of('1') == std::string::npos;
}

// What a rate conversion may do: drop or repeat single frames, never both
// next to each other (a drop beside a repeat shows one frame out of place).
inline bool EvenPattern(const std::string& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] > '2') return false;
        if (i > 0 &&
            ((steps[i] == '0' && steps[i - 1] == '2') || (steps[i] == '2' && steps[i - 1] == '0')))
            return false;
    }
    return true;
}

} // namespace moving_bar
