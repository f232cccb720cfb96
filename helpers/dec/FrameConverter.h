#pragma once
// Puts decoded frames into the planes a plug-in hands out: in the format and
// size the plug-in asked for, turned upright when the stream says it was
// recorded rotated.
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace dec {

class FrameConverter {
public:
    FrameConverter() = default;
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // format and size are what the plug-in receives (after rotation);
    // rotation is 0, 90, 180 or 270 degrees clockwise, applied to every frame.
    void Configure(AVPixelFormat format, int width, int height, int rotation);

    // Writes one frame (any format and size) into the planes and strides the
    // plug-in handed out. False when the conversion cannot be set up.
    bool Convert(const AVFrame* frame, void* const planes[3], const int32_t strides[3]);

private:
    struct Picture {
        std::vector<uint8_t> bytes;
        uint8_t* data[4] = {};
        int linesize[4] = {};
    };

    bool Scale(SwsContext** context, const uint8_t* const srcData[4], const int srcLinesize[4],
               int srcW, int srcH, AVPixelFormat srcFormat, const AVFrame* colours,
               uint8_t* const dstData[4], const int dstLinesize[4], int dstW, int dstH,
               AVPixelFormat dstFormat);
    static bool Allocate(Picture* picture, AVPixelFormat format, int width, int height);

    AVPixelFormat m_Format = AV_PIX_FMT_NONE;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nRotation = 0;
    SwsContext* m_pSws = nullptr;      // decoded frame -> upright or unrotated picture
    SwsContext* m_pSwsFinal = nullptr; // rotated BGRA -> the plug-in's format
    int m_nColorspace = -1;
    int m_nRange = -1;
    Picture m_Unrotated; // the frame converted, before turning
    Picture m_Turned;    // turned BGRA, when the plug-in's format cannot be turned directly
    Picture m_Padded;    // a narrow picture made here before it is copied out
};

// Clockwise rotation in degrees (0, 90, 180, 270) that makes a stream's
// pictures upright, from its display matrix; 0 when it has none.
int StreamRotation(const int32_t* displayMatrix);

} // namespace dec
