// Drives: the letters the user picks from, and what each one stands for.
//
// On Windows a drive letter is a volume and its raw device is "\\.\D:". On
// Linux there are no letters, so a drive table maps them: LUMBRA_DRIVES
// ("D=/path/disk.img;E=/dev/sdb1") when set, otherwise the machine's block
// devices (partitions, and whole disks without partitions) in name order from
// C: up. An entry "*" in LUMBRA_DRIVES adds the machine's devices beside the
// listed ones, on the letters left free. A device the user may not read fails to open, exactly like an
// unprivileged raw open on Windows, and so is never listed as NTFS.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct TDriveEntry {
    char Letter = 'C';  // upper case
    std::string Path;   // what the letter opens
};

// Parses a LUMBRA_DRIVES value. Entries that are not LETTER=PATH are ignored;
// a letter given twice keeps its first path. Sorted by letter.
std::vector<TDriveEntry> ParseDriveTable(const std::string& entries);

// The drive table in force on this machine (Windows: the logical drives).
std::vector<TDriveEntry> DriveTable();

// Bit i set for each drive letter 'A' + i that exists.
std::uint32_t GetLogicalDrivesMask();

// Whether text is a drive string: one letter and a colon ("d:" too).
bool IsDriveString(const std::string& text);

// What a drive string opens as a raw volume; empty for an unknown letter.
std::optional<std::string> ResolveDrive(const std::string& drive);

// The volume label of a drive letter, or empty text when there is none or the
// volume cannot be read. UTF-8.
std::string GetVolumeLabel(char letter);

// The label of the file system in a device or image, by content. UTF-8.
std::string GetVolumeLabelOfPath(const std::string& path);

}  // namespace platform
