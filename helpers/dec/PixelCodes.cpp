#include "PixelCodes.h"

#include "reelpage/blocks.h"

namespace dec {

namespace {

struct Pair {
    int32_t code;
    AVPixelFormat format;
};

constexpr Pair kPairs[] = {
    {reelpage::kPixYuv420, AV_PIX_FMT_YUV420P},  {reelpage::kPixYuyv, AV_PIX_FMT_YUYV422},
    {reelpage::kPixBgr24, AV_PIX_FMT_BGR24},     {reelpage::kPixYuv410, AV_PIX_FMT_YUV410P},
    {reelpage::kPixYuv411, AV_PIX_FMT_YUV411P},  {reelpage::kPixUyvy, AV_PIX_FMT_UYVY422},
    {reelpage::kPixNv12, AV_PIX_FMT_NV12},       {reelpage::kPixNv21, AV_PIX_FMT_NV21},
    {reelpage::kPixBgra, AV_PIX_FMT_BGRA},       {reelpage::kPixRgb565, AV_PIX_FMT_RGB565LE},
    {reelpage::kPixRgb555, AV_PIX_FMT_RGB555LE}, {reelpage::kPixBgr0, AV_PIX_FMT_BGR0},
};

} // namespace

AVPixelFormat PixelFormatOfCode(int32_t code) {
    for (const Pair& p : kPairs)
        if (p.code == code) return p.format;
    return AV_PIX_FMT_NONE;
}

int32_t CodeOfPixelFormat(AVPixelFormat format) {
    for (const Pair& p : kPairs)
        if (p.format == format) return p.code;
    return -1;
}

} // namespace dec
