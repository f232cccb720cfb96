// Every window as a screen reader meets it: the accessibility tree of each
// window is walked, and every control a user can reach (buttons, boxes,
// fields, sliders, lists, tabs) must say what it is.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Functions.h"
#include "LowInterface.h"
#include "Main.h"
#include "controls/GraphicsButton.h"
#include "controls/MediaPlayTrackBar.h"
#include "dialogs/About.h"
#include "dialogs/Effect.h"
#include "dialogs/FileInformation.h"
#include "dialogs/Loading.h"
#include "dialogs/Options.h"
#include "dialogs/Poster.h"
#include "dialogs/PublishFrm.h"
#include "dialogs/Task.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

bool IsControl(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::EditableText:
    case QAccessible::PageTab:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::List:
    case QAccessible::ProgressBar:
    case QAccessible::Link:
        return true;
    default:
        return false;
    }
}

// The controls under iface that have no name, as "objectName (role)".
// The web view's accessible nodes are the web engine's own objects, built
// without run-time type information, which the sanitizer's check of an
// object's dynamic type takes for broken ones. This walk only calls through
// the interfaces Qt hands out; our own objects' types are checked everywhere
// else.
__attribute__((no_sanitize("vptr"))) void Nameless(QAccessibleInterface* iface, std::vector<std::string>* out, int* controls) {
    if (!iface) return;
    // A box of choices' own drop-down list is named by the box.
    if (iface->object() && iface->object()->inherits("QComboBoxListView")) return;
    if (IsControl(iface->role())) {
        ++*controls;
        if (iface->text(QAccessible::Name).trimmed().isEmpty()) {
            QObject* o = iface->object();
            out->push_back((o ? o->objectName().toStdString() : std::string("?")) + " (" +
                           (o ? o->metaObject()->className() : "") + ")");
        }
    }
    for (int i = 0; i < iface->childCount(); ++i)
        Nameless(iface->child(i), out, controls);
}

void ExpectEveryControlNamed(QWidget* window) {
    SCOPED_TRACE(window->metaObject()->className());
    std::vector<std::string> nameless;
    int controls = 0;
    Nameless(QAccessible::queryAccessibleInterface(window), &nameless, &controls);
    EXPECT_GT(controls, 0) << "the walk reached the controls";
    EXPECT_EQ(nameless, std::vector<std::string>{});
}

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        apptest::StandInMainWindowEngine();
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
        media = MediaInfo{};
        media.m_bVideoStream = 1;
        media.m_bAudioStream = 1;
        media.m_Width = 640;
        media.m_Height = 360;
        media.m_Duration = 20'000'000;
        project = Project{};
        project.m_OutputWidth = 640;
        project.m_OutputHeight = 360;
    }
    void TearDown() override {
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    MediaInfo media;
    Project project;
};

} // namespace

TEST_F(Accessibility, MainWindowWithEachPanel) {
    TfrmMain main;
    main.show();
    for (int panel : {0, 1, 2}) {
        SCOPED_TRACE(panel);
        main.SetCurrentControl(panel);
        ExpectEveryControlNamed(&main);
    }
}

TEST_F(Accessibility, Dialogs) {
    AppProject = &project;
    AppProjectMedia = &media;
    TfrmMain main;
    std::vector<std::unique_ptr<QWidget>> windows;
    windows.emplace_back(new TfrmEffect(&main));
    windows.emplace_back(new TfrmOptions(&main));
    auto* info = new TfrmMediaInfo(&main);
    info->InitForm(&media);
    windows.emplace_back(info);
    windows.emplace_back(new TfrmLoading(&main));
    windows.emplace_back(new TfrmTasklist(nullptr));
    windows.emplace_back(new TfrmAbout(&main));
    windows.emplace_back(new TfrmPoster(&main));
    for (const auto& window : windows)
        ExpectEveryControlNamed(window.get());
}

TEST_F(Accessibility, PublishWindow) {
    AppProject = &project;
    AppProjectMedia = &media;
    TfrmPublish publish(nullptr);
    ExpectEveryControlNamed(&publish);
}

namespace {

// The widgets Tab reaches from the window, in order, once round.
std::vector<std::string> TabChain(QWidget* window) {
    std::vector<std::string> chain;
    QWidget* w = window;
    for (int guard = 0; guard < 500; ++guard) {
        w = w->nextInFocusChain();
        if (w == window) break;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window) &&
            !w->focusProxy())
            chain.push_back(w->objectName().isEmpty() ? std::string(w->metaObject()->className())
                                                      : w->objectName().toStdString());
    }
    return chain;
}

} // namespace

// Tab goes round the main window as it reads, from the window itself: the
// panel from top to bottom, the page over the picture, the player bar, and
// back to the panel. The Effect dialog likewise: its page buttons, the
// page's sliders and Reset, the dialog's buttons (its pages and buttons are
// made in another order).
TEST_F(Accessibility, TabOrderFollowsTheLayout) {
    AppProject = &project;
    AppProjectMedia = &media;
    TfrmMain main;
    main.show();
    const std::vector<std::string> player = {"btnPlay",      "TrackBar1",    "btnPoster",
                                             "btnClipStart", "btnClipReset", "btnClipStop"};
    std::vector<std::string> expected = {
        "btnAddFile", "edTitle", "cbxCaptions", "btnCaptions", "cbxWebm", "cmbWebmCodec",
        "cbxMp4", "cbxOgg", "cmbResolution", "spWidth", "spHeight", "lblAspect",
        "QRadioButton", "QRadioButton", "QRadioButton", "btnEdit", "btnWater", "btnStart",
        "QQuickWidget"};
    expected.insert(expected.end(), player.begin(), player.end());
    // From the window itself: the first stop is the panel's first control.
    EXPECT_EQ(TabChain(&main), expected);
    // So is the first Tab from nothing, with a video loaded (the player bar
    // enabled, Play the first control made).
    for (QWidget* w : {static_cast<QWidget*>(main.btnPlay), static_cast<QWidget*>(main.TrackBar1)})
        w->setEnabled(true);
    if (QWidget* focus = main.focusWidget()) focus->clearFocus();
    ASSERT_EQ(main.focusWidget(), nullptr);
    QTest::keyClick(&main, Qt::Key_Tab);
    ASSERT_NE(main.focusWidget(), nullptr);
    EXPECT_EQ(main.focusWidget()->objectName().toStdString(), "btnAddFile");

    TfrmEffect effect(&main);
    effect.show();
    std::vector<std::string> dialog(11, "QToolButton"); // the page buttons
    for (const char* name : {"tbBrightness", "tbContrast", "btnReset1", "btnResetAll", "btnClose"})
        dialog.push_back(name);
    EXPECT_EQ(TabChain(&effect), dialog);
}
