// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/mft_map.h"

#include <algorithm>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/file_record.h"

namespace ntfs {

TMftMap TMftMap::Contiguous(std::uint64_t mftByteOffset, std::uint64_t byteLength) {
    TMftMap map;
    // An MFT whose end lies past 64 bits (a crafted boot sector's) maps nothing.
    if (!AddChecked(mftByteOffset, byteLength)) return map;
    if (byteLength > 0) map.m_extents.push_back({0, mftByteOffset, byteLength, false});
    map.m_length = byteLength;
    return map;
}

std::optional<TMftMap> TMftMap::FromRuns(const std::vector<TDataRun>& runs, std::uint32_t bytesPerCluster) {
    if (bytesPerCluster == 0) return std::nullopt;
    TMftMap map;
    std::uint64_t nextVcn = runs.empty() ? 0 : runs.front().Vcn;
    // The MFT's own VCNs start at 0; the first run starts wherever it says.
    for (const TDataRun& run : runs) {
        if (run.Length == 0) continue;
        if (run.Vcn < nextVcn) continue;  // overlapping piece of a damaged list
        const auto mftOffset = MulChecked(run.Vcn, bytesPerCluster);
        const auto length = MulChecked(run.Length, bytesPerCluster);
        if (!mftOffset || !length || !AddChecked(*mftOffset, *length)) return std::nullopt;
        if (run.Vcn > nextVcn) {
            // A piece that could not be read: its records read as zeros.
            const std::uint64_t gapStart = nextVcn * bytesPerCluster;
            map.m_extents.push_back({gapStart, 0, *mftOffset - gapStart, true});
        }
        std::uint64_t volumeOffset = 0;
        if (!run.Sparse) {
            if (run.Lcn < 0) return std::nullopt;
            const auto v = MulChecked(static_cast<std::uint64_t>(run.Lcn), bytesPerCluster);
            if (!v || !AddChecked(*v, *length)) return std::nullopt;
            volumeOffset = *v;
        }
        map.m_extents.push_back({*mftOffset, volumeOffset, *length, run.Sparse});
        nextVcn = run.Vcn + run.Length;
        map.m_length = *mftOffset + *length;
    }
    return map;
}

std::optional<TMftMap> TMftMap::FromExtents(std::vector<TMftExtent> extents) {
    TMftMap map;
    // The first extent starts wherever the first run's VCN put it; each
    // later one where the one before it ends.
    if (!extents.empty()) map.m_length = extents.front().MftOffset;
    for (const TMftExtent& e : extents) {
        if (e.MftOffset != map.m_length || e.Length == 0) return std::nullopt;
        if (e.Sparse ? e.VolumeOffset != 0 : !AddChecked(e.VolumeOffset, e.Length)) return std::nullopt;
        const auto end = AddChecked(map.m_length, e.Length);
        if (!end) return std::nullopt;
        map.m_length = *end;
    }
    map.m_extents = std::move(extents);
    return map;
}

std::optional<std::uint64_t> TMftMap::VolumeOffset(std::uint64_t mftOffset) const {
    if (mftOffset >= m_length) return std::nullopt;
    auto it = std::upper_bound(m_extents.begin(), m_extents.end(), mftOffset,
                               [](std::uint64_t pos, const TMftExtent& e) { return pos < e.MftOffset; });
    if (it == m_extents.begin()) return std::nullopt;
    --it;
    if (it->Sparse || mftOffset - it->MftOffset >= it->Length) return std::nullopt;
    return it->VolumeOffset + (mftOffset - it->MftOffset);
}

std::size_t TMftMap::Read(platform::TRawVolume& volume, std::uint64_t mftOffset,
                          std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    auto it = std::upper_bound(m_extents.begin(), m_extents.end(), mftOffset,
                               [](std::uint64_t pos, const TMftExtent& e) { return pos < e.MftOffset; });
    if (it == m_extents.begin()) return 0;
    --it;
    while (done < out.size() && it != m_extents.end()) {
        const std::uint64_t pos = mftOffset + done;
        if (pos < it->MftOffset || pos - it->MftOffset >= it->Length) {
            ++it;
            continue;
        }
        const std::uint64_t into = pos - it->MftOffset;
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size() - done, it->Length - into));
        if (it->Sparse) {
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(done), n, std::uint8_t{0});
        } else if (volume.ReadAt(it->VolumeOffset + into, out.subspan(done, n)) != n) {
            return done;
        }
        done += n;
        ++it;
    }
    return done;
}

namespace {

// Whether a record read at the place of record n is record n: its fixups
// hold and, where the header keeps one, its self-number is n.
bool SoundRecord(std::span<std::uint8_t> image, std::uint64_t n, const TDISK_INFORMATION& geometry) {
    if (!ApplyFixups(image, geometry)) return false;
    const auto self = SelfNumber(TByteView(image.data(), image.size()));
    return !self || *self == (n & 0xFFFFFFFFu);
}

std::optional<TDynamicCharArray> ReadMirrorCopy(platform::TRawVolume& volume, std::uint64_t mirror,
                                                std::uint64_t n, const TDISK_INFORMATION& geometry) {
    const auto offset = AddChecked(mirror, n * geometry.BytesPerFileRecord);
    if (!offset) return std::nullopt;
    TDynamicCharArray record(geometry.BytesPerFileRecord);
    if (volume.ReadAt(*offset, record.Span()) != record.Size()) return std::nullopt;
    if (!SoundRecord(record.Span(), n, geometry)) return std::nullopt;
    return record;
}

}  // namespace

std::optional<TDynamicCharArray> ReadMftRecord(const TMftMap& map, platform::TRawVolume& volume,
                                               std::uint64_t n, const TDISK_INFORMATION& geometry) {
    const auto offset = MulChecked(n, geometry.BytesPerFileRecord);
    if (!offset || geometry.BytesPerFileRecord == 0) return std::nullopt;
    TDynamicCharArray record(geometry.BytesPerFileRecord);
    const bool read = map.Read(volume, *offset, record.Span()) == record.Size();
    if (n >= kMirroredRecords || !map.Mirror()) {
        if (!read || !ApplyFixups(record.Span(), geometry)) return std::nullopt;
        return record;
    }
    // One of the first records: a sound copy in the mirror stands in for a
    // damaged one, and a damaged one is still given when the mirror is no better.
    const bool fixed = read && ApplyFixups(record.Span(), geometry);
    if (fixed) {
        const auto self = SelfNumber(record.View());
        if (!self || *self == n) return record;
    }
    if (auto copy = ReadMirrorCopy(volume, *map.Mirror(), n, geometry)) return copy;
    if (!fixed) return std::nullopt;
    return record;
}

namespace {

// How many times an attribute list may lead to further extension records
// that only the newly found runs can locate.
constexpr int kMaxMapPasses = 4;

TMftMap ContiguousFallback(const TNONRESIDENT_ATTRIBUTE& nr, const TDISK_INFORMATION& geometry,
                           std::uint64_t mftByteOffset) {
    // LastVcn - StartingVcn + 1 clusters: the last cluster holds records too.
    std::uint64_t length = 0;
    if (nr.LastVcn >= nr.StartingVcn) {
        const std::uint64_t clusters =
            static_cast<std::uint64_t>(nr.LastVcn) - static_cast<std::uint64_t>(nr.StartingVcn) + 1;
        length = MulChecked(clusters, geometry.BytesPerCluster).value_or(0);
    }
    return TMftMap::Contiguous(mftByteOffset, length);
}

}  // namespace

std::optional<TMftLayout> BuildMftLayout(platform::TRawVolume& volume, std::span<const std::uint8_t> record0,
                                         const TDISK_INFORMATION& geometry, std::uint64_t mftByteOffset) {
    const TByteView record(record0.data(), record0.size());
    const TDynamicCharArray data = FindAttribute(record, attribute::kData, false);
    const auto header = DecodeAttributeHeader(data.View());
    const auto nr = DecodeNonResident(data.View());
    if (!header || !nr) return std::nullopt;

    TMftLayout layout;
    layout.StartingVcn = nr->StartingVcn;
    layout.LastVcn = nr->LastVcn;
    layout.AttributeFlags = header->AttributeFlags;

    const TRunList own = DecodeRunList(data.View().Sub(nr->RunListOffset, data.Size()),
                                       static_cast<std::uint64_t>(nr->StartingVcn < 0 ? 0 : nr->StartingVcn));
    auto map = header->NonResident == 1 && nr->StartingVcn == 0 && !own.Runs.empty()
                   ? TMftMap::FromRuns(own.Runs, geometry.BytesPerCluster)
                   : std::nullopt;
    // The first extent must be where the boot sector says the MFT starts.
    if (map && map->VolumeOffset(0) != mftByteOffset) map.reset();
    if (!map) {
        layout.Map = ContiguousFallback(*nr, geometry, mftByteOffset);
        layout.Source = TMftMapSource::ContiguousFallback;
        return layout;
    }

    if (!FindAttribute(record, attribute::kAttributeList, false).Empty()) {
        // Extension records are read through the map known so far; a pass
        // may reveal runs that locate further extension records.
        for (int pass = 0; pass < kMaxMapPasses; ++pass) {
            const TMftMap current = *map;
            const TRecordReader reader = [&](std::uint64_t n) {
                return ReadMftRecord(current, volume, n, geometry);
            };
            const TRunList all = CollectDataRuns(volume, record0, data.View(), geometry, reader);
            auto next = TMftMap::FromRuns(all.Runs, geometry.BytesPerCluster);
            if (!next || next->ByteLength() <= map->ByteLength()) break;
            map = std::move(next);
        }
    }
    layout.Map = std::move(*map);
    return layout;
}

namespace {

// Record 0 as read from `offset`, fixed up, when it passes its fixups (and,
// strict, names itself record 0) and has a $DATA.
std::optional<TDynamicCharArray> ReadRecord0(platform::TRawVolume& volume, std::uint64_t offset,
                                             const TDISK_INFORMATION& geometry, bool strict,
                                             TMftLocateError& error) {
    error = TMftLocateError::Record0Unusable;
    TDynamicCharArray record0(geometry.BytesPerFileRecord);
    if (volume.ReadAt(offset, record0.Span()) != record0.Size()) return std::nullopt;
    if (strict ? !SoundRecord(record0.Span(), 0, geometry) : !ApplyFixups(record0.Span(), geometry))
        return std::nullopt;
    error = TMftLocateError::NoMftData;
    const TByteView data = LocateAttribute(record0.View(), attribute::kData, false);
    if (data.Empty() || !DecodeAttributeHeader(data)) return std::nullopt;
    return record0;
}

}  // namespace

TMftLocation LocateMft(platform::TRawVolume& volume, const TDISK_INFORMATION& geometry,
                       std::optional<std::uint64_t> mftByteOffset,
                       std::optional<std::uint64_t> mirrorByteOffset) {
    TMftLocation location;
    const std::uint32_t recordSize = geometry.BytesPerFileRecord;
    if (!mftByteOffset || recordSize < file_record::kHeaderSize || recordSize > limits::kMaxRecordBytes)
        return location;
    // A mirror where the MFT itself lies is no second copy.
    const bool haveMirror = mirrorByteOffset.has_value() && *mirrorByteOffset != *mftByteOffset;
    const std::uint64_t mirror = mirrorByteOffset.value_or(0);
    std::uint8_t mirrored = 0;
    auto record0 = ReadRecord0(volume, *mftByteOffset, geometry, true, location.Error);
    if (!record0 && haveMirror) {
        TMftLocateError mirrorError = TMftLocateError::Record0Unusable;
        record0 = ReadRecord0(volume, mirror, geometry, true, mirrorError);
        if (record0) mirrored = 1;
    }
    // No sound copy anywhere: a record 0 that only misnames itself is still
    // the best there is, as it always was.
    if (!record0) record0 = ReadRecord0(volume, *mftByteOffset, geometry, false, location.Error);
    if (!record0) return location;

    const TByteView data = LocateAttribute(record0->View(), attribute::kData, false);
    const std::uint16_t flags = DecodeAttributeHeader(data)->AttributeFlags;
    if (flags == attribute::kFlagCompressed || flags == attribute::kFlagEncrypted ||
        flags == attribute::kFlagSparse) {
        location.Error = TMftLocateError::MftDataFlagged;
        return location;
    }
    location.Layout = BuildMftLayout(volume, record0->Span(), geometry, *mftByteOffset);
    if (!location.Layout) return location;
    if (haveMirror) {
        TMftMap& map = location.Layout->Map;
        // Which of records 1 to 3 the mirror must stand in for, so that the
        // drive's facts can say so before anything reads them.
        for (std::uint64_t n = 1; n < kMirroredRecords; ++n) {
            TDynamicCharArray record(recordSize);
            if (map.Read(volume, n * recordSize, record.Span()) == record.Size() &&
                SoundRecord(record.Span(), n, geometry))
                continue;
            if (ReadMirrorCopy(volume, mirror, n, geometry))
                mirrored = static_cast<std::uint8_t>(mirrored | (1u << n));
        }
        map.SetMirror(mirror);
    }
    location.Layout->MirroredRecords = mirrored;
    return location;
}

}  // namespace ntfs
