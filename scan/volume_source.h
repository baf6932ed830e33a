// SPDX-License-Identifier: GPL-3.0-or-later
// Opening what the user named as the volume to scan or recover from: a
// drive, an image file or a device, which may be a whole disk whose
// partition table holds the NTFS volumes. Front ends open every source
// through here, so that a scan and the recovery of its rows read the same
// bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/partition_table.h"
#include "platform/raw_volume.h"

namespace scan {

struct TPartitionInfo {
    ntfs::TPartition Partition;
    bool Ntfs = false;  // its boot sector's OEM identifier is "NTFS"
};

// The table of the source, with each partition probed; Kind None for a
// volume without a table.
struct TSourceLayout {
    ntfs::TTableKind Kind = ntfs::TTableKind::None;
    std::vector<TPartitionInfo> Partitions;
};

enum class TSourceError {
    None,
    DidNotOpen,       // the device or image does not open
    NoSuchPartition,  // --partition names no partition of the table (or there is no table)
    NoNtfsPartition,  // a table without an NTFS partition
    SeveralNtfs,      // several NTFS partitions and none chosen
};

struct TOpenedSource {
    std::unique_ptr<platform::TRawVolume> Volume;  // the volume to read; empty on an error
    TSourceError Error = TSourceError::None;
    TSourceLayout Layout;                    // what the source's table holds
    std::optional<std::uint32_t> Partition;  // the partition used, by its number in the table
    std::uint64_t StartByte = 0;             // where the volume starts within the source
    std::string Description;                 // the source, and the partition when one is used
};

TSourceLayout ReadSourceLayout(platform::TRawVolume& disk);

// Opens `source` read-only. A source with a partition table yields the
// partition numbered `partition`, or without one its only NTFS partition; a
// source without a table is the volume itself (and `partition` an error). A
// drive string opens what its letter stands for (scan/drive_letters.h),
// with the letter's partition unless `partition` names another.
TOpenedSource OpenSource(const std::string& source, std::optional<std::uint32_t> partition);
// The same for a volume already open (tests).
TOpenedSource OpenSource(std::unique_ptr<platform::TRawVolume> disk, const std::string& description,
                         std::optional<std::uint32_t> partition);

// One line per partition: number, start byte, size, type, and whether it is NTFS.
std::string PartitionLine(const TPartitionInfo& info);
// Short English text for an error.
std::string SourceErrorText(TSourceError error);

}  // namespace scan
