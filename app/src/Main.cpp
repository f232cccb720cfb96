#include "Main.h"

#include "dialogs/About.h"
#include "panels/Editor.h"
#include "dialogs/FileInformation.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "panels/Home.h"
#include "ImageResource.h"
#include "LowInterface.h"
#include "controls/MediaPlayTrackBar.h"
#include "dialogs/Options.h"
#include "dialogs/Poster.h"
#include "dialogs/PublishFrm.h"
#include "dialogs/Task.h"
#include "panels/Watermark.h"
#include "WindowHandle.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTextEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <utility>

#include "platform/router.h"

namespace reelpage::app {

QPointer<TfrmMain> frmMain;

namespace {

constexpr int kClientWidth = 1008;
constexpr int kClientHeight = 572;
constexpr int kControlWidth = 420;
constexpr int kPlayerHeight = 90;
constexpr int kHistoryItems = 20;
// The bar counts whole seconds; the project and the engine microseconds.
constexpr int64_t kMicrosPerSecond = 1000000;

// A menu caption shows '&' only when it is doubled.
QString MenuText(const QString& text) {
    QString escaped = text;
    return escaped.replace(QChar('&'), QStringLiteral("&&"));
}

TGraphicsButton* MakeImageButton(QWidget* parent, const char* name, const QString& hint, int width,
                                 int height) {
    auto* button = new TGraphicsButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setFixedSize(width, height);
    button->setEnabled(false);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    frmMain = this;
    // A video dropped anywhere on the window (the Watermark panel takes
    // pictures itself) is imported.
    setAcceptDrops(true);
    FHandle =
        std::make_unique<TWindowHandle>(this, [this](uint32_t msg, int64_t wParam, int64_t lParam) {
            return WndProc(msg, wParam, lParam);
        });

    // Menus, with the captions the program has always had.
    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    miAddFile = File1->addAction(QStringLiteral("Import Video File ..."));
    FileInformation1 = File1->addAction(QStringLiteral("File Information ..."));
    FileInformation1->setEnabled(false);
    miHistory = File1->addMenu(QStringLiteral("Recent ..."));
    miHistory->setToolTipsVisible(true);
    File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("Exit"));

    Option1 = menuBar()->addMenu(QStringLiteral("&Edit"));
    FPanelGroup = new QActionGroup(this);
    miHome = Option1->addAction(QStringLiteral("General"));
    miEdit = Option1->addAction(QStringLiteral("Edit ..."));
    miWater = Option1->addAction(QStringLiteral("Watermark ..."));
    for (QAction* item : {miHome, miEdit, miWater}) {
        item->setCheckable(true);
        FPanelGroup->addAction(item);
    }
    miHome->setChecked(true);

    CreatePlaybackMenu();

    Options1 = menuBar()->addMenu(QStringLiteral("Options"));
    Settings1 = Options1->addAction(QStringLiteral("Settings..."));

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    miHelp = Help1->addAction(QStringLiteral("Help"));
    miHelp->setShortcut(QKeySequence::HelpContents);
    HomePage1 = Help1->addAction(QStringLiteral("Home Page"));
    Help1->addSeparator();
    About1 = Help1->addAction(QStringLiteral("About ..."));

    connect(miAddFile, &QAction::triggered, this, [this] {
        SetCurrentControl(0);
        frmHome->btnAddFileClick();
    });
    miAddFile->setShortcut(QKeySequence::Open);
    connect(FileInformation1, &QAction::triggered, this, [this] { FileInformation1Click(); });
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(miHome, &QAction::triggered, this, [this] { SetCurrentControl(0); });
    connect(miEdit, &QAction::triggered, this, [this] { SetCurrentControl(1); });
    connect(miWater, &QAction::triggered, this, [this] { SetCurrentControl(2); });
    connect(Settings1, &QAction::triggered, this, [this] { Settings1Click(); });
    connect(miHelp, &QAction::triggered, this,
            [] { ShellOpen(HelpPageAddress().toString(QUrl::FullyEncoded)); });
    connect(HomePage1, &QAction::triggered, this, [this] { HomePage1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });

    // The side panels on the left, the preview over the player bar on the right.
    auto* client = new QWidget(this);
    auto* columns = new QHBoxLayout(client);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    palControl = new QWidget(client);
    palControl->setObjectName(QStringLiteral("palControl"));
    palControl->setFixedWidth(kControlWidth);
    palControl->installEventFilter(this);
    auto* panels = new QVBoxLayout(palControl);
    panels->setContentsMargins(0, 0, 0, 0);
    panels->setSpacing(0);
    columns->addWidget(palControl);
    // Tab follows the order widgets are made in, from the window on: the
    // panels first, then the page over the picture, then the player bar, as
    // the window reads. Made later, the panels came after the bar, and the
    // first Tab (or the focus a newly shown window takes) landed on Play
    // instead of Import.
    frmHome = new TfrmHome(palControl);
    frmEdit = new TfrmEdit(palControl);
    frmWatermark = new TfrmWatermark(palControl);

    auto* divider = new QFrame(client);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Sunken);
    columns->addWidget(divider);

    palVideo = new QWidget(client);
    palVideo->setObjectName(QStringLiteral("palVideo"));
    auto* video = new QVBoxLayout(palVideo);
    video->setContentsMargins(0, 0, 0, 0);
    video->setSpacing(0);
    columns->addWidget(palVideo, 1);
    // The designed size is the least the window takes; it is held by the
    // video side, so that the layout still raises it to the tallest need of
    // the panel shown (a larger font, say) rather than squash its controls.
    palVideo->setMinimumSize(kClientWidth - kControlWidth - divider->sizeHint().width(),
                             kClientHeight);

    palRender = new QWidget(palVideo);
    palRender->setObjectName(QStringLiteral("palRender"));
    palRender->setAutoFillBackground(true);
    QPalette renderPalette = palRender->palette();
    renderPalette.setColor(QPalette::Window, QColor(0x1E, 0x24, 0x2C));
    palRender->setPalette(renderPalette);
    auto* render = new QVBoxLayout(palRender);
    render->setContentsMargins(0, 0, 0, 0);
    palRender->installEventFilter(this);
    video->addWidget(palRender, 1);
    // The engine places its render window inside palRender by this handle;
    // palRender itself receives nothing.
    FRenderHandle = std::make_unique<TWindowHandle>(
        palRender, [](uint32_t, int64_t, int64_t) -> int64_t { return 0; });

    WebBrowser1 = new QWebEngineView(palRender);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setContextMenuPolicy(Qt::NoContextMenu);
    // A file dropped on the page is for the window's import, not to be shown.
    WebBrowser1->setAcceptDrops(false);
    FHelpPage = new THelpPage(WebBrowser1);
    connect(FHelpPage, &THelpPage::OnCommand, this, &TfrmMain::HelpCommandClick);
    WebBrowser1->setPage(FHelpPage);
    render->addWidget(WebBrowser1);

    auto* rule = new QFrame(palVideo);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    video->addWidget(rule);

    palPlayer = CreatePlayerBar(palVideo);
    video->addWidget(palPlayer);

    setCentralWidget(client);
    FormCreate();

    resize(minimumSizeHint().expandedTo(QSize(kClientWidth, kClientHeight)));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

TfrmMain::~TfrmMain() = default;

QWidget* TfrmMain::CreatePlayerBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    bar->setObjectName(QStringLiteral("palPlayer"));
    bar->setFixedHeight(kPlayerHeight);

    btnPlay = MakeImageButton(bar, "btnPlay", QStringLiteral("Play / Pause"), 32, 25);
    TrackBar1 = new TMediaPlayTrackBar(bar);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setAccessibleName(QStringLiteral("Position"));
    TrackBar1->setAccessibleDescription(
        QStringLiteral("Where the preview is, in seconds; the clip is marked on it"));
    TrackBar1->setEnabled(false);
    lblPlayPosition = MakeLabel(bar, "lblPlayPosition", QStringLiteral("00:00/00:00"));
    lblPlayPosition->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblPlayPosition->setMinimumWidth(
        lblPlayPosition->fontMetrics().horizontalAdvance(QStringLiteral("000:00 / 000:00")));

    btnPoster = MakeImageButton(bar, "btnPoster",
                                QStringLiteral("Grab the current image for the poster"), 40, 25);
    btnPoster->SetSplitButton(true);
    btnClipStart = MakeImageButton(bar, "btnClipStart", QStringLiteral("Cut the front"), 25, 25);
    lblClipStart = MakeLabel(bar, "lblClipStart", QStringLiteral("00:00"));
    btnClipReset = MakeImageButton(bar, "btnClipReset", QStringLiteral("Reset Clip"), 25, 25);
    lblDuration = MakeLabel(bar, "lblDuration", QStringLiteral("00:00"));
    lblDuration->setToolTip(QStringLiteral("Clip Duration."));
    btnClipStop = MakeImageButton(bar, "btnClipStop", QStringLiteral("Cut the behind"), 25, 25);
    lblClipStop = MakeLabel(bar, "lblClipStop", QStringLiteral("00:00"));
    for (QLabel* label : {lblClipStart, lblDuration, lblClipStop})
        label->setEnabled(false);
    lblPlayPosition->setEnabled(false);

    PopupMenu1 = new QMenu(bar);
    QAction* miShowPoster = PopupMenu1->addAction(QStringLiteral("Show Poster ..."));
    QFont bold = miShowPoster->font();
    bold.setBold(true);
    miShowPoster->setFont(bold);
    PopupMenu1->setDefaultAction(miShowPoster);
    PopupMenu1->addSeparator();
    QAction* miCurrentFrameAsPoster =
        PopupMenu1->addAction(QStringLiteral("Grab the current frame as a poster"));
    QAction* miGrabImageAsPoster =
        PopupMenu1->addAction(QStringLiteral("Grab the currently displayed image as a poster"));
    miShowPoster->setObjectName(QStringLiteral("miShowPoster"));
    miCurrentFrameAsPoster->setObjectName(QStringLiteral("miCurrentFrameAsPoster"));
    miGrabImageAsPoster->setObjectName(QStringLiteral("miGrabImageAsPoster"));
    connect(miShowPoster, &QAction::triggered, this, [this] {
        TfrmPoster dialog(this);
        dialog.exec();
    });
    connect(miCurrentFrameAsPoster, &QAction::triggered, this, [] { Low.SnapshotPoster(0); });
    connect(miGrabImageAsPoster, &QAction::triggered, this, [] { Low.SnapshotPoster(1); });
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(QStringLiteral("Cancel"));
    btnPoster->SetDropDownMenu(PopupMenu1);
    connect(btnPoster, &QPushButton::clicked, this, [this] { btnPoster->PopupDropDownMenu(); });
    connect(btnPlay, &QPushButton::clicked, this, [this] { btnPlayClick(); });
    connect(btnClipStart, &QPushButton::clicked, this, [this] { btnClipStartClick(); });
    connect(btnClipStop, &QPushButton::clicked, this, [this] { btnClipStopClick(); });
    connect(btnClipReset, &QPushButton::clicked, this, [this] { btnClipResetClick(); });
    connect(TrackBar1, &TMediaPlayTrackBar::OnMouseDragBegin, this,
            &TfrmMain::TrackBar1MouseDragBegin);
    connect(TrackBar1, &TMediaPlayTrackBar::OnChange, this, &TfrmMain::TrackBar1Change);
    connect(TrackBar1, &TMediaPlayTrackBar::OnMouseDragEnd, this, &TfrmMain::TrackBar1MouseDragEnd);

    auto* rows = new QVBoxLayout(bar);
    rows->setContentsMargins(6, 4, 10, 8);
    rows->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(btnPlay, 0, Qt::AlignVCenter);
    top->addWidget(TrackBar1, 1);
    top->addWidget(lblPlayPosition);
    rows->addLayout(top);
    rows->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(6);
    bottom->addWidget(btnPoster);
    bottom->addSpacing(36);
    bottom->addWidget(btnClipStart);
    bottom->addWidget(lblClipStart);
    // The reset button and the clip length sit in the middle of the bar; they
    // are placed when the bar changes size.
    bottom->addStretch(1);
    bottom->addWidget(btnClipStop);
    bottom->addWidget(lblClipStop);
    rows->addLayout(bottom);
    bar->installEventFilter(this);
    return bar;
}

void TfrmMain::palPlayerResize() {
    if (!palPlayer) return;
    int y = btnClipStart->y();
    btnClipReset->move((palPlayer->width() - btnClipReset->width()) / 2, y);
    lblDuration->adjustSize();
    lblDuration->move(btnClipReset->geometry().right() + 1 + 8,
                      y + (btnClipReset->height() - lblDuration->height()) / 2);
}

namespace {

// Whether the widget with the focus needs the key itself: text fields keep
// every key they type or edit with, and lists, sliders and boxes of choices
// their arrows and Home/End. Elsewhere the key is the player's.
bool FocusKeepsKey(const QWidget* focus, const QKeyEvent* key) {
    if (!focus) return false;
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus) ||
        qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus))
        return true;
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
        return qobject_cast<const QAbstractSlider*>(focus) ||
               qobject_cast<const QAbstractItemView*>(focus) ||
               qobject_cast<const QComboBox*>(focus) || qobject_cast<const QTabBar*>(focus);
    default:
        return false;
    }
}

} // namespace

bool TfrmMain::event(QEvent* event) {
    // Asked before a key becomes a shortcut: a field that needs the key takes
    // it as typing. The question reaches the window when no widget on the
    // way claimed the key.
    if (event->type() == QEvent::ShortcutOverride &&
        FocusKeepsKey(QApplication::focusWidget(), static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QMainWindow::event(event);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    // Whether the engine can read it is the import's verdict, with its
    // messages; a drag of anything but one file is not taken.
    if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const QString file = DroppedFile(event->mimeData());
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    // As a file named from outside: the import waits for the drop to end and
    // for whatever dialog is open.
    OpenFile(file);
}

void TfrmMain::CreatePlaybackMenu() {
    miPlayback = menuBar()->addMenu(QStringLiteral("&Playback"));
    auto add = [this](const QString& caption, QList<QKeySequence> keys, auto handler) {
        QAction* item = miPlayback->addAction(caption);
        item->setShortcuts(keys);
        item->setEnabled(false);
        // The window's own action as well: its keys work wherever the focus
        // is in this window, not only while the menu is open.
        addAction(item);
        connect(item, &QAction::triggered, this, handler);
        return item;
    };
    miPlayPause = add(QStringLiteral("Play / Pause"), {Qt::Key_Space, Qt::Key_K},
                      [this] { btnPlayClick(); });
    miPlayback->addSeparator();
    miBack = add(QStringLiteral("Back 5 Seconds"), {Qt::Key_Left}, [this] { StepSeconds(-5); });
    miForward =
        add(QStringLiteral("Forward 5 Seconds"), {Qt::Key_Right}, [this] { StepSeconds(5); });
    miPreviousFrame = add(QStringLiteral("Previous Frame"), {Qt::SHIFT | Qt::Key_Left},
                          [this] { StepFrame(-1); });
    miNextFrame =
        add(QStringLiteral("Next Frame"), {Qt::SHIFT | Qt::Key_Right}, [this] { StepFrame(1); });
    miPlayback->addSeparator();
    miGoClipStart = add(QStringLiteral("Go to Clip Start"), {Qt::Key_Home}, [this] {
        GoToSecond(AppProject ? int(AppProject->m_ClipStart / kMicrosPerSecond) : 0);
    });
    miGoClipStop = add(QStringLiteral("Go to Clip End"), {Qt::Key_End}, [this] {
        GoToSecond(TrackBar1->SelEnd() != 0 ? TrackBar1->SelEnd() : TrackBar1->Max());
    });
    miSetClipStart =
        add(QStringLiteral("Set Clip Start Here"), {Qt::Key_I}, [this] { btnClipStartClick(); });
    miSetClipStop =
        add(QStringLiteral("Set Clip Stop Here"), {Qt::Key_O}, [this] { btnClipStopClick(); });
}

void TfrmMain::GoToSecond(int seconds) {
    if (!AppProject) return;
    seconds = qBound(TrackBar1->Min(), seconds, TrackBar1->Max());
    if (seconds == TrackBar1->Position()) return;
    // The same steps as a key press on the bar.
    TrackBar1MouseDragBegin();
    TrackBar1->SetPosition(seconds);
    TrackBar1Change();
    TrackBar1MouseDragEnd();
}

void TfrmMain::StepSeconds(int delta) {
    GoToSecond(TrackBar1->Position() + delta);
}

void TfrmMain::StepFrame(int frames) {
    if (!AppProject) return;
    // A frame at a time is only seen standing still.
    if (FPlaying) btnPlayClick();
    const int seconds = Low.StepFrame(frames);
    if (seconds < 0) return;
    RemoveAppMessages(Handle(), kMsgPreviewSecond);
    FRewind = false;
    ShowPosition(seconds);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == palRender) Low.LayoutPreview();
        if (watched == palPlayer) palPlayerResize();
    } else if (event->type() == QEvent::LayoutRequest && watched == palPlayer) {
        palPlayerResize();
    } else if (event->type() == QEvent::LayoutRequest && watched == palControl) {
        FitControlSize();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::FormCreate() {
    ReloadHistory();
    FCurrentControl = -1;
    // The panels were made with the window, for the Tab order.
    auto* panels = static_cast<QVBoxLayout*>(palControl->layout());
    for (QWidget* panel : {static_cast<QWidget*>(frmHome), static_cast<QWidget*>(frmEdit),
                           static_cast<QWidget*>(frmWatermark)}) {
        panel->hide();
        panels->addWidget(panel);
    }
    ConnectPanels();
    // The player bar keeps its designed height unless a larger font needs
    // more room.
    palPlayer->setFixedHeight(qMax(kPlayerHeight, palPlayer->layout()->minimumSize().height()));
    setWindowTitle(ApplicationTitle);
    btnPlay->SetImage(&Images.Play);
    btnPoster->SetImage(&Images.Poster);
    btnClipStart->SetImage(&Images.Clip);
    btnClipStop->SetImage(&Images.Clip);
    btnClipReset->SetImage(&Images.Reset);
    SetCurrentControl(0);
    WebBrowser1->setUrl(HelpPageAddress());
    // The page's own widget is made as it loads, after the player bar: the
    // bar follows it, as it lies below it.
    if (QWidget* page = WebBrowser1->focusProxy())
        ChainTabOrder({page, btnPlay, TrackBar1, btnPoster, btnClipStart, btnClipReset,
                       btnClipStop});
}

// The panels know nothing of each other or of this window: what one of them
// changes reaches the others through the connections made here, once.
void TfrmMain::ConnectPanels() {
    frmHome->SetPreviewWindows(RenderHandle(), Handle());
    connect(frmHome, &TfrmHome::SwitchPanel, this, &TfrmMain::SetCurrentControl);
    connect(frmEdit, &TfrmEdit::SwitchPanel, this, &TfrmMain::SetCurrentControl);
    connect(frmWatermark, &TfrmWatermark::SwitchPanel, this, &TfrmMain::SetCurrentControl);
    connect(frmHome, &TfrmHome::StartRequested, this, &TfrmMain::OnStart);
    connect(frmHome, &TfrmHome::ProjectLoaded, this, &TfrmMain::OnTaskChanged);
    connect(frmHome, &TfrmHome::ImportAttempted, this, &TfrmMain::ReloadHistory);
    // A new output size moves and fits the watermark and the advertisement.
    connect(frmHome, &TfrmHome::OutputSizeChanged, frmWatermark,
            &TfrmWatermark::OnVideoSizeChanged);
    // A crop (typed, dragged in the preview, by ratio) or a rotation: the
    // General panel names its "Original" entry and shows the output size,
    // which the Edit panel has already made follow the crop.
    connect(frmEdit, &TfrmEdit::VideoSizeChanged, frmHome, &TfrmHome::CheckCroped);
    connect(frmEdit, &TfrmEdit::VideoSizeChanged, frmHome, &TfrmHome::ShowOutputSize);
    connect(frmEdit, &TfrmEdit::VideoSizeChanged, frmWatermark, &TfrmWatermark::OnVideoSizeChanged);
}

QUrl TfrmMain::HelpPageAddress() {
    QUrl address = QUrl::fromLocalFile(ProgramFolder + QStringLiteral("Help/index.html"));
    QString folder = AppSettings ? FieldText(AppSettings->m_szFolder) : QString();
    // The page reads the output folder from its query.
    address.setQuery(QStringLiteral("folder=") + UrlEscape(folder));
    return address;
}

HWND TfrmMain::Handle() const {
    return FHandle ? FHandle->Handle() : 0;
}

HWND TfrmMain::RenderHandle() const {
    return FRenderHandle ? FRenderHandle->Handle() : 0;
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmMain::FormShow() {
    Low.SetMainWindow(Handle());
    if (FCheckUpdate) return;
    FCheckUpdate = true;
    if (AppSettings && !AppSettings->m_DisableUpdate &&
        !ProductString(kProductUpdatePage).isEmpty())
        Low.CheckForUpdate(&AppProductInfo, u"reelpage", Handle(), kMsgUpdateVersion);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit Closed();
}

void TfrmMain::SetCurrentControl(int CurrentControl) {
    if (CurrentControl == FCurrentControl) return;
    const int previous = FCurrentControl;
    FCurrentControl = CurrentControl;
    QWidget* panels[3] = {frmHome, frmEdit, frmWatermark};
    // The preview's modes follow the current panel, not the panels' Qt
    // visibility, which also changes when the main window hides for an
    // encoding. The old mode ends before the new one begins.
    if (previous == 1) frmEdit->FormHide();
    if (previous == 2) frmWatermark->HidePanel();
    // The new panel first, so the side area is never empty.
    if (CurrentControl >= 0 && CurrentControl < 3) panels[CurrentControl]->setVisible(true);
    for (int i = 0; i < 3; ++i)
        panels[i]->setVisible(i == CurrentControl);
    if (CurrentControl == 1) frmEdit->FormShow();
    miHome->setChecked(CurrentControl == 0);
    miEdit->setChecked(CurrentControl == 1);
    miWater->setChecked(CurrentControl == 2);
    if (CurrentControl == 2) frmWatermark->ShowPanel();
    FitControlSize();
}

// The column is as wide as the widest panel needs at the current font (a
// larger system font widens labels and fields), never narrower than designed;
// one width for all three, so switching panels does not move the preview.
// A layout's least height leaves out text that wraps to the width it will be
// given, so a small window squashed the panels' controls: the column asks
// for the height the panel shown needs at its width.
void TfrmMain::FitControlSize() {
    const QWidget* panels[] = {frmHome, frmEdit, frmWatermark};
    int width = kControlWidth;
    for (const QWidget* panel : panels)
        if (panel) width = qMax(width, panel->minimumSizeHint().width());
    SetColumnWidth(palControl, kControlWidth, width);
    for (const QWidget* panel : panels) {
        if (!panel || !panel->isVisibleTo(palControl)) continue;
        const int needed = qMax(panel->minimumSizeHint().height(),
                                panel->hasHeightForWidth() ? panel->heightForWidth(width) : 0);
        if (needed > 0 && needed != palControl->minimumHeight())
            palControl->setMinimumHeight(needed);
    }
}

void TfrmMain::ReloadHistory() {
    const QList<QAction*> items = miHistory->actions();
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        miHistory->removeAction(*it);
        delete *it;
    }
    const QString projectFile =
        AppProject && AppProjectMedia ? FieldText(AppProjectMedia->m_szFileName) : QString();
    int count = Low.GetHistoryCount();
    // (title, file) of each entry shown.
    QList<std::pair<QString, QString>> entries;
    for (int index = 0; index < count && entries.size() < kHistoryItems; ++index) {
        const MediaInfo* entry = Low.GetHistoryItem(index);
        if (!entry || entry->m_bVideoStream == 0) continue;
        QString fileName = FieldText(entry->m_szFileName);
        if (AppProject && AppProjectMedia && fileName == projectFile) continue;
        entries.append({FieldText(entry->m_szName), fileName});
    }
    QHash<QString, int> titles;
    for (const auto& [title, fileName] : entries)
        ++titles[title];
    for (const auto& [title, fileName] : entries) {
        // Entries of the same title are told apart by their folders.
        const QString caption =
            titles.value(title) > 1
                ? QStringLiteral("%1 (%2)").arg(
                      title, QDir::toNativeSeparators(QFileInfo(fileName).path()))
                : title;
        QAction* item = miHistory->addAction(MenuText(caption));
        item->setToolTip(fileName);
        item->setStatusTip(fileName);
        connect(item, &QAction::triggered, this, [this, item] { None1Click(item); });
    }
    if (entries.isEmpty()) {
        QAction* none = miHistory->addAction(QStringLiteral("None"));
        none->setEnabled(false);
    }
}

void TfrmMain::None1Click(QAction* item) {
    QString fileName = item->toolTip();
    SetCurrentControl(0);
    frmHome->AddFile(fileName);
}

void TfrmMain::OnTaskChanged() {
    // Reports of the session the new project replaced may still be queued;
    // they would move the new bar or mark it as played to the end.
    RemoveAppMessages(Handle(), kMsgPreviewSecond);
    RemoveAppMessages(Handle(), kMsgPreviewEnded);
    FPlaying = false;
    FRewind = false;
    btnPlay->SetImage(&Images.Play);
    btnPlay->setEnabled(true);
    btnPoster->setEnabled(true);
    TrackBar1->setEnabled(true);
    for (QLabel* label : {lblPlayPosition, lblClipStart, lblDuration, lblClipStop})
        label->setEnabled(true);

    int64_t duration = AppProjectMedia ? AppProjectMedia->m_Duration : 0;
    TrackBar1->SetMax(int(duration / kMicrosPerSecond));
    // Position and length show as soon as the video is there, not only
    // once it plays.
    ShowPosition(0);
    UpdateClipRange();

    for (QAction* item : {miHome, miEdit, miWater, FileInformation1})
        item->setEnabled(true);
    for (QAction* item : miPlayback->actions())
        item->setEnabled(true);

    if (WebBrowser1 && WebBrowser1->isVisibleTo(palRender)) {
        // From now on the engine's render window is all palRender shows; the
        // page and its renderer go away.
        WebBrowser1->hide();
        WebBrowser1->deleteLater();
        WebBrowser1 = nullptr;
        FHelpPage = nullptr;
    }
}

void TfrmMain::UpdateClipRange() {
    if (!AppProject || !AppProjectMedia) return;
    int start = int(AppProject->m_ClipStart / kMicrosPerSecond);
    int stop = int(AppProject->m_ClipStop / kMicrosPerSecond);
    int duration = int(AppProjectMedia->m_Duration / kMicrosPerSecond);
    if (stop >= duration) {
        // A stop at or after the end means to the end.
        stop = 0;
        AppProject->m_ClipStop = 0;
    }
    // The labels always say where the clip starts and stops and how long it
    // is: without a clip that is the whole video, from 00:00 to its end.
    lblClipStart->setText(SecondsToText(start));
    lblClipStop->setText(SecondsToText(stop != 0 ? stop : duration));
    lblDuration->setText(SecondsToText((stop != 0 ? stop : duration) - start));
    if (stop != 0)
        TrackBar1->SetSelection(start, stop);
    else if (start != 0)
        TrackBar1->SetSelection(start, duration);
    else
        TrackBar1->SetSelection(0, 0);
    palPlayerResize();
    btnClipStart->setEnabled(TrackBar1->Position() < TrackBar1->Max());
    btnClipStop->setEnabled(TrackBar1->Position() != 0);
    btnClipReset->setEnabled(start != 0 || stop != 0);
}

void TfrmMain::OnPosition(int seconds) {
    // The thumb under the user's mouse belongs to the user; the drag's own
    // seeks report the position it already shows.
    if (TrackBar1->MouseDragging()) return;
    ShowPosition(seconds);
}

void TfrmMain::ShowPosition(int seconds) {
    // The bar's range is whole seconds of the video; a report past it (sound
    // longer than the picture) shows as the end.
    TrackBar1->SetPosition(qBound(TrackBar1->Min(), seconds, TrackBar1->Max()));
    btnClipStart->setEnabled(TrackBar1->Position() < TrackBar1->Max());
    btnClipStop->setEnabled(TrackBar1->Position() != 0);
    lblPlayPosition->setText(PositionToText(TrackBar1->Position(), TrackBar1->Max()));
}

void TfrmMain::OnPlayStopped() {
    FPlaying = false;
    FRewind = true;
    btnPlay->SetImage(&Images.Play);
}

void TfrmMain::btnPlayClick() {
    if (!AppProject) return;
    if (FPlaying) {
        FPlaying = false;
        Low.Pause();
        btnPlay->SetImage(&Images.Play);
        return;
    }
    int position = TrackBar1->Position();
    int selStart = TrackBar1->SelStart();
    int selEnd = TrackBar1->SelEnd();
    if (position < selStart || (selEnd != 0 && position >= selEnd)) {
        // Playing always starts inside the clip. Reports of the old position
        // still queued would pull the thumb back out of it.
        RemoveAppMessages(Handle(), kMsgPreviewSecond);
        Low.Seek(selStart);
        FRewind = false;
        ShowPosition(selStart);
    } else if (FRewind) {
        // Played to the end: the engine starts again at the clip start by
        // itself; the bar goes there with it.
        RemoveAppMessages(Handle(), kMsgPreviewSecond);
        FRewind = false;
        ShowPosition(int(AppProject->m_ClipStart / kMicrosPerSecond));
    }
    FPlaying = true;
    Low.Play();
    btnPlay->SetImage(&Images.Pause);
}

void TfrmMain::btnClipStartClick() {
    if (!AppProject || TrackBar1->Position() >= TrackBar1->Max()) return;
    // In 64 bits: seconds x 1,000,000 leaves 32 bits after 35:47.
    AppProject->m_ClipStart = int64_t(TrackBar1->Position()) * kMicrosPerSecond;
    // A stop of 0 (to the end) is cleared too, which changes nothing.
    if (AppProject->m_ClipStart >= AppProject->m_ClipStop) AppProject->m_ClipStop = 0;
    UpdateClipRange();
    Low.ApplyClipRange();
}

void TfrmMain::btnClipStopClick() {
    if (!AppProject || TrackBar1->Position() == 0) return;
    AppProject->m_ClipStop = int64_t(TrackBar1->Position()) * kMicrosPerSecond;
    if (AppProject->m_ClipStart >= AppProject->m_ClipStop) AppProject->m_ClipStart = 0;
    UpdateClipRange();
    Low.ApplyClipRange();
}

void TfrmMain::btnClipResetClick() {
    if (!AppProject) return;
    AppProject->m_ClipStart = 0;
    AppProject->m_ClipStop = 0;
    UpdateClipRange();
    Low.ApplyClipRange();
}

void TfrmMain::TrackBar1MouseDragBegin() {
    RemoveAppMessages(Handle(), kMsgPreviewSecond);
    Low.BeginSeekDrag();
}

void TfrmMain::TrackBar1Change() {
    // A position the preview reported before this seek must not move the
    // thumb back afterwards.
    RemoveAppMessages(Handle(), kMsgPreviewSecond);
    btnClipStart->setEnabled(TrackBar1->Position() < TrackBar1->Max());
    btnClipStop->setEnabled(TrackBar1->Position() != 0);
    lblPlayPosition->setText(PositionToText(TrackBar1->Position(), TrackBar1->Max()));
    // A seek clears the engine's rewind: Play goes on from here.
    FRewind = false;
    Low.Seek(TrackBar1->Position());
}

void TfrmMain::TrackBar1MouseDragEnd() {
    Low.EndSeekDrag();
}

void TfrmMain::OnStart() {
    hide();
    auto* tasklist = new TfrmTasklist(nullptr);
    tasklist->move(frameGeometry().center() - tasklist->rect().center());
    // Queued: the next window opens once the encoding window has gone.
    connect(
        tasklist, &TfrmTasklist::Finished, this,
        [this](bool success) { success ? OnPublic() : OnReplay(); }, Qt::QueuedConnection);
    tasklist->show();
    tasklist->InitForm();
}

void TfrmMain::OnPublic() {
    auto* publish = new TfrmPublish(nullptr);
    // Publishing takes the place of this window, maximised if it was.
    publish->setWindowState(windowState());
    connect(publish, &TfrmPublish::Finished, this, &TfrmMain::OnReplay, Qt::QueuedConnection);
    publish->show();
    publish->InitForm();
}

void TfrmMain::OnReplay() {
    show();
    Low.FreeEncoding();
    // The new session starts paused at time 0; reports of the old one that
    // are still queued must not move the thumb or end its playing.
    RemoveAppMessages(Handle(), kMsgPreviewSecond);
    RemoveAppMessages(Handle(), kMsgPreviewEnded);
    Low.RestartPreview(RenderHandle(), Handle());
    FPlaying = false;
    FRewind = false;
    btnPlay->SetImage(&Images.Play);
    if (AppProject) {
        ShowPosition(0);
        UpdateClipRange();
    }
}

int64_t TfrmMain::WndProc(uint32_t msg, int64_t wParam, int64_t lParam) {
    switch (msg) {
    case kMsgPreviewSecond:
        OnPosition(int(wParam));
        break;
    case kMsgPreviewEnded:
        OnPlayStopped();
        break;
    case kMsgCropDragged:
        frmEdit->OnCropChanged();
        break;
    case kMsgWatermarkDragged:
        frmWatermark->OnWatermakPosChanged();
        break;
    case kMsgUpdateVersion:
        OnUpdateVersion(wParam, lParam);
        break;
    case kMsgOpenPublish:
        OnPublic();
        break;
    case kMsgReplay:
        OnReplay();
        break;
    case kMsgActivate:
        BringForward();
        break;
    case platform::kMsgCopyData: {
        const auto* copy = reinterpret_cast<const platform::CopyData*>(lParam);
        if (copy && copy->dwData == kCopyOpenFile && copy->cbData > 0) {
            BringForward();
            OpenFile(
                QString::fromUtf8(static_cast<const char*>(copy->lpData), qsizetype(copy->cbData)));
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

void TfrmMain::OnUpdateVersion(int64_t wParam, int64_t lParam) {
    // Both halves are unsigned 32-bit numbers, whatever sign they travelled with.
    uint64_t offered = (uint64_t(uint32_t(wParam)) << 32) | uint64_t(uint32_t(lParam));
    if (offered <= GetProgramVersion()) return;
    if (ShowMessage(this, QStringLiteral("New version detected, do you want to update?"),
                    ApplicationTitle, QMessageBox::Question,
                    QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        ShellOpen(ProductString(kProductUpdatePage));
}

void TfrmMain::BringForward() {
    // While the main window is hidden (encoding, publishing) the window that
    // stands in for it comes forward instead.
    QWidget* target = isVisible() ? this : nullptr;
    if (!target) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isWindow() && w->isVisible() && !qobject_cast<QMenu*>(w)) {
                target = w;
                break;
            }
    }
    if (!target) return;
    if (target->isMinimized()) target->showNormal();
    target->raise();
    target->activateWindow();
    Low.WriteLog("Brought to the front by another start of the program\n");
}

void TfrmMain::OpenFile(const QString& fileName) {
    if (fileName.isEmpty()) return;
    FPendingFile = fileName;
    // Never from inside the message that brought the file: the import runs
    // its own dialog loop.
    QTimer::singleShot(0, this, [this] { OpenPendingFile(); });
}

void TfrmMain::OpenPendingFile() {
    if (FPendingFile.isEmpty()) return;
    // An import replaces the project: not while encoding or publishing (the
    // main window is hidden) nor under a dialog, another import among them.
    if (!isVisible() || QApplication::activeModalWidget()) {
        if (!FPendingTimer) {
            FPendingTimer = new QTimer(this);
            FPendingTimer->setInterval(250);
            connect(FPendingTimer, &QTimer::timeout, this, [this] { OpenPendingFile(); });
        }
        FPendingTimer->start();
        return;
    }
    if (FPendingTimer) FPendingTimer->stop();
    const QString fileName = std::exchange(FPendingFile, QString());
    SetCurrentControl(0);
    frmHome->AddFile(fileName);
    const bool imported =
        AppProject && AppProjectMedia && FieldText(AppProjectMedia->m_szFileName) == fileName;
    Low.WriteLog(
        QStringLiteral("Import of %1 asked from outside the program: %2\n")
            .arg(fileName, imported ? QStringLiteral("imported") : QStringLiteral("not imported"))
            .toUtf8()
            .constData());
}

void TfrmMain::FileInformation1Click() {
    TfrmMediaInfo dialog(this);
    dialog.InitForm(AppProjectMedia);
    dialog.exec();
    frmHome->ChangeTitle(dialog.edTitle->text());
}

void TfrmMain::Settings1Click() {
    {
        TfrmOptions dialog(this);
        dialog.exec();
    }
    Low.SaveSettings();
    // The help page names the output folder; it may just have changed.
    if (FHelpPage && AppSettings)
        FHelpPage->runJavaScript(
            QStringLiteral("if (window.ShowFolder) ShowFolder(decodeURIComponent('%1'));")
                .arg(UrlEscape(FieldText(AppSettings->m_szFolder))));
}

void TfrmMain::HomePage1Click() {
    ShellOpen(ProductString(kProductHomePage));
}

void TfrmMain::About1Click() {
    auto* about = new TfrmAbout(this);
    about->exec();
}

void TfrmMain::HelpCommandClick(HelpCommand command) {
    switch (command) {
    case HelpCommand::AddFiles:
        frmHome->btnAddFileClick();
        break;
    case HelpCommand::Folder:
        if (AppSettings) ShellOpen(FieldText(AppSettings->m_szFolder));
        break;
    case HelpCommand::ChangeFolder:
        Settings1Click();
        break;
    }
}

} // namespace reelpage::app
