#pragma once
// A latching button of a group (buttons of one parent sharing a GroupIndex):
// pressing one lets the others of its group up; with AllowAllUp a pressed one
// can be let up again. It draws a shared picture and, beside it, a text.
#include <QImage>
#include <QToolButton>

namespace reelpage::app {

class TGraphicsGroupRadio : public QToolButton {
    Q_OBJECT
public:
    explicit TGraphicsGroupRadio(QWidget* parent = nullptr);

    // The picture (not owned) and the text drawn beside it.
    void SetImage(const QImage* image, const QString& btnText = QString());
    const QImage* Image() const { return FImage; }
    QString BtnText() const { return FBtnText; }

    // Left edge of the picture; 0 centres it.
    int ImageLeft() const { return FImageLeft; }
    void SetImageLeft(int left);

    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int index) { FGroupIndex = index; }
    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool allow) { FAllowAllUp = allow; }
    bool Down() const { return isChecked(); }
    void SetDown(bool down) { setChecked(down); }

    // Where the picture is drawn.
    QPoint ImagePosition() const;

    QSize sizeHint() const override;

protected:
    void nextCheckState() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void ReleaseOthers();

    const QImage* FImage = nullptr;
    QString FBtnText;
    int FImageLeft = 0;
    int FGroupIndex = 0;
    bool FAllowAllUp = false;
};

} // namespace reelpage::app
