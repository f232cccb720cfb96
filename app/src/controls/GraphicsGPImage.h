#pragma once
// A picture box for a shared picture (not owned): the picture in its natural
// size and centred when it fits, otherwise scaled down to fit with its shape
// kept and centred along the other side; optionally framed.
#include <QImage>
#include <QRectF>
#include <QWidget>

namespace reelpage::app {

class TGraphicsGPImage : public QWidget {
    Q_OBJECT
public:
    explicit TGraphicsGPImage(QWidget* parent = nullptr);

    void SetImage(const QImage* image);
    const QImage* Image() const { return FImage; }

    bool Boder() const { return FBoder; }
    void SetBoder(bool border);

    // Where a picture of pictureSize is drawn in a control of controlSize.
    static QRectF ImageRect(QSizeF controlSize, QSizeF pictureSize);

signals:
    // A left click released over the picture box.
    void OnClick(TGraphicsGPImage* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const QImage* FImage = nullptr;
    bool FBoder = false;
};

} // namespace reelpage::app
