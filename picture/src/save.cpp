#include "picture/encoders.h"

#include "av_util.h"
#include "gif_palette.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

extern "C" {
#include <libavutil/opt.h>
}

namespace picture {
namespace {

enum class Format { Bmp, Jpeg, Gif, Tiff, Png };

bool FormatOf(const EncoderId& id, Format& out) {
    const char* mime = MimeTypeOfEncoder(id);
    if (!mime) return false;
    std::string_view m = mime;
    if (m == "image/bmp")
        out = Format::Bmp;
    else if (m == "image/jpeg")
        out = Format::Jpeg;
    else if (m == "image/gif")
        out = Format::Gif;
    else if (m == "image/tiff")
        out = Format::Tiff;
    else if (m == "image/png")
        out = Format::Png;
    else
        return false;
    return true;
}

// Byte order of the packed formats the encoders take, as offsets into BGRA.
void Pack(ConstBitmapView src, AVFrame* frame, const int* order, int bytesPerPixel) {
    for (int y = 0; y < src.height; ++y) {
        uint8_t* out = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < src.width; ++x) {
            Bgra p = src.Pixel(x, y);
            const uint8_t bgra[4] = {p.b, p.g, p.r, p.a};
            for (int i = 0; i < bytesPerPixel; ++i)
                out[x * bytesPerPixel + i] = bgra[order[i]];
        }
    }
}

Error FillFrame(ConstBitmapView src, Format format, AVFrame* frame) {
    const bool opaque = src.alpha == AlphaMode::Opaque;
    static constexpr int kRgba[] = {2, 1, 0, 3};
    static constexpr int kBgra[] = {0, 1, 2, 3};
    switch (format) {
    case Format::Png:
    case Format::Tiff:
        frame->format = opaque ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGBA;
        break;
    case Format::Bmp:
        frame->format = opaque ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA;
        break;
    case Format::Gif:
        frame->format = AV_PIX_FMT_PAL8;
        break;
    case Format::Jpeg:
        frame->format = AV_PIX_FMT_YUV444P;
        break;
    }
    frame->width = src.width;
    frame->height = src.height;
    if (av_frame_get_buffer(frame, 0) < 0) return Error::OutOfMemory;

    switch (format) {
    case Format::Png:
    case Format::Tiff:
        Pack(src, frame, kRgba, opaque ? 3 : 4);
        break;
    case Format::Bmp:
        Pack(src, frame, kBgra, opaque ? 3 : 4);
        break;
    case Format::Gif:
        QuantizeForGif(src, frame->data[0], frame->linesize[0],
                       reinterpret_cast<uint32_t*>(frame->data[1]));
        break;
    case Format::Jpeg: {
        // The colour is what JPEG keeps; an alpha channel has no place in it.
        av::SwsPtr sws(sws_getContext(src.width, src.height, AV_PIX_FMT_BGRA, src.width, src.height,
                                      AV_PIX_FMT_YUV444P, SWS_BICUBIC | av::kExactSwsFlags, nullptr,
                                      nullptr, nullptr));
        if (!sws) return Error::EncodeFailed;
        // JPEG's Y'CbCr is full range (BT.601 matrix).
        int* inv;
        int* table;
        int srcRange, dstRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(sws.get(), &inv, &srcRange, &table, &dstRange, &brightness,
                                     &contrast, &saturation) < 0 ||
            sws_setColorspaceDetails(sws.get(), inv, 1, sws_getCoefficients(SWS_CS_ITU601), 1,
                                     brightness, contrast, saturation) < 0)
            return Error::EncodeFailed;
        // The caller's rows may end where its mapping ends; swscale reads
        // past a row's width, so it gets a padded copy.
        av::PaddedImage copy;
        if (!copy.Allocate(src.width, src.height, 4)) return Error::OutOfMemory;
        for (int y = 0; y < src.height; ++y)
            std::memcpy(copy.Row(y), src.Row(y), size_t(src.width) * 4);
        const uint8_t* in[4] = {copy.Data(), nullptr, nullptr, nullptr};
        int inStride[4] = {copy.Stride(), 0, 0, 0};
        if (sws_scale(sws.get(), in, inStride, 0, src.height, frame->data, frame->linesize) !=
            src.height)
            return Error::EncodeFailed;
        frame->color_range = AVCOL_RANGE_JPEG;
        break;
    }
    }
    return Error::None;
}

AVCodecID CodecOf(Format format) {
    switch (format) {
    case Format::Bmp:
        return AV_CODEC_ID_BMP;
    case Format::Jpeg:
        return AV_CODEC_ID_MJPEG;
    case Format::Gif:
        return AV_CODEC_ID_GIF;
    case Format::Tiff:
        return AV_CODEC_ID_TIFF;
    case Format::Png:
        return AV_CODEC_ID_PNG;
    }
    return AV_CODEC_ID_NONE;
}

Error Encode(ConstBitmapView src, Format format, const SaveOptions& options, std::string& out) {
    const AVCodec* codec = avcodec_find_encoder(CodecOf(format));
    if (!codec) return Error::UnknownEncoder;
    av::FramePtr frame(av_frame_alloc());
    av::PacketPtr packet(av_packet_alloc());
    av::CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!frame || !packet || !encoder) return Error::OutOfMemory;
    if (Error e = FillFrame(src, format, frame.get()); e != Error::None) return e;

    encoder->width = src.width;
    encoder->height = src.height;
    encoder->pix_fmt = static_cast<AVPixelFormat>(frame->format);
    encoder->time_base = {1, 25};
    encoder->thread_count = 1;
    AVDictionary* opts = nullptr;
    if (format == Format::Jpeg) {
        encoder->color_range = AVCOL_RANGE_JPEG;
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        int quality = std::clamp(options.jpegQuality, 1, 100);
        // 100 -> 1 (finest), 90 -> 4, 75 -> 9, lower -> up to 31 (coarsest).
        int qscale = std::clamp((100 - quality) / 3 + 1, 1, 31);
        encoder->global_quality = qscale * FF_QP2LAMBDA;
        frame->quality = encoder->global_quality;
    } else if (format == Format::Tiff) {
        av_dict_set(&opts, "compression_algo", "lzw", 0);
    } else if (format == Format::Png) {
        av_dict_set(&opts, "pred", "paeth", 0);
    }
    int rc = avcodec_open2(encoder.get(), codec, &opts);
    av_dict_free(&opts);
    if (rc < 0) return Error::EncodeFailed;

    if (avcodec_send_frame(encoder.get(), frame.get()) < 0 ||
        avcodec_send_frame(encoder.get(), nullptr) < 0)
        return Error::EncodeFailed;
    std::string bytes;
    for (;;) {
        rc = avcodec_receive_packet(encoder.get(), packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) return Error::EncodeFailed;
        bytes.append(reinterpret_cast<const char*>(packet->data), packet->size);
        av_packet_unref(packet.get());
    }
    if (bytes.empty()) return Error::EncodeFailed;
    // The GIF encoder leaves the stream open for further frames; one picture
    // ends with the trailer.
    if (format == Format::Gif) bytes.push_back(';');
    out = std::move(bytes);
    return Error::None;
}

Error ErrorFromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return Error::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return Error::AccessDenied;
    default:
        return Error::WriteFailed;
    }
}

// Writes under a fresh temporary name beside the destination, then renames it
// into place: readers see either the old file or the complete new one.
Error WriteFileAtomically(const std::string& path, const std::string& bytes) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    if (slash != std::string::npos && slash + 1 == path.size()) return Error::InvalidArgument;

    std::random_device entropy;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 32 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".picture-%08x%08x.tmp", entropy(), entropy());
        temp = folder + suffix;
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST) return ErrorFromErrno(errno);
    }
    if (fd < 0) return Error::WriteFailed;

    size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    int err = ok ? 0 : errno;
    if (ok && fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        return err == EISDIR ? Error::WriteFailed : ErrorFromErrno(err);
    }
    return Error::None;
}

} // namespace

Error EncodePicture(ConstBitmapView picture, const EncoderId& id, std::string& out,
                    const SaveOptions& options) {
    Format format;
    if (!FormatOf(id, format)) return Error::UnknownEncoder;
    if (picture.Empty() || picture.stride < ptrdiff_t{picture.width} * 4)
        return Error::InvalidArgument;
    if (!IsAcceptedSize(picture.width, picture.height)) return Error::TooLarge;
    try {
        return Encode(picture, format, options, out);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
}

Error SavePicture(ConstBitmapView picture, const std::string& path, const EncoderId& id,
                  const SaveOptions& options) {
    if (path.empty()) return Error::InvalidArgument;
    std::string bytes;
    if (Error e = EncodePicture(picture, id, bytes, options); e != Error::None) return e;
    try {
        return WriteFileAtomically(path, bytes);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
}

} // namespace picture
