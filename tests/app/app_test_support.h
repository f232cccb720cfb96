#pragma once
// Shared set-up of the program's widget tests: one QApplication per test
// process (offscreen, web engine allowed to run as root), the program folder
// of this build, and a message-box stand-in that records what would have been
// shown.
#include <QMessageBox>
#include <QPoint>
#include <QSlider>
#include <QString>

#include <string>
#include <vector>

#include "Functions.h"

class QWidget;

namespace apptest {

// Creates the application on first use.
void EnsureApplication();

// Points the program's folders at the build's program folder and loads the
// image set from it.
void UseProgramFolder();

// Binds the engine and stands in for what a main window calls on its own
// (history, settings, update check, preview layout and restart, freeing the
// encoding job) with quiet answers; a test sets the entries it looks at
// afterwards. AppSettings gets a record with an output folder.
void StandInMainWindowEngine();

// The engine's start, once per process: it attaches the message router to
// the application's thread, so posted messages reach the windows. Returns its
// result.
int StartEngineOnce();

// Records message boxes instead of showing them and answers with `answer`.
class MessageRecorder {
public:
    explicit MessageRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~MessageRecorder();
    std::vector<reelpage::app::MessageRequest> shown;
    QMessageBox::StandardButton answer;
};

// Answers the program's open-file dialogs in place of a user: each request is
// recorded and answered with the next of `answers` (then with a cancel).
class OpenFileRecorder {
public:
    explicit OpenFileRecorder(std::vector<QString> answers = {});
    ~OpenFileRecorder();
    std::vector<reelpage::app::OpenFileRequest> asked;
    std::vector<QString> answers;
};

// Where the handle of a horizontal slider (the player bar's track bar) is
// drawn now: the point a user's mouse would press to drag it.
QPoint SliderHandleCentre(QSlider& bar);

// A loaded video's record as the windows show it: an hour-long 1920 x 1080
// file with 5.1 sound, its title and path long enough to take room.
reelpage::MediaInfo LongVideo();

// The text a label or button shows, in quotes, or nothing for other
// widgets: names the widget in a failure message.
std::string ShownText(const QWidget* w);

// Runs the event loop until pred holds or ms pass; returns pred().
template <typename Pred> bool WaitFor(Pred pred, int ms);

// Runs the event loop, deferred deletions included, until the object is
// gone or ms pass; returns whether it is gone.
template <typename T> bool WaitUntilDeleted(const QPointer<T>& object, int ms);

} // namespace apptest

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

template <typename Pred> bool apptest::WaitFor(Pred pred, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

template <typename T> bool apptest::WaitUntilDeleted(const QPointer<T>& object, int ms) {
    return WaitFor(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return object.isNull();
        },
        ms);
}
