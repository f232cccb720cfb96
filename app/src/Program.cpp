#include "Program.h"

#include "Flash.h"
#include "Functions.h"
#include "ImageResource.h"
#include "LowInterface.h"
#include "Main.h"
#include "WindowHandle.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace reelpage::app {

namespace {

const char kCorrupted[] =
    "The software is corrupted, please download and install the latest version.";

void Fail(const char* text) {
    ShowMessage(nullptr, QString::fromLatin1(text), ApplicationTitle, QMessageBox::Critical);
}

int g_hStopPipe[2] = {-1, -1};
bool g_bStopRequested = false; // a stop signal came, maybe before the loop ran

void OnStopSignal(int signal) {
    const unsigned char code = static_cast<unsigned char>(signal);
    const int saved = errno;
    ssize_t ignored = write(g_hStopPipe[1], &code, 1);
    (void)ignored;
    errno = saved;
}

// SIGTERM (logout), SIGINT and SIGHUP end the program the way closing its
// window does: the event loops stop and the normal exit runs, which cancels
// a running job (helpers ended, its unfinished folder removed). Without this
// the signal killed the process on the spot and left the folder behind.
// A handler, not a blocked mask: children started by anybody (the browser
// that opens a page) must not inherit blocked signals.
void HandleStopSignals(QCoreApplication* app) {
    if (pipe2(g_hStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_hStopPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        unsigned char code = 0;
        while (read(g_hStopPipe[0], &code, 1) == 1) {
        }
        g_bStopRequested = true;
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
}

} // namespace

int ProgramMain(int argc, char** argv) {
    BindLowInterface();

    // A second start only brings the first program forward, once that one
    // has shown its main window.
    HWND firstWindow = 0;
    if (Low.EnterInstance(&firstWindow) >= 2) {
        if (firstWindow != 0) BringInstanceWindowForward(firstWindow);
        return 0;
    }

    // The help page's web engine refuses to start as root inside its sandbox.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("reelpage"));
    QApplication::setApplicationVersion(VersionToText(GetProgramVersion()));
    QGuiApplication::setDesktopFileName(QStringLiteral("reelpage"));
    // The program ends with its main window, not with its last window: while
    // encoding or publishing the main window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    HandleStopSignals(&app);

    SetProgramFolder(QCoreApplication::applicationDirPath());
    QIcon icon;
    for (const char* size : {"48x48", "256x256"})
        icon.addFile(ProgramFolder + QStringLiteral("share/icons/hicolor/%1/apps/reelpage.png")
                                         .arg(QString::fromLatin1(size)));
    QApplication::setWindowIcon(icon);

    Low.CheckRecordSizes(kAppSettingsSize, kAppMediaInfoSize, kAppProjectSize);

    if (!Low.LoadProductInfo(&AppProductInfo)) {
        Fail(kCorrupted);
        return 1;
    }
    QString title = ProductString(kProductTitle);
    if (!title.isEmpty()) ApplicationTitle = title;

    auto splash = std::make_unique<TfrmFlash>();
    splash->show();
    splash->repaint();
    QCoreApplication::processEvents();

    Low.InitDiagnostics();
    if (Low.InitFolders() != 0) {
        splash.reset();
        Fail(kCorrupted);
        return 1;
    }
    LoadImageResources();
    if (Low.InitEngine() != 0) {
        splash.reset();
        Fail("Failed to initialize.");
        return 1;
    }
    // Without the settings record no view can work; that is a failed start
    // too, not a crash later.
    AppSettings = Low.GetSettings();
    if (!AppSettings) {
        splash.reset();
        Fail("Failed to initialize.");
        return 1;
    }

    {
        TfrmMain main;
        QObject::connect(&main, &TfrmMain::Closed, &app, &QCoreApplication::quit);
        main.show();
        splash.reset();
        if (!g_bStopRequested) app.exec();
    }
    Low.ExitEngine();
    return 0;
}

} // namespace reelpage::app
