#include "controls/GraphicsButton.h"

#include "GraphicsUtils.h"

#include <QMenu>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace reelpage::app {

namespace {
constexpr int kImageLeft = 6;
constexpr int kImageGap = 4;
} // namespace

TGraphicsButton::TGraphicsButton(QWidget* parent) : QPushButton(parent) {}

TGraphicsButton::~TGraphicsButton() = default;

void TGraphicsButton::SetImage(const QImage* image) {
    FImage = image;
    FImageGrey.reset();
    updateGeometry();
    update();
}

QPoint TGraphicsButton::ImagePosition() const {
    if (!FImage) return {};
    int areaWidth = width() - SplitWidth();
    int left = text().isEmpty() ? (areaWidth - FImage->width()) / 2 : kImageLeft;
    return QPoint(left, (height() - FImage->height()) / 2);
}

const QImage* TGraphicsButton::PictureToDraw() {
    if (!FImage) return nullptr;
    if (isEnabled()) return FImage;
    if (!FImageGrey) FImageGrey = std::make_unique<QImage>(MakeGrayBitmap(*FImage));
    return FImageGrey.get();
}

void TGraphicsButton::SetSplitButton(bool split) {
    FSplit = split;
    updateGeometry();
    update();
}

void TGraphicsButton::PopupDropDownMenu() {
    if (FDropDownMenu) FDropDownMenu->popup(mapToGlobal(QPoint(0, height())));
}

QSize TGraphicsButton::sizeHint() const {
    QSize hint = QPushButton::sizeHint();
    if (FImage) {
        if (text().isEmpty())
            hint = hint.expandedTo(FImage->size() + QSize(10, 8));
        else
            hint.rwidth() += FImage->width() + kImageGap;
        hint.setHeight(qMax(hint.height(), FImage->height() + 8));
    }
    hint.rwidth() += SplitWidth();
    return hint;
}

QSize TGraphicsButton::ContentSize() const {
    // The caption is drawn inside the style's contents rectangle: what the
    // style keeps round it, measured on a large button.
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.rect = QRect(0, 0, 1000, 1000);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
    const int right = opt.rect.right() - contents.right();
    const int bottom = opt.rect.bottom() - contents.bottom();
    QSize size(0, 0);
    if (!text().isEmpty()) {
        const int left = FImage ? kImageLeft + FImage->width() + kImageGap : contents.left();
        size = QSize(left + fontMetrics().horizontalAdvance(text()) + right,
                     contents.top() + fontMetrics().height() + bottom);
    }
    if (FImage) size = size.expandedTo(FImage->size() + QSize(10, 8));
    size.rwidth() += SplitWidth();
    return size;
}

void TGraphicsButton::mousePressEvent(QMouseEvent* event) {
    if (FSplit && event->button() == Qt::LeftButton &&
        event->position().x() >= width() - SplitWidth()) {
        if (FDropDownMenu)
            PopupDropDownMenu();
        else
            emit OnDropDownClick(this);
        return;
    }
    QPushButton::mousePressEvent(event);
}

bool TGraphicsButton::event(QEvent* event) {
    // A button of a picture alone is named by its hint, for screen readers.
    if (event->type() == QEvent::ToolTipChange && text().trimmed().isEmpty())
        setAccessibleName(toolTip());
    return QPushButton::event(event);
}

void TGraphicsButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    painter.drawControl(QStyle::CE_PushButtonBevel, opt);

    QStyleOptionButton label = opt;
    label.icon = QIcon();
    label.features &= ~QStyleOptionButton::HasMenu;
    label.rect = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
    label.rect.setRight(label.rect.right() - SplitWidth());
    if (FImage && !text().isEmpty()) label.rect.setLeft(kImageLeft + FImage->width() + kImageGap);
    if (!text().isEmpty()) painter.drawControl(QStyle::CE_PushButtonLabel, label);

    if (const QImage* picture = PictureToDraw()) painter.drawImage(ImagePosition(), *picture);

    if (FSplit) {
        int x = width() - SplitWidth();
        QColor line = palette().color(QPalette::Mid);
        painter.setPen(line);
        painter.drawLine(x, 4, x, height() - 5);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = QRect(x + 3, (height() - 8) / 2, 10, 8);
        painter.drawPrimitive(QStyle::PE_IndicatorArrowDown, arrow);
    }

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &opt, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

} // namespace reelpage::app
