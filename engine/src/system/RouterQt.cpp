#include "system/RouterQt.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include "platform/router.h"

namespace reelpage {

RouterQt::RouterQt(int wakeHandle, QObject* parent)
    : QObject(parent), m_notifier(wakeHandle, QSocketNotifier::Read, this) {
    connect(&m_notifier, &QSocketNotifier::activated, this, [] { platform::RouterDispatch(); });
}

bool AttachRouterToQt() {
    // Lives as a child of the application, so a new application (tests make
    // several in turn) gets a new attachment.
    static QPointer<RouterQt> s_pAttached;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return false;
    if (s_pAttached) return true;
    int wake = platform::RouterWakeHandle();
    if (wake < 0) return false;
    s_pAttached = new RouterQt(wake, app);
    return true;
}

} // namespace reelpage
