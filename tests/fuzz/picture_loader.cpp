// The picture loader: watermark and advertisement pictures a user picks, the
// thumbnails and posters (BMP) the program reads back. Any bytes, from memory
// and from a file, as both ways are used.
#include "fuzz_support.h"

#include "picture/load.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Home();
    return 0;
}

namespace {

void CheckResult(picture::Error e, const picture::Bitmap& b) {
    if (e != picture::Error::None) {
        if (b.Width() != 0 || b.Height() != 0) __builtin_trap(); // a failure leaves it empty
        return;
    }
    if (!picture::IsAcceptedSize(b.Width(), b.Height())) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    picture::Bitmap fromMemory;
    const picture::Error e = picture::LoadPictureFromMemory(data, size, fromMemory);
    CheckResult(e, fromMemory);
    // The file way only for what decodes, so that most runs stay in memory.
    if (e == picture::Error::None) {
        static const std::string path = fuzz::Home() + "/picture";
        fuzz::WriteFile(path, fuzz::Bytes(data, size));
        picture::Bitmap fromFile;
        const picture::Error f = picture::LoadPicture(path, fromFile);
        CheckResult(f, fromFile);
        if (f != e || fromFile.Width() != fromMemory.Width()) __builtin_trap();
    }
    return 0;
}
