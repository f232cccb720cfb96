#include "picture/bitmap.h"

#include <new>

namespace picture {

const char* ErrorText(Error error) {
    switch (error) {
    case Error::None:
        return "no error";
    case Error::NotFound:
        return "file not found";
    case Error::AccessDenied:
        return "access denied";
    case Error::ReadFailed:
        return "the file could not be read";
    case Error::NotAPicture:
        return "not a picture";
    case Error::Corrupt:
        return "the picture is truncated or damaged";
    case Error::TooLarge:
        return "the picture is too large";
    case Error::OutOfMemory:
        return "out of memory";
    case Error::InvalidArgument:
        return "invalid argument";
    case Error::UnknownEncoder:
        return "unknown picture encoder";
    case Error::EncodeFailed:
        return "the picture could not be encoded";
    case Error::WriteFailed:
        return "the file could not be written";
    }
    return "unknown error";
}

bool IsAcceptedSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           int64_t{width} * height <= kMaxPixels;
}

void BitmapView::Fill(Bgra p) const {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = Row(y);
        for (int x = 0; x < width; ++x)
            std::memcpy(row + x * 4, &p, 4);
    }
}

Error Bitmap::Create(int width, int height, AlphaMode alpha) {
    Reset();
    if (width <= 0 || height <= 0) return Error::InvalidArgument;
    if (!IsAcceptedSize(width, height)) return Error::TooLarge;
    try {
        m_pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
    m_width = width;
    m_height = height;
    m_alpha = alpha;
    return Error::None;
}

Error Bitmap::CopyFrom(ConstBitmapView source) {
    if (source.Empty()) {
        Reset();
        return Error::InvalidArgument;
    }
    // The source may be a view of this very bitmap.
    Bitmap copy;
    if (Error e = copy.Create(source.width, source.height, source.alpha); e != Error::None)
        return e;
    for (int y = 0; y < source.height; ++y)
        std::memcpy(copy.Data() + y * copy.Stride(), source.Row(y), copy.Stride());
    *this = std::move(copy);
    return Error::None;
}

void Bitmap::Reset() {
    std::vector<uint8_t>().swap(m_pixels);
    m_width = m_height = 0;
}

} // namespace picture
