#include "system/UpdateCheck.h"

#include "system/Exports.h"
#include "system/Log.h"

#include <QCoreApplication>

#include <atomic>

#include "platform/filetime.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/wstr.h"

namespace reelpage {

namespace {

constexpr char16_t kLastTime[] = u"LastTime";
// Three days in file-time units (100 ns).
constexpr uint64_t kCheckInterval = 2592000000000ULL;

std::atomic<int> g_nTransferTimeout{kUpdateTransferTimeout};

// Constant-initialised, so set before any static initialiser runs that could
// set it.
const UpdateQuery* g_pQuery = nullptr;

} // namespace

bool ParseVersionAnswer(std::string_view answer, uint16_t out[4]) {
    // A line end after the numbers is how a script naturally ends its output.
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.remove_suffix(1);
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= answer.size() || answer[pos] != '.') return false;
            ++pos;
        }
        uint32_t n = 0;
        size_t digits = 0;
        while (pos < answer.size() && answer[pos] >= '0' && answer[pos] <= '9') {
            n = n * 10 + uint32_t(answer[pos] - '0');
            if (n > 0xFFFF) return false;
            ++pos;
            ++digits;
        }
        if (digits == 0) return false;
        out[i] = uint16_t(n);
    }
    return pos == answer.size();
}

std::string UpdateServiceAddress(const ProductInfo& info) {
    std::string page = info.m_Texts[8] ? platform::ToUtf8(info.m_Texts[8]) : std::string();
    if (!page.empty() && page.back() != '/') page += '/';
    std::string guid = platform::GuidToU8String(info.m_Product);
    if (guid.size() >= 2) guid = guid.substr(1, guid.size() - 2);
    return page + "update.php?productid=%7B" + guid + "%7D";
}

bool IsUpdateDue(const WCHAR* productKey) {
    const platform::FileTime now = platform::FileTimeNow();
    char16_t subKey[kMaxPath];
    platform::WFormat(subKey, kMaxPath, "SOFTWARE\\Zelmorix\\%ls\\Update", productKey);
    platform::RegKey key;
    if (platform::RegCreateKeyMachineOrUser(subKey, &key) != 0) return false;
    uint64_t last = 0;
    uint32_t type = 0, size = sizeof last;
    const int rc = platform::RegQueryValue(key, kLastTime, &type, &last, &size);
    if (rc == 0 && size == sizeof last && last <= now && now <= last + kCheckInterval) return false;
    const int set = platform::RegSetValue(key, kLastTime, platform::REG_QWORD, &now, sizeof now);
    if (set != 0) LogWrite(kLogError, "Faild(%d) to RegSetValueEx\n", set);
    return true;
}

BOOL CheckForUpdate(ProductInfo* info, const WCHAR* productKey, HWND notify, uint32_t message) {
    if (!info || !info->m_Texts[8] || !info->m_Texts[8][0] || !productKey) return 0;
    if (!g_pQuery) {
        // Asked of the build without the query: a packaging mistake, and no
        // time is stored as if a check had run.
        LogWrite(kLogError, "No update query in this engine library\n");
        return 0;
    }
    // The query runs an event loop of its own thread, which needs the
    // application object; a front end without one gets no check.
    if (!QCoreApplication::instance()) {
        LOG_FAILED_HR(E_FAIL, "QCoreApplication::instance()");
        return 0;
    }
    if (!IsUpdateDue(productKey)) return 0;
    // Whatever application ends first, the thread ends before it.
    qRemovePostRoutine(&StopUpdateCheck);
    qAddPostRoutine(&StopUpdateCheck);
    g_pQuery->start(UpdateServiceAddress(*info), notify, message, g_nTransferTimeout.load());
    return 1;
}

bool SetUpdateQuery(const UpdateQuery* query) {
    g_pQuery = query;
    return true;
}

void StopUpdateCheck() {
    if (g_pQuery) g_pQuery->stop();
}

bool UpdateCheckRunning() { return g_pQuery && g_pQuery->running(); }

void SetUpdateTransferTimeoutForTesting(int milliseconds) { g_nTransferTimeout = milliseconds; }

} // namespace reelpage
