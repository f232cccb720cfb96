#pragma once
// The Edit panel, second of the main window's side panels: the crop
// rectangle, rotation and flips, brightness and contrast of the current
// project, and the door to the further effects. Every control edits the
// project in place and then tells the engine what changed; the panel keeps
// nothing itself.
//
// While the panel is the current one the preview is in crop mode (the whole
// source picture with a crop frame the user can drag). The main window
// switches the mode through FormShow and FormHide when the panel becomes or
// stops being current; Qt's show and hide events are no guide, since they
// also come when the main window hides for an encoding.
//
// What the other panels must follow (the crop, the output size that follows
// it with "Original", a rotation) leaves the panel as VideoSizeChanged; the
// main window connects it.
#include <QWidget>

#include <cstdint>

#include "Defines.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QSpinBox;

namespace reelpage::app {

class TGraphicsButton;
class TLinkLabel;

class TfrmEdit : public QWidget {
    Q_OBJECT
public:
    explicit TfrmEdit(QWidget* parent);

    // The panel became the current one: loads its controls from the project
    // and enters crop mode. Without a project it only disables its controls.
    void FormShow();
    // Another panel became current: crop mode ends.
    void FormHide();

    // The user dragged the crop frame in the preview (kMsgCropDragged); the
    // engine has already written the new rectangle.
    void OnCropChanged();
    // The Effects dialog changed the adjustments: the track bars and their
    // reset buttons follow brightness and contrast.
    void SetAdjustValues();

    // The common refresh after any crop change (FChanging set by the caller).
    void UpdateCropControls();
    // With "Original" chosen the output size follows the crop, by the one
    // rule of reelpage/output_size.h; true when it did.
    bool SyncOutputSizeToCrop();
    // Gives the crop box the ratio a:b: it keeps its width (rounded up to
    // whole ratio units) and position where it fits, and shrinks and moves
    // back inside the picture where it does not. A picture smaller than one
    // ratio unit leaves the box as it is.
    void ApplyCropAspect(int a, int b);
    // Checks and disables the ratio the crop box already has.
    void PrepareCropAspectMenu();
    void ApplyRotateFlip(OrientationOp code);

    // Handlers, callable as the controls call them.
    void spCropLeftChange();
    void spCropTopChange();
    void spCropWidthChange();
    void spCropHeightChange();
    void lblClipAspectLinkClick();
    void btnCropResetClick();
    void StoreAdjustValues();
    void btnResetBrightnessClick();
    void btnResetContrastClick();
    void btnEffectClick();
    void btnReturnClick();

    QGroupBox* gbAdjust = nullptr;
    QSlider* tbBrightness = nullptr;
    TGraphicsButton* btnResetBrightness = nullptr;
    QSlider* tbContrast = nullptr;
    TGraphicsButton* btnResetContrast = nullptr;
    QPushButton* btnEffect = nullptr;
    QGroupBox* gbCrop = nullptr;
    QSpinBox* spCropLeft = nullptr;
    QSpinBox* spCropTop = nullptr;
    QSpinBox* spCropWidth = nullptr;
    QSpinBox* spCropHeight = nullptr;
    TLinkLabel* lblClipAspect = nullptr;
    QMenu* PopupMenu3 = nullptr;
    QAction* ClipAspect4x3 = nullptr;
    QAction* ClipAspect16x9 = nullptr;
    TGraphicsButton* btnCropReset = nullptr;
    QGroupBox* gbRotateFlip = nullptr;
    TGraphicsButton* btnRotateLeft = nullptr;
    TGraphicsButton* btnRotateRight = nullptr;
    TGraphicsButton* btnFlipHorizontal = nullptr;
    TGraphicsButton* btnFlipVertical = nullptr;
    TGraphicsButton* btnReturn = nullptr;

signals:
    // "Return" asks for the General panel (0).
    void SwitchPanel(int CurrentControl);
    // The crop or the orientation changed, and with them perhaps the output
    // size; the project holds the new values. Raised before the engine is
    // told of a new output size, so that what follows it is in place then.
    void VideoSizeChanged();

private:
    void CreateAdjustBox();
    void CreateCropBox();
    void CreateRotateFlipBox();
    // The four spin ranges from the picture size, the spins from the crop
    // fields and the ratio label from the crop size.
    void LoadCropControls();
    void LoadAdjustControls();
    void SetControlsEnabled(bool enabled);
    // One crop spin edited: stores it into field, keeps the box inside the
    // picture by shortening length (start + length <= limit), and refreshes.
    void CropSpinChange(QSpinBox* spin, int32_t Project::*field, int32_t Project::*start,
                        int32_t Project::*length, int32_t Project::*limit);
    void ResetAdjust(TGraphicsButton* button, QSlider* bar, int32_t Project::*field);

    // Set while the panel writes its own controls or a handler runs, so that
    // programmatic changes never reach the project or the engine.
    bool FChanging = false;
};

} // namespace reelpage::app
