#include "dialogs/Effect.h"

#include "Functions.h"
#include "LowInterface.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace reelpage::app {

namespace {

const char* const kPageCaptions[TfrmEffect::kPageCount] = {"Brightness Contrast",
                                                           "Hue Saturation Lightness",
                                                           "Blur",
                                                           "Sharpen",
                                                           "Tint",
                                                           "ColorBalance",
                                                           "Levels",
                                                           "Exposure",
                                                           "Density",
                                                           "White Saturation",
                                                           "Black Saturation"};

// One track bar: where it stands, its range and steps, and the project field
// it writes (an integer field or, for the filter radii and amount, a float).
struct TrackBarInfo {
    QSlider* TfrmEffect::*control;
    const char* name;
    const char* label;
    int min, max, pageStep, ticks;
    int page;
    int32_t Project::*intField;
    float Project::*floatField;
};

const std::array<TrackBarInfo, TfrmEffect::kTrackBarCount> kTrackBars = {{
    {&TfrmEffect::tbBrightness, "tbBrightness", "Brightness:", -100, 100, 9, 10, 0,
     &Project::m_Brightness, nullptr},
    {&TfrmEffect::tbContrast, "tbContrast", "Contrast:", -50, 50, 5, 5, 0, &Project::m_Contrast,
     nullptr},
    {&TfrmEffect::tbHue, "tbHue", "Hue:", -90, 90, 9, 9, 1, &Project::m_Hue, nullptr},
    {&TfrmEffect::tbSaturation, "tbSaturation", "Saturation:", -50, 50, 5, 5, 1,
     &Project::m_Saturation, nullptr},
    {&TfrmEffect::tbLightness, "tbLightness", "Lightness:", -50, 50, 5, 5, 1, &Project::m_Lightness,
     nullptr},
    {&TfrmEffect::tbRadius, "tbRadius", "Radius:", 0, 100, 5, 10, 2, nullptr,
     &Project::m_BlurRadius},
    {&TfrmEffect::tbRadius1, "tbRadius1", "Radius:", 0, 100, 5, 10, 3, nullptr,
     &Project::m_SharpenRadius},
    {&TfrmEffect::tbAmount, "tbAmount", "Amount:", 0, 50, 5, 5, 3, nullptr,
     &Project::m_SharpenAmount},
    {&TfrmEffect::tbHue1, "tbHue1", "Hue:", -90, 90, 9, 9, 4, &Project::m_TintHue, nullptr},
    {&TfrmEffect::tbAmount1, "tbAmount1", "Amount:", -50, 50, 5, 5, 4, &Project::m_TintAmount,
     nullptr},
    {&TfrmEffect::tbCyanRed, "tbCyanRed", "Cyan Red:", -50, 50, 5, 5, 5, &Project::m_CyanRed,
     nullptr},
    {&TfrmEffect::tbMagentaGreen, "tbMagentaGreen", "Magenta Green:", -50, 50, 5, 5, 5,
     &Project::m_MagentaGreen, nullptr},
    {&TfrmEffect::tbYellowBlue, "tbYellowBlue", "Yellow Blue:", -50, 50, 5, 5, 5,
     &Project::m_YellowBlue, nullptr},
    {&TfrmEffect::tbHighlight, "tbHighlight", "Highlight:", 0, 50, 5, 5, 6,
     &Project::m_LevelsHighlight, nullptr},
    {&TfrmEffect::tbMidtone, "tbMidtone", "Midtone:", 0, 50, 5, 5, 6, &Project::m_LevelsMidtone,
     nullptr},
    {&TfrmEffect::tbShadow, "tbShadow", "Shadow:", 0, 50, 5, 5, 6, &Project::m_LevelsShadow,
     nullptr},
    {&TfrmEffect::tbExposure, "tbExposure", "Exposure:", -100, 100, 10, 10, 7, &Project::m_Exposure,
     nullptr},
    {&TfrmEffect::tbDensity, "tbDensity", "Density:", -100, 100, 10, 10, 8, &Project::m_Density, nullptr},
    {&TfrmEffect::tbWhite, "tbWhite", "White Saturation:", 0, 100, 10, 10, 9, &Project::m_WhiteSaturation, nullptr},
    {&TfrmEffect::tbBlack, "tbBlack", "Black Saturation:", 0, 100, 10, 10, 10, &Project::m_BlackSaturation, nullptr},
}};

constexpr int kBlurPage = 2;

int FieldPosition(const Project* p, const TrackBarInfo& info) {
    if (info.intField) return p->*info.intField;
    // A float field shows at the nearest whole position.
    const float value = p->*info.floatField;
    if (!std::isfinite(value)) return 0;
    // The track bar clamps to its range; this only keeps the rounding defined.
    return int(std::lround(std::clamp(value, float(info.min) - 1, float(info.max) + 1)));
}

bool FieldSet(const Project* p, const TrackBarInfo& info) {
    return info.intField ? p->*info.intField != 0 : p->*info.floatField != 0.0f;
}

} // namespace

TfrmEffect::TfrmEffect(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmEffect"));
    setWindowTitle(QStringLiteral("Effect"));
    auto* layout = new QVBoxLayout(this);
    // A fixed dialog border: the dialog keeps the size its pages need.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    QGridLayout* grids[kPageCount] = {};
    for (int page = 0; page < kPageCount; ++page) {
        auto* sheet = new QWidget(PageControl1);
        auto* rows = new QVBoxLayout(sheet);
        grids[page] = new QGridLayout;
        grids[page]->setColumnStretch(1, 1);
        grids[page]->setColumnMinimumWidth(1, 300);
        rows->addLayout(grids[page]);
        if (page == kBlurPage) {
            cbxExpandEdge = new QCheckBox(QStringLiteral("Expand Edge"), sheet);
            cbxExpandEdge->setObjectName(QStringLiteral("cbxExpandEdge"));
            rows->addWidget(cbxExpandEdge);
        }
        rows->addStretch(1);
        QPushButton* reset = new QPushButton(QStringLiteral("Reset"), sheet);
        reset->setObjectName(QStringLiteral("btnReset%1").arg(page + 1));
        reset->setAutoDefault(false);
        btnReset[size_t(page)] = reset;
        rows->addWidget(reset, 0, Qt::AlignRight);
        connect(reset, &QPushButton::clicked, this, [this, reset] { btnResetClick(reset); });
        PageControl1->addTab(sheet, QString::fromLatin1(kPageCaptions[page]));
    }
    for (size_t i = 0; i < kTrackBars.size(); ++i) {
        const TrackBarInfo& info = kTrackBars[i];
        QGridLayout* grid = grids[info.page];
        QWidget* sheet = PageControl1->widget(info.page);
        auto* bar = new QSlider(Qt::Horizontal, sheet);
        bar->setObjectName(QString::fromLatin1(info.name));
        bar->setRange(info.min, info.max);
        bar->setSingleStep(1);
        bar->setPageStep(info.pageStep);
        bar->setTickPosition(QSlider::TicksBelow);
        bar->setTickInterval(info.ticks);
        this->*info.control = bar;
        const int row = grid->rowCount();
        auto* label = new QLabel(QString::fromLatin1(info.label), sheet);
        // The label names the bar for screen readers too.
        label->setBuddy(bar);
        grid->addWidget(label, row, 0);
        grid->addWidget(bar, row, 1);
        // The number the bar stands at, wide enough for its widest value.
        auto* value = new QLabel(sheet);
        value->setObjectName(QString::fromLatin1(info.name) + QStringLiteral("Value"));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-0000")));
        value->setNum(bar->value());
        lblValues[i] = value;
        grid->addWidget(value, row, 2);
        connect(bar, &QSlider::valueChanged, value, qOverload<int>(&QLabel::setNum));
        connect(bar, &QSlider::valueChanged, this, [this] { OnAdjustChanged(); });
    }
    connect(cbxExpandEdge, &QCheckBox::toggled, this, [this] { OnAdjustChanged(); });
    layout->addWidget(CreatePageRows());
    layout->addWidget(PageControl1);

    btnResetAll = new QPushButton(QStringLiteral("Reset All"), this);
    btnResetAll->setObjectName(QStringLiteral("btnResetAll"));
    btnResetAll->setAutoDefault(false);
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnResetAll);
    bottom->addStretch(1);
    bottom->addWidget(btnClose);
    layout->addLayout(bottom);
    connect(btnResetAll, &QPushButton::clicked, this, [this] { btnResetAllClick(); });
    // Closing undoes nothing: every change is already in the project.
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    // As the dialog reads: the page buttons, the page's sliders, its own
    // check box and Reset, then the dialog's buttons.
    std::vector<QWidget*> order;
    for (int page = 0; page < kPageCount; ++page)
        order.push_back(PageButtons->button(page));
    for (int page = 0; page < kPageCount; ++page) {
        for (const TrackBarInfo& info : kTrackBars)
            if (info.page == page) order.push_back(this->*info.control);
        if (page == kBlurPage) order.push_back(cbxExpandEdge);
        order.push_back(btnReset[size_t(page)]);
    }
    order.push_back(btnResetAll);
    order.push_back(btnClose);
    ChainTabOrder(order);

    LoadValues();
}

QWidget* TfrmEffect::CreatePageRows() {
    // Eleven captions do not fit one row of tabs in a dialog of this size,
    // and scrolling tabs would hide most pages: the pages are chosen from
    // rows of buttons instead, the tab widget keeping only its pages.
    PageControl1->tabBar()->hide();
    auto* rows = new QWidget(this);
    rows->setObjectName(QStringLiteral("PageRows"));
    auto* lines = new QVBoxLayout(rows);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(2);
    PageButtons = new QButtonGroup(rows);
    PageButtons->setExclusive(true);
    const int perRow[] = {4, 4, 3};
    int page = 0;
    for (int count : perRow) {
        auto* line = new QHBoxLayout;
        line->setSpacing(2);
        for (int i = 0; i < count; ++i, ++page) {
            auto* button = new QToolButton(rows);
            button->setText(PageControl1->tabText(page));
            button->setCheckable(true);
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            PageButtons->addButton(button, page);
            line->addWidget(button);
        }
        lines->addLayout(line);
    }
    PageButtons->button(0)->setChecked(true);
    connect(PageButtons, &QButtonGroup::idClicked, PageControl1, &QTabWidget::setCurrentIndex);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (QAbstractButton* button = PageButtons->button(index)) button->setChecked(true);
    });
    return rows;
}

std::array<QSlider*, TfrmEffect::kTrackBarCount> TfrmEffect::TrackBars() const {
    std::array<QSlider*, kTrackBarCount> bars{};
    for (int i = 0; i < kTrackBarCount; ++i)
        bars[size_t(i)] = this->*kTrackBars[size_t(i)].control;
    return bars;
}

int TfrmEffect::PageOfTrackBar(int index) {
    return kTrackBars[size_t(index)].page;
}

void TfrmEffect::LoadValues() {
    ChangingGuard guard(FChanging);
    if (const Project* p = AppProject) {
        for (const TrackBarInfo& info : kTrackBars)
            (this->*info.control)->setValue(FieldPosition(p, info));
        cbxExpandEdge->setChecked(p->m_BlurExpandEdge != 0);
    } else {
        // Nothing to edit without a project.
        PageControl1->setEnabled(false);
    }
    PageControl1->setCurrentIndex(0);
    UpdateResetButtons();
}

bool TfrmEffect::PageChanged(int page) {
    const Project* p = AppProject;
    if (!p) return false;
    if (page == kBlurPage && p->m_BlurExpandEdge != 0) return true;
    for (const TrackBarInfo& info : kTrackBars)
        if (info.page == page && FieldSet(p, info)) return true;
    return false;
}

void TfrmEffect::UpdateResetButtons() {
    bool any = false;
    for (int page = 0; page < kPageCount; ++page) {
        const bool changed = PageChanged(page);
        btnReset[size_t(page)]->setEnabled(changed);
        any = any || changed;
    }
    btnResetAll->setEnabled(any);
}

void TfrmEffect::OnAdjustChanged() {
    Project* p = AppProject;
    if (FChanging || !p) return;
    for (const TrackBarInfo& info : kTrackBars) {
        const int position = (this->*info.control)->value();
        if (info.intField)
            p->*info.intField = position;
        else
            p->*info.floatField = float(position);
    }
    p->m_BlurExpandEdge = cbxExpandEdge->isChecked() ? -1 : 0;
    Low.NotifyPreview(kCmdAdjustmentsChanged);
    UpdateResetButtons();
    emit AdjustChanged();
}

void TfrmEffect::btnResetClick(QPushButton* pressed) {
    int page = 0;
    while (page < kPageCount && btnReset[size_t(page)] != pressed)
        ++page;
    if (page == kPageCount || !AppProject) return;
    // Each control that really moves stores its change as a user's move would.
    for (const TrackBarInfo& info : kTrackBars)
        if (info.page == page) (this->*info.control)->setValue(0);
    if (page == kBlurPage) cbxExpandEdge->setChecked(false);
    // A fractional radius shows at 0 already, so no control moved for it.
    if (PageChanged(page)) OnAdjustChanged();
    pressed->setEnabled(false);
}

void TfrmEffect::btnResetAllClick() {
    if (!AppProject) return;
    for (const TrackBarInfo& info : kTrackBars)
        (this->*info.control)->setValue(0);
    cbxExpandEdge->setChecked(false);
    bool any = false;
    for (int page = 0; page < kPageCount; ++page)
        any = any || PageChanged(page);
    if (any) OnAdjustChanged();
    btnResetAll->setEnabled(false);
    UpdateResetButtons();
}

} // namespace reelpage::app
