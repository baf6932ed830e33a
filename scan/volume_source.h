// SPDX-License-Identifier: GPL-3.0-or-later
// Opening what the user named as the volume to scan or recover from: a
// drive, an image file or a device, which may be a whole disk whose
// partition table holds the NTFS volumes.
//
// This is the program's one way to a source: the scan session, the drive
// probe, the drive letters' look at the disks, the recovery run and the
// command line all open through here, and nothing else opens a device or an
// image. A scan opens its source once: the volume opened here is the one the
// engine walks, and its label is read from it. New kinds of source (a
// container image, the whole of a disk) come in as fields of TSourceRequest
// with defaults that keep what callers get today.
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
    DidNotOpen,       // the device or image does not open (TOpenedSource::OpenFailure says why)
    NoSuchPartition,  // --partition names no partition of the table (or there is no table)
    NoNtfsPartition,  // a table without an NTFS partition
    SeveralNtfs,      // several NTFS partitions and none chosen
};

// What a source had to be read as, when no partition is named for it.
enum class TSourceScope {
    // One NTFS volume: a source with a table yields its only NTFS partition;
    // one without a table is the volume itself.
    OneVolume,
    // The source as it lies, from its first byte, table or not (the probe of
    // a drive, which must see the disk's own first sector).
    AsItIs,
};

struct TSourceRequest {
    // A drive string ("D:", resolved through scan/drive_letters.h), or the
    // path of an image file or device.
    std::string Name;
    // A partition of the source's table, by its number there. It wins over
    // the partition a drive letter stands for; a source without a table has
    // none to give.
    std::optional<std::uint32_t> Partition;
    TSourceScope Scope = TSourceScope::OneVolume;
    // Read the volume's label (it costs a few reads of the volume).
    bool ReadLabel = false;
    // An already open volume (tests, fuzzing): read instead of opening Name,
    // and taken as the volume itself (no table is looked for in it).
    std::shared_ptr<platform::TRawVolume> Volume;
};

// Where the volume that was opened lies: what the user named, and the
// device or image file that name stood for at that moment.
struct TScanSource {
    std::string Drive;            // a drive string ("D:") or a path, as given
    std::string Resolved;         // the device or image file that was opened
    std::uint64_t StartByte = 0;  // where the volume starts within Resolved (a partition of a disk image)
    std::uint64_t Length = 0;     // the partition's bytes; 0: the volume runs to the end of Resolved
    std::optional<std::uint32_t> Partition;  // the partition used, by its number in the table
    // An already open volume the opener was given (tests, fuzzing): a
    // recovery reads it instead of opening Resolved.
    std::shared_ptr<platform::TRawVolume> Given;
};

struct TOpenedSource {
    std::unique_ptr<platform::TRawVolume> Volume;  // read-only; empty on an error
    TSourceError Error = TSourceError::None;
    // Error DidNotOpen: why, as the platform told it (a drive string the
    // letters do not know is Kind NoSuchDrive).
    std::optional<platform::TOpenFailure> OpenFailure;
    TScanSource Source;       // filled as far as the opening got
    TSourceLayout Layout;     // what the source's table holds
    std::string Description;  // the source, and the partition when one is used
    // UTF-8, when asked for: an NTFS volume's own label (its $Volume), else
    // what the system's probe of the whole source says; empty when none.
    std::string Label;
};

// Opens a source read-only, once: the volume to read, and what was learnt
// on the way. A source with a partition table yields the partition named
// (by the request or by the drive letter), else as the scope says; naming a
// partition of a source without a table is an error.
TOpenedSource OpenSource(const TSourceRequest& request);
// The volume a scan read, opened again (a recovery): the device or image it
// was resolved to, whatever the drive letters say by now, and the same
// stretch of it; no table is read. A source given open is served again.
TOpenedSource OpenSource(const TScanSource& scanned);

TSourceLayout ReadSourceLayout(platform::TRawVolume& disk);

// One line per partition: number, start byte, size, type, and whether it is NTFS.
std::string PartitionLine(const TPartitionInfo& info);
// Short English text for an error.
std::string SourceErrorText(TSourceError error);

}  // namespace scan
