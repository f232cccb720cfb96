#include "CodecSettings.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/dict.h>
}

namespace reelpage::enc {

const char* EncoderForCodec(const std::string& codec) {
    static const struct {
        const char* task;
        const char* ffmpeg;
    } kCodecs[] = {
        {"libvpx", "libvpx"},       {"libx264", "libx264"}, {"libtheora", "libtheora"},
        {"libvorbis", "libvorbis"}, {"libfaac", "aac"},     {"flac", "flac"},
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

int64_t VideoBitRate(int64_t sourceRate, int width, int height, int frameRateNum,
                     int frameRateDen) {
    const double fps =
        frameRateNum > 0 && frameRateDen > 0 ? double(frameRateNum) / frameRateDen : 25.0;
    const double pixelsPerSecond = double(std::max(width, 1)) * std::max(height, 1) * fps;
    if (sourceRate <= 0) return std::max<int64_t>(200000, int64_t(pixelsPerSecond * 0.1));
    return std::min<int64_t>(sourceRate, std::max<int64_t>(200000, int64_t(pixelsPerSecond)));
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
    }
    // Theora has no speed setting worth having: it is single-threaded and
    // its speed follows the bit rate.
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

} // namespace reelpage::enc
