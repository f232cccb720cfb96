#pragma once
// A horizontal track bar for a media position: ticks spaced to suit the range,
// a highlighted selection (the clip), and drag begin/end events around the
// user's moves so that a seek can hold playback while the thumb is dragged.
//
// Only moves made by the user raise events. A mouse drag gives one
// OnMouseDragBegin, one OnChange per new position and one OnMouseDragEnd; a
// key press or wheel step outside a drag gives the three in that order. A move
// to the position the bar already has raises nothing, and neither does
// setting Position (use SetPosition, not QSlider::setValue, from code). A
// mouse drag starts only while something listens to OnMouseDragBegin. A press
// beside the thumb moves it to the pressed place (a change inside the drag).
#include <QSlider>

namespace reelpage::app {

class TMediaPlayTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TMediaPlayTrackBar(QWidget* parent = nullptr);

    int Min() const { return FMin; }
    void SetMin(int value);
    int Max() const { return FMax; }
    // Also chooses the tick spacing from the new range.
    void SetMax(int value);
    int Position() const { return FPosition; }
    void SetPosition(int value);

    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }
    void SetSelStart(int value);
    void SetSelEnd(int value);
    // 0..0 clears the selection.
    void SetSelection(int selStart, int selEnd);
    bool HasVisibleSelection() const { return FShowSelRange && (FSelStart != 0 || FSelEnd != 0); }

    bool ShowSelRange() const { return FShowSelRange; }
    void SetShowSelRange(bool value);
    bool ShowTick() const { return FShowTick; }
    void SetShowTick(bool value);

    // Distance between ticks, in positions.
    int Frequency() const { return FFrequency; }
    bool MouseDragging() const { return FMouseDrag; }

    QSize sizeHint() const override { return QSize(150, 45); }
    QSize minimumSizeHint() const override { return QSize(40, 45); }

    // The tick spacing for a range ending at max.
    static int FrequencyForMax(int max);

signals:
    // Each carries the bar that raised it.
    void OnChange(TMediaPlayTrackBar* sender);
    void OnMouseDragBegin(TMediaPlayTrackBar* sender);
    void OnMouseDragEnd(TMediaPlayTrackBar* sender);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UserMoved(int position);
    void EndMouseDrag();
    void ApplySelection();
    int PixelOfValue(int value) const;

    int FPosition = 0;
    int FMin = 0;
    int FMax = 10;
    int FFrequency = 1;
    int FSelStart = 0;
    int FSelEnd = 0;
    bool FShowSelRange = true;
    bool FShowTick = true;
    bool FMouseDrag = false;
};

} // namespace reelpage::app
