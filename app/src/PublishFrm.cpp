#include "PublishFrm.h"

#include "Functions.h"

namespace reelpage::app {

TfrmPublish::TfrmPublish(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmPublish"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ApplicationTitle);
}

void TfrmPublish::InitForm() {}

} // namespace reelpage::app
