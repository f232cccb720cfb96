#include "picture/gray.h"

namespace picture {

Error GrayCopy(ConstBitmapView source, Bitmap& out, int lift) {
    if (source.Empty()) return Error::InvalidArgument;
    Bitmap grey;
    if (Error e = grey.Create(source.width, source.height); e != Error::None) return e;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            Bgra p = source.Pixel(x, y);
            uint8_t g = GrayLevel(p, lift);
            grey.SetPixel(x, y, {g, g, g, p.a});
        }
    }
    out = std::move(grey);
    return Error::None;
}

void GrayInPlace(BitmapView target, int lift) {
    if (target.Empty()) return;
    for (int y = 0; y < target.height; ++y) {
        uint8_t* p = target.Row(y);
        for (int x = 0; x < target.width; ++x, p += 4) {
            uint8_t g = GrayLevel({p[0], p[1], p[2], p[3]}, lift);
            p[0] = p[1] = p[2] = g;
        }
    }
}

} // namespace picture
