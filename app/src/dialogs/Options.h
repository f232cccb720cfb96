#pragma once
// The Options dialog: the program-wide defaults in the engine's Settings,
// changed in place the moment a control changes (there is no cancel; the main
// window saves them when the dialog has closed). They are copied into each
// project at import; the current project is not touched here.
#include <QDialog>
#include <QImage>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace reelpage::app {

class TGraphicsButton;
class TLinkLabel;
class TListViewEx;

class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent);

    // Handlers, reachable for the keyboard-free paths of the tests.
    void btnBrowseClick();
    // The publish folder as the browser chose it; false (and nothing stored)
    // for a path the settings' field cannot hold whole.
    bool SetFolder(const QString& folder);
    void cbxFormatClick(int index);
    void cmbWebmCodecChange();
    void cbxPlayerClick();
    void cmbResolutionChange();
    void spWidthChange();
    void spHeightChange();
    void lblAspectLinkClick();
    void PrepareAspectMenu();
    void Aspect4x3Click();
    void Aspect16x9Click();
    void cmbResizeChange();
    void btnImageClick();
    void btnDeleteClick();
    void cmbHPositionChange();
    void cmbVPositionChange();
    void tbTransparencyChange();
    void btnImageAdClick();
    void btnDeleteAdClick();
    void edAdLinkChange();
    void cmbTemplatesChange();
    void cbxUpdateClick();
    const QImage& TemplatePreview() const { return FImageTemplete; }

    QTabWidget* PageControl1 = nullptr;
    // General.
    QLineEdit* edFolder = nullptr;
    QPushButton* btnBrowse = nullptr;
    QCheckBox* cbxWebm = nullptr;
    QComboBox* cmbWebmCodec = nullptr; // next to it: the WebM output's codec
    QCheckBox* cbxMp4 = nullptr;
    QCheckBox* cbxOgg = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    TListViewEx* lvSupport = nullptr;
    QCheckBox* cbxAutoplay = nullptr;
    QCheckBox* cbxControls = nullptr;
    QCheckBox* cbxLoop = nullptr;
    // Output size.
    QComboBox* cmbResolution = nullptr;
    QSpinBox* spWidth = nullptr;
    QSpinBox* spHeight = nullptr;
    TLinkLabel* lblAspect = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Aspect4x3 = nullptr;
    QAction* Aspect16x9 = nullptr;
    QComboBox* cmbResize = nullptr;
    // Business.
    QLineEdit* edWatermark = nullptr;
    TGraphicsButton* btnImage = nullptr;
    TGraphicsButton* btnDelete = nullptr;
    QComboBox* cmbHPosition = nullptr;
    QComboBox* cmbVPosition = nullptr;
    QSlider* tbTransparency = nullptr;
    QLineEdit* edAd = nullptr;
    TGraphicsButton* btnImageAd = nullptr;
    TGraphicsButton* btnDeleteAd = nullptr;
    QLineEdit* edAdLink = nullptr;
    // Templates.
    QComboBox* cmbTemplates = nullptr;
    QLabel* imgTemplates = nullptr;
    // Performance.
    QCheckBox* cbxUpdate = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* CreateGeneralPage();
    QWidget* CreateSizePage();
    QWidget* CreateBusinessPage();
    QWidget* CreateTemplatesPage();
    QWidget* CreatePerformancePage();
    void LoadSettings();
    void ShowSize();
    void SetAspectSize(int width, int height);

    bool FChanging = false;
    QImage FImageTemplete;
};

} // namespace reelpage::app
