#pragma once
// The Watermark panel, third of the main window's side panels (watermark and
// advertisement). The main window creates and switches it; its controls are
// added with their own work.
#include <QWidget>

namespace reelpage::app {

class TfrmWatermark : public QWidget {
    Q_OBJECT
public:
    explicit TfrmWatermark(QWidget* parent);

    // The user moved the watermark in the preview (message 0x404).
    void OnWatermakPosChanged();
    // The output size changed.
    void OnVideoSizeChanged();
};

} // namespace reelpage::app
