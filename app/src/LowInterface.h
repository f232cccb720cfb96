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
#include <tuple>
#include <type_traits>

#include "Defines.h"

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

struct LowInterface {
    Import<int32_t (*)(HWND*)> EnterInstance{1, "EnterInstance"};
    Import<int32_t (*)()> InitDiagnostics{2, "InitDiagnostics"};
    Import<HWND (*)(HWND)> SetMainWindow{3, "SetMainWindow"};
    Import<BOOL (*)(ProductInfo*)> LoadProductInfo{4, "LoadProductInfo"};
    Import<BOOL (*)(ProductInfo*, const WCHAR*, HWND, uint32_t)> CheckForUpdate{8,
                                                                                "CheckForUpdate"};
    Import<int32_t (*)()> InitFolders{9, "InitFolders"};
    Import<int32_t (*)()> InitEngine{10, "InitEngine"};
    Import<void (*)()> ExitEngine{11, "ExitEngine"};
    Import<Project* (*)(MediaInfo*, HWND, HWND)> CreateProject{12, "CreateProject"};
    Import<int32_t (*)(HWND, HWND)> RestartPreview{13, "RestartPreview"};
    Import<BOOL (*)()> IsVistaOrLater{14, "IsVistaOrLater"};
    Import<const WCHAR* (*)()> GetOutputFolder{17, "GetOutputFolder"};
    Import<int32_t (*)()> Play{18, "Play"};
    Import<int32_t (*)()> Pause{19, "Pause"};
    Import<int32_t (*)(int32_t)> Seek{20, "Seek"};
    Import<int32_t (*)(BOOL)> SnapshotPoster{21, "SnapshotPoster"};
    Import<int32_t (*)()> LayoutPreview{22, "LayoutPreview"};
    Import<int32_t (*)()> ApplyClipRange{23, "ApplyClipRange"};
    Import<int32_t (*)(int32_t)> NotifyPreview{24, "NotifyPreview"};
    Import<int32_t (*)()> EnterCropMode{25, "EnterCropMode"};
    Import<int32_t (*)()> LeaveCropMode{26, "LeaveCropMode"};
    Import<Talvoricer* (*)(HWND)> StartEncoding{28, "StartEncoding"};
    Import<void (*)(MediaInfo*)> SaveMediaInfo{29, "SaveMediaInfo"};
    Import<Settings* (*)()> GetSettings{30, "GetSettings"};
    Import<int32_t (*)()> SaveSettings{31, "SaveSettings"};
    Import<int32_t (*)()> BeginSeekDrag{32, "BeginSeekDrag"};
    Import<int32_t (*)()> EndSeekDrag{33, "EndSeekDrag"};
    Import<int32_t (*)()> ApplyOutputSize{34, "ApplyOutputSize"};
    Import<int32_t (*)(int32_t)> RotateFlip{35, "RotateFlip"};
    Import<int32_t (*)()> ApplyCrop{36, "ApplyCrop"};
    Import<int32_t (*)()> FreeEncoding{38, "FreeEncoding"};
    Import<int32_t (*)(BOOL)> FinishEncoding{39, "FinishEncoding"};
    Import<int32_t (*)()> EnterWatermarkMode{40, "EnterWatermarkMode"};
    Import<int32_t (*)()> LeaveWatermarkMode{41, "LeaveWatermarkMode"};
    Import<int32_t (*)()> ApplyWatermarkPosition{42, "ApplyWatermarkPosition"};
    Import<int32_t (*)()> ApplyWatermarkPicture{43, "ApplyWatermarkPicture"};
    Import<void (*)(int32_t, int32_t, int32_t)> CheckRecordSizes{44, "CheckRecordSizes"};
    Import<MediaInfo* (*)(const WCHAR*, HWND, int32_t, uint32_t, uint32_t)> OpenMedia{45,
                                                                                      "OpenMedia"};
    Import<void* (*)(const WCHAR*, GUID*)> GetImageEncoder{46, "GetImageEncoder"};
    Import<HRESULT (*)(WCHAR*)> GetPicturesFolder{47, "GetPicturesFolder"};
    Import<int32_t (*)()> GetHistoryCount{48, "GetHistoryCount"};
    Import<MediaInfo* (*)(int32_t)> GetHistoryItem{49, "GetHistoryItem"};
    Import<int32_t (*)()> GetTemplateCount{51, "GetTemplateCount"};
    Import<TemplateEntry* (*)(int32_t)> GetTemplate{52, "GetTemplate"};
    Import<int32_t (*)(BOOL, WCHAR*)> PublishPage{53, "PublishPage"};
    Import<void (*)(const char*)> WriteLog{999, "WriteLog"};
};

// The program's one binding of the engine.
extern LowInterface Low;

// Binds every entry of Low from the engine library's ordinal table. Entries
// the library does not have stay unbound (see above).
void BindLowInterface();

// Calls f on every entry of the interface, in ordinal order; the one list of
// what the program imports.
template <typename F> void ForEachLowEntry(F f) {
    LowInterface& l = Low;
    auto all = std::tie(
        l.EnterInstance, l.InitDiagnostics, l.SetMainWindow, l.LoadProductInfo, l.CheckForUpdate,
        l.InitFolders, l.InitEngine, l.ExitEngine, l.CreateProject, l.RestartPreview,
        l.IsVistaOrLater, l.GetOutputFolder, l.Play, l.Pause, l.Seek, l.SnapshotPoster,
        l.LayoutPreview, l.ApplyClipRange, l.NotifyPreview, l.EnterCropMode, l.LeaveCropMode,
        l.StartEncoding, l.SaveMediaInfo, l.GetSettings, l.SaveSettings, l.BeginSeekDrag,
        l.EndSeekDrag, l.ApplyOutputSize, l.RotateFlip, l.ApplyCrop, l.FreeEncoding,
        l.FinishEncoding, l.EnterWatermarkMode, l.LeaveWatermarkMode, l.ApplyWatermarkPosition,
        l.ApplyWatermarkPicture, l.CheckRecordSizes, l.OpenMedia, l.GetImageEncoder,
        l.GetPicturesFolder, l.GetHistoryCount, l.GetHistoryItem, l.GetTemplateCount, l.GetTemplate,
        l.PublishPage, l.WriteLog);
    std::apply([&](auto&... entry) { (f(entry), ...); }, all);
}

} // namespace reelpage::app
