#include "Task.h"

#include "Functions.h"

namespace reelpage::app {

TfrmTasklist::TfrmTasklist(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmTasklist"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ApplicationTitle);
}

void TfrmTasklist::InitForm() {}

} // namespace reelpage::app
