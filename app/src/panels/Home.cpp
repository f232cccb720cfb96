#include "panels/Home.h"

#include "controls/CommandLinkButton.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "ImageResource.h"
#include "dialogs/Loading.h"
#include "LowInterface.h"
#include "controls/LinkLabel.h"
#include "controls/ListViewEx.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <initializer_list>
#include <iterator>

namespace reelpage::app {

namespace {

// The patterns as the import has always offered them: "name|patterns|...",
// patterns separated by ';'.
const char kFilter[] =
    "Video Files|*.3g2;*.3gp;*.3gp2;*.3gpp;*.amv;*.asf;*.asx;*.avi;*.bin;*.dat;*.divx;*.drc;"
    "*.dv;*.dvr-ms;*.f4v;*.f4v;*.flv;*.flv;*.gxf;*.h264;*.hdmov;*.iso;*.ivf;*.m1v;*.m2t;*.m2ts;"
    "*.m2v;*.m4v;*.mjp;*.mjpg;*.mkv;*.mod;*.mov;*.movie;*.mp2;*.mp2v;*.mp4;*.mp4v;*.mpa;*.mpe;"
    "*.mpeg;*.mpeg1;*.mpeg2;*.mpeg4;*.mpg;*.mpv2;*.mpv4;*.mts;*.mtv;*.mxf;*.mxg;*.nsv;*.nuv;"
    "*.ogg;*.ogm;*.ogv;*.ogx;*.ps;*.ram;*.rec;*.rm;*.rmm;*.rmvb;*.rpm;*.swf;*.tod;*.ts;*.tts;"
    "*.vob;*.vro;*.webm;*.wm;*.wmd;*.wmp;*.wmv;*.wmv;*.wmx;*.wmz;*.wpl;*.wv;*.yuv|"
    "AVI Video|*.avi|DVD file|*.vob|Flash Video File|*.flv;*.f4v|"
    "MPEG Video|*.mpg;*.mpe;*.mpeg;*.m1v;*.m2v;*.dat;*.vob;*.mod;*.h264|"
    "MPEG-4 Video|*.mp4;*.m4v|MPEG-TS Files|*.m2ts;*.m2t;*.mts;*.ts;*.tod|"
    "Windows Media Video|*.wmv;*.asf|Real Media Files|*.rm;*.rmvb|"
    "QuickTime Movie|*.mov;*.qt;*.mp4;*.m4v;*.dv;*.3gp;*.3g2|"
    "3GP Video|*.3gp;*.3g2;*.3gpp;*.3gp2|Digital Video|*.dv|All Files|*.*";

} // namespace

QString TfrmHome::OpenDialogFilter() {
    return DialogFilter(QString::fromLatin1(kFilter));
}

TfrmHome::TfrmHome(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmHome"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);

    btnAddFile = new TGraphicsButton(this);
    btnAddFile->setObjectName(QStringLiteral("btnAddFile"));
    btnAddFile->setText(QStringLiteral("Import"));
    btnAddFile->setToolTip(QStringLiteral("Add Video Files"));
    btnAddFile->SetImage(&Images.AddVideo);
    QFont bold = DesignedFont(btnAddFile->font(), 12);
    bold.setBold(true);
    btnAddFile->setFont(bold);
    btnAddFile->setMinimumHeight(44);
    connect(btnAddFile, &QPushButton::clicked, this, [this] { btnAddFileClick(); });
    layout->addWidget(btnAddFile);

    auto* form = new QFormLayout;
    edTitle = new QLineEdit(this);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    // The record keeps 62 characters for the page's title; more could be
    // typed but would be cut from the page without a word.
    edTitle->setMaxLength(62);
    connect(edTitle, &QLineEdit::textChanged, this,
            [this](const QString& text) { edTitleChange(text); });
    // Saving the record syncs it to disk: done once typing pauses or the
    // box is left, never per keystroke.
    FTitleTimer = new QTimer(this);
    FTitleTimer->setSingleShot(true);
    FTitleTimer->setInterval(500);
    connect(FTitleTimer, &QTimer::timeout, this, [this] { SaveTitle(); });
    connect(edTitle, &QLineEdit::editingFinished, this, [this] { SaveTitle(); });
    form->addRow(QStringLiteral("Title:"), edTitle);
    // Captions found with the video are on unless unticked; more can be
    // added by hand.
    cbxCaptions = new QCheckBox(this);
    cbxCaptions->setObjectName(QStringLiteral("cbxCaptions"));
    // Its text lists the tracks, and is empty before a video is loaded.
    cbxCaptions->setAccessibleName(QStringLiteral("Captions"));
    cbxCaptions->setToolTip(
        QStringLiteral("Show the captions on the page and over the preview"));
    connect(cbxCaptions, &QCheckBox::toggled, this, [this](bool on) { cbxCaptionsClick(on); });
    btnCaptions = new QPushButton(QStringLiteral("Captions ..."), this);
    btnCaptions->setObjectName(QStringLiteral("btnCaptions"));
    btnCaptions->setToolTip(QStringLiteral("Add a caption file (.srt, .vtt, .ass)"));
    connect(btnCaptions, &QPushButton::clicked, this, [this] { btnCaptionsClick(); });
    auto* captions = new QHBoxLayout;
    captions->addWidget(cbxCaptions, 1);
    captions->addWidget(btnCaptions);
    form->addRow(QStringLiteral("Captions:"), captions);
    layout->addLayout(form);

    CreateFormatBox(this);
    layout->addWidget(gbFormat);
    CreateResolutionBox(this);
    layout->addWidget(gbResolution);

    btnEdit = new TCommandLinkButton(this);
    btnEdit->setObjectName(QStringLiteral("btnEdit"));
    btnEdit->SetCaption(QStringLiteral("Edit Video"));
    btnEdit->SetCommandLinkHint(
        QStringLiteral("Trim, Brightness,Contrast,Hue,Saturation,Rotate,Flip."));
    connect(btnEdit, &QPushButton::clicked, this, [this] { emit SwitchPanel(1); });
    layout->addWidget(btnEdit);

    btnWater = new TCommandLinkButton(this);
    btnWater->setObjectName(QStringLiteral("btnWater"));
    btnWater->SetCaption(QStringLiteral("Business"));
    btnWater->SetCommandLinkHint(QStringLiteral("Watermark & Advertisement"));
    connect(btnWater, &QPushButton::clicked, this, [this] { emit SwitchPanel(2); });
    layout->addWidget(btnWater);
    layout->addStretch(1);

    btnStart = new TGraphicsButton(this);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setText(QStringLiteral("Start"));
    btnStart->SetImage(&Images.Start);
    QFont large = DesignedFont(btnStart->font(), 15);
    large.setBold(true);
    btnStart->setFont(large);
    btnStart->setMinimumHeight(48);
    connect(btnStart, &QPushButton::clicked, this, &TfrmHome::StartRequested);
    layout->addWidget(btnStart);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Aspect4x3 = PopupMenu1->addAction(QStringLiteral("4:3"));
    Aspect4x3->setObjectName(QStringLiteral("Aspect4x3"));
    Aspect4x3->setCheckable(true);
    connect(Aspect4x3, &QAction::triggered, this, [this] { Aspect4x3Click(); });
    Aspect16x9 = PopupMenu1->addAction(QStringLiteral("16:9"));
    Aspect16x9->setObjectName(QStringLiteral("Aspect16x9"));
    Aspect16x9->setCheckable(true);
    connect(Aspect16x9, &QAction::triggered, this, [this] { Aspect16x9Click(); });

    // Nothing but the import makes sense before there is a project.
    for (QWidget* w : std::initializer_list<QWidget*>{edTitle, cbxCaptions, btnCaptions, cbxWebm,
                                                      cmbWebmCodec, cbxMp4, cbxOgg, lvSupport,
                                                      cmbResolution, spWidth, spHeight,
                                                      rgResizeMethod, btnEdit, btnWater, btnStart})
        w->setEnabled(false);
}

void TfrmHome::CreateFormatBox(QWidget* parent) {
    gbFormat = new QGroupBox(QStringLiteral("Output Formats"), parent);
    gbFormat->setObjectName(QStringLiteral("gbFormat"));
    auto* box = new QVBoxLayout(gbFormat);
    auto* formats = new QHBoxLayout;
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
        // Tips show one browser per line; "\r\n" would show a stray mark.
        const QString hint =
            QString::fromLatin1(f.hint).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        *f.check = new QCheckBox(QString::fromLatin1(f.text), gbFormat);
        (*f.check)->setObjectName(QString::fromLatin1(f.name));
        (*f.check)->setToolTip(hint);
        connect(*f.check, &QCheckBox::clicked, this, [this, i] { cbxFormatClick(i); });
        *f.image = new QLabel(gbFormat);
        (*f.image)->setObjectName(QStringLiteral("Image%1").arg(i + 1));
        (*f.image)->setPixmap(QPixmap::fromImage(Images.Info));
        (*f.image)->setToolTip(hint);
        formats->addWidget(*f.check);
        formats->addWidget(*f.image);
        if (i == 0) {
            cmbWebmCodec = NewWebmCodecList(gbFormat);
            connect(cmbWebmCodec, &QComboBox::currentIndexChanged, this,
                    [this] { cmbWebmCodecChange(); });
            formats->addWidget(cmbWebmCodec);
        }
        formats->addStretch(1);
    }
    box->addLayout(formats);
    box->addWidget(new QLabel(QStringLiteral("Browsers support:"), gbFormat));
    lvSupport = new TListViewEx(gbFormat);
    lvSupport->setObjectName(QStringLiteral("lvSupport"));
    lvSupport->SetIconSize(QSize(30, 30));
    lvSupport->AddBrowserIcons();
    // One row of icons with their captions; the panel has no room to spare.
    lvSupport->setFixedHeight(60);
    lvSupport->SetNoScroll(true);
    box->addWidget(lvSupport);
}

void TfrmHome::CreateResolutionBox(QWidget* parent) {
    gbResolution = new QGroupBox(QStringLiteral("Output Video Resolution"), parent);
    gbResolution->setObjectName(QStringLiteral("gbResolution"));
    auto* box = new QVBoxLayout(gbResolution);
    auto* grid = new QGridLayout;

    cmbResolution = new QComboBox(gbResolution);
    cmbResolution->setObjectName(QStringLiteral("cmbResolution"));
    cmbResolution->setMaxVisibleItems(20);
    FillResolutionList(cmbResolution);
    connect(cmbResolution, &QComboBox::currentIndexChanged, this,
            [this] { cmbResolutionChange(); });
    grid->addWidget(new QLabel(QStringLiteral("Resolution:"), gbResolution), 0, 0);
    grid->addWidget(cmbResolution, 0, 1, 1, 3);

    auto makeSpin = [this](const char* name) {
        auto* spin = new QSpinBox(gbResolution);
        spin->setObjectName(QString::fromLatin1(name));
        spin->setRange(reelpage::kCustomSideMin, reelpage::kCustomSideMax);
        spin->setSingleStep(reelpage::kCustomSideStep);
        // Each taken size re-lays out the preview and realigns the
        // watermark: taken when typing ends, not at every digit.
        spin->setKeyboardTracking(false);
        return spin;
    };
    spWidth = makeSpin("spWidth");
    spHeight = makeSpin("spHeight");
    connect(spWidth, &QSpinBox::valueChanged, this, [this] { spWidthChange(); });
    connect(spHeight, &QSpinBox::valueChanged, this, [this] { spHeightChange(); });
    grid->addWidget(new QLabel(QStringLiteral("Width:"), gbResolution), 1, 0);
    grid->addWidget(spWidth, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Height:"), gbResolution), 1, 2);
    grid->addWidget(spHeight, 1, 3);

    lblAspect = new TLinkLabel(gbResolution);
    lblAspect->setObjectName(QStringLiteral("lblAspect"));
    connect(lblAspect, &TLinkLabel::OnLinkClick, this, &TfrmHome::lblAspectLinkClick);
    grid->addWidget(lblAspect, 2, 1);
    box->addLayout(grid);

    rgResizeMethod = new QGroupBox(QStringLiteral("Resize method"), gbResolution);
    rgResizeMethod->setObjectName(QStringLiteral("rgResizeMethod"));
    auto* methods = new QHBoxLayout(rgResizeMethod);
    ResizeMethods = new QButtonGroup(rgResizeMethod);
    const char* names[] = {"Center", "Letterbox", "Crop"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(names[i]), rgResizeMethod);
        ResizeMethods->addButton(radio, i);
        methods->addWidget(radio);
    }
    connect(ResizeMethods, &QButtonGroup::idClicked, this, [this] { rgResizeMethodClick(); });
    box->addWidget(rgResizeMethod);
}

void TfrmHome::btnAddFileClick() {
    static QString lastFile;
    const QString file =
        ChooseOpenFile(window(), QStringLiteral("Add Video Files"), OpenDialogFilter(),
                       DialogFolder(lastFile, QStandardPaths::MoviesLocation));
    if (file.isEmpty()) return;
    lastFile = file;
    AddFile(file);
}

void TfrmHome::btnCaptionsClick() {
    static QString lastFile;
    QString folder = lastFile;
    if (folder.isEmpty() && AppProjectMedia) folder = FieldText(AppProjectMedia->m_szFileName);
    const QString file = ChooseOpenFile(
        window(), QStringLiteral("Captions"),
        DialogFilter(QStringLiteral("Captions|*.srt;*.vtt;*.ass;*.ssa|"
                                    "All Files|*.*")),
        DialogFolder(folder, QStandardPaths::MoviesLocation));
    if (file.isEmpty()) return;
    lastFile = file;
    AddCaptions(file);
}

bool TfrmHome::AddCaptions(const QString& fileName) {
    if (!AppProject) return false;
    WCHAR message[kMaxPath] = {};
    const std::u16string path = fileName.toStdU16String();
    if (Low.AddCaptionFile(path.c_str(), u"", message) != reelpage::kCaptionAdded) {
        ShowMessage(window(), FieldText(message), QStringLiteral("Captions"),
                    QMessageBox::Warning);
        return false;
    }
    // A file added is meant to be seen.
    if (!cbxCaptions->isChecked()) cbxCaptions->setChecked(true);
    ShowCaptions();
    return true;
}

void TfrmHome::cbxCaptionsClick(bool checked) {
    if (FChanging || !AppProject) return;
    Low.SetCaptionsEnabled(checked ? 1 : 0);
}

void TfrmHome::ShowCaptions() {
    CaptionEntry entries[16];
    const int32_t count = Low.GetProjectCaptions(entries, int32_t(std::size(entries)));
    QStringList names;
    for (int32_t i = 0; i < std::min<int32_t>(count, int32_t(std::size(entries))); ++i)
        if (entries[i].bUsable) names << FieldText(entries[i].szLabel);
    if (count > int32_t(std::size(entries))) names << QStringLiteral("...");
    ChangingGuard guard(FChanging);
    cbxCaptions->setText(names.isEmpty() ? QStringLiteral("None found") : names.join(u", "));
    cbxCaptions->setChecked(Low.GetCaptionsEnabled() != 0 && !names.isEmpty());
    cbxCaptions->setEnabled(!names.isEmpty());
}

void TfrmHome::SetPreviewWindows(HWND renderParent, HWND notify) {
    FRenderParent = renderParent;
    FNotify = notify;
}

void TfrmHome::AddFile(const QString& fileName) {
    bool success = false;
    QString status;
    MediaInfo* media = nullptr;
    {
        TfrmLoading loading(window());
        loading.AddFile(fileName);
        loading.exec();
        success = loading.FSuccess;
        status = loading.FStatus;
        media = loading.FMediaInfo;
    }
    if (success) {
        Project* project = Low.CreateProject(media, FRenderParent, FNotify);
        if (project) {
            AppProject = project;
            AppProjectMedia = media;
            LoadProject();
        } else {
            // The engine could not build a project: the old one stays, and
            // the user hears of it rather than seeing nothing happen.
            ShowMessage(window(), QStringLiteral("Failed to import file"), ApplicationTitle,
                        QMessageBox::Critical);
        }
    } else if (!status.isEmpty()) {
        ShowMessage(window(), status, ApplicationTitle, QMessageBox::Critical);
    }
    emit ImportAttempted();
}

void TfrmHome::LoadProject() {
    Project* p = AppProject;
    if (!p) return;
    ChangingGuard guard(FChanging);
    edTitle->setEnabled(true);
    edTitle->setText(AppProjectMedia ? FieldText(AppProjectMedia->m_szName) : QString());
    btnCaptions->setEnabled(true);
    ShowCaptions();
    for (int i = 0; i < 3; ++i) {
        FormatBox(i)->setEnabled(true);
        FormatBox(i)->setChecked(p->m_Formats[i] != 0);
    }
    cmbWebmCodec->setEnabled(true);
    SelectWebmCodec(cmbWebmCodec, p->m_WebmCodec);
    ShowWebmCodecHint(cmbWebmCodec, cbxWebm, Image1);
    lvSupport->setEnabled(true);
    ShowSupport();
    cmbResolution->setEnabled(true);
    CheckCroped();
    cmbResolution->setCurrentIndex(p->m_SizeIndex);
    spWidth->setValue(p->m_OutputWidth);
    spHeight->setValue(p->m_OutputHeight);
    const bool custom = p->m_SizeIndex == reelpage::kSizeCustom;
    spWidth->setEnabled(custom);
    spHeight->setEnabled(custom);
    lblAspect->SetCaption(AspectText(p->m_OutputWidth, p->m_OutputHeight, custom));
    rgResizeMethod->setEnabled(true);
    if (QAbstractButton* method = ResizeMethods->button(p->m_ResizeMethod))
        method->setChecked(true);
    btnEdit->setEnabled(true);
    btnWater->setEnabled(true);
    btnStart->setEnabled(true);
    emit ProjectLoaded();
}

void TfrmHome::CheckCroped() {
    Project* p = AppProject;
    if (!p) return;
    const bool cropped = p->m_CropLeft != 0 || p->m_CropTop != 0 ||
                         p->m_CropWidth != p->m_VideoWidth || p->m_CropHeight != p->m_VideoHeight;
    ChangingGuard guard(FChanging);
    cmbResolution->setItemText(0, cropped ? QStringLiteral("Original(Trimed)")
                                          : QStringLiteral("Original"));
    cmbResolution->setCurrentIndex(p->m_SizeIndex);
}

void TfrmHome::ShowOutputSize() {
    const Project* p = AppProject;
    if (!p) return;
    ChangingGuard guard(FChanging);
    // The spins show at most their bound; the project keeps the size itself.
    spWidth->setValue(p->m_OutputWidth);
    spHeight->setValue(p->m_OutputHeight);
    lblAspect->SetCaption(
        AspectText(p->m_OutputWidth, p->m_OutputHeight, p->m_SizeIndex == reelpage::kSizeCustom));
}

QCheckBox* TfrmHome::FormatBox(int index) const {
    QCheckBox* boxes[] = {cbxWebm, cbxMp4, cbxOgg};
    return boxes[index];
}

void TfrmHome::ShowSupport() {
    const Project* p = AppProject;
    lvSupport->ShowBrowserSupport(p->m_Formats[0] != 0, p->m_Formats[1] != 0, p->m_Formats[2] != 0);
}

void TfrmHome::cbxFormatClick(int index) {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    p->m_Formats[index] = FormatBox(index)->isChecked() ? -1 : 0;
    // Unchecking the last chosen format chooses the other two: a job always
    // has at least one output.
    if (!p->m_Formats[0] && !p->m_Formats[1] && !p->m_Formats[2]) {
        for (int i = 0; i < 3; ++i) {
            if (i == index) continue;
            p->m_Formats[i] = -1;
            FormatBox(i)->setChecked(true);
        }
    }
    ShowSupport();
}

void TfrmHome::cmbWebmCodecChange() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    p->m_WebmCodec = cmbWebmCodec->currentData().toInt();
    ShowWebmCodecHint(cmbWebmCodec, cbxWebm, Image1);
}

// The output size changed: the label, the Watermark panel and the preview
// follow, the preview last so that it lays out the watermark's new place.
void TfrmHome::SizeChanged(int index) {
    Project* p = AppProject;
    lblAspect->SetCaption(
        AspectText(p->m_OutputWidth, p->m_OutputHeight, index == reelpage::kSizeCustom));
    emit OutputSizeChanged();
    Low.ApplyOutputSize();
}

void TfrmHome::cmbResolutionChange() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    const int index = cmbResolution->currentIndex();
    if (index < 0) return;
    ChangingGuard guard(FChanging);
    reelpage::ChooseOutputSize(*p, index);
    spWidth->setValue(p->m_OutputWidth);
    spHeight->setValue(p->m_OutputHeight);
    spWidth->setEnabled(index >= reelpage::kSizeCustom);
    spHeight->setEnabled(index >= reelpage::kSizeCustom);
    SizeChanged(index);
}

void TfrmHome::spWidthChange() {
    SideChange(spWidth, &Project::m_OutputWidth);
}

void TfrmHome::spHeightChange() {
    SideChange(spHeight, &Project::m_OutputHeight);
}

// A typed side is taken as it stands (not forced to a multiple of 16).
void TfrmHome::SideChange(QSpinBox* spin, int32_t Project::*side) {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    p->*side = spin->value();
    SizeChanged(p->m_SizeIndex);
}

void TfrmHome::PrepareAspectMenu() {
    const Project* p = AppProject;
    if (!p) return;
    PrepareAspectItems(Aspect4x3, Aspect16x9, p->m_OutputWidth, p->m_OutputHeight);
}

void TfrmHome::lblAspectLinkClick() {
    // The text is a link only in Custom mode, so only then can this open.
    PrepareAspectMenu();
    PopupMenu1->popup(lblAspect->mapToGlobal(QPoint(0, lblAspect->height())));
}

void TfrmHome::SetAspectSize(int width, int height) {
    Project* p = AppProject;
    if (!p) return;
    ChangingGuard guard(FChanging);
    p->m_OutputWidth = width;
    p->m_OutputHeight = height;
    spWidth->setValue(width);
    spHeight->setValue(height);
    SizeChanged(p->m_SizeIndex);
}

void TfrmHome::Aspect4x3Click() {
    if (!AppProject) return;
    const reelpage::OutputFrameSize size =
        reelpage::RatioOutputSize(AppProject->m_OutputWidth, 4, 3);
    SetAspectSize(size.width, size.height);
}

void TfrmHome::Aspect16x9Click() {
    if (!AppProject) return;
    const reelpage::OutputFrameSize size =
        reelpage::RatioOutputSize(AppProject->m_OutputWidth, 16, 9);
    SetAspectSize(size.width, size.height);
}

void TfrmHome::rgResizeMethodClick() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    p->m_ResizeMethod = ResizeMethods->checkedId();
    Low.NotifyPreview(kCmdResizeMethodChanged);
}

// A title typed just before the window closes is saved on the way out, not
// left waiting for a timer that never fires.
TfrmHome::~TfrmHome() {
    if (TitleSavePending()) SaveTitle();
}

bool TfrmHome::StoreTitle(const QString& text) {
    if (!AppProjectMedia) return false;
    // The published page keeps room for two more characters of the record's
    // 64: at most 62 are stored.
    SetFieldText(AppProjectMedia->m_szName, 63, text);
    return true;
}

void TfrmHome::SaveTitle() {
    FTitleTimer->stop();
    // Only the record the title was typed into; a project opened since has
    // saved it on its way out (the box was left).
    if (FTitleMedia && FTitleMedia == AppProjectMedia) Low.SaveMediaInfo(FTitleMedia);
    FTitleMedia = nullptr;
}

bool TfrmHome::TitleSavePending() const {
    return FTitleMedia != nullptr;
}

void TfrmHome::edTitleChange(const QString& text) {
    if (FChanging) return;
    if (!StoreTitle(text)) return;
    FTitleMedia = AppProjectMedia;
    FTitleTimer->start();
}

void TfrmHome::ChangeTitle(const QString& title) {
    ChangingGuard guard(FChanging);
    edTitle->setText(title);
    if (StoreTitle(title)) {
        FTitleMedia = AppProjectMedia;
        SaveTitle();
    }
}

} // namespace reelpage::app
