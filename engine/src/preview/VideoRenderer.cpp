#include "preview/VideoRenderer.h"

#include <QMouseEvent>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace reelpage {

RenderWindow::RenderWindow(QWidget* parent, RenderMouse* mouse) : QWidget(parent), m_pMouse(mouse) {
    // Every pixel is painted from the frame; nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
}

void RenderWindow::SetView(int width, int height) {
    const QSize view(std::max(width, 0), std::max(height, 0));
    if (view == m_View) return;
    m_View = view;
    m_Picture = QImage();
}

void RenderWindow::SetFrameSize(int width, int height) {
    m_Frame = QSize(std::max(width, 0), std::max(height, 0));
}

void RenderWindow::PresentFrame(const uint8_t* pixels) {
    if (!pixels || m_Frame.isEmpty() || m_View.isEmpty()) return;
    const QImage frame(pixels, m_Frame.width(), m_Frame.height(), m_Frame.width() * 4,
                       QImage::Format_RGB32);
    // The helper reuses the block as soon as this returns: copy out now.
    m_Picture = m_Frame == m_View
                    ? frame.copy()
                    : frame.scaled(m_View, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    ++m_nPresented;
    update();
}

const QCursor& RenderWindow::CropCursor() {
    if (!m_bCropCursor) {
        QPixmap pm(32, 32);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        for (int pass = 0; pass < 2; ++pass) { // a white outline under black lines
            p.setPen(QPen(pass ? Qt::black : Qt::white, pass ? 1 : 3));
            p.drawLine(4, 0, 4, 22);
            p.drawLine(4, 22, 26, 22);
            p.drawLine(0, 4, 22, 4);
            p.drawLine(22, 4, 22, 26);
            p.drawLine(0, 0, 14, 14);
        }
        p.end();
        m_CropCursor = QCursor(pm, 0, 0);
        m_bCropCursor = true;
    }
    return m_CropCursor;
}

void RenderWindow::ReleaseRenderer() {
    m_Picture = QImage();
    m_View = m_Frame = QSize();
    update();
}

void RenderWindow::SetCaption(const QString& text) {
    if (text == m_Caption) return;
    m_Caption = text;
    update();
}

void RenderWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_Picture.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, m_Picture);
    if (!m_Caption.isEmpty()) {
        // As a browser shows captions: white on a dark box near the bottom,
        // the letters a twentieth of the picture high, so they stay
        // readable however small the view.
        QFont font = painter.font();
        font.setPixelSize(std::max(11, m_Picture.height() / 20));
        painter.setFont(font);
        const int margin = std::max(4, m_Picture.height() / 30);
        const QRect area(margin, margin, m_Picture.width() - 2 * margin,
                         m_Picture.height() - 2 * margin);
        const int flags = Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap;
        const QRect text = painter.boundingRect(area, flags, m_Caption);
        const int pad = font.pixelSize() / 4 + 1;
        painter.fillRect(text.adjusted(-2 * pad, -pad, 2 * pad, pad), QColor(0, 0, 0, 200));
        painter.setPen(Qt::white);
        painter.drawText(area, flags, m_Caption);
    }
    // A window not yet resized to the view shows black beside the picture.
    if (width() > m_Picture.width())
        painter.fillRect(m_Picture.width(), 0, width() - m_Picture.width(), height(), Qt::black);
    if (height() > m_Picture.height())
        painter.fillRect(0, m_Picture.height(), m_Picture.width(), height() - m_Picture.height(),
                         Qt::black);
}

void RenderWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    const QPoint p = event->position().toPoint();
    m_pMouse->RenderMouseDown(p.x(), p.y());
}

void RenderWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    m_pMouse->RenderMouseMove(p.x(), p.y(), QWidget::mouseGrabber() == this);
}

void RenderWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    const QPoint p = event->position().toPoint();
    m_pMouse->RenderMouseUp(p.x(), p.y());
}

void RenderWindow::hideEvent(QHideEvent* event) {
    m_pMouse->RenderCaptureLost();
    QWidget::hideEvent(event);
}

bool RenderWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate) m_pMouse->RenderCaptureLost();
    return QWidget::event(event);
}

} // namespace reelpage
