#pragma once
// Tells from a compressed video packet, without decoding it, whether any
// other frame refers to it. A frame nobody refers to and nobody wants need
// not be decoded at all.
#include <cstdint>

extern "C" {
#include <libavcodec/packet.h>
#include <libavcodec/codec_id.h>
}

namespace dec {

class DisposableFrames {
public:
    // The stream's codec and its configuration record (avcC/hvcC, or none for
    // start-code streams).
    void Init(AVCodecID codec, const uint8_t* extradata, int size);
    bool IsDisposable(const AVPacket* packet) const;

private:
    bool IsDisposableNal(const uint8_t* nal, int size, bool* sawPicture) const;

    AVCodecID m_Codec = AV_CODEC_ID_NONE;
    int m_nLengthSize = 0;     // 0 = start codes
    int m_nTemporalLayers = 0; // HEVC: from hvcC, 0 = unknown
};

} // namespace dec
