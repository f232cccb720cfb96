#include "Program.h"

#include "dialogs/Flash.h"
#include "Functions.h"
#include "ImageResource.h"
#include "LowInterface.h"
#include "Main.h"
#include "WindowHandle.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace reelpage::app {

namespace {

const char kCorrupted[] =
    "The software is corrupted, please download and install the latest version.";

void Fail(const char* text) {
    ShowMessage(nullptr, QString::fromLatin1(text), ApplicationTitle, QMessageBox::Critical);
}

// How long a later start with a file waits for the first program's window,
// which is registered only once the first program has started up.
constexpr int kHandOverWaitMs = 20000;

// Qt's own options that take a value (QGuiApplication and QApplication
// remove them from the command line; the instance test runs before that).
// Every other option is a switch.
bool TakesValue(const char* option) {
    static const std::string kOptions = " platform platformpluginpath platformtheme plugin "
                                        "qmljsdebugger geometry qwindowgeometry qwindowicon title "
                                        "qwindowtitle display style stylesheet session name ";
    while (*option == '-')
        ++option;
    return kOptions.find(' ' + std::string(option) + ' ') != std::string::npos;
}

// The file to import named on the command line (reelpage FILE, as the
// desktop entry starts it), as a full path; empty when there is none.
QString FileArgument(int argc, char** argv) {
    QString file;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && arg[0] == '-' && arg[1] != 0) {
            if (TakesValue(arg) && !std::strchr(arg, '=')) ++i;
        } else {
            file = QString::fromLocal8Bit(arg);
        }
    }
    if (file.isEmpty()) return file;
    if (file.startsWith(QStringLiteral("file:"))) file = QUrl(file).toLocalFile();
    return QFileInfo(file).absoluteFilePath();
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

    const QString file = FileArgument(argc, argv);

    // A second start only brings the first program forward, once that one
    // has shown its main window; a file it was given goes with it.
    HWND firstWindow = 0;
    if (Low.EnterInstance(&firstWindow) >= 2) {
        if (file.isEmpty()) {
            if (firstWindow != 0) BringInstanceWindowForward(firstWindow);
            return 0;
        }
        // The file must not be lost while the first program is still
        // starting. Asking again only raises the start counter, which
        // nothing compares with anything but 2.
        for (int waited = 0; firstWindow == 0 && waited < kHandOverWaitMs; waited += 100) {
            usleep(100 * 1000);
            Low.EnterInstance(&firstWindow);
        }
        if (firstWindow != 0 && HandFileToInstance(firstWindow, file)) return 0;
        std::fprintf(stderr, "reelpage: the running program could not be reached to open %s\n",
                     file.toLocal8Bit().constData());
        return 1;
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
    // The icons stand in the build's program folder; an installed program
    // folder (PREFIX/lib/reelpage) finds them in PREFIX/share.
    QIcon icon;
    for (const QString& share :
         {ProgramFolder + QStringLiteral("share/"), ProgramFolder + QStringLiteral("../../share/")})
        for (const char* size : {"48x48", "256x256"}) {
            QString png =
                share +
                QStringLiteral("icons/hicolor/%1/apps/reelpage.png").arg(QString::fromLatin1(size));
            if (QFileInfo::exists(png)) icon.addFile(png);
        }
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
        if (!file.isEmpty()) main.OpenFile(file);
        if (!g_bStopRequested) app.exec();
    }
    Low.ExitEngine();
    return 0;
}

} // namespace reelpage::app
