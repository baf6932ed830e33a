// SPDX-License-Identifier: GPL-3.0-or-later
// Drives: the letters the user picks from, and what each one stands for.
//
// On Windows a drive letter is a volume and its raw device is "\\.\D:". On
// Linux there are no letters, so a drive table maps them: LUMBRA_DRIVES
// ("D=/path/disk.img;E=/dev/sdb1") when set, otherwise the machine's block
// devices (partitions, and whole disks without partitions) from C: up: NTFS
// volumes first (the type as udev or blkid's cache published it, readable
// without root), then the others, each group in name order. An entry "*" in
// LUMBRA_DRIVES adds the machine's devices beside the listed ones, on the
// letters left free. A device the user may not read fails to open, exactly
// like an unprivileged raw open on Windows, and so is never listed as NTFS.
//
// The table is resolved once per process, on first use, and again only on
// RefreshDriveTable (or when LUMBRA_DRIVES itself changes, as tests do): a
// letter keeps its device or file for the process's life, so a disk plugged
// in between a scan and its recovery moves no letter. A refresh keeps every
// letter already given and adds new devices on free letters.
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

// Looks at the machine's devices again: letters already given keep their
// device; new devices take free letters. Returns the new table.
std::vector<TDriveEntry> RefreshDriveTable();

// A device that may be given a letter.
struct TDeviceCandidate {
    std::string Path;
    bool Ntfs = false;  // its file-system type is known to be NTFS
};

// The letter rule: the fixed entries (LUMBRA_DRIVES) keep theirs, then the
// entries of an earlier resolution keep theirs, then the devices not yet in
// the table take the free letters from C: up, NTFS ones first, each group in
// the order given. Sorted by letter.
std::vector<TDriveEntry> AssignDriveLetters(const std::vector<TDriveEntry>& fixed,
                                            const std::vector<TDriveEntry>& kept,
                                            const std::vector<TDeviceCandidate>& devices);

// Bit i set for each drive letter 'A' + i that exists.
std::uint32_t GetLogicalDrivesMask();

// Whether text is a drive string: one letter and a colon ("d:" too).
bool IsDriveString(const std::string& text);

// What a letter stands for is the drive table's entry split by the disks'
// partition tables, which this layer cannot read: scan/drive_letters.h
// resolves letters.

// The label of the file system in a device or image (Windows: the raw device
// of a drive, "\\.\D:"), as the system tells it; empty text when there is
// none or it cannot be told. UTF-8.
std::string GetVolumeLabelOfPath(const std::string& path);

}  // namespace platform
