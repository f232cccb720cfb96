#pragma once
// The encoding job: one output folder per run, one encoder process per chosen
// format, one decoder process with the encoding plug-in, and a thread that
// feeds the project's sound to the encoders.
#include <cstdint>
#include <string>

#include "reelpage/blocks.h"
#include "reelpage/records.h"

namespace reelpage {

Talvoricer* StartEncoding(HWND notify);
int32_t FinishEncoding(BOOL cancel);
int32_t FreeEncoding();
// The job's output folder, or null without a job: a hidden folder beside its
// final place while the job runs, the package's own name once it finished.
const WCHAR* GetOutputFolder();
// Removes the hidden folders in parent of jobs that ended without finishing
// (killed, or a power cut); those of running jobs are locked and stay.
void SweepStaleJobFolders(const std::u16string& parent);
// Builds the page in the job's output folder when generate is set; always
// writes the page's path to out (260 characters). Without a job out is empty
// and the result -1; -1 also when the page could not be generated.
int32_t PublishPage(BOOL generate, WCHAR* out);

// What the frame path must do for a project (Talvoricer.m_Transform and
// m_FlipXY) and the pixel format of the frame slots (0 or 30).
struct FramePath {
    int32_t transform;
    int32_t pixelFormat;
    int32_t flipXY;
};
FramePath ChooseFramePath(const Project& project, const MediaInfo& media);

// True while the project's poster is still the probe's thumbnail (no
// snapshot or picture of the user's): the package's poster is then made from
// the first output picture.
bool ProjectPosterIsThumbnail(const Project& project, const MediaInfo& media);

// How many frame slots a job of frames of that size gets (1 to kVideoSlots).
int32_t VideoSlotsFor(size_t frameBytes);

// Audio bit rate for an output, by the source's sample rate and channels.
int32_t AudioBitRateFor(int32_t sampleRate, int32_t channels);

// Byte position in the sample file of a time (microseconds): whole sample
// frames of 16-bit PCM after the 46-byte header.
int64_t SampleFilePosition(int64_t time, int32_t sampleRate, int32_t channels);
constexpr int64_t kSampleFileHeader = 46;

// The job's task block of encoder index, or null; for tests.
const EncoderTask* EncoderTaskForTesting(int index);

} // namespace reelpage
