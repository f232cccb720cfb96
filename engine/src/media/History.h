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

// A file's identity as the history records it in m_FileSize and
// m_CreationTime: its size and the last change of its content (FILETIME).
bool QueryFileIdentity(const std::string& path, int64_t* size, uint64_t* creationTime);

// False for a record no import can have made: sizes, rates or counts out of
// range. Such a record is damage and is never used.
bool IsPlausible(const MediaInfo& media);
// True when the record's sample file is whole: its header matches the record
// and counts exactly the bytes the file holds. Otherwise why says what is
// wrong with it (when given).
bool SampleFileMatches(const MediaInfo& media, std::string* why);
// True once the import of the record has finished: the import stores the
// record as its last step.
bool IsRecordStored(const MediaInfo& media);
// A record answers a later import of its path only when its import finished
// (its record is in the store), its values are plausible, its file is
// unchanged and its side files are whole.
bool IsReusable(const MediaInfo& media);
// Takes a record out of the list for good and removes its side files and
// stored value; its block stays mapped, since the program may hold it.
void RetireRecord(MediaInfo* media);
// At exit: removes the sample and thumbnail of every import of this run
// whose record could not be stored (a read-only store). They served this
// run; no later run could name them.
void RemoveUnrecordedSideFiles();
// Removes the thumbnail and the sample file of a record.
void RemoveSideFiles(const MediaInfo& media);

} // namespace reelpage
