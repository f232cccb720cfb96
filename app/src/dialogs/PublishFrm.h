#pragma once
// The publish window, opened after a successful encoding (OnPublic): the page
// template, the player options and an optional advertisement picture of the
// web page around the encoded video, shown live in a zoomable preview of the
// generated page. Every option change has the engine write the page anew.
// Closing it writes the last change first, then returns the program to
// editing (Finished).
#include <QWidget>

#include <cstdint>

#include "Defines.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QTimer;
template <typename T> class QFutureWatcher;
class QSpinBox;
class QWebEngineView;

namespace reelpage::app {

class TCommandLinkButton;
class TGraphicsButton;
class TLinkLabel;

class TfrmPublish : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPublish(QWidget* parent = nullptr);
    ~TfrmPublish() override;

    // Called once, right after the window was created and shown.
    void InitForm();

    // Has the engine write the page (generate: soon, off the interface
    // thread, changes in quick succession once) or only name it, and shows it.
    void RefreshPreview(bool generate);
    // A page is due or being written.
    bool Generating() const;
    void UpdateAdControls(bool hasAd, bool templateHasAd);
    // Zooms the preview only; the page is not written again.
    void SetZoom(int percent);
    int ZoomValue() const { return FZoomValue; }

    // Handlers, reachable for the keyboard-free paths of the tests.
    void cmbTemplatesChange();
    void cbxAutoplayClick();
    void cbxControlsClick();
    void cbxLoopClick();
    void btnAddAdClick();
    void btnDeleteAdClick();
    void seWidthAdChange(int value);
    void seHeightAdChange(int value);
    void edAdLinkExit();
    void lblOutputFolderLinkClick();
    void btnOpenClick();
    void btnZoomClick();
    // Marks the current zoom in the menu and opens it under the button.
    void btnZoomDropDownClick();

    // Left panel.
    QWidget* Panel1 = nullptr;
    TLinkLabel* lblOutputFolder = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cmbTemplates = nullptr;
    QCheckBox* cbxAutoplay = nullptr;
    QCheckBox* cbxControls = nullptr;
    QCheckBox* cbxLoop = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* edAd = nullptr;
    TGraphicsButton* btnAddAd = nullptr;
    TGraphicsButton* btnDeleteAd = nullptr;
    QLabel* Label11 = nullptr;
    QLineEdit* edAdLink = nullptr;
    QLabel* Label2 = nullptr;
    QSpinBox* seWidthAd = nullptr;
    QLabel* Label4 = nullptr;
    QSpinBox* seHeightAd = nullptr;
    QCheckBox* cbxKeepScaleAd = nullptr;
    QLabel* lblSizeHintAd = nullptr;
    TCommandLinkButton* btnOpen = nullptr;
    TGraphicsButton* btnFinish = nullptr;

    // Right panel.
    QWidget* Panel2 = nullptr;
    QWebEngineView* WebBrowser1 = nullptr;
    QWidget* Panel3 = nullptr;
    TGraphicsButton* btnZoom = nullptr;
    QSlider* tbZoom = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N125 = nullptr;
    QAction* N100 = nullptr;
    QAction* N75 = nullptr;
    QAction* N50 = nullptr;
    QAction* N25 = nullptr;

signals:
    // The window is closing and the page on disk has its last change:
    // publishing is over. Raised once.
    void Finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* CreateOptionsPanel();
    QWidget* CreatePreviewPanel();
    QGroupBox* CreateAdvertisementGroup(QWidget* parent);
    // A player option's field from its check box: -1 checked, 0 not.
    void PlayerOptionClick(QCheckBox* box, int32_t* field);
    void AdSideChange(int value, int32_t Project::*side, int32_t Project::*other,
                      int32_t Project::*imageSide, int32_t Project::*imageOther,
                      QSpinBox* otherEdit);

    void StartGeneration();
    void GenerationFinished();
    // Copies the current project to be edited here.
    void TakeProject();
    // Writes the options edited here into the project, unless a page is
    // being written from it.
    void CommitOptions();

    bool FChanging = false;
    int FZoomValue = 100;
    QTimer* FRefreshTimer = nullptr;
    QFutureWatcher<QString>* FGeneration = nullptr;
    // A change arrived while a page was being written.
    bool FPending = false;
    // Closing waits, hidden, for the page still to be written.
    bool FClosing = false;
    // Captions the job had to leave out are told once, with the first page.
    bool FCaptionsTold = false;
    bool FFinished = false;
    // The project as edited here, and the shared record it came from, which
    // follows it between pages.
    Project FProject{};
    Project* FSource = nullptr;
};

} // namespace reelpage::app
