// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/same_volume.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::optional<struct stat> StatOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

// The block devices under a file system with this device number. A kernel
// file system (ext4, ntfs3) reports its block device as st_dev; a FUSE one
// (ntfs-3g: "fuseblk") reports an anonymous number, and only the mount
// table names the device it reads.
std::vector<dev_t> DevicesUnder(dev_t fileSystem) {
    std::vector<dev_t> devices{fileSystem};
    std::ifstream in("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(fileSystem)) + ":" + std::to_string(minor(fileSystem));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, number;
        fields >> id >> parent >> number;
        if (number != wanted) continue;
        const auto dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type, source;
        tail >> type >> source;
        const auto st = StatOf(source);
        if (st && S_ISBLK(st->st_mode)) devices.push_back(st->st_rdev);
    }
    return devices;
}

// The backing file of the loop device with this number, or of the loop
// device whose partition it is; empty for any other device.
std::string LoopBackingFile(dev_t device) {
    const fs::path sys =
        fs::path("/sys/dev/block") / (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    std::error_code ec;
    for (const fs::path& dir : {sys, sys / ".."}) {
        std::ifstream in(dir / "loop" / "backing_file");
        std::string backing;
        if (std::getline(in, backing) && !backing.empty()) return backing;
        if (!fs::exists(sys / "partition", ec)) break;  // only a partition looks at its parent
    }
    return {};
}

}  // namespace

bool FolderIsOnDrive(const std::string& folder, const std::string& source) {
    if (source.empty()) return false;
    const auto folderStat = StatOf(folder);
    const auto sourceStat = StatOf(source);
    if (!folderStat || !sourceStat) return false;
    for (const dev_t device : DevicesUnder(folderStat->st_dev)) {
        // A device-mapper or RAID device stacked on the source is not
        // followed: only a file system directly on it is recognised.
        if (S_ISBLK(sourceStat->st_mode) && device == sourceStat->st_rdev) return true;
        if (!S_ISREG(sourceStat->st_mode)) continue;
        // An image, mounted through a loop device. The kernel names the
        // backing file by path; compare the files themselves, not the texts.
        const std::string backing = LoopBackingFile(device);
        if (backing.empty()) continue;
        const auto backingStat = StatOf(backing);
        if (backingStat && backingStat->st_dev == sourceStat->st_dev &&
            backingStat->st_ino == sourceStat->st_ino)
            return true;
    }
    return false;
}

}  // namespace platform
