#pragma once
// A push button that draws a shared picture (not owned) beside or instead of
// its caption, and a light-grey copy of it while disabled. As a split button
// its right part opens a drop-down menu or raises OnDropDownClick instead of
// clicking.
#include <QImage>
#include <QPushButton>

#include <memory>

class QMenu;

namespace reelpage::app {

class TGraphicsButton : public QPushButton {
    Q_OBJECT
public:
    explicit TGraphicsButton(QWidget* parent = nullptr);
    ~TGraphicsButton() override;

    // Stores the picture (no copy), drops the grey copy, repaints.
    void SetImage(const QImage* image);
    const QImage* Image() const { return FImage; }
    // The grey copy, once a disabled paint has needed it; null before.
    const QImage* ImageGrey() const { return FImageGrey.get(); }

    // Where the picture goes: 6 pixels from the left beside a caption,
    // otherwise centred; vertically centred.
    QPoint ImagePosition() const;

    // Split button: the right part shows an arrow and opens menu (when set)
    // or raises OnDropDownClick.
    void SetSplitButton(bool split);
    bool SplitButton() const { return FSplit; }
    void SetDropDownMenu(QMenu* menu) { FDropDownMenu = menu; }
    // Opens the drop-down menu under the button's lower left corner.
    void PopupDropDownMenu();

    QSize sizeHint() const override;
    // The least size in which the picture and the caption show whole at the
    // current font, the style's least button width aside: a button of a
    // designed size grows to it for a larger font.
    QSize ContentSize() const;

signals:
    // The arrow part was pressed and no drop-down menu is set.
    void OnDropDownClick(TGraphicsButton* sender);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int SplitWidth() const { return FSplit ? 16 : 0; }
    const QImage* PictureToDraw();

    const QImage* FImage = nullptr;
    std::unique_ptr<QImage> FImageGrey;
    bool FSplit = false;
    QMenu* FDropDownMenu = nullptr;
};

} // namespace reelpage::app
