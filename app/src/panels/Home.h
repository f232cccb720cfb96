#pragma once
// The General panel, the first of the main window's side panels: where a
// video is imported and its output chosen (title, formats, frame size and how
// the picture is fitted into it). Every control edits the current project in
// place and tells the engine what changed; the panel keeps nothing itself.
// It reaches the main window and the other panels only through its signals,
// which the main window connects.
#include <QWidget>

#include <cstdint>

#include "Defines.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QTimer;

namespace reelpage::app {

class TCommandLinkButton;
class TGraphicsButton;
class TLinkLabel;
class TListViewEx;

class TfrmHome : public QWidget {
    Q_OBJECT
public:
    explicit TfrmHome(QWidget* parent);
    ~TfrmHome() override;

    // The windows a project's preview is made for: the picture area it is
    // drawn in and the window that hears its reports.
    void SetPreviewWindows(HWND renderParent, HWND notify);

    // Asks for a video file (the panel's window is the dialog's parent) and
    // imports it.
    void btnAddFileClick();
    // The import of one file.
    void AddFile(const QString& fileName);
    // Fills the panel from the current project.
    void LoadProject();
    // Asks for a caption file and adds it to the project's captions.
    void btnCaptionsClick();
    // Adds one caption file; a file that cannot be used is refused with a
    // message naming it. True when added.
    bool AddCaptions(const QString& fileName);
    // The captions tick: on, the project's captions go to the page and the
    // preview; off, none do.
    void cbxCaptionsClick(bool checked);
    // The title from the file information dialog.
    void ChangeTitle(const QString& title);
    // The first size entry says whether the picture is cropped.
    void CheckCroped();
    // The output size was changed elsewhere (the crop, a rotation): the
    // spins and the ratio show it; nothing is stored or applied.
    void ShowOutputSize();

    // Handlers, callable as the controls call them.
    void cbxFormatClick(int index);
    void cmbWebmCodecChange();
    void cmbResolutionChange();
    void spWidthChange();
    void spHeightChange();
    // Sets the aspect menu's items for the current size.
    void PrepareAspectMenu();
    void lblAspectLinkClick();
    void Aspect4x3Click();
    void Aspect16x9Click();
    void rgResizeMethodClick();

    TGraphicsButton* btnAddFile = nullptr;
    QLineEdit* edTitle = nullptr;
    QCheckBox* cbxCaptions = nullptr;
    QPushButton* btnCaptions = nullptr;
    QGroupBox* gbFormat = nullptr;
    QCheckBox* cbxWebm = nullptr;
    QComboBox* cmbWebmCodec = nullptr; // next to it: the WebM output's codec
    QCheckBox* cbxMp4 = nullptr;
    QCheckBox* cbxOgg = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    TListViewEx* lvSupport = nullptr;
    QGroupBox* gbResolution = nullptr;
    QComboBox* cmbResolution = nullptr;
    QSpinBox* spWidth = nullptr;
    QSpinBox* spHeight = nullptr;
    TLinkLabel* lblAspect = nullptr;
    QGroupBox* rgResizeMethod = nullptr;
    QButtonGroup* ResizeMethods = nullptr;
    TCommandLinkButton* btnEdit = nullptr;
    TCommandLinkButton* btnWater = nullptr;
    TGraphicsButton* btnStart = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Aspect4x3 = nullptr;
    QAction* Aspect16x9 = nullptr;

    // The file dialog's filter in the dialog's own notation.
    static QString OpenDialogFilter();

    // A typed title waits to be saved.
    bool TitleSavePending() const;

signals:
    // "Edit Video" (1) or "Business" (2) asks for another side panel.
    void SwitchPanel(int CurrentControl);
    // Start was pressed.
    void StartRequested();
    // A new project was loaded into the panel.
    void ProjectLoaded();
    // An import was tried, whatever came of it.
    void ImportAttempted();
    // The output size was changed here; the engine hears of it right after.
    void OutputSizeChanged();

private:
    void CreateFormatBox(QWidget* parent);
    void CreateResolutionBox(QWidget* parent);
    void edTitleChange(const QString& text);
    // Writes the title into the record; false without a project.
    bool StoreTitle(const QString& text);
    void SaveTitle();
    QCheckBox* FormatBox(int index) const;
    void ShowSupport();
    // The tick's text: the project's caption tracks by name.
    void ShowCaptions();
    void SizeChanged(int index);
    void SideChange(QSpinBox* spin, int32_t Project::*side);
    void SetAspectSize(int width, int height);

    // Set while the panel writes its own controls or a handler runs, so that
    // programmatic changes never reach the project and handlers never nest.
    bool FChanging = false;
    HWND FRenderParent = 0;
    HWND FNotify = 0;
    QTimer* FTitleTimer = nullptr;
    // The record whose typed title is still to be saved.
    MediaInfo* FTitleMedia = nullptr;
};

} // namespace reelpage::app
