#pragma once
// The output size of a project and of the user's defaults: the size choices
// (Original, eight fixed sizes, Custom), the bounds each keeps to, and the
// 4:3 and 16:9 sizes offered for a custom size. The engine, the program and
// the command-line front end take the rule from here and nowhere else.
#include <algorithm>
#include <cstdint>

#include "reelpage/records.h"

namespace reelpage {

// The largest side of an output picture, as the size choices allow it.
constexpr int32_t kOutputSideMax = 4096;

struct OutputFrameSize {
    int32_t width;
    int32_t height;
};

// The size choices as the records keep them in m_SizeIndex: 0 the picture's
// own size, 1..8 the fixed sizes, 9 a size of the user's.
constexpr int32_t kSizeOriginal = 0;
constexpr int32_t kSizeCustom = 9;
constexpr int kSizeChoiceCount = 10;
constexpr OutputFrameSize kOutputSizePresets[kSizeChoiceCount] = {
    {0, 0},     {320, 240}, {400, 240},  {640, 360},   {640, 480},
    {720, 560}, {854, 480}, {1280, 720}, {1920, 1080}, {0, 0},
};
constexpr bool IsPresetSize(int32_t index) {
    return index >= 1 && index <= 8;
}

// A custom size as the program lets it be typed: each side within these
// bounds, the arrows stepping by kCustomSideStep.
constexpr int32_t kCustomSideMin = 16;
constexpr int32_t kCustomSideMax = 2048;
constexpr int32_t kCustomSideStep = 16;

// A picture size brought within kOutputSideMax on both sides, its aspect
// kept (each side rounded to the nearest pixel, at least 1). Sizes within
// the bound are returned as they are.
inline OutputFrameSize BoundedOutputSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return {0, 0};
    if (width <= kOutputSideMax && height <= kOutputSideMax) return {width, height};
    const int64_t w = width, h = height;
    if (w >= h)
        return {kOutputSideMax, int32_t(std::max<int64_t>(1, (h * kOutputSideMax + w / 2) / w))};
    return {int32_t(std::max<int64_t>(1, (w * kOutputSideMax + h / 2) / h)), kOutputSideMax};
}

// The size a picture of width x height is made at in every output: 4:2:0
// video needs even sides, so an odd side gives up its last pixel. Never
// larger: a line the picture does not fill would show as a black edge.
// Any further padding an encoder wants (whole 16 x 16 blocks) is its own,
// inside the stream, and never reaches a picture.
constexpr OutputFrameSize EncodableSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return {0, 0};
    return {std::max<int32_t>(2, width & ~1), std::max<int32_t>(2, height & ~1)};
}

// The size of every picture made from a project: each output's frames, the
// poster and the page's player. A custom size typed odd is made one pixel
// smaller there, the same everywhere.
constexpr OutputFrameSize ProjectPictureSize(const Project& p) {
    return EncodableSize(p.m_OutputWidth, p.m_OutputHeight);
}

// The output size of the "Original" choice for a picture (the source as
// shown, or its crop): its own size as far as the encoders take it, and a
// picture larger than the bound fitted into it first. Without the bound an
// 8000 x 8000 source would need gigabytes across the helpers.
inline OutputFrameSize OriginalOutputSize(int32_t width, int32_t height) {
    const OutputFrameSize fit = BoundedOutputSize(width, height);
    return EncodableSize(fit.width, fit.height);
}

// The size choice `index` gives a picture cropped to cropWidth x cropHeight:
// Original its own size by the rule above, a fixed size that size; Custom
// (or any other index) keeps `current`.
inline OutputFrameSize ChosenOutputSize(int32_t index, int32_t cropWidth, int32_t cropHeight,
                                        OutputFrameSize current) {
    if (index == kSizeOriginal) return OriginalOutputSize(cropWidth, cropHeight);
    if (IsPresetSize(index)) return kOutputSizePresets[index];
    return current;
}

// Makes `index` the project's size choice and sets its output size to match.
inline void ChooseOutputSize(Project& p, int32_t index) {
    p.m_SizeIndex = index;
    const OutputFrameSize size =
        ChosenOutputSize(index, p.m_CropWidth, p.m_CropHeight, {p.m_OutputWidth, p.m_OutputHeight});
    p.m_OutputWidth = size.width;
    p.m_OutputHeight = size.height;
}

// After a change of the crop: with Original chosen the output size follows
// it (true); any other choice keeps its size (false).
inline bool FollowCrop(Project& p) {
    if (p.m_SizeIndex != kSizeOriginal) return false;
    ChooseOutputSize(p, kSizeOriginal);
    return true;
}

// Makes `index` the default size choice. The defaults know no picture: with
// Original or Custom they keep the size they hold.
inline void ChooseDefaultSize(Settings& s, int32_t index) {
    s.m_SizeIndex = index;
    if (!IsPresetSize(index)) return;
    s.m_OutputWidth = kOutputSizePresets[index].width;
    s.m_OutputHeight = kOutputSizePresets[index].height;
}

// The size of ratio a:b (4:3 or 16:9) offered for a custom size of the
// given width: the width grows to the next whole number of 16 x a, so both
// sides stay multiples of 16 (1920 gives 1920 x 1440 for 4:3, 2048 x 1152
// for 16:9).
constexpr OutputFrameSize RatioOutputSize(int32_t width, int32_t a, int32_t b) {
    const int32_t unit = 16 * a;
    const int32_t units = (width + unit - 1) / unit;
    return {units * unit, units * 16 * b};
}

} // namespace reelpage
