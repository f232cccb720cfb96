#pragma once
// Delivers the message router's queue on the Qt user-interface thread: the
// router's wake handle is watched like any socket, so posted and sent
// messages reach window procedures between Qt events, in modal loops too.
#include <QObject>
#include <QSocketNotifier>

namespace reelpage {

class RouterQt : public QObject {
    Q_OBJECT
public:
    RouterQt(int wakeHandle, QObject* parent);

private:
    QSocketNotifier m_notifier;
};

// Starts the router as the engine side and attaches it to the running
// QCoreApplication. Call on the application's thread; further calls do
// nothing while the attachment lives. False without an application, from
// another thread, or when the router cannot start.
bool AttachRouterToQt();

} // namespace reelpage
