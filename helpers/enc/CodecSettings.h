#pragma once
// What the encoder helper makes of the codec names and values in its task:
// the FFmpeg encoder behind each name, the bit rate when the source gave
// none, and the speed settings that let three outputs encode side by side on
// a small machine. bench/README.md records how the speed settings were chosen.
#include <cstdint>
#include <string>

struct AVDictionary;
struct AVCodec;

namespace reelpage::enc {

// The FFmpeg encoder for a codec name of the task ("libvpx", "libx264",
// "libtheora", "libvorbis", "flac", and for the WebM output's newer codecs
// "libvpx-vp9", "libsvtav1", "libopus"; "libfaac" means FFmpeg's own AAC
// encoder); null for a name the helper does not know.
const char* EncoderForCodec(const std::string& codec);

// The FFmpeg muxer for a container name ("webm", "mp4", "ogg"); null otherwise.
const char* MuxerForContainer(const std::string& container);

// The video bit rate to ask for, by FFmpeg encoder name: the source's when it
// is given, otherwise 0.1 bit per output pixel and frame (about 0.7 Mbit/s
// for 640 x 360 at 30 fps), never less than 200 kbit/s. A source rate of
// more than one bit per output pixel and frame (a camera or intermediate
// codec shrunk to a web size) is cut to that. A source rate below the
// encoder's floor (simple content the source's encoder squeezed well) is
// raised to it: starved, Theora freezes the picture for several frames and
// x264 smears it. The floors and how they were found are in bench/README.md.
int64_t VideoBitRate(const char* encoder, int64_t sourceRate, int width, int height,
                     int frameRateNum, int frameRateDen);
// Bit per output pixel and frame below which the encoder is starved; the
// floor adds kFloorBitsPerFrame for each frame.
double VideoBitRateFloor(const char* encoder);
constexpr double kFloorBitsPerFrame = 400;

// VP9 and AV1 encode to a constant quality instead of a bit rate: simple
// content then stays small, while complex content may spend up to the rate
// the other outputs get (VideoBitRate: the source's, capped at one bit per
// pixel and frame, and never below the floor). Neither encoder takes a least
// rate in one pass, nor do they need one: at a constant quality they never
// drop or freeze frames to meet a rate, which is what the floor guards the
// other encoders against. The floor therefore bounds the most they may spend
// from below, so a source squeezed hard still leaves room for the picture.
bool EncodedByQuality(const char* encoder);
struct QualityRate {
    int crf = 0;
    int64_t maxRate = 0; // bit/s, the most the encoder may spend
};
QualityRate QualityRateFor(const char* encoder, int64_t sourceRate, int width, int height,
                           int frameRateNum, int frameRateDen);
// The quality and speed settings, chosen by measurement on two cores so that
// a three-output job with AV1 takes at most 1.2 times the job with VP8, at
// most 0.6 (AV1) and 0.75 (VP9) of the VP8 output's bytes at its SSIM less
// 0.005. bench/README.md has the figures.
constexpr int kAv1Crf = 40;
constexpr int kAv1Preset = 11;
constexpr int kVp9Crf = 38;
// libvpx-vp9's fastest realtime speed that still searches its modes by
// rate and distortion; the faster ones skip that search and, on grainy
// pictures, need as many bytes as VP8 for VP8's SSIM.
constexpr int kVp9Speed = 4;
// SVT-AV1 refuses pictures narrower or lower than this.
constexpr int kAv1MinSide = 64;

// The sound an output carries, made from the source's by resampling and
// remixing: at most 48 kHz (browsers play higher rates unreliably, and AAC
// refuses 192 kHz), at most two channels (Vorbis refuses some multichannel
// rates and layouts, and browsers mix down anyway), and a rate the encoder
// lists as supported, the nearest one above when there is one.
struct OutputSound {
    int sampleRate = 0;
    int channels = 0;
};
OutputSound OutputSoundFor(const AVCodec* codec, int sourceRate, int sourceChannels);

// The task's audio bit rate, kept within what the encoders accept for the
// sound they get (8 kbit/s per channel up to 3 bit per sample).
int64_t AudioBitRateFor(int64_t taskRate, int sampleRate, int channels);

// Theora is encoded by libtheora directly (TheoraEncoder), at a speed level
// FFmpeg's wrapper cannot set; the other settings are those the wrapper
// gave it, so the Ogg output stays what it was at the same rate.
bool EncodedWithLibtheora(const char* encoder);
// libtheora's speed level: 0 slowest, 1 libtheora's default, 2 (its fastest)
// without motion compensation, twice as fast but 0.006 below level 1's SSIM
// at the same rate, past the 0.005 allowed. bench/README.md has the figures.
constexpr int kTheoraSpeedLevel = 1;
// At most this many frames from one keyframe to the next: FFmpeg's default
// group of pictures, which its wrapper passed on.
constexpr int kTheoraKeyframeInterval = 12;

// Encoder options for speed and web playback, by FFmpeg encoder name.
void AddVideoEncoderOptions(const char* encoder, AVDictionary** options);
void AddAudioEncoderOptions(const char* encoder, AVDictionary** options);
// Muxer options: MP4 with its index in front so a browser can start playing
// while it downloads; WebM and Ogg start at time zero, since browsers refuse
// Vorbis streams whose first timestamp is negative.
void AddMuxerOptions(const char* muxer, AVDictionary** options);

// Whether the muxer is given the sound only once the pictures cover its
// time, in the helper's own order, instead of FFmpeg's interleaving by time
// stamp. FFmpeg's Ogg muxer queues the pages of a picture that spans several
// pages (a large Theora frame) partly before and partly after a page of
// sound that ends later than the picture, so the picture's pages reach the
// file out of order and the frame is torn. Sound that never ends later than
// the pictures already written gives it no such page.
bool SoundWaitsForPictures(const char* muxer);

} // namespace reelpage::enc
