#pragma once
// The main window: the side panels on the left (General, Edit, Watermark),
// the preview area with the player bar on the right, the menus, the recent
// files, and the handling of the engine's messages to the main window.
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <memory>

#include "Defines.h"
#include "panels/HelpPage.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;
class QWebEngineView;

namespace reelpage::app {

class TGraphicsButton;
class TMediaPlayTrackBar;
class TWindowHandle;
class TfrmEdit;
class TfrmHome;
class TfrmWatermark;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Shows side panel 0 (General), 1 (Edit) or 2 (Watermark).
    void SetCurrentControl(int CurrentControl);
    int CurrentControl() const { return FCurrentControl; }
    // Rebuilds the Recent submenu from the engine's history.
    void ReloadHistory();
    // A project was created and loaded into the General panel.
    void OnTaskChanged();
    // Start pressed: the encoding window stands in for the main window.
    void OnStart();
    // Encoding succeeded (the encoding window's Finished, or kMsgOpenPublish):
    // the publish window.
    void OnPublic();
    // Back to editing after encoding or publishing (their windows' Finished,
    // or kMsgReplay).
    void OnReplay();
    // Refreshes the clip labels, the selection and the clip buttons.
    void UpdateClipRange();
    // Imports a file named on the command line or handed over by a later
    // start, as the Import button does once that file is chosen: at once
    // when the window is free, else as soon as it is (after the encoding,
    // the publishing or the dialog in the way). A newer file replaces one
    // still waiting.
    void OpenFile(const QString& fileName);

    // Every message addressed to the main window's handle.
    int64_t WndProc(uint32_t msg, int64_t wParam, int64_t lParam);

    HWND Handle() const;
    HWND RenderHandle() const;

    // Address of the help page for the current output folder.
    static QUrl HelpPageAddress();

    bool Playing() const { return FPlaying; }
    bool DocumentComplete() const { return FHelpPage && FHelpPage->DocumentComplete(); }

    // Menus.
    QMenu* File1 = nullptr;
    QAction* miAddFile = nullptr;
    QAction* FileInformation1 = nullptr;
    QMenu* miHistory = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Option1 = nullptr;
    QAction* miHome = nullptr;
    QAction* miEdit = nullptr;
    QAction* miWater = nullptr;
    QMenu* Options1 = nullptr;
    QAction* Settings1 = nullptr;
    // The player's keys, one item each, so the menu lists them.
    QMenu* miPlayback = nullptr;
    QAction* miPlayPause = nullptr;
    QAction* miBack = nullptr;
    QAction* miForward = nullptr;
    QAction* miPreviousFrame = nullptr;
    QAction* miNextFrame = nullptr;
    QAction* miGoClipStart = nullptr;
    QAction* miGoClipStop = nullptr;
    QAction* miSetClipStart = nullptr;
    QAction* miSetClipStop = nullptr;
    QMenu* Help1 = nullptr;
    QAction* miHelp = nullptr;
    QAction* HomePage1 = nullptr;
    QAction* About1 = nullptr;

    // Layout.
    QWidget* palControl = nullptr;
    QWidget* palVideo = nullptr;
    QWidget* palRender = nullptr;
    QWidget* palPlayer = nullptr;
    QWebEngineView* WebBrowser1 = nullptr;

    // The player bar.
    TGraphicsButton* btnPlay = nullptr;
    TMediaPlayTrackBar* TrackBar1 = nullptr;
    QLabel* lblPlayPosition = nullptr;
    TGraphicsButton* btnPoster = nullptr;
    TGraphicsButton* btnClipStart = nullptr;
    QLabel* lblClipStart = nullptr;
    TGraphicsButton* btnClipReset = nullptr;
    QLabel* lblDuration = nullptr;
    TGraphicsButton* btnClipStop = nullptr;
    QLabel* lblClipStop = nullptr;
    QMenu* PopupMenu1 = nullptr;

    // The side panels.
    TfrmHome* frmHome = nullptr;
    TfrmEdit* frmEdit = nullptr;
    TfrmWatermark* frmWatermark = nullptr;

signals:
    // The user closed the main window: the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void ConnectPanels();
    void FormShow();
    QWidget* CreatePlayerBar(QWidget* parent);
    void palPlayerResize();
    void FitControlSize();
    void FileInformation1Click();
    void Settings1Click();
    void HomePage1Click();
    void About1Click();
    void None1Click(QAction* item);
    void HelpCommandClick(HelpCommand command);
    void OnUpdateVersion(int64_t wParam, int64_t lParam);
    void BringForward();
    void OpenPendingFile();
    void OnPosition(int seconds);
    void OnPlayStopped();
    void ShowPosition(int seconds);
    void btnPlayClick();
    void btnClipStartClick();
    void btnClipStopClick();
    void btnClipResetClick();
    void TrackBar1MouseDragBegin();
    void TrackBar1Change();
    void TrackBar1MouseDragEnd();
    void CreatePlaybackMenu();
    // Moves the bar to seconds as one user move of it (a seek).
    void GoToSecond(int seconds);
    void StepSeconds(int delta);
    void StepFrame(int frames);

    bool FPlaying = false;
    // The preview stopped at the end of the clip; the next Play starts again
    // at the clip start.
    bool FRewind = false;
    int FCurrentControl = -1;
    bool FCheckUpdate = false;
    THelpPage* FHelpPage = nullptr;
    QActionGroup* FPanelGroup = nullptr;
    QString FPendingFile;
    QTimer* FPendingTimer = nullptr;
    std::unique_ptr<TWindowHandle> FHandle;
    std::unique_ptr<TWindowHandle> FRenderHandle;
};

// The program's main window, once created.
extern QPointer<TfrmMain> frmMain;

} // namespace reelpage::app
