#pragma once
// A media record's properties as the file information dialog shows them, as
// text lines or as JSON.
#include <string>
#include <vector>

#include "reelpage/captions.h"

#include "reelpage/records.h"

namespace reelpage::cli {

// "1.5 Mbps", "2 Mbps", "128 Kbps", "96.5 Kbps".
std::string BitRateText(int32_t bitsPerSecond);
// "25 fps" for a whole rate, "29.97 fps" otherwise.
std::string FrameRateText(int32_t num, int32_t den);
// "CD Quality (44100)" and the other named rates; empty for any other rate.
std::string SampleRateText(int32_t rate);
// "Mono", "Stereo", or empty.
std::string ChannelText(int32_t channels);

// captions: those found in and beside the file.
std::string MediaInfoLines(const MediaInfo& m, const std::vector<CaptionEntry>& captions = {});
std::string MediaInfoJson(const MediaInfo& m, const std::vector<CaptionEntry>& captions = {});

// "%.2d:%.2d" of minutes and seconds, as the program shows times.
std::string SecondsToText(int64_t seconds);

} // namespace reelpage::cli
