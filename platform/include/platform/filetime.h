#pragma once
// Windows-style times: a file time counts 100-nanosecond units since
// 1601-01-01 00:00 UTC in an unsigned 64-bit number (stored values such as an
// update timestamp or a file's creation time keep this form), and SystemTime
// is the broken-down calendar form used for log banners and history keys.
#include <cstdint>
#include <ctime>

namespace platform {

using FileTime = uint64_t;

// 1970-01-01 00:00 UTC as a file time.
constexpr FileTime kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr FileTime kFileTimeTicksPerSecond = 10000000ULL;
// The largest file time the calendar conversions accept (year 30828), as on Windows.
constexpr FileTime kFileTimeMax = 0x7FFFFFFFFFFFFFFFULL;

// Fields as in the Windows SYSTEMTIME: wMonth 1-12, wDayOfWeek 0 = Sunday.
struct SystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SystemTime) == 16);

// The current UTC time (CLOCK_REALTIME).
FileTime FileTimeNow();

// Conversions to and from the Unix clock. Times before 1601 become 0 and
// times beyond kFileTimeMax become kFileTimeMax; the way back rounds toward
// the past, so a time before 1970 gives a negative time_t.
FileTime FileTimeFromTimeT(time_t t);
FileTime FileTimeFromTimespec(const timespec& ts);
time_t FileTimeToTimeT(FileTime ft);
timespec FileTimeToTimespec(FileTime ft);

// Calendar breakdown without any time zone (what Windows' FileTimeToSystemTime
// and SystemTimeToFileTime do). The first fails above kFileTimeMax; the second
// fails on a field out of range (years 1601-30827, day valid for the month,
// hour < 24, minute and second < 60, milliseconds < 1000) and ignores
// wDayOfWeek. On failure *out is untouched.
bool FileTimeToSystemTime(FileTime ft, SystemTime* out);
bool SystemTimeToFileTime(const SystemTime& st, FileTime* out);

// A UTC file time in the local time zone of this process (TZ rules of the C
// library), e.g. for printing a stored timestamp. Fails like FileTimeToSystemTime.
bool FileTimeToLocalSystemTime(FileTime ft, SystemTime* out);

// The current time as UTC or local calendar fields (GetSystemTime and
// GetLocalTime on Windows). A local time fed to SystemTimeToFileTime gives the
// "local file time" some stored sort keys use.
SystemTime SystemTimeNowUtc();
SystemTime SystemTimeNowLocal();

} // namespace platform
