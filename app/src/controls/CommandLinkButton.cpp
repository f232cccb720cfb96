#include "controls/CommandLinkButton.h"

#include "GraphicsUtils.h"

#include <QPainter>
#include <QPixmap>

namespace reelpage::app {

TCommandLinkButton::TCommandLinkButton(QWidget* parent) : QCommandLinkButton(parent) {
    ReserveImageSpace();
}

TCommandLinkButton::~TCommandLinkButton() = default;

QString TCommandLinkButton::CommandLinkHint() const {
    return description().replace(QStringLiteral("&&"), QStringLiteral("&"));
}

void TCommandLinkButton::SetCommandLinkHint(const QString& hint) {
    // The button draws its note with mnemonics; a lone '&' would vanish.
    setDescription(QString(hint).replace(QChar('&'), QStringLiteral("&&")));
}

void TCommandLinkButton::SetImage(const QImage* image) {
    FImage = image;
    FImageGrey.reset();
    ReserveImageSpace();
    update();
}

void TCommandLinkButton::ReserveImageSpace() {
    // The button lays its texts out after its icon; a clear icon of the
    // picture's size keeps that room while the picture itself is drawn here.
    QSize size = FImage ? FImage->size() : GoImage().size();
    if (size.isEmpty()) size = QSize(20, 20);
    QPixmap clear(size);
    clear.fill(Qt::transparent);
    setIconSize(size);
    setIcon(QIcon(clear));
}

QPoint TCommandLinkButton::ImagePosition() const {
    if (FImage) return QPoint(6, (height() - FImage->height()) / 2);
    return QPoint(6, 10);
}

void TCommandLinkButton::paintEvent(QPaintEvent* event) {
    QCommandLinkButton::paintEvent(event);
    const QImage* picture = nullptr;
    if (FImage) {
        if (isEnabled()) {
            picture = FImage;
        } else {
            if (!FImageGrey) FImageGrey = std::make_unique<QImage>(MakeGrayBitmap(*FImage));
            picture = FImageGrey.get();
        }
    } else {
        picture = isEnabled() ? &GoImage() : &GoGrayImage();
    }
    if (picture->isNull()) return;
    QPainter painter(this);
    painter.drawImage(ImagePosition(), *picture);
}

} // namespace reelpage::app
