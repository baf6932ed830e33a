// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/deleted_file_entry.h"

#include <cstdio>

#include "ntfs/text.h"

namespace scan {

std::string CaptionText(std::uint64_t byteOffset) {
    return "0x" + ntfs::HexUpper(byteOffset, 2);
}

std::u16string ExtensionOf(std::u16string_view name) {
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) return {};
    if (name.find_first_of(u"\\:", dot) != std::u16string_view::npos) return {};
    return std::u16string(name.substr(dot));
}

std::string SizeText(std::int64_t size) {
    std::int64_t k = size / 1024;
    if (k == 0) k = 1;
    return std::to_string(k) + " KB";
}

std::string FileTimeToUtcIso(std::uint64_t fileTime) {
    if (fileTime >= (std::uint64_t{1} << 63)) return {};
    // Days from 1601-01-01, then the civil date (proleptic Gregorian).
    const std::uint64_t ms = fileTime / 10000;
    const std::uint64_t days = ms / 86400000;
    const std::uint64_t msOfDay = ms % 86400000;
    // 1601-01-01 is 134774 days before 1970-01-01.
    std::int64_t z = static_cast<std::int64_t>(days) - 134774 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    if (y > 9999) return {};
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02llu:%02llu:%02llu.%03lluZ",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<unsigned long long>(msOfDay / 3600000),
                  static_cast<unsigned long long>(msOfDay / 60000 % 60),
                  static_cast<unsigned long long>(msOfDay / 1000 % 60),
                  static_cast<unsigned long long>(msOfDay % 1000));
    return buf;
}

}  // namespace scan
