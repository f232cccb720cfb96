#pragma once
// The splash window shown while the engine starts: the logo, the product
// title and the program's version.
#include <QImage>
#include <QWidget>

class QLabel;

namespace reelpage::app {

class TGraphicsGPImage;

class TfrmFlash : public QWidget {
    Q_OBJECT
public:
    explicit TfrmFlash(QWidget* parent = nullptr);

    TGraphicsGPImage* imgLogo = nullptr;
    QLabel* lblName = nullptr;
    QLabel* lblVersion = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FLogo;
};

} // namespace reelpage::app
