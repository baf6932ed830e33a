// SPDX-License-Identifier: GPL-3.0-or-later
#include <blkid/blkid.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "platform/drives.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool IsPartition(const fs::path& sysDir) {
    return fs::exists(sysDir / "partition");
}

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

namespace {

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The file-system type udev recorded for a device ("E:ID_FS_TYPE=ntfs" in
// /run/udev/data/b<major>:<minor>), readable without root; empty when udev
// published none.
std::string UdevFsType(const std::string& name) {
    const std::string majorMinor = ReadFirstLine(fs::path("/sys/class/block") / name / "dev");
    if (majorMinor.empty()) return {};
    std::ifstream in("/run/udev/data/b" + majorMinor);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("E:ID_FS_TYPE=", 0) == 0) return line.substr(13);
    return {};
}

// The machine's devices with what is known of their type: udev's database
// first, then blkid's cache (which probes the device when it may read it).
std::vector<TDeviceCandidate> MachineDevices() {
    std::vector<TDeviceCandidate> devices;
    blkid_cache cache = nullptr;
    if (blkid_get_cache(&cache, nullptr) != 0) cache = nullptr;
    for (const std::string& name : BlockDeviceNames()) {
        const std::string path = "/dev/" + name;
        std::string type = UdevFsType(name);
        if (type.empty() && cache != nullptr) {
            if (char* value = blkid_get_tag_value(cache, "TYPE", path.c_str())) {
                type = value;
                std::free(value);
            }
        }
        devices.push_back({path, type == "ntfs" || type == "ntfs3"});
    }
    if (cache != nullptr) blkid_put_cache(cache);
    return devices;
}

// LUMBRA_DRIVES's entries, and whether "*" among them adds the machine's.
std::vector<TDriveEntry> FixedEntries(const char* mapping, bool& withMachine) {
    withMachine = mapping == nullptr;
    if (mapping == nullptr) return {};
    const std::string text = mapping;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string::npos) end = text.size();
        if (text.substr(pos, end - pos) == "*") withMachine = true;
        pos = end + 1;
    }
    return ParseDriveTable(text);
}

// The process's table: resolved once, kept until a refresh.
struct TTableState {
    std::mutex Mutex;
    bool Resolved = false;
    std::optional<std::string> Mapping;  // LUMBRA_DRIVES when it was resolved
    std::vector<TDriveEntry> Table;
};

TTableState& State() {
    static TTableState state;
    return state;
}

std::optional<std::string> CurrentMapping() {
    const char* mapping = std::getenv("LUMBRA_DRIVES");
    return mapping ? std::optional<std::string>(mapping) : std::nullopt;
}

// Under the state's lock.
void Resolve(TTableState& state, const std::optional<std::string>& mapping, bool keep) {
    bool withMachine = false;
    const std::vector<TDriveEntry> fixed = FixedEntries(mapping ? mapping->c_str() : nullptr, withMachine);
    const std::vector<TDriveEntry> kept = keep ? state.Table : std::vector<TDriveEntry>{};
    state.Table =
        AssignDriveLetters(fixed, kept, withMachine ? MachineDevices() : std::vector<TDeviceCandidate>{});
    state.Mapping = mapping;
    state.Resolved = true;
}

}  // namespace

std::vector<TDriveEntry> DriveTable() {
    TTableState& state = State();
    const std::lock_guard<std::mutex> lock(state.Mutex);
    const auto mapping = CurrentMapping();
    // A changed LUMBRA_DRIVES is a new table altogether (tests set it).
    if (!state.Resolved || mapping != state.Mapping) Resolve(state, mapping, false);
    return state.Table;
}

std::vector<TDriveEntry> RefreshDriveTable() {
    TTableState& state = State();
    const std::lock_guard<std::mutex> lock(state.Mutex);
    const auto mapping = CurrentMapping();
    Resolve(state, mapping, state.Resolved && mapping == state.Mapping);
    return state.Table;
}

std::uint32_t GetLogicalDrivesMask() {
    std::uint32_t mask = 0;
    for (const TDriveEntry& e : DriveTable()) mask |= std::uint32_t{1} << (e.Letter - 'A');
    return mask;
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

}  // namespace platform
