#pragma once
// The current project's captions: those found with its video, those the
// user added, and whether they go into the package at all.
#include <string>
#include <vector>

#include "captions/Captions.h"
#include "reelpage/records.h"

namespace reelpage {

// Exports. Counts are whole even when out holds fewer (capacity).
int32_t ListCaptions(const MediaInfo* media, CaptionEntry* out, int32_t capacity);
int32_t GetProjectCaptions(CaptionEntry* out, int32_t capacity);
// message (260 characters) says why a file cannot be used, naming it.
int32_t AddCaptionFile(const WCHAR* path, const WCHAR* language, WCHAR* message);
int32_t SetCaptionsEnabled(BOOL enable);
BOOL GetCaptionsEnabled();
// The problems of the last package's captions, one by one; false past the last.
BOOL GetCaptionMessage(int32_t index, WCHAR* out);

// A new project starts with what was found with its video, captions on.
void ResetProjectCaptions(const MediaInfo& media);
// The tracks a package gets: none when captions are off.
std::vector<CaptionTrack> ChosenCaptions();
void SetCaptionMessages(std::vector<std::string> messages);
// The text the preview draws at ms (the video's time): the cue showing
// then, of the first usable track; empty when there is none, captions are
// off, or the cues are still being read.
std::string PreviewCaptionAt(int64_t ms);

} // namespace reelpage
