// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cctype>

#include "platform/drives.h"

namespace platform {

std::vector<TDriveEntry> ParseDriveTable(const std::string& entries) {
    std::vector<TDriveEntry> table;
    std::size_t pos = 0;
    while (pos <= entries.size()) {
        std::size_t end = entries.find(';', pos);
        if (end == std::string::npos) end = entries.size();
        const std::string item = entries.substr(pos, end - pos);
        pos = end + 1;
        if (item.size() < 3 || item[1] != '=') continue;
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
        if (letter < 'A' || letter > 'Z') continue;
        const bool known =
            std::any_of(table.begin(), table.end(), [&](const TDriveEntry& e) { return e.Letter == letter; });
        if (!known) table.push_back({letter, item.substr(2)});
    }
    std::sort(table.begin(), table.end(),
              [](const TDriveEntry& a, const TDriveEntry& b) { return a.Letter < b.Letter; });
    return table;
}

std::vector<TDriveEntry> AssignDriveLetters(const std::vector<TDriveEntry>& fixed,
                                            const std::vector<TDriveEntry>& kept,
                                            const std::vector<TDeviceCandidate>& devices) {
    std::vector<TDriveEntry> table = fixed;
    const auto letterTaken = [&](char letter) {
        return std::any_of(table.begin(), table.end(),
                           [&](const TDriveEntry& e) { return e.Letter == letter; });
    };
    const auto pathListed = [&](const std::string& path) {
        return std::any_of(table.begin(), table.end(), [&](const TDriveEntry& e) { return e.Path == path; });
    };
    for (const TDriveEntry& e : kept)
        if (!letterTaken(e.Letter) && !pathListed(e.Path)) table.push_back(e);
    char letter = 'C';
    for (const bool ntfs : {true, false}) {
        for (const TDeviceCandidate& d : devices) {
            if (d.Ntfs != ntfs || pathListed(d.Path)) continue;
            while (letter <= 'Z' && letterTaken(letter)) ++letter;
            if (letter > 'Z') break;
            table.push_back({letter++, d.Path});
        }
    }
    std::sort(table.begin(), table.end(),
              [](const TDriveEntry& a, const TDriveEntry& b) { return a.Letter < b.Letter; });
    return table;
}

bool IsDriveString(const std::string& text) {
    return text.size() == 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
}

}  // namespace platform
