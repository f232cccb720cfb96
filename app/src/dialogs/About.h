#pragma once
// The about box: logo, rights notice with the home page and e-mail links,
// the program's version.
#include <QDialog>
#include <QImage>

class QLabel;
class QPushButton;

namespace reelpage::app {

class TGraphicsGPImage;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent);
    ~TfrmAbout() override;

    TGraphicsGPImage* imgLogo = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* lblVersion = nullptr;
    QPushButton* btnClose = nullptr;

    // The text of lblCopyright for the product information.
    static QString CopyrightText();

private:
    QImage FLogo;
};

} // namespace reelpage::app
