// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/attribute_list.h"

#include <algorithm>
#include <unordered_set>

#include "ntfs/attribute.h"
#include "ntfs/file_record.h"

namespace ntfs {

namespace {

constexpr std::size_t kRecordNumber = 0x2C;   // u32: the record's own number (NTFS 3.1)
constexpr std::size_t kBaseReference = 0x20;  // u64: base record of an extension record
constexpr std::uint64_t kRecordMask = 0xFFFFFFFFFFFFull;
constexpr std::size_t kSequenceNumber = 0x10;  // u16
// Extension records of one file followed at most: NTFS needs a handful.
constexpr std::size_t kMaxListedRecords = 64;

// Whether `later` is `earlier` or the number after it (a free moves it on by one).
bool SameOrNext(std::uint16_t earlier, std::uint16_t later) {
    return later == earlier || later == static_cast<std::uint16_t>(earlier + 1);
}

// Every $DATA attribute of a record image without a name, with its bytes.
std::vector<TByteView> UnnamedDataAttributes(TByteView record) {
    std::vector<TByteView> found;
    auto first = record.U16(file_record::kFirstAttributeOffset);
    if (!first) return found;
    std::size_t off = *first;
    while (record.Has(off, 8)) {
        const std::uint32_t type = *record.U32(off);
        if (type == attribute::kEnd) break;
        const std::uint32_t length = *record.U32(off + 4);
        if ((length & 0xFFFF) == 0) break;
        if (type == attribute::kData && record.U8(off + attribute::kNameLength) == std::uint8_t{0})
            found.push_back(record.Sub(off, length));
        off += length & 0xFFFF;
    }
    return found;
}

}  // namespace

std::vector<TAttributeListEntry> DecodeAttributeList(TByteView value) {
    std::vector<TAttributeListEntry> entries;
    std::size_t off = 0;
    while (value.Has(off, attribute_list::kMinEntry)) {
        const std::uint16_t length = *value.U16(off + attribute_list::kLength);
        if (length < attribute_list::kMinEntry) break;
        TAttributeListEntry e;
        e.Type = *value.U32(off + attribute_list::kType);
        e.NameLength = *value.U8(off + attribute_list::kNameLength);
        e.StartingVcn = *value.U64(off + attribute_list::kStartingVcn);
        const std::uint64_t reference = *value.U64(off + attribute_list::kRecord);
        e.Record = reference & kRecordMask;
        e.Sequence = static_cast<std::uint16_t>(reference >> 48);
        entries.push_back(e);
        off += length;
    }
    return entries;
}

std::optional<TDynamicCharArray> ReadAttributeValue(platform::TRawVolume& volume, TByteView attr,
                                                    const TDISK_INFORMATION& geometry,
                                                    std::uint64_t maxBytes) {
    const auto header = DecodeAttributeHeader(attr);
    if (!header) return std::nullopt;
    if (header->NonResident != 1) {
        const auto res = DecodeResident(attr);
        if (!res || res->ValueLength > maxBytes) return std::nullopt;
        const TByteView value = attr.Sub(res->ValueOffset, res->ValueLength);
        return TDynamicCharArray(value.Data(), value.Size());
    }
    const auto nr = DecodeNonResident(attr);
    if (!nr || nr->DataSize < 0 || static_cast<std::uint64_t>(nr->DataSize) > maxBytes) return std::nullopt;
    const std::uint64_t size = static_cast<std::uint64_t>(nr->DataSize);
    TDynamicCharArray value(static_cast<std::size_t>(size));
    const TRunList runs = DecodeRunList(attr.Sub(nr->RunListOffset, attr.Size()));
    for (const TDataRun& run : runs.Runs) {
        if (run.Sparse) continue;
        const auto start = MulChecked(run.Vcn, geometry.BytesPerCluster);
        const auto length = MulChecked(run.Length, geometry.BytesPerCluster);
        if (!start || !length || *start >= size || run.Lcn < 0) continue;
        const auto from = MulChecked(static_cast<std::uint64_t>(run.Lcn), geometry.BytesPerCluster);
        if (!from) continue;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(*length, size - *start));
        volume.ReadAt(*from, value.Span().subspan(static_cast<std::size_t>(*start), n));
    }
    return value;
}

TRunList CollectDataRuns(platform::TRawVolume& volume, std::span<const std::uint8_t> baseRecord,
                         TByteView dataAttribute, const TDISK_INFORMATION& geometry,
                         const TRecordReader& readRecord) {
    TRunList all;
    const auto baseNr = DecodeNonResident(dataAttribute);
    if (!baseNr) return all;
    const std::uint64_t baseStart =
        static_cast<std::uint64_t>(baseNr->StartingVcn < 0 ? 0 : baseNr->StartingVcn);
    all = DecodeRunList(dataAttribute.Sub(baseNr->RunListOffset, dataAttribute.Size()), baseStart);

    const TByteView base(baseRecord.data(), baseRecord.size());
    const TDynamicCharArray listAttr = FindAttribute(base, attribute::kAttributeList, false);
    if (listAttr.Empty()) return all;
    const auto list = ReadAttributeValue(volume, listAttr.View(), geometry, attribute_list::kMaxValueBytes);
    if (!list) return all;
    const std::optional<std::uint32_t> baseNumber = base.U32(kRecordNumber);

    // A hostile list may name a hundred thousand records: each is read once,
    // and the check for "read already" must not grow with the list.
    std::unordered_set<std::uint64_t> visited;
    for (const TAttributeListEntry& entry : DecodeAttributeList(list->View())) {
        if (entry.Type != attribute::kData || entry.NameLength != 0 || entry.StartingVcn == baseStart)
            continue;
        if (!visited.insert(entry.Record).second) continue;
        const auto ext = readRecord(entry.Record);
        if (!ext) continue;
        const TByteView extView = ext->View();
        // A record that has since been given to another file holds someone
        // else's runs: only trust one that still names this base record.
        const auto backRef = extView.U64(kBaseReference);
        if (baseNumber && *baseNumber != 0 && backRef && (*backRef & kRecordMask) != *baseNumber) continue;
        for (const TByteView piece : UnnamedDataAttributes(extView)) {
            const auto nr = DecodeNonResident(piece);
            if (!nr || piece.U8(attribute::kNonResident) != std::uint8_t{1} || nr->StartingVcn <= 0) continue;
            const TRunList more = DecodeRunList(piece.Sub(nr->RunListOffset, piece.Size()),
                                                static_cast<std::uint64_t>(nr->StartingVcn));
            all.Runs.insert(all.Runs.end(), more.Runs.begin(), more.Runs.end());
        }
    }
    std::stable_sort(all.Runs.begin(), all.Runs.end(),
                     [](const TDataRun& a, const TDataRun& b) { return a.Vcn < b.Vcn; });
    // Drop pieces that overlap what is already covered (damaged lists).
    std::vector<TDataRun> joined;
    std::uint64_t end = 0;
    for (const TDataRun& run : all.Runs) {
        if (!joined.empty() && run.Vcn < end) continue;
        joined.push_back(run);
        end = run.Vcn + run.Length;
    }
    all.Runs = std::move(joined);
    return all;
}

TByteView LocateUnnamedData(TByteView record) {
    const std::vector<TByteView> found = UnnamedDataAttributes(record);
    return found.empty() ? TByteView() : found.front();
}

TDynamicCharArray FindListedAttribute(platform::TRawVolume& volume, std::span<const std::uint8_t> baseRecord,
                                      std::uint64_t baseNumber, std::uint32_t type, bool namespaceRule,
                                      const TDISK_INFORMATION& geometry, const TRecordReader& readRecord) {
    const TByteView base(baseRecord.data(), baseRecord.size());
    const auto baseSequence = base.U16(kSequenceNumber);
    if (!baseSequence) return {};
    const TDynamicCharArray listAttr = FindAttribute(base, attribute::kAttributeList, false);
    if (listAttr.Empty()) return {};
    const auto list = ReadAttributeValue(volume, listAttr.View(), geometry, attribute_list::kMaxValueBytes);
    if (!list) return {};

    std::vector<std::uint64_t> visited;
    for (const TAttributeListEntry& entry : DecodeAttributeList(list->View())) {
        if (entry.Type != type || entry.Record == baseNumber) continue;
        if (type == attribute::kData && (entry.NameLength != 0 || entry.StartingVcn != 0)) continue;
        if (std::find(visited.begin(), visited.end(), entry.Record) != visited.end()) continue;
        if (visited.size() >= kMaxListedRecords) break;
        visited.push_back(entry.Record);
        const auto ext = readRecord(entry.Record);
        if (!ext) continue;
        const TByteView extView = ext->View();
        const auto header = DecodeRecordHeader(extView);
        const auto backRef = extView.U64(kBaseReference);
        const auto extSequence = extView.U16(kSequenceNumber);
        if (!header || !backRef || !extSequence) continue;
        if ((header->RecordFlags & file_record::kFlagInUse) != 0) continue;  // a live file's now
        if ((*backRef & kRecordMask) != baseNumber ||
            !SameOrNext(static_cast<std::uint16_t>(*backRef >> 48), *baseSequence))
            continue;
        if (!SameOrNext(entry.Sequence, *extSequence)) continue;
        if (type != attribute::kData) {
            TDynamicCharArray found = FindAttribute(extView, type, namespaceRule);
            if (!found.Empty()) return found;
            continue;
        }
        for (const TByteView piece : UnnamedDataAttributes(extView)) {
            const auto attr = DecodeAttributeHeader(piece);
            if (!attr) continue;
            if (attr->NonResident == 1) {
                const auto nr = DecodeNonResident(piece);
                if (!nr || nr->StartingVcn != 0) continue;
            }
            return TDynamicCharArray(piece.Data(), piece.Size());
        }
    }
    return {};
}

}  // namespace ntfs
