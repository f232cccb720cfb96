#pragma once
// The Options dialog: the program-wide defaults in the engine's Settings,
// changed in place the moment a control changes (the main window saves them
// when the dialog has closed). It offers the publish folder so far; the other
// defaults are added with their own work.
#include <QDialog>

class QLineEdit;
class QPushButton;
class QTabWidget;

namespace reelpage::app {

class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent);

    void btnBrowseClick();

    QTabWidget* PageControl1 = nullptr;
    QLineEdit* edFolder = nullptr;
    QPushButton* btnBrowse = nullptr;
    QPushButton* btnClose = nullptr;
};

} // namespace reelpage::app
