// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a deleted file's bytes are still on the volume.
//
// A deleted file's clusters are free to be reused. Two witnesses tell whether
// they were:
// - the volume's allocation bitmap ($Bitmap, record 6): a cluster marked in
//   use now belongs to some live file (or to the file system itself);
// - the other deleted files: when two of them name the same free cluster, the
//   one written later put its bytes there. Their $STANDARD_INFORMATION
//   modification times decide which; with equal times neither can be trusted,
//   so both lose the cluster.
// A cluster counts once: as in use, or else as lost to a newer file.
//
// Claims are kept as cluster ranges and compared by one sweep over them in
// cluster order, so memory grows with the number of runs, never with the
// number of clusters; the bitmap is read in chunks, forward, only where some
// row has a claim.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/byte_view.h"
#include "ntfs/mft_map.h"
#include "platform/raw_volume.h"

namespace scan {

enum class TVerdict {
    Unknown,      // the bitmap or the run list could not be read soundly
    Intact,       // no cluster is in use or lost
    Partial,      // some are
    Overwritten,  // all are
};

// "intact", "partial", "overwritten", "unknown".
const char* VerdictText(TVerdict verdict);

struct TRecoverability {
    TVerdict Verdict = TVerdict::Unknown;
    std::uint64_t Clusters = 0;     // clusters the unnamed $DATA's runs name, sparse runs left out
    std::uint64_t InUse = 0;        // of those, marked in use in the bitmap
    std::uint64_t LostToNewer = 0;  // of the rest, named by a deleted file modified later
};

// The verdict in words, for a tooltip or a line of output: "intact",
// "partial: 3 of 49 clusters now belong to other files", ...
std::string VerdictSentence(const TRecoverability& r);

struct TClusterRange {
    std::uint64_t First = 0;
    std::uint64_t Count = 0;
};

// What one row's $DATA attribute claims.
struct TDataClaim {
    bool Resident = false;
    // The run list decoded whole, every run lies inside the volume, and the
    // runs cover the data size. Otherwise only the runs before the fault are
    // in Ranges and no verdict is given.
    bool Sound = false;
    std::vector<TClusterRange> Ranges;  // non-sparse runs, in file order
};

// Decodes the claim of a $DATA attribute image. clusterCount: the clusters of
// the volume; a run reaching past it makes the claim unsound.
TDataClaim ClaimOf(ntfs::TByteView dataAttribute, std::uint32_t bytesPerCluster, std::uint64_t clusterCount);

// The volume's allocation bitmap, read through its run list in chunks.
class TClusterBitmap {
public:
    // From the $Bitmap record (record 6, fixed up): its unnamed $DATA's runs
    // and size. Empty when that attribute cannot be decoded soundly.
    static std::optional<TClusterBitmap> FromRecord(ntfs::TByteView record, std::uint32_t bytesPerCluster);

    // Clusters the bitmap describes (8 per byte of its data).
    std::uint64_t ClusterCount() const { return m_bytes * 8; }

    // Set bits in [first, first + count); empty when a read fails or the
    // range reaches past the bitmap. Cheapest when called in increasing order.
    std::optional<std::uint64_t> CountInUse(platform::TRawVolume& volume, std::uint64_t first,
                                            std::uint64_t count);

    static constexpr std::size_t kChunkBytes = 256u << 10;

private:
    TClusterBitmap(ntfs::TMftMap map, std::uint64_t bytes) : m_map(std::move(map)), m_bytes(bytes) {}
    bool Load(platform::TRawVolume& volume, std::uint64_t chunk);

    ntfs::TMftMap m_map;  // the bitmap's bytes on the volume (a file's run map)
    std::uint64_t m_bytes = 0;
    std::vector<std::uint8_t> m_chunk;
    std::uint64_t m_chunkIndex = UINT64_MAX;
    bool m_chunkValid = false;
};

// One row's claim with the time that orders it against the others.
struct TRowClaim {
    std::uint64_t ModificationTime = 0;
    TDataClaim Claim;
};

// The verdict of every row, in order. bitmap null: it could not be read, so
// every non-resident row is unknown (its cluster count still given).
std::vector<TRecoverability> Judge(const std::vector<TRowClaim>& rows, TClusterBitmap* bitmap,
                                   platform::TRawVolume& volume);

}  // namespace scan
