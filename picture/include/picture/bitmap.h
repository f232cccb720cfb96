#pragma once
// 32-bit pictures as every part of the system hands them around: bytes B, G, R,
// A per pixel, straight (not premultiplied) alpha, rows top-down.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace picture {

enum class Error {
    None = 0,
    NotFound,     // no such file or folder
    AccessDenied, // the file exists but may not be read or written
    ReadFailed,   // an I/O error while reading
    NotAPicture,  // the bytes are no picture format that can be decoded
    Corrupt,      // a picture format, but truncated or damaged
    TooLarge,     // dimensions or file size beyond the accepted bounds
    OutOfMemory,  // the pixels could not be allocated
    InvalidArgument,
    UnknownEncoder, // an encoder id that is not in the table (or all zero)
    EncodeFailed,   // the encoder refused the picture
    WriteFailed,    // the file could not be written or put in place
};

// A short English text for logs and message details.
const char* ErrorText(Error error);

// Bounds on what a picture may be: decoders parse untrusted files, and a
// header that claims gigapixels must be refused before anything is allocated.
inline constexpr int kMaxSide = 32767;
inline constexpr int64_t kMaxPixels = int64_t{1} << 26; // 64 Mpx, 256 MiB of BGRA
inline constexpr size_t kMaxFileBytes = size_t{256} << 20;

// Whether width x height is a picture size this library accepts.
bool IsAcceptedSize(int width, int height);

struct Bgra {
    uint8_t b = 0, g = 0, r = 0, a = 0;
    friend bool operator==(const Bgra&, const Bgra&) = default;
};

// How the fourth byte of each pixel is to be understood. Opaque pictures
// (decoded video, frames in shared memory) carry no alpha there: reading them
// treats every pixel as fully opaque, and drawing onto them stores 255.
enum class AlphaMode { Straight, Opaque };

struct Point {
    int x = 0, y = 0;
};
struct RectI {
    int x = 0, y = 0, width = 0, height = 0;
};
struct RectF {
    float x = 0, y = 0, width = 0, height = 0;
};

// Borrowed pixels: a window on a Bitmap or on any 32-bit buffer, such as a
// frame in shared memory, whose rows may be further apart than width * 4.
struct ConstBitmapView {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0; // bytes from one row to the next
    AlphaMode alpha = AlphaMode::Straight;

    bool Empty() const { return !data || width <= 0 || height <= 0; }
    const uint8_t* Row(int y) const { return data + y * stride; }
    Bgra Pixel(int x, int y) const {
        Bgra p;
        std::memcpy(&p, Row(y) + x * 4, 4);
        if (alpha == AlphaMode::Opaque) p.a = 255;
        return p;
    }
};

struct BitmapView {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0;
    AlphaMode alpha = AlphaMode::Straight;

    bool Empty() const { return !data || width <= 0 || height <= 0; }
    uint8_t* Row(int y) const { return data + y * stride; }
    Bgra Pixel(int x, int y) const { return ConstBitmapView(*this).Pixel(x, y); }
    void SetPixel(int x, int y, Bgra p) const { std::memcpy(Row(y) + x * 4, &p, 4); }
    void Fill(Bgra p) const;
    operator ConstBitmapView() const { return {data, width, height, stride, alpha}; }
};

// An owned picture with stride = width * 4. An empty Bitmap has no pixels.
class Bitmap {
public:
    Bitmap() = default;

    // Allocates width x height pixels, all bytes zero (transparent black).
    // Fails with InvalidArgument for a size of zero or less, TooLarge beyond
    // the bounds and OutOfMemory when the allocation fails; the bitmap is
    // left empty then.
    Error Create(int width, int height, AlphaMode alpha = AlphaMode::Straight);
    // A copy of the pixels of a view.
    Error CopyFrom(ConstBitmapView source);
    void Reset();

    bool Empty() const { return m_pixels.empty(); }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    ptrdiff_t Stride() const { return ptrdiff_t{m_width} * 4; }
    AlphaMode Alpha() const { return m_alpha; }
    void SetAlpha(AlphaMode alpha) { m_alpha = alpha; }
    uint8_t* Data() { return m_pixels.data(); }
    const uint8_t* Data() const { return m_pixels.data(); }

    Bgra Pixel(int x, int y) const { return View().Pixel(x, y); }
    void SetPixel(int x, int y, Bgra p) { View().SetPixel(x, y, p); }

    BitmapView View() { return {m_pixels.data(), m_width, m_height, Stride(), m_alpha}; }
    ConstBitmapView View() const { return {m_pixels.data(), m_width, m_height, Stride(), m_alpha}; }
    operator BitmapView() { return View(); }
    operator ConstBitmapView() const { return View(); }

private:
    std::vector<uint8_t> m_pixels;
    int m_width = 0;
    int m_height = 0;
    AlphaMode m_alpha = AlphaMode::Straight;
};

} // namespace picture
