#pragma once
// Progress on the program's launcher or taskbar entry, through the
// freedesktop launcher-entry signal that docks and panels listen to. Where
// there is no session bus there is no such entry, and every call does nothing;
// so does a list not bound to a window.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>

namespace reelpage::app {

class TTaskbarList : public QObject {
    Q_OBJECT
public:
    explicit TTaskbarList(QObject* parent = nullptr);
    // Clears the progress of the bound window.
    ~TTaskbarList() override;

    // The window whose entry shows the progress (write-only in use).
    void SetWindowHandle(QWidget* window);
    void SetProgressValue(uint64_t completed, uint64_t total);

    // Whether the desktop can be told (a session bus is there).
    bool Available() const { return FAvailable; }

    // The desktop entry the progress belongs to.
    static QString ApplicationUri();

private:
    void Send(double progress, bool visible);

    bool FAvailable = false;
    QPointer<QWidget> FHandle;
};

} // namespace reelpage::app
