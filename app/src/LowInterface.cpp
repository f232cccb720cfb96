#include "LowInterface.h"

#include <QtGlobal>

#include <cstdio>
#include <tuple>

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
    std::apply([](auto&... entry) { (BindOne(entry), ...); }, all);
}

} // namespace reelpage::app
