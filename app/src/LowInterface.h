#pragma once
// The engine's exports as the program binds them: one typed entry per ordinal
// the program imports (every ordinal but 27 and 50), bound once at start-up
// through the library's ordinal table.
//
// An engine library older or newer than the program may lack an ordinal. Such
// an entry stays unbound instead of taking the program down: calling it writes
// one line to the engine's log (the first time only), does nothing and yields
// the zero of its result type (0, FALSE, a null pointer). Callers that cannot
// go on without a result (GetSettings at start-up) check for null as they
// would for any failure.
#include <cstdint>
#include <type_traits>

#include "Defines.h"
#include "reelpage/exports.h"

namespace reelpage::app {

namespace low_detail {
// Logs the first call of an unbound export; shared by every entry.
void ReportMissing(int32_t ordinal, const char* name, bool* pReported);
} // namespace low_detail

template <typename Fn> class Import;

template <typename R, typename... A> class Import<R (*)(A...)> {
public:
    using Fn = R (*)(A...);

    constexpr Import(int32_t ordinal, const char* name) : m_ordinal(ordinal), m_name(name) {}

    R operator()(A... args) const {
        if (m_fn) return m_fn(args...);
        low_detail::ReportMissing(m_ordinal, m_name, &m_reported);
        if constexpr (!std::is_void_v<R>) return R{};
    }

    bool Bound() const { return m_fn != nullptr; }
    int32_t Ordinal() const { return m_ordinal; }
    const char* Name() const { return m_name; }

    // Binding, and replacing the target (tests stand in for the engine).
    void Set(Fn fn) {
        m_fn = fn;
        m_reported = false;
    }
    Fn Get() const { return m_fn; }

private:
    Fn m_fn = nullptr;
    int32_t m_ordinal;
    const char* m_name;
    mutable bool m_reported = false;
};

// Picks the exports the program imports out of the list (see exports.h).
#define REELPAGE_IF_IMPORTED_Imported(...) __VA_ARGS__
#define REELPAGE_IF_IMPORTED_NotImported(...)
#define REELPAGE_IF_IMPORTED(use, ...) REELPAGE_IF_IMPORTED_##use(__VA_ARGS__)

// One entry per imported export, named, numbered and typed as the list has it.
struct LowInterface {
#define REELPAGE_LOW_ENTRY(ordinal, name, result, params, use)                                     \
    REELPAGE_IF_IMPORTED(use, Import<Fn##name> name{k##name, #name};)
    REELPAGE_EXPORTS(REELPAGE_LOW_ENTRY)
#undef REELPAGE_LOW_ENTRY
};

// The program's one binding of the engine.
extern LowInterface Low;

// Binds every entry of Low from the engine library's ordinal table. Entries
// the library does not have stay unbound (see above).
void BindLowInterface();

// Calls f on every entry of the interface, in ordinal order.
template <typename F> void ForEachLowEntry(F f) {
#define REELPAGE_LOW_VISIT(ordinal, name, result, params, use)                                     \
    REELPAGE_IF_IMPORTED(use, f(Low.name);)
    REELPAGE_EXPORTS(REELPAGE_LOW_VISIT)
#undef REELPAGE_LOW_VISIT
}

} // namespace reelpage::app
