#pragma once
// The page shown in the preview area before the first project: our own page
// from the program folder. Its first load is an ordinary one; from the moment
// it has loaded, every navigation in it is stopped, and the three command
// addresses the page links to are raised as OnCommand instead.
#include <QWebEnginePage>

namespace reelpage::app {

enum class HelpCommand {
    AddFiles,     // "http://add_files/": import a video
    Folder,       // "http://folder/": open the output folder
    ChangeFolder, // "http://chang_folder/": the Options dialog
};

class THelpPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit THelpPage(QObject* parent = nullptr);

    // Set once the first document has loaded.
    bool DocumentComplete() const { return FDocumentComplete; }
    void SetDocumentComplete();

    // The command of an address, if it is one of the three.
    static bool CommandOf(const QUrl& url, HelpCommand* command);

signals:
    // One of the command addresses was followed; raised from the event loop,
    // never from inside the web engine's navigation call.
    void OnCommand(HelpCommand command);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    bool FDocumentComplete = false;
};

} // namespace reelpage::app
