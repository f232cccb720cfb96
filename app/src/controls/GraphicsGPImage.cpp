#include "controls/GraphicsGPImage.h"

#include <QMouseEvent>
#include <QPainter>

namespace reelpage::app {

TGraphicsGPImage::TGraphicsGPImage(QWidget* parent) : QWidget(parent) {}

void TGraphicsGPImage::SetImage(const QImage* image) {
    FImage = image;
    update();
}

void TGraphicsGPImage::SetBoder(bool border) {
    if (FBoder == border) return;
    FBoder = border;
    update();
}

QRectF TGraphicsGPImage::ImageRect(QSizeF control, QSizeF picture) {
    qreal cw = control.width(), ch = control.height();
    qreal pw = picture.width(), ph = picture.height();
    if (pw <= 0 || ph <= 0) return {};
    if (cw >= pw && ch >= ph) return QRectF((cw - pw) / 2, (ch - ph) / 2, pw, ph);
    if (cw * ph >= ch * pw) {
        qreal w = ch * pw / ph;
        return QRectF((cw - w) / 2, 0, w, ch);
    }
    qreal h = cw * ph / pw;
    return QRectF(0, (ch - h) / 2, cw, h);
}

void TGraphicsGPImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (FBoder) {
        painter.setPen(QColor(0, 0, 0));
        painter.drawRect(0, 0, width() - 1, height() - 1);
    }
    if (!FImage || FImage->isNull()) return;
    QRectF target = ImageRect(size(), FImage->size());
    if (target.size() != QSizeF(FImage->size()))
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, *FImage);
}

void TGraphicsGPImage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick(this);
    QWidget::mouseReleaseEvent(event);
}

} // namespace reelpage::app
