// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/record_decoder.h"

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/file_record.h"
#include "ntfs/text.h"

namespace scan {

namespace {
constexpr std::size_t kBaseReferenceOffset = 0x20;  // u64 in the record header
}

TRecordDecoder::TRecordDecoder(const ntfs::TDISK_INFORMATION& geometry, const ntfs::TMftMap& map,
                               platform::TRawVolume& volume, bool details, std::uint64_t clusterCount)
    : m_geometry(geometry), m_map(map), m_volume(volume), m_details(details), m_clusterCount(clusterCount) {}

void TRecordDecoder::Decode(std::uint64_t first, std::size_t count, std::span<std::uint8_t> bytes,
                            std::size_t got, TDecodedStretch& out) {
    const std::size_t recordSize = m_geometry.BytesPerFileRecord;
    out.Status.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t n = first + i;
        const std::span<std::uint8_t> image = bytes.subspan(i * recordSize, recordSize);
        if ((i + 1) * recordSize > got && m_map.Read(m_volume, n * recordSize, image) != recordSize) {
            out.Status.push_back(TRecordStatus::ReadFailure);
            continue;
        }
        const auto byteOffset = m_map.VolumeOffset(n * recordSize);
        if (!byteOffset) {
            out.Status.push_back(TRecordStatus::ReadFailure);
            continue;
        }
        out.Status.push_back(DecodeRecord(n, *byteOffset, image, out));
    }
}

ntfs::TDynamicCharArray TRecordDecoder::FindListed(std::uint64_t recordNumber,
                                                   std::span<const std::uint8_t> image, std::uint32_t type,
                                                   bool namespaceRule) {
    // Only a base record (no base reference of its own) lists its extensions.
    const ntfs::TByteView record(image.data(), image.size());
    if (record.U64(kBaseReferenceOffset).value_or(1) != 0) return {};
    const ntfs::TRecordReader readRecord = [this](std::uint64_t n) {
        return ntfs::ReadMftRecord(m_map, m_volume, n, m_geometry);
    };
    return ntfs::FindListedAttribute(m_volume, image, recordNumber, type, namespaceRule, m_geometry,
                                     readRecord);
}

TRecordStatus TRecordDecoder::DecodeRecord(std::uint64_t recordNumber, std::uint64_t byteOffset,
                                           std::span<std::uint8_t> image, TDecodedStretch& out) {
    if (!ntfs::ApplyFixups(image, m_geometry)) return TRecordStatus::FixupFailure;
    const ntfs::TByteView record(image.data(), image.size());
    const auto header = ntfs::DecodeRecordHeader(record);
    if (!header) return TRecordStatus::InUseOrDirectory;
    if (header->RecordFlags != 0) {
        if (m_details) {
            if (auto note = DirectoryNoteOf(recordNumber, record, header->RecordFlags))
                out.Directories.push_back(std::move(*note));
        }
        return TRecordStatus::InUseOrDirectory;
    }
    const auto si = ntfs::DecodeStandardInformation(
        ntfs::LocateAttribute(record, ntfs::attribute::kStandardInformation, false));
    if (!si) return TRecordStatus::MissingAttributes;
    // A name or a $DATA that overflowed into an extension record is found
    // through the base record's $ATTRIBUTE_LIST (rare: only then is it read).
    ntfs::TDynamicCharArray listedName;
    ntfs::TByteView nameAttr = ntfs::LocateAttribute(record, ntfs::attribute::kFileName, true);
    if (nameAttr.Empty()) {
        listedName = FindListed(recordNumber, image, ntfs::attribute::kFileName, true);
        nameAttr = listedName.View();
    }
    auto name = ntfs::DecodeFileName(nameAttr);
    if (!name) return TRecordStatus::MissingAttributes;
    ntfs::TDynamicCharArray listedData;
    ntfs::TByteView dataAttr = ntfs::LocateAttribute(record, ntfs::attribute::kData, false);
    // Only named streams here: the content may be in an extension record.
    if (!dataAttr.Empty() && dataAttr.U8(ntfs::attribute::kNameLength).value_or(0) != 0 &&
        ntfs::LocateUnnamedData(record).Empty()) {
        listedData = FindListed(recordNumber, image, ntfs::attribute::kData, false);
        if (!listedData.Empty()) dataAttr = listedData.View();
    }
    if (dataAttr.Empty()) {
        listedData = FindListed(recordNumber, image, ntfs::attribute::kData, false);
        dataAttr = listedData.View();
    }
    const auto size = ntfs::ReportedDataSize(dataAttr);
    if (!size) return TRecordStatus::MissingAttributes;

    DeletedFileEntry& entry =
        out.RowCount < out.Rows.size() ? out.Rows[out.RowCount] : out.Rows.emplace_back();
    ++out.RowCount;
    entry.Caption = CaptionText(byteOffset);
    entry.Record = recordNumber;
    entry.ByteOffset = byteOffset;
    entry.Name.assign(name->FileName);
    ntfs::Utf16ToUtf8(entry.Name, entry.NameText);
    ntfs::Utf16ToUtf8(ExtensionOf(entry.Name), entry.Extension);
    entry.Size = *size;
    entry.SizeText = scan::SizeText(*size);
    entry.CreationTime = si->CreationTime;
    entry.ModificationTime = si->ModificationTime;
    m_formatter.Format(si->CreationTime, entry.CreateTime);
    m_formatter.Format(si->ModificationTime, entry.LastTime);
    entry.Details = {};
    if (m_details) {
        out.RowNotes.push_back(RowNoteOf(nameAttr, dataAttr, entry.ModificationTime,
                                         m_geometry.BytesPerCluster, m_clusterCount));
    }
    return TRecordStatus::Found;
}

}  // namespace scan
