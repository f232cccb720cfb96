#include "Watermark.h"

namespace reelpage::app {

TfrmWatermark::TfrmWatermark(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmWatermark"));
}

void TfrmWatermark::OnWatermakPosChanged() {}

void TfrmWatermark::OnVideoSizeChanged() {}

} // namespace reelpage::app
