#pragma once
// The encoding progress window that stands for the program while a project is
// encoded (the main window is hidden meanwhile). It starts the engine's job,
// shows its progress once a second, collects the job's completion messages,
// lets the user abort, and when it closes finishes the job and says (Finished)
// whether to publish or to return to editing.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "Defines.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
template <typename T>
class QFutureWatcher;

namespace reelpage::app {

class TTaskbarList;
class TWindowHandle;

class TfrmTasklist : public QWidget {
    Q_OBJECT
public:
    explicit TfrmTasklist(QWidget* parent = nullptr);
    ~TfrmTasklist() override;

    // Called once, right after the window was created and shown.
    void InitForm();
    HWND Handle() const;

    // Once a second while the job runs.
    void Timer1Timer();
    // The status bar's panel texts, 0..4.
    QString PanelText(int index) const;

    // Milliseconds of a monotonic clock; tests replace it.
    static std::function<uint32_t()> TickCount;

    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* btnCancel = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* Panels[5] = {};
    QTimer* Timer1 = nullptr;
    TTaskbarList* TaskbarList1 = nullptr;

    PTalvoricer FTalvoricer = nullptr;
    uint32_t FStartTimer = 0;
    int FComplete = 0;
    bool FDone = false;
    bool FSuccess = false;

signals:
    // The window is closing and the engine's job is finished: success when
    // every output was written. Raised once.
    void Finished(bool success);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int64_t WndProc(uint32_t msg, int64_t wParam, int64_t lParam);
    void Fail();
    // The engine's job is finished (FinishEncoding's result): says so, and
    // closes the window.
    void JobFinished(int32_t result);

    QFutureWatcher<int32_t>* FFinishWatcher = nullptr; // FinishEncoding on a pool thread
    bool FFinishing = false; // FinishEncoding runs
    bool FFinished = false;  // and has returned
    std::unique_ptr<TWindowHandle> FHandle;
};

} // namespace reelpage::app
