#pragma once
// The first output picture of an encoding, kept for the engine: the package's
// poster is made from it, so that it shows the video exactly as the outputs
// do (turned, cropped, fitted, adjusted, watermarked, at the output size).
#include <cstdint>

#include "platform/shm.h"
#include "reelpage/blocks.h"

struct SwsContext;

namespace reelpage::talvoric {

class PosterFrame {
public:
    ~PosterFrame();
    // Maps the engine's block for a width x height picture; a handle of 0
    // (no poster wanted) or a block of the wrong size leaves it unused.
    bool Map(HANDLE32 handle, int32_t width, int32_t height);
    bool Wanted() const { return m_pHeader && !m_pHeader->m_bReady; }
    // Copies a composed output picture (a frame slot in kPixYuv420 or
    // kPixBgra at the mapped size) as BGRA, marks the block ready and lets
    // go of it. Only the first call counts.
    void Take(const uint8_t* slot, int32_t pixelFormat);

private:
    platform::SharedBlock m_Block;
    PosterFrameHeader* m_pHeader = nullptr;
    int32_t m_nWidth = 0, m_nHeight = 0;
    SwsContext* m_pSws = nullptr;
};

} // namespace reelpage::talvoric
