// SPDX-License-Identifier: GPL-3.0-or-later
// Where the MFT's records lie on the volume.
//
// The $MFT is a file like any other: on a long-used volume it lies in several
// extents, named by the run list of its own $DATA attribute (and, when that
// list outgrew record 0, by extension records that record 0's $ATTRIBUTE_LIST
// names). Taking the MFT as one stretch from its first cluster would read
// unrelated clusters as records and miss every record of the later extents.
// TMftMap turns "byte p of the MFT" into "byte q of the volume".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "ntfs/dynamic_char_array.h"
#include "platform/raw_volume.h"

namespace ntfs {

struct TMftExtent {
    std::uint64_t MftOffset = 0;     // first byte of the extent within the MFT
    std::uint64_t VolumeOffset = 0;  // where that byte lies on the volume
    std::uint64_t Length = 0;        // bytes
    bool Sparse = false;             // no clusters: reads as zeros (never on a sound volume)
};

class TMftMap {
public:
    TMftMap() = default;

    // The MFT as one stretch of byteLength bytes from mftByteOffset.
    static TMftMap Contiguous(std::uint64_t mftByteOffset, std::uint64_t byteLength);

    // From the runs of the $MFT's $DATA (VCN order). Empty when a run's byte
    // position or length does not fit 64 bits.
    static std::optional<TMftMap> FromRuns(const std::vector<TDataRun>& runs, std::uint32_t bytesPerCluster);

    // The map again from its own extents (a saved catalogue): each after
    // the first must start where the one before it ends, be of some length, lie
    // inside 64 bits and, when sparse, name no volume position. Empty
    // otherwise.
    static std::optional<TMftMap> FromExtents(std::vector<TMftExtent> extents);

    const std::vector<TMftExtent>& Extents() const { return m_extents; }
    std::uint64_t ByteLength() const { return m_length; }
    std::uint64_t RecordCount(std::uint32_t bytesPerFileRecord) const {
        return bytesPerFileRecord == 0 ? 0 : m_length / bytesPerFileRecord;
    }

    // Volume position of byte `mftOffset` of the MFT; empty past its end or
    // inside a sparse extent.
    std::optional<std::uint64_t> VolumeOffset(std::uint64_t mftOffset) const;

    // Reads out.size() bytes of the MFT from mftOffset, across extents where
    // a record straddles two. Bytes of sparse extents or past the end read as
    // zeros; returns the bytes actually read from the volume or zero-filled
    // for sparse extents (less than out.size() means a failed or short read).
    std::size_t Read(platform::TRawVolume& volume, std::uint64_t mftOffset,
                     std::span<std::uint8_t> out) const;

    // Where the $MFTMirr keeps its copy of the first records (empty: no
    // mirror is known); ReadMftRecord turns to it for those records.
    void SetMirror(std::uint64_t byteOffset) { m_mirror = byteOffset; }
    const std::optional<std::uint64_t>& Mirror() const { return m_mirror; }

private:
    std::vector<TMftExtent> m_extents;
    std::uint64_t m_length = 0;
    std::optional<std::uint64_t> m_mirror;
};

// The records the $MFTMirr holds a copy of: $MFT, $MFTMirr, $LogFile, $Volume.
inline constexpr std::uint64_t kMirroredRecords = 4;

// Reads MFT record n through the map and applies its fixups; empty when it
// cannot be read whole or fails them. One of the first kMirroredRecords
// records that cannot be read, fails its fixups or names another record as
// itself is read from the map's mirror instead, when that copy is sound.
std::optional<TDynamicCharArray> ReadMftRecord(const TMftMap& map, platform::TRawVolume& volume,
                                               std::uint64_t n, const TDISK_INFORMATION& geometry);

// How the map of a volume was found.
enum class TMftMapSource {
    RunList,             // record 0's $DATA run list (and its attribute list, if any)
    ContiguousFallback,  // the run list did not decode: one stretch from MftByteOffset
};

struct TMftLayout {
    TMftMap Map;
    TMftMapSource Source = TMftMapSource::RunList;
    std::int64_t StartingVcn = 0;  // of record 0's $DATA
    std::int64_t LastVcn = 0;      // of record 0's $DATA
    std::uint16_t AttributeFlags = 0;
    // Bit n set: record n (of the first kMirroredRecords) was unusable in
    // the MFT and was read from the $MFTMirr.
    std::uint8_t MirroredRecords = 0;
};

// Builds the map from record 0 (already read at mftByteOffset and fixed up).
// Follows record 0's $ATTRIBUTE_LIST to the extension records that hold the
// $MFT's later runs, reading them through the part of the map already known.
// Falls back to the contiguous model (covering LastVcn - StartingVcn + 1
// clusters) when the run list cannot be decoded. Empty when record 0 has no
// $DATA attribute or its header is too short.
std::optional<TMftLayout> BuildMftLayout(platform::TRawVolume& volume, std::span<const std::uint8_t> record0,
                                         const TDISK_INFORMATION& geometry, std::uint64_t mftByteOffset);

// Why the MFT could not be located.
enum class TMftLocateError {
    Record0Unusable,  // no record size or MFT position, record 0 unreadable, or it fails its fixups
    NoMftData,        // record 0 has no usable $DATA attribute
    MftDataFlagged,   // record 0's $DATA is flagged exactly compressed, encrypted or sparse
};

struct TMftLocation {
    std::optional<TMftLayout> Layout;  // set when the MFT was located
    TMftLocateError Error = TMftLocateError::Record0Unusable;
};

// The one way to locate the MFT: reads record 0 at mftByteOffset (the boot
// sector's; empty when it did not fit 64 bits), checks it and builds the
// layout. When record 0 cannot be read, fails its fixups, names another
// record as itself or has no $DATA, its copy at mirrorByteOffset (the boot
// sector's $MFTMirr) is used if that one is sound; the map then reads
// records 1 to 3 from the mirror as well where the MFT's copies fail.
TMftLocation LocateMft(platform::TRawVolume& volume, const TDISK_INFORMATION& geometry,
                       std::optional<std::uint64_t> mftByteOffset,
                       std::optional<std::uint64_t> mirrorByteOffset = std::nullopt);

}  // namespace ntfs
