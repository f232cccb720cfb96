#pragma once
// The one interface between the decoder helper and a plug-in: the plug-in
// exports ReelpagePluginEntry, which fills the host's table of twelve
// callbacks; the host then drives them in a fixed order (see dec's main).
#include <cstdint>

#include "reelpage/blocks.h"

namespace reelpage {

struct PluginCallbacks {
    int32_t (*Init)(HelperLaunch* launch);
    int32_t (*SetDuration)(int64_t duration);
    int32_t (*SetVideoInfo)(int32_t bNoVideo, int32_t format, int32_t width, int32_t height,
                            int32_t codedWidth, int32_t codedHeight, int32_t frameRateNum,
                            int32_t frameRateDen, int32_t bitRate);
    int32_t (*SetAudioInfo)(int32_t sampleRate, int32_t channels, int32_t bitRate);
    int32_t (*CheckFormat)(int32_t pixelFormat, int32_t width, int32_t height, int32_t targetWidth,
                           int32_t targetHeight);
    int32_t (*GetFormat)(int32_t* pixelFormat, int32_t* width, int32_t* height);
    int32_t (*Poll)(int64_t* seekTarget);
    int32_t (*GetFrameBuffer)(void* planes[3], int32_t strides[3], int64_t frameTime);
    int32_t (*FrameReady)(void* planes[3], int32_t strides[3], int64_t frameTime);
    int32_t (*AudioData)(const void* pcm, int32_t bytes);
    int32_t (*EndOfStream)(int64_t lastFrameTime);
    int32_t (*OpenFailed)(int32_t ignored);
};
static_assert(sizeof(PluginCallbacks) == 12 * sizeof(void*));

// What Poll answers.
enum PollAnswer : int32_t {
    kPollDecode = 0, // decode on
    kPollSeek = 1,   // seek to *seekTarget
    // Open a second decoder that makes its way to *seekTarget at low priority
    // and waits there (replacing any one already waiting); the next seek to
    // exactly that time takes it in place of the current decoder, whose
    // pictures then continue from there without going back to a keyframe.
    kPollPark = 2,
    kPollUnpark = 3, // release the decoder waiting, if any
};

// The plug-in's entry: fills every slot of the table and does nothing else.
using PluginEntry = void (*)(int32_t ignored, PluginCallbacks* table);
constexpr const char* kPluginEntryName = "ReelpagePluginEntry";

// Slots a plug-in has no use for answer 0 and do nothing; every plug-in
// fills those slots from this one set.
namespace plugin_ignore {
inline int32_t Time(int64_t) {
    return 0;
}
inline int32_t TimePointer(int64_t*) {
    return 0;
}
inline int32_t VideoInfo(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                         int32_t) {
    return 0;
}
inline int32_t AudioInfo(int32_t, int32_t, int32_t) {
    return 0;
}
inline int32_t Audio(const void*, int32_t) {
    return 0;
}
inline int32_t OpenFailed(int32_t) {
    return 0;
}
// Every slot that can do nothing, set to do nothing: a plug-in calls this
// first and then sets the slots it uses.
inline void FillTable(PluginCallbacks* table) {
    table->SetDuration = Time;
    table->SetVideoInfo = VideoInfo;
    table->SetAudioInfo = AudioInfo;
    table->Poll = TimePointer;
    table->AudioData = Audio;
    table->OpenFailed = OpenFailed;
}
} // namespace plugin_ignore

} // namespace reelpage

#define REELPAGE_PLUGIN_ENTRY                                                                      \
    extern "C" __attribute__((visibility("default"))) void ReelpagePluginEntry(                    \
        int32_t, ::reelpage::PluginCallbacks* table)
