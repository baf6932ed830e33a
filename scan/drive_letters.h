// SPDX-License-Identifier: GPL-3.0-or-later
// The drive letters the window and the command line offer: the drive table's
// entries, with every entry that names a whole disk (an image or a device
// with an MBR or GPT) split into one letter per NTFS partition.
//
// A partitioned entry's NTFS partitions take letters in table order: the
// first takes the entry's own letter, the others the next letters above it
// that no entry of the table holds and no earlier partition took; a partition
// that finds no letter up to Z: is left out. An entry without a table, or
// whose table holds no NTFS partition, keeps its letter and stands for the
// whole source, as before.
//
// Like the drive table, the split is made once and then kept: a letter given
// to a partition keeps it for the process's life (a refresh, or a disk whose
// table changed, never moves one); only new partitions take free letters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "platform/raw_volume.h"

namespace scan {

struct TDriveLetter {
    char Letter = 'C';                       // upper case
    std::string Path;                        // the device or image the letter opens
    std::optional<std::uint32_t> Partition;  // the partition it stands for, by its number in the table
    char TableLetter = 'C';                  // the drive-table entry it comes from
};

// The NTFS partitions of a source, by number in table order; empty when it
// has no partition table or none of them is NTFS (or it does not open).
using TNtfsPartitionsOf = std::function<std::vector<std::uint32_t>(const std::string& path)>;

// The rule above, pure. `kept` is an earlier split: its letters stay with the
// same entry letter, path and partition wherever those still exist. Sorted
// by letter.
std::vector<TDriveLetter> SplitDriveTable(const std::vector<platform::TDriveEntry>& table,
                                          const TNtfsPartitionsOf& ntfsPartitionsOf,
                                          const std::vector<TDriveLetter>& kept);

// The process's letters over platform::DriveTable(), split once and kept
// (split anew only when the drive table was made anew).
std::vector<TDriveLetter> DriveLetters();
// Refreshes the drive table and the split; no letter already given moves.
// Front ends refresh through here, not through platform::RefreshDriveTable.
std::vector<TDriveLetter> RefreshDriveLetters();
// Bit i set for each letter 'A' + i.
std::uint32_t DriveLettersMask();
// What a drive string ("f:" too) stands for; empty for an unknown letter.
// This is the program's one reading of a letter. When answering was the
// process's first look at the disks behind the letters, the disk this letter
// names was opened for that look; `*opened`, when given, then receives it
// still open (read-only, the whole disk) so that the caller need not open it
// again. Otherwise `*opened` is left as it was.
std::optional<TDriveLetter> ResolveDriveLetter(const std::string& drive,
                                               std::unique_ptr<platform::TRawVolume>* opened = nullptr);

}  // namespace scan
