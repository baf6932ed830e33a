// SPDX-License-Identifier: GPL-3.0-or-later
// The facts about each row that only the whole walk can tell: the folders it
// was in and whether its clusters survived. The walk hands every record it
// decodes to a TRowDetailsCollector (directories for the path table, rows for
// their parent and their claim on clusters); once the walk is over, Resolve
// reads the volume's bitmap and gives each row its details, in row order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/byte_view.h"
#include "ntfs/mft_map.h"
#include "platform/raw_volume.h"
#include "scan/deleted_file_entry.h"
#include "scan/original_path.h"
#include "scan/recoverability.h"

namespace scan {

// What a row tells the collector: its parent folder and its claim on
// clusters; taken apart so that rows decoded on other threads can be
// noted in walk order.
struct TRowNote {
    std::optional<std::uint64_t> ParentReference;
    TRowClaim Claim;
};

// nameAttribute, dataAttribute: the row's $FILE_NAME and $DATA as the scan
// found them; clusterCount: the volume's clusters.
TRowNote RowNoteOf(ntfs::TByteView nameAttribute, ntfs::TByteView dataAttribute,
                   std::uint64_t modificationTime, std::uint32_t bytesPerCluster, std::uint64_t clusterCount);

class TRowDetailsCollector {
public:
    // clusterCount: the clusters of the volume as its boot sector gives them.
    TRowDetailsCollector(const ntfs::TDISK_INFORMATION& geometry, std::uint64_t clusterCount);
    std::uint64_t ClusterCount() const { return m_clusterCount; }

    // Every directory record of the walk (DirectoryNoteOf), in record order.
    void NoteDirectory(const TDirectoryNote& note) { m_directories.Note(note); }
    // A record that became a row (the next row index), as RowNoteOf took it.
    void NoteRow(TRowNote&& note, const std::string& nameText);

    // After the walk: each row's details, by row index.
    void Resolve(platform::TRawVolume& volume, const ntfs::TMftMap& mft,
                 const std::function<void(std::size_t, TRowDetails&&)>& give);

    // Cluster ranges kept for all rows together; a volume whose deleted
    // records name more (only a crafted one) gets no verdict for the rest.
    static constexpr std::size_t kMaxRanges = std::size_t{1} << 24;

private:
    struct TRow {
        std::uint64_t ParentReference = 0;
        bool HasParent = false;
        std::string Name;
    };

    ntfs::TDISK_INFORMATION m_geometry;
    std::uint64_t m_clusterCount;
    TDirectoryTable m_directories;
    std::vector<TRow> m_rows;
    std::vector<TRowClaim> m_claims;
    std::size_t m_ranges = 0;
};

// The clusters of a volume: total sectors x bytes per sector / bytes per
// cluster; UINT64_MAX when that does not compute.
std::uint64_t VolumeClusterCount(std::uint64_t totalSectors, std::uint32_t bytesPerSector,
                                 std::uint32_t bytesPerCluster);

}  // namespace scan
