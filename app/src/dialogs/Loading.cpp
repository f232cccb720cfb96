#include "dialogs/Loading.h"

#include "Functions.h"
#include "LowInterface.h"
#include "TaskbarList.h"
#include "WindowHandle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "reelpage/messages.h"

namespace reelpage::app {

TfrmLoading::TfrmLoading(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmLoading"));
    setWindowTitle(QStringLiteral("Loding ..."));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lblFileName = new QLabel(this);
    lblFileName->setObjectName(QStringLiteral("lblFileName"));
    layout->addWidget(lblFileName);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setAccessibleName(QStringLiteral("Import progress"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    layout->addWidget(ProgressBar1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(btnCancel);
    layout->addLayout(row);
    // Bound to no window: import progress stays off the taskbar.
    TaskbarList1 = new TTaskbarList(this);
    SetDesignedSize(this, 429, 108);
    if (parent) move(parent->window()->geometry().center() - rect().center());

    FHandle =
        std::make_unique<TWindowHandle>(this, [this](uint32_t msg, int64_t wParam, int64_t lParam) {
            return WndProc(msg, wParam, lParam);
        });
}

TfrmLoading::~TfrmLoading() = default;

HWND TfrmLoading::Handle() const {
    return FHandle->Handle();
}

void TfrmLoading::AddFile(const QString& fileName) {
    std::u16string path = fileName.toStdU16String();
    FMediaInfo = Low.OpenMedia(reinterpret_cast<const WCHAR*>(path.c_str()), Handle(), 0,
                               kMsgProbeDone, kMsgProbeProgress);
    lblFileName->setText(fileName);
}

QString TfrmLoading::ResultText(int code) {
    const char* text = ProbeResultText(code);
    return text ? QString::fromUtf8(text) : QString();
}

int64_t TfrmLoading::WndProc(uint32_t msg, int64_t wParam, int64_t) {
    if (msg == kMsgProbeProgress) {
        ProgressBar1->setValue(int(wParam));
        TaskbarList1->SetProgressValue(uint64_t(wParam), 100);
    } else if (msg == kMsgProbeDone) {
        ImportDone(int(wParam));
    }
    return 0;
}

void TfrmLoading::ImportDone(int code) {
    if (FDone) return; // the engine reports the end once; a stray repeat changes nothing
    FDone = true;
    if (code == kProbeOk) {
        // Success needs the record; without one there is nothing to build a
        // project from.
        if (FMediaInfo && FMediaInfo->m_bVideoStream)
            FSuccess = true;
        else
            FStatus = QStringLiteral("Not a movie file");
    } else {
        FStatus = ResultText(code);
    }
    ProgressBar1->setValue(100);
    if (!FClosePending) QDialog::done(FSuccess ? Accepted : Rejected);
}

bool TfrmLoading::CloseQuery() {
    if (FDone) return true;
    FClosePending = true;
    QMessageBox::StandardButton answer = ShowMessage(
        this, QStringLiteral("Are you sure to abort the video import?"), ApplicationTitle,
        QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    FClosePending = false;
    return answer == QMessageBox::Yes;
}

void TfrmLoading::reject() {
    if (!CloseQuery()) return;
    QDialog::done(FSuccess ? Accepted : Rejected);
}

} // namespace reelpage::app
