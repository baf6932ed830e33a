// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <cwctype>

#include "platform/drives.h"
#include "platform/same_volume.h"
#include "platform/win_text.h"

namespace platform {

namespace {

// The volume that holds `path`, as its "\\?\Volume{...}\" name when the
// system gives one, else as its mount path ("D:\"). Empty on failure.
std::wstring VolumeOf(const std::wstring& path) {
    wchar_t mount[MAX_PATH + 1] = {0};
    if (!::GetVolumePathNameW(path.c_str(), mount, MAX_PATH + 1)) return {};
    wchar_t name[MAX_PATH + 1] = {0};
    if (::GetVolumeNameForVolumeMountPointW(mount, name, MAX_PATH + 1)) return name;
    return mount;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

}  // namespace

bool FolderIsOnDrive(const std::string& folder, const std::string& source) {
    // A drive's raw device names its drive string after the "\\.\"; an
    // image file is no volume of its own.
    const std::string drive = source.rfind("\\\\.\\", 0) == 0 ? source.substr(4) : source;
    if (!IsDriveString(drive) || folder.empty()) return false;
    const std::wstring root = Widen(drive) + L"\\";
    const std::wstring folderVolume = VolumeOf(Widen(folder));
    const std::wstring driveVolume = VolumeOf(root);
    if (folderVolume.empty() || driveVolume.empty()) return false;
    return SameText(folderVolume, driveVolume);
}

}  // namespace platform
