#pragma once
// The engine's interface: every export is reached by its ordinal number through
// ReelpageExport(), the one symbol the library exports. Callers bind each
// ordinal they use once at start-up and call through the typed pointer.
#include <cstdint>

#include "reelpage/blocks.h"
#include "reelpage/records.h"
#include "reelpage/types.h"

namespace reelpage {

enum Ordinal : int32_t {
    kEnterInstance = 1,
    kInitDiagnostics = 2,
    kSetMainWindow = 3,
    kLoadProductInfo = 4,
    kCheckForUpdate = 8,
    kInitFolders = 9,
    kInitEngine = 10,
    kExitEngine = 11,
    kCreateProject = 12,
    kRestartPreview = 13,
    kIsVistaOrLater = 14,
    kGetOutputFolder = 17,
    kPlay = 18,
    kPause = 19,
    kSeek = 20,
    kSnapshotPoster = 21,
    kLayoutPreview = 22,
    kApplyClipRange = 23,
    kNotifyPreview = 24,
    kEnterCropMode = 25,
    kLeaveCropMode = 26,
    kGetPosition = 27,
    kStartEncoding = 28,
    kSaveMediaInfo = 29,
    kGetSettings = 30,
    kSaveSettings = 31,
    kBeginSeekDrag = 32,
    kEndSeekDrag = 33,
    kApplyOutputSize = 34,
    kRotateFlip = 35,
    kApplyCrop = 36,
    kFreeEncoding = 38,
    kFinishEncoding = 39,
    kEnterWatermarkMode = 40,
    kLeaveWatermarkMode = 41,
    kApplyWatermarkPosition = 42,
    kApplyWatermarkPicture = 43,
    kCheckRecordSizes = 44,
    kOpenMedia = 45,
    kGetImageEncoder = 46,
    kGetPicturesFolder = 47,
    kGetHistoryCount = 48,
    kGetHistoryItem = 49,
    kGetProcessorCount = 50,
    kGetTemplateCount = 51,
    kGetTemplate = 52,
    kPublishPage = 53,
    kWriteLog = 999,
};

// Signatures of the exports, by ordinal.
using FnEnterInstance = int32_t (*)(HWND* pFirstWindow);
using FnInitDiagnostics = int32_t (*)();
// Set in the environment of a process that shares one run's log with the
// process that began it (the jobs of a command-line batch): InitDiagnostics
// then adds to the log instead of starting it afresh.
inline constexpr const char* kLogAppendVariable = "REELPAGE_LOG_APPEND";
using FnSetMainWindow = HWND (*)(HWND);
using FnInitEngine = int32_t (*)();
using FnExitEngine = void (*)();
using FnIsVistaOrLater = BOOL (*)();
using FnCheckRecordSizes = void (*)(int32_t settingsSize, int32_t mediaInfoSize,
                                    int32_t projectSize);
using FnGetProcessorCount = int32_t (*)();
using FnWriteLog = void (*)(const char* text);
using FnLoadProductInfo = BOOL (*)(ProductInfo* out);
using FnCheckForUpdate = BOOL (*)(ProductInfo* info, const WCHAR* productKey, HWND notify,
                                  uint32_t message);
using FnInitFolders = int32_t (*)();
using FnGetPicturesFolder = HRESULT (*)(WCHAR* out);
using FnGetSettings = Settings* (*)();
using FnSaveSettings = int32_t (*)();
using FnCreateProject = Project* (*)(MediaInfo* media, HWND renderParent, HWND notify);
using FnRotateFlip = int32_t (*)(int32_t operation);
using FnSnapshotPoster = int32_t (*)(BOOL grab);
using FnGetHistoryCount = int32_t (*)();
using FnGetHistoryItem = MediaInfo* (*)(int32_t index);
using FnSaveMediaInfo = void (*)(MediaInfo* media);
using FnOpenMedia = MediaInfo* (*)(const WCHAR* path, HWND notify, int32_t cookie, uint32_t msgDone,
                                   uint32_t msgProgress);
using FnGetTemplateCount = int32_t (*)();
using FnGetTemplate = TemplateEntry* (*)(int32_t index);
using FnStartEncoding = Talvoricer* (*)(HWND notify);
using FnFinishEncoding = int32_t (*)(BOOL cancel);
using FnFreeEncoding = int32_t (*)();
using FnGetOutputFolder = const WCHAR* (*)();
using FnPublishPage = int32_t (*)(BOOL generate, WCHAR* out);
using FnGetImageEncoder = const void* (*)(const WCHAR* path, GUID* out);

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
