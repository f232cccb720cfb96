#pragma once
// Imports through OpenMedia as the program does: a router window stands in
// for the import dialog, and the engine runs from the build's program folder.
#include <cstdint>
#include <string>
#include <vector>

#include "reelpage/records.h"

namespace probe_test {

struct Message {
    uint32_t msg;
    int64_t wParam;
    int64_t lParam;
};

class ImportWindow {
public:
    ImportWindow();
    uint32_t Handle() const { return m_hwnd; }
    // Delivers messages until the done message arrives (or the time-out);
    // returns its result, or a value no probe gives on time-out.
    int64_t WaitDone(int timeoutMs = 120000);
    // Delivers what is queued now, without waiting.
    void DispatchNow();
    const std::vector<Message>& Messages() const { return m_Messages; }
    std::vector<int64_t> Progress() const;
    void Clear() { m_Messages.clear(); }

private:
    uint32_t m_hwnd = 0;
    std::vector<Message> m_Messages;
};

constexpr int64_t kNoResult = 1000;

// A folder in the test's home (created).
std::string Folder(const std::string& name);

// A copy of the program folder's dec (and the library it needs) in a new
// folder, with the given file as the media-information plug-in.
std::string ProgramFolderWith(const std::string& name, const std::string& probePlugin);

} // namespace probe_test
