// SPDX-License-Identifier: GPL-3.0-or-later
#include <langinfo.h>

#include <cstring>
#include <ctime>

#include "platform/local_time.h"

namespace platform {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kBucketSeconds = 900;  // zone rules change on quarter hours at the finest
constexpr std::size_t kOffsetSlots = 4096;
// 1601-01-01 .. 9999-12-31, as days from 1970-01-01, bound the dates we show.
constexpr std::int64_t kMaxLocalDays = 2932897;  // 10000-01-01
constexpr std::int64_t kMinLocalDays = -134774;  // 1601-01-01

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Offset from UTC of local time at a UTC instant, from the time-zone database.
std::optional<std::int64_t> OffsetAt(std::int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return std::nullopt;
    return static_cast<std::int64_t>(tm.tm_gmtoff);
}

// Broken-down time of a local instant expressed as seconds since 1970 local.
bool LocalTm(std::int64_t localSeconds, std::tm& tm) {
    const std::time_t t = static_cast<std::time_t>(localSeconds);
    return gmtime_r(&t, &tm) != nullptr;
}

std::string Strftime(const char* format, const std::tm& tm) {
    char buf[256];
    const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

bool SplitFileTime(std::uint64_t fileTime, std::int64_t& unixSeconds, int& millis) {
    if (fileTime >= (std::uint64_t{1} << 63)) return false;
    const std::int64_t ft = static_cast<std::int64_t>(fileTime);
    const std::int64_t sinceUnix = ft - static_cast<std::int64_t>(kFileTimeUnixEpoch);
    unixSeconds = FloorDiv(sinceUnix, 10000000);
    millis = static_cast<int>((sinceUnix - unixSeconds * 10000000) / 10000);
    return true;
}

}  // namespace

std::optional<TLocalDateTime> FileTimeToLocalDateTime(std::uint64_t fileTime) {
    std::int64_t seconds = 0;
    int millis = 0;
    if (!SplitFileTime(fileTime, seconds, millis)) return std::nullopt;
    const auto offset = OffsetAt(seconds);
    if (!offset) return std::nullopt;
    const std::int64_t local = seconds + *offset;
    const std::int64_t days = FloorDiv(local, kSecondsPerDay);
    if (days < kMinLocalDays || days >= kMaxLocalDays) return std::nullopt;
    std::tm tm{};
    if (!LocalTm(local, tm)) return std::nullopt;
    return TLocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                          tm.tm_min,         tm.tm_sec,     millis};
}

TDateTimeFormatter::TDateTimeFormatter() {
    tzset();
    // A long-time format that names the zone differs across the year, so
    // its texts cannot be kept per second of the day.
    const char* timeFormat = nl_langinfo(T_FMT);
    m_cacheTimes = timeFormat == nullptr ||
                   (std::strstr(timeFormat, "%Z") == nullptr && std::strstr(timeFormat, "%z") == nullptr);
}

std::optional<std::int64_t> TDateTimeFormatter::UtcOffset(std::int64_t unixSeconds) {
    const std::int64_t bucket = FloorDiv(unixSeconds, kBucketSeconds);
    if (m_offsets.empty()) m_offsets.resize(kOffsetSlots);
    TOffsetSlot& slot =
        m_offsets[static_cast<std::size_t>(static_cast<std::uint64_t>(bucket) % kOffsetSlots)];
    if (slot.Bucket == bucket) return slot.Offset;
    const std::int64_t start = bucket * kBucketSeconds;
    const auto first = OffsetAt(start);
    const auto last = OffsetAt(start + kBucketSeconds - 1);
    if (!first || !last) return std::nullopt;
    if (*first != *last) return OffsetAt(unixSeconds);  // a change inside this quarter hour
    slot.Bucket = bucket;
    slot.Offset = *first;
    return *first;
}

std::string TDateTimeFormatter::DateText(std::int64_t localDays, std::int64_t localSeconds) {
    auto it = m_dates.find(localDays);
    if (it != m_dates.end()) return it->second;
    std::tm tm{};
    if (!LocalTm(localSeconds, tm)) return {};
    std::string text = Strftime("%x", tm);
    m_dates.emplace(localDays, text);
    return text;
}

std::string TDateTimeFormatter::TimeText(std::int64_t secondOfDay, std::int64_t localSeconds,
                                         std::int64_t utcSeconds) {
    if (!m_cacheTimes) {
        // Zone-naming formats need the real local broken-down time.
        const std::time_t t = static_cast<std::time_t>(utcSeconds);
        std::tm tm{};
        if (localtime_r(&t, &tm) == nullptr) return {};
        return Strftime("%X", tm);
    }
    // A table of every second of the day would cost its pages up front.
    std::string& cached = m_times[secondOfDay];
    if (cached.empty()) {
        std::tm tm{};
        if (!LocalTm(localSeconds, tm)) return {};
        cached = Strftime("%X", tm);
    }
    return cached;
}

std::string TDateTimeFormatter::Format(std::uint64_t fileTime) {
    std::string text;
    Format(fileTime, text);
    return text;
}

void TDateTimeFormatter::Format(std::uint64_t fileTime, std::string& out) {
    out.clear();
    std::int64_t seconds = 0;
    int millis = 0;
    if (!SplitFileTime(fileTime, seconds, millis)) return;
    const auto offset = UtcOffset(seconds);
    if (!offset) return;
    const std::int64_t local = seconds + *offset;
    const std::int64_t days = FloorDiv(local, kSecondsPerDay);
    if (days < kMinLocalDays || days >= kMaxLocalDays) return;
    const std::int64_t secondOfDay = local - days * kSecondsPerDay;
    out += DateText(days, local);
    if (secondOfDay != 0 || millis != 0) {
        out.push_back(' ');
        out += TimeText(secondOfDay, local, seconds);
    }
}

}  // namespace platform
