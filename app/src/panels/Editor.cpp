#include "panels/Editor.h"

#include "dialogs/Effect.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "ImageResource.h"
#include "controls/LinkLabel.h"
#include "LowInterface.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace reelpage::app {

namespace {

TGraphicsButton* MakeImageButton(QWidget* parent, const char* name, const QString& hint,
                                 const QImage* image, int width, int height,
                                 const QString& caption = QString()) {
    auto* button = new TGraphicsButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->SetImage(image);
    button->setText(caption);
    // The designed size, or larger where a larger font needs it.
    button->setFixedSize(QSize(width, height).expandedTo(button->ContentSize()));
    return button;
}

QSlider* MakeTrackBar(QWidget* parent, const char* name, int min, int max) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(min, max);
    bar->setSingleStep(1);
    bar->setTickPosition(QSlider::NoTicks);
    return bar;
}

QSpinBox* MakeSpin(QWidget* parent, const char* name) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    // Room for a picture side of five digits whatever the range is now.
    spin->setRange(0, 99999);
    spin->setMinimumWidth(spin->sizeHint().width());
    return spin;
}

} // namespace

TfrmEdit::TfrmEdit(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmEdit"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(8);

    CreateAdjustBox();
    layout->addWidget(gbAdjust);
    CreateCropBox();
    layout->addWidget(gbCrop);
    CreateRotateFlipBox();
    layout->addWidget(gbRotateFlip);
    layout->addStretch(1);

    btnReturn = MakeImageButton(this, "btnReturn", QStringLiteral("Close the edit panel"),
                                &Images.Return, 110, 32, QStringLiteral("Return"));
    connect(btnReturn, &QPushButton::clicked, this, [this] { btnReturnClick(); });
    layout->addWidget(btnReturn, 0, Qt::AlignLeft);

    // The dialog of the further effects needs the platform's newer controls.
    btnEffect->setVisible(Low.IsVistaOrLater() != 0);
    SetControlsEnabled(false);
}

void TfrmEdit::CreateAdjustBox() {
    gbAdjust = new QGroupBox(QStringLiteral("Adjust"), this);
    gbAdjust->setObjectName(QStringLiteral("gbAdjust"));
    auto* grid = new QGridLayout(gbAdjust);

    tbBrightness = MakeTrackBar(gbAdjust, "tbBrightness", -100, 100);
    btnResetBrightness = MakeImageButton(gbAdjust, "btnResetBrightness", QStringLiteral("Reset"),
                                         &Images.Reset, 25, 25);
    tbContrast = MakeTrackBar(gbAdjust, "tbContrast", -50, 50);
    btnResetContrast = MakeImageButton(gbAdjust, "btnResetContrast", QStringLiteral("Reset"),
                                       &Images.Reset, 25, 25);
    grid->addWidget(new QLabel(QStringLiteral("Brightness:"), gbAdjust), 0, 0);
    grid->addWidget(tbBrightness, 0, 1);
    grid->addWidget(btnResetBrightness, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Contrast:"), gbAdjust), 1, 0);
    grid->addWidget(tbContrast, 1, 1);
    grid->addWidget(btnResetContrast, 1, 2);
    grid->setColumnStretch(1, 1);

    btnEffect = new QPushButton(QStringLiteral("More ..."), gbAdjust);
    btnEffect->setObjectName(QStringLiteral("btnEffect"));
    grid->addWidget(btnEffect, 2, 1, 1, 2, Qt::AlignRight);

    connect(tbBrightness, &QSlider::valueChanged, this, [this] { StoreAdjustValues(); });
    connect(tbContrast, &QSlider::valueChanged, this, [this] { StoreAdjustValues(); });
    connect(btnResetBrightness, &QPushButton::clicked, this, [this] { btnResetBrightnessClick(); });
    connect(btnResetContrast, &QPushButton::clicked, this, [this] { btnResetContrastClick(); });
    connect(btnEffect, &QPushButton::clicked, this, [this] { btnEffectClick(); });
}

void TfrmEdit::CreateCropBox() {
    gbCrop = new QGroupBox(QStringLiteral("Crop"), this);
    gbCrop->setObjectName(QStringLiteral("gbCrop"));
    auto* box = new QVBoxLayout(gbCrop);
    auto* grid = new QGridLayout;

    spCropLeft = MakeSpin(gbCrop, "spCropLeft");
    spCropTop = MakeSpin(gbCrop, "spCropTop");
    spCropWidth = MakeSpin(gbCrop, "spCropWidth");
    spCropHeight = MakeSpin(gbCrop, "spCropHeight");
    grid->addWidget(new QLabel(QStringLiteral("Left:"), gbCrop), 0, 0);
    grid->addWidget(spCropLeft, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Top:"), gbCrop), 0, 2);
    grid->addWidget(spCropTop, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Width:"), gbCrop), 1, 0);
    grid->addWidget(spCropWidth, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Height:"), gbCrop), 1, 2);
    grid->addWidget(spCropHeight, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    lblClipAspect = new TLinkLabel(gbCrop);
    lblClipAspect->setObjectName(QStringLiteral("lblClipAspect"));
    connect(lblClipAspect, &TLinkLabel::OnLinkClick, this, &TfrmEdit::lblClipAspectLinkClick);
    grid->addWidget(lblClipAspect, 2, 1);
    box->addLayout(grid);

    auto* hint = new QLabel(QStringLiteral("You can drag the box to crop the video."), gbCrop);
    hint->setWordWrap(true);
    box->addWidget(hint);

    btnCropReset = MakeImageButton(gbCrop, "btnCropReset", QStringLiteral("Reset trim"),
                                   &Images.Reset, 90, 28, QStringLiteral("Reset"));
    box->addWidget(btnCropReset, 0, Qt::AlignRight);

    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    ClipAspect4x3 = PopupMenu3->addAction(QStringLiteral("4:3"));
    ClipAspect4x3->setObjectName(QStringLiteral("ClipAspect4x3"));
    ClipAspect4x3->setCheckable(true);
    ClipAspect16x9 = PopupMenu3->addAction(QStringLiteral("16:9"));
    ClipAspect16x9->setObjectName(QStringLiteral("ClipAspect16x9"));
    ClipAspect16x9->setCheckable(true);

    connect(spCropLeft, &QSpinBox::valueChanged, this, [this] { spCropLeftChange(); });
    connect(spCropTop, &QSpinBox::valueChanged, this, [this] { spCropTopChange(); });
    connect(spCropWidth, &QSpinBox::valueChanged, this, [this] { spCropWidthChange(); });
    connect(spCropHeight, &QSpinBox::valueChanged, this, [this] { spCropHeightChange(); });
    connect(btnCropReset, &QPushButton::clicked, this, [this] { btnCropResetClick(); });
    connect(ClipAspect4x3, &QAction::triggered, this, [this] { ApplyCropAspect(4, 3); });
    connect(ClipAspect16x9, &QAction::triggered, this, [this] { ApplyCropAspect(16, 9); });
}

void TfrmEdit::CreateRotateFlipBox() {
    // The doubled ampersand shows as one.
    gbRotateFlip = new QGroupBox(QStringLiteral("Rotate && Flip"), this);
    gbRotateFlip->setObjectName(QStringLiteral("gbRotateFlip"));
    auto* row = new QHBoxLayout(gbRotateFlip);
    struct Operation {
        TGraphicsButton** button;
        const char* name;
        const char* hint;
        const QImage* image;
        OrientationOp code;
    };
    const Operation all[] = {
        {&btnRotateLeft, "btnRotateLeft", "Rotate Left", &Images.RotateLeft, kRotateLeft},
        {&btnRotateRight, "btnRotateRight", "Rotate Right", &Images.RotateRight, kRotateRight},
        {&btnFlipHorizontal, "btnFlipHorizontal", "Flip Horizontal", &Images.FlipHorizontal,
         kFlipHorizontal},
        {&btnFlipVertical, "btnFlipVertical", "Flip Vertical", &Images.FlipVertical, kFlipVertical},
    };
    for (const Operation& op : all) {
        *op.button =
            MakeImageButton(gbRotateFlip, op.name, QString::fromLatin1(op.hint), op.image, 44, 36);
        const OrientationOp code = op.code;
        connect(*op.button, &QPushButton::clicked, this, [this, code] { ApplyRotateFlip(code); });
        row->addWidget(*op.button);
    }
    row->addStretch(1);
}

void TfrmEdit::SetControlsEnabled(bool enabled) {
    // Return stays usable: it is the way back without a project too.
    for (QWidget* w : {static_cast<QWidget*>(gbAdjust), static_cast<QWidget*>(gbCrop),
                       static_cast<QWidget*>(gbRotateFlip)})
        w->setEnabled(enabled);
}

void TfrmEdit::LoadCropControls() {
    const Project* p = AppProject;
    spCropTop->setRange(0, std::max(0, p->m_VideoHeight - 1));
    spCropHeight->setRange(1, std::max(1, p->m_VideoHeight));
    spCropLeft->setRange(0, std::max(0, p->m_VideoWidth - 1));
    spCropWidth->setRange(1, std::max(1, p->m_VideoWidth));
    spCropLeft->setValue(p->m_CropLeft);
    spCropTop->setValue(p->m_CropTop);
    spCropWidth->setValue(p->m_CropWidth);
    spCropHeight->setValue(p->m_CropHeight);
    lblClipAspect->SetCaption(AspectText(p->m_CropWidth, p->m_CropHeight, true));
}

void TfrmEdit::LoadAdjustControls() {
    const Project* p = AppProject;
    tbBrightness->setValue(p->m_Brightness);
    tbContrast->setValue(p->m_Contrast);
    btnResetBrightness->setEnabled(p->m_Brightness != 0);
    btnResetContrast->setEnabled(p->m_Contrast != 0);
}

void TfrmEdit::FormShow() {
    // The Edit menu is open before any import; without a project there is
    // nothing to show and no preview to switch.
    SetControlsEnabled(AppProject != nullptr);
    if (!AppProject) return;
    ChangingGuard guard(FChanging);
    LoadCropControls();
    LoadAdjustControls();
    Low.EnterCropMode();
}

void TfrmEdit::FormHide() {
    if (!AppProject) return;
    Low.LeaveCropMode();
}

// Both are called from outside the panel, possibly while one of its own
// handlers runs further up: they leave FChanging as they found it.
void TfrmEdit::OnCropChanged() {
    if (!AppProject) return;
    ChangingGuard guard(FChanging);
    UpdateCropControls();
}

void TfrmEdit::SetAdjustValues() {
    if (!AppProject) return;
    ChangingGuard guard(FChanging);
    LoadAdjustControls();
}

void TfrmEdit::UpdateCropControls() {
    const Project* p = AppProject;
    if (!p) return;
    const bool resized = SyncOutputSizeToCrop();
    spCropLeft->setValue(p->m_CropLeft);
    spCropTop->setValue(p->m_CropTop);
    spCropWidth->setValue(p->m_CropWidth);
    spCropHeight->setValue(p->m_CropHeight);
    lblClipAspect->SetCaption(AspectText(p->m_CropWidth, p->m_CropHeight, true));
    emit VideoSizeChanged();
    if (resized) Low.ApplyOutputSize();
}

bool TfrmEdit::SyncOutputSizeToCrop() {
    Project* p = AppProject;
    // "Original" is one rule wherever it is applied: a crop beyond the bound
    // is fitted with its aspect kept, never clamped side by side to the
    // General panel's spins (which would turn a 4K crop into a square).
    return p && reelpage::FollowCrop(*p);
}

void TfrmEdit::CropSpinChange(QSpinBox* spin, int32_t Project::*field, int32_t Project::*start,
                              int32_t Project::*length, int32_t Project::*limit) {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    p->*field = spin->value();
    // A changed edge shortens the box; it never moves it.
    if (p->*start + p->*length > p->*limit) p->*length = p->*limit - p->*start;
    Low.ApplyCrop();
    UpdateCropControls();
}

void TfrmEdit::spCropLeftChange() {
    CropSpinChange(spCropLeft, &Project::m_CropLeft, &Project::m_CropLeft, &Project::m_CropWidth,
                   &Project::m_VideoWidth);
}

void TfrmEdit::spCropTopChange() {
    CropSpinChange(spCropTop, &Project::m_CropTop, &Project::m_CropTop, &Project::m_CropHeight,
                   &Project::m_VideoHeight);
}

void TfrmEdit::spCropWidthChange() {
    CropSpinChange(spCropWidth, &Project::m_CropWidth, &Project::m_CropLeft, &Project::m_CropWidth,
                   &Project::m_VideoWidth);
}

void TfrmEdit::spCropHeightChange() {
    CropSpinChange(spCropHeight, &Project::m_CropHeight, &Project::m_CropTop,
                   &Project::m_CropHeight, &Project::m_VideoHeight);
}

void TfrmEdit::PrepareCropAspectMenu() {
    const Project* p = AppProject;
    if (!p) return;
    const int64_t w = p->m_CropWidth, h = p->m_CropHeight;
    const struct {
        QAction* item;
        int a, b;
    } items[] = {{ClipAspect4x3, 4, 3}, {ClipAspect16x9, 16, 9}};
    for (const auto& i : items) {
        const bool has = w * i.b == h * i.a;
        // A picture smaller than one ratio unit cannot take the ratio.
        const bool fits = p->m_VideoWidth >= i.a && p->m_VideoHeight >= i.b;
        i.item->setChecked(has);
        i.item->setEnabled(!has && fits);
    }
}

void TfrmEdit::lblClipAspectLinkClick() {
    if (!AppProject) return;
    PrepareCropAspectMenu();
    PopupMenu3->popup(lblClipAspect->mapToGlobal(QPoint(0, lblClipAspect->height())));
}

void TfrmEdit::ApplyCropAspect(int a, int b) {
    Project* p = AppProject;
    if (FChanging || !p || a <= 0 || b <= 0) return;
    // Fewer pixels than one ratio unit would leave a box of no size at all.
    if (p->m_VideoWidth < a || p->m_VideoHeight < b) return;
    ChangingGuard guard(FChanging);
    // The width rounded up to whole ratio units, then as many units fewer as
    // it takes for both sides to fit the picture.
    int n = (p->m_CropWidth + a - 1) / a;
    n = std::min({n, p->m_VideoWidth / a, p->m_VideoHeight / b});
    p->m_CropWidth = a * n;
    p->m_CropHeight = b * n;
    // The box moves back inside; it keeps its size.
    if (p->m_CropLeft + p->m_CropWidth > p->m_VideoWidth)
        p->m_CropLeft = p->m_VideoWidth - p->m_CropWidth;
    if (p->m_CropTop + p->m_CropHeight > p->m_VideoHeight)
        p->m_CropTop = p->m_VideoHeight - p->m_CropHeight;
    Low.ApplyCrop();
    UpdateCropControls();
}

void TfrmEdit::btnCropResetClick() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    p->m_CropLeft = 0;
    p->m_CropTop = 0;
    p->m_CropWidth = p->m_VideoWidth;
    p->m_CropHeight = p->m_VideoHeight;
    Low.ApplyCrop();
    UpdateCropControls();
}

void TfrmEdit::ApplyRotateFlip(OrientationOp code) {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    // The engine turns the crop box with the picture and, for a rotation,
    // swaps the picture and output sizes.
    const int32_t width = p->m_OutputWidth, height = p->m_OutputHeight;
    Low.RotateFlip(code);
    LoadCropControls();
    emit VideoSizeChanged();
    if (p->m_OutputWidth != width || p->m_OutputHeight != height) Low.ApplyOutputSize();
}

void TfrmEdit::StoreAdjustValues() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    p->m_Brightness = tbBrightness->value();
    p->m_Contrast = tbContrast->value();
    btnResetBrightness->setEnabled(p->m_Brightness != 0);
    btnResetContrast->setEnabled(p->m_Contrast != 0);
    Low.NotifyPreview(kCmdAdjustmentsChanged);
}

void TfrmEdit::ResetAdjust(TGraphicsButton* button, QSlider* bar, int32_t Project::*field) {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    button->setEnabled(false);
    // Moved under FChanging: the one redraw below is all the preview needs.
    bar->setValue(0);
    p->*field = 0;
    Low.NotifyPreview(kCmdAdjustmentsChanged);
}

void TfrmEdit::btnResetBrightnessClick() {
    ResetAdjust(btnResetBrightness, tbBrightness, &Project::m_Brightness);
}

void TfrmEdit::btnResetContrastClick() {
    ResetAdjust(btnResetContrast, tbContrast, &Project::m_Contrast);
}

void TfrmEdit::btnEffectClick() {
    if (!AppProject) return;
    {
        TfrmEffect dialog(window());
        connect(&dialog, &TfrmEffect::AdjustChanged, this, &TfrmEdit::SetAdjustValues);
        dialog.exec();
    }
    SetAdjustValues();
}

void TfrmEdit::btnReturnClick() {
    emit SwitchPanel(0);
}

} // namespace reelpage::app
