#include "CodecSettings.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
}

namespace reelpage::enc {

const char* EncoderForCodec(const std::string& codec) {
    static const struct {
        const char* task;
        const char* ffmpeg;
    } kCodecs[] = {
        {"libvpx", "libvpx"},         {"libx264", "libx264"},     {"libtheora", "libtheora"},
        {"libvorbis", "libvorbis"},   {"libfaac", "aac"},         {"flac", "flac"},
        {"libvpx-vp9", "libvpx-vp9"}, {"libsvtav1", "libsvtav1"}, {"libopus", "libopus"},
    };
    for (const auto& c : kCodecs)
        if (codec == c.task) return c.ffmpeg;
    return nullptr;
}

const char* MuxerForContainer(const std::string& container) {
    if (container == "webm") return "webm";
    if (container == "mp4") return "mp4";
    if (container == "ogg") return "ogg";
    return nullptr;
}

double VideoBitRateFloor(const char* encoder) {
    // Twice the rate at which each encoder first dropped or froze frames of a
    // bar moving one step per frame on a flat background.
    return encoder && !std::strcmp(encoder, "libtheora") ? 0.02 : 0.01;
}

int64_t VideoBitRate(const char* encoder, int64_t sourceRate, int width, int height,
                     int frameRateNum, int frameRateDen) {
    const double fps =
        frameRateNum > 0 && frameRateDen > 0 ? double(frameRateNum) / frameRateDen : 25.0;
    const double pixelsPerSecond = double(std::max(width, 1)) * std::max(height, 1) * fps;
    if (sourceRate <= 0) return std::max<int64_t>(200000, int64_t(pixelsPerSecond * 0.1));
    const int64_t cap = std::max<int64_t>(200000, int64_t(pixelsPerSecond));
    // Each frame also costs the encoders some bits however small it is,
    // which at small sizes outweighs the share by pixels.
    const int64_t floor = std::min(
        cap, int64_t(pixelsPerSecond * VideoBitRateFloor(encoder) + kFloorBitsPerFrame * fps));
    return std::clamp(sourceRate, floor, cap);
}

bool EncodedByQuality(const char* encoder) {
    return encoder && (!std::strcmp(encoder, "libvpx-vp9") || !std::strcmp(encoder, "libsvtav1"));
}

QualityRate QualityRateFor(const char* encoder, int64_t sourceRate, int width, int height,
                           int frameRateNum, int frameRateDen) {
    QualityRate q;
    q.crf = encoder && !std::strcmp(encoder, "libsvtav1") ? kAv1Crf : kVp9Crf;
    q.maxRate = VideoBitRate(encoder, sourceRate, width, height, frameRateNum, frameRateDen);
    return q;
}

OutputSound OutputSoundFor(const AVCodec* codec, int sourceRate, int sourceChannels) {
    constexpr int kMaxRate = 48000;
    OutputSound s;
    s.channels = std::clamp(sourceChannels, 1, 2);
    const int wanted = std::clamp(sourceRate, 1, kMaxRate);
    s.sampleRate = wanted;
    if (codec && codec->supported_samplerates) {
        int above = 0, below = 0;
        for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
            if (*r >= wanted && *r <= kMaxRate && (above == 0 || *r < above)) above = *r;
            if (*r <= wanted && *r > below) below = *r;
        }
        if (above != 0)
            s.sampleRate = above;
        else if (below != 0)
            s.sampleRate = below;
    }
    return s;
}

int64_t AudioBitRateFor(int64_t taskRate, int sampleRate, int channels) {
    // The task's rate follows the source's sound; after a mix down or a lower
    // rate it may ask more than the encoders take for the sound they get
    // (Vorbis refuses much above 3 bit per sample).
    const int64_t samples = int64_t(std::max(sampleRate, 1)) * std::max(channels, 1);
    const int64_t low = 8000 * int64_t(std::max(channels, 1));
    const int64_t high = std::max(low, samples * 3);
    if (taskRate <= 0) taskRate = samples * 4 / 3;
    return std::clamp(taskRate, low, high);
}

void AddVideoEncoderOptions(const char* encoder, AVDictionary** options) {
    // One thread per encoder: a job already runs up to three encoders and the
    // decoder side by side, so on two cores every core is busy without the
    // encoders' own threads, and libvpx's threads wait for each other by
    // spinning, which on a busy machine burns several times the work of one.
    av_dict_set(options, "threads", "1", 0);
    if (!std::strcmp(encoder, "libx264")) {
        av_dict_set(options, "preset", "veryfast", 0);
    } else if (!std::strcmp(encoder, "libvpx")) {
        // Realtime at a fixed speed: a positive cpu-used in realtime mode lets
        // libvpx change its speed from run to run, a negative one does not.
        av_dict_set(options, "deadline", "realtime", 0);
        av_dict_set(options, "cpu-used", "-8", 0);
    } else if (!std::strcmp(encoder, "libvpx-vp9")) {
        av_dict_set(options, "deadline", "realtime", 0);
        av_dict_set(options, "cpu-used", std::to_string(kVp9Speed).c_str(), 0);
        av_dict_set(options, "row-mt", "1", 0);
    } else if (!std::strcmp(encoder, "libsvtav1")) {
        av_dict_set(options, "preset", std::to_string(kAv1Preset).c_str(), 0);
        // FFmpeg's wrapper does not pass the thread count on, and SVT-AV1
        // then sizes its pools for every core (95 threads on two).
        // Sized for one core it gives the same stream.
        av_dict_set(options, "svtav1-params", "lp=1", 0);
    }
}

bool EncodedWithLibtheora(const char* encoder) {
    return encoder && !std::strcmp(encoder, "libtheora");
}

void AddAudioEncoderOptions(const char* encoder, AVDictionary** options) {
    (void)encoder;
    (void)options;
}

void AddMuxerOptions(const char* muxer, AVDictionary** options) {
    if (!std::strcmp(muxer, "mp4"))
        av_dict_set(options, "movflags", "+faststart", 0);
    else
        av_dict_set(options, "avoid_negative_ts", "make_zero", 0);
}

bool SoundWaitsForPictures(const char* muxer) {
    return muxer && !std::strcmp(muxer, "ogg");
}

} // namespace reelpage::enc
