#include "TaskbarList.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace reelpage::app {

namespace {
constexpr char kPath[] = "/com/zelmorix/reelpage/progress";
constexpr char kInterface[] = "com.canonical.Unity.LauncherEntry";
} // namespace

TTaskbarList::TTaskbarList(QObject* parent) : QObject(parent) {
    FAvailable = QDBusConnection::sessionBus().isConnected();
}

TTaskbarList::~TTaskbarList() {
    if (FHandle) Send(0.0, false);
}

QString TTaskbarList::ApplicationUri() {
    return QStringLiteral("application://reelpage.desktop");
}

void TTaskbarList::SetWindowHandle(QWidget* window) {
    FHandle = window;
}

void TTaskbarList::SetProgressValue(uint64_t completed, uint64_t total) {
    if (!FHandle) return;
    double progress = total == 0 ? 0.0 : double(qMin(completed, total)) / double(total);
    Send(progress, true);
}

void TTaskbarList::Send(double progress, bool visible) {
    if (!FAvailable) return;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), progress);
    properties.insert(QStringLiteral("progress-visible"), visible);
    signal << ApplicationUri() << properties;
    QDBusConnection::sessionBus().send(signal);
}

} // namespace reelpage::app
