#pragma once
// The encoding progress window that stands for the program while a project is
// encoded. The main window opens it (OnStart); its progress display and the
// encoding job behind it are added with their own work.
#include <QWidget>

namespace reelpage::app {

class TfrmTasklist : public QWidget {
    Q_OBJECT
public:
    explicit TfrmTasklist(QWidget* parent = nullptr);
    // Called once, right after the window was created and shown.
    void InitForm();
};

} // namespace reelpage::app
