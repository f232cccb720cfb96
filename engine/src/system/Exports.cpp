// The ordinal table, generated from the list of exports.
#include "system/Exports.h"
#include "captions/ProjectCaptions.h"
#include "media/History.h"
#include "media/MediaProbe.h"
#include "system/PreviewLink.h"
#include "records/Project.h"
#include "records/Settings.h"
#include "publishing/Templates.h"
#include "system/UpdateCheck.h"
#include "encoding/VideoEncoder.h"

namespace reelpage {

namespace {

// An engine function enters the table only through a static_cast to the type
// its export is listed with: a function whose signature differs from the list
// does not convert, and the library does not compile. Where the name is
// overloaded (Play, Pause, Seek) the listed type also picks the export among
// them. A repeated ordinal is a repeated case label, which does not compile
// either.
void* Lookup(int32_t ordinal) {
    switch (ordinal) {
#define REELPAGE_TABLE_ENTRY(ordinal, name, result, params, use)                                   \
    case k##name:                                                                                  \
        return reinterpret_cast<void*>(static_cast<Fn##name>(&name));
        REELPAGE_EXPORTS(REELPAGE_TABLE_ENTRY)
#undef REELPAGE_TABLE_ENTRY
    }
    return nullptr;
}

} // namespace

} // namespace reelpage

extern "C" void* ReelpageExport(int32_t ordinal) {
    return reelpage::Lookup(ordinal);
}
