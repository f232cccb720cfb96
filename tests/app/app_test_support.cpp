#include "app_test_support.h"

#include "ImageResource.h"

#include <QApplication>

#include <cstdlib>
#include <utility>
#include <unistd.h>

namespace apptest {

void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives until the test process ends
}

void UseProgramFolder() {
    EnsureApplication();
    reelpage::app::SetProgramFolder(QString::fromUtf8(REELPAGE_PROGRAM_DIR));
    reelpage::app::LoadImageResources();
}

MessageRecorder::MessageRecorder(QMessageBox::StandardButton answer) : answer(answer) {
    reelpage::app::SetMessageHandler([this](const reelpage::app::MessageRequest& request) {
        shown.push_back(request);
        return this->answer;
    });
}

MessageRecorder::~MessageRecorder() {
    reelpage::app::SetMessageHandler(nullptr);
}

OpenFileRecorder::OpenFileRecorder(std::vector<QString> answers) : answers(std::move(answers)) {
    reelpage::app::SetOpenFileHandler([this](const reelpage::app::OpenFileRequest& request) {
        size_t next = asked.size();
        asked.push_back(request);
        return next < this->answers.size() ? this->answers[next] : QString();
    });
}

OpenFileRecorder::~OpenFileRecorder() {
    reelpage::app::SetOpenFileHandler(nullptr);
}

} // namespace apptest
