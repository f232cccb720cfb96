#pragma once
// A label that shows text in the link-control notation: plain text in which
// "<a>...</a>" marks a clickable link and "\r\n" breaks the line. Everything
// outside the marks is shown as it stands (a folder may hold '<' or '&').
#include <QLabel>

namespace reelpage::app {

class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

    void SetCaption(const QString& caption);
    QString Caption() const { return FCaption; }
    // The caption as shown: rich text with the links made clickable.
    static QString ToRichText(const QString& caption);

signals:
    // A link was clicked; the argument is its text.
    void OnLinkClick(const QString& link);

private:
    QString FCaption;
};

} // namespace reelpage::app
