#include "panels/Watermark.h"

#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "controls/GraphicsGroupRadio.h"
#include "ImageResource.h"
#include "LowInterface.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <iterator>

namespace reelpage::app {

namespace {

// side x numerator div denominator, truncated and kept within 32 bits; a
// denominator of 0 (a picture size never read) gives no ratio: 0.
int32_t ScaleSide(int32_t side, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return 0;
    const int64_t scaled = int64_t(side) * numerator / denominator;
    return int32_t(std::clamp<int64_t>(scaled, INT32_MIN, INT32_MAX));
}

// Where an aligned side starts: at 0, centred, or at the far end; any other
// code keeps `current`.
int32_t AlignedStart(int32_t code, int32_t outer, int32_t inner, int32_t current) {
    switch (code) {
    case kAlignStart:
        return 0;
    case kAlignCenter:
        return int32_t((int64_t(outer) - inner) / 2);
    case kAlignEnd:
        return int32_t(std::clamp<int64_t>(int64_t(outer) - inner, INT32_MIN, INT32_MAX));
    default:
        return current;
    }
}

QSpinBox* MakeSpin(QWidget* parent, const char* name, int min, int max) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(min, max);
    // Each taken value redraws the preview: taken when typing ends, not at
    // every digit.
    spin->setKeyboardTracking(false);
    return spin;
}

TGraphicsButton* MakePictureButton(QWidget* parent, const char* name, const QImage* image,
                                   const QString& hint) {
    auto* button = new TGraphicsButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->SetImage(image);
    button->setToolTip(hint);
    button->setFixedSize(26, 24);
    return button;
}

} // namespace

QSize FitPictureIntoOutput(int32_t w, int32_t h, int32_t ow, int32_t oh) {
    if (w <= ow && h <= oh) return QSize(w, h);
    // A picture side of 0 has no ratio to keep (the check refuses such
    // pictures; a record may still hold one).
    if (w <= 0 || h <= 0) return QSize(std::min(w, ow), std::min(h, oh));
    if (int64_t(oh) * w < int64_t(ow) * h) return QSize(ScaleSide(oh, w, h), oh);
    return QSize(ow, ScaleSide(ow, h, w));
}

TfrmWatermark::TfrmWatermark(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmWatermark"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    CreateWatermarkGroup();
    CreateAdGroup();
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addStretch(1);
    btnReturn = new TGraphicsButton(this);
    btnReturn->setObjectName(QStringLiteral("btnReturn"));
    btnReturn->setText(QStringLiteral("    Return"));
    btnReturn->SetImage(&Images.Return);
    btnReturn->setMinimumHeight(32);
    connect(btnReturn, &QPushButton::clicked, this, [this] { emit SwitchPanel(0); });
    layout->addWidget(btnReturn, 0, Qt::AlignRight);
    EnableWatermarkControls(false);
    EnableAdControls(false);
    lblSizeHintAd->setText(QStringLiteral("Video output size:0*0, Watermark image size:0*0"));
    lblSizeHint->setText(QStringLiteral("Video output size:0*0, Watermark image size:0*0"));
    for (QWidget* w : {static_cast<QWidget*>(btnAdd), static_cast<QWidget*>(btnAddAd)})
        w->setEnabled(false);
}

void TfrmWatermark::CreateWatermarkGroup() {
    GroupBox1 = new QGroupBox(QStringLiteral("Watermark or Logo"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(GroupBox1);
    grid->addWidget(new QLabel(QStringLiteral("Picture:"), GroupBox1), 0, 0);
    auto* row = new QHBoxLayout;
    edWatermark = new QLineEdit(GroupBox1);
    edWatermark->setObjectName(QStringLiteral("edWatermark"));
    edWatermark->setReadOnly(true);
    btnAdd = MakePictureButton(GroupBox1, "btnAdd", &Images.AddFile,
                               QStringLiteral("Select Watermark Image"));
    btnDelete = MakePictureButton(GroupBox1, "btnDelete", &Images.Delete,
                                  QStringLiteral("Remove Watermark"));
    row->addWidget(edWatermark, 1);
    row->addWidget(btnAdd);
    row->addWidget(btnDelete);
    grid->addLayout(row, 0, 1, 1, 3);

    grid->addWidget(new QLabel(QStringLiteral("Transparency:"), GroupBox1), 1, 0);
    tbTransparency = new QSlider(Qt::Horizontal, GroupBox1);
    tbTransparency->setObjectName(QStringLiteral("tbTransparency"));
    tbTransparency->setRange(0, 200);
    tbTransparency->setTickPosition(QSlider::NoTicks);
    grid->addWidget(tbTransparency, 1, 1, 1, 3);

    seLeft = MakeSpin(GroupBox1, "seLeft", INT_MIN, INT_MAX);
    seTop = MakeSpin(GroupBox1, "seTop", INT_MIN, INT_MAX);
    seWidth = MakeSpin(GroupBox1, "seWidth", 0, 0);
    seHeight = MakeSpin(GroupBox1, "seHeight", 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Left:"), GroupBox1), 2, 0);
    grid->addWidget(seLeft, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Top:"), GroupBox1), 2, 2);
    grid->addWidget(seTop, 2, 3);
    grid->addWidget(new QLabel(QStringLiteral("Width:"), GroupBox1), 3, 0);
    grid->addWidget(seWidth, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Height:"), GroupBox1), 3, 2);
    grid->addWidget(seHeight, 3, 3);
    cbxKeepScale = new QCheckBox(QStringLiteral("Keep aspect ratio"), GroupBox1);
    cbxKeepScale->setObjectName(QStringLiteral("cbxKeepScale"));
    cbxKeepScale->setChecked(true);
    grid->addWidget(cbxKeepScale, 4, 1, 1, 3);

    struct Align {
        TGraphicsGroupRadio** button;
        const char* name;
        const QImage* image;
        const char* hint;
        int group;
    };
    const Align aligns[] = {
        {&btnLeft, "btnLeft", &Images.AlignLeft, "Align to left", 1},
        {&btnCenter, "btnCenter", &Images.AlignCenter, "Align to center", 1},
        {&btnRight, "btnRight", &Images.AlignRight, "Align to right", 1},
        {&btnTop, "btnTop", &Images.AlignTop, "Align to top", 2},
        {&btnCenterd, "btnCenterd", &Images.AlignCentered, "Align to Center", 2},
        {&btnBottom, "btnBottom", &Images.AlignBottom, "Align to bottom", 2},
    };
    QHBoxLayout* rows[2] = {new QHBoxLayout, new QHBoxLayout};
    for (const Align& a : aligns) {
        auto* button = new TGraphicsGroupRadio(GroupBox1);
        button->setObjectName(QString::fromLatin1(a.name));
        button->SetImage(a.image);
        button->SetImageLeft(4);
        button->SetGroupIndex(a.group);
        button->SetAllowAllUp(true);
        button->setToolTip(QString::fromLatin1(a.hint));
        connect(button, &QToolButton::clicked, this, [this, button] { AlignClick(button); });
        rows[a.group - 1]->addWidget(button);
        *a.button = button;
    }
    grid->addWidget(new QLabel(QStringLiteral("Horizontal:"), GroupBox1), 5, 0);
    grid->addLayout(rows[0], 5, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Vertical:"), GroupBox1), 6, 0);
    grid->addLayout(rows[1], 6, 1, 1, 3);
    lblSizeHint = new QLabel(GroupBox1);
    lblSizeHint->setObjectName(QStringLiteral("lblSizeHint"));
    lblSizeHint->setWordWrap(true);
    grid->addWidget(lblSizeHint, 7, 0, 1, 4);

    connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
    connect(tbTransparency, &QSlider::valueChanged, this, [this] { tbTransparencyChange(); });
    connect(seLeft, &QSpinBox::valueChanged, this, [this] { seLeftChange(); });
    connect(seTop, &QSpinBox::valueChanged, this, [this] { seTopChange(); });
    connect(seWidth, &QSpinBox::valueChanged, this, [this] { seWidthChange(); });
    connect(seHeight, &QSpinBox::valueChanged, this, [this] { seHeightChange(); });
}

void TfrmWatermark::CreateAdGroup() {
    GroupBox2 = new QGroupBox(QStringLiteral("Advertisement"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    auto* grid = new QGridLayout(GroupBox2);
    grid->addWidget(new QLabel(QStringLiteral("Picture:"), GroupBox2), 0, 0);
    auto* row = new QHBoxLayout;
    edAd = new QLineEdit(GroupBox2);
    edAd->setObjectName(QStringLiteral("edAd"));
    edAd->setReadOnly(true);
    btnAddAd = MakePictureButton(GroupBox2, "btnAddAd", &Images.AddFile, QString());
    btnDeleteAd = MakePictureButton(GroupBox2, "btnDeleteAd", &Images.Delete, QString());
    row->addWidget(edAd, 1);
    row->addWidget(btnAddAd);
    row->addWidget(btnDeleteAd);
    grid->addLayout(row, 0, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Link:"), GroupBox2), 1, 0);
    edAdLink = new QLineEdit(GroupBox2);
    edAdLink->setObjectName(QStringLiteral("edAdLink"));
    // The project's field keeps 1024 characters with its terminating zero.
    edAdLink->setMaxLength(1023);
    grid->addWidget(edAdLink, 1, 1, 1, 3);
    seWidthAd = MakeSpin(GroupBox2, "seWidthAd", 0, 0);
    seHeightAd = MakeSpin(GroupBox2, "seHeightAd", 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Width:"), GroupBox2), 2, 0);
    grid->addWidget(seWidthAd, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Height:"), GroupBox2), 2, 2);
    grid->addWidget(seHeightAd, 2, 3);
    cbxKeepScaleAd = new QCheckBox(QStringLiteral("Keep aspect ratio"), GroupBox2);
    cbxKeepScaleAd->setObjectName(QStringLiteral("cbxKeepScaleAd"));
    cbxKeepScaleAd->setChecked(true);
    grid->addWidget(cbxKeepScaleAd, 3, 1, 1, 3);
    lblSizeHintAd = new QLabel(GroupBox2);
    lblSizeHintAd->setObjectName(QStringLiteral("lblSizeHintAd"));
    lblSizeHintAd->setWordWrap(true);
    grid->addWidget(lblSizeHintAd, 4, 0, 1, 4);

    connect(btnAddAd, &QPushButton::clicked, this, [this] { btnAddAdClick(); });
    connect(btnDeleteAd, &QPushButton::clicked, this, [this] { btnDeleteAdClick(); });
    connect(edAdLink, &QLineEdit::textChanged, this, [this] { edAdLinkChange(); });
    connect(seWidthAd, &QSpinBox::valueChanged, this, [this] { seWidthAdChange(); });
    connect(seHeightAd, &QSpinBox::valueChanged, this, [this] { seHeightAdChange(); });
}

void TfrmWatermark::ShowPanel() {
    Project* p = AppProject;
    btnAdd->setEnabled(p != nullptr);
    btnAddAd->setEnabled(p != nullptr);
    // Without a project there is nothing to show and no preview to switch.
    if (!p) {
        EnableWatermarkControls(false);
        EnableAdControls(false);
        return;
    }
    ChangingGuard guard(FChanging);
    edWatermark->setText(FieldText(p->m_WatermarkFile));
    tbTransparency->setValue(p->m_WatermarkTransparency);
    ShowAlignButtons();
    seLeft->setValue(p->m_WatermarkLeft);
    seTop->setValue(p->m_WatermarkTop);
    ShowWatermarkSizes();
    EnableWatermarkControls(p->m_WatermarkFile[0] != 0);
    Low.EnterWatermarkMode();
    edAd->setText(FieldText(p->m_AdFile));
    edAdLink->setText(FieldText(p->m_AdLink));
    ShowAdSizes();
    EnableAdControls(p->m_AdFile[0] != 0);
}

void TfrmWatermark::HidePanel() {
    if (AppProject) Low.LeaveWatermarkMode();
}

// The spins' bounds follow the output first, so a value is never clamped to
// the bounds of another output.
void TfrmWatermark::ShowWatermarkSizes() {
    const Project& p = *AppProject;
    seWidth->setMaximum(std::max(0, p.m_OutputWidth));
    seHeight->setMaximum(std::max(0, p.m_OutputHeight));
    seWidth->setValue(p.m_WatermarkWidth);
    seHeight->setValue(p.m_WatermarkHeight);
}

void TfrmWatermark::ShowAdSizes() {
    const Project& p = *AppProject;
    seWidthAd->setMaximum(std::max(0, p.m_OutputWidth));
    seHeightAd->setMaximum(std::max(0, p.m_OutputHeight));
    seWidthAd->setValue(p.m_AdWidth);
    seHeightAd->setValue(p.m_AdHeight);
}

void TfrmWatermark::ShowAlignButtons() {
    const Project& p = *AppProject;
    btnLeft->SetDown(p.m_WatermarkHPosition == kAlignStart);
    btnCenter->SetDown(p.m_WatermarkHPosition == kAlignCenter);
    btnRight->SetDown(p.m_WatermarkHPosition == kAlignEnd);
    btnTop->SetDown(p.m_WatermarkVPosition == kAlignStart);
    btnCenterd->SetDown(p.m_WatermarkVPosition == kAlignCenter);
    btnBottom->SetDown(p.m_WatermarkVPosition == kAlignEnd);
}

void TfrmWatermark::EnableWatermarkControls(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             btnDelete, tbTransparency, seLeft, seTop, seWidth, seHeight, cbxKeepScale, btnLeft,
             btnCenter, btnRight, btnTop, btnCenterd, btnBottom})
        w->setEnabled(on);
    if (on && AppProject) {
        const Project& p = *AppProject;
        lblSizeHint->setText(QString::asprintf(
            "Video output size:%d*%d, Watermark image size:%d*%d", p.m_OutputWidth,
            p.m_OutputHeight, p.m_WatermarkImageWidth, p.m_WatermarkImageHeight));
    } else {
        lblSizeHint->clear();
    }
}

void TfrmWatermark::EnableAdControls(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{btnDeleteAd, edAdLink, seWidthAd, seHeightAd,
                                                      cbxKeepScaleAd})
        w->setEnabled(on);
    if (on && AppProject) {
        const Project& p = *AppProject;
        lblSizeHintAd->setText(QString::asprintf(
            "Video output size:%d*%d, Advertisement image size:%d*%d", p.m_OutputWidth,
            p.m_OutputHeight, p.m_AdImageWidth, p.m_AdImageHeight));
    } else {
        lblSizeHintAd->clear();
    }
}

void TfrmWatermark::btnAddClick() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    QString path;
    int w = 0, h = 0;
    if (!ChoosePicture(this, QStringLiteral("Select Watermark Picture"),
                       int(std::size(p->m_WatermarkFile)), &path, &w, &h))
        return;
    UseWatermarkPicture(path, w, h);
}

bool TfrmWatermark::AddWatermarkFile(const QString& path) {
    Project* p = AppProject;
    if (FChanging || !p) return false;
    int w = 0, h = 0;
    if (!CheckPicture(this, path, int(std::size(p->m_WatermarkFile)), &w, &h)) return false;
    UseWatermarkPicture(path, w, h);
    return true;
}

void TfrmWatermark::dragEnterEvent(QDragEnterEvent* event) {
    // Whether it is a picture is decided at the drop, with the message a
    // refused picture gets; a drag of anything but one file is not taken.
    if (AppProject && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TfrmWatermark::dropEvent(QDropEvent* event) {
    const QString file = DroppedFile(event->mimeData());
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    // Not inside the drop: a refusal opens a message box, which must not run
    // under the drag's own handling.
    QTimer::singleShot(0, this, [this, file] { AddWatermarkFile(file); });
}

void TfrmWatermark::UseWatermarkPicture(const QString& path, int w, int h) {
    Project* p = AppProject;
    edWatermark->setText(path);
    SetFieldText(p->m_WatermarkFile, path);
    p->m_WatermarkImageWidth = w;
    p->m_WatermarkImageHeight = h;
    const QSize shown = FitPictureIntoOutput(w, h, p->m_OutputWidth, p->m_OutputHeight);
    p->m_WatermarkWidth = shown.width();
    p->m_WatermarkHeight = shown.height();
    // The default alignment of the settings the program took at start-up.
    if (AppSettings) {
        p->m_WatermarkHPosition = AppSettings->m_WatermarkHPosition;
        p->m_WatermarkVPosition = AppSettings->m_WatermarkVPosition;
    }
    p->m_WatermarkLeft = AlignedStart(p->m_WatermarkHPosition, p->m_OutputWidth,
                                      p->m_WatermarkWidth, p->m_WatermarkLeft);
    p->m_WatermarkTop = AlignedStart(p->m_WatermarkVPosition, p->m_OutputHeight,
                                     p->m_WatermarkHeight, p->m_WatermarkTop);
    ChangingGuard guard(FChanging);
    ShowAlignButtons();
    seLeft->setValue(p->m_WatermarkLeft);
    seTop->setValue(p->m_WatermarkTop);
    ShowWatermarkSizes();
    EnableWatermarkControls(true);
    Low.ApplyWatermarkPicture();
}

void TfrmWatermark::btnDeleteClick() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    btnDelete->setEnabled(false);
    p->m_WatermarkFile[0] = 0;
    edWatermark->clear();
    EnableWatermarkControls(false);
    Low.ApplyWatermarkPicture();
}

void TfrmWatermark::btnAddAdClick() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    QString path;
    int w = 0, h = 0;
    if (!ChoosePicture(this, QStringLiteral("Select Advertisement Picture"),
                       int(std::size(p->m_AdFile)), &path, &w, &h))
        return;
    edAd->setText(path);
    SetFieldText(p->m_AdFile, path);
    p->m_AdImageWidth = w;
    p->m_AdImageHeight = h;
    const QSize shown = FitPictureIntoOutput(w, h, p->m_OutputWidth, p->m_OutputHeight);
    p->m_AdWidth = shown.width();
    p->m_AdHeight = shown.height();
    ChangingGuard guard(FChanging);
    ShowAdSizes();
    EnableAdControls(true);
}

void TfrmWatermark::btnDeleteAdClick() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    btnDeleteAd->setEnabled(false);
    p->m_AdFile[0] = 0;
    edAd->clear();
    EnableAdControls(false);
}

void TfrmWatermark::AlignClick(TGraphicsGroupRadio* button) {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    const bool horizontal = button->GroupIndex() == 1;
    int32_t& code = horizontal ? p->m_WatermarkHPosition : p->m_WatermarkVPosition;
    if (!button->Down()) {
        // Let up: the watermark stays where it is, no longer aligned.
        code = kAlignNone;
    } else {
        const int32_t codes[3] = {kAlignStart, kAlignCenter, kAlignEnd};
        TGraphicsGroupRadio* group[3] = {horizontal ? btnLeft : btnTop,
                                         horizontal ? btnCenter : btnCenterd,
                                         horizontal ? btnRight : btnBottom};
        for (int i = 0; i < 3; ++i)
            if (group[i] == button) code = codes[i];
        if (horizontal) {
            p->m_WatermarkLeft =
                AlignedStart(code, p->m_OutputWidth, p->m_WatermarkWidth, p->m_WatermarkLeft);
            seLeft->setValue(p->m_WatermarkLeft);
        } else {
            p->m_WatermarkTop =
                AlignedStart(code, p->m_OutputHeight, p->m_WatermarkHeight, p->m_WatermarkTop);
            seTop->setValue(p->m_WatermarkTop);
        }
        Low.ApplyWatermarkPosition();
    }
}

void TfrmWatermark::seLeftChange() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    p->m_WatermarkLeft = seLeft->value();
    p->m_WatermarkHPosition = kAlignNone;
    for (TGraphicsGroupRadio* b : {btnLeft, btnCenter, btnRight})
        b->SetDown(false);
    Low.ApplyWatermarkPosition();
}

void TfrmWatermark::seTopChange() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    ChangingGuard guard(FChanging);
    p->m_WatermarkTop = seTop->value();
    p->m_WatermarkVPosition = kAlignNone;
    for (TGraphicsGroupRadio* b : {btnTop, btnCenterd, btnBottom})
        b->SetDown(false);
    Low.ApplyWatermarkPosition();
}

bool TfrmWatermark::SideChange(QSpinBox* edit, int32_t* side, int32_t* other, int32_t imageSide,
                               int32_t imageOther, QSpinBox* otherEdit, bool keep) {
    if (FChanging || !AppProject) return false;
    ChangingGuard guard(FChanging);
    *side = edit->value();
    // A picture side of 0 (no size read) gives no ratio to keep: the other
    // side stays as it is rather than becoming a division by zero.
    if (keep && imageSide != 0) {
        *other = ScaleSide(*side, imageOther, imageSide);
        otherEdit->setValue(*other);
    }
    return true;
}

void TfrmWatermark::seWidthChange() {
    Project* p = AppProject;
    if (!p ||
        !SideChange(seWidth, &p->m_WatermarkWidth, &p->m_WatermarkHeight, p->m_WatermarkImageWidth,
                    p->m_WatermarkImageHeight, seHeight, cbxKeepScale->isChecked()))
        return;
    ChangingGuard guard(FChanging);
    RealignWatermark();
    Low.ApplyWatermarkPicture();
}

void TfrmWatermark::seHeightChange() {
    Project* p = AppProject;
    if (!p || !SideChange(seHeight, &p->m_WatermarkHeight, &p->m_WatermarkWidth,
                          p->m_WatermarkImageHeight, p->m_WatermarkImageWidth, seWidth,
                          cbxKeepScale->isChecked()))
        return;
    ChangingGuard guard(FChanging);
    RealignWatermark();
    Low.ApplyWatermarkPicture();
}

void TfrmWatermark::seWidthAdChange() {
    Project* p = AppProject;
    if (!p) return;
    SideChange(seWidthAd, &p->m_AdWidth, &p->m_AdHeight, p->m_AdImageWidth, p->m_AdImageHeight,
               seHeightAd, cbxKeepScaleAd->isChecked());
}

void TfrmWatermark::seHeightAdChange() {
    Project* p = AppProject;
    if (!p) return;
    SideChange(seHeightAd, &p->m_AdHeight, &p->m_AdWidth, p->m_AdImageHeight, p->m_AdImageWidth,
               seWidthAd, cbxKeepScaleAd->isChecked());
}

void TfrmWatermark::tbTransparencyChange() {
    if (FChanging || !AppProject) return;
    AppProject->m_WatermarkTransparency = tbTransparency->value();
    Low.ApplyWatermarkPicture();
}

void TfrmWatermark::edAdLinkChange() {
    if (FChanging || !AppProject) return;
    SetFieldText(AppProject->m_AdLink, edAdLink->text());
}

void TfrmWatermark::RealignWatermark() {
    Project* p = AppProject;
    if (!p || p->m_WatermarkFile[0] == 0) return;
    if (p->m_WatermarkHPosition == kAlignCenter || p->m_WatermarkHPosition == kAlignEnd) {
        p->m_WatermarkLeft = AlignedStart(p->m_WatermarkHPosition, p->m_OutputWidth,
                                          p->m_WatermarkWidth, p->m_WatermarkLeft);
        seLeft->setValue(p->m_WatermarkLeft);
    }
    if (p->m_WatermarkVPosition == kAlignCenter || p->m_WatermarkVPosition == kAlignEnd) {
        p->m_WatermarkTop = AlignedStart(p->m_WatermarkVPosition, p->m_OutputHeight,
                                         p->m_WatermarkHeight, p->m_WatermarkTop);
        seTop->setValue(p->m_WatermarkTop);
    }
}

void TfrmWatermark::FitAdToOutput() {
    Project* p = AppProject;
    if (!p || p->m_AdFile[0] == 0) return;
    const QSize shown = FitPictureIntoOutput(p->m_AdImageWidth, p->m_AdImageHeight,
                                             p->m_OutputWidth, p->m_OutputHeight);
    p->m_AdWidth = shown.width();
    p->m_AdHeight = shown.height();
    ShowAdSizes();
}

void TfrmWatermark::OnVideoSizeChanged() {
    if (!AppProject) return;
    ChangingGuard guard(FChanging);
    // The size spins are bounded by the output: new bounds before new values.
    seWidth->setMaximum(std::max(0, AppProject->m_OutputWidth));
    seHeight->setMaximum(std::max(0, AppProject->m_OutputHeight));
    RealignWatermark();
    FitAdToOutput();
}

void TfrmWatermark::OnWatermakPosChanged() {
    Project* p = AppProject;
    if (!p) return;
    ChangingGuard guard(FChanging);
    p->m_WatermarkHPosition = kAlignNone;
    p->m_WatermarkVPosition = kAlignNone;
    ShowAlignButtons();
    seLeft->setValue(p->m_WatermarkLeft);
    seTop->setValue(p->m_WatermarkTop);
}

} // namespace reelpage::app
