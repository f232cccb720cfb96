#pragma once
// The update check: at most once every three days, ask the maker's update
// service which version is current, on a thread of its own, and post the four
// numbers of its answer to the program's main window.
#include <cstdint>
#include <string>
#include <string_view>

#include "reelpage/records.h"
#include "reelpage/types.h"

namespace reelpage {

// 1 when a check was started (or was due but its thread could not be made),
// 0 when none is due, the update page address is empty, or no Qt application
// runs in this process (the query needs its event machinery).
BOOL CheckForUpdate(ProductInfo* info, const WCHAR* productKey, HWND notify, uint32_t message);

// Whether a check is due for productKey; when it is, "LastTime" becomes now.
// A stored time in the future (the clock was set back) counts as due, or no
// check would ever run again.
bool IsUpdateDue(const WCHAR* productKey);

// The service address for the product: the update page, the fixed path and
// the product GUID in upper case without braces.
std::string UpdateServiceAddress(const ProductInfo& info);

// The four numbers of an answer of the strict form a.b.c.d (decimal, each
// within 16 bits, an optional line end after it). False for anything else.
bool ParseVersionAnswer(std::string_view answer, uint16_t out[4]);

// The query itself, on Qt Network, which only the program's engine library
// links (update/): reelpage-cli's build of the engine has none and makes no
// check, so that it never loads Qt Network.
struct UpdateQuery {
    // Asks address on a thread of its own and posts the answer's numbers to
    // notify; false when the thread could not be made.
    bool (*start)(const std::string& address, HWND notify, uint32_t message, int timeout);
    void (*stop)();
    bool (*running)();
};
// Set by the query when it is linked in; true, so that it can be set from a
// static initialiser.
bool SetUpdateQuery(const UpdateQuery* query);

// Aborts a running query and waits for its thread; returns at once when
// none runs. ExitEngine and the end of the Qt application call it.
void StopUpdateCheck();
// True while a query thread has not yet finished its work.
bool UpdateCheckRunning();

// How long a transfer may stall before the query gives up (milliseconds).
constexpr int kUpdateTransferTimeout = 30000;
// Tests shorten it to see a silent server end the query by itself.
void SetUpdateTransferTimeoutForTesting(int milliseconds);

} // namespace reelpage
