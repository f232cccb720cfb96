#pragma once
// Writing pictures, chosen by a 16-byte encoder id. Each supported MIME type
// has one fixed id; callers keep ids in their own tables and records, so the
// type is plain bytes that may be copied with memcpy into any 16-byte field.
#include "picture/bitmap.h"

#include <span>
#include <string>
#include <string_view>

namespace picture {

struct EncoderId {
    uint8_t bytes[16] = {};
    friend bool operator==(const EncoderId&, const EncoderId&) = default;
    bool IsZero() const;
};
static_assert(sizeof(EncoderId) == 16);

struct ImageEncoder {
    const char* mimeType; // "image/bmp", "image/jpeg", "image/gif", "image/tiff", "image/png"
    EncoderId id;
};

// Every encoder there is, in the order of the MIME types above.
std::span<const ImageEncoder> ImageEncoders();

// The id for a MIME type, compared case-insensitively; false (and `out`
// unchanged) when no encoder has that type.
bool FindEncoderByMimeType(std::string_view mimeType, EncoderId& out);

// The MIME type of an id, or nullptr for an id that names no encoder.
const char* MimeTypeOfEncoder(const EncoderId& id);

// The encoder a file name asks for by its extension: the text after the last
// dot of the last path component, compared case-insensitively with "bmp",
// "jpeg", "jpg", "gif", "tif", "tiff" and "png" in that order. On a match the
// id is written to `out` and true returned; otherwise `out` is left as it was.
bool FindEncoderByPath(std::string_view path, EncoderId& out);

struct SaveOptions {
    int jpegQuality = 90; // 1 (smallest) .. 100 (best)
};

// Encodes the picture with the encoder `id` and writes it to a UTF-8 path.
// The file is written under a temporary name in the same folder and renamed
// over the destination only when complete, so a failed save leaves neither a
// partial file nor a changed destination. An unknown or all-zero id fails
// with UnknownEncoder before anything is written. Opaque pictures are stored
// without an alpha channel; PNG, TIFF and BMP keep straight alpha; JPEG drops
// it; GIF marks pixels with alpha below 128 transparent.
Error SavePicture(ConstBitmapView picture, const std::string& path, const EncoderId& id,
                  const SaveOptions& options = {});

// The encoded file in memory, for callers that store it elsewhere.
Error EncodePicture(ConstBitmapView picture, const EncoderId& id, std::string& out,
                    const SaveOptions& options = {});

} // namespace picture
