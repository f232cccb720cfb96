#pragma once
// The General panel, the first of the main window's side panels: where a
// video is imported and its output chosen. This holds what the main window
// relies on so far: the Import button and the file dialog behind it; the
// import itself and the output settings are added with their own work.
#include <QWidget>

class QLineEdit;

namespace reelpage::app {

class TGraphicsButton;

class TfrmHome : public QWidget {
    Q_OBJECT
public:
    explicit TfrmHome(QWidget* parent);

    // Asks for a video file (the main window is the dialog's parent) and
    // imports it.
    void btnAddFileClick();
    // The import of one file.
    void AddFile(const QString& fileName);
    // Fills the panel from the current project.
    void LoadProject();
    // The title from the file information dialog.
    void ChangeTitle(const QString& title);

    TGraphicsButton* btnAddFile = nullptr;
    QLineEdit* edTitle = nullptr;

    // The file dialog's filter in the dialog's own notation.
    static QString OpenDialogFilter();

private:
    void edTitleChange(const QString& text);
    void StoreTitle(const QString& text);

    // Set while the panel itself fills its controls, so that their change
    // handlers do not write back what was just read.
    bool FChanging = false;
};

} // namespace reelpage::app
