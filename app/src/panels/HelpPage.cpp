#include "panels/HelpPage.h"

#include <QTimer>

namespace reelpage::app {

THelpPage::THelpPage(QObject* parent) : QWebEnginePage(parent) {
    // Only a page that did load counts: a load cut short by another
    // navigation, or a cancelled one, reports a failed finish.
    connect(this, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok && !FDocumentComplete) SetDocumentComplete();
    });
}

void THelpPage::SetDocumentComplete() {
    FDocumentComplete = true;
    // The page sits in the preview area as if it were part of the window: no
    // scroll bars, no border, no margin.
    runJavaScript(QStringLiteral("document.body.style.overflow = 'hidden';"
                                 "document.body.style.border = 'none';"
                                 "document.body.style.margin = '0px';"));
}

bool THelpPage::CommandOf(const QUrl& url, HelpCommand* command) {
    const QString address = url.toString();
    if (address == QStringLiteral("http://add_files/")) {
        *command = HelpCommand::AddFiles;
    } else if (address == QStringLiteral("http://folder/")) {
        *command = HelpCommand::Folder;
    } else if (address == QStringLiteral("http://chang_folder/")) {
        *command = HelpCommand::ChangeFolder;
    } else {
        return false;
    }
    return true;
}

bool THelpPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    if (!FDocumentComplete) return true;
    HelpCommand command;
    if (CommandOf(url, &command)) {
        // Out of the navigation callback: the command may open a modal
        // dialog, which must not run inside the web engine's call.
        QTimer::singleShot(0, this, [this, command] { emit OnCommand(command); });
    }
    return false;
}

} // namespace reelpage::app
