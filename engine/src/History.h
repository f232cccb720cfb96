#pragma once
// The media records of every file imported so far, newest first. Each record
// lives in its own inheritable shared block; the list survives restarts
// through one registry value per record.
#include <string>

#include "reelpage/records.h"

namespace reelpage {

// Loads the list from the registry once per process (the first history call
// does it, so that it happens after the process has set up its environment).
void EnsureHistoryLoaded();
// Drops the list and loads it again (tests of the loading rules).
void ReloadHistoryForTesting();

int32_t GetHistoryCount();
MediaInfo* GetHistoryItem(int32_t index);
void SaveMediaInfo(MediaInfo* media);

// A new zeroed record with its own block and a fresh id, put at the front.
MediaInfo* AddMediaRecord();
MediaInfo* FindMediaByHandle(HANDLE32 handle);

// "<media folder>/{id}.<ext>" for a record's thumbnail ("bmp") or sample ("wav").
std::u16string MediaSideFile(const MediaInfo& media, const char16_t* ext);

// A file's size and creation time (FILETIME) as the history records them.
bool QueryFileIdentity(const std::string& path, int64_t* size, uint64_t* creationTime);

} // namespace reelpage
