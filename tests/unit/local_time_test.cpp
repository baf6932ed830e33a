// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <random>

#include "platform/local_time.h"
#include "scan/deleted_file_entry.h"

namespace {

constexpr std::uint64_t kSecond = 10000000;

// File time of a UTC calendar instant.
std::uint64_t FileTime(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    const std::int64_t unix = static_cast<std::int64_t>(timegm(&tm));
    return static_cast<std::uint64_t>(unix * 10000000 + 116444736000000000ll) +
           static_cast<std::uint64_t>(ms) * 10000;
}

class LocalTime : public ::testing::Test {
protected:
    void Zone(const char* tz) {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    void SetUp() override { std::setlocale(LC_ALL, "C"); }
    void TearDown() override { Zone("UTC"); }
};

TEST_F(LocalTime, TextsInTheCLocale) {
    Zone("UTC");
    platform::TDateTimeFormatter f;
    EXPECT_EQ(f.Format(FileTime(2026, 12, 9, 6, 47, 43, 478)), "12/09/26 06:47:43");
    // Exactly local midnight: the date alone; a millisecond later, the time too.
    EXPECT_EQ(f.Format(FileTime(2024, 2, 29, 0, 0, 0)), "02/29/24");
    EXPECT_EQ(f.Format(FileTime(2024, 2, 29, 0, 0, 0, 1)), "02/29/24 00:00:00");
    // 1601-01-01 00:00 UTC is file time 0.
    EXPECT_EQ(f.Format(0), "01/01/01");
}

TEST_F(LocalTime, ZoneRulesForTheDateConverted) {
    Zone("America/New_York");
    platform::TDateTimeFormatter f;
    EXPECT_EQ(f.Format(FileTime(2026, 1, 15, 12, 0, 0)), "01/15/26 07:00:00");  // EST
    EXPECT_EQ(f.Format(FileTime(2026, 7, 15, 12, 0, 0)), "07/15/26 08:00:00");  // EDT
    // Local midnight in summer is 04:00 UTC.
    EXPECT_EQ(f.Format(FileTime(2026, 7, 15, 4, 0, 0)), "07/15/26");
    Zone("Australia/Lord_Howe");  // half-hour daylight saving
    platform::TDateTimeFormatter g;
    EXPECT_EQ(g.Format(FileTime(2026, 1, 15, 0, 0, 0)), "01/15/26 11:00:00");  // +11
    EXPECT_EQ(g.Format(FileTime(2026, 7, 15, 0, 0, 0)), "07/15/26 10:30:00");  // +10:30
    const auto local = platform::FileTimeToLocalDateTime(FileTime(2026, 7, 15, 0, 0, 0, 250));
    ASSERT_TRUE(local);
    EXPECT_EQ(*local, (platform::TLocalDateTime{2026, 7, 15, 10, 30, 0, 250}));
}

TEST_F(LocalTime, CachedTextsMatchDirectConversion) {
    // The caches must not change a single text, across zone changes too.
    for (const char* tz : {"UTC", "Europe/Berlin", "America/St_Johns", "Asia/Kolkata"}) {
        Zone(tz);
        platform::TDateTimeFormatter f;
        std::mt19937_64 rng(7);
        for (int i = 0; i < 20000; ++i) {
            const std::uint64_t ft = FileTime(1990, 1, 1, 0, 0, 0) + rng() % (40ull * 365 * 86400 * kSecond);
            const auto local = platform::FileTimeToLocalDateTime(ft);
            ASSERT_TRUE(local);
            std::tm tm{};
            tm.tm_year = local->Year - 1900;
            tm.tm_mon = local->Month - 1;
            tm.tm_mday = local->Day;
            tm.tm_hour = local->Hour;
            tm.tm_min = local->Minute;
            tm.tm_sec = local->Second;
            char buf[64];
            std::strftime(buf, sizeof buf, "%x %X", &tm);
            std::string want = buf;
            if (local->Hour == 0 && local->Minute == 0 && local->Second == 0 && local->Millisecond == 0)
                want = want.substr(0, want.find(' '));
            ASSERT_EQ(f.Format(ft), want) << tz << " " << ft;
        }
    }
}

TEST_F(LocalTime, TimesThatDoNotConvert) {
    Zone("UTC");
    platform::TDateTimeFormatter f;
    EXPECT_EQ(f.Format(std::uint64_t{1} << 63), "");
    EXPECT_EQ(f.Format(UINT64_MAX), "");
    EXPECT_FALSE(platform::FileTimeToLocalDateTime(std::uint64_t{1} << 63));
    // The first instant of the year 10000.
    const std::uint64_t y10000 = 2650467744000000000ull;
    EXPECT_EQ(f.Format(y10000 - 10000), "12/31/99 23:59:59");
    EXPECT_EQ(f.Format(y10000), "");
    EXPECT_EQ(scan::FileTimeToUtcIso(y10000), "");
    EXPECT_EQ(scan::FileTimeToUtcIso(y10000 - 10000), "9999-12-31T23:59:59.999Z");
}

TEST(RowTexts, CaptionSizeExtensionIso) {
    EXPECT_EQ(scan::CaptionText(0xC0004000), "0xC0004000");
    EXPECT_EQ(scan::CaptionText(3221225472ull + 3000000ull * 1024), "0x1771B0000");
    EXPECT_EQ(scan::CaptionText(0), "0x00");
    EXPECT_EQ(scan::SizeText(0), "1 KB");
    EXPECT_EQ(scan::SizeText(2047), "1 KB");
    EXPECT_EQ(scan::SizeText(2048), "2 KB");
    EXPECT_EQ(scan::SizeText(1048575), "1023 KB");
    EXPECT_EQ(scan::SizeText(-5000), "-4 KB");  // damaged: truncation toward zero
    EXPECT_EQ(scan::ExtensionOf(u"archive.tar.gz"), u".gz");
    EXPECT_EQ(scan::ExtensionOf(u"noext"), u"");
    EXPECT_EQ(scan::ExtensionOf(u".profile"), u".profile");
    EXPECT_EQ(scan::ExtensionOf(u"dir.d\\file"), u"");
    EXPECT_EQ(scan::ExtensionOf(u"a.b:stream"), u"");
    EXPECT_EQ(scan::ExtensionOf(u"trailing."), u".");
    EXPECT_EQ(scan::FileTimeToUtcIso(FileTime(2026, 12, 9, 6, 47, 43, 478) + 9999),
              "2026-12-09T06:47:43.478Z");
    EXPECT_EQ(scan::FileTimeToUtcIso(0), "1601-01-01T00:00:00.000Z");
}

}  // namespace
