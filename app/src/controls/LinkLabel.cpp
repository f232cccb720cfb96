#include "controls/LinkLabel.h"

#include <QUrl>

namespace reelpage::app {

namespace {

QString PlainPart(QString text) {
    text = text.toHtmlEscaped();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    text.replace(QChar('\n'), QStringLiteral("<br>"));
    return text;
}

} // namespace

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setWordWrap(true);
    connect(this, &QLabel::linkActivated, this, [this](const QString& href) {
        emit OnLinkClick(QUrl::fromPercentEncoding(href.mid(1).toUtf8()));
    });
}

QString TLinkLabel::ToRichText(const QString& caption) {
    static const QString open = QStringLiteral("<a>"), close = QStringLiteral("</a>");
    QString html;
    qsizetype pos = 0;
    while (pos < caption.size()) {
        const qsizetype start = caption.indexOf(open, pos);
        const qsizetype end = start < 0 ? -1 : caption.indexOf(close, start + open.size());
        if (end < 0) {
            html += PlainPart(caption.mid(pos));
            break;
        }
        html += PlainPart(caption.mid(pos, start - pos));
        const QString link = caption.mid(start + open.size(), end - start - open.size());
        // The link's own text travels as its target, so a click reports it.
        // Links are mostly paths: a break opportunity after each separator
        // lets a long one wrap instead of widening the label.
        html += QStringLiteral("<a href=\"#") + QString::fromLatin1(QUrl::toPercentEncoding(link)) +
                QStringLiteral("\">") +
                PlainPart(link).replace(QChar('/'), QStringLiteral("/&#8203;")) +
                QStringLiteral("</a>");
        pos = end + close.size();
    }
    return html;
}

void TLinkLabel::SetCaption(const QString& caption) {
    FCaption = caption;
    setText(ToRichText(caption));
}

} // namespace reelpage::app
