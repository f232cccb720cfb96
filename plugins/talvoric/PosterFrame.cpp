#include "PosterFrame.h"

#include <cstring>

#include "platform/interlocked.h"
#include "reelpage/helper_log.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace reelpage::talvoric {

PosterFrame::~PosterFrame() {
    sws_freeContext(m_pSws);
    platform::CloseSharedBlock(&m_Block);
}

bool PosterFrame::Map(HANDLE32 handle, int32_t width, int32_t height) {
    if (handle <= 0 || width <= 0 || height <= 0) return false;
    if (int rc = platform::MapSharedBlock(handle, 0, &m_Block); rc != 0) {
        HelperLog(kHelperLogError, "Failed(%d) to map the poster frame (%d)\n", rc, handle);
        return false;
    }
    auto* header = static_cast<PosterFrameHeader*>(m_Block.view);
    if (m_Block.size < PosterFrameBlockSize(width, height) || header->m_Width != width ||
        header->m_Height != height) {
        HelperLog(kHelperLogError, "The poster frame block does not hold %dx%d\n", width, height);
        platform::CloseSharedBlock(&m_Block);
        return false;
    }
    m_pHeader = header;
    m_nWidth = width;
    m_nHeight = height;
    return true;
}

void PosterFrame::Take(const uint8_t* slot, int32_t pixelFormat) {
    if (!Wanted()) return;
    uint8_t* pixels = reinterpret_cast<uint8_t*>(m_pHeader + 1);
    const size_t rowBytes = size_t(m_nWidth) * 4;
    if (pixelFormat == kPixBgra) {
        std::memcpy(pixels, slot, rowBytes * size_t(m_nHeight));
    } else if (pixelFormat == kPixYuv420) {
        // The slot layout of 4:2:0 pictures: W x H, then two W/2 x H/2 planes.
        const size_t luma = size_t(m_nWidth) * m_nHeight;
        const uint8_t* src[4] = {slot, slot + luma, slot + luma + size_t(m_nWidth / 2) * (m_nHeight / 2),
                                 nullptr};
        const int srcStrides[4] = {m_nWidth, m_nWidth / 2, m_nWidth / 2, 0};
        uint8_t* dst[4] = {pixels, nullptr, nullptr, nullptr};
        const int dstStrides[4] = {int(rowBytes), 0, 0, 0};
        // The encoders store these planes with no colour description, which
        // players read as BT.601 limited range: the library's default here.
        m_pSws = sws_getCachedContext(m_pSws, m_nWidth, m_nHeight, AV_PIX_FMT_YUV420P, m_nWidth,
                                      m_nHeight, AV_PIX_FMT_BGRA, SWS_BICUBIC | SWS_ACCURATE_RND |
                                                                      SWS_FULL_CHR_H_INT,
                                      nullptr, nullptr, nullptr);
        const bool converted =
            m_pSws && sws_scale(m_pSws, src, srcStrides, 0, m_nHeight, dst, dstStrides) > 0;
        // Only the first picture is taken: the converter's buffers would
        // otherwise stay for the whole job.
        sws_freeContext(m_pSws);
        m_pSws = nullptr;
        if (!converted) {
            HelperLog(kHelperLogError, "Cannot convert the poster frame\n");
            return;
        }
        for (size_t i = 3; i < rowBytes * size_t(m_nHeight); i += 4)
            pixels[i] = 255;
    } else {
        return;
    }
    platform::StoreRelease(&m_pHeader->m_bReady, 1);
    // The engine saves the picture and closes the block: the memory goes
    // once neither maps it.
    platform::CloseSharedBlock(&m_Block);
    m_pHeader = nullptr;
}

} // namespace reelpage::talvoric
