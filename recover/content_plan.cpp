// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/content_plan.h"

#include <algorithm>
#include <optional>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/dynamic_char_array.h"
#include "ntfs/file_record.h"
#include "ntfs/mft_map.h"

namespace recover {

namespace {

constexpr std::size_t kBaseReferenceOffset = 0x20;  // u64: 0 in a base record
constexpr std::size_t kRecordNumberOffset = 0x2C;   // u32: the record's own number

TContentPlan Skip(TRecoverStatus status) {
    TContentPlan plan;
    plan.Result.Status = status;
    return plan;
}

bool UsableGeometry(const ntfs::TDISK_INFORMATION& geometry) {
    return geometry.BytesPerFileRecord >= ntfs::file_record::kHeaderSize &&
           geometry.BytesPerFileRecord <= ntfs::limits::kMaxRecordBytes && geometry.BytesPerCluster != 0 &&
           geometry.BytesPerCluster <= ntfs::limits::kMaxClusterBytes;
}

// The runs of a $DATA whose record has an attribute list: the base record's
// own runs joined with those its extension records hold. With no MFT map,
// the base record's runs alone (the rest stays zeros).
std::vector<ntfs::TDataRun> CollectListedRuns(platform::TRawVolume& volume, ntfs::TByteView record,
                                              ntfs::TByteView data, const ntfs::TDISK_INFORMATION& geometry,
                                              const ntfs::TMftMap* map, ntfs::TByteView runList) {
    if (map == nullptr) return ntfs::DecodeRunList(runList).Runs;
    const ntfs::TRecordReader readRecord = [&](std::uint64_t n) {
        return ntfs::ReadMftRecord(*map, volume, n, geometry);
    };
    return ntfs::CollectDataRuns(volume, {record.Data(), record.Size()}, data, geometry, readRecord).Runs;
}

// The unnamed $DATA of a base record that keeps it only in an extension
// record (its $ATTRIBUTE_LIST names it); empty when there is none to trust.
template <typename TMapFor>
ntfs::TDynamicCharArray FindListedData(platform::TRawVolume& volume, std::span<const std::uint8_t> image,
                                       const ntfs::TDISK_INFORMATION& geometry, TMapFor& mapFor) {
    const ntfs::TByteView view(image.data(), image.size());
    const auto number = view.U32(kRecordNumberOffset);
    if (!number || view.U64(kBaseReferenceOffset).value_or(1) != 0) return {};
    if (ntfs::FindAttribute(view, ntfs::attribute::kAttributeList, false).Empty()) return {};
    const ntfs::TMftMap* map = mapFor();
    if (map == nullptr) return {};
    const ntfs::TRecordReader readRecord = [&](std::uint64_t n) {
        return ntfs::ReadMftRecord(*map, volume, n, geometry);
    };
    return ntfs::FindListedAttribute(volume, image, *number, ntfs::attribute::kData, false, geometry,
                                     readRecord);
}

std::uint64_t SaturatedMul(std::uint64_t a, std::uint64_t b) {
    const auto p = ntfs::MulChecked(a, b);
    return p ? *p : UINT64_MAX;
}

// Bytes from the content's start that the runs allocate: the end of the last
// run, where a sparse run counts whole (a sparse file is allocation without
// clusters) and a run counts only up to the volume's last cluster (clusters
// past the end are not allocation, they are damage).
std::uint64_t RunsEnd(const std::vector<ntfs::TDataRun>& runs, std::uint32_t bytesPerCluster,
                      std::uint64_t volumeSize) {
    const std::uint64_t volumeClusters = volumeSize == 0 ? UINT64_MAX : volumeSize / bytesPerCluster;
    std::uint64_t endVcn = 0;
    for (const auto& r : runs) {
        std::uint64_t length = r.Length;
        if (!r.Sparse) {
            const std::uint64_t lcn = static_cast<std::uint64_t>(r.Lcn);
            length = r.Lcn < 0 || lcn >= volumeClusters ? 0 : std::min(length, volumeClusters - lcn);
        }
        if (length == 0) continue;
        endVcn = std::max(endVcn, length > UINT64_MAX - r.Vcn ? UINT64_MAX : r.Vcn + length);
    }
    return SaturatedMul(endVcn, bytesPerCluster);
}

// The file's size: DataSize, never more than the runs allocate, so that a
// damaged size field cannot make a file of terabytes. Runs of an attribute
// list's extension record that could not be read leave a gap the record
// itself cannot measure; there the base record's AllocatedSize bounds the
// zeros, and no more of them than the volume could have held.
std::uint64_t BoundedSize(const ntfs::TByteView data, std::uint64_t dataSize, std::uint64_t runsEnd,
                          bool listed, std::uint64_t volumeSize) {
    std::uint64_t size = std::min(dataSize, runsEnd);
    if (!listed || size == dataSize) return size;
    const auto allocated = data.I64(ntfs::attribute::kAllocatedSize);
    if (!allocated || *allocated <= 0) return size;
    std::uint64_t bound = std::min(dataSize, static_cast<std::uint64_t>(*allocated));
    if (volumeSize != 0)
        bound = std::min(bound, runsEnd > UINT64_MAX - volumeSize ? UINT64_MAX : runsEnd + volumeSize);
    return std::max(size, bound);
}

// The checks and the decoding, once the record's image is in memory. `map`
// is asked for only when the record has an attribute list.
template <typename TMapFor>
TContentPlan PlanImage(platform::TRawVolume& volume, std::span<std::uint8_t> image,
                       const ntfs::TDISK_INFORMATION& geometry, TMapFor mapFor) {
    if (!ntfs::ApplyFixups(image, geometry)) return Skip(TRecoverStatus::FixupsFailed);
    const ntfs::TByteView recordView(image.data(), image.size());
    const auto header = ntfs::DecodeRecordHeader(recordView);
    if (!header) return Skip(TRecoverStatus::FixupsFailed);
    // Not only "in use": a record with any flag set is not a deleted file.
    if (header->RecordFlags != 0) return Skip(TRecoverStatus::InUse);

    ntfs::TDynamicCharArray data = ntfs::FindAttribute(recordView, ntfs::attribute::kData, false);
    // No $DATA, or only named streams: the content may be in an extension record.
    if (data.Empty() || (data.View().U8(ntfs::attribute::kNameLength).value_or(0) != 0 &&
                         ntfs::LocateUnnamedData(recordView).Empty())) {
        ntfs::TDynamicCharArray listed = FindListedData(volume, image, geometry, mapFor);
        if (!listed.Empty()) data = std::move(listed);
    }
    if (data.Empty()) return Skip(TRecoverStatus::NoData);
    const ntfs::TByteView dataView = data.View();
    const auto attr = ntfs::DecodeAttributeHeader(dataView);
    if (!attr) return Skip(TRecoverStatus::BadData);

    TContentPlan plan;
    plan.Result.Encrypted = (attr->AttributeFlags & ntfs::attribute::kFlagEncrypted) != 0;

    if (attr->NonResident != 1) {
        // A resident value is kept as it is, even under the compressed flag:
        // NTFS compresses only clusters.
        const auto resident = ntfs::DecodeResident(dataView);
        if (!resident) return Skip(TRecoverStatus::BadData);
        const ntfs::TByteView value = dataView.Sub(resident->ValueOffset, resident->ValueLength);
        plan.Resident = true;
        plan.ResidentValue.assign(value.Data(), value.Data() + value.Size());
        plan.Size = value.Size();
        return plan;
    }

    const auto nonResident = ntfs::DecodeNonResident(dataView);
    if (!nonResident || nonResident->DataSize < 0) return Skip(TRecoverStatus::BadData);
    plan.Layout.BytesPerCluster = geometry.BytesPerCluster;

    // Encrypted clusters cannot be decrypted (nor decompressed): as they lie.
    const bool compressed =
        (attr->AttributeFlags & ntfs::attribute::kFlagCompressed) != 0 && !plan.Result.Encrypted;
    if (compressed && nonResident->CompressionUnit != 0) {
        const std::uint16_t shift = nonResident->CompressionUnit;
        if (shift >= 32) return Skip(TRecoverStatus::BadData);
        const std::uint64_t unitClusters = std::uint64_t{1} << shift;
        if (unitClusters * geometry.BytesPerCluster > run_walk::kMaxUnitBytes)
            return Skip(TRecoverStatus::BadData);
        plan.Layout.UnitClusters = unitClusters;
        plan.Result.Compressed = true;
    }

    const ntfs::TByteView runList = dataView.Sub(nonResident->RunListOffset, dataView.Size());
    const ntfs::TDynamicCharArray list =
        ntfs::FindAttribute(recordView, ntfs::attribute::kAttributeList, false);
    if (list.Empty())
        plan.Runs = ntfs::DecodeRunList(runList).Runs;
    else
        plan.Runs = CollectListedRuns(volume, recordView, dataView, geometry, mapFor(), runList);

    const std::uint64_t dataSize = static_cast<std::uint64_t>(nonResident->DataSize);
    const std::uint64_t volumeSize = volume.Size();
    plan.Size = BoundedSize(dataView, dataSize, RunsEnd(plan.Runs, geometry.BytesPerCluster, volumeSize),
                            !list.Empty(), volumeSize);
    plan.Result.CutBytes = dataSize - plan.Size;
    // Past the initialized size NTFS reads zeros, whatever the clusters hold.
    // A value outside [0, size] is damage and ignored.
    plan.Layout.ValidSize = plan.Size;
    if (const auto initialized = dataView.I64(ntfs::attribute::kInitializedSize);
        initialized && *initialized >= 0 && static_cast<std::uint64_t>(*initialized) < plan.Size)
        plan.Layout.ValidSize = static_cast<std::uint64_t>(*initialized);
    return plan;
}

}  // namespace

TContentPlan PlanContent(platform::TRawVolume& volume, std::span<std::uint8_t> record,
                         const ntfs::TDISK_INFORMATION& geometry, const ntfs::TMftMap& map) {
    if (!UsableGeometry(geometry) || record.size() != geometry.BytesPerFileRecord)
        return Skip(TRecoverStatus::BadGeometry);
    return PlanImage(volume, record, geometry, [&] { return &map; });
}

TContentPlan PlanMftRecord(platform::TRawVolume& volume, const ntfs::TMftMap& map, std::uint64_t recordNumber,
                           const ntfs::TDISK_INFORMATION& geometry) {
    if (!UsableGeometry(geometry)) return Skip(TRecoverStatus::BadGeometry);
    ntfs::TDynamicCharArray record(geometry.BytesPerFileRecord);
    const std::uint64_t size = geometry.BytesPerFileRecord;
    if (recordNumber > UINT64_MAX / size ||
        map.Read(volume, recordNumber * size, record.Span()) != record.Size())
        return Skip(TRecoverStatus::RecordUnreadable);
    return PlanImage(volume, record.Span(), geometry, [&] { return &map; });
}

TContentPlan PlanFoundRecord(platform::TRawVolume& volume, const ntfs::TMftMap& map,
                             std::uint64_t recordOffset, const ntfs::TDISK_INFORMATION& geometry, bool lost) {
    if (!UsableGeometry(geometry)) return Skip(TRecoverStatus::BadGeometry);
    ntfs::TDynamicCharArray record(geometry.BytesPerFileRecord);
    if (volume.ReadAt(recordOffset, record.Span()) != record.Size())
        return Skip(TRecoverStatus::RecordUnreadable);
    if (lost) {
        // The flags lie in the first sector's header, clear of the update
        // sequence's places, so the fix-ups still check after this.
        record.Span()[ntfs::file_record::kRecordFlags] &=
            static_cast<std::uint8_t>(~ntfs::file_record::kFlagInUse & 0xFF);
    }
    return PlanImage(volume, record.Span(), geometry,
                     [&]() -> const ntfs::TMftMap* { return map.Extents().empty() ? nullptr : &map; });
}

TContentPlan PlanContent(platform::TRawVolume& volume, std::uint64_t recordOffset,
                         const ntfs::TDISK_INFORMATION& geometry) {
    if (!UsableGeometry(geometry)) return Skip(TRecoverStatus::BadGeometry);
    ntfs::TDynamicCharArray record(geometry.BytesPerFileRecord);
    if (volume.ReadAt(recordOffset, record.Span()) != record.Size())
        return Skip(TRecoverStatus::RecordUnreadable);
    std::optional<ntfs::TMftLayout> layout;
    return PlanImage(volume, record.Span(), geometry, [&]() -> const ntfs::TMftMap* {
        const ntfs::TDynamicCharArray bootBytes = ntfs::ReadBootSector(volume);
        const ntfs::TBOOT_SECTOR boot = ntfs::DecodeBootSector(bootBytes.View());
        layout = ntfs::LocateMft(volume, geometry, ntfs::MftByteOffset(boot), ntfs::MftMirrByteOffset(boot))
                     .Layout;
        return layout ? &layout->Map : nullptr;
    });
}

TWalkStats WriteContent(platform::TRawVolume& volume, const TContentPlan& plan, TContentSink& sink,
                        const TClusterGrant* grant) {
    TWalkStats stats;
    // A plan that did not pass its checks has nothing to write (and no layout).
    if (plan.Result.Status != TRecoverStatus::Written) return stats;
    if (plan.Resident) {
        if (grant && !grant->ResidentWritten)
            stats.BeyondBytes = plan.ResidentValue.size();
        else if (!plan.ResidentValue.empty() && !sink.WriteAt(0, plan.ResidentValue))
            stats.WriteFailed = true;
        return stats;
    }
    return WalkRuns(volume, plan.Runs, plan.Layout, sink, grant);
}

std::vector<TClusterSpan> ClustersToRead(const TContentPlan& plan, std::uint64_t volumeSize) {
    if (plan.Result.Status != TRecoverStatus::Written || plan.Resident) return {};
    return ClustersToRead(plan.Runs, plan.Layout, volumeSize);
}

}  // namespace recover
