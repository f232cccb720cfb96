// Every window at one and a half times the usual font, as a user with a
// larger system font sees it: each label, button, group title and tab shows
// its text whole, in the place the window gives it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LowInterface.h"
#include "Main.h"
#include "controls/GraphicsButton.h"
#include "dialogs/About.h"
#include "dialogs/Effect.h"
#include "dialogs/FileInformation.h"
#include "dialogs/Flash.h"
#include "dialogs/Loading.h"
#include "dialogs/Options.h"
#include "dialogs/Poster.h"
#include "dialogs/PublishFrm.h"
#include "dialogs/Task.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

std::string Name(const QWidget* w) {
    return std::string(w->metaObject()->className()) + " " + w->objectName().toStdString() +
           " " + apptest::ShownText(w);
}

std::string Describe(const QWidget* w, const QSize& needed) {
    return Name(w) + ": " + std::to_string(w->width()) + "x" + std::to_string(w->height()) +
           " for " + std::to_string(needed.width()) + "x" + std::to_string(needed.height());
}

// The room a push button leaves its text, and the width the text takes: the
// text is drawn in the style's contents rectangle, right of the picture
// (6 from the edge, 4 before the text) or the icon, left of a split arrow.
// The style's least button width plays no part: a narrow button whose text
// fits is whole.
std::pair<int, int> PushButtonText(QPushButton* button) {
    QStyleOptionButton opt;
    opt.initFrom(button);
    int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width();
    if (auto* graphics = qobject_cast<TGraphicsButton*>(button)) {
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        const int left = graphics->Image() ? 6 + graphics->Image()->width() + 4 : contents.left();
        room = contents.right() + 1 - (graphics->SplitButton() ? 16 : 0) - left;
    } else if (!button->icon().isNull()) {
        room -= button->iconSize().width() + 4;
    }
    QString text = button->text();
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return {room, button->fontMetrics().horizontalAdvance(text)};
}

bool ShowsText(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) return !label->text().isEmpty();
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) return !button->text().isEmpty();
    return false;
}

// The texts under window (what is on screen now) that do not fit the room
// they were given.
std::vector<std::string> CutTexts(QWidget* window) {
    std::vector<std::string> cut;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) continue;
        QSize needed;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || label->pixmap().isNull() == false) continue;
            needed = label->wordWrap() ? QSize(0, label->heightForWidth(label->width()))
                                       : label->minimumSizeHint();
        } else if (auto* push = qobject_cast<QPushButton*>(w)) {
            if (push->text().isEmpty()) continue;
            const auto [room, text] = PushButtonText(push);
            if (room < text || push->height() < push->fontMetrics().height())
                cut.push_back(Describe(w, QSize(text, push->fontMetrics().height())) +
                              " (text room " + std::to_string(room) + ")");
            continue;
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->text().isEmpty()) continue;
            needed = button->minimumSizeHint();
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            if (group->title().isEmpty()) continue;
            needed = QSize(group->minimumSizeHint().width(), 0);
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            // Tabs that do not fit are scrolled or elided.
            const bool across = tabs->shape() == QTabBar::RoundedNorth ||
                                tabs->shape() == QTabBar::RoundedSouth ||
                                tabs->shape() == QTabBar::TriangularNorth ||
                                tabs->shape() == QTabBar::TriangularSouth;
            needed = across ? QSize(tabs->sizeHint().width(), 0)
                            : QSize(0, tabs->sizeHint().height());
        } else {
            continue;
        }
        if (w->width() < needed.width() || w->height() < needed.height())
            cut.push_back(Describe(w, needed));
    }
    // Texts placed by hand or by a layout with too little room lie over each
    // other.
    std::vector<QWidget*> texts;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisibleTo(window) && ShowsText(w)) texts.push_back(w);
    for (size_t a = 0; a < texts.size(); ++a)
        for (size_t b = a + 1; b < texts.size(); ++b)
            if (texts[a]->parentWidget() == texts[b]->parentWidget() &&
                texts[a]->geometry().intersects(texts[b]->geometry()))
                cut.push_back(Name(texts[a]) + " lies over " + Name(texts[b]));
    return cut;
}

// Shows window, lets its layout settle, and checks what it shows.
void ExpectWholeTexts(QWidget* window, const std::string& what) {
    SCOPED_TRACE(what);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // Sizes settle through posted layout requests, a few rounds deep.
    QTest::qWait(50);
    EXPECT_EQ(CutTexts(window), std::vector<std::string>{});
}

void ExpectEveryPageWhole(QWidget* window, QTabWidget* pages, const std::string& what) {
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        ExpectWholeTexts(window, what + " page " + pages->tabText(page).toStdString());
    }
}

class LargeFont : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        apptest::StandInMainWindowEngine();
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
        media = apptest::LongVideo();
        project = Project{};
        project.m_OutputWidth = 640;
        project.m_OutputHeight = 360;
        AppProject = &project;
        AppProjectMedia = &media;
        usual = QApplication::font();
        QFont large = usual;
        large.setPointSizeF(usual.pointSizeF() * 1.5);
        QApplication::setFont(large);
    }
    void TearDown() override {
        QApplication::setFont(usual);
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    MediaInfo media;
    Project project;
    QFont usual;
};

} // namespace

TEST_F(LargeFont, MainWindowWithEachPanel) {
    TfrmMain main;
    for (int panel : {0, 1, 2}) {
        main.SetCurrentControl(panel);
        ExpectWholeTexts(&main, "panel " + std::to_string(panel));
    }
}

TEST_F(LargeFont, Dialogs) {
    TfrmMain main;
    {
        TfrmFlash splash;
        ExpectWholeTexts(&splash, "splash");
    }
    {
        TfrmAbout about(&main);
        ExpectWholeTexts(&about, "about");
    }
    {
        TfrmOptions options(&main);
        ExpectEveryPageWhole(&options, options.PageControl1, "options");
    }
    {
        TfrmEffect effects(&main);
        ExpectEveryPageWhole(&effects, effects.PageControl1, "effects");
    }
    {
        TfrmPoster poster(&main);
        ExpectWholeTexts(&poster, "poster");
    }
    {
        TfrmMediaInfo info(&main);
        info.InitForm(&media);
        ExpectWholeTexts(&info, "file information");
    }
    {
        TfrmLoading loading(&main);
        ExpectWholeTexts(&loading, "loading");
    }
    {
        TfrmTasklist encoding(nullptr);
        ExpectWholeTexts(&encoding, "encoding");
    }
}

TEST_F(LargeFont, PublishWindow) {
    TfrmPublish publish(nullptr);
    ExpectWholeTexts(&publish, "publish");
}
