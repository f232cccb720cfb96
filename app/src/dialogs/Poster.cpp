#include "dialogs/Poster.h"

#include "Functions.h"
#include "controls/GraphicsGPImage.h"
#include "LowInterface.h"

#include <QFileDialog>
#include <QHBoxLayout>
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
    Image1 = new TGraphicsGPImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(kImageWidth, kImageHeight);
    Image1->SetBoder(true);
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
    SetDesignedSize(this, 658, 522);

    if (AppProject) LoadPoster(FieldText(AppProject->m_szPosterImage));
    ShowPoster();
}

bool TfrmPoster::LoadPoster(const QString& path) {
    picture::Bitmap bitmap;
    if (path.isEmpty() || picture::LoadPicture(path.toStdString(), bitmap) != picture::Error::None)
        return false;
    // The control must not draw from the old buffer once it is gone.
    FShown = QImage();
    FImage = std::move(bitmap);
    // B, G, R, A bytes are Qt's ARGB32 on this byte order, or RGB32 when the
    // fourth byte carries no alpha.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    FShown = QImage(static_cast<const uchar*>(FImage.Data()), FImage.Width(), FImage.Height(),
                    qsizetype(FImage.Stride()),
                    FImage.Alpha() == picture::AlphaMode::Opaque ? QImage::Format_RGB32
                                                                 : QImage::Format_ARGB32);
    return true;
}

// A poster that fits is shown in its own size, a larger one (a video frame
// is usually larger than the control) shrunk whole with its shape kept; one
// that is missing or unreadable leaves the frame empty.
void TfrmPoster::ShowPoster() {
    Image1->SetImage(FImage.Empty() ? nullptr : &FShown);
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
