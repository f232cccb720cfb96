#include "Editor.h"

namespace reelpage::app {

TfrmEdit::TfrmEdit(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmEdit"));
}

void TfrmEdit::OnCropChanged() {}

} // namespace reelpage::app
