#include "probe_fixture.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <poll.h>

#include "platform/router.h"
#include "reelpage/messages.h"

namespace probe_test {

namespace fs = std::filesystem;

ImportWindow::ImportWindow() {
    m_hwnd = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t l) {
        m_Messages.push_back({msg, w, l});
        return int64_t(0);
    });
}

void ImportWindow::DispatchNow() {
    platform::RouterDispatch();
}

int64_t ImportWindow::WaitDone(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (const Message& m : m_Messages)
            if (m.msg == reelpage::kMsgProbeDone) return m.wParam;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return kNoResult;
        pollfd p{platform::RouterWakeHandle(), POLLIN, 0};
        poll(&p, 1, int(left.count()));
        platform::RouterDispatch();
    }
}

std::vector<int64_t> ImportWindow::Progress() const {
    std::vector<int64_t> values;
    for (const Message& m : m_Messages)
        if (m.msg == reelpage::kMsgProbeProgress) values.push_back(m.wParam);
    return values;
}

std::string Folder(const std::string& name) {
    fs::path dir = fs::path(getenv("REELPAGE_TEST_HOME")) / name;
    fs::create_directories(dir);
    return dir;
}

std::string ProgramFolderWith(const std::string& name, const std::string& probePlugin) {
    const std::string dir = Folder(name);
    const fs::path program(REELPAGE_PROGRAM_DIR);
    fs::copy_file(program / "dec", fs::path(dir) / "dec", fs::copy_options::overwrite_existing);
    fs::copy_file(program / "libreelpage-platform.so", fs::path(dir) / "libreelpage-platform.so",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(probePlugin, fs::path(dir) / "Ostrapel.so", fs::copy_options::overwrite_existing);
    return dir;
}

} // namespace probe_test
