#include "platform/filetime.h"
#include "platform/guid.h"
#include "platform/wstr.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <set>

using namespace platform;

namespace {

const Guid kKnown = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};
const char16_t kKnownText[] = u"{6B29FC40-CA47-1067-B31D-00DD010662DA}";

TEST(Guid, FormatsBracedUpperCase) {
    char16_t out[40];
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(GuidToString(kKnown, out, 40), 39);
    EXPECT_EQ(std::u16string(out), kKnownText);
    EXPECT_EQ(out[39], u'#');

    char narrow[39];
    EXPECT_EQ(GuidToString(kKnown, narrow, 39), 39);
    EXPECT_STREQ(narrow, "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
    EXPECT_EQ(GuidToU8String(kKnown), narrow);
    EXPECT_EQ(GuidToU16String(kKnown), kKnownText);

    // One character short of the NUL: nothing written at all.
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(GuidToString(kKnown, out, 38), 0);
    EXPECT_EQ(out[0], u'#');
    EXPECT_EQ(GuidToString(kKnown, static_cast<char16_t*>(nullptr), 39), 0);
}

TEST(Guid, ParsesEitherCase) {
    Guid g{};
    ASSERT_TRUE(ParseGuid(std::u16string_view(kKnownText), &g));
    EXPECT_TRUE(g == kKnown);
    Guid lower{};
    ASSERT_TRUE(ParseGuid(std::u16string_view(u"{6b29fc40-ca47-1067-b31d-00dd010662da}"), &lower));
    EXPECT_TRUE(lower == kKnown);
    Guid mixed{};
    ASSERT_TRUE(ParseGuid(std::string_view("{6b29FC40-Ca47-1067-b31D-00dD010662dA}"), &mixed));
    EXPECT_TRUE(mixed == kKnown);
    // The bytes keep the in-memory layout records store.
    const uint8_t expected[16] = {0x40, 0xFC, 0x29, 0x6B, 0x47, 0xCA, 0x67, 0x10,
                                  0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA};
    EXPECT_EQ(std::memcmp(&g, expected, 16), 0);
}

TEST(Guid, RejectsOtherForms) {
    const std::u16string bad[] = {
        u"",
        u"6B29FC40-CA47-1067-B31D-00DD010662DA",        // no braces
        u"{6B29FC40-CA47-1067-B31D-00DD010662DA",       // no closing brace
        u"{6B29FC40-CA47-1067-B31D-00DD010662DA}x",     // trailing character
        u" {6B29FC40-CA47-1067-B31D-00DD010662DA}",     // leading blank
        u"(6B29FC40-CA47-1067-B31D-00DD010662DA)",      // other brackets
        u"{6B29FC40-CA47-1067-B31D-00DD010662D}",       // digit missing
        u"{6B29FC40CA47-1067-B31D-00DD010662DA0}",      // hyphen moved
        u"{6B29FC40-CA47-1067-B31D_00DD010662DA}",      // wrong separator
        u"{6B29FC4G-CA47-1067-B31D-00DD010662DA}",      // not hex
        u"{6B29FC40-CA47-1067-B31D-00DD010662D }",      // blank inside
        u"{+B29FC40-CA47-1067-B31D-00DD010662DA}",      // sign
        u"{\uFF41B29FC40-CA47-1067-B31D-00DD010662DA}", // wide letter, low byte 'A'
        std::u16string(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}")
            .replace(1, 1, 1, u'\u0136'), // low byte '6'
    };
    for (const auto& text : bad) {
        Guid g = kKnown;
        EXPECT_FALSE(ParseGuid(text, &g)) << ToUtf8(text);
        EXPECT_TRUE(g == kKnown) << "output changed for " << ToUtf8(text);
    }
    // A byte that is negative as a char must not pass as a digit.
    std::string narrow = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
    narrow[5] = char(0xC1);
    Guid g{};
    EXPECT_FALSE(ParseGuid(narrow, &g));
}

TEST(Guid, CreatesRandomVersion4) {
    std::set<std::u16string> seen;
    for (int i = 0; i < 1000; ++i) {
        Guid g = CreateGuid();
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        std::u16string text = GuidToU16String(g);
        Guid back{};
        ASSERT_TRUE(ParseGuid(text, &back));
        EXPECT_TRUE(back == g);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(FileTime, UnixClockConversions) {
    EXPECT_EQ(FileTimeFromTimeT(0), 116444736000000000ULL);
    EXPECT_EQ(FileTimeToTimeT(116444736000000000ULL), 0);

    struct Case {
        timespec ts;
        FileTime ft;
        timespec back; // precision is 100 ns
    } cases[] = {
        {{0, 0}, kFileTimeUnixEpoch, {0, 0}},
        {{1700000000, 123456789},
         kFileTimeUnixEpoch + 17000000001234567ULL,
         {1700000000, 123456700}},
        {{-1, 500000000}, kFileTimeUnixEpoch - 5000000, {-1, 500000000}},
        {{-11644473600, 0}, 0, {-11644473600, 0}},
        {{-11644473601, 0}, 0, {-11644473600, 0}}, // before 1601: clamped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ts.tv_sec);
        EXPECT_EQ(FileTimeFromTimespec(c.ts), c.ft);
        timespec back = FileTimeToTimespec(c.ft);
        EXPECT_EQ(back.tv_sec, c.back.tv_sec);
        EXPECT_EQ(back.tv_nsec, c.back.tv_nsec);
    }
    // Before 1970 whole seconds round toward the past.
    EXPECT_EQ(FileTimeToTimeT(kFileTimeUnixEpoch - 1), -1);
    EXPECT_EQ(FileTimeFromTimeT(std::numeric_limits<time_t>::max()), kFileTimeMax);
    EXPECT_EQ(FileTimeFromTimeT(std::numeric_limits<time_t>::min()), 0u);

    // time() reads a coarser clock that may lag behind CLOCK_REALTIME.
    timespec t0, t1;
    clock_gettime(CLOCK_REALTIME, &t0);
    FileTime now = FileTimeNow();
    clock_gettime(CLOCK_REALTIME, &t1);
    time_t before = t0.tv_sec, after = t1.tv_sec;
    EXPECT_GE(FileTimeToTimeT(now), before);
    EXPECT_LE(FileTimeToTimeT(now), after);
}

TEST(FileTime, CalendarConversions) {
    struct Case {
        FileTime ft;
        SystemTime st;
    } cases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}}, // a Monday
        {kFileTimeUnixEpoch, {1970, 1, 4, 1, 0, 0, 0, 0}},
        {kFileTimeUnixEpoch + (951827696ULL * 10000000 + 7890000),
         {2000, 2, 2, 29, 12, 34, 56, 789}},
        {kFileTimeUnixEpoch + 4102444799ULL * 10000000, {2099, 12, 4, 31, 23, 59, 59, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.st.wYear);
        SystemTime st{};
        ASSERT_TRUE(FileTimeToSystemTime(c.ft, &st));
        EXPECT_EQ(std::memcmp(&st, &c.st, sizeof st), 0)
            << st.wYear << "-" << st.wMonth << "-" << st.wDay << " dow " << st.wDayOfWeek << " "
            << st.wHour << ":" << st.wMinute << ":" << st.wSecond << "." << st.wMilliseconds;
        FileTime back = 1;
        ASSERT_TRUE(SystemTimeToFileTime(c.st, &back));
        EXPECT_EQ(back, c.ft);
    }
    // The last moment Windows accepts survives the round trip.
    SystemTime last = {30827, 12, 0, 31, 23, 59, 59, 999};
    FileTime ft = 0;
    ASSERT_TRUE(SystemTimeToFileTime(last, &ft));
    SystemTime back{};
    ASSERT_TRUE(FileTimeToSystemTime(ft, &back));
    EXPECT_EQ(back.wYear, 30827);
    EXPECT_EQ(back.wMilliseconds, 999);
    EXPECT_FALSE(FileTimeToSystemTime(kFileTimeMax + 1, &back));

    const SystemTime invalid[] = {
        {1600, 12, 0, 31, 0, 0, 0, 0}, {2024, 13, 0, 1, 0, 0, 0, 0},   {2024, 0, 0, 1, 0, 0, 0, 0},
        {1900, 2, 0, 29, 0, 0, 0, 0},  {2024, 2, 0, 30, 0, 0, 0, 0},   {2024, 4, 0, 31, 0, 0, 0, 0},
        {2024, 1, 0, 0, 0, 0, 0, 0},   {2024, 1, 0, 1, 24, 0, 0, 0},   {2024, 1, 0, 1, 0, 60, 0, 0},
        {2024, 1, 0, 1, 0, 0, 60, 0},  {2024, 1, 0, 1, 0, 0, 0, 1000},
    };
    for (const auto& st : invalid) {
        FileTime out = 42;
        EXPECT_FALSE(SystemTimeToFileTime(st, &out))
            << st.wYear << "-" << st.wMonth << "-" << st.wDay << " " << st.wHour << ":"
            << st.wMinute << ":" << st.wSecond << "." << st.wMilliseconds;
        EXPECT_EQ(out, 42u);
    }
}

TEST(FileTime, LocalTimeFollowsTheZone) {
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "XYZ-3", 1); // three hours east of UTC, no daylight saving
    tzset();

    SystemTime st{};
    ASSERT_TRUE(FileTimeToLocalSystemTime(kFileTimeUnixEpoch + 1234 * 10000ULL, &st));
    EXPECT_EQ(st.wYear, 1970);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 4);
    EXPECT_EQ(st.wHour, 3);
    EXPECT_EQ(st.wSecond, 1);
    EXPECT_EQ(st.wMilliseconds, 234);

    // The "local file time" of now is three hours ahead of the UTC one.
    FileTime utc = 0, local = 0;
    ASSERT_TRUE(SystemTimeToFileTime(SystemTimeNowUtc(), &utc));
    ASSERT_TRUE(SystemTimeToFileTime(SystemTimeNowLocal(), &local));
    int64_t diffSeconds = (int64_t(local) - int64_t(utc)) / 10000000;
    EXPECT_NEAR(double(diffSeconds), 3 * 3600.0, 2.0);

    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
