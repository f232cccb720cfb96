#include "Poster.h"

#include "Functions.h"
#include "LowInterface.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

#include "picture/encoders.h"
#include "picture/load.h"

namespace reelpage::app {

namespace {

constexpr int kImageWidth = 640;
constexpr int kImageHeight = 480;

const char kSaveFilter[] = "Bitmap|*.bmp|JPEG Image File |*.jpg|Portable Network Graphics|*.png|"
                           "TIFF Images|*.tif|GIF Image|*.gif";

QString PicturesFolder() {
    WCHAR folder[kMaxPath + 1] = {};
    if (Low.GetPicturesFolder(folder) != 0) return QString();
    return FieldText(folder);
}

} // namespace

TfrmPoster::TfrmPoster(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPoster"));
    setWindowTitle(QStringLiteral("Poster"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(kImageWidth, kImageHeight);
    Image1->setFrameShape(QFrame::Box);
    layout->addWidget(Image1);
    auto* buttons = new QHBoxLayout;
    btnChang = new QPushButton(QStringLiteral("Chang ..."), this);
    btnChang->setObjectName(QStringLiteral("btnChang"));
    btnSaveAs = new QPushButton(QStringLiteral("Save As"), this);
    btnSaveAs->setObjectName(QStringLiteral("btnSaveAs"));
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(btnChang);
    buttons->addWidget(btnSaveAs);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);
    connect(btnChang, &QPushButton::clicked, this, [this] { btnChangClick(); });
    connect(btnSaveAs, &QPushButton::clicked, this, [this] { btnSaveAsClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(658, 522);

    if (AppProject) LoadPoster(FieldText(AppProject->m_szPosterImage));
    ShowPoster();
}

bool TfrmPoster::LoadPoster(const QString& path) {
    picture::Bitmap bitmap;
    if (path.isEmpty() || picture::LoadPicture(path.toStdString(), bitmap) != picture::Error::None)
        return false;
    FImage = std::move(bitmap);
    return true;
}

// Drawn at the top left in its own size, cut at the control's edges; a poster
// that is missing or unreadable leaves the control empty.
void TfrmPoster::ShowPoster() {
    QPixmap canvas(kImageWidth, kImageHeight);
    canvas.fill(palette().color(QPalette::Window));
    if (!FImage.Empty()) {
        const QImage view(FImage.Data(), FImage.Width(), FImage.Height(), int(FImage.Stride()),
                          QImage::Format_ARGB32);
        QPainter painter(&canvas);
        painter.drawImage(0, 0, view);
    }
    Image1->setPixmap(canvas);
    btnSaveAs->setEnabled(!FImage.Empty());
}

void TfrmPoster::btnChangClick() {
    if (!AppProject) return;
    QString path;
    int w = 0, h = 0;
    if (!ChoosePicture(this, QStringLiteral("Select Poster Picture ..."),
                       int(std::size(AppProject->m_szPosterImage)), &path, &w, &h))
        return;
    if (!LoadPoster(path)) {
        ShowPictureRefused(this);
        return;
    }
    ShowPoster();
    SetFieldText(AppProject->m_szPosterImage, path);
}

void TfrmPoster::btnSaveAsClick() {
    if (FImage.Empty()) return;
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(DialogFilter(QString::fromLatin1(kSaveFilter)));
    // The dialog keeps its filter names with whitespace simplified, so the
    // JPEG entry is found by its pattern rather than by its spelling.
    for (const QString& filter : dialog.nameFilters())
        if (filter.endsWith(QStringLiteral("(*.jpg)"))) dialog.selectNameFilter(filter);
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.setDirectory(PicturesFolder());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SaveTo(dialog.selectedFiles().constFirst());
}

bool TfrmPoster::SaveTo(const QString& path) {
    picture::EncoderId encoder;
    if (!picture::FindEncoderByPath(path.toStdString(), encoder)) {
        ShowMessage(this,
                    QStringLiteral("Cannot save the picture as \"%1\": use one of the extensions "
                                   "bmp, jpg, png, tif or gif.")
                        .arg(path),
                    ApplicationTitle, QMessageBox::Critical);
        return false;
    }
    const picture::Error error = picture::SavePicture(FImage, path.toStdString(), encoder);
    if (error != picture::Error::None) {
        ShowMessage(this,
                    QStringLiteral("Cannot save the picture to \"%1\": %2.")
                        .arg(path, QString::fromLatin1(picture::ErrorText(error))),
                    ApplicationTitle, QMessageBox::Critical);
        return false;
    }
    return true;
}

} // namespace reelpage::app
