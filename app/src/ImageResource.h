#pragma once
// The pictures every view shares, loaded once at start-up from ResourceFolder
// and kept until the program ends. Controls keep pointers to them.
#include <QImage>
#include <QString>

namespace reelpage::app {

struct ImageSet {
    QImage AddVideo;
    QImage AddFile, Delete;
    QImage IE, Opera, FireFox, Chrome, Safari;      // browsers that play the formats
    QImage IE2, Opera2, FireFox2, Chrome2, Safari2; // the same, unsupported
    QImage Play, Pause;
    QImage Clip;
    QImage Start;
    QImage Info;
    QImage Poster;
    QImage Reset;
    QImage Return;
    QImage Finish;
    QImage AlignBottom, AlignCenter, AlignCentered, AlignLeft, AlignRight, AlignTop;
    QImage RotateLeft, RotateRight, FlipHorizontal, FlipVertical;
    QImage Zoom;
};

extern ImageSet Images;

// The file of each picture, in the order they are loaded.
struct ImageFile {
    const char* file;
    QImage ImageSet::*image;
};
constexpr int kImageFileCount = 33;
extern const ImageFile ImageFiles[kImageFileCount];

// Loads the whole set through LoadImageFile; a picture that cannot be read is
// reported and left empty, and loading goes on.
void LoadImageResources();

} // namespace reelpage::app
