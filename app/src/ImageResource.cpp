#include "ImageResource.h"

#include "Functions.h"
#include "GraphicsUtils.h"

namespace reelpage::app {

ImageSet Images;

const ImageFile ImageFiles[kImageFileCount] = {
    {"AddVideo.png", &ImageSet::AddVideo},
    {"AddFile.png", &ImageSet::AddFile},
    {"Delete.png", &ImageSet::Delete},
    {"IE.png", &ImageSet::IE},
    {"Opera.png", &ImageSet::Opera},
    {"FireFox.png", &ImageSet::FireFox},
    {"Chrome.png", &ImageSet::Chrome},
    {"Safari.png", &ImageSet::Safari},
    {"IE2.png", &ImageSet::IE2},
    {"Opera2.png", &ImageSet::Opera2},
    {"FireFox2.png", &ImageSet::FireFox2},
    {"Chrome2.png", &ImageSet::Chrome2},
    {"Safari2.png", &ImageSet::Safari2},
    {"Play.png", &ImageSet::Play},
    {"Pause.png", &ImageSet::Pause},
    {"Clip.png", &ImageSet::Clip},
    {"Start.png", &ImageSet::Start},
    {"Info.png", &ImageSet::Info},
    {"Poster.png", &ImageSet::Poster},
    {"Reset.png", &ImageSet::Reset},
    {"Return.png", &ImageSet::Return},
    {"Finish.png", &ImageSet::Finish},
    {"graphics-align-bottom.png", &ImageSet::AlignBottom},
    {"graphics-align-center.png", &ImageSet::AlignCenter},
    {"graphics-align-centered.png", &ImageSet::AlignCentered},
    {"graphics-align-left.png", &ImageSet::AlignLeft},
    {"graphics-align-right.png", &ImageSet::AlignRight},
    {"graphics-align-top.png", &ImageSet::AlignTop},
    {"RotateLeft.png", &ImageSet::RotateLeft},
    {"RotateRight.png", &ImageSet::RotateRight},
    {"FlipHorizontal.png", &ImageSet::FlipHorizontal},
    {"FlipVertical.png", &ImageSet::FlipVertical},
    {"Zoom.png", &ImageSet::Zoom},
};

void LoadImageResources() {
    for (const ImageFile& f : ImageFiles)
        Images.*(f.image) = LoadImageFile(ResourceFolder + QString::fromLatin1(f.file));
}

} // namespace reelpage::app
