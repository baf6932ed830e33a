// SPDX-License-Identifier: GPL-3.0-or-later
// Where the file systems on a disk begin and how large their clusters are,
// from what a pass over the disk found: NTFS boot sectors, and MFT records.
//
// A boot sector gives the geometry outright. It lies in a volume's first
// sector, and a copy in its last; the bytes do not say which of the two was
// found, so each boot sector stands for two volumes, and the one whose MFT
// record 0 (or whose other copy) was found where the boot sector says wins.
//
// With both boot sectors gone, record 0 of an old MFT still knows where its
// MFT began: the first run of its $DATA names cluster L, and the record was
// found at byte X, so the volume began at X - L*C for the cluster size C.
// Every power of two from 512 bytes to 2 MiB is a candidate; the one that
// other evidence confirms is taken: a boot sector at that start (a volume
// reformatted with another cluster size keeps the old MFT's run list), the
// $MFTMirr's copy of record 0 at its cluster, and records of the MFT's later
// runs carrying the numbers their place implies.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"

namespace ntfs {

// An NTFS boot sector found at ByteOffset.
struct TFoundBootSector {
    std::uint64_t ByteOffset = 0;
    TBOOT_SECTOR Boot;
};

// What a found record 0 of some MFT ($MFT, self-number 0) tells.
struct TFoundMftRecord0 {
    std::uint64_t ByteOffset = 0;
    std::uint32_t RecordSize = 0;
    std::vector<TDataRun> MftRuns;  // its unnamed $DATA's runs (VCN order), as far as record 0 holds them
    std::uint64_t MirrorLcn = 0;    // the first cluster of $MFTMirr (record 1's $DATA), 0 when unknown
};

// A found record's place and number, for the checks above.
struct TRecordPlace {
    std::uint64_t ByteOffset = 0;
    std::uint32_t SelfNumber = 0;
    bool operator<(const TRecordPlace& o) const { return ByteOffset < o.ByteOffset; }
};

enum class TGeometrySource : std::uint8_t {
    BootSector,        // the volume's first sector
    BackupBootSector,  // the copy in its last sector
    MftRecord0,        // inferred from a record 0's first run
};

struct TInferredVolume {
    std::uint64_t StartByte = 0;
    std::uint64_t Bytes = 0;  // total sectors' bytes, the backup boot sector just past them; 0: not known
    std::uint32_t BytesPerCluster = 0;
    std::uint32_t BytesPerFileRecord = 0;
    std::uint64_t MftLcn = 0;
    std::uint64_t MirrorLcn = 0;     // 0: not known
    std::uint64_t SerialNumber = 0;  // 0: not known
    TGeometrySource Source = TGeometrySource::BootSector;
    unsigned Evidence = 0;  // how many independent findings agree
    // The runs of its MFT, from the record 0 found at its place (empty when
    // none was): a record within them is this volume's, whichever other
    // file system begins at the same byte.
    std::vector<TDataRun> MftRuns;
    // The byte of the disk where cluster lcn lies; empty when it does not fit.
    std::optional<std::uint64_t> ClusterByte(std::uint64_t lcn) const;
    std::optional<std::uint64_t> MftByte() const { return ClusterByte(MftLcn); }
};

namespace geometry_inference {
constexpr std::uint32_t kMinCluster = 512;
constexpr std::uint32_t kMaxCluster = 2u << 20;
}  // namespace geometry_inference

// The volume a boot sector describes as its first sector; empty when its
// geometry is none an NTFS volume has (a look-alike's stray bytes).
std::optional<TInferredVolume> VolumeAtBootSector(const TFoundBootSector& found);

// The volumes the findings describe, by start. places must be sorted by
// ByteOffset. A volume (start, cluster size, MFT position) is given once,
// however many findings agree on it; a record 0 that lies where a known
// volume keeps its MFT or its mirror adds no volume. A quick format with
// another cluster size gives two volumes at one start: the new one and
// the old one its surviving records belong to.
std::vector<TInferredVolume> InferVolumes(std::span<const TFoundBootSector> boots,
                                          std::span<const TFoundMftRecord0> records0,
                                          std::span<const TRecordPlace> places);

// Which of `volumes` (sorted by StartByte) a record found at byteOffset
// belongs to: the one whose MFT runs hold it, else the last one starting at
// or before it whose known size (if any) covers it; volumes.size() when
// none does.
std::size_t VolumeOf(std::span<const TInferredVolume> volumes, std::uint64_t byteOffset);

}  // namespace ntfs
