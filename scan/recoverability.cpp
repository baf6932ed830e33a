// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/recoverability.h"

#include <algorithm>
#include <bit>
#include <queue>
#include <set>

#include "ntfs/attribute.h"
#include "ntfs/data_runs.h"

namespace scan {

const char* VerdictText(TVerdict verdict) {
    switch (verdict) {
        case TVerdict::Intact:
            return "intact";
        case TVerdict::Partial:
            return "partial";
        case TVerdict::Overwritten:
            return "overwritten";
        case TVerdict::Unknown:
            break;
    }
    return "unknown";
}

std::string VerdictSentence(const TRecoverability& r) {
    const std::string lost = std::to_string(r.InUse + r.LostToNewer) + " of " + std::to_string(r.Clusters) +
                             " clusters now belong to other files";
    switch (r.Verdict) {
        case TVerdict::Intact:
            return "intact";
        case TVerdict::Partial:
            return "partial: " + lost;
        case TVerdict::Overwritten:
            return "overwritten: " + lost;
        case TVerdict::Unknown:
            break;
    }
    return "unknown: the cluster bitmap or the run list cannot be read soundly";
}

namespace {

// The decoded header and runs of an unnamed non-resident attribute; empty
// when the header is cut short, the attribute is named or resident.
struct TNonResidentRuns {
    ntfs::TNONRESIDENT_ATTRIBUTE Header;
    ntfs::TRunList Runs;
};

std::optional<TNonResidentRuns> DecodeRuns(ntfs::TByteView attribute) {
    const auto nameLength = attribute.U8(ntfs::attribute::kNameLength);
    const auto header = ntfs::DecodeNonResident(attribute);
    if (!nameLength || *nameLength != 0 || !header) return std::nullopt;
    TNonResidentRuns out{*header, {}};
    out.Runs = ntfs::DecodeRunList(attribute.Sub(header->RunListOffset, attribute.Size()));
    return out;
}

}  // namespace

TDataClaim ClaimOf(ntfs::TByteView dataAttribute, std::uint32_t bytesPerCluster, std::uint64_t clusterCount) {
    TDataClaim claim;
    const auto header = ntfs::DecodeAttributeHeader(dataAttribute);
    if (!header) return claim;
    if (header->NonResident != 1) {
        claim.Resident = true;
        claim.Sound = true;
        return claim;
    }
    const auto decoded = DecodeRuns(dataAttribute);
    // Runs that begin past VCN 0 are a later piece of an attribute list's
    // $DATA: the clusters before them are not named here.
    if (!decoded || decoded->Header.StartingVcn != 0 || bytesPerCluster == 0) return claim;
    bool sound = !decoded->Runs.Truncated;
    std::uint64_t vcns = 0;
    for (const ntfs::TDataRun& run : decoded->Runs.Runs) {
        vcns = run.Vcn + run.Length;
        if (run.Sparse || run.Length == 0) continue;
        const auto end = ntfs::AddChecked(static_cast<std::uint64_t>(run.Lcn), run.Length);
        if (run.Lcn < 0 || !end || *end > clusterCount) {
            sound = false;
            break;
        }
        claim.Ranges.push_back({static_cast<std::uint64_t>(run.Lcn), run.Length});
    }
    // Runs that end before the data does leave clusters nobody named here.
    const auto covered = ntfs::MulChecked(vcns, bytesPerCluster);
    const std::int64_t dataSize = decoded->Header.DataSize;
    if (dataSize < 0 || (covered && *covered < static_cast<std::uint64_t>(dataSize))) sound = false;
    claim.Sound = sound;
    return claim;
}

std::optional<TClusterBitmap> TClusterBitmap::FromRecord(ntfs::TByteView record,
                                                         std::uint32_t bytesPerCluster) {
    const ntfs::TByteView data = ntfs::LocateAttribute(record, ntfs::attribute::kData, false);
    const auto kind = data.U8(ntfs::attribute::kNonResident);
    if (!kind || *kind != 1) return std::nullopt;
    const auto decoded = DecodeRuns(data);
    if (!decoded || decoded->Runs.Truncated || decoded->Header.StartingVcn != 0 ||
        decoded->Header.DataSize < 0)
        return std::nullopt;
    auto map = ntfs::TMftMap::FromRuns(decoded->Runs.Runs, bytesPerCluster);
    const auto bytes = static_cast<std::uint64_t>(decoded->Header.DataSize);
    if (!map || map->ByteLength() < bytes || bytes > UINT64_MAX / 8) return std::nullopt;
    return TClusterBitmap(std::move(*map), bytes);
}

bool TClusterBitmap::Load(platform::TRawVolume& volume, std::uint64_t chunk) {
    if (chunk == m_chunkIndex) return m_chunkValid;
    m_chunkIndex = chunk;
    const std::uint64_t offset = chunk * kChunkBytes;
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, m_bytes - offset));
    m_chunk.resize(size);
    m_chunkValid = m_map.Read(volume, offset, m_chunk) == size;
    return m_chunkValid;
}

std::optional<std::uint64_t> TClusterBitmap::CountInUse(platform::TRawVolume& volume, std::uint64_t first,
                                                        std::uint64_t count) {
    const auto end = ntfs::AddChecked(first, count);
    if (!end || *end > ClusterCount()) return std::nullopt;
    std::uint64_t set = 0;
    std::uint64_t bit = first;
    while (bit < *end) {
        const std::uint64_t byte = bit / 8;
        if (!Load(volume, byte / kChunkBytes)) return std::nullopt;
        const std::uint64_t chunkStart = m_chunkIndex * kChunkBytes;
        // Whole bytes inside this chunk, after any leading part byte.
        if (bit % 8 == 0 && *end - bit >= 8) {
            const std::uint64_t chunkEnd = chunkStart + m_chunk.size();
            const std::uint64_t last = std::min(chunkEnd, *end / 8);
            for (std::uint64_t b = byte; b < last; ++b) set += std::popcount(m_chunk[b - chunkStart]);
            bit = last * 8;
            continue;
        }
        set += (m_chunk[byte - chunkStart] >> (bit % 8)) & 1u;
        ++bit;
    }
    return set;
}

std::vector<TRecoverability> Judge(const std::vector<TRowClaim>& rows, TClusterBitmap* bitmap,
                                   platform::TRawVolume& volume) {
    struct TInterval {
        std::uint64_t First = 0;
        std::uint64_t End = 0;
        std::size_t Row = 0;
        // Sums of the sweep's counters when the interval began.
        std::uint64_t InUseAtStart = 0;
        std::uint64_t ContestedAtStart = 0;
        std::uint64_t FailedAtStart = 0;
        std::uint64_t Won = 0;  // contested free clusters where this was the one newest claim
    };
    std::vector<TInterval> intervals;
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (const TClusterRange& range : rows[r].Claim.Ranges)
            intervals.push_back({range.First, range.First + range.Count, r});
    std::sort(intervals.begin(), intervals.end(),
              [](const TInterval& a, const TInterval& b) { return a.First < b.First; });

    std::vector<TRecoverability> out(rows.size());
    std::vector<bool> failed(rows.size(), false);
    // One pass over the cluster axis: between two consecutive interval
    // boundaries the set of claims is constant, so each stretch is counted
    // once in the bitmap and judged once, whatever the number of claims.
    using TEnd = std::pair<std::uint64_t, std::size_t>;
    std::priority_queue<TEnd, std::vector<TEnd>, std::greater<>> ends;
    std::set<std::pair<std::uint64_t, std::size_t>> active;  // (modification time, interval)
    std::uint64_t inUse = 0, contested = 0, failures = 0;
    std::uint64_t pos = 0;
    std::size_t next = 0;
    while (next < intervals.size() || !ends.empty()) {
        std::uint64_t boundary = next < intervals.size() ? intervals[next].First : UINT64_MAX;
        if (!ends.empty()) boundary = std::min(boundary, ends.top().first);
        if (!active.empty() && pos < boundary) {
            const std::uint64_t length = boundary - pos;
            std::optional<std::uint64_t> used;
            if (bitmap) used = bitmap->CountInUse(volume, pos, length);
            if (!used) ++failures;
            inUse += used.value_or(0);
            if (active.size() >= 2) {
                const std::uint64_t free = length - used.value_or(0);
                contested += free;
                const auto newest = std::prev(active.end());
                if (std::prev(newest)->first < newest->first) intervals[newest->second].Won += free;
            }
        }
        pos = boundary;
        while (!ends.empty() && ends.top().first == pos) {
            TInterval& iv = intervals[ends.top().second];
            TRecoverability& row = out[iv.Row];
            row.Clusters += iv.End - iv.First;
            row.InUse += inUse - iv.InUseAtStart;
            row.LostToNewer += contested - iv.ContestedAtStart - iv.Won;
            if (failures != iv.FailedAtStart) failed[iv.Row] = true;
            active.erase({rows[iv.Row].ModificationTime, ends.top().second});
            ends.pop();
        }
        while (next < intervals.size() && intervals[next].First == pos) {
            TInterval& iv = intervals[next];
            iv.InUseAtStart = inUse;
            iv.ContestedAtStart = contested;
            iv.FailedAtStart = failures;
            active.insert({rows[iv.Row].ModificationTime, next});
            ends.push({iv.End, next});
            ++next;
        }
    }

    for (std::size_t r = 0; r < rows.size(); ++r) {
        TRecoverability& v = out[r];
        const TDataClaim& claim = rows[r].Claim;
        if (claim.Resident) {
            v = {TVerdict::Intact, 0, 0, 0};
        } else if (!claim.Sound || failed[r] || (!bitmap && v.Clusters > 0)) {
            v.Verdict = TVerdict::Unknown;
        } else if (v.InUse + v.LostToNewer == 0) {
            v.Verdict = TVerdict::Intact;
        } else {
            v.Verdict = v.InUse + v.LostToNewer >= v.Clusters ? TVerdict::Overwritten : TVerdict::Partial;
        }
    }
    return out;
}

}  // namespace scan
