#include "platform/filetime.h"

#include <chrono>

namespace platform {

namespace {

using namespace std::chrono;

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kTicksPerDay = 86400 * int64_t(kFileTimeTicksPerSecond);
constexpr int64_t kUnixEpochSeconds = int64_t(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
constexpr sys_days kDay1601 = sys_days(year(1601) / January / 1);

// Whole seconds and ticks since 1601 -> file time, clamped to the valid range.
FileTime FromUnixSeconds(int64_t sec, int64_t extraTicks) {
    // Seconds since 1601; beyond these bounds the tick count cannot be held.
    constexpr int64_t kMaxSeconds = int64_t(kFileTimeMax / kFileTimeTicksPerSecond);
    if (sec < -kUnixEpochSeconds) return 0;
    if (sec > kMaxSeconds - kUnixEpochSeconds) return kFileTimeMax;
    int64_t s = sec + kUnixEpochSeconds;
    uint64_t ft = uint64_t(s) * kFileTimeTicksPerSecond + uint64_t(extraTicks);
    return ft > kFileTimeMax ? kFileTimeMax : ft;
}

void FillTimeOfDay(FileTime ft, const tm* local, SystemTime* out) {
    out->wYear = uint16_t(local->tm_year + 1900);
    out->wMonth = uint16_t(local->tm_mon + 1);
    out->wDayOfWeek = uint16_t(local->tm_wday);
    out->wDay = uint16_t(local->tm_mday);
    out->wHour = uint16_t(local->tm_hour);
    out->wMinute = uint16_t(local->tm_min);
    out->wSecond = uint16_t(local->tm_sec > 59 ? 59 : local->tm_sec);
    out->wMilliseconds = uint16_t(ft % kFileTimeTicksPerSecond / kTicksPerMs);
}

} // namespace

FileTime FileTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeFromTimespec(ts);
}

FileTime FileTimeFromTimeT(time_t t) {
    return FromUnixSeconds(int64_t(t), 0);
}

FileTime FileTimeFromTimespec(const timespec& ts) {
    // Normalise first: tv_nsec outside [0, 1e9) is not a valid timespec, but
    // the arithmetic below must not go wrong on it.
    int64_t sec = int64_t(ts.tv_sec);
    int64_t nsec = ts.tv_nsec % 1000000000;
    int64_t carry = ts.tv_nsec / 1000000000 - (nsec < 0 ? 1 : 0);
    if (nsec < 0) nsec += 1000000000;
    if (__builtin_add_overflow(sec, carry, &sec)) return carry < 0 ? 0 : kFileTimeMax;
    return FromUnixSeconds(sec, nsec / 100);
}

time_t FileTimeToTimeT(FileTime ft) {
    return time_t(int64_t(ft / kFileTimeTicksPerSecond) - kUnixEpochSeconds);
}

timespec FileTimeToTimespec(FileTime ft) {
    timespec ts{};
    ts.tv_sec = FileTimeToTimeT(ft);
    ts.tv_nsec = long(ft % kFileTimeTicksPerSecond) * 100;
    return ts;
}

bool FileTimeToSystemTime(FileTime ft, SystemTime* out) {
    if (ft > kFileTimeMax || !out) return false;
    int64_t days = int64_t(ft) / kTicksPerDay;
    int64_t rest = int64_t(ft) % kTicksPerDay;
    sys_days d = kDay1601 + std::chrono::days(days);
    year_month_day ymd{d};
    SystemTime st;
    st.wYear = uint16_t(int(ymd.year()));
    st.wMonth = uint16_t(unsigned(ymd.month()));
    st.wDay = uint16_t(unsigned(ymd.day()));
    st.wDayOfWeek = uint16_t(weekday(d).c_encoding());
    int64_t sec = rest / int64_t(kFileTimeTicksPerSecond);
    st.wHour = uint16_t(sec / 3600);
    st.wMinute = uint16_t(sec / 60 % 60);
    st.wSecond = uint16_t(sec % 60);
    st.wMilliseconds = uint16_t(rest % int64_t(kFileTimeTicksPerSecond) / kTicksPerMs);
    *out = st;
    return true;
}

bool SystemTimeToFileTime(const SystemTime& st, FileTime* out) {
    if (!out || st.wYear < 1601 || st.wYear > 30827) return false;
    year_month_day ymd{year(st.wYear), month(st.wMonth), day(st.wDay)};
    if (!ymd.ok() || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999)
        return false;
    int64_t days = (sys_days(ymd) - kDay1601).count();
    int64_t sec = ((days * 24 + st.wHour) * 60 + st.wMinute) * 60 + st.wSecond;
    *out = FileTime(sec) * kFileTimeTicksPerSecond + FileTime(st.wMilliseconds) * kTicksPerMs;
    return true;
}

bool FileTimeToLocalSystemTime(FileTime ft, SystemTime* out) {
    if (ft > kFileTimeMax || !out) return false;
    time_t t = FileTimeToTimeT(ft);
    tm local{};
    if (!localtime_r(&t, &local)) return false;
    FillTimeOfDay(ft, &local, out);
    return true;
}

SystemTime SystemTimeNowUtc() {
    SystemTime st{};
    FileTimeToSystemTime(FileTimeNow(), &st);
    return st;
}

SystemTime SystemTimeNowLocal() {
    SystemTime st{};
    FileTimeToLocalSystemTime(FileTimeNow(), &st);
    return st;
}

} // namespace platform
