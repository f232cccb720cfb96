#pragma once
// Window handles of the program: the ids by which the engine and the
// program's own dialogs address its windows. Each is a window of the
// process's message router (the engine's, shared through the engine library),
// so messages posted to it arrive on the user-interface thread in the order
// they were posted.
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "Defines.h"

namespace reelpage::app {

// Brings a window to the front (the second start's request to the first).
// Windows gives this number to activation; the router carries it like any
// other posted message.
constexpr uint32_t kMsgActivate = 0x0006;

// The name of the property that carries a widget's handle, so that the engine
// can find the widget behind a handle it was given (the render parent).
constexpr char kHandleProperty[] = "reelpage_hwnd";

class TWindowHandle {
public:
    using Procedure = std::function<int64_t(uint32_t msg, int64_t wParam, int64_t lParam)>;

    // A new handle for widget whose messages go to procedure.
    TWindowHandle(QWidget* widget, Procedure procedure);
    ~TWindowHandle();
    TWindowHandle(const TWindowHandle&) = delete;
    TWindowHandle& operator=(const TWindowHandle&) = delete;

    HWND Handle() const { return m_hwnd; }

private:
    HWND m_hwnd = 0;
};

// Posts a message to a window of this process; false when it does not exist.
bool PostAppMessage(HWND hwnd, uint32_t msg, int64_t wParam, int64_t lParam);
// Drops every queued posted message of that number for that window.
void RemoveAppMessages(HWND hwnd, uint32_t msg);

// Asks the program instance that owns hwnd (the first one started) to bring
// that window to the front. False when no such instance could be reached.
bool BringInstanceWindowForward(HWND hwnd);

// What a copy-data message to the main window carries (its dwData): the
// full path of a file to import, UTF-8, from a later start of the program.
constexpr uint64_t kCopyOpenFile = 1;

// Hands fileName to the first program's window hwnd, which comes to the
// front and imports it. False when that program could not be reached.
bool HandFileToInstance(HWND hwnd, const QString& fileName);

} // namespace reelpage::app
