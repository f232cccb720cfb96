// The ordinal table. An ordinal appears here only once its export is complete.
#include "system/Exports.h"
#include "media/History.h"
#include "media/MediaProbe.h"
#include "preview/PreviewSession.h"
#include "records/Project.h"
#include "records/Settings.h"
#include "publishing/Templates.h"
#include "system/UpdateCheck.h"
#include "encoding/VideoEncoder.h"

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
        {kLoadProductInfo, reinterpret_cast<void*>(&LoadProductInfo)},
        {kCheckForUpdate, reinterpret_cast<void*>(&CheckForUpdate)},
        {kInitFolders, reinterpret_cast<void*>(&InitFolders)},
        {kGetPicturesFolder, reinterpret_cast<void*>(&GetPicturesFolder)},
        {kGetSettings, reinterpret_cast<void*>(&GetSettings)},
        {kSaveSettings, reinterpret_cast<void*>(&SaveSettings)},
        {kCreateProject, reinterpret_cast<void*>(&CreateProject)},
        {kRestartPreview, reinterpret_cast<void*>(&RestartPreview)},
        {kPlay, reinterpret_cast<void*>(static_cast<int32_t (*)()>(&Play))},
        {kPause, reinterpret_cast<void*>(static_cast<int32_t (*)()>(&Pause))},
        {kSeek, reinterpret_cast<void*>(static_cast<int32_t (*)(int32_t)>(&Seek))},
        {kLayoutPreview, reinterpret_cast<void*>(&LayoutPreview)},
        {kApplyClipRange, reinterpret_cast<void*>(&ApplyClipRange)},
        {kNotifyPreview, reinterpret_cast<void*>(&NotifyPreview)},
        {kEnterCropMode, reinterpret_cast<void*>(&EnterCropMode)},
        {kLeaveCropMode, reinterpret_cast<void*>(&LeaveCropMode)},
        {kGetPosition, reinterpret_cast<void*>(&GetPreviewPosition)},
        {kBeginSeekDrag, reinterpret_cast<void*>(&BeginSeekDrag)},
        {kEndSeekDrag, reinterpret_cast<void*>(&EndSeekDrag)},
        {kApplyOutputSize, reinterpret_cast<void*>(&ApplyOutputSize)},
        {kApplyCrop, reinterpret_cast<void*>(&ApplyCrop)},
        {kEnterWatermarkMode, reinterpret_cast<void*>(&EnterWatermarkMode)},
        {kLeaveWatermarkMode, reinterpret_cast<void*>(&LeaveWatermarkMode)},
        {kApplyWatermarkPosition, reinterpret_cast<void*>(&ApplyWatermarkPosition)},
        {kApplyWatermarkPicture, reinterpret_cast<void*>(&ApplyWatermarkPicture)},
        {kRotateFlip, reinterpret_cast<void*>(&RotateFlip)},
        {kSnapshotPoster, reinterpret_cast<void*>(&SnapshotPoster)},
        {kGetHistoryCount, reinterpret_cast<void*>(&GetHistoryCount)},
        {kGetHistoryItem, reinterpret_cast<void*>(&GetHistoryItem)},
        {kSaveMediaInfo, reinterpret_cast<void*>(&SaveMediaInfo)},
        {kOpenMedia, reinterpret_cast<void*>(&OpenMedia)},
        {kGetTemplateCount, reinterpret_cast<void*>(&GetTemplateCount)},
        {kGetTemplate, reinterpret_cast<void*>(&GetTemplate)},
        {kStartEncoding, reinterpret_cast<void*>(&StartEncoding)},
        {kFinishEncoding, reinterpret_cast<void*>(&FinishEncoding)},
        {kFreeEncoding, reinterpret_cast<void*>(&FreeEncoding)},
        {kGetOutputFolder, reinterpret_cast<void*>(&GetOutputFolder)},
        {kPublishPage, reinterpret_cast<void*>(&PublishPage)},
        {kGetImageEncoder, reinterpret_cast<void*>(&GetImageEncoder)},
    };
    return table;
}

} // namespace reelpage

extern "C" void* ReelpageExport(int32_t ordinal) {
    const auto& table = reelpage::Table();
    auto it = table.find(ordinal);
    return it == table.end() ? nullptr : it->second;
}
