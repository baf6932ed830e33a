// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/mft_map.h"

#include <algorithm>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/file_record.h"

namespace ntfs {

TMftMap TMftMap::Contiguous(std::uint64_t mftByteOffset, std::uint64_t byteLength) {
    TMftMap map;
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

std::optional<TDynamicCharArray> ReadMftRecord(const TMftMap& map, platform::TRawVolume& volume,
                                               std::uint64_t n, const TDISK_INFORMATION& geometry) {
    const auto offset = MulChecked(n, geometry.BytesPerFileRecord);
    if (!offset || geometry.BytesPerFileRecord == 0) return std::nullopt;
    TDynamicCharArray record(geometry.BytesPerFileRecord);
    if (map.Read(volume, *offset, record.Span()) != record.Size()) return std::nullopt;
    if (!ApplyFixups(record.Span(), geometry)) return std::nullopt;
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

TMftLocation LocateMft(platform::TRawVolume& volume, const TDISK_INFORMATION& geometry,
                       std::optional<std::uint64_t> mftByteOffset) {
    TMftLocation location;
    const std::uint32_t recordSize = geometry.BytesPerFileRecord;
    if (!mftByteOffset || recordSize < file_record::kHeaderSize || recordSize > limits::kMaxRecordBytes)
        return location;
    TDynamicCharArray record0(recordSize);
    if (volume.ReadAt(*mftByteOffset, record0.Span()) != record0.Size()) return location;
    if (!ApplyFixups(record0.Span(), geometry)) return location;

    location.Error = TMftLocateError::NoMftData;
    const TByteView data = LocateAttribute(record0.View(), attribute::kData, false);
    if (data.Empty()) return location;
    const auto header = DecodeAttributeHeader(data);
    if (!header) return location;
    const std::uint16_t flags = header->AttributeFlags;
    if (flags == attribute::kFlagCompressed || flags == attribute::kFlagEncrypted ||
        flags == attribute::kFlagSparse) {
        location.Error = TMftLocateError::MftDataFlagged;
        return location;
    }
    location.Layout = BuildMftLayout(volume, record0.Span(), geometry, *mftByteOffset);
    return location;
}

}  // namespace ntfs
