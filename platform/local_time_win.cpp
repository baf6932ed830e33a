// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "platform/local_time.h"
#include "platform/win_text.h"

namespace platform {

namespace {

bool ToLocalSystemTime(std::uint64_t fileTime, SYSTEMTIME& local) {
    if (fileTime >= (std::uint64_t{1} << 63)) return false;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME utc;
    if (!::FileTimeToSystemTime(&ft, &utc)) return false;
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    return local.wYear >= 1601 && local.wYear <= 9999;
}

}  // namespace

std::optional<TLocalDateTime> FileTimeToLocalDateTime(std::uint64_t fileTime) {
    SYSTEMTIME st;
    if (!ToLocalSystemTime(fileTime, st)) return std::nullopt;
    return TLocalDateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

TDateTimeFormatter::TDateTimeFormatter() = default;

std::optional<std::int64_t> TDateTimeFormatter::UtcOffset(std::int64_t) {
    return std::nullopt;
}
std::string TDateTimeFormatter::DateText(std::int64_t, std::int64_t) {
    return {};
}
std::string TDateTimeFormatter::TimeText(std::int64_t, std::int64_t, std::int64_t) {
    return {};
}

std::string TDateTimeFormatter::Format(std::uint64_t fileTime) {
    std::string text;
    Format(fileTime, text);
    return text;
}

void TDateTimeFormatter::Format(std::uint64_t fileTime, std::string& out) {
    out.clear();
    SYSTEMTIME st;
    if (!ToLocalSystemTime(fileTime, st)) return;
    // The date text repeats for every file of a day: keep it per day.
    const std::int64_t dayKey = st.wYear * 10000 + st.wMonth * 100 + st.wDay;
    auto it = m_dates.find(dayKey);
    if (it != m_dates.end()) {
        out = it->second;
    } else {
        std::string text;
        wchar_t buf[128];
        const int n = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, 128);
        if (n > 0) text = Narrow(std::wstring(buf, static_cast<std::size_t>(n - 1)));
        out = text;
        m_dates.emplace(dayKey, std::move(text));
    }
    if (st.wHour != 0 || st.wMinute != 0 || st.wSecond != 0 || st.wMilliseconds != 0) {
        wchar_t buf[128];
        const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, 128);
        if (n > 0) {
            out.push_back(' ');
            out += Narrow(std::wstring(buf, static_cast<std::size_t>(n - 1)));
        }
    }
}

}  // namespace platform
