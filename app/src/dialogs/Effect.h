#pragma once
// The Effects dialog: every colour and filter parameter of the current
// project beyond the Edit panel's two, on eleven pages. A change is written
// into the project at once and the preview redrawn; there is nothing to
// cancel, "Close" only closes. The values live in the project; the dialog
// keeps no copy.
#include <QDialog>

#include <array>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;

namespace reelpage::app {

class TfrmEffect : public QDialog {
    Q_OBJECT
public:
    // The pages, in order.
    static constexpr int kPageCount = 11;
    // The track bars, in page order.
    static constexpr int kTrackBarCount = 20;

    explicit TfrmEffect(QWidget* parent);

    // The one handler for every track bar and "Expand Edge": stores all 21
    // controls into the project, redraws the preview, updates the reset
    // buttons and raises AdjustChanged.
    void OnAdjustChanged();
    // Each page's Reset is enabled while one of its parameters is not 0;
    // "Reset All" while any page's is.
    void UpdateResetButtons();
    // Reset of the page showing (whichever of the eleven was pressed).
    void btnResetClick(QPushButton* pressed);
    void btnResetAllClick();

    QTabWidget* PageControl1 = nullptr;
    // One button per page, its id the page's index.
    QButtonGroup* PageButtons = nullptr;
    QSlider* tbBrightness = nullptr;
    QSlider* tbContrast = nullptr;
    QSlider* tbHue = nullptr;
    QSlider* tbSaturation = nullptr;
    QSlider* tbLightness = nullptr;
    QSlider* tbRadius = nullptr;
    QCheckBox* cbxExpandEdge = nullptr;
    QSlider* tbRadius1 = nullptr;
    QSlider* tbAmount = nullptr;
    QSlider* tbHue1 = nullptr;
    QSlider* tbAmount1 = nullptr;
    QSlider* tbCyanRed = nullptr;
    QSlider* tbMagentaGreen = nullptr;
    QSlider* tbYellowBlue = nullptr;
    QSlider* tbHighlight = nullptr;
    QSlider* tbMidtone = nullptr;
    QSlider* tbShadow = nullptr;
    QSlider* tbExposure = nullptr;
    QSlider* tbDensity = nullptr;
    QSlider* tbWhite = nullptr;
    QSlider* tbBlack = nullptr;
    // The value each track bar stands at, in the order of TrackBars().
    std::array<QLabel*, kTrackBarCount> lblValues{};
    // btnReset[0] is the first page's "Reset" (btnReset1), and so on.
    std::array<QPushButton*, kPageCount> btnReset{};
    QPushButton* btnResetAll = nullptr;
    QPushButton* btnClose = nullptr;

    // The track bars in page order, and the page each one is on.
    std::array<QSlider*, kTrackBarCount> TrackBars() const;
    static int PageOfTrackBar(int index);

signals:
    // A change was stored: brightness or contrast may be new.
    void AdjustChanged();

private:
    QWidget* CreatePageRows();
    void LoadValues();
    // True while a parameter of the page is not 0.
    static bool PageChanged(int page);

    // Set while the dialog loads its controls from the project.
    bool FChanging = false;
};

} // namespace reelpage::app
