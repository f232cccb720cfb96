#include "WindowHandle.h"

#include <QVariant>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/router.h"

namespace reelpage::app {

TWindowHandle::TWindowHandle(QWidget* widget, Procedure procedure) {
    QPointer<QWidget> guard(widget);
    m_hwnd = platform::RouterCreateWindow(
        [guard, procedure = std::move(procedure)](uint32_t, uint32_t msg, int64_t wParam,
                                                  int64_t lParam) -> int64_t {
            // A message that was queued before the window went away is lost,
            // as it is for any window that no longer exists.
            if (!guard) return 0;
            return procedure(msg, wParam, lParam);
        });
    if (widget) widget->setProperty(kHandleProperty, QVariant::fromValue<uint32_t>(m_hwnd));
}

TWindowHandle::~TWindowHandle() {
    if (m_hwnd) platform::RouterDestroyWindow(m_hwnd);
}

bool PostAppMessage(HWND hwnd, uint32_t msg, int64_t wParam, int64_t lParam) {
    return platform::PostMessage(hwnd, msg, wParam, lParam);
}

void RemoveAppMessages(HWND hwnd, uint32_t msg) {
    platform::RemoveMessages(hwnd, msg);
}

namespace {

// The file name of a process's executable, or empty.
std::string ExecutableName(const std::string& pid) {
    char target[4096];
    std::string link = "/proc/" + pid + "/exe";
    ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
    if (n <= 0) return {};
    target[n] = 0;
    std::string path(target);
    return path.substr(path.rfind('/') + 1);
}

} // namespace

namespace {

// Calls post with the pid of every other process running this program that
// has a router endpoint; true when one of the posts went through.
bool PostToOtherInstances(const std::function<bool(int pid)>& post) {
    // The window belongs to another process of this program. Every engine
    // process has a named endpoint beside the others in the runtime folder,
    // named after its pid; the first program is the one of them running the
    // same executable as this one (there is only one, as every later start
    // ends here).
    std::string own = ExecutableName("self");
    std::string sample = platform::RouterEndpointPath(getpid());
    size_t slash = sample.rfind('/');
    if (own.empty() || slash == std::string::npos) return false;
    std::string folder = sample.substr(0, slash);
    std::string prefix = sample.substr(slash + 1);
    prefix.resize(prefix.size() - std::to_string(getpid()).size());

    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    bool reached = false;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0) continue;
        std::string pid = name.substr(prefix.size());
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        int id = std::atoi(pid.c_str());
        if (id == getpid() || ExecutableName(pid) != own) continue;
        reached |= post(id);
    }
    closedir(dir);
    return reached;
}

} // namespace

bool BringInstanceWindowForward(HWND hwnd) {
    if (hwnd == 0) return false;
    return PostToOtherInstances(
        [hwnd](int pid) { return platform::RouterPostToProcess(pid, hwnd, kMsgActivate, 1, 0); });
}

bool HandFileToInstance(HWND hwnd, const QString& fileName) {
    if (hwnd == 0 || fileName.isEmpty()) return false;
    const QByteArray path = fileName.toUtf8();
    return PostToOtherInstances([&](int pid) {
        return platform::RouterCopyDataToProcess(pid, hwnd, kCopyOpenFile, path.constData(),
                                                 size_t(path.size()));
    });
}

} // namespace reelpage::app
