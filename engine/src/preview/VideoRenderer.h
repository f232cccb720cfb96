#pragma once
// The preview's render window: a child of the program's picture area that
// shows the frames the preview helper delivers. Each frame is scaled once,
// when it arrives, to the window's size and then painted 1:1.
#include <QCursor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>

namespace reelpage {

// What the render window reports of the mouse (window pixels). Capture loss
// stands for every way a drag can be cut short: another widget taking the
// mouse, the window being deactivated or hidden.
class RenderMouse {
public:
    virtual ~RenderMouse() = default;
    virtual void RenderMouseDown(int x, int y) = 0;
    virtual void RenderMouseMove(int x, int y, bool haveCapture) = 0;
    virtual void RenderMouseUp(int x, int y) = 0;
    virtual void RenderCaptureLost() = 0;
};

class RenderWindow : public QWidget {
public:
    RenderWindow(QWidget* parent, RenderMouse* mouse);

    // The size frames are shown at; a new size drops the picture scaled for
    // the old one. An empty size shows nothing.
    void SetView(int width, int height);
    // The size frames arrive at.
    void SetFrameSize(int width, int height);
    // Takes a frame of the frame size (BGRX rows, pitch width x 4): scales it
    // into the view and shows it.
    void PresentFrame(const uint8_t* pixels);
    // Shows the last frame again.
    void Redraw() { update(); }
    // Forgets the picture and both sizes.
    void ReleaseRenderer();
    // The caption drawn over the picture; empty for none.
    void SetCaption(const QString& text);
    const QString& Caption() const { return m_Caption; }

    QSize ViewSize() const { return m_View; }
    QSize FrameSize() const { return m_Frame; }
    // What the window shows: the last frame at the view size (null before one).
    const QImage& Picture() const { return m_Picture; }
    int PresentedCount() const { return m_nPresented; }
    // The crop tool: corner marks and a diagonal, hot spot at the top left.
    const QCursor& CropCursor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    RenderMouse* m_pMouse;
    QSize m_View;
    QSize m_Frame;
    QImage m_Picture;
    int m_nPresented = 0;
    QCursor m_CropCursor;
    bool m_bCropCursor = false;
    QString m_Caption;
};

} // namespace reelpage
