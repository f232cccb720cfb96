#pragma once
// Loading pictures for the views and making the grey copies of disabled
// controls. Pictures are 32-bit ARGB (straight alpha), drawn in their natural
// size.
#include <QImage>
#include <QString>

namespace reelpage::app {

// Loads a picture into a 32-bit ARGB bitmap. A file that cannot be read is
// reported in a message box (text: the path, caption "Failed to load file.")
// and gives an empty bitmap, transparent, of the size the file claims (0 x 0
// when it claims none), so that start-up goes on.
QImage LoadImageFile(const QString& path);

// A light-grey copy for the disabled state: each pixel's blue, green and red
// become ((7471 B + 38469 G + 19595 R) >> 17) + 120, alpha is kept.
QImage MakeGrayBitmap(const QImage& bitmap);

// The arrow of command-link buttons, "Go.png", and its grey copy; each is
// made on first use and kept for the rest of the run.
const QImage& GoImage();
const QImage& GoGrayImage();

} // namespace reelpage::app
