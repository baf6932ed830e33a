// SPDX-License-Identifier: GPL-3.0-or-later
// NTFS file times as the user's local date and time, and their texts in the
// user's locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

struct TLocalDateTime {
    int Year = 0;
    int Month = 0;  // 1..12
    int Day = 0;    // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    bool operator==(const TLocalDateTime&) const = default;
};

// A file time (UTC) as a local calendar date and time of day, to the
// millisecond, in the current time zone with its daylight-saving rules for
// that date. Empty when it does not convert: 2^63 and above, or a local date
// outside the years 1601..9999 (a damaged record).
std::optional<TLocalDateTime> FileTimeToLocalDateTime(std::uint64_t fileTime);

// Date-time texts in the user's locale: its short date, then, unless the
// local time is exactly 00:00:00.000, one blank and its long time. Empty text
// for a time that does not convert. A scan formats two texts per found file,
// so the formatter caches what repeats (the zone offset per quarter hour, the
// date text per day, the time text per second of the day). Not thread-safe:
// one per thread.
class TDateTimeFormatter {
public:
    TDateTimeFormatter();
    std::string Format(std::uint64_t fileTime);
    // The same into out, reusing its storage.
    void Format(std::uint64_t fileTime, std::string& out);

private:
    struct TOffsetSlot {
        std::int64_t Bucket = INT64_MIN;
        std::int64_t Offset = 0;
    };
    std::optional<std::int64_t> UtcOffset(std::int64_t unixSeconds);
    std::string DateText(std::int64_t localDays, std::int64_t localSeconds);
    std::string TimeText(std::int64_t secondOfDay, std::int64_t localSeconds, std::int64_t utcSeconds);

    std::vector<TOffsetSlot> m_offsets;
    std::unordered_map<std::int64_t, std::string> m_dates;
    std::unordered_map<std::int64_t, std::string> m_times;  // by second of the day, as met
    bool m_cacheTimes = true;
};

}  // namespace platform
