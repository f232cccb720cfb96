#include "controls/MediaPlayTrackBar.h"

#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

namespace reelpage::app {

TMediaPlayTrackBar::TMediaPlayTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setSingleStep(1);
    setPageStep(10);
    setRange(FMin, FMax);
    setValue(FPosition);
    setTickInterval(FFrequency);
    setTickPosition(QSlider::TicksBothSides);
    resize(150, 45);
    // Every change the user makes passes through an action: key presses,
    // clicks on the channel, wheel steps and each step of a thumb drag. Code
    // that sets the value raises no action, which keeps it silent.
    connect(this, &QAbstractSlider::actionTriggered, this,
            [this](int) { UserMoved(sliderPosition()); });
}

int TMediaPlayTrackBar::FrequencyForMax(int max) {
    if (max < 10) return 1;
    if (max < 100) return 5;
    if (max < 200) return 10;
    if (max < 1200) return 60;
    if (max < 3600) return 300;
    return 600;
}

void TMediaPlayTrackBar::SetMin(int value) {
    if (value == FMin) return;
    FMin = value;
    setRange(FMin, FMax);
}

void TMediaPlayTrackBar::SetMax(int value) {
    if (value == FMax) return;
    FMax = value;
    FFrequency = FrequencyForMax(FMax);
    setTickInterval(FFrequency);
    setRange(FMin, FMax);
}

void TMediaPlayTrackBar::SetPosition(int value) {
    if (value == FPosition) return;
    FPosition = value;
    setValue(value);
}

void TMediaPlayTrackBar::SetSelStart(int value) {
    if (value == FSelStart) return;
    FSelStart = value;
    ApplySelection();
}

void TMediaPlayTrackBar::SetSelEnd(int value) {
    if (value == FSelEnd) return;
    FSelEnd = value;
    ApplySelection();
}

void TMediaPlayTrackBar::SetSelection(int selStart, int selEnd) {
    if (selStart == FSelStart && selEnd == FSelEnd) return;
    FSelStart = selStart;
    FSelEnd = selEnd;
    ApplySelection();
}

void TMediaPlayTrackBar::ApplySelection() {
    update();
}

void TMediaPlayTrackBar::SetShowSelRange(bool value) {
    if (value == FShowSelRange) return;
    FShowSelRange = value;
    update();
}

void TMediaPlayTrackBar::SetShowTick(bool value) {
    if (value == FShowTick) return;
    FShowTick = value;
    setTickPosition(FShowTick ? QSlider::TicksBothSides : QSlider::NoTicks);
}

void TMediaPlayTrackBar::UserMoved(int position) {
    if (position == FPosition) return;
    FPosition = position;
    if (FMouseDrag) {
        emit OnChange(this);
        return;
    }
    // A single step (keyboard, wheel) is a whole drag of its own.
    emit OnMouseDragBegin(this);
    emit OnChange(this);
    emit OnMouseDragEnd(this);
}

void TMediaPlayTrackBar::mousePressEvent(QMouseEvent* event) {
    // The drag begins before the press is handled, so that a click on the
    // channel, which moves the thumb at once, is a change inside the drag.
    static const QMetaMethod begin = QMetaMethod::fromSignal(&TMediaPlayTrackBar::OnMouseDragBegin);
    if (event->button() == Qt::LeftButton && !FMouseDrag && isSignalConnected(begin)) {
        FMouseDrag = true;
        emit OnMouseDragBegin(this);
    }
    if (event->button() == Qt::LeftButton && FMax > FMin) {
        // A press beside the thumb puts the thumb under the mouse, as media
        // players do, instead of paging towards it; the press then holds the
        // thumb, so the same press can go on as a drag.
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        const QPoint at = event->position().toPoint();
        if (!handle.contains(at)) {
            const QRect groove =
                style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
            setSliderPosition(QStyle::sliderValueFromPosition(
                FMin, FMax, at.x() - groove.x() - handle.width() / 2,
                groove.width() - handle.width(), opt.upsideDown));
        }
    }
    QSlider::mousePressEvent(event);
}

void TMediaPlayTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) EndMouseDrag();
}

void TMediaPlayTrackBar::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click is only a second press here.
    mousePressEvent(event);
}

void TMediaPlayTrackBar::EndMouseDrag() {
    if (!FMouseDrag) return;
    FMouseDrag = false;
    emit OnMouseDragEnd(this);
}

void TMediaPlayTrackBar::changeEvent(QEvent* event) {
    // The mouse is lost without a release when the bar is disabled or its
    // window is deactivated mid-drag; the drag ends there.
    if ((event->type() == QEvent::EnabledChange && !isEnabled()) ||
        (event->type() == QEvent::ActivationChange && !isActiveWindow()))
        EndMouseDrag();
    QSlider::changeEvent(event);
}

void TMediaPlayTrackBar::hideEvent(QHideEvent* event) {
    EndMouseDrag();
    QSlider::hideEvent(event);
}

int TMediaPlayTrackBar::PixelOfValue(int value) const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.sliderPosition = value;
    opt.sliderValue = value;
    QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    return handle.center().x();
}

void TMediaPlayTrackBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);

    // Groove, then the selection on it, then ticks and thumb over both.
    QStyleOptionSlider groove = opt;
    groove.subControls = QStyle::SC_SliderGroove;
    style()->drawComplexControl(QStyle::CC_Slider, &groove, &painter, this);

    if (HasVisibleSelection() && FMax > FMin) {
        QRect g = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
        int lo = qBound(FMin, qMin(FSelStart, FSelEnd), FMax);
        int hi = qBound(FMin, qMax(FSelStart, FSelEnd), FMax);
        int x1 = PixelOfValue(lo);
        int x2 = PixelOfValue(hi);
        int h = qMax(4, g.height() - 2);
        QRect band(x1, g.center().y() - h / 2 + 1, qMax(2, x2 - x1 + 1), h);
        QColor colour = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                        QPalette::Highlight);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(band, 2, 2);
        // Small marks at the ends of the clip, beside the channel.
        painter.setBrush(colour.darker(120));
        for (int x : {x1, x2}) {
            QPolygon mark;
            int top = band.top() - 2;
            mark << QPoint(x - 4, top - 5) << QPoint(x + 4, top - 5) << QPoint(x, top);
            painter.drawPolygon(mark);
        }
    }

    QStyleOptionSlider rest = opt;
    rest.subControls = QStyle::SC_SliderTickmarks | QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &rest, &painter, this);
}

} // namespace reelpage::app
