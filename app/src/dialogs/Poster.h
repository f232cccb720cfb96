#pragma once
// The Poster dialog: shows the picture the published page shows before the
// video plays (the project's poster), replaces it with another picture file
// and saves a copy of it in one of five picture formats.
#include <QDialog>
#include <QImage>

#include "picture/bitmap.h"

class QPushButton;

namespace reelpage::app {

class TGraphicsGPImage;

class TfrmPoster : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPoster(QWidget* parent);

    void btnChangClick();
    void btnSaveAsClick();
    // Writes the poster to `path` in the format its extension names; false,
    // with the reason shown, when the extension names no format the program
    // writes or the file could not be written.
    bool SaveTo(const QString& path);
    const picture::Bitmap& Picture() const { return FImage; }

    TGraphicsGPImage* Image1 = nullptr;
    QPushButton* btnChang = nullptr;
    QPushButton* btnSaveAs = nullptr;
    QPushButton* btnClose = nullptr;

private:
    // Reads the picture into FImage and shows it; false leaves both as they were.
    bool LoadPoster(const QString& path);
    void ShowPoster();

    picture::Bitmap FImage;
    // FImage's pixels as the picture control draws them; rebuilt whenever
    // FImage is replaced, since it borrows FImage's buffer.
    QImage FShown;
};

} // namespace reelpage::app
