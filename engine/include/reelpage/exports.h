#pragma once
// The engine's interface: every export is reached by its ordinal number through
// ReelpageExport(), the one symbol the library exports. Callers bind each
// ordinal they use once at start-up and call through the typed pointer.
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "reelpage/blocks.h"
#include "reelpage/captions.h"
#include "reelpage/records.h"
#include "reelpage/types.h"

// The one list of the exports, in ordinal order. Everything that names an
// export is generated from it: the ordinals and function types below, the
// engine's ordinal table (which checks each engine function against the type
// listed here) and the program's bindings.
//
//   X(ordinal, name, result, (parameters), use)
//
// The ordinals and names are the protocol between program and engine and never
// change. Exports past the protocol's (the defaults beyond the Settings
// record) take numbers from 100 on, clear of its range. use is Imported for the exports the program binds and NotImported for
// the two it leaves to other callers (the position and the processor count).
#define REELPAGE_EXPORTS(X)                                                                        \
    X(1, EnterInstance, int32_t, (HWND * pFirstWindow), Imported)                                  \
    X(2, InitDiagnostics, int32_t, (), Imported)                                                   \
    X(3, SetMainWindow, HWND, (HWND hwnd), Imported)                                               \
    X(4, LoadProductInfo, BOOL, (ProductInfo * out), Imported)                                     \
    X(8, CheckForUpdate, BOOL,                                                                     \
      (ProductInfo * info, const WCHAR* productKey, HWND notify, uint32_t message), Imported)      \
    X(9, InitFolders, int32_t, (), Imported)                                                       \
    X(10, InitEngine, int32_t, (), Imported)                                                       \
    X(11, ExitEngine, void, (), Imported)                                                          \
    X(12, CreateProject, Project*, (MediaInfo * media, HWND renderParent, HWND notify), Imported)  \
    X(13, RestartPreview, int32_t, (HWND renderParent, HWND notify), Imported)                     \
    X(14, IsVistaOrLater, BOOL, (), Imported)                                                      \
    X(17, GetOutputFolder, const WCHAR*, (), Imported)                                             \
    X(18, Play, int32_t, (), Imported)                                                             \
    X(19, Pause, int32_t, (), Imported)                                                            \
    X(20, Seek, int32_t, (int32_t seconds), Imported)                                              \
    X(21, SnapshotPoster, int32_t, (BOOL grab), Imported)                                          \
    X(22, LayoutPreview, int32_t, (), Imported)                                                    \
    X(23, ApplyClipRange, int32_t, (), Imported)                                                   \
    X(24, NotifyPreview, int32_t, (int32_t command), Imported)                                     \
    X(25, EnterCropMode, int32_t, (), Imported)                                                    \
    X(26, LeaveCropMode, int32_t, (), Imported)                                                    \
    X(27, GetPosition, int64_t, (), NotImported)                                                   \
    X(28, StartEncoding, Talvoricer*, (HWND notify), Imported)                                     \
    X(29, SaveMediaInfo, void, (MediaInfo * media), Imported)                                      \
    X(30, GetSettings, Settings*, (), Imported)                                                    \
    X(31, SaveSettings, int32_t, (), Imported)                                                     \
    X(32, BeginSeekDrag, int32_t, (), Imported)                                                    \
    X(33, EndSeekDrag, int32_t, (), Imported)                                                      \
    X(34, ApplyOutputSize, int32_t, (), Imported)                                                  \
    X(35, RotateFlip, int32_t, (int32_t operation), Imported)                                      \
    X(36, ApplyCrop, int32_t, (), Imported)                                                        \
    X(38, FreeEncoding, int32_t, (), Imported)                                                     \
    X(39, FinishEncoding, int32_t, (BOOL cancel), Imported)                                        \
    X(40, EnterWatermarkMode, int32_t, (), Imported)                                               \
    X(41, LeaveWatermarkMode, int32_t, (), Imported)                                               \
    X(42, ApplyWatermarkPosition, int32_t, (), Imported)                                           \
    X(43, ApplyWatermarkPicture, int32_t, (), Imported)                                            \
    X(44, CheckRecordSizes, void,                                                                  \
      (int32_t settingsSize, int32_t mediaInfoSize, int32_t projectSize), Imported)                \
    X(45, OpenMedia, MediaInfo*,                                                                   \
      (const WCHAR* path, HWND notify, int32_t cookie, uint32_t msgDone, uint32_t msgProgress),    \
      Imported)                                                                                    \
    X(46, GetImageEncoder, const void*, (const WCHAR* path, GUID* out), Imported)                  \
    X(47, GetPicturesFolder, HRESULT, (WCHAR * out), Imported)                                     \
    X(48, GetHistoryCount, int32_t, (), Imported)                                                  \
    X(49, GetHistoryItem, MediaInfo*, (int32_t index), Imported)                                   \
    X(50, GetProcessorCount, int32_t, (), NotImported)                                             \
    X(51, GetTemplateCount, int32_t, (), Imported)                                                 \
    X(52, GetTemplate, TemplateEntry*, (int32_t index), Imported)                                  \
    X(53, PublishPage, int32_t, (BOOL generate, WCHAR * out), Imported)                            \
    X(54, StepFrame, int32_t, (int32_t frames), Imported)                                          \
    X(100, GetMoreSettings, MoreSettings*, (), Imported)                                           \
    X(101, ListCaptions, int32_t, (const MediaInfo* media, CaptionEntry* out, int32_t capacity),    \
      Imported)                                                                                    \
    X(102, GetProjectCaptions, int32_t, (CaptionEntry * out, int32_t capacity), Imported)           \
    X(103, AddCaptionFile, int32_t, (const WCHAR* path, const WCHAR* language, WCHAR* message),     \
      Imported)                                                                                    \
    X(104, SetCaptionsEnabled, int32_t, (BOOL enable), Imported)                                    \
    X(105, GetCaptionsEnabled, BOOL, (), Imported)                                                  \
    X(106, GetCaptionMessage, BOOL, (int32_t index, WCHAR* out), Imported)                          \
    X(999, WriteLog, void, (const char* text), Imported)

namespace reelpage {

#define REELPAGE_ORDINAL(ordinal, name, result, params, use) k##name = ordinal,
enum Ordinal : int32_t { REELPAGE_EXPORTS(REELPAGE_ORDINAL) };
#undef REELPAGE_ORDINAL

// Signatures of the exports: FnSeek and so on.
#define REELPAGE_FUNCTION_TYPE(ordinal, name, result, params, use)                                 \
    using Fn##name = result(*) params;
REELPAGE_EXPORTS(REELPAGE_FUNCTION_TYPE)
#undef REELPAGE_FUNCTION_TYPE

// Every ordinal of the list, in its order.
#define REELPAGE_ORDINAL_ITEM(ordinal, name, result, params, use) k##name,
inline constexpr int32_t kExportOrdinals[] = {REELPAGE_EXPORTS(REELPAGE_ORDINAL_ITEM)};
#undef REELPAGE_ORDINAL_ITEM

namespace exports_detail {
constexpr bool StrictlyAscending() {
    for (std::size_t i = 1; i < std::size(kExportOrdinals); ++i)
        if (kExportOrdinals[i] <= kExportOrdinals[i - 1]) return false;
    return true;
}
} // namespace exports_detail
// Binders walk the list in ordinal order, and an ordinal means one export.
static_assert(exports_detail::StrictlyAscending(), "export ordinals must ascend without repeats");

// Set in the environment of a process that shares one run's log with the
// process that began it (the jobs of a command-line batch): InitDiagnostics
// then adds to the log instead of starting it afresh.
inline constexpr const char* kLogAppendVariable = "REELPAGE_LOG_APPEND";

} // namespace reelpage

extern "C" {
// Returns the function of an ordinal, or null for an ordinal the engine does
// not have.
__attribute__((visibility("default"))) void* ReelpageExport(int32_t ordinal);
}

namespace reelpage {
// Binds one ordinal to its typed function pointer.
template <typename Fn> inline Fn Bind(int32_t ordinal) {
    return reinterpret_cast<Fn>(ReelpageExport(ordinal));
}
} // namespace reelpage
