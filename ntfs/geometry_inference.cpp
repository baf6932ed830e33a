// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/geometry_inference.h"

#include <algorithm>

namespace ntfs {

std::optional<std::uint64_t> TInferredVolume::ClusterByte(std::uint64_t lcn) const {
    const auto into = MulChecked(lcn, BytesPerCluster);
    if (!into) return std::nullopt;
    return AddChecked(StartByte, *into);
}

namespace {

bool FoundAt(std::span<const TRecordPlace> places, std::uint64_t byteOffset, std::uint32_t self) {
    const auto it = std::lower_bound(places.begin(), places.end(), TRecordPlace{byteOffset, 0});
    for (auto i = it; i != places.end() && i->ByteOffset == byteOffset; ++i)
        if (i->SelfNumber == self) return true;
    return false;
}

bool BootAt(std::span<const TFoundBootSector> boots, std::uint64_t byteOffset) {
    return std::any_of(boots.begin(), boots.end(),
                       [&](const TFoundBootSector& b) { return b.ByteOffset == byteOffset; });
}

// The volume a boot sector describes if it lies at the volume's start.
std::optional<TInferredVolume> FromBoot(const TFoundBootSector& found, std::uint64_t start,
                                        TGeometrySource source) {
    const TDISK_INFORMATION g = DeriveGeometry(found.Boot);
    if (g.BytesPerCluster < geometry_inference::kMinCluster ||
        g.BytesPerCluster > geometry_inference::kMaxCluster || g.BytesPerFileRecord == 0 ||
        g.BytesPerFileRecord > limits::kMaxRecordBytes)
        return std::nullopt;
    // Every NTFS cluster and record is a power of two bytes; a sector size
    // such as 0x5454 from stray bytes that merely look like a boot sector is not.
    const auto powerOfTwo = [](std::uint32_t n) { return (n & (n - 1)) == 0; };
    if (!powerOfTwo(g.BytesPerCluster) || !powerOfTwo(g.BytesPerFileRecord)) return std::nullopt;
    const auto bytes = MulChecked(found.Boot.TotalSectors, found.Boot.BytesPerSector);
    if (!bytes) return std::nullopt;
    TInferredVolume v;
    v.StartByte = start;
    v.Bytes = *bytes;
    v.BytesPerCluster = g.BytesPerCluster;
    v.BytesPerFileRecord = g.BytesPerFileRecord;
    v.MftLcn = found.Boot.MftStartLcn;
    v.MirrorLcn = found.Boot.MftMirrStartLcn;
    v.SerialNumber = found.Boot.VolumeSerialNumber;
    v.Source = source;
    return v;
}

// Findings that agree with a volume: its record 0 (at its MFT or in its
// mirror) and the other copy of its boot sector.
unsigned Confirmations(const TInferredVolume& v, std::span<const TFoundBootSector> boots,
                       std::span<const TRecordPlace> places) {
    unsigned n = 0;
    if (const auto mft = v.MftByte(); mft && FoundAt(places, *mft, 0)) ++n;
    if (v.MirrorLcn != 0)
        if (const auto mirror = v.ClusterByte(v.MirrorLcn); mirror && FoundAt(places, *mirror, 0)) ++n;
    if (v.Source == TGeometrySource::BootSector && v.Bytes != 0) {
        if (const auto backup = AddChecked(v.StartByte, v.Bytes); backup && BootAt(boots, *backup)) ++n;
    }
    if (v.Source == TGeometrySource::BackupBootSector && BootAt(boots, v.StartByte)) ++n;
    return n;
}

// The best reading of one record 0: the cluster size, and whether it was
// found at its MFT or as the copy in $MFTMirr, that most findings confirm
// (on a tie the larger evidence of a boot sector, then the MFT's own place,
// then 4 KiB, the size most volumes have). The mirror's reading matters
// after a quick format with another cluster size: the new MFT often lies
// over the old one's first records, and the copy in the old mirror is the
// old volume's only record 0 left.
std::optional<TInferredVolume> FromRecord0(const TFoundMftRecord0& r, std::span<const TFoundBootSector> boots,
                                           std::span<const TRecordPlace> places) {
    if (r.MftRuns.empty() || r.MftRuns.front().Vcn != 0 || r.MftRuns.front().Sparse ||
        r.MftRuns.front().Lcn < 0)
        return std::nullopt;
    const auto lcn = static_cast<std::uint64_t>(r.MftRuns.front().Lcn);
    std::optional<TInferredVolume> best;
    int bestScore = -1;
    for (const bool atMirror : {false, true}) {
        if (atMirror && r.MirrorLcn == 0) continue;
        // The cluster the record lies at, and the one its other copy would.
        const std::uint64_t here = atMirror ? r.MirrorLcn : lcn;
        const std::uint64_t other = atMirror ? lcn : r.MirrorLcn;
        for (std::uint64_t c = geometry_inference::kMinCluster; c <= geometry_inference::kMaxCluster;
             c *= 2) {
            const auto into = MulChecked(here, c);
            if (!into || *into > r.ByteOffset) continue;
            TInferredVolume v;
            v.StartByte = r.ByteOffset - *into;
            v.BytesPerCluster = static_cast<std::uint32_t>(c);
            v.BytesPerFileRecord = r.RecordSize;
            v.MftLcn = lcn;
            v.MirrorLcn = r.MirrorLcn;
            v.Source = TGeometrySource::MftRecord0;
            v.MftRuns = r.MftRuns;
            // Read as the mirror's copy, the MFT it names may lie past 64 bits.
            if (!v.MftByte()) continue;
            int score = 0;
            if (BootAt(boots, v.StartByte)) score += 4;
            if (other != 0)
                if (const auto copy = v.ClusterByte(other); copy && FoundAt(places, *copy, 0)) score += 2;
            // Records in the MFT's later runs carry the numbers their VCN gives.
            for (std::size_t i = 1; i < r.MftRuns.size() && i < 8; ++i) {
                const TDataRun& run = r.MftRuns[i];
                if (run.Sparse || run.Lcn < 0 || r.RecordSize == 0) continue;
                const auto at = v.ClusterByte(static_cast<std::uint64_t>(run.Lcn));
                const auto vcnByte = MulChecked(run.Vcn, c);
                if (!at || !vcnByte || *vcnByte / r.RecordSize > UINT32_MAX) continue;
                if (FoundAt(places, *at, static_cast<std::uint32_t>(*vcnByte / r.RecordSize))) score += 2;
            }
            // The tie-breakers, each worth less than any finding: the MFT's
            // own place before the mirror's, then 4 KiB.
            score *= 4;
            if (!atMirror) score += 2;
            if (c == 4096) score += 1;
            if (score > bestScore) {
                bestScore = score;
                v.Evidence = static_cast<unsigned>(score / 8);
                best = v;
            }
        }
    }
    return best;
}

}  // namespace

std::optional<TInferredVolume> VolumeAtBootSector(const TFoundBootSector& found) {
    return FromBoot(found, found.ByteOffset, TGeometrySource::BootSector);
}

std::vector<TInferredVolume> InferVolumes(std::span<const TFoundBootSector> boots,
                                          std::span<const TFoundMftRecord0> records0,
                                          std::span<const TRecordPlace> places) {
    std::vector<TInferredVolume> volumes;
    const auto known = [&](const TInferredVolume& n) {
        return std::any_of(volumes.begin(), volumes.end(), [&](const TInferredVolume& v) {
            return v.StartByte == n.StartByte && v.BytesPerCluster == n.BytesPerCluster &&
                   v.MftLcn == n.MftLcn;
        });
    };
    // Each boot sector read as the first sector, then as the last: the
    // reading with more confirmations wins, the first on a tie.
    for (const TFoundBootSector& b : boots) {
        std::optional<TInferredVolume> asFirst = FromBoot(b, b.ByteOffset, TGeometrySource::BootSector);
        std::optional<TInferredVolume> asLast;
        const auto back = MulChecked(b.Boot.TotalSectors, b.Boot.BytesPerSector);
        if (back && *back <= b.ByteOffset)
            asLast = FromBoot(b, b.ByteOffset - *back, TGeometrySource::BackupBootSector);
        if (asFirst) asFirst->Evidence = Confirmations(*asFirst, boots, places);
        if (asLast) asLast->Evidence = Confirmations(*asLast, boots, places);
        std::optional<TInferredVolume> pick = asFirst;
        if (asLast && (!pick || asLast->Evidence > pick->Evidence)) pick = asLast;
        if (!pick || known(*pick)) continue;
        for (const TFoundMftRecord0& r : records0)
            if (pick->MftByte() == r.ByteOffset) pick->MftRuns = r.MftRuns;
        volumes.push_back(*pick);
    }
    // Each record 0 read at its best; the best-confirmed readings first, so
    // that a record 0 at its MFT's place is taken before its mirror copy,
    // which would read as the same volume at a false start. A record 0 that
    // a volume already taken accounts for (its MFT or its mirror) adds none.
    std::vector<TInferredVolume> inferred;
    for (const TFoundMftRecord0& r : records0)
        if (auto v = FromRecord0(r, boots, places)) inferred.push_back(*v);
    std::stable_sort(
        inferred.begin(), inferred.end(),
        [](const TInferredVolume& a, const TInferredVolume& b) { return a.Evidence > b.Evidence; });
    for (const TInferredVolume& v : inferred) {
        const auto mft = v.MftByte();
        const bool accounted = std::any_of(volumes.begin(), volumes.end(), [&](const TInferredVolume& w) {
            // A volume with other clusters whose MFT lies at the same byte is
            // the new file system of a quick format, not this one.
            if (w.StartByte == v.StartByte && w.BytesPerCluster != v.BytesPerCluster) return false;
            return w.MftByte() == mft || (w.MirrorLcn != 0 && w.ClusterByte(w.MirrorLcn) == mft);
        });
        if (!accounted && !known(v)) volumes.push_back(v);
    }
    std::stable_sort(volumes.begin(), volumes.end(), [](const TInferredVolume& a, const TInferredVolume& b) {
        return a.StartByte < b.StartByte;
    });
    return volumes;
}

std::size_t VolumeOf(std::span<const TInferredVolume> volumes, std::uint64_t byteOffset) {
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const TInferredVolume& v = volumes[i];
        for (const TDataRun& run : v.MftRuns) {
            if (run.Sparse || run.Lcn < 0) continue;
            const auto first = v.ClusterByte(static_cast<std::uint64_t>(run.Lcn));
            const auto length = MulChecked(run.Length, v.BytesPerCluster);
            if (first && length && byteOffset >= *first && byteOffset - *first < *length) return i;
        }
    }
    auto it = std::upper_bound(volumes.begin(), volumes.end(), byteOffset,
                               [](std::uint64_t at, const TInferredVolume& v) { return at < v.StartByte; });
    while (it != volumes.begin()) {
        --it;
        if (it->Bytes == 0 || byteOffset - it->StartByte < it->Bytes)
            return static_cast<std::size_t>(it - volumes.begin());
    }
    return volumes.size();
}

}  // namespace ntfs
