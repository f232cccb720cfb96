#include "DisposableFrames.h"

namespace dec {

void DisposableFrames::Init(AVCodecID codec, const uint8_t* extradata, int size) {
    m_Codec = codec;
    m_nLengthSize = 0;
    m_nTemporalLayers = 0;
    if (codec == AV_CODEC_ID_H264 && extradata && size >= 7 && extradata[0] == 1)
        m_nLengthSize = (extradata[4] & 3) + 1;
    if (codec == AV_CODEC_ID_HEVC && extradata && size >= 23 && extradata[0] == 1) {
        m_nLengthSize = (extradata[21] & 3) + 1;
        m_nTemporalLayers = (extradata[21] >> 3) & 7;
    }
}

bool DisposableFrames::IsDisposableNal(const uint8_t* nal, int size, bool* sawPicture) const {
    if (size < 2) return true;
    if (m_Codec == AV_CODEC_ID_H264) {
        const int type = nal[0] & 0x1F;
        if (type < 1 || type > 5) return true; // not a slice
        *sawPicture = true;
        return (nal[0] & 0x60) == 0; // nal_ref_idc
    }
    const int type = (nal[0] >> 1) & 0x3F;
    if (type > 31) return true; // not a slice
    *sawPicture = true;
    // Sub-layer non-reference pictures. Pictures of a higher temporal layer
    // may still refer to them, so only the top layer counts, and only when
    // the stream says how many layers it has.
    const bool subLayerNonRef = type <= 14 && (type % 2) == 0;
    const int temporalId = (nal[1] & 7) - 1;
    return subLayerNonRef && m_nTemporalLayers > 0 && temporalId == m_nTemporalLayers - 1;
}

bool DisposableFrames::IsDisposable(const AVPacket* packet) const {
    if (packet->flags & AV_PKT_FLAG_DISPOSABLE) return true;
    if (m_Codec != AV_CODEC_ID_H264 && m_Codec != AV_CODEC_ID_HEVC) return false;
    const uint8_t* p = packet->data;
    const uint8_t* end = p + packet->size;
    bool sawPicture = false;
    if (m_nLengthSize > 0) {
        while (end - p >= m_nLengthSize) {
            uint32_t length = 0;
            for (int i = 0; i < m_nLengthSize; ++i)
                length = (length << 8) | p[i];
            p += m_nLengthSize;
            if (length > uint32_t(end - p)) return false; // damaged: decode it
            if (!IsDisposableNal(p, int(length), &sawPicture)) return false;
            p += length;
        }
        return sawPicture;
    }
    // Start codes: 00 00 01 before each unit.
    const uint8_t* nal = nullptr;
    for (const uint8_t* q = p; q + 3 <= end; ++q) {
        if (q[0] == 0 && q[1] == 0 && q[2] == 1) {
            if (nal) {
                const uint8_t* stop = q;
                while (stop > nal && stop[-1] == 0)
                    --stop;
                if (!IsDisposableNal(nal, int(stop - nal), &sawPicture)) return false;
            }
            nal = q + 3;
            q += 2;
        }
    }
    if (nal && !IsDisposableNal(nal, int(end - nal), &sawPicture)) return false;
    return sawPicture;
}

} // namespace dec
