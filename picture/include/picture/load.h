#pragma once
// Reading pictures: whatever single-image format FFmpeg decodes (PNG, JPEG,
// BMP, GIF, TIFF, ICO, WebP, ...) becomes a BGRA Bitmap with straight alpha.
#include "picture/bitmap.h"

#include <string>

namespace picture {

// Loads the picture at a UTF-8 path. GIF gives its first frame; an icon file
// gives its largest image. Fails with NotFound or AccessDenied for the file,
// NotAPicture for anything not decodable as a picture (including folders and
// empty files), Corrupt for a truncated or damaged picture and TooLarge for
// dimensions beyond the bounds of bitmap.h; `out` is left empty on failure.
Error LoadPicture(const std::string& path, Bitmap& out);

// The same for a picture already in memory.
Error LoadPictureFromMemory(const void* data, size_t size, Bitmap& out);

} // namespace picture
