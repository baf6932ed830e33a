// SPDX-License-Identifier: GPL-3.0-or-later
// File times as local date-time texts through the Win32 calls: the time zone
// conversion and the locale's short date and long time formats.
// scripts/test-windows runs these with TZ=UTC and LC_ALL=C.UTF-8, which wine
// takes as UTC and en-US; the exact texts are checked only there.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/local_time.h"

namespace {

using platform::TLocalDateTime;

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicksPerMs = 10000;

constexpr std::uint64_t FromUnix(std::int64_t seconds, std::uint64_t ticks = 0) {
    return platform::kFileTimeUnixEpoch + static_cast<std::uint64_t>(seconds) * kTicksPerSecond + ticks;
}

bool ZoneIsUtc() {
    TIME_ZONE_INFORMATION tz{};
    const DWORD id = ::GetTimeZoneInformation(&tz);
    return id != TIME_ZONE_ID_INVALID && tz.Bias == 0 && tz.DaylightDate.wMonth == 0;
}

bool LocaleIsEnUs() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {0};
    return ::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0 && std::wstring(name) == L"en-US";
}

// The file time of a local date's midnight, through the zone's own rules.
std::uint64_t LocalMidnight(WORD year, WORD month, WORD day) {
    SYSTEMTIME local{};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    SYSTEMTIME utc{};
    EXPECT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    FILETIME ft{};
    EXPECT_TRUE(::SystemTimeToFileTime(&utc, &ft));
    return (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

TEST(LocalTimeWin, TimesThatDoNotConvertGiveNothing) {
    EXPECT_FALSE(platform::FileTimeToLocalDateTime(std::uint64_t{1} << 63).has_value());
    EXPECT_FALSE(platform::FileTimeToLocalDateTime(UINT64_MAX).has_value());
    // Windows converts up to the year 30828; the texts stop at 9999.
    EXPECT_FALSE(platform::FileTimeToLocalDateTime((std::uint64_t{1} << 63) - 1).has_value());
    platform::TDateTimeFormatter f;
    EXPECT_EQ(f.Format(std::uint64_t{1} << 63), "");
    EXPECT_EQ(f.Format((std::uint64_t{1} << 63) - 1), "");
}

TEST(LocalTimeWin, UtcCalendarFieldsToTheMillisecond) {
    if (!ZoneIsUtc()) GTEST_SKIP() << "the time zone is not UTC (scripts/test-windows sets TZ=UTC)";
    EXPECT_EQ(platform::FileTimeToLocalDateTime(0), (TLocalDateTime{1601, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(platform::FileTimeToLocalDateTime(FromUnix(0)), (TLocalDateTime{1970, 1, 1, 0, 0, 0, 0}));
    // 100-ns ticks below the millisecond are cut, not rounded.
    EXPECT_EQ(platform::FileTimeToLocalDateTime(FromUnix(946684799, 9999999)),
              (TLocalDateTime{1999, 12, 31, 23, 59, 59, 999}));
    EXPECT_EQ(platform::FileTimeToLocalDateTime(FromUnix(253402300799, 9999999)),
              (TLocalDateTime{9999, 12, 31, 23, 59, 59, 999}));
    EXPECT_FALSE(platform::FileTimeToLocalDateTime(FromUnix(253402300800)).has_value());
}

TEST(LocalTimeWin, TimeIsLeftOutOnlyAtExactlyMidnight) {
    // Holds in every zone and locale: midnight gives the date text alone,
    // one millisecond later the same date, a blank and a time.
    platform::TDateTimeFormatter f;
    const std::uint64_t midnight = LocalMidnight(2020, 2, 29);
    const std::string date = f.Format(midnight);
    ASSERT_FALSE(date.empty());
    for (const std::uint64_t later : {midnight + kTicksPerMs, midnight + 12 * 3600 * kTicksPerSecond,
                                      midnight + 86399 * kTicksPerSecond}) {
        const std::string text = f.Format(later);
        ASSERT_GT(text.size(), date.size() + 1) << text;
        EXPECT_EQ(text.substr(0, date.size() + 1), date + " ") << text;
    }
    // Less than a millisecond past midnight is midnight.
    EXPECT_EQ(f.Format(midnight + kTicksPerMs - 1), date);
    // The next day's date is not the cached one.
    EXPECT_NE(f.Format(LocalMidnight(2020, 3, 1)), date);
}

TEST(LocalTimeWin, EnUsTextsInUtc) {
    if (!ZoneIsUtc() || !LocaleIsEnUs())
        GTEST_SKIP() << "needs UTC and the en-US locale (scripts/test-windows sets TZ=UTC, LC_ALL=C.UTF-8)";
    platform::TDateTimeFormatter f;
    EXPECT_EQ(f.Format(FromUnix(1582934400)), "2/29/2020");
    EXPECT_EQ(f.Format(FromUnix(1582934400, kTicksPerMs)), "2/29/2020 12:00:00 AM");
    EXPECT_EQ(f.Format(FromUnix(946684799, 9999999)), "12/31/1999 11:59:59 PM");
    EXPECT_EQ(f.Format(FromUnix(1614834367, 9999)), "3/4/2021 5:06:07 AM");
    EXPECT_EQ(f.Format(FromUnix(1614834367 + 7 * 3600)), "3/4/2021 12:06:07 PM");
    EXPECT_EQ(f.Format(FromUnix(253402300799, 9999999)), "12/31/9999 11:59:59 PM");
    EXPECT_EQ(f.Format(0), "1/1/1601");
}

}  // namespace
