// The Edit panel and the Effects dialog in a main window against a stand-in
// engine: the crop rules, the ratio presets, the output size that follows
// the crop, rotation, the adjustments, the dialog's reset rules, crop mode
// following the current panel, and what reaches the engine.
#include <gtest/gtest.h>

#include <QAction>
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "panels/Editor.h"
#include "dialogs/Effect.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "panels/Home.h"
#include "controls/LinkLabel.h"
#include "LowInterface.h"
#include "Main.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

// Every call the panels make into the stand-in engine, in order.
std::vector<std::string> g_calls;

int32_t FakeEnterCropMode() {
    return g_calls.push_back("EnterCropMode"), 0;
}
int32_t FakeLeaveCropMode() {
    return g_calls.push_back("LeaveCropMode"), 0;
}
int32_t FakeApplyCrop() {
    return g_calls.push_back("ApplyCrop"), 0;
}
// Where the watermark stood when the engine was last told of a new size.
int g_watermarkLeftAtApply = -1;
int32_t FakeApplyOutputSize() {
    if (AppProject) g_watermarkLeftAtApply = AppProject->m_WatermarkLeft;
    return g_calls.push_back("ApplyOutputSize"), 0;
}
// The calls as the fakes record them.
std::string Notified(int32_t command) {
    return "NotifyPreview " + std::to_string(command);
}
std::string Turned(int32_t operation) {
    return "RotateFlip " + std::to_string(operation);
}
const std::string kAdjusted = Notified(reelpage::kCmdAdjustmentsChanged);

int32_t FakeNotifyPreview(int32_t command) {
    return g_calls.push_back(Notified(command)), 0;
}
// Turns the project as the engine does: a rotation swaps the picture and
// output sizes and turns the crop box with the picture.
int32_t FakeRotateFlip(int32_t code) {
    g_calls.push_back(Turned(code));
    Project* p = AppProject;
    if (code == reelpage::kRotateLeft || code == reelpage::kRotateRight) {
        const int left = p->m_CropLeft, top = p->m_CropTop;
        const int width = p->m_CropWidth, height = p->m_CropHeight;
        if (code == reelpage::kRotateRight) { // clockwise
            p->m_CropLeft = p->m_VideoHeight - (top + height);
            p->m_CropTop = left;
        } else {
            p->m_CropLeft = top;
            p->m_CropTop = p->m_VideoWidth - (left + width);
        }
        p->m_CropWidth = height;
        p->m_CropHeight = width;
        std::swap(p->m_VideoWidth, p->m_VideoHeight);
        std::swap(p->m_OutputWidth, p->m_OutputHeight);
    }
    return 0;
}
reelpage::BOOL FakeIsVistaOrLater() {
    return 1;
}

struct Crop {
    int left, top, width, height;
    bool operator==(const Crop&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Crop& c) {
    return out << c.left << "," << c.top << " " << c.width << "x" << c.height;
}

class EditPanel : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        apptest::StandInMainWindowEngine();
        Low.EnterCropMode.Set(&FakeEnterCropMode);
        Low.LeaveCropMode.Set(&FakeLeaveCropMode);
        Low.ApplyCrop.Set(&FakeApplyCrop);
        Low.ApplyOutputSize.Set(&FakeApplyOutputSize);
        Low.NotifyPreview.Set(&FakeNotifyPreview);
        Low.RotateFlip.Set(&FakeRotateFlip);
        Low.IsVistaOrLater.Set(&FakeIsVistaOrLater);
        AppProject = nullptr;
        AppProjectMedia = nullptr;
        main = std::make_unique<TfrmMain>();
        g_calls.clear();
    }
    void TearDown() override {
        main.reset();
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    // A project of a picture of width x height, cropped to the whole of it,
    // loaded into the General panel with the size preset sizeIndex.
    void Open(int width, int height, int sizeIndex = 0) {
        project = Project{};
        project.m_VideoWidth = width;
        project.m_VideoHeight = height;
        project.m_CropWidth = width;
        project.m_CropHeight = height;
        project.m_SizeIndex = sizeIndex;
        if (sizeIndex == 0) { // as the engine makes a project
            const reelpage::OutputFrameSize original = reelpage::OriginalOutputSize(width, height);
            project.m_OutputWidth = original.width;
            project.m_OutputHeight = original.height;
        } else if (sizeIndex == 9) {
            project.m_OutputWidth = 1280;
            project.m_OutputHeight = 720;
        } else {
            project.m_OutputWidth = ResolutionPresets[sizeIndex].width;
            project.m_OutputHeight = ResolutionPresets[sizeIndex].height;
        }
        project.m_Formats[0] = -1;
        SetFieldText(media.m_szName, QStringLiteral("Clip"));
        AppProject = &project;
        AppProjectMedia = &media;
        main->frmHome->LoadProject();
        g_calls.clear();
    }
    void SetCrop(const Crop& c) {
        project.m_CropLeft = c.left;
        project.m_CropTop = c.top;
        project.m_CropWidth = c.width;
        project.m_CropHeight = c.height;
    }
    Crop ProjectCrop() const {
        return {project.m_CropLeft, project.m_CropTop, project.m_CropWidth, project.m_CropHeight};
    }
    Crop SpinCrop() const {
        return {edit()->spCropLeft->value(), edit()->spCropTop->value(),
                edit()->spCropWidth->value(), edit()->spCropHeight->value()};
    }
    TfrmEdit* edit() const { return main->frmEdit; }
    int Count(const std::string& call) const {
        return int(std::count(g_calls.begin(), g_calls.end(), call));
    }

    std::unique_ptr<TfrmMain> main;
    Project project{};
    MediaInfo media{};
};

TEST_F(EditPanel, CropModeFollowsTheCurrentPanelNotVisibility) {
    Open(1280, 720);
    SetCrop({100, 50, 640, 360});
    project.m_Brightness = -20;
    main->SetCurrentControl(1);
    // Loading the panel is not an edit: crop mode is all the engine hears.
    EXPECT_EQ(g_calls, std::vector<std::string>{"EnterCropMode"});
    EXPECT_EQ(SpinCrop(), (Crop{100, 50, 640, 360}));
    EXPECT_EQ(edit()->spCropLeft->maximum(), 1279);
    EXPECT_EQ(edit()->spCropWidth->maximum(), 1280);
    EXPECT_EQ(edit()->spCropTop->maximum(), 719);
    EXPECT_EQ(edit()->spCropHeight->maximum(), 720);
    EXPECT_EQ(edit()->spCropWidth->minimum(), 1);
    EXPECT_EQ(edit()->lblClipAspect->Caption(), QStringLiteral("<a>16:9</a>"));
    EXPECT_EQ(edit()->tbBrightness->value(), -20);
    EXPECT_TRUE(edit()->btnResetBrightness->isEnabled());
    EXPECT_FALSE(edit()->btnResetContrast->isEnabled());
    EXPECT_TRUE(edit()->btnEffect->isVisibleTo(edit()));
    EXPECT_EQ(ProjectCrop(), (Crop{100, 50, 640, 360}));
    EXPECT_EQ(project.m_Brightness, -20);

    // The main window hides for an encoding and comes back: the panels'
    // visibility changes, the current panel and the preview's mode do not.
    main->show();
    main->hide();
    main->show();
    EXPECT_EQ(g_calls, std::vector<std::string>{"EnterCropMode"});

    main->SetCurrentControl(2);
    main->SetCurrentControl(0);
    main->SetCurrentControl(0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"EnterCropMode", "LeaveCropMode"}));
    main->miEdit->trigger();
    edit()->btnReturn->click();
    EXPECT_EQ(main->CurrentControl(), 0);
    EXPECT_EQ(Count("EnterCropMode"), 2);
    EXPECT_EQ(Count("LeaveCropMode"), 2);
}

TEST_F(EditPanel, NothingReachesTheEngineWithoutAProject) {
    main->miEdit->trigger();
    EXPECT_EQ(main->CurrentControl(), 1);
    EXPECT_FALSE(edit()->gbCrop->isEnabled());
    EXPECT_FALSE(edit()->gbAdjust->isEnabled());
    EXPECT_TRUE(edit()->btnReturn->isEnabled());
    // Every way in, called directly as a stray message or a script would.
    edit()->OnCropChanged();
    edit()->SetAdjustValues();
    edit()->ApplyCropAspect(16, 9);
    edit()->ApplyRotateFlip(reelpage::kRotateRight);
    edit()->btnCropResetClick();
    edit()->btnResetBrightnessClick();
    edit()->StoreAdjustValues();
    edit()->spCropLeftChange();
    edit()->btnEffectClick();
    main->WndProc(reelpage::kMsgCropDragged, 0, 0);
    main->miWater->trigger();
    main->miEdit->trigger();
    main->miHome->trigger();
    EXPECT_EQ(g_calls, std::vector<std::string>{});
}

TEST_F(EditPanel, RatioPresets) {
    const struct {
        int videoWidth, videoHeight;
        Crop before;
        int a, b;
        Crop after; // equal to before: nothing applied
    } cases[] = {
        // The box keeps its width and takes the ratio's height...
        {1280, 720, {0, 0, 1280, 720}, 4, 3, {0, 0, 960, 720}},
        {1280, 720, {0, 0, 1280, 720}, 16, 9, {0, 0, 1280, 720}},
        {720, 1280, {0, 0, 720, 1280}, 16, 9, {0, 0, 720, 405}},
        // ...its width rounded up to whole units, moved back inside.
        {1280, 720, {900, 0, 370, 720}, 16, 9, {896, 0, 384, 216}},
        {1280, 720, {600, 300, 680, 400}, 4, 3, {600, 210, 680, 510}},
        // One ratio unit exactly fits; less than one leaves the box alone.
        {16, 9, {0, 0, 16, 9}, 16, 9, {0, 0, 16, 9}},
        {16, 12, {2, 1, 10, 10}, 16, 9, {0, 1, 16, 9}},
        {12, 8, {1, 1, 10, 6}, 16, 9, {1, 1, 10, 6}},
        {100, 8, {0, 0, 100, 8}, 16, 9, {0, 0, 100, 8}},
        {3, 2, {0, 0, 3, 2}, 4, 3, {0, 0, 3, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.videoWidth << "x" << c.videoHeight << " " << c.before
                                        << " " << c.a << ":" << c.b);
        Open(c.videoWidth, c.videoHeight, 9);
        SetCrop(c.before);
        main->SetCurrentControl(1);
        g_calls.clear();
        edit()->ApplyCropAspect(c.a, c.b);
        EXPECT_EQ(ProjectCrop(), c.after);
        EXPECT_EQ(SpinCrop(), c.after);
        const bool applied =
            !(c.before == c.after) || (c.videoWidth >= c.a && c.videoHeight >= c.b);
        EXPECT_EQ(Count("ApplyCrop"), applied ? 1 : 0);
        main->SetCurrentControl(0);
    }
}

TEST_F(EditPanel, RatioMenuAndText) {
    Open(1280, 720, 9);
    main->SetCurrentControl(1);
    edit()->PrepareCropAspectMenu();
    EXPECT_TRUE(edit()->ClipAspect16x9->isChecked());
    EXPECT_FALSE(edit()->ClipAspect16x9->isEnabled());
    EXPECT_FALSE(edit()->ClipAspect4x3->isChecked());
    EXPECT_TRUE(edit()->ClipAspect4x3->isEnabled());

    edit()->ClipAspect4x3->trigger();
    EXPECT_EQ(ProjectCrop(), (Crop{0, 0, 960, 720}));
    EXPECT_EQ(edit()->lblClipAspect->Caption(), QStringLiteral("<a>4:3</a>"));
    edit()->PrepareCropAspectMenu();
    EXPECT_FALSE(edit()->ClipAspect4x3->isEnabled());
    EXPECT_TRUE(edit()->ClipAspect16x9->isEnabled());

    // 854 x 480 is shown as the ratio it is sold as.
    edit()->spCropWidth->setValue(854);
    edit()->spCropHeight->setValue(480);
    EXPECT_EQ(edit()->lblClipAspect->Caption(), QStringLiteral("<a>16:9</a>"));
    edit()->spCropHeight->setValue(563);
    EXPECT_EQ(edit()->lblClipAspect->Caption(), QStringLiteral("<a>854:563</a>"));

    // The menu opens under the label.
    edit()->lblClipAspectLinkClick();
    EXPECT_TRUE(edit()->PopupMenu3->isVisible());
    edit()->PopupMenu3->close();

    // A picture too small for a ratio cannot take it.
    Open(12, 8, 9);
    main->SetCurrentControl(1);
    edit()->PrepareCropAspectMenu();
    EXPECT_FALSE(edit()->ClipAspect16x9->isEnabled());
    EXPECT_TRUE(edit()->ClipAspect4x3->isEnabled());
}

TEST_F(EditPanel, OutputSizeFollowsTheCropOnlyWithOriginal) {
    const struct {
        int videoWidth, videoHeight, sizeIndex;
        Crop dragged;
        int outputWidth, outputHeight;
        const char* aspect;
        bool sizeApplied;
    } cases[] = {
        // An odd side gives up a pixel: 4:2:0 video has even sides.
        {1280, 720, 0, {10, 20, 1000, 563}, 1000, 562, "500:281", true},
        // "Original" is the General panel's one rule: a large crop keeps its
        // aspect (the spins there show 16 to 2048), and beyond 4096 it is
        // fitted into 4096 x 4096 first.
        {3840, 2160, 0, {0, 0, 3840, 1600}, 3840, 1600, "12:5", true},
        {3840, 2160, 0, {0, 10, 3840, 2150}, 3840, 2150, "384:215", true},
        {8000, 4000, 0, {0, 0, 8000, 3900}, 4096, 1996, "1024:499", true},
        {1280, 720, 0, {0, 0, 7, 5}, 6, 4, "3:2", true},
        {1280, 720, 6, {10, 20, 1000, 563}, 854, 480, "16:9", false},
        {1280, 720, 9, {10, 20, 1000, 563}, 1280, 720, "<a>16:9</a>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.videoWidth << "x" << c.videoHeight << " preset "
                                        << c.sizeIndex << " crop " << c.dragged);
        Open(c.videoWidth, c.videoHeight, c.sizeIndex);
        main->SetCurrentControl(1);
        g_calls.clear();
        // The engine reports a drag of the crop frame.
        SetCrop(c.dragged);
        main->WndProc(reelpage::kMsgCropDragged, 0, 0);
        EXPECT_EQ(SpinCrop(), c.dragged);
        EXPECT_EQ(Count("ApplyCrop"), 0) << "the engine already has the box";
        EXPECT_EQ(project.m_OutputWidth, c.outputWidth);
        EXPECT_EQ(project.m_OutputHeight, c.outputHeight);
        // The spins show the size within their range; the project keeps it.
        EXPECT_EQ(main->frmHome->spWidth->value(), std::clamp(c.outputWidth, 16, 2048));
        EXPECT_EQ(main->frmHome->spHeight->value(), std::clamp(c.outputHeight, 16, 2048));
        EXPECT_EQ(main->frmHome->lblAspect->Caption(), QString::fromLatin1(c.aspect));
        EXPECT_EQ(main->frmHome->cmbResolution->currentIndex(), c.sizeIndex);
        EXPECT_EQ(main->frmHome->cmbResolution->itemText(0), QStringLiteral("Original(Trimed)"));
        EXPECT_EQ(Count("ApplyOutputSize") > 0, c.sizeApplied);

        // Dragged again, wider still: "Original" follows, within its bound.
        project.m_CropWidth = std::min(c.videoWidth, c.dragged.width + 16);
        edit()->OnCropChanged();
        const int wider = project.m_CropWidth;
        if (c.sizeIndex == 0)
            EXPECT_EQ(project.m_OutputWidth, wider > 4096 ? 4096 : wider & ~1);
        else
            EXPECT_EQ(project.m_OutputWidth, c.outputWidth);
        main->SetCurrentControl(0);
    }
}

TEST_F(EditPanel, ADraggedCropReachesThePanelsBeforeTheEngineHearsTheSize) {
    Open(1280, 720, 0);
    // A watermark centred in the 1280 x 720 output.
    SetFieldText(project.m_WatermarkFile, QStringLiteral("/pictures/logo.png"));
    project.m_WatermarkWidth = 100;
    project.m_WatermarkHeight = 50;
    project.m_WatermarkHPosition = 2;
    project.m_WatermarkVPosition = 2;
    project.m_WatermarkLeft = 590;
    project.m_WatermarkTop = 335;
    main->SetCurrentControl(1);
    g_calls.clear();

    SetCrop({100, 60, 650, 350});
    main->WndProc(reelpage::kMsgCropDragged, 0, 0);
    EXPECT_EQ(project.m_OutputWidth, 650);
    EXPECT_EQ(project.m_OutputHeight, 350);
    EXPECT_EQ(main->frmHome->spWidth->value(), 650);
    EXPECT_EQ(main->frmHome->cmbResolution->itemText(0), QStringLiteral("Original(Trimed)"));
    EXPECT_EQ(project.m_WatermarkLeft, 275) << "centred in the new output";
    EXPECT_EQ(project.m_WatermarkTop, 150);
    // Told once, with the watermark already in its new place; the General
    // panel's spins showing the size added nothing.
    EXPECT_EQ(g_calls, std::vector<std::string>{"ApplyOutputSize"});
    EXPECT_EQ(g_watermarkLeftAtApply, 275);
    EXPECT_EQ(project.m_SizeIndex, 0);
}

TEST_F(EditPanel, TypedEdgesShortenTheBoxAndNeverMoveIt) {
    const struct {
        QSpinBox* TfrmEdit::*spin;
        int value;
        Crop after;
    } cases[] = {
        {&TfrmEdit::spCropLeft, 300, {300, 100, 980, 400}},
        {&TfrmEdit::spCropLeft, 50, {50, 100, 1000, 400}},
        {&TfrmEdit::spCropTop, 700, {200, 700, 1000, 20}},
        {&TfrmEdit::spCropWidth, 1280, {200, 100, 1080, 400}},
        {&TfrmEdit::spCropHeight, 720, {200, 100, 1000, 620}},
        {&TfrmEdit::spCropLeft, 1279, {1279, 100, 1, 400}},
        // Beyond the range: the spin keeps the value inside it.
        {&TfrmEdit::spCropLeft, 5000, {1279, 100, 1, 400}},
        {&TfrmEdit::spCropWidth, 0, {200, 100, 1, 400}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (edit()->*c.spin)->objectName().toStdString() << " = " << c.value);
        Open(1280, 720, 9);
        SetCrop({200, 100, 1000, 400});
        main->SetCurrentControl(1);
        g_calls.clear();
        (edit()->*c.spin)->setValue(c.value);
        EXPECT_EQ(ProjectCrop(), c.after);
        EXPECT_EQ(SpinCrop(), c.after);
        EXPECT_EQ(Count("ApplyCrop"), 1);
        EXPECT_EQ(main->frmHome->cmbResolution->itemText(0), QStringLiteral("Original(Trimed)"));
        main->SetCurrentControl(0);
    }

    // Reset takes the whole picture again.
    Open(1280, 720, 0);
    SetCrop({200, 100, 1000, 400});
    main->SetCurrentControl(1);
    edit()->btnCropReset->click();
    EXPECT_EQ(ProjectCrop(), (Crop{0, 0, 1280, 720}));
    EXPECT_EQ(SpinCrop(), (Crop{0, 0, 1280, 720}));
    EXPECT_EQ(main->frmHome->cmbResolution->itemText(0), QStringLiteral("Original"));
    EXPECT_EQ(project.m_OutputHeight, 720);
}

TEST_F(EditPanel, RotationSwapsTheSpinRangesAndTheOutputSize) {
    Open(1280, 720, 9);
    project.m_OutputWidth = 640;
    project.m_OutputHeight = 360;
    SetCrop({100, 20, 400, 300});
    main->frmHome->LoadProject();
    main->SetCurrentControl(1);
    g_calls.clear();

    edit()->btnRotateRight->click();
    EXPECT_EQ(g_calls.front(), Turned(reelpage::kRotateRight));
    EXPECT_EQ(edit()->spCropLeft->maximum(), 719);
    EXPECT_EQ(edit()->spCropWidth->maximum(), 720);
    EXPECT_EQ(edit()->spCropTop->maximum(), 1279);
    EXPECT_EQ(edit()->spCropHeight->maximum(), 1280);
    EXPECT_EQ(SpinCrop(), (Crop{400, 100, 300, 400}));
    EXPECT_EQ(edit()->lblClipAspect->Caption(), QStringLiteral("<a>3:4</a>"));
    EXPECT_EQ(main->frmHome->spWidth->value(), 360);
    EXPECT_EQ(main->frmHome->spHeight->value(), 640);
    EXPECT_EQ(project.m_OutputWidth, 360);
    EXPECT_EQ(project.m_OutputHeight, 640);
    EXPECT_EQ(Count("ApplyCrop"), 0) << "the engine turned the box itself";
    EXPECT_GE(Count("ApplyOutputSize"), 1);

    g_calls.clear();
    const struct {
        TGraphicsButton* TfrmEdit::*button;
        reelpage::OrientationOp operation;
    } others[] = {{&TfrmEdit::btnRotateLeft, reelpage::kRotateLeft},
                  {&TfrmEdit::btnFlipHorizontal, reelpage::kFlipHorizontal},
                  {&TfrmEdit::btnFlipVertical, reelpage::kFlipVertical}};
    for (const auto& o : others)
        (edit()->*o.button)->click();
    for (const auto& o : others)
        EXPECT_EQ(Count(Turned(o.operation)), 1) << o.operation;
    EXPECT_EQ(edit()->spCropWidth->maximum(), 1280);
    EXPECT_EQ(edit()->spCropHeight->maximum(), 720);
    EXPECT_EQ(SpinCrop(), (Crop{100, 20, 400, 300}));
    EXPECT_EQ(Count("ApplyCrop"), 0);
}

// "Original" stays the whole turned picture, as it does for a crop: the
// General panel's spins show at most their bound and never cut the size.
TEST_F(EditPanel, RotationKeepsOriginalWhole) {
    Open(2560, 1440, 0);
    main->SetCurrentControl(1);
    edit()->btnRotateRight->click();
    EXPECT_EQ(project.m_OutputWidth, 1440);
    EXPECT_EQ(project.m_OutputHeight, 2560);
    EXPECT_EQ(main->frmHome->spHeight->value(), 2048);
    edit()->btnRotateLeft->click();
    EXPECT_EQ(project.m_OutputWidth, 2560);
    EXPECT_EQ(project.m_OutputHeight, 1440);
    EXPECT_EQ(main->frmHome->cmbResolution->currentIndex(), 0);
}

TEST_F(EditPanel, BrightnessAndContrast) {
    Open(1280, 720);
    main->SetCurrentControl(1);
    g_calls.clear();
    edit()->tbBrightness->setValue(35);
    edit()->tbContrast->setValue(-12);
    EXPECT_EQ(project.m_Brightness, 35);
    EXPECT_EQ(project.m_Contrast, -12);
    EXPECT_TRUE(edit()->btnResetBrightness->isEnabled());
    EXPECT_TRUE(edit()->btnResetContrast->isEnabled());
    EXPECT_EQ(g_calls, (std::vector<std::string>{kAdjusted, kAdjusted}));

    g_calls.clear();
    edit()->btnResetBrightness->click();
    EXPECT_EQ(project.m_Brightness, 0);
    EXPECT_EQ(project.m_Contrast, -12);
    EXPECT_EQ(edit()->tbBrightness->value(), 0);
    EXPECT_FALSE(edit()->btnResetBrightness->isEnabled());
    EXPECT_TRUE(edit()->btnResetContrast->isEnabled());
    EXPECT_EQ(g_calls, std::vector<std::string>{kAdjusted});

    // The ranges are the fields' ranges.
    edit()->tbContrast->setValue(-80);
    EXPECT_EQ(project.m_Contrast, -50);
    edit()->tbBrightness->setValue(150);
    EXPECT_EQ(project.m_Brightness, 100);
}

// Runs f on the Effects dialog once "More ..." has opened it, then closes it.
void WithEffectsDialog(TfrmEdit* edit, const std::function<void(TfrmEffect*)>& f) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<TfrmEffect*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "\"More ...\" opened no Effects dialog";
            if (modal) modal->close();
            return;
        }
        f(dialog);
        ran = true;
        dialog->btnClose->click();
    });
    edit->btnEffect->click();
    EXPECT_TRUE(ran);
}

TEST_F(EditPanel, BrightnessInTheEffectsDialogMovesThePanelAtOnce) {
    Open(1280, 720);
    main->SetCurrentControl(1);
    g_calls.clear();
    WithEffectsDialog(edit(), [&](TfrmEffect* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Effect"));
        EXPECT_EQ(dialog->PageControl1->count(), 11);
        EXPECT_EQ(dialog->PageControl1->currentIndex(), 0);
        // Every page can be chosen from the rows of page buttons.
        dialog->PageButtons->button(10)->click();
        EXPECT_EQ(dialog->PageControl1->currentIndex(), 10);
        dialog->PageControl1->setCurrentIndex(0);
        EXPECT_TRUE(dialog->PageButtons->button(0)->isChecked());
        EXPECT_FALSE(dialog->PageButtons->button(10)->isChecked());
        dialog->tbBrightness->setValue(-40);
        // While the dialog is still open.
        EXPECT_EQ(edit()->tbBrightness->value(), -40);
        EXPECT_TRUE(edit()->btnResetBrightness->isEnabled());
        dialog->tbContrast->setValue(25);
        EXPECT_EQ(edit()->tbContrast->value(), 25);
        dialog->tbHue->setValue(30);
    });
    EXPECT_EQ(project.m_Brightness, -40);
    EXPECT_EQ(project.m_Contrast, 25);
    EXPECT_EQ(project.m_Hue, 30);
    // One redraw per change, none echoed back by the panel.
    EXPECT_EQ(g_calls, std::vector<std::string>(3, kAdjusted));
}

class EffectsDialog : public EditPanel {};

TEST_F(EffectsDialog, LoadsEveryFieldWithoutEchoAndStoresEveryControl) {
    Open(640, 360);
    project.m_Brightness = 10;
    project.m_Saturation = -7;
    project.m_BlurRadius = 2.6f;
    project.m_SharpenAmount = 3.4f;
    project.m_SharpenRadius = 1e20f; // beyond any position: shown at the end
    project.m_BlurExpandEdge = -1;
    project.m_LevelsShadow = 9;
    project.m_BlackSaturation = 100;
    TfrmEffect dialog(main.get());
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(dialog.tbBrightness->value(), 10);
    EXPECT_EQ(dialog.tbSaturation->value(), -7);
    EXPECT_EQ(dialog.tbRadius->value(), 3);
    EXPECT_EQ(dialog.tbAmount->value(), 3);
    EXPECT_EQ(dialog.tbRadius1->value(), 100);
    EXPECT_TRUE(dialog.cbxExpandEdge->isChecked());
    EXPECT_EQ(dialog.tbShadow->value(), 9);
    EXPECT_EQ(dialog.tbBlack->value(), 100);
    EXPECT_EQ(project.m_BlurRadius, 2.6f) << "opening changes nothing";

    // Each track bar writes its own field (checked by the page it is on and
    // the range it has).
    const auto bars = dialog.TrackBars();
    const int maxima[TfrmEffect::kTrackBarCount] = {100, 50, 90, 50, 50, 100, 100, 50,  90,  50,
                                                    50,  50, 50, 50, 50, 50,  100, 100, 100, 100};
    for (int i = 0; i < TfrmEffect::kTrackBarCount; ++i) {
        EXPECT_EQ(bars[size_t(i)]->maximum(), maxima[i]) << i;
        EXPECT_EQ(dialog.PageControl1->indexOf(bars[size_t(i)]->parentWidget()),
                  TfrmEffect::PageOfTrackBar(i))
            << i;
    }
    dialog.tbDensity->setValue(-60);
    EXPECT_EQ(project.m_Density, -60);
    // All 21 controls are stored: the float fields at the positions shown.
    EXPECT_EQ(project.m_BlurRadius, 3.0f);
    EXPECT_EQ(project.m_SharpenAmount, 3.0f);
    EXPECT_EQ(project.m_BlurExpandEdge, -1);
    dialog.tbRadius1->setValue(45);
    EXPECT_EQ(project.m_SharpenRadius, 45.0f);
    dialog.cbxExpandEdge->click();
    EXPECT_EQ(project.m_BlurExpandEdge, 0);
    EXPECT_EQ(Count(kAdjusted), 3);
}

TEST_F(EffectsDialog, EverySliderIsNamedAndShowsItsValue) {
    Open(640, 360);
    project.m_Exposure = -35;
    project.m_BlurRadius = 2.6f;
    TfrmEffect dialog(main.get());
    const auto bars = dialog.TrackBars();
    for (size_t i = 0; i < bars.size(); ++i) {
        QSlider* bar = bars[i];
        SCOPED_TRACE(bar->objectName().toStdString());
        QLabel* name = nullptr;
        for (QLabel* label : bar->parentWidget()->findChildren<QLabel*>())
            if (label->buddy() == bar) name = label;
        ASSERT_NE(name, nullptr) << "a label says what the bar does";
        EXPECT_TRUE(name->text().endsWith(':'));
        EXPECT_EQ(dialog.lblValues[i]->parentWidget(), bar->parentWidget());
        EXPECT_EQ(dialog.lblValues[i]->text(), QString::number(bar->value())) << "on opening";
        bar->setValue(bar->minimum());
        EXPECT_EQ(dialog.lblValues[i]->text(), QString::number(bar->minimum()));
    }
    EXPECT_EQ(dialog.lblValues[16]->objectName(), "tbExposureValue");
    dialog.btnResetAll->click();
    for (QLabel* value : dialog.lblValues)
        EXPECT_EQ(value->text(), "0") << value->objectName().toStdString();
}

TEST_F(EffectsDialog, ResetRules) {
    Open(640, 360);
    {
        SCOPED_TRACE("a fresh project");
        TfrmEffect dialog(main.get());
        for (QPushButton* reset : dialog.btnReset)
            EXPECT_FALSE(reset->isEnabled()) << reset->objectName().toStdString();
        EXPECT_FALSE(dialog.btnResetAll->isEnabled());
    }
    TfrmEffect dialog(main.get());
    auto enabled = [&] {
        std::vector<int> pages;
        for (int i = 0; i < TfrmEffect::kPageCount; ++i)
            if (dialog.btnReset[size_t(i)]->isEnabled()) pages.push_back(i + 1);
        return pages;
    };
    dialog.tbSaturation->setValue(12);
    EXPECT_EQ(enabled(), std::vector<int>{2});
    EXPECT_TRUE(dialog.btnResetAll->isEnabled());

    // "Expand Edge" alone counts for the Blur page.
    dialog.cbxExpandEdge->click();
    EXPECT_EQ(enabled(), (std::vector<int>{2, 3}));
    dialog.tbWhite->setValue(30);
    dialog.tbYellowBlue->setValue(-3);
    EXPECT_EQ(enabled(), (std::vector<int>{2, 3, 6, 10}));

    // A page's Reset puts its controls at 0 and sends one redraw per
    // control that moved.
    g_calls.clear();
    dialog.PageControl1->setCurrentIndex(2);
    dialog.btnReset[2]->click();
    EXPECT_FALSE(dialog.cbxExpandEdge->isChecked());
    EXPECT_EQ(project.m_BlurExpandEdge, 0);
    EXPECT_EQ(enabled(), (std::vector<int>{2, 6, 10}));
    EXPECT_EQ(Count(kAdjusted), 1);
    for (int page : {2, 6}) {
        dialog.PageControl1->setCurrentIndex(page - 1);
        dialog.btnReset[size_t(page - 1)]->click();
    }
    EXPECT_EQ(project.m_Saturation, 0);
    EXPECT_EQ(project.m_YellowBlue, 0);
    EXPECT_EQ(enabled(), std::vector<int>{10});
    EXPECT_TRUE(dialog.btnResetAll->isEnabled()) << "White Saturation is still set";
    dialog.PageControl1->setCurrentIndex(9);
    dialog.btnReset[9]->click();
    EXPECT_FALSE(dialog.btnResetAll->isEnabled());
    EXPECT_EQ(project.m_WhiteSaturation, 0);

    // Reset All: one redraw per control that was not at 0.
    dialog.tbBrightness->setValue(5);
    dialog.tbHighlight->setValue(7);
    dialog.tbMidtone->setValue(8);
    dialog.cbxExpandEdge->click();
    g_calls.clear();
    dialog.btnResetAll->click();
    EXPECT_EQ(g_calls, std::vector<std::string>(4, kAdjusted));
    EXPECT_EQ(enabled(), std::vector<int>{});
    EXPECT_FALSE(dialog.btnResetAll->isEnabled());
    EXPECT_EQ(project.m_Brightness, 0);
    EXPECT_EQ(project.m_LevelsMidtone, 0);
    EXPECT_EQ(project.m_BlurExpandEdge, 0);
}

TEST_F(EffectsDialog, ResetClearsAFractionThatShowsAsZero) {
    Open(640, 360);
    project.m_BlurRadius = 0.3f;
    project.m_Hue = 5;
    {
        TfrmEffect dialog(main.get());
        EXPECT_EQ(dialog.tbRadius->value(), 0);
        ASSERT_TRUE(dialog.btnReset[2]->isEnabled());
        dialog.PageControl1->setCurrentIndex(2);
        dialog.btnReset[2]->click();
        EXPECT_EQ(project.m_BlurRadius, 0.0f);
        EXPECT_FALSE(dialog.btnReset[2]->isEnabled());
        EXPECT_TRUE(dialog.btnResetAll->isEnabled());
    }
    EXPECT_EQ(project.m_Hue, 5);
    project.m_Hue = 0;
    project.m_SharpenRadius = -0.4f;
    TfrmEffect dialog(main.get());
    g_calls.clear();
    dialog.btnResetAll->click();
    EXPECT_EQ(project.m_SharpenRadius, 0.0f);
    EXPECT_EQ(g_calls, std::vector<std::string>{kAdjusted});
    EXPECT_FALSE(dialog.btnResetAll->isEnabled());
}

} // namespace
