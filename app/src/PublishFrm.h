#pragma once
// The publish window, opened after a successful encoding (OnPublic). Its page
// preview and options are added with their own work.
#include <QWidget>

namespace reelpage::app {

class TfrmPublish : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPublish(QWidget* parent = nullptr);
    // Called once, right after the window was created and shown.
    void InitForm();
};

} // namespace reelpage::app
