#include "Functions.h"

#include "LowInterface.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <cstring>
#include <utility>

#include "picture/load.h"

#ifndef REELPAGE_VERSION_MAJOR
#error "the build compiles the program's version in"
#endif

namespace reelpage::app {

QString ApplicationTitle = QStringLiteral("Zelmorix Cinelume");
QString ProgramFolder;
QString ResourceFolder;

void SetProgramFolder(const QString& folder) {
    ProgramFolder = folder.endsWith(QChar('/')) ? folder : folder + QChar('/');
    ResourceFolder = ProgramFolder + QStringLiteral("Resource/");
}

ProductInfo AppProductInfo{};
Settings* AppSettings = nullptr;
Project* AppProject = nullptr;
MediaInfo* AppProjectMedia = nullptr;

QString ProductString(ProductText which) {
    const WCHAR* text = AppProductInfo.m_Texts[which];
    return text ? QString::fromUtf16(text) : QString();
}

QString FieldText(const WCHAR* field, int capacity) {
    int n = 0;
    while (n < capacity && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

void SetFieldText(WCHAR* field, int capacity, const QString& text) {
    if (capacity <= 0) return;
    int n = qMin(int(text.size()), capacity - 1);
    // A surrogate pair is never split at the cut.
    if (n > 0 && n < text.size() && text.at(n - 1).isHighSurrogate()) --n;
    for (int i = 0; i < n; ++i)
        field[i] = char16_t(text.at(i).unicode());
    field[n] = 0;
}

QString SecondsToText(int seconds) {
    return QString::asprintf("%.2d:%.2d", seconds / 60, seconds % 60);
}

QString PositionToText(int position, int duration) {
    return SecondsToText(position) + QStringLiteral(" / ") + SecondsToText(duration);
}

int Gcd(int a, int b) {
    while (b != 0) {
        int r = a % b;
        a = b;
        b = r;
    }
    return a;
}

void PrepareAspectItems(QAction* item4x3, QAction* item16x9, int64_t width, int64_t height) {
    item4x3->setEnabled(width * 3 != height * 4);
    item4x3->setChecked(width * 3 == height * 4);
    item16x9->setEnabled(width * 9 != height * 16);
    item16x9->setChecked(width * 9 == height * 16);
}

QString AspectText(int width, int height, bool asLink) {
    if (width == 0 || height == 0) return QString();
    QString text;
    // 854 x 480 is sold as 16:9 although it reduces to 427:240.
    if (width == 854 && height == 480) {
        text = QStringLiteral("16:9");
    } else {
        int g = Gcd(width, height);
        text = QString::asprintf("%d:%d", width / g, height / g);
    }
    return asLink ? QStringLiteral("<a>") + text + QStringLiteral("</a>") : text;
}

int RoundUp16(int n) {
    return (n + 15) & ~15;
}

void FillResolutionList(QComboBox* list) {
    // Row i is size choice i.
    list->clear();
    for (int i = 0; i < reelpage::kSizeChoiceCount; ++i) {
        const reelpage::OutputFrameSize& size = ResolutionPresets[i];
        list->addItem(i == reelpage::kSizeOriginal ? QStringLiteral("Original")
                      : i == reelpage::kSizeCustom
                          ? QStringLiteral("Custom ...")
                          : QString::asprintf("%d x %d", size.width, size.height));
    }
}

QComboBox* NewWebmCodecList(QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QStringLiteral("cmbWebmCodec"));
    list->addItem(QStringLiteral("VP8"), int(reelpage::kWebmVp8));
    list->addItem(QStringLiteral("VP9"), int(reelpage::kWebmVp9));
    list->addItem(QStringLiteral("AV1"), int(reelpage::kWebmAv1));
    list->setToolTip(QStringLiteral("The WebM video's codec: VP9 and AV1 (with Opus sound) take "
                                    "far fewer bytes; browsers without them play the MP4"));
    return list;
}

QString WebmCodecHint(int codec) {
    switch (codec) {
    case reelpage::kWebmVp9:
        return QStringLiteral("VP9 with Opus:\nGoogle Chrome 29+\nFirefox 28+\nEdge 79+\n"
                              "Opera 16+\nSafari 15+");
    case reelpage::kWebmAv1:
        return QStringLiteral("AV1 with Opus:\nGoogle Chrome 70+\nFirefox 67+\nEdge 121+\n"
                              "Opera 57+\nSafari 17+ where the device decodes AV1");
    default:
        return QStringLiteral("Firefox 4+\nGoogle Chrome 6+\nOpera 10.6+");
    }
}

void ChainTabOrder(const std::vector<QWidget*>& widgets) {
    // Qt leaves the order alone when either widget takes no focus.
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (w->focusPolicy() == Qt::NoFocus) continue;
        if (previous) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void ShowWebmCodecHint(const QComboBox* list, QWidget* webmBox, QWidget* picture) {
    const QString hint = WebmCodecHint(list->currentData().toInt());
    webmBox->setToolTip(hint);
    picture->setToolTip(hint);
}

void SelectWebmCodec(QComboBox* list, int codec) {
    const int row = list->findData(codec);
    list->setCurrentIndex(row >= 0 ? row : list->findData(int(reelpage::kWebmVp8)));
}

QImage LoadCheckedPicture(const QString& path) {
    // Decoding proves the file is a picture, not just a plausible header.
    picture::Bitmap bitmap;
    if (path.isEmpty() ||
        picture::LoadPicture(path.toStdString(), bitmap) != picture::Error::None || bitmap.Empty())
        return QImage();
    // B, G, R, A bytes with straight alpha are Qt's ARGB32 on this byte order.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_ARGB32);
    if (image.isNull()) return QImage();
    for (int y = 0; y < bitmap.Height(); ++y)
        std::memcpy(image.scanLine(y), bitmap.View().Row(y), size_t(bitmap.Width()) * 4);
    return image;
}

bool GetImageSize(const QString& path, int* width, int* height) {
    picture::Bitmap bitmap;
    if (path.isEmpty() || picture::LoadPicture(path.toStdString(), bitmap) != picture::Error::None)
        return false;
    *width = bitmap.Width();
    *height = bitmap.Height();
    return *width != 0 && *height != 0;
}

QString UrlEscape(const QString& text) {
    static const char kHex[] = "0123456789abcdef";
    QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (char c : utf8) {
        unsigned char b = static_cast<unsigned char>(c);
        if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
            out += QChar(b);
        } else {
            out += QChar('%');
            out += QChar(kHex[b >> 4]);
            out += QChar(kHex[b & 15]);
        }
    }
    return out;
}

uint64_t GetProgramVersion() {
    return (uint64_t(REELPAGE_VERSION_MAJOR) << 48) | (uint64_t(REELPAGE_VERSION_MINOR) << 32) |
           (uint64_t(REELPAGE_VERSION_PATCH) << 16) | uint64_t(REELPAGE_VERSION_TWEAK);
}

QString VersionToText(uint64_t version) {
    return QString::asprintf("%d.%d.%d.%d", int((version >> 48) & 0xFFFF),
                             int((version >> 32) & 0xFFFF), int((version >> 16) & 0xFFFF),
                             int(version & 0xFFFF));
}

namespace {
MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}
} // namespace

void SetMessageHandler(MessageHandler handler) {
    Handler() = std::move(handler);
}

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        const QString& caption, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    // What the user was told of a failure is part of the run's record.
    if (icon == QMessageBox::Critical && Low.WriteLog.Bound())
        Low.WriteLog(QStringLiteral("Error shown: %1\n").arg(text).toUtf8().constData());
    if (Handler()) return Handler()({parent, text, caption, icon, buttons, defaultButton});
    QMessageBox box(icon, caption, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

bool ShellOpen(const QString& target) {
    if (target.isEmpty()) return false;
    QUrl url(target);
    // Plain paths (no scheme, or what only looks like one) are local files.
    if (url.scheme().size() < 2) url = QUrl::fromLocalFile(target);
    return QDesktopServices::openUrl(url);
}

QString DialogFilter(const QString& classicFilter) {
    const QStringList parts = classicFilter.split(QChar('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QChar(';'), QChar(' '));
        // "*.*" means every file here, including those without a dot.
        if (patterns == QStringLiteral("*.*")) patterns = QStringLiteral("*");
        entries << parts[i] + QStringLiteral(" (") + patterns + QChar(')');
    }
    return entries.join(QStringLiteral(";;"));
}

namespace {
OpenFileHandler& FileHandler() {
    static OpenFileHandler handler;
    return handler;
}
} // namespace

void SetOpenFileHandler(OpenFileHandler handler) {
    FileHandler() = std::move(handler);
}

QString ChooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                       const QString& folder) {
    if (FileHandler()) return FileHandler()({parent, title, filter, folder});
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Some entries list dozens of patterns; their names say enough.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

QString DialogFolder(const QString& lastFile, QStandardPaths::StandardLocation kind) {
    if (!lastFile.isEmpty()) {
        const QString folder = QFileInfo(lastFile).absolutePath();
        if (QDir(folder).exists()) return folder;
    }
    const QString folder = QStandardPaths::writableLocation(kind);
    return QDir(folder).exists() ? folder : QDir::homePath();
}

namespace {
const char kPictureFilter[] =
    "All|*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.ico;*.emf;*.wmf|"
    "JPEG Image File|*.jpg;*.jpeg|Bitmaps|*.bmp|Portable Network Graphics|*.png|"
    "GIF Image|*.gif|TIFF Images|*.tif;*.tiff|Icons|*.ico|Enhanced Metafiles|*.emf|"
    "Metafiles|*.wmf|All Files|*.*";
} // namespace

void ShowPictureRefused(QWidget* parent) {
    ShowMessage(parent,
                QStringLiteral("Does not support the file or the file is not a valid image file."),
                ApplicationTitle, QMessageBox::Critical);
}

bool ChoosePicture(QWidget* parent, const QString& title, int capacity, QString* path, int* width,
                   int* height) {
    static QString lastFile;
    const QString chosen =
        ChooseOpenFile(parent, title, DialogFilter(QString::fromLatin1(kPictureFilter)),
                       DialogFolder(lastFile, QStandardPaths::PicturesLocation));
    if (chosen.isEmpty()) return false;
    lastFile = chosen;
    if (!CheckPicture(parent, chosen, capacity, width, height)) return false;
    *path = chosen;
    return true;
}

bool CheckPicture(QWidget* parent, const QString& path, int capacity, int* width, int* height) {
    int w = 0, h = 0;
    // A path the field cannot hold whole would name another file: refused
    // like a picture that cannot be read.
    if (path.size() >= capacity || !GetImageSize(path, &w, &h)) {
        ShowPictureRefused(parent);
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

void SetDesignedSize(QWidget* window, int width, int height) {
    window->setFixedSize(QSize(width, height).expandedTo(window->sizeHint()));
}

void SetColumnWidth(QWidget* column, int designed, int needed) {
    const int width = qMax(designed, needed);
    // Setting the same width again would ask for yet another layout round.
    if (column->minimumWidth() != width || column->maximumWidth() != width)
        column->setFixedWidth(width);
}

QFont DesignedFont(QFont font, int designedPixels) {
    // Designed pixels are at 96 dots an inch, where 9 points are 12 pixels.
    constexpr double kDesignedPoints = 9.0;
    const double points = QApplication::font().pointSizeF();
    font.setPointSizeF(designedPixels * 0.75 * (points > 0 ? points / kDesignedPoints : 1.0));
    return font;
}

QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return QString();
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls[0].isLocalFile()) return QString();
    const QString file = urls[0].toLocalFile();
    return QFileInfo(file).isFile() ? file : QString();
}

} // namespace reelpage::app
