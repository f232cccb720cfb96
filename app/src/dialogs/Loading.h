#pragma once
// The import progress dialog: asks the engine to open one file, shows its
// progress and keeps its verdict for the caller, who reads it after the
// dialog closed.
#include <QDialog>
#include <QString>

#include <memory>

#include "Defines.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace reelpage::app {

class TTaskbarList;
class TWindowHandle;

class TfrmLoading : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLoading(QWidget* parent);
    ~TfrmLoading() override;

    // Starts the engine's import for this dialog; call before showing it.
    void AddFile(const QString& fileName);
    HWND Handle() const;

    // The text for a result code of an import; empty for success and for
    // codes the engine does not define.
    static QString ResultText(int code);

    QLabel* lblFileName = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* btnCancel = nullptr;
    TTaskbarList* TaskbarList1 = nullptr;

    // The verdict, read by the caller once the dialog has closed.
    MediaInfo* FMediaInfo = nullptr;
    QString FStatus;
    bool FDone = false;
    bool FSuccess = false;
    bool FClosePending = false;

public slots:
    void reject() override;

private:
    int64_t WndProc(uint32_t msg, int64_t wParam, int64_t lParam);
    void ImportDone(int code);
    bool CloseQuery();

    std::unique_ptr<TWindowHandle> FHandle;
};

} // namespace reelpage::app
