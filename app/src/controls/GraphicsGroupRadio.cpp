#include "controls/GraphicsGroupRadio.h"

#include <QPainter>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace reelpage::app {

TGraphicsGroupRadio::TGraphicsGroupRadio(QWidget* parent) : QToolButton(parent) {
    setCheckable(true);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QAbstractButton::toggled, this, [this](bool down) {
        if (down) ReleaseOthers();
    });
}

void TGraphicsGroupRadio::SetImage(const QImage* image, const QString& btnText) {
    FImage = image;
    FBtnText = btnText;
    updateGeometry();
    update();
}

void TGraphicsGroupRadio::SetImageLeft(int left) {
    FImageLeft = left;
    update();
}

void TGraphicsGroupRadio::nextCheckState() {
    // Outside a group the button only latches; inside one, a pressed button
    // stays down unless the group allows all up.
    if (isChecked()) {
        if (FGroupIndex == 0 || FAllowAllUp) setChecked(false);
        return;
    }
    setChecked(true);
}

void TGraphicsGroupRadio::ReleaseOthers() {
    if (FGroupIndex == 0 || !parentWidget()) return;
    const auto siblings =
        parentWidget()->findChildren<TGraphicsGroupRadio*>(Qt::FindDirectChildrenOnly);
    for (TGraphicsGroupRadio* other : siblings)
        if (other != this && other->FGroupIndex == FGroupIndex) other->setChecked(false);
}

QPoint TGraphicsGroupRadio::ImagePosition() const {
    if (!FImage) return {};
    int left = FImageLeft == 0 ? (width() - FImage->width()) / 2 : FImageLeft;
    return QPoint(left, (height() - FImage->height()) / 2);
}

QSize TGraphicsGroupRadio::sizeHint() const {
    QSize hint(23, 22);
    if (FImage) {
        int w = FImage->width() + 2 * qMax(FImageLeft, 4);
        if (!FBtnText.isEmpty())
            w = FImageLeft + FImage->width() + 16 + fontMetrics().horizontalAdvance(FBtnText) + 8;
        hint = hint.expandedTo(QSize(w, FImage->height() + 8));
    }
    return hint;
}

void TGraphicsGroupRadio::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    opt.text.clear();
    opt.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, opt);
    if (!FImage || FImage->isNull()) return;
    QPoint at = ImagePosition();
    painter.drawImage(at, *FImage);
    // A text only ever accompanies a picture.
    if (!FBtnText.isEmpty()) {
        QRect textRect(FImageLeft + FImage->width() + 16, 0, width(), height());
        textRect.setRight(width() - 2);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, FBtnText);
    }
}

} // namespace reelpage::app
