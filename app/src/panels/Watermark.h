#pragma once
// The Watermark panel, third of the main window's side panels: the picture
// the encoder draws over every frame (size, place, alignment, transparency)
// and the advertisement picture and link of the published page, all stored
// in the current project at once. While it is the current panel the preview
// is in watermark mode, where the watermark can also be dragged.
#include <QWidget>

#include <cstdint>

#include "Defines.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSlider;
class QSpinBox;

namespace reelpage::app {

class TGraphicsButton;
class TGraphicsGroupRadio;

// A w x h picture shown inside an ow x oh output: its own size when it fits,
// else shrunk with its ratio kept until it touches the frame.
QSize FitPictureIntoOutput(int32_t w, int32_t h, int32_t ow, int32_t oh);

class TfrmWatermark : public QWidget {
    Q_OBJECT
public:
    explicit TfrmWatermark(QWidget* parent);

    // The main window made it the current panel, or another one: the
    // preview's watermark mode follows.
    void ShowPanel();
    void HidePanel();

    // The user moved the watermark in the preview (kMsgWatermarkDragged).
    void OnWatermakPosChanged();
    // The output size changed.
    void OnVideoSizeChanged();

    // Handlers, reachable for the keyboard-free paths of the tests.
    void btnAddClick();
    // A picture file dropped on the panel: checked as a chosen one is, and
    // then the watermark. False when refused (the message has been shown).
    bool AddWatermarkFile(const QString& path);
    void btnDeleteClick();
    void btnAddAdClick();
    void btnDeleteAdClick();
    void AlignClick(TGraphicsGroupRadio* button);
    void seLeftChange();
    void seTopChange();
    void seWidthChange();
    void seHeightChange();
    void seWidthAdChange();
    void seHeightAdChange();
    void tbTransparencyChange();
    void edAdLinkChange();
    void RealignWatermark();
    void FitAdToOutput();

    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* edWatermark = nullptr;
    TGraphicsButton* btnAdd = nullptr;
    TGraphicsButton* btnDelete = nullptr;
    QSlider* tbTransparency = nullptr;
    QSpinBox* seLeft = nullptr;
    QSpinBox* seTop = nullptr;
    QSpinBox* seWidth = nullptr;
    QSpinBox* seHeight = nullptr;
    QCheckBox* cbxKeepScale = nullptr;
    TGraphicsGroupRadio* btnLeft = nullptr;
    TGraphicsGroupRadio* btnCenter = nullptr;
    TGraphicsGroupRadio* btnRight = nullptr;
    TGraphicsGroupRadio* btnTop = nullptr;
    TGraphicsGroupRadio* btnCenterd = nullptr;
    TGraphicsGroupRadio* btnBottom = nullptr;
    QLabel* lblSizeHint = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* edAd = nullptr;
    TGraphicsButton* btnAddAd = nullptr;
    TGraphicsButton* btnDeleteAd = nullptr;
    QLineEdit* edAdLink = nullptr;
    QSpinBox* seWidthAd = nullptr;
    QSpinBox* seHeightAd = nullptr;
    QCheckBox* cbxKeepScaleAd = nullptr;
    QLabel* lblSizeHintAd = nullptr;
    TGraphicsButton* btnReturn = nullptr;

signals:
    // "Return" asks for the General panel (0).
    void SwitchPanel(int CurrentControl);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void UseWatermarkPicture(const QString& path, int w, int h);
    void CreateWatermarkGroup();
    void CreateAdGroup();
    void ShowAlignButtons();
    void EnableWatermarkControls(bool on);
    void EnableAdControls(bool on);
    void ShowWatermarkSizes();
    void ShowAdSizes();
    // One side typed with the other following the picture's ratio when
    // `keep` is on; false when nothing was stored.
    bool SideChange(QSpinBox* edit, int32_t* side, int32_t* other, int32_t imageSide,
                    int32_t imageOther, QSpinBox* otherEdit, bool keep);

    bool FChanging = false;
};

} // namespace reelpage::app
