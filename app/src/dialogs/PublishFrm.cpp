#include "dialogs/PublishFrm.h"

#include "controls/CommandLinkButton.h"
#include "Functions.h"
#include "controls/LinkLabel.h"
#include "controls/GraphicsButton.h"
#include "ImageResource.h"
#include "LowInterface.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <climits>
#include <iterator>

namespace reelpage::app {

namespace {

constexpr int kClientWidth = 1008;
constexpr int kClientHeight = 582;
constexpr int kOptionsWidth = 420;
constexpr int kZoomBarHeight = 40;
// PublishPage writes up to 260 characters and a terminator.
constexpr int kPathBuffer = 261;
// The link field keeps two characters of its 1024 in reserve.
constexpr int kStoredLinkCapacity = 1023;
// Changes that follow each other this closely (arrow keys held, a burst of
// clicks) have the page written once.
constexpr int kRefreshDelayMs = 150;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QSpinBox* MakeSpinEdit(QWidget* parent, const char* name) {
    auto* edit = new QSpinBox(parent);
    edit->setObjectName(QString::fromLatin1(name));
    // Whatever number is typed is taken.
    edit->setRange(INT_MIN, INT_MAX);
    return edit;
}

// side x numerator div denominator, truncated; kept within 32 bits so that a
// huge typed size cannot overflow.
int32_t ScaleSide(int32_t side, int32_t numerator, int32_t denominator) {
    int64_t scaled = int64_t(side) * numerator / denominator;
    return int32_t(std::clamp<int64_t>(scaled, INT32_MIN, INT32_MAX));
}

// The size a w x h picture is shown at inside an ow x oh video: its own size
// when it fits, else shrunk with its ratio kept until it touches the frame.
QSize FitIntoOutput(int32_t w, int32_t h, int32_t ow, int32_t oh) {
    if (w <= ow && h <= oh) return QSize(w, h);
    if (int64_t(w) * oh < int64_t(ow) * h) return QSize(ScaleSide(w, oh, h), oh);
    return QSize(ow, ScaleSide(ow, h, w));
}

bool TemplateHasAd(int index) {
    const TemplateEntry* entry = index >= 0 ? Low.GetTemplate(index) : nullptr;
    return entry && entry->bHasAd != 0;
}

QString OutputFolder() {
    const WCHAR* folder = Low.GetOutputFolder();
    return folder ? FieldText(folder, kMaxPath) : QString();
}

QString PagePath(bool generate) {
    WCHAR path[kPathBuffer] = {};
    Low.PublishPage(generate ? 1 : 0, path);
    return FieldText(path);
}

} // namespace

TfrmPublish::TfrmPublish(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmPublish"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Publish"));

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(CreateOptionsPanel());
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Sunken);
    columns->addWidget(divider);
    columns->addWidget(CreatePreviewPanel(), 1);

    // Writing the page copies the template and scales and encodes the
    // advertisement picture, far too slow for the interface thread: it runs
    // on a worker, one page at a time, and changes made meanwhile have it
    // written once more when it is done.
    FRefreshTimer = new QTimer(this);
    FRefreshTimer->setSingleShot(true);
    FRefreshTimer->setInterval(kRefreshDelayMs);
    connect(FRefreshTimer, &QTimer::timeout, this, [this] { StartGeneration(); });
    FGeneration = new QFutureWatcher<QString>(this);
    connect(FGeneration, &QFutureWatcher<QString>::finished, this,
            [this] { GenerationFinished(); });

    // The list is filled before any handler may act on it.
    {
        ChangingGuard guard(FChanging);
        const int count = Low.GetTemplateCount();
        for (int i = 0; i < count; ++i) {
            const TemplateEntry* entry = Low.GetTemplate(i);
            // An entry the engine cannot give keeps its place, so that list
            // positions stay catalogue indices.
            cmbTemplates->addItem(entry ? FieldText(entry->szName) : QString());
        }
    }
    FZoomValue = 100;
    TakeProject();

    resize(kClientWidth, kClientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TfrmPublish::~TfrmPublish() {
    // Closed, the window has no page in flight. Deleted without being closed
    // (never in the program), a page being written must not outlive the
    // project and the job it is written from.
    FGeneration->waitForFinished();
}

void TfrmPublish::closeEvent(QCloseEvent* event) {
    if (FFinished) {
        event->accept();
        return;
    }
    // A link typed and not yet left counts as a change.
    edAdLinkExit();
    const bool due = FRefreshTimer->isActive() || FPending;
    FRefreshTimer->stop();
    if (due || FGeneration->isRunning()) {
        // The engine's job, which the page is written from, is freed once
        // publishing is over: the window waits, hidden, for the last page
        // to be on disk and closes again then.
        event->ignore();
        FClosing = true;
        hide();
        if (due) StartGeneration();
        return;
    }
    CommitOptions();
    event->accept();
    FFinished = true;
    emit Finished();
}

QWidget* TfrmPublish::CreateOptionsPanel() {
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedWidth(kOptionsWidth);
    // Widened where a larger font needs it (see eventFilter).
    Panel1->installEventFilter(this);
    auto* layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(12, 12, 12, 12);

    lblOutputFolder = new TLinkLabel(Panel1);
    lblOutputFolder->setObjectName(QStringLiteral("lblOutputFolder"));
    lblOutputFolder->setContentsMargins(0, 0, 0, 4);
    connect(lblOutputFolder, &TLinkLabel::OnLinkClick, this,
            &TfrmPublish::lblOutputFolderLinkClick);
    layout->addWidget(lblOutputFolder);

    auto* templateRow = new QHBoxLayout;
    Label1 = MakeLabel(Panel1, "Label1", QStringLiteral("Template:"));
    cmbTemplates = new QComboBox(Panel1);
    cmbTemplates->setObjectName(QStringLiteral("cmbTemplates"));
    Label1->setBuddy(cmbTemplates);
    connect(cmbTemplates, &QComboBox::currentIndexChanged, this, [this] { cmbTemplatesChange(); });
    templateRow->addWidget(Label1);
    templateRow->addWidget(cmbTemplates, 1);
    layout->addLayout(templateRow);

    auto* options = new QHBoxLayout;
    cbxAutoplay = MakeCheckBox(Panel1, "cbxAutoplay", QStringLiteral("Autoplay"));
    cbxControls = MakeCheckBox(Panel1, "cbxControls", QStringLiteral("Controls"));
    cbxLoop = MakeCheckBox(Panel1, "cbxLoop", QStringLiteral("Loop"));
    connect(cbxAutoplay, &QCheckBox::toggled, this, [this] { cbxAutoplayClick(); });
    connect(cbxControls, &QCheckBox::toggled, this, [this] { cbxControlsClick(); });
    connect(cbxLoop, &QCheckBox::toggled, this, [this] { cbxLoopClick(); });
    options->addWidget(cbxAutoplay);
    options->addWidget(cbxControls);
    options->addWidget(cbxLoop);
    options->addStretch(1);
    layout->addLayout(options);

    layout->addWidget(CreateAdvertisementGroup(Panel1));
    layout->addStretch(1);

    btnOpen = new TCommandLinkButton(Panel1);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    btnOpen->SetCaption(QStringLiteral("Open in browser"));
    btnOpen->SetCommandLinkHint(QStringLiteral("Use the default browser"));
    connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
    layout->addWidget(btnOpen);

    auto* finishRow = new QHBoxLayout;
    finishRow->addStretch(1);
    btnFinish = new TGraphicsButton(Panel1);
    btnFinish->setObjectName(QStringLiteral("btnFinish"));
    btnFinish->setText(QStringLiteral("    Finish"));
    btnFinish->setFont(DesignedFont(btnFinish->font(), 15));
    btnFinish->SetImage(&Images.Finish);
    btnFinish->setMinimumSize(120, 40);
    connect(btnFinish, &QPushButton::clicked, this, &QWidget::close);
    finishRow->addWidget(btnFinish);
    layout->addLayout(finishRow);
    return Panel1;
}

QGroupBox* TfrmPublish::CreateAdvertisementGroup(QWidget* parent) {
    GroupBox3 = new QGroupBox(QStringLiteral("Advertisement"), parent);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    auto* grid = new QGridLayout(GroupBox3);

    Label10 = MakeLabel(GroupBox3, "Label10", QStringLiteral("Picture:"));
    edAd = new QLineEdit(GroupBox3);
    edAd->setObjectName(QStringLiteral("edAd"));
    edAd->setReadOnly(true);
    btnAddAd = new TGraphicsButton(GroupBox3);
    btnAddAd->setObjectName(QStringLiteral("btnAddAd"));
    btnAddAd->SetImage(&Images.AddFile);
    btnDeleteAd = new TGraphicsButton(GroupBox3);
    btnDeleteAd->setObjectName(QStringLiteral("btnDeleteAd"));
    btnDeleteAd->SetImage(&Images.Delete);
    connect(btnAddAd, &QPushButton::clicked, this, [this] { btnAddAdClick(); });
    connect(btnDeleteAd, &QPushButton::clicked, this, [this] { btnDeleteAdClick(); });
    auto* pictureRow = new QHBoxLayout;
    pictureRow->addWidget(edAd, 1);
    pictureRow->addWidget(btnAddAd);
    pictureRow->addWidget(btnDeleteAd);
    grid->addWidget(Label10, 0, 0);
    grid->addLayout(pictureRow, 0, 1, 1, 3);

    Label11 = MakeLabel(GroupBox3, "Label11", QStringLiteral("Link:"));
    edAdLink = new QLineEdit(GroupBox3);
    edAdLink->setObjectName(QStringLiteral("edAdLink"));
    edAdLink->setMaxLength(1024);
    // The link is taken when the box is left, not on every key.
    edAdLink->installEventFilter(this);
    grid->addWidget(Label11, 1, 0);
    grid->addWidget(edAdLink, 1, 1, 1, 3);

    Label2 = MakeLabel(GroupBox3, "Label2", QStringLiteral("Width:"));
    seWidthAd = MakeSpinEdit(GroupBox3, "seWidthAd");
    // A size is taken when typing ends (Enter, leaving the box, an arrow
    // step), not at every digit.
    seWidthAd->setKeyboardTracking(false);
    Label4 = MakeLabel(GroupBox3, "Label4", QStringLiteral("Height:"));
    seHeightAd = MakeSpinEdit(GroupBox3, "seHeightAd");
    seHeightAd->setKeyboardTracking(false);
    connect(seWidthAd, &QSpinBox::valueChanged, this, [this](int v) { seWidthAdChange(v); });
    connect(seHeightAd, &QSpinBox::valueChanged, this, [this](int v) { seHeightAdChange(v); });
    grid->addWidget(Label2, 2, 0);
    grid->addWidget(seWidthAd, 2, 1);
    grid->addWidget(Label4, 2, 2);
    grid->addWidget(seHeightAd, 2, 3);

    cbxKeepScaleAd = MakeCheckBox(GroupBox3, "cbxKeepScaleAd", QStringLiteral("Keep aspect ratio"));
    cbxKeepScaleAd->setChecked(true);
    grid->addWidget(cbxKeepScaleAd, 3, 1, 1, 3);

    lblSizeHintAd = MakeLabel(GroupBox3, "lblSizeHintAd", QString());
    lblSizeHintAd->setWordWrap(true);
    grid->addWidget(lblSizeHintAd, 4, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return GroupBox3;
}

QWidget* TfrmPublish::CreatePreviewPanel() {
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto* layout = new QVBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    WebBrowser1 = new QWebEngineView(Panel2);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setContextMenuPolicy(Qt::NoContextMenu);
    layout->addWidget(WebBrowser1, 1);

    Panel3 = new QWidget(Panel2);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(kZoomBarHeight);
    auto* bar = new QHBoxLayout(Panel3);
    bar->setContentsMargins(8, 4, 8, 4);

    btnZoom = new TGraphicsButton(Panel3);
    btnZoom->setObjectName(QStringLiteral("btnZoom"));
    btnZoom->setText(QStringLiteral("   100%"));
    btnZoom->setToolTip(QStringLiteral("Zoom"));
    btnZoom->SetImage(&Images.Zoom);
    btnZoom->SetSplitButton(true);
    connect(btnZoom, &TGraphicsButton::OnDropDownClick, this, &TfrmPublish::btnZoomDropDownClick);
    connect(btnZoom, &QPushButton::clicked, this, [this] { btnZoomClick(); });
    bar->addWidget(btnZoom);

    tbZoom = new QSlider(Qt::Horizontal, Panel3);
    tbZoom->setAccessibleName(QStringLiteral("Zoom"));
    tbZoom->setObjectName(QStringLiteral("tbZoom"));
    tbZoom->setRange(25, 125);
    tbZoom->setValue(100);
    tbZoom->setPageStep(5);
    tbZoom->setTickInterval(25);
    tbZoom->setTickPosition(QSlider::TicksBothSides);
    tbZoom->setFixedWidth(200);
    connect(tbZoom, &QSlider::valueChanged, this, [this](int position) {
        if (FChanging) return;
        SetZoom(position);
    });
    bar->addWidget(tbZoom);
    bar->addStretch(1);
    layout->addWidget(Panel3);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto addItem = [this](const char* name, int percent) {
        QAction* item = PopupMenu1->addAction(QString::asprintf("%d%%", percent));
        item->setObjectName(QString::fromLatin1(name));
        item->setCheckable(true);
        item->setData(percent);
        connect(item, &QAction::triggered, this, [this, percent] { SetZoom(percent); });
        return item;
    };
    N125 = addItem("N125", 125);
    N100 = addItem("N100", 100);
    N75 = addItem("N75", 75);
    N50 = addItem("N50", 50);
    N25 = addItem("N25", 25);
    return Panel2;
}

void TfrmPublish::InitForm() {
    if (FChanging) return;
    ChangingGuard guard(FChanging);
    const QString folder = OutputFolder();
    lblOutputFolder->SetCaption(QStringLiteral("Output Folder(Click link to open folder):\r\n<a>") +
                                folder + QStringLiteral("</a>\r\n"));
    TakeProject();
    if (!FSource) return;
    const Project& p = FProject;
    cmbTemplates->setCurrentIndex(p.m_Templete);
    cbxAutoplay->setChecked(p.m_Autoplay != 0);
    cbxControls->setChecked(p.m_Controls != 0);
    cbxLoop->setChecked(p.m_Loop != 0);

    const QString adFile = FieldText(p.m_AdFile);
    edAd->setText(adFile);
    edAdLink->setText(FieldText(p.m_AdLink));
    seWidthAd->setValue(p.m_AdWidth);
    seHeightAd->setValue(p.m_AdHeight);
    btnDeleteAd->setEnabled(!adFile.isEmpty());
    UpdateAdControls(!adFile.isEmpty(), TemplateHasAd(p.m_Templete));
    RefreshPreview(true);
}

void TfrmPublish::RefreshPreview(bool generate) {
    if (generate) {
        CommitOptions();
        FRefreshTimer->start();
        return;
    }
    const QString path = PagePath(false);
    if (!path.isEmpty()) WebBrowser1->load(QUrl::fromLocalFile(path));
}

bool TfrmPublish::Generating() const {
    return FRefreshTimer->isActive() || FGeneration->isRunning() || FPending;
}

void TfrmPublish::StartGeneration() {
    if (FGeneration->isRunning()) {
        FPending = true;
        return;
    }
    FPending = false;
    CommitOptions();
    FGeneration->setFuture(QtConcurrent::run([] { return PagePath(true); }));
}

void TfrmPublish::TakeProject() {
    FSource = AppProject;
    if (FSource) FProject = *FSource;
}

// The engine writes the page from the shared project record on the worker,
// so that record is only written here, on the interface thread, while no
// page is being written; a change made meanwhile waits in FProject for the
// next page, which the change has already asked for.
void TfrmPublish::CommitOptions() {
    if (!FSource || FGeneration->isRunning()) return;
    Project& p = *FSource;
    p.m_Templete = FProject.m_Templete;
    p.m_Autoplay = FProject.m_Autoplay;
    p.m_Controls = FProject.m_Controls;
    p.m_Loop = FProject.m_Loop;
    std::copy(std::begin(FProject.m_AdFile), std::end(FProject.m_AdFile), std::begin(p.m_AdFile));
    p.m_AdImageWidth = FProject.m_AdImageWidth;
    p.m_AdImageHeight = FProject.m_AdImageHeight;
    p.m_AdWidth = FProject.m_AdWidth;
    p.m_AdHeight = FProject.m_AdHeight;
    std::copy(std::begin(FProject.m_AdLink), std::end(FProject.m_AdLink), std::begin(p.m_AdLink));
}

void TfrmPublish::GenerationFinished() {
    if (FPending) {
        // The page on disk predates the latest change: not worth showing.
        StartGeneration();
        return;
    }
    if (FClosing) {
        close();
        return;
    }
    const QString path = FGeneration->result();
    if (!path.isEmpty()) WebBrowser1->load(QUrl::fromLocalFile(path));
    if (!FCaptionsTold) {
        FCaptionsTold = true;
        QStringList problems;
        WCHAR message[kMaxPath];
        for (int32_t i = 0; Low.GetCaptionMessage(i, message); ++i)
            problems << FieldText(message);
        if (!problems.isEmpty())
            ShowMessage(this,
                        QStringLiteral("Not every caption could be used:\n") +
                            problems.join(QChar('\n')),
                        QStringLiteral("Captions"), QMessageBox::Warning);
    }
}

void TfrmPublish::UpdateAdControls(bool hasAd, bool templateHasAd) {
    // The page leaves autoplay out whenever it shows an advertisement.
    cbxAutoplay->setEnabled(!(hasAd && templateHasAd));
    btnAddAd->setEnabled(templateHasAd);
    for (QWidget* control : std::initializer_list<QWidget*>{btnDeleteAd, edAdLink, seWidthAd,
                                                            seHeightAd, cbxKeepScaleAd})
        control->setEnabled(hasAd);
    if (hasAd && FSource) {
        lblSizeHintAd->setText(QString::asprintf(
            "Video output size:%d*%d, Advertisement image size:%d*%d", FProject.m_OutputWidth,
            FProject.m_OutputHeight, FProject.m_AdImageWidth, FProject.m_AdImageHeight));
    } else {
        lblSizeHintAd->clear();
    }
    GroupBox3->setVisible(templateHasAd);
}

void TfrmPublish::cmbTemplatesChange() {
    if (FChanging || !FSource) return;
    const int index = cmbTemplates->currentIndex();
    if (index < 0) return;
    ChangingGuard guard(FChanging);
    FProject.m_Templete = index;
    UpdateAdControls(FProject.m_AdFile[0] != 0, TemplateHasAd(index));
    RefreshPreview(true);
}

void TfrmPublish::PlayerOptionClick(QCheckBox* box, int32_t* field) {
    *field = box->isChecked() ? -1 : 0;
    RefreshPreview(true);
}

void TfrmPublish::cbxAutoplayClick() {
    if (FChanging || !FSource) return;
    PlayerOptionClick(cbxAutoplay, &FProject.m_Autoplay);
}

void TfrmPublish::cbxControlsClick() {
    if (FChanging || !FSource) return;
    PlayerOptionClick(cbxControls, &FProject.m_Controls);
}

void TfrmPublish::cbxLoopClick() {
    if (FChanging || !FSource) return;
    PlayerOptionClick(cbxLoop, &FProject.m_Loop);
}

void TfrmPublish::btnAddAdClick() {
    if (!FSource) return;
    QString path;
    int w = 0, h = 0;
    if (!ChoosePicture(this, QStringLiteral("Select Advertisement Picture"),
                       int(std::size(FProject.m_AdFile)), &path, &w, &h))
        return;
    Project& p = FProject;
    edAd->setText(path);
    SetFieldText(p.m_AdFile, path);
    p.m_AdImageWidth = w;
    p.m_AdImageHeight = h;

    const QSize shown = FitIntoOutput(w, h, p.m_OutputWidth, p.m_OutputHeight);
    ChangingGuard guard(FChanging);
    seWidthAd->setValue(shown.width());
    seHeightAd->setValue(shown.height());
    p.m_AdWidth = shown.width();
    p.m_AdHeight = shown.height();
    UpdateAdControls(true, true);
    RefreshPreview(true);
}

void TfrmPublish::btnDeleteAdClick() {
    if (FChanging || !FSource) return;
    edAd->clear();
    FProject.m_AdFile[0] = 0;
    UpdateAdControls(false, true);
    RefreshPreview(true);
}

void TfrmPublish::seWidthAdChange(int value) {
    AdSideChange(value, &Project::m_AdWidth, &Project::m_AdHeight, &Project::m_AdImageWidth,
                 &Project::m_AdImageHeight, seHeightAd);
}

void TfrmPublish::seHeightAdChange(int value) {
    AdSideChange(value, &Project::m_AdHeight, &Project::m_AdWidth, &Project::m_AdImageHeight,
                 &Project::m_AdImageWidth, seWidthAd);
}

// One side of the shown advertisement was typed; with the ratio kept the
// other follows the picture's own proportions.
void TfrmPublish::AdSideChange(int value, int32_t Project::*side, int32_t Project::*other,
                               int32_t Project::*imageSide, int32_t Project::*imageOther,
                               QSpinBox* otherEdit) {
    if (FChanging || !FSource) return;
    Project& p = FProject;
    ChangingGuard guard(FChanging);
    p.*side = value;
    // A picture side of 0 (no picture read yet) gives no ratio to keep.
    if (cbxKeepScaleAd->isChecked() && p.*imageSide != 0) {
        p.*other = ScaleSide(p.*side, p.*imageOther, p.*imageSide);
        otherEdit->setValue(p.*other);
    }
    RefreshPreview(true);
}

void TfrmPublish::edAdLinkExit() {
    if (!FSource) return;
    const QString text = edAdLink->text();
    if (text == FieldText(FProject.m_AdLink)) return;
    SetFieldText(FProject.m_AdLink, kStoredLinkCapacity, text);
    RefreshPreview(true);
}

bool TfrmPublish::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edAdLink && event->type() == QEvent::FocusOut) edAdLinkExit();
    // The options column is as wide as its fields and titles need at the
    // current font, never narrower than designed.
    if (watched == Panel1 && event->type() == QEvent::LayoutRequest)
        SetColumnWidth(Panel1, kOptionsWidth, Panel1->layout()->minimumSize().width());
    return QWidget::eventFilter(watched, event);
}

void TfrmPublish::lblOutputFolderLinkClick() {
    ShellOpen(OutputFolder());
}

void TfrmPublish::btnOpenClick() {
    // Only the page's path: what the preview shows is already written.
    ShellOpen(PagePath(false));
}

void TfrmPublish::SetZoom(int percent) {
    ChangingGuard guard(FChanging);
    FZoomValue = percent;
    btnZoom->setText(QString::asprintf("   %d%%", percent));
    tbZoom->setValue(percent);
    WebBrowser1->setZoomFactor(percent / 100.0);
}

void TfrmPublish::btnZoomClick() {
    if (FChanging) return;
    SetZoom(100);
}

void TfrmPublish::btnZoomDropDownClick() {
    for (QAction* item : PopupMenu1->actions())
        item->setChecked(item->data().toInt() == FZoomValue);
    PopupMenu1->popup(btnZoom->mapToGlobal(QPoint(0, btnZoom->height())));
}

} // namespace reelpage::app
