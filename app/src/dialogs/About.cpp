#include "dialogs/About.h"

#include "Functions.h"
#include "controls/GraphicsGPImage.h"
#include "GraphicsUtils.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace reelpage::app {

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About \"") + ApplicationTitle + QChar('"'));

    FLogo = LoadImageFile(ResourceFolder + QStringLiteral("Logo.png"));
    imgLogo = new TGraphicsGPImage(this);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setFixedSize(480, 290);
    imgLogo->SetImage(&FLogo);

    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);

    lblCopyright = new QLabel(CopyrightText(), this);
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    lblCopyright->setTextFormat(Qt::RichText);
    lblCopyright->setWordWrap(true);
    lblCopyright->setFixedWidth(465);
    lblCopyright->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                          Qt::LinksAccessibleByKeyboard);
    lblCopyright->setOpenExternalLinks(false);
    connect(lblCopyright, &QLabel::linkActivated, this,
            [](const QString& target) { ShellOpen(target); });

    lblVersion = new QLabel(QStringLiteral("Version:") + VersionToText(GetProgramVersion()), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    // The notice takes the height its text needs at its width; the version
    // and the button follow it, and the box ends 8 pixels under the button.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 9, 9, 8);
    layout->setSpacing(0);
    layout->addWidget(imgLogo, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(bevel);
    layout->addSpacing(10);
    auto* notice = new QHBoxLayout;
    notice->setContentsMargins(7, 0, 0, 0);
    notice->addWidget(lblCopyright);
    notice->addStretch(1);
    layout->addLayout(notice);
    layout->addSpacing(8);
    auto* version = new QHBoxLayout;
    version->setContentsMargins(7, 0, 0, 0);
    version->addWidget(lblVersion);
    layout->addLayout(version);
    layout->addSpacing(2);
    layout->addWidget(btnClose, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TfrmAbout::~TfrmAbout() = default;

QString TfrmAbout::CopyrightText() {
    const QString home = ProductString(kProductHomePage).toHtmlEscaped();
    const QString email = ProductString(kProductEmail).toHtmlEscaped();
    return ProductString(kProductRights).toHtmlEscaped() +
           QStringLiteral("<br>Home Page: <a href=\"") + home + QStringLiteral("\">") + home +
           QStringLiteral("</a><br>Email: <a href=\"mailto:") + email + QStringLiteral("\">") +
           email + QStringLiteral("</a><br>");
}

} // namespace reelpage::app
