#include "FrameConverter.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "reelpage/frame_ops.h"

namespace dec {

namespace {

// The widest store of swscale's vector code, in pixels, and what a row may
// spill past its end (a 512-bit vector).
constexpr int kScaleVectorPixels = 16;
constexpr size_t kScaleSpill = 64;

// Formats whose planes hold independent pixels with square chroma
// subsampling: each plane can be turned on its own.
bool CanTurnPlanes(AVPixelFormat f) {
    switch (f) {
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGR24:
    case AV_PIX_FMT_RGB565LE:
    case AV_PIX_FMT_RGB555LE:
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_NV12:
    case AV_PIX_FMT_NV21:
        return true;
    default:
        return false;
    }
}

// The turn of the plug-ins' orientation table that a clockwise rotation is.
int OrientationOf(int rotation) {
    switch (rotation) {
    case 90:
        return 3;
    case 180:
        return 2;
    case 270:
        return 1;
    default:
        return 0;
    }
}

// Turns every plane of a picture of format f whose unturned size is w x h.
void TurnPicture(AVPixelFormat f, const uint8_t* const src[4], const int srcStride[4], int w, int h,
                 uint8_t* const dst[4], const int dstStride[4], int rotation) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    const int planes = av_pix_fmt_count_planes(f);
    for (int p = 0; p < planes; ++p) {
        const bool chroma = (p == 1 || p == 2) && !(d->flags & AV_PIX_FMT_FLAG_RGB);
        const int pw = chroma ? AV_CEIL_RSHIFT(w, d->log2_chroma_w) : w;
        const int ph = chroma ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
        const int bytes = av_image_get_linesize(f, w, p) / std::max(pw, 1);
        reelpage::frameops::OrientPlane(src[p], srcStride[p], pw, ph, std::max(bytes, 1), dst[p],
                              dstStride[p], OrientationOf(rotation));
    }
}

} // namespace

int StreamRotation(const int32_t* displayMatrix) {
    if (!displayMatrix) return 0;
    // The matrix gives the counter-clockwise angle the picture must be turned
    // by when shown; the same reading the ffmpeg command applies.
    double theta = -std::round(av_display_rotation_get(displayMatrix));
    if (std::isnan(theta)) return 0;
    theta -= 360.0 * std::floor(theta / 360.0 + 0.9 / 360.0);
    const int t = int(theta);
    if (t >= 45 && t < 135) return 90;
    if (t >= 135 && t < 225) return 180;
    if (t >= 225 && t < 315) return 270;
    return 0;
}

FrameConverter::~FrameConverter() {
    sws_freeContext(m_pSws);
    sws_freeContext(m_pSwsFinal);
}

void FrameConverter::Configure(AVPixelFormat format, int width, int height, int rotation) {
    m_Format = format;
    m_nWidth = width;
    m_nHeight = height;
    m_nRotation = rotation;
}

bool FrameConverter::Allocate(Picture* picture, AVPixelFormat format, int width, int height) {
    int size = av_image_get_buffer_size(format, width, height, 32);
    if (size < 0) return false;
    // Room for what swscale's vector code writes past a row's last pixel.
    const size_t padded = size_t(size) + kScaleSpill;
    if (picture->bytes.size() < padded) picture->bytes.resize(padded);
    return av_image_fill_arrays(picture->data, picture->linesize, picture->bytes.data(), format,
                                width, height, 32) >= 0;
}

bool FrameConverter::Scale(SwsContext** context, const uint8_t* const srcData[4],
                           const int srcLinesize[4], int srcW, int srcH, AVPixelFormat srcFormat,
                           const AVFrame* colours, uint8_t* const dstData[4],
                           const int dstLinesize[4], int dstW, int dstH, AVPixelFormat dstFormat) {
    // swscale writes whole vectors: a row that is not a whole number of
    // them spills past its last pixel, and a buffer handed to us by a
    // plug-in ends right there (a 2 x 2 thumbnail is 16 bytes). Such
    // pictures are made in a padded picture of our own and copied out.
    const auto ours = [&](const Picture& p) { return dstData[0] == p.data[0] && p.data[0]; };
    if (dstW % kScaleVectorPixels != 0 && !ours(m_Padded) && !ours(m_Unrotated) && !ours(m_Turned)) {
        if (!Allocate(&m_Padded, dstFormat, dstW, dstH) ||
            !Scale(context, srcData, srcLinesize, srcW, srcH, srcFormat, colours, m_Padded.data,
                   m_Padded.linesize, dstW, dstH, dstFormat))
            return false;
        uint8_t* to[4] = {dstData[0], dstData[1], dstData[2], dstData[3]};
        int toLinesize[4] = {dstLinesize[0], dstLinesize[1], dstLinesize[2], dstLinesize[3]};
        av_image_copy(to, toLinesize, const_cast<const uint8_t**>(m_Padded.data),
                      m_Padded.linesize, dstFormat, dstW, dstH);
        return true;
    }
    SwsContext* before = *context;
    *context = sws_getCachedContext(*context, srcW, srcH, srcFormat, dstW, dstH, dstFormat,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!*context) return false;
    if (colours) {
        const int cs = colours->colorspace;
        const int range = colours->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        if (*context != before || cs != m_nColorspace || range != m_nRange) {
            // The matrix the stream declares, as the ffmpeg command uses it;
            // undeclared streams get the library's default.
            int* inv = nullptr;
            int* table = nullptr;
            int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
            if (sws_getColorspaceDetails(*context, &inv, &srcRange, &table, &dstRange, &brightness,
                                         &contrast, &saturation) >= 0) {
                const int* coefficients =
                    sws_getCoefficients(cs == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : cs);
                sws_setColorspaceDetails(*context, coefficients, range ? 1 : srcRange, table,
                                         dstRange, brightness, contrast, saturation);
            }
            m_nColorspace = cs;
            m_nRange = range;
        }
    }
    return sws_scale(*context, srcData, srcLinesize, 0, srcH, dstData, dstLinesize) > 0;
}

bool FrameConverter::Convert(const AVFrame* frame, void* const planes[3],
                             const int32_t strides[3]) {
    if (m_Format == AV_PIX_FMT_NONE || m_nWidth <= 0 || m_nHeight <= 0 || !planes[0]) return false;
    const AVPixelFormat src = AVPixelFormat(frame->format);
    uint8_t* dst[4] = {static_cast<uint8_t*>(planes[0]), static_cast<uint8_t*>(planes[1]),
                       static_cast<uint8_t*>(planes[2]), nullptr};
    int dstStride[4] = {strides[0], strides[1], strides[2], 0};

    if (m_nRotation == 0) {
        if (src == m_Format && frame->width == m_nWidth && frame->height == m_nHeight) {
            av_image_copy(dst, dstStride, const_cast<const uint8_t**>(frame->data), frame->linesize,
                          src, m_nWidth, m_nHeight);
            return true;
        }
        return Scale(&m_pSws, frame->data, frame->linesize, frame->width, frame->height, src, frame,
                     dst, dstStride, m_nWidth, m_nHeight, m_Format);
    }

    // Size before turning: a quarter turn swaps the sides.
    const bool quarter = m_nRotation == 90 || m_nRotation == 270;
    const int uw = quarter ? m_nHeight : m_nWidth;
    const int uh = quarter ? m_nWidth : m_nHeight;
    if (CanTurnPlanes(m_Format)) {
        if (!Allocate(&m_Unrotated, m_Format, uw, uh)) return false;
        if (!Scale(&m_pSws, frame->data, frame->linesize, frame->width, frame->height, src, frame,
                   m_Unrotated.data, m_Unrotated.linesize, uw, uh, m_Format))
            return false;
        TurnPicture(m_Format, m_Unrotated.data, m_Unrotated.linesize, uw, uh, dst, dstStride,
                    m_nRotation);
        return true;
    }
    // Formats whose pixels share chroma across a row (4:2:2 packed, 4:1:1)
    // cannot be turned plane by plane: turn a BGRA picture and convert after.
    if (!Allocate(&m_Unrotated, AV_PIX_FMT_BGRA, uw, uh) ||
        !Allocate(&m_Turned, AV_PIX_FMT_BGRA, m_nWidth, m_nHeight))
        return false;
    if (!Scale(&m_pSws, frame->data, frame->linesize, frame->width, frame->height, src, frame,
               m_Unrotated.data, m_Unrotated.linesize, uw, uh, AV_PIX_FMT_BGRA))
        return false;
    TurnPicture(AV_PIX_FMT_BGRA, m_Unrotated.data, m_Unrotated.linesize, uw, uh, m_Turned.data,
                m_Turned.linesize, m_nRotation);
    return Scale(&m_pSwsFinal, m_Turned.data, m_Turned.linesize, m_nWidth, m_nHeight,
                 AV_PIX_FMT_BGRA, nullptr, dst, dstStride, m_nWidth, m_nHeight, m_Format);
}

} // namespace dec
