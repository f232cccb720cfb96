#include "dialogs/Task.h"

#include "Functions.h"
#include "LowInterface.h"
#include "TaskbarList.h"
#include "WindowHandle.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QLabel>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "reelpage/encoding.h"
#include "reelpage/messages.h"

namespace reelpage::app {

std::function<uint32_t()> TfrmTasklist::TickCount = [] {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return uint32_t(clock.elapsed());
};

TfrmTasklist::TfrmTasklist(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmTasklist"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Encoding ..."));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* client = new QWidget(this);
    auto* rows = new QHBoxLayout(client);
    rows->setContentsMargins(8, 8, 8, 8);
    ProgressBar1 = new QProgressBar(client);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setAccessibleName(QStringLiteral("Encoding progress"));
    rows->addWidget(ProgressBar1, 1);
    // The same request as the title bar's close: it asks before aborting.
    btnCancel = new QPushButton(QStringLiteral("Cancel"), client);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAccessibleDescription(QStringLiteral("Abort the video output"));
    connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);
    rows->addWidget(btnCancel);
    layout->addWidget(client, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    const char* texts[] = {"0%", "Elapsed:", "0:00", "Estimated:", "0:00"};
    for (int i = 0; i < 5; ++i) {
        Panels[i] = new QLabel(QString::fromLatin1(texts[i]), StatusBar1);
        if (i == 1 || i == 3) {
            Panels[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            Panels[i]->setFrameStyle(QFrame::Panel | QFrame::Raised);
        }
    }
    // One width for all, the designed 80 pixels or the longest text any of
    // them shows at the current font; set before the bar takes them, which
    // it lays out by the widths it finds then.
    int panelWidth = 80;
    for (const char* text : {"Elapsed:", "Estimated:", "Complete", "100%", "000:00"}) {
        Panels[1]->setText(QString::fromLatin1(text));
        panelWidth = qMax(panelWidth, Panels[1]->minimumSizeHint().width());
    }
    Panels[1]->setText(QString::fromLatin1(texts[1]));
    for (QLabel* panel : Panels) {
        panel->setFixedWidth(panelWidth);
        StatusBar1->addWidget(panel);
    }
    layout->addWidget(StatusBar1);
    SetDesignedSize(this, 411, 82);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    TaskbarList1 = new TTaskbarList(this);

    FHandle =
        std::make_unique<TWindowHandle>(this, [this](uint32_t msg, int64_t wParam, int64_t lParam) {
            return WndProc(msg, wParam, lParam);
        });
}

TfrmTasklist::~TfrmTasklist() {
    // The window can go while the engine still finishes the job (the main
    // window destroyed at a stop request): the engine's exit then cancels
    // the job, and must not meet this call half-way through.
    if (FFinishing && !FFinished) FFinishWatcher->waitForFinished();
}

HWND TfrmTasklist::Handle() const {
    return FHandle->Handle();
}

QString TfrmTasklist::PanelText(int index) const {
    return Panels[index]->text();
}

void TfrmTasklist::InitForm() {
    FTalvoricer = Low.StartEncoding(Handle());
    if (FTalvoricer) {
        FStartTimer = TickCount();
        Timer1->start();
    } else {
        ShowMessage(this, QStringLiteral("Failed !"), ApplicationTitle, QMessageBox::Critical);
        FDone = true;
        close();
    }
    TaskbarList1->SetWindowHandle(this);
}

void TfrmTasklist::Timer1Timer() {
    if (!FTalvoricer) return;
    // Read once: the engine's threads move these while we look.
    const int64_t pts = FTalvoricer->m_Pts;
    const int64_t duration = FTalvoricer->m_Duration;
    if (pts >= duration) {
        // All input is handed over; the encoders are finishing their files.
        Timer1->stop();
        ProgressBar1->setRange(0, 0);
        Panels[0]->setText(QStringLiteral("100%"));
        Panels[4]->setText(QStringLiteral("Complete"));
        return;
    }
    const int64_t p = pts * 100 / duration;
    const int64_t elapsed = int64_t(uint32_t(TickCount() - FStartTimer));
    ProgressBar1->setValue(int(p));
    Panels[0]->setText(QString::asprintf("%d%%", int(p)));
    Panels[2]->setText(SecondsToText(int(elapsed / 1000)));
    // Below 2 % a projection would only jump about.
    if (p > 1) {
        const int64_t estimate = elapsed * duration / pts;
        Panels[4]->setText(SecondsToText(int((estimate - elapsed) / 1000)));
    }
    TaskbarList1->SetProgressValue(uint64_t(p), 100);
}

void TfrmTasklist::Fail() {
    Timer1->stop();
    FDone = true;
    ShowMessage(this, QStringLiteral("Failed !"), ApplicationTitle, QMessageBox::Critical);
    close();
}

int64_t TfrmTasklist::WndProc(uint32_t msg, int64_t wParam, int64_t) {
    // Once the run has ended, later reports (another encoder failing while
    // the message box is open) change nothing and raise no second box.
    if (FDone) return 0;
    if (msg == kMsgEncoderDone) {
        if (wParam != kEncoderOk) {
            Fail();
        } else if (++FComplete >= FTalvoricer->m_cEncoder) {
            Timer1->stop();
            FSuccess = true;
            FDone = true;
            close();
        }
    } else if (msg == kMsgAudioFed && wParam != kAudioFedAll) {
        Fail();
    }
    return 0;
}

void TfrmTasklist::closeEvent(QCloseEvent* event) {
    if (FFinished) {
        event->accept();
        return;
    }
    if (!FDone &&
        ShowMessage(this, QStringLiteral("Are you sure to abort the video output?"),
                    ApplicationTitle, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                    QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    // A confirmed abort ends the run too: reports still on their way are
    // not acted on.
    FDone = true;
    Timer1->stop();
    // The window stays until the job is finished, and closes itself then.
    event->ignore();
    if (FFinishing) return;
    FFinishing = true;
    btnCancel->setEnabled(false);
    // Success lets the encoders end after writing their files (the engine
    // waits for that within a bound); anything else stops them and the
    // engine removes the unfinished package. Either way the engine waits for
    // its helpers and its caption writer and writes the poster and the
    // package's name to disk: on a thread of the pool, so that the interface
    // keeps drawing meanwhile.
    const BOOL cancel = FSuccess ? 0 : -1;
    FFinishWatcher = new QFutureWatcher<int32_t>(this);
    connect(FFinishWatcher, &QFutureWatcher<int32_t>::finished, this,
            [this] { JobFinished(FFinishWatcher->result()); });
    FFinishWatcher->setFuture(QtConcurrent::run([cancel] { return Low.FinishEncoding(cancel); }));
}

void TfrmTasklist::JobFinished(int32_t result) {
    FFinished = true;
    if (result != 0 && FSuccess) {
        // Every output was written but the package could not take its name:
        // nothing to publish, and the user must learn where the files are.
        FSuccess = false;
        const WCHAR* folder = Low.GetOutputFolder();
        const QString kept = folder ? FieldText(folder, kMaxPath) : QString();
        ShowMessage(this,
                    QStringLiteral("The package could not be moved into the output folder. "
                                   "Its files are kept in:\n%1")
                        .arg(kept.isEmpty() ? QStringLiteral("(see the log)") : kept),
                    ApplicationTitle, QMessageBox::Critical);
    }
    emit Finished(FSuccess);
    close();
}

} // namespace reelpage::app
