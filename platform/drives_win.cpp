// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "platform/drives.h"
#include "platform/win_text.h"

namespace platform {

std::uint32_t GetLogicalDrivesMask() {
    return static_cast<std::uint32_t>(::GetLogicalDrives());
}

std::vector<TDriveEntry> DriveTable() {
    std::vector<TDriveEntry> table;
    const std::uint32_t mask = GetLogicalDrivesMask();
    for (int i = 0; i < 26; ++i) {
        if ((mask & (std::uint32_t{1} << i)) == 0) continue;
        const char letter = static_cast<char>('A' + i);
        table.push_back({letter, std::string("\\\\.\\") + letter + ":"});
    }
    return table;
}

// Windows keeps its letters stable itself: a refresh is a fresh look.
std::vector<TDriveEntry> RefreshDriveTable() {
    return DriveTable();
}

namespace {

std::string LabelOfLetter(char letter) {
    const wchar_t root[4] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
    wchar_t label[MAX_PATH + 1] = {0};
    DWORD maxComponent = 0;
    DWORD flags = 0;
    if (!::GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, &maxComponent, &flags, nullptr, 0))
        return {};
    return Narrow(label);
}

}  // namespace

std::string GetVolumeLabelOfPath(const std::string& path) {
    // A raw device path names its drive: "\\.\D:".
    if (path.size() == 6 && path.rfind("\\\\.\\", 0) == 0 && path[5] == ':') return LabelOfLetter(path[4]);
    return {};
}

}  // namespace platform
