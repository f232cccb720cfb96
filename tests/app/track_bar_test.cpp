// The media track bar: tick spacing by range, and which user moves raise
// which events in which order.
#include <gtest/gtest.h>

#include <QTest>

#include <string>
#include <vector>

#include "controls/MediaPlayTrackBar.h"
#include "app_test_support.h"

using reelpage::app::TMediaPlayTrackBar;

namespace {

// Records the events of a bar as "begin", "change:<pos>", "end".
struct Recorder {
    std::vector<std::string> events;
    void Attach(TMediaPlayTrackBar& bar) {
        QObject::connect(&bar, &TMediaPlayTrackBar::OnMouseDragBegin,
                         [this](TMediaPlayTrackBar*) { events.push_back("begin"); });
        QObject::connect(&bar, &TMediaPlayTrackBar::OnChange, [this](TMediaPlayTrackBar* b) {
            events.push_back("change:" + std::to_string(b->Position()));
        });
        QObject::connect(&bar, &TMediaPlayTrackBar::OnMouseDragEnd,
                         [this](TMediaPlayTrackBar*) { events.push_back("end"); });
    }
};

// Widgets need the application before they are made.
struct ApplicationFirst {
    ApplicationFirst() { apptest::EnsureApplication(); }
};

class TrackBar : public ApplicationFirst, public ::testing::Test {
protected:
    void SetUp() override {
        apptest::EnsureApplication();
        bar.resize(300, 45);
        bar.SetMax(20);
        bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
        bar.setFocus();
        recorder.Attach(bar);
    }
    TMediaPlayTrackBar bar;
    Recorder recorder;
};

} // namespace

TEST(TrackBarTicks, SpacingFollowsTheRange) {
    apptest::EnsureApplication();
    const std::pair<int, int> cases[] = {{9, 1},      {10, 5},    {99, 5},    {100, 10},
                                         {199, 10},   {200, 60},  {1199, 60}, {1200, 300},
                                         {3599, 300}, {3600, 600}};
    TMediaPlayTrackBar bar;
    EXPECT_EQ(bar.Max(), 10);
    EXPECT_EQ(bar.Frequency(), 1) << "a new bar keeps its first spacing";
    for (auto [max, spacing] : cases) {
        // Coming from a large range each time, so every value is a change.
        bar.SetMax(100000);
        bar.SetMax(max);
        EXPECT_EQ(bar.Frequency(), spacing) << "Max " << max;
        EXPECT_EQ(bar.tickInterval(), spacing) << "Max " << max;
        EXPECT_EQ(bar.maximum(), max);
    }
}

TEST_F(TrackBar, KeyStepIsAWholeDragOfItsOwn) {
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"begin", "change:1", "end"}));
    recorder.events.clear();
    QTest::keyClick(&bar, Qt::Key_PageUp);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"begin", "change:11", "end"}));
    EXPECT_EQ(bar.Position(), 11);
}

TEST_F(TrackBar, NoEventsWithoutAMove) {
    // At the start already: Home moves nothing.
    QTest::keyClick(&bar, Qt::Key_Home);
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_TRUE(recorder.events.empty());
    // Code that sets the position is never heard.
    bar.SetPosition(7);
    bar.SetPosition(7);
    bar.SetMax(30);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(bar.Position(), 7);
    EXPECT_EQ(bar.value(), 7);
    // At the end already: End moves nothing.
    bar.SetPosition(30);
    QTest::keyClick(&bar, Qt::Key_End);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(TrackBar, MouseDragIsOneBeginAChangePerPositionAndOneEnd) {
    QPoint start = apptest::SliderHandleCentre(bar);
    QTest::mousePress(&bar, Qt::LeftButton, {}, start);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"begin"}));
    EXPECT_TRUE(bar.MouseDragging());
    // Along the channel to the far end, then back a little.
    int last = -1;
    for (int x = start.x(); x <= bar.width(); x += 7) {
        QTest::mouseMove(&bar, QPoint(x, start.y()));
        last = bar.Position();
    }
    QTest::mouseMove(&bar, QPoint(bar.width() / 2, start.y()));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(bar.width() / 2, start.y()));
    ASSERT_GE(recorder.events.size(), 4u);
    EXPECT_EQ(recorder.events.front(), "begin");
    EXPECT_EQ(recorder.events.back(), "end");
    EXPECT_EQ(last, 20);
    int begins = 0, ends = 0;
    std::string previous;
    for (const std::string& e : recorder.events) {
        begins += e == "begin";
        ends += e == "end";
        if (e.rfind("change:", 0) == 0) {
            EXPECT_NE(e, previous) << "a change is only raised for a new position";
            previous = e;
        }
    }
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(recorder.events[recorder.events.size() - 2],
              "change:" + std::to_string(bar.Position()));
    EXPECT_FALSE(bar.MouseDragging());
}

TEST_F(TrackBar, PressAndReleaseInPlaceIsBeginAndEndOnly) {
    bar.SetPosition(5);
    QPoint handle = apptest::SliderHandleCentre(bar);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, handle);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"begin", "end"}));
}

TEST_F(TrackBar, DragEndsWhenTheBarIsDisabled) {
    QTest::mousePress(&bar, Qt::LeftButton, {}, apptest::SliderHandleCentre(bar));
    bar.setEnabled(false);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"begin", "end"}));
    EXPECT_FALSE(bar.MouseDragging());
}

TEST_F(TrackBar, SelectionOfNothingClearsIt) {
    bar.SetSelection(3, 9);
    EXPECT_TRUE(bar.HasVisibleSelection());
    EXPECT_EQ(bar.SelStart(), 3);
    EXPECT_EQ(bar.SelEnd(), 9);
    QImage with = bar.grab().toImage();
    bar.SetSelection(0, 0);
    EXPECT_FALSE(bar.HasVisibleSelection());
    QImage without = bar.grab().toImage();
    EXPECT_NE(with, without) << "the clip is drawn on the channel";
    bar.SetSelection(3, 9);
    EXPECT_EQ(bar.grab().toImage(), with);
    bar.SetShowSelRange(false);
    EXPECT_FALSE(bar.HasVisibleSelection());
    EXPECT_EQ(bar.grab().toImage(), without);
}

TEST(TrackBarListeners, APressStartsNoDragWhileNothingHearsItsBeginning) {
    apptest::EnsureApplication();
    TMediaPlayTrackBar bar;
    bar.resize(300, 45);
    bar.SetMax(20);
    std::vector<std::string> ends;
    QObject::connect(&bar, &TMediaPlayTrackBar::OnMouseDragEnd,
                     [&](TMediaPlayTrackBar*) { ends.push_back("end"); });
    QTest::mousePress(&bar, Qt::LeftButton, {}, apptest::SliderHandleCentre(bar));
    EXPECT_FALSE(bar.MouseDragging());
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, apptest::SliderHandleCentre(bar));
    EXPECT_TRUE(ends.empty());
}
