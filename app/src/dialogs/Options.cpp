#include "dialogs/Options.h"

#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "ImageResource.h"
#include "controls/LinkLabel.h"
#include "controls/ListViewEx.h"
#include "LowInterface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QTabBar>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace reelpage::app {

namespace {

constexpr int kPreviewWidth = 448;
constexpr int kPreviewHeight = 252;
constexpr int kMinWidth = 160, kMaxWidth = 1920;
constexpr int kMinHeight = 80, kMaxHeight = 1088;

// List row 0, 1, 2 and the position codes the records keep.
constexpr int kPositionCodes[3] = {kAlignStart, kAlignCenter, kAlignEnd};

int PositionRow(int code) {
    const auto* at = std::find(std::begin(kPositionCodes), std::end(kPositionCodes), code);
    return at == std::end(kPositionCodes) ? -1 : int(at - std::begin(kPositionCodes));
}

// Tips show one browser per line; "\r\n" would show a stray mark.
QString Hint(const char* text) {
    return QString::fromLatin1(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Fitted into the picture control and centred, never enlarged.
QPixmap FittedPreview(const QImage& image) {
    QPixmap canvas(kPreviewWidth, kPreviewHeight);
    canvas.fill(Qt::transparent);
    if (image.isNull()) return canvas;
    const QImage shown = image.width() > kPreviewWidth || image.height() > kPreviewHeight
                             ? image.scaled(kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio,
                                            Qt::SmoothTransformation)
                             : image;
    QPainter painter(&canvas);
    painter.drawImage((kPreviewWidth - shown.width()) / 2, (kPreviewHeight - shown.height()) / 2,
                      shown);
    return canvas;
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options ..."));
    auto* layout = new QVBoxLayout(this);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addTab(CreateGeneralPage(), QStringLiteral("General"));
    PageControl1->addTab(CreateSizePage(), QStringLiteral("Output Video Sizie"));
    PageControl1->addTab(CreateBusinessPage(), QStringLiteral("Business"));
    PageControl1->addTab(CreateTemplatesPage(), QStringLiteral("Templates"));
    PageControl1->addTab(CreatePerformancePage(), QStringLiteral("Performance"));
    // Every tab in sight: the dialog widens for a larger font rather than
    // scroll its tabs.
    PageControl1->tabBar()->setUsesScrollButtons(false);
    layout->addWidget(PageControl1, 1);

    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(btnClose);
    layout->addLayout(bottom);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    LoadSettings();
    // The stored template's picture.
    cmbTemplatesChange();
    resize(540, 440);
}

QWidget* TfrmOptions::CreateGeneralPage() {
    auto* page = new QWidget(PageControl1);
    auto* box = new QVBoxLayout(page);
    auto* folderLabel = new QLabel(QStringLiteral("Publish to Folder:"), page);
    box->addWidget(folderLabel);
    auto* row = new QHBoxLayout;
    edFolder = new QLineEdit(page);
    folderLabel->setBuddy(edFolder);
    edFolder->setObjectName(QStringLiteral("edFolder"));
    edFolder->setReadOnly(true);
    btnBrowse = new QPushButton(QStringLiteral("..."), page);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse->setFixedWidth(32);
    row->addWidget(edFolder, 1);
    row->addWidget(btnBrowse);
    box->addLayout(row);
    connect(btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });

    auto* formats = new QGroupBox(QStringLiteral("Default Output Formats"), page);
    auto* formatBox = new QVBoxLayout(formats);
    auto* formatRow = new QHBoxLayout;
    struct Format {
        QCheckBox** check;
        QLabel** image;
        const char* name;
        const char* text;
        const char* hint;
    };
    const Format all[] = {
        {&cbxWebm, &Image1, "cbxWebm", "Webm", "Firefox 4+\r\nGoogle Chrome 6+\r\nOpera 10.6+"},
        {&cbxMp4, &Image2, "cbxMp4", "MP4", "Internet Explorer 9+\r\nSafari 3.1+"},
        {&cbxOgg, &Image3, "cbxOgg", "OGG", "Firefox 3.5+\r\nGoogle Chrome 3+\r\nOpera 10.5+"},
    };
    for (int i = 0; i < 3; ++i) {
        const Format& f = all[i];
        *f.check = new QCheckBox(QString::fromLatin1(f.text), formats);
        (*f.check)->setObjectName(QString::fromLatin1(f.name));
        (*f.check)->setToolTip(Hint(f.hint));
        connect(*f.check, &QCheckBox::clicked, this, [this, i] { cbxFormatClick(i); });
        *f.image = new QLabel(formats);
        (*f.image)->setObjectName(QStringLiteral("Image%1").arg(i + 1));
        (*f.image)->setPixmap(QPixmap::fromImage(Images.Info));
        (*f.image)->setToolTip(Hint(f.hint));
        formatRow->addWidget(*f.check);
        formatRow->addWidget(*f.image);
        if (i == 0) {
            cmbWebmCodec = NewWebmCodecList(formats);
            connect(cmbWebmCodec, &QComboBox::currentIndexChanged, this,
                    [this] { cmbWebmCodecChange(); });
            formatRow->addWidget(cmbWebmCodec);
        }
        formatRow->addStretch(1);
    }
    // The WebM picture shows its hint at once when clicked.
    Image1->installEventFilter(this);
    formatBox->addLayout(formatRow);
    formatBox->addWidget(new QLabel(QStringLiteral("Browsers support:"), formats));
    lvSupport = new TListViewEx(formats);
    lvSupport->setObjectName(QStringLiteral("lvSupport"));
    lvSupport->SetIconSize(QSize(30, 30));
    lvSupport->AddBrowserIcons();
    lvSupport->setFixedHeight(60);
    lvSupport->SetNoScroll(true);
    formatBox->addWidget(lvSupport);
    box->addWidget(formats);

    auto* player = new QGroupBox(QStringLiteral("Default web player"), page);
    auto* playerRow = new QHBoxLayout(player);
    cbxAutoplay = new QCheckBox(QStringLiteral("Autoplay"), player);
    cbxAutoplay->setObjectName(QStringLiteral("cbxAutoplay"));
    cbxControls = new QCheckBox(QStringLiteral("Controls"), player);
    cbxControls->setObjectName(QStringLiteral("cbxControls"));
    cbxLoop = new QCheckBox(QStringLiteral("Loop"), player);
    cbxLoop->setObjectName(QStringLiteral("cbxLoop"));
    for (QCheckBox* c : {cbxAutoplay, cbxControls, cbxLoop}) {
        playerRow->addWidget(c);
        connect(c, &QCheckBox::clicked, this, [this] { cbxPlayerClick(); });
    }
    playerRow->addStretch(1);
    box->addWidget(player);
    box->addStretch(1);
    return page;
}

QWidget* TfrmOptions::CreateSizePage() {
    auto* page = new QWidget(PageControl1);
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel(QStringLiteral("Default video resolution:"), page), 0, 0);
    cmbResolution = new QComboBox(page);
    cmbResolution->setObjectName(QStringLiteral("cmbResolution"));
    cmbResolution->setMaxVisibleItems(20);
    grid->addWidget(cmbResolution, 0, 1, 1, 3);

    auto makeSpin = [page](const char* name, int min, int max) {
        auto* spin = new QSpinBox(page);
        spin->setObjectName(QString::fromLatin1(name));
        spin->setRange(min, max);
        spin->setSingleStep(16);
        // A size is taken when typing ends, not at every digit.
        spin->setKeyboardTracking(false);
        return spin;
    };
    spWidth = makeSpin("spWidth", kMinWidth, kMaxWidth);
    spHeight = makeSpin("spHeight", kMinHeight, kMaxHeight);
    auto* widthLabel = new QLabel(QStringLiteral("Width:"), page);
    widthLabel->setBuddy(spWidth);
    grid->addWidget(widthLabel, 1, 0);
    grid->addWidget(spWidth, 1, 1);
    auto* heightLabel = new QLabel(QStringLiteral("Height:"), page);
    heightLabel->setBuddy(spHeight);
    grid->addWidget(heightLabel, 1, 2);
    grid->addWidget(spHeight, 1, 3);
    lblAspect = new TLinkLabel(page);
    lblAspect->setObjectName(QStringLiteral("lblAspect"));
    connect(lblAspect, &TLinkLabel::OnLinkClick, this, &TfrmOptions::lblAspectLinkClick);
    grid->addWidget(lblAspect, 2, 1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Aspect4x3 = PopupMenu1->addAction(QStringLiteral("4:3"));
    Aspect4x3->setObjectName(QStringLiteral("Aspect4x3"));
    Aspect4x3->setCheckable(true);
    Aspect16x9 = PopupMenu1->addAction(QStringLiteral("16:9"));
    Aspect16x9->setObjectName(QStringLiteral("Aspect16x9"));
    Aspect16x9->setCheckable(true);

    grid->addWidget(new QLabel(QStringLiteral("Default resize method:"), page), 3, 0);
    cmbResize = new QComboBox(page);
    cmbResize->setObjectName(QStringLiteral("cmbResize"));
    cmbResize->addItems(
        {QStringLiteral("Center"), QStringLiteral("Letterbox"), QStringLiteral("Crop")});
    grid->addWidget(cmbResize, 3, 1, 1, 3);
    grid->setRowStretch(4, 1);
    return page;
}

QWidget* TfrmOptions::CreateBusinessPage() {
    auto* page = new QWidget(PageControl1);
    auto* box = new QVBoxLayout(page);
    auto pictureRow = [](QWidget* parent, QLineEdit** edit, const char* editName,
                         TGraphicsButton** add, const char* addName, TGraphicsButton** remove,
                         const char* removeName) {
        auto* row = new QHBoxLayout;
        *edit = new QLineEdit(parent);
        (*edit)->setObjectName(QString::fromLatin1(editName));
        (*edit)->setReadOnly(true);
        *add = new TGraphicsButton(parent);
        (*add)->setObjectName(QString::fromLatin1(addName));
        (*add)->SetImage(&Images.AddFile);
        (*add)->setFixedSize(26, 24);
        *remove = new TGraphicsButton(parent);
        (*remove)->setObjectName(QString::fromLatin1(removeName));
        (*remove)->SetImage(&Images.Delete);
        (*remove)->setFixedSize(26, 24);
        row->addWidget(*edit, 1);
        row->addWidget(*add);
        row->addWidget(*remove);
        return row;
    };

    auto* watermark = new QGroupBox(QStringLiteral("Default watermark add to output video"), page);
    auto* wform = new QFormLayout(watermark);
    wform->addRow(QStringLiteral("Picture File:"),
                  pictureRow(watermark, &edWatermark, "edWatermark", &btnImage, "btnImage",
                             &btnDelete, "btnDelete"));
    const QStringList horizontal = {QStringLiteral("Left"), QStringLiteral("Center"),
                                    QStringLiteral("Right")};
    const QStringList vertical = {QStringLiteral("Top"), QStringLiteral("Center"),
                                  QStringLiteral("Bottom")};
    auto* positions = new QHBoxLayout;
    cmbHPosition = new QComboBox(watermark);
    cmbHPosition->setObjectName(QStringLiteral("cmbHPosition"));
    cmbHPosition->addItems(horizontal);
    cmbVPosition = new QComboBox(watermark);
    cmbVPosition->setObjectName(QStringLiteral("cmbVPosition"));
    cmbVPosition->addItems(vertical);
    positions->addWidget(cmbHPosition);
    positions->addWidget(new QLabel(QStringLiteral("Vertical Position:"), watermark));
    positions->addWidget(cmbVPosition);
    wform->addRow(QStringLiteral("Horizontal Position:"), positions);
    tbTransparency = new QSlider(Qt::Horizontal, watermark);
    tbTransparency->setObjectName(QStringLiteral("tbTransparency"));
    tbTransparency->setRange(0, 200);
    tbTransparency->setTickPosition(QSlider::NoTicks);
    wform->addRow(QStringLiteral("Transparency:"), tbTransparency);
    box->addWidget(watermark);

    auto* ad = new QGroupBox(QStringLiteral("Default Advertisement add to output video"), page);
    auto* aform = new QFormLayout(ad);
    aform->addRow(
        QStringLiteral("Picture File:"),
        pictureRow(ad, &edAd, "edAd", &btnImageAd, "btnImageAd", &btnDeleteAd, "btnDeleteAd"));
    edAdLink = new QLineEdit(ad);
    edAdLink->setObjectName(QStringLiteral("edAdLink"));
    // The field keeps 1024 characters with its terminating zero.
    edAdLink->setMaxLength(1023);
    aform->addRow(QStringLiteral("Link:"), edAdLink);
    box->addWidget(ad);
    box->addStretch(1);

    connect(btnImage, &QPushButton::clicked, this, [this] { btnImageClick(); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
    connect(btnImageAd, &QPushButton::clicked, this, [this] { btnImageAdClick(); });
    connect(btnDeleteAd, &QPushButton::clicked, this, [this] { btnDeleteAdClick(); });
    return page;
}

QWidget* TfrmOptions::CreateTemplatesPage() {
    auto* page = new QWidget(PageControl1);
    auto* box = new QVBoxLayout(page);
    auto* templateLabel = new QLabel(QStringLiteral("Default templete:"), page);
    box->addWidget(templateLabel);
    cmbTemplates = new QComboBox(page);
    templateLabel->setBuddy(cmbTemplates);
    cmbTemplates->setObjectName(QStringLiteral("cmbTemplates"));
    box->addWidget(cmbTemplates);
    imgTemplates = new QLabel(page);
    imgTemplates->setObjectName(QStringLiteral("imgTemplates"));
    imgTemplates->setFixedSize(kPreviewWidth, kPreviewHeight);
    box->addWidget(imgTemplates, 0, Qt::AlignHCenter);
    box->addStretch(1);
    return page;
}

QWidget* TfrmOptions::CreatePerformancePage() {
    auto* page = new QWidget(PageControl1);
    auto* box = new QVBoxLayout(page);
    cbxUpdate = new QCheckBox(QStringLiteral("Check for software updates automatically"), page);
    cbxUpdate->setObjectName(QStringLiteral("cbxUpdate"));
    connect(cbxUpdate, &QCheckBox::clicked, this, [this] { cbxUpdateClick(); });
    box->addWidget(cbxUpdate);
    box->addStretch(1);
    return page;
}

void TfrmOptions::LoadSettings() {
    ChangingGuard guard(FChanging);
    const Settings* s = AppSettings;
    FillResolutionList(cmbResolution);
    const int templates = Low.GetTemplateCount();
    for (int i = 0; i < templates; ++i) {
        const TemplateEntry* entry = Low.GetTemplate(i);
        // An entry the engine cannot give keeps its place, so that list
        // positions stay catalogue indices.
        cmbTemplates->addItem(entry ? FieldText(entry->szName) : QString());
    }
    cbxUpdate->setVisible(!ProductString(kProductUpdatePage).isEmpty());
    if (s) {
        edFolder->setText(FieldText(s->m_szFolder));
        cbxWebm->setChecked(s->m_DefaultFormats[0] != 0);
        cbxMp4->setChecked(s->m_DefaultFormats[1] != 0);
        cbxOgg->setChecked(s->m_DefaultFormats[2] != 0);
        const MoreSettings* more = Low.GetMoreSettings();
        SelectWebmCodec(cmbWebmCodec, more ? more->m_DefaultWebmCodec : int(reelpage::kWebmVp8));
        ShowWebmCodecHint(cmbWebmCodec, cbxWebm, Image1);
        lvSupport->ShowBrowserSupport(cbxWebm->isChecked(), cbxMp4->isChecked(),
                                      cbxOgg->isChecked());
        cmbResolution->setCurrentIndex(
            s->m_SizeIndex >= 0 && s->m_SizeIndex < reelpage::kSizeChoiceCount ? s->m_SizeIndex
                                                                               : -1);
        ShowSize();
        cmbResize->setCurrentIndex(
            s->m_ResizeMethod >= 0 && s->m_ResizeMethod < 3 ? s->m_ResizeMethod : -1);
        edWatermark->setText(FieldText(s->m_WatermarkFile));
        cmbHPosition->setCurrentIndex(PositionRow(s->m_WatermarkHPosition));
        cmbVPosition->setCurrentIndex(PositionRow(s->m_WatermarkVPosition));
        tbTransparency->setValue(s->m_WatermarkTransparency);
        cbxAutoplay->setChecked(s->m_Autoplay != 0);
        cbxControls->setChecked(s->m_Controls != 0);
        cbxLoop->setChecked(s->m_Loop != 0);
        // A stored index outside the catalogue selects nothing rather than
        // some other template.
        cmbTemplates->setCurrentIndex(
            s->m_Templete >= 0 && s->m_Templete < cmbTemplates->count() ? s->m_Templete : -1);
        edAd->setText(FieldText(s->m_AdFile));
        edAdLink->setText(FieldText(s->m_AdLink));
        cbxUpdate->setChecked(s->m_DisableUpdate == 0);
    }
    // Connected after filling, so that showing the values stores nothing.
    connect(cmbResolution, &QComboBox::currentIndexChanged, this,
            [this] { cmbResolutionChange(); });
    connect(spWidth, &QSpinBox::valueChanged, this, [this] { spWidthChange(); });
    connect(spHeight, &QSpinBox::valueChanged, this, [this] { spHeightChange(); });
    connect(Aspect4x3, &QAction::triggered, this, [this] { Aspect4x3Click(); });
    connect(Aspect16x9, &QAction::triggered, this, [this] { Aspect16x9Click(); });
    connect(cmbResize, &QComboBox::currentIndexChanged, this, [this] { cmbResizeChange(); });
    connect(cmbHPosition, &QComboBox::currentIndexChanged, this, [this] { cmbHPositionChange(); });
    connect(cmbVPosition, &QComboBox::currentIndexChanged, this, [this] { cmbVPositionChange(); });
    connect(tbTransparency, &QSlider::valueChanged, this, [this] { tbTransparencyChange(); });
    connect(edAdLink, &QLineEdit::textChanged, this, [this] { edAdLinkChange(); });
    connect(cmbTemplates, &QComboBox::currentIndexChanged, this, [this] { cmbTemplatesChange(); });
}

// The spins and the ratio text for the stored size; the spins clamp what
// they show to their range, the settings keep the size itself.
void TfrmOptions::ShowSize() {
    const Settings* s = AppSettings;
    if (!s) return;
    const bool custom = s->m_SizeIndex == reelpage::kSizeCustom;
    spWidth->setValue(s->m_OutputWidth);
    spHeight->setValue(s->m_OutputHeight);
    spWidth->setEnabled(custom);
    spHeight->setEnabled(custom);
    lblAspect->SetCaption(s->m_SizeIndex == reelpage::kSizeOriginal
                              ? QString()
                              : AspectText(s->m_OutputWidth, s->m_OutputHeight, custom));
}

void TfrmOptions::btnBrowseClick() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select Export Folder:"), edFolder->text(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    SetFolder(folder);
}

bool TfrmOptions::SetFolder(const QString& folder) {
    if (FChanging || !AppSettings || folder.isEmpty()) return false;
    // A cut path would name another folder, and the packages would go there.
    if (folder.size() >= int(std::size(AppSettings->m_szFolder))) {
        ShowMessage(this, QStringLiteral("The folder path is too long."), ApplicationTitle,
                    QMessageBox::Critical);
        return false;
    }
    edFolder->setText(folder);
    SetFieldText(AppSettings->m_szFolder, folder);
    return true;
}

void TfrmOptions::cbxFormatClick(int index) {
    Settings* s = AppSettings;
    if (FChanging || !s) return;
    QCheckBox* boxes[] = {cbxWebm, cbxMp4, cbxOgg};
    s->m_DefaultFormats[index] = boxes[index]->isChecked() ? -1 : 0;
    // At least one format is always chosen: the other two come back on.
    if (!s->m_DefaultFormats[0] && !s->m_DefaultFormats[1] && !s->m_DefaultFormats[2]) {
        ChangingGuard guard(FChanging);
        for (int i = 0; i < 3; ++i) {
            if (i == index) continue;
            s->m_DefaultFormats[i] = -1;
            boxes[i]->setChecked(true);
        }
    }
    lvSupport->ShowBrowserSupport(s->m_DefaultFormats[0] != 0, s->m_DefaultFormats[1] != 0,
                                  s->m_DefaultFormats[2] != 0);
}

void TfrmOptions::cmbWebmCodecChange() {
    MoreSettings* more = Low.GetMoreSettings();
    if (FChanging || !more) return;
    more->m_DefaultWebmCodec = cmbWebmCodec->currentData().toInt();
    ShowWebmCodecHint(cmbWebmCodec, cbxWebm, Image1);
}

void TfrmOptions::cbxPlayerClick() {
    Settings* s = AppSettings;
    if (FChanging || !s) return;
    s->m_Autoplay = cbxAutoplay->isChecked() ? -1 : 0;
    s->m_Controls = cbxControls->isChecked() ? -1 : 0;
    s->m_Loop = cbxLoop->isChecked() ? -1 : 0;
}

void TfrmOptions::cmbResolutionChange() {
    Settings* s = AppSettings;
    const int index = cmbResolution->currentIndex();
    if (FChanging || !s || index < 0) return;
    ChangingGuard guard(FChanging);
    reelpage::ChooseDefaultSize(*s, index);
    ShowSize();
}

void TfrmOptions::spWidthChange() {
    Settings* s = AppSettings;
    if (FChanging || !s) return;
    ChangingGuard guard(FChanging);
    s->m_OutputWidth = spWidth->value();
    lblAspect->SetCaption(AspectText(s->m_OutputWidth, s->m_OutputHeight, true));
}

void TfrmOptions::spHeightChange() {
    Settings* s = AppSettings;
    if (FChanging || !s) return;
    ChangingGuard guard(FChanging);
    s->m_OutputHeight = spHeight->value();
    lblAspect->SetCaption(AspectText(s->m_OutputWidth, s->m_OutputHeight, true));
}

void TfrmOptions::PrepareAspectMenu() {
    const Settings* s = AppSettings;
    if (!s) return;
    PrepareAspectItems(Aspect4x3, Aspect16x9, s->m_OutputWidth, s->m_OutputHeight);
}

void TfrmOptions::lblAspectLinkClick() {
    PrepareAspectMenu();
    PopupMenu1->popup(lblAspect->mapToGlobal(QPoint(0, lblAspect->height())));
}

void TfrmOptions::SetAspectSize(int width, int height) {
    Settings* s = AppSettings;
    if (!s) return;
    ChangingGuard guard(FChanging);
    s->m_OutputWidth = width;
    s->m_OutputHeight = height;
    ShowSize();
}

void TfrmOptions::Aspect4x3Click() {
    if (FChanging || !AppSettings) return;
    const reelpage::OutputFrameSize size =
        reelpage::RatioOutputSize(AppSettings->m_OutputWidth, 4, 3);
    SetAspectSize(size.width, size.height);
}

void TfrmOptions::Aspect16x9Click() {
    if (FChanging || !AppSettings) return;
    const reelpage::OutputFrameSize size =
        reelpage::RatioOutputSize(AppSettings->m_OutputWidth, 16, 9);
    SetAspectSize(size.width, size.height);
}

void TfrmOptions::cmbResizeChange() {
    if (FChanging || !AppSettings || cmbResize->currentIndex() < 0) return;
    AppSettings->m_ResizeMethod = cmbResize->currentIndex();
}

void TfrmOptions::btnImageClick() {
    Settings* s = AppSettings;
    if (FChanging || !s) return;
    QString path;
    int w = 0, h = 0;
    if (!ChoosePicture(this, QStringLiteral("Select Watermark Picture"),
                       int(std::size(s->m_WatermarkFile)), &path, &w, &h))
        return;
    edWatermark->setText(path);
    SetFieldText(s->m_WatermarkFile, path);
    s->m_WatermarkImageWidth = w;
    s->m_WatermarkImageHeight = h;
}

void TfrmOptions::btnDeleteClick() {
    if (FChanging || !AppSettings) return;
    edWatermark->clear();
    AppSettings->m_WatermarkFile[0] = 0;
}

void TfrmOptions::cmbHPositionChange() {
    const int row = cmbHPosition->currentIndex();
    if (FChanging || !AppSettings || row < 0) return;
    AppSettings->m_WatermarkHPosition = kPositionCodes[row];
}

void TfrmOptions::cmbVPositionChange() {
    const int row = cmbVPosition->currentIndex();
    if (FChanging || !AppSettings || row < 0) return;
    AppSettings->m_WatermarkVPosition = kPositionCodes[row];
}

void TfrmOptions::tbTransparencyChange() {
    if (FChanging || !AppSettings) return;
    AppSettings->m_WatermarkTransparency = tbTransparency->value();
}

void TfrmOptions::btnImageAdClick() {
    Settings* s = AppSettings;
    if (FChanging || !s) return;
    QString path;
    int w = 0, h = 0;
    if (!ChoosePicture(this, QStringLiteral("Select Advertisement Picture"),
                       int(std::size(s->m_AdFile)), &path, &w, &h))
        return;
    edAd->setText(path);
    SetFieldText(s->m_AdFile, path);
    s->m_AdImageWidth = w;
    s->m_AdImageHeight = h;
}

void TfrmOptions::btnDeleteAdClick() {
    if (FChanging || !AppSettings) return;
    edAd->clear();
    AppSettings->m_AdFile[0] = 0;
}

void TfrmOptions::edAdLinkChange() {
    if (FChanging || !AppSettings) return;
    SetFieldText(AppSettings->m_AdLink, edAdLink->text());
}

void TfrmOptions::cmbTemplatesChange() {
    Settings* s = AppSettings;
    const int index = cmbTemplates->currentIndex();
    if (FChanging || !s) return;
    ChangingGuard guard(FChanging);
    if (index >= 0) s->m_Templete = index;
    const TemplateEntry* entry = index >= 0 ? Low.GetTemplate(index) : nullptr;
    FImageTemplete = entry ? LoadCheckedPicture(FieldText(entry->szPreview)) : QImage();
    imgTemplates->setPixmap(FittedPreview(FImageTemplete));
}

void TfrmOptions::cbxUpdateClick() {
    if (FChanging || !AppSettings) return;
    AppSettings->m_DisableUpdate = cbxUpdate->isChecked() ? 0 : -1;
}

bool TfrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1 && event->type() == QEvent::MouseButtonPress)
        QToolTip::showText(QCursor::pos(), Image1->toolTip(), Image1);
    return QDialog::eventFilter(watched, event);
}

} // namespace reelpage::app
