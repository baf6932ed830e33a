// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/row_details.h"

#include <optional>

#include "ntfs/attribute.h"

namespace scan {

namespace {
constexpr std::uint64_t kBitmapRecord = 6;
}

std::uint64_t VolumeClusterCount(std::uint64_t totalSectors, std::uint32_t bytesPerSector,
                                 std::uint32_t bytesPerCluster) {
    const auto bytes = ntfs::MulChecked(totalSectors, bytesPerSector);
    if (!bytes || bytesPerCluster == 0) return UINT64_MAX;
    return *bytes / bytesPerCluster;
}

TRowDetailsCollector::TRowDetailsCollector(const ntfs::TDISK_INFORMATION& geometry,
                                           std::uint64_t clusterCount)
    : m_geometry(geometry), m_clusterCount(clusterCount) {}

TRowNote RowNoteOf(ntfs::TByteView nameAttribute, ntfs::TByteView dataAttribute,
                   std::uint64_t modificationTime, std::uint32_t bytesPerCluster,
                   std::uint64_t clusterCount) {
    return TRowNote{ParentReferenceOf(nameAttribute),
                    TRowClaim{modificationTime, ClaimOf(dataAttribute, bytesPerCluster, clusterCount)}};
}

void TRowDetailsCollector::NoteRow(TRowNote&& note, const std::string& nameText) {
    TRow row;
    row.HasParent = note.ParentReference.has_value();
    row.ParentReference = note.ParentReference.value_or(0);
    row.Name = nameText;
    m_rows.push_back(std::move(row));

    TRowClaim claim = std::move(note.Claim);
    if (m_ranges + claim.Claim.Ranges.size() > kMaxRanges) {
        claim.Claim.Ranges.clear();
        claim.Claim.Sound = false;
    }
    m_ranges += claim.Claim.Ranges.size();
    m_claims.push_back(std::move(claim));
}

void TRowDetailsCollector::Resolve(platform::TRawVolume& volume, const ntfs::TMftMap& mft,
                                   const std::function<void(std::size_t, TRowDetails&&)>& give) {
    if (m_rows.empty()) return;
    m_directories.Link();
    std::optional<TClusterBitmap> bitmap;
    if (const auto record = ntfs::ReadMftRecord(mft, volume, kBitmapRecord, m_geometry))
        bitmap = TClusterBitmap::FromRecord(record->View(), m_geometry.BytesPerCluster);
    std::vector<TRecoverability> verdicts = Judge(m_claims, bitmap ? &*bitmap : nullptr, volume);
    m_claims.clear();

    // Files of one folder mostly lie next to each other in the MFT.
    std::optional<std::uint64_t> lastParent;
    TOriginalPath last;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        TRowDetails details;
        TOriginalPath path;
        if (!m_rows[i].HasParent) {
            path.Broken = true;
        } else {
            if (lastParent != m_rows[i].ParentReference) {
                last = m_directories.Resolve(m_rows[i].ParentReference);
                lastParent = m_rows[i].ParentReference;
            }
            path = last;
        }
        details.Path = PathText(path, m_rows[i].Name);
        details.Folders = std::move(path.Folders);
        details.PathBroken = path.Broken;
        details.Recoverability = verdicts[i];
        give(i, std::move(details));
    }
}

}  // namespace scan
