// The ordinal table. An ordinal appears here only once its export is complete.
#include "Exports.h"

#include <unordered_map>

namespace reelpage {

static const std::unordered_map<int32_t, void*>& Table() {
    static const std::unordered_map<int32_t, void*> table = {
        {kEnterInstance, reinterpret_cast<void*>(&EnterInstance)},
        {kInitDiagnostics, reinterpret_cast<void*>(&InitDiagnostics)},
        {kSetMainWindow, reinterpret_cast<void*>(&SetMainWindow)},
        {kInitEngine, reinterpret_cast<void*>(&InitEngine)},
        {kExitEngine, reinterpret_cast<void*>(&ExitEngine)},
        {kIsVistaOrLater, reinterpret_cast<void*>(&IsVistaOrLater)},
        {kCheckRecordSizes, reinterpret_cast<void*>(&CheckRecordSizes)},
        {kGetProcessorCount, reinterpret_cast<void*>(&GetProcessorCount)},
        {kWriteLog, reinterpret_cast<void*>(&WriteLog)},
    };
    return table;
}

} // namespace reelpage

extern "C" void* ReelpageExport(int32_t ordinal) {
    const auto& table = reelpage::Table();
    auto it = table.find(ordinal);
    return it == table.end() ? nullptr : it->second;
}
