#pragma once
// The Edit panel, second of the main window's side panels (crop, rotation,
// flips, brightness and contrast). The main window creates and switches it;
// its controls are added with their own work.
#include <QWidget>

namespace reelpage::app {

class TfrmEdit : public QWidget {
    Q_OBJECT
public:
    explicit TfrmEdit(QWidget* parent);

    // The user dragged the crop frame in the preview (message 0x403).
    void OnCropChanged();
};

} // namespace reelpage::app
