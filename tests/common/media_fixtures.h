#pragma once
// Media made at test time with the ffmpeg command, and what the tests read
// back from it. Frame n of a "ramp" clip is a flat grey whose level encodes
// n mod 50, so a picture tells which frame it was.
#include <cstdint>
#include <string>
#include <vector>

namespace testing_media {

// ffmpeg -v error -y ARGS...; true when it exits 0.
bool Ffmpeg(const std::vector<std::string>& args);

// A 160x120 H.264 clip of the grey ramp at fps, with a 440 Hz tone of the
// given rate and channel count unless audioRate is 0. videoArgs go before the
// output name (encoder settings, container options).
bool MakeRamp(const std::string& path, double seconds, int fps, int audioRate = 44100,
              int channels = 2, const std::vector<std::string>& videoArgs = {});

// Frame number mod 50 of a ramp frame from its grey level in RGB (0..255).
int RampIndex(double grey);
// Expected RampIndex of the frame shown at time (microseconds).
int RampIndexAt(int64_t timeUs, int fps);

std::vector<uint8_t> ReadFile(const std::string& path);
// The whole file as text; empty when it cannot be read.
std::string ReadText(const std::string& path);

// Decodes the file's audio with ffmpeg to signed 16-bit interleaved PCM.
std::vector<uint8_t> FfmpegPcm(const std::string& path);
// The first picture as ffmpeg shows it (rotation applied), BGRA rows.
std::vector<uint8_t> FfmpegFirstFrameBgra(const std::string& path);

uint32_t Le32(const uint8_t* p);
uint16_t Le16(const uint8_t* p);

} // namespace testing_media
