#include "dialogs/Flash.h"

#include "Functions.h"
#include "controls/GraphicsGPImage.h"
#include "GraphicsUtils.h"

#include <QLabel>
#include <QPainter>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace reelpage::app {

TfrmFlash::TfrmFlash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmFlash"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);

    FLogo = LoadImageFile(ResourceFolder + QStringLiteral("Logo.png"));
    imgLogo = new TGraphicsGPImage(this);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setFixedSize(480, 290);
    imgLogo->SetImage(&FLogo);

    lblName = new QLabel(ApplicationTitle, this);
    lblName->setObjectName(QStringLiteral("lblName"));
    QFont name = DesignedFont(lblName->font(), 21);
    name.setBold(true);
    lblName->setFont(name);

    lblVersion = new QLabel(QStringLiteral("Version:") + VersionToText(GetProgramVersion()), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setContentsMargins(8, 0, 0, 0);
    QPalette muted = lblVersion->palette();
    muted.setColor(QPalette::WindowText, QColor(0x66, 0x72, 0x84));
    lblVersion->setPalette(muted);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(imgLogo);
    layout->addWidget(lblName);
    layout->addWidget(lblVersion);
    layout->addStretch(1);
    SetDesignedSize(this, 498, 360);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

} // namespace reelpage::app

namespace reelpage::app {

void TfrmFlash::paintEvent(QPaintEvent*) {
    // A borderless window needs an edge of its own against the desktop.
    QPainter painter(this);
    painter.setPen(QColor(0xB9, 0xC0, 0xCB));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace reelpage::app
