#include "picture/load.h"

#include "av_util.h"
#include "picture_header.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace picture {
namespace {

struct MemoryInput {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadMemory(void* opaque, uint8_t* buf, int want) {
    auto* in = static_cast<MemoryInput*>(opaque);
    size_t left = in->size - in->pos;
    if (left == 0) return AVERROR_EOF;
    size_t n = std::min(left, static_cast<size_t>(want));
    std::memcpy(buf, in->data + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
    auto* in = static_cast<MemoryInput*>(opaque);
    int64_t base;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return static_cast<int64_t>(in->size);
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(in->pos);
        break;
    case SEEK_END:
        base = static_cast<int64_t>(in->size);
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < -base || offset > static_cast<int64_t>(in->size) - base) return AVERROR(EINVAL);
    in->pos = static_cast<size_t>(base + offset);
    return static_cast<int64_t>(in->pos);
}

// Only demuxers of single pictures are let near the bytes: a file that merely
// claims to be a picture must not get a playlist or container demuxer to
// open further files or network addresses on its behalf. Vector formats are
// left out as they are rendered, not decoded, and may refer to other files.
bool IsPictureDemuxer(std::string_view name) {
    constexpr std::string_view kPipe = "_pipe";
    if (name == "svg_pipe") return false;
    if (name.size() > kPipe.size() && name.substr(name.size() - kPipe.size()) == kPipe) return true;
    return name == "gif" || name == "ico" || name == "apng" || name == "mjpeg";
}

// Turns pixel formats the swscale way of thinking calls deprecated into
// their plain forms with the range said explicitly.
AVPixelFormat PlainYuv(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

Error ToBgra(const AVFrame* frame, Bitmap& out) {
    if (!IsAcceptedSize(frame->width, frame->height)) return Error::TooLarge;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = PlainYuv(static_cast<AVPixelFormat>(frame->format), fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return Error::Corrupt;
    const bool yuv = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && !(desc->flags & AV_PIX_FMT_FLAG_PAL) &&
                     desc->nb_components >= 3;
    // Deep RGB and grey go through 16 bits, rounded here: swscale's own
    // reduction to 8 bits truncates rather than rounds.
    const bool deep = !yuv && desc->comp[0].depth > 8;
    const AVPixelFormat target = deep ? AV_PIX_FMT_BGRA64 : AV_PIX_FMT_BGRA;

    Bitmap bitmap;
    if (Error e = bitmap.Create(frame->width, frame->height); e != Error::None) return e;
    av::PaddedImage converted;
    if (!converted.Allocate(frame->width, frame->height, deep ? 8 : 4)) return Error::OutOfMemory;

    av::SwsPtr sws(sws_getContext(frame->width, frame->height, format, frame->width, frame->height,
                                  target, SWS_BICUBIC | av::kExactSwsFlags, nullptr, nullptr,
                                  nullptr));
    if (!sws) return Error::NotAPicture;
    if (yuv) {
        int* inv;
        int* table;
        int srcRange, dstRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(sws.get(), &inv, &srcRange, &table, &dstRange, &brightness,
                                     &contrast, &saturation) >= 0) {
            const int colorspace =
                frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
            sws_setColorspaceDetails(sws.get(), sws_getCoefficients(colorspace), fullRange, table,
                                     1, brightness, contrast, saturation);
        }
    }
    uint8_t* dst[4] = {converted.Data()};
    int dstStride[4] = {converted.Stride()};
    if (sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride) !=
        frame->height)
        return Error::Corrupt;
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.Data() + y * bitmap.Stride();
        if (!deep) {
            std::memcpy(row, converted.Row(y), bitmap.Stride());
            continue;
        }
        const auto* wide = reinterpret_cast<const uint16_t*>(converted.Row(y));
        for (int i = 0; i < bitmap.Width() * 4; ++i)
            row[i] = static_cast<uint8_t>((wide[i] * 255u + 32767u) / 65535u);
    }
    // Formats without alpha are opaque; converters are not all careful to
    // say so in the fourth byte.
    if (!(desc->flags & AV_PIX_FMT_FLAG_ALPHA) && !(desc->flags & AV_PIX_FMT_FLAG_PAL)) {
        for (int y = 0; y < bitmap.Height(); ++y) {
            uint8_t* p = bitmap.Data() + y * bitmap.Stride();
            for (int x = 0; x < bitmap.Width(); ++x)
                p[x * 4 + 3] = 255;
        }
    }
    out = std::move(bitmap);
    return Error::None;
}

// Decodes the first picture of one stream; packets of other streams that
// come first are passed over.
Error DecodeFirstFrame(AVFormatContext* format, int stream, AVFrame* frame) {
    const AVCodecParameters* par = format->streams[stream]->codecpar;
    if ((par->width > 0 || par->height > 0) && !IsAcceptedSize(par->width, par->height))
        return Error::TooLarge;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return Error::NotAPicture;
    av::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    av::PacketPtr packet(av_packet_alloc());
    if (!decoder || !packet) return Error::OutOfMemory;
    if (avcodec_parameters_to_context(decoder.get(), par) < 0) return Error::Corrupt;
    // The decoder's own bound: nothing larger is allocated.
    decoder->max_pixels = kMaxPixels;
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return Error::Corrupt;

    bool flushed = false;
    for (;;) {
        int got = avcodec_receive_frame(decoder.get(), frame);
        if (got == 0) break;
        if (got == AVERROR(ENOMEM)) return Error::OutOfMemory;
        if (got != AVERROR(EAGAIN) || flushed) return Error::Corrupt; // EOF: no picture came

        int read = av_read_frame(format, packet.get());
        if (read == AVERROR(ENOMEM)) return Error::OutOfMemory;
        if (read < 0) {
            flushed = true;
            if (avcodec_send_packet(decoder.get(), nullptr) < 0) return Error::Corrupt;
            continue;
        }
        int sent =
            packet->stream_index == stream ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent == AVERROR(ENOMEM)) return Error::OutOfMemory;
        if (sent < 0 && sent != AVERROR(EAGAIN)) return Error::Corrupt;
    }
    if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) return Error::Corrupt;
    if (!IsAcceptedSize(frame->width, frame->height)) return Error::TooLarge;
    return Error::None;
}

Error Decode(const uint8_t* data, size_t size, Bitmap& out) {
    if (size == 0) return Error::NotAPicture;
    if (size > kMaxFileBytes) return Error::TooLarge;

    MemoryInput input{data, size, 0};
    constexpr int kIoBuffer = 64 * 1024;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBuffer));
    if (!buffer) return Error::OutOfMemory;
    av::IoContextPtr io(
        avio_alloc_context(buffer, kIoBuffer, 0, &input, ReadMemory, nullptr, SeekMemory));
    if (!io) {
        av_free(buffer);
        return Error::OutOfMemory;
    }

    const AVInputFormat* demuxer = nullptr;
    if (av_probe_input_buffer2(io.get(), &demuxer, nullptr, nullptr, 0, 0) < 0 || !demuxer ||
        !IsPictureDemuxer(demuxer->name))
        return Error::NotAPicture;
    const std::string_view name = demuxer->name;

    HeaderFacts facts;
    if (name == "png_pipe")
        facts = InspectPng(data, size);
    else if (name == "bmp_pipe")
        facts = InspectBmp(data, size);
    else if (name == "jpeg_pipe" || name == "mjpeg")
        facts = InspectJpeg(data, size);
    if (facts.width > kMaxSide || facts.height > kMaxSide ||
        (facts.width > 0 && facts.height > 0 && facts.width * facts.height > kMaxPixels))
        return Error::TooLarge;
    if (facts.truncated) return Error::Corrupt;

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return Error::OutOfMemory;
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", demuxer->name, 0);
    int rc = avformat_open_input(&raw, nullptr, demuxer, &options);
    av_dict_free(&options);
    if (rc < 0) return rc == AVERROR(ENOMEM) ? Error::OutOfMemory : Error::Corrupt; // frees raw
    av::FormatContextPtr format(raw);
    if (format->nb_streams == 0) return Error::NotAPicture;

    av::FramePtr frame(av_frame_alloc());
    if (!frame) return Error::OutOfMemory;
    if (name != "ico") {
        if (format->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            return Error::NotAPicture;
        if (Error e = DecodeFirstFrame(format.get(), 0, frame.get()); e != Error::None) return e;
        return ToBgra(frame.get(), out);
    }

    // An icon holds one picture per size, one stream each, in stream order;
    // the largest one that decodes is the picture.
    av::FramePtr best;
    Error last = Error::NotAPicture;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        av_frame_unref(frame.get());
        last = DecodeFirstFrame(format.get(), static_cast<int>(i), frame.get());
        if (last == Error::OutOfMemory) return last;
        if (last != Error::None) continue;
        if (!best || int64_t{frame->width} * frame->height > int64_t{best->width} * best->height) {
            best.reset(av_frame_clone(frame.get()));
            if (!best) return Error::OutOfMemory;
        }
    }
    if (!best) return last;
    return ToBgra(best.get(), out);
}

} // namespace

Error LoadPictureFromMemory(const void* data, size_t size, Bitmap& out) {
    out.Reset();
    if (!data && size) return Error::InvalidArgument;
    try {
        return Decode(static_cast<const uint8_t*>(data), size, out);
    } catch (const std::bad_alloc&) {
        out.Reset();
        return Error::OutOfMemory;
    }
}

Error LoadPicture(const std::string& path, Bitmap& out) {
    out.Reset();
    if (path.empty()) return Error::NotFound;
    // Non-blocking, so that a FIFO at the path cannot hang the caller; only
    // regular files are read.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return Error::NotFound;
        case EACCES:
        case EPERM:
            return Error::AccessDenied;
        case EISDIR:
            return Error::NotAPicture;
        default:
            return Error::ReadFailed;
        }
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return Error::ReadFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return Error::NotAPicture;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
        close(fd);
        return Error::TooLarge;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        close(fd);
        return Error::OutOfMemory;
    }
    size_t have = 0;
    while (have < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return Error::ReadFailed;
        }
        if (n == 0) break; // shrank while we read: decode what is there
        have += static_cast<size_t>(n);
    }
    close(fd);
    return LoadPictureFromMemory(bytes.data(), have, out);
}

} // namespace picture
