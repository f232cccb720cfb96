#pragma once
// The file information dialog for the project's media record. It holds the
// title box the main window reads after it closes; the pages of stream
// details are added with the import work.
#include <QDialog>

#include "Defines.h"

class QLineEdit;

namespace reelpage::app {

class TfrmMediaInfo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMediaInfo(QWidget* parent);
    // Fills the dialog; call before showing it.
    void InitForm(const MediaInfo* p);

    QLineEdit* edFile = nullptr;
    QLineEdit* edTitle = nullptr;
};

} // namespace reelpage::app
