#pragma once
// Owning handles for the FFmpeg objects the picture services use.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace picture::av {

struct FormatContextDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
// An AVIOContext together with the buffer it was given (which it may have
// replaced by one of its own).
struct IoContextDeleter {
    void operator()(AVIOContext* io) const {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

// Pixel rows laid out as swscale needs them: its vector code reads and
// writes somewhat past the width of a row, so rows are 64-byte aligned with
// their stride rounded up, and the block has room to spare after the last row.
class PaddedImage {
public:
    // Keeps the memory when it is large enough already. False when out of memory.
    bool Allocate(int width, int height, int bytesPerPixel) {
        const size_t stride = (size_t(width) * bytesPerPixel + 63) & ~size_t{63};
        const size_t need = stride * height + 128;
        if (need > m_capacity) {
            m_data.reset(static_cast<uint8_t*>(av_malloc(need)));
            m_capacity = m_data ? need : 0;
            if (!m_data) return false;
            // What swscale reads beyond the rows is never used, but it
            // should not be memory nobody wrote.
            std::memset(m_data.get(), 0, need);
        }
        m_stride = stride;
        return true;
    }
    uint8_t* Data() const { return m_data.get(); }
    uint8_t* Row(int y) const { return m_data.get() + y * m_stride; }
    int Stride() const { return static_cast<int>(m_stride); }

private:
    struct Free {
        void operator()(uint8_t* p) const { av_free(p); }
    };
    std::unique_ptr<uint8_t, Free> m_data;
    size_t m_capacity = 0;
    size_t m_stride = 0;
};

// Flags for conversions that must not lose precision to speed.
inline constexpr int kExactSwsFlags =
    SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | SWS_BITEXACT;

} // namespace picture::av
