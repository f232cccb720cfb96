#pragma once
// The engine's exported functions, as the engine defines them. Callers outside
// the library reach them only through ReelpageExport().
#include "reelpage/exports.h"
#include "reelpage/records.h"

namespace reelpage {

int32_t EnterInstance(HWND* pFirstWindow);
HWND SetMainWindow(HWND hwnd);
int32_t InitDiagnostics();
int32_t InitEngine();
void ExitEngine();
BOOL IsVistaOrLater();
void CheckRecordSizes(int32_t settingsSize, int32_t mediaInfoSize, int32_t projectSize);
int32_t GetProcessorCount();
void WriteLog(const char* text);
BOOL LoadProductInfo(ProductInfo* out);
int32_t InitFolders();
HRESULT GetPicturesFolder(WCHAR* out);
const void* GetImageEncoder(const WCHAR* path, GUID* out);

} // namespace reelpage
