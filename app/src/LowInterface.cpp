#include "LowInterface.h"

#include <QtGlobal>

#include <cstdio>

#include "reelpage/exports.h"

namespace reelpage::app {

LowInterface Low;

namespace low_detail {

void ReportMissing(int32_t ordinal, const char* name, bool* pReported) {
    if (*pReported) return;
    *pReported = true;
    char line[160];
    std::snprintf(line, sizeof(line), "Export %d (%s) is missing from the engine library\n",
                  int(ordinal), name);
    qWarning("%s", line);
    // WriteLog can itself be the missing one; then the warning above is all.
    if (Low.WriteLog.Bound()) Low.WriteLog(line);
}

} // namespace low_detail

namespace {

template <typename Entry> void BindOne(Entry& entry) {
    entry.Set(reinterpret_cast<typename Entry::Fn>(ReelpageExport(entry.Ordinal())));
}

} // namespace

void BindLowInterface() {
    ForEachLowEntry([](auto& entry) { BindOne(entry); });
}

} // namespace reelpage::app
