#include <blkid/blkid.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/drives.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool IsPartition(const fs::path& sysDir) { return fs::exists(sysDir / "partition"); }

std::uint64_t SectorCount(const fs::path& sysDir) {
    std::ifstream in(sysDir / "size");
    std::uint64_t n = 0;
    in >> n;
    return n;
}

bool HasPartitions(const fs::path& sysDir, const std::string& name) {
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(sysDir, ec)) {
        const std::string childName = child.path().filename().string();
        if (childName.rfind(name, 0) == 0 && childName != name && IsPartition(child.path())) return true;
    }
    return false;
}

// Block devices that may hold a file system: partitions, and whole disks
// without partitions. RAM disks, zram swap and unattached (empty) loop
// devices never hold a user's volume.
std::vector<std::string> BlockDeviceNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/block", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
        const fs::path sysDir = entry.path();
        if (SectorCount(sysDir) == 0) continue;
        if (!IsPartition(sysDir) && HasPartitions(sysDir, name)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<TDriveEntry> DriveTable() {
    const char* mapping = std::getenv("LUMBRA_DRIVES");
    std::vector<TDriveEntry> table;
    bool withMachine = mapping == nullptr;
    if (mapping != nullptr) {
        table = ParseDriveTable(mapping);
        // "*" among the entries adds the machine's own devices beside them.
        const std::string text = mapping;
        std::size_t pos = 0;
        while (pos <= text.size()) {
            std::size_t end = text.find(';', pos);
            if (end == std::string::npos) end = text.size();
            if (text.substr(pos, end - pos) == "*") withMachine = true;
            pos = end + 1;
        }
    }
    if (!withMachine) return table;
    char letter = 'C';
    for (const std::string& name : BlockDeviceNames()) {
        while (letter <= 'Z' && std::any_of(table.begin(), table.end(),
                                            [&](const TDriveEntry& e) { return e.Letter == letter; }))
            ++letter;
        if (letter > 'Z') break;
        table.push_back({letter++, "/dev/" + name});
    }
    std::sort(table.begin(), table.end(),
              [](const TDriveEntry& a, const TDriveEntry& b) { return a.Letter < b.Letter; });
    return table;
}

std::uint32_t GetLogicalDrivesMask() {
    std::uint32_t mask = 0;
    for (const TDriveEntry& e : DriveTable()) mask |= std::uint32_t{1} << (e.Letter - 'A');
    return mask;
}

std::optional<std::string> ResolveDrive(const std::string& drive) {
    if (drive.empty()) return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
    for (const TDriveEntry& e : DriveTable())
        if (e.Letter == letter) return e.Path;
    return std::nullopt;
}

std::string GetVolumeLabelOfPath(const std::string& path) {
    blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
    if (probe == nullptr) return {};
    std::string label;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
    if (blkid_do_safeprobe(probe) == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value != nullptr) label = value;
    }
    blkid_free_probe(probe);
    return label;
}

std::string GetVolumeLabel(char letter) {
    const auto path = ResolveDrive(std::string(1, letter) + ":");
    if (!path) return {};
    return GetVolumeLabelOfPath(*path);
}

}  // namespace platform
