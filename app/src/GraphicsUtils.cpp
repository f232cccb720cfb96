#include "GraphicsUtils.h"

#include "Functions.h"

#include <QImageReader>

namespace reelpage::app {

namespace {

QImage LoadReporting(const QString& path, const QString& caption) {
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull()) {
        ShowMessage(nullptr, path, caption, QMessageBox::Critical);
        QSize claimed = reader.size();
        if (!claimed.isValid()) claimed = QSize(0, 0);
        QImage empty(claimed, QImage::Format_ARGB32);
        empty.fill(Qt::transparent);
        return empty;
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

QImage LoadImageFile(const QString& path) {
    return LoadReporting(path, QStringLiteral("Failed to load file."));
}

QImage MakeGrayBitmap(const QImage& bitmap) {
    QImage gray = bitmap.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < gray.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(gray.scanLine(y));
        for (int x = 0; x < gray.width(); ++x) {
            QRgb p = row[x];
            uint32_t g = ((7471u * qBlue(p) + 38469u * qGreen(p) + 19595u * qRed(p)) >> 17) + 120;
            row[x] = qRgba(int(g), int(g), int(g), qAlpha(p));
        }
    }
    return gray;
}

const QImage& GoImage() {
    // The arrow's own loader has always spelt its caption this way.
    static const QImage image = LoadReporting(ResourceFolder + QStringLiteral("Go.png"),
                                              QStringLiteral("Faild to load file."));
    return image;
}

const QImage& GoGrayImage() {
    static const QImage image = MakeGrayBitmap(GoImage());
    return image;
}

} // namespace reelpage::app
