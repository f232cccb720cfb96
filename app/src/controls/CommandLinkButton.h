#pragma once
// A command-link button (a caption in large type with a note under it) that
// draws a shared picture at its left, or the arrow "Go.png" when it has none;
// grey copies stand in while it is disabled.
#include <QCommandLinkButton>
#include <QImage>

#include <memory>

namespace reelpage::app {

class TCommandLinkButton : public QCommandLinkButton {
    Q_OBJECT
public:
    explicit TCommandLinkButton(QWidget* parent = nullptr);
    ~TCommandLinkButton() override;

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    // The note under the caption, shown as it stands ('&' is no mnemonic).
    QString CommandLinkHint() const;
    void SetCommandLinkHint(const QString& hint);

    // Stores the picture (no copy), drops the grey copy, repaints.
    void SetImage(const QImage* image);
    const QImage* Image() const { return FImage; }
    const QImage* ImageGrey() const { return FImageGrey.get(); }

    // Where the picture (or the arrow) is drawn.
    QPoint ImagePosition() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ReserveImageSpace();

    const QImage* FImage = nullptr;
    std::unique_ptr<QImage> FImageGrey;
};

} // namespace reelpage::app
