// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_engine.h"

#include <algorithm>
#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/file_record.h"
#include "ntfs/text.h"
#include "platform/drives.h"
#include "scan/drive_letters.h"

namespace scan {

TScanEngine::TScanEngine(std::string source) : m_source(std::move(source)) {}

TScanEngine::TScanEngine(std::unique_ptr<platform::TRawVolume> volume, std::string label)
    : m_given(std::move(volume)), m_label(std::move(label)) {}

TScanEngine::~TScanEngine() = default;

bool TScanEngine::Open() {
    if (m_given) {
        m_volume = std::move(m_given);
        return true;
    }
    m_openFailure.reset();
    m_resolved = m_source;
    if (platform::IsDriveString(m_source)) {
        const auto letter = ResolveDriveLetter(m_source);
        const auto path = letter ? std::optional<std::string>(letter->Path) : std::nullopt;
        if (!path) {
            const platform::TOpenError kind = platform::TOpenError::NoSuchDrive;
            m_openFailure = platform::TOpenFailure{kind, 0, m_source, platform::OpenErrorText(kind, 0)};
            return false;
        }
        m_resolved = *path;
    }
    platform::TOpenFailure why;
    m_volume = platform::OpenRawVolumePath(m_resolved, &why);
    if (!m_volume) m_openFailure = std::move(why);
    return m_volume != nullptr;
}

std::string TScanEngine::VolumeLabel() const {
    if (m_label) return *m_label;
    return m_resolved.empty() ? std::string() : platform::GetVolumeLabelOfPath(m_resolved);
}

void TScanEngine::Close() {
    m_volume.reset();
}

void TScanEngine::ReadBootSector() {
    m_bootSector = ntfs::ReadBootSector(*m_volume);
    m_boot = ntfs::DecodeBootSector(m_bootSector.View());
}

bool TScanEngine::IsNtfs() const {
    return ntfs::IsNtfsOem(m_boot);
}

void TScanEngine::DeriveGeometry() {
    m_geometry = ntfs::DeriveGeometry(m_boot);
    const auto offset = ntfs::MftByteOffset(m_boot);
    m_mftOffsetValid = offset.has_value();
    m_mftByteOffset = offset.value_or(0);
}

std::optional<TScanOutcome> TScanEngine::ReadMftLayout() {
    const std::uint32_t recordSize = m_geometry.BytesPerFileRecord;
    auto location =
        ntfs::LocateMft(*m_volume, m_geometry,
                        m_mftOffsetValid ? std::optional<std::uint64_t>(m_mftByteOffset) : std::nullopt);
    if (!location.Layout) {
        switch (location.Error) {
            case ntfs::TMftLocateError::Record0Unusable:
                return TScanOutcome::Record0Unusable;
            case ntfs::TMftLocateError::NoMftData:
                return TScanOutcome::NoMftData;
            case ntfs::TMftLocateError::MftDataFlagged:
                return TScanOutcome::MftDataFlagged;
        }
        return TScanOutcome::NoMftData;
    }
    m_layout = std::move(*location.Layout);
    m_recordCount = m_layout.Map.RecordCount(recordSize);
    // No MFT is larger than its volume: a damaged run list or VCN range
    // must not turn into a walk over records that cannot exist.
    const std::uint64_t volumeSize = m_volume->Size();
    if (volumeSize > 0) m_recordCount = std::min(m_recordCount, volumeSize / recordSize);
    m_mftShownLength = MftByteLength();
    if (volumeSize > 0 && m_mftShownLength > volumeSize) m_mftShownLength = m_recordCount * recordSize;
    return std::nullopt;
}

ntfs::TDynamicCharArray TScanEngine::FindListed(std::uint64_t recordNumber,
                                                std::span<const std::uint8_t> image, std::uint32_t type,
                                                bool namespaceRule) {
    // Only a base record (no base reference of its own) lists its extensions.
    const ntfs::TByteView record(image.data(), image.size());
    if (record.U64(kBaseReferenceOffset).value_or(1) != 0) return {};
    const ntfs::TRecordReader readRecord = [this](std::uint64_t n) {
        return ntfs::ReadMftRecord(m_layout.Map, *m_volume, n, m_geometry);
    };
    return ntfs::FindListedAttribute(*m_volume, image, recordNumber, type, namespaceRule, m_geometry,
                                     readRecord);
}

bool TScanEngine::DecodeRecord(std::uint64_t recordNumber, std::uint64_t byteOffset,
                               std::span<std::uint8_t> image, DeletedFileEntry& entry) {
    if (!ntfs::ApplyFixups(image, m_geometry)) {
        ++m_counters.FixupFailures;
        return false;
    }
    const ntfs::TByteView record(image.data(), image.size());
    const auto header = ntfs::DecodeRecordHeader(record);
    if (header && m_details) m_details->NoteRecord(recordNumber, record, header->RecordFlags);
    if (!header || header->RecordFlags != 0) {
        ++m_counters.InUseOrDirectory;
        return false;
    }
    const auto si = ntfs::DecodeStandardInformation(
        ntfs::LocateAttribute(record, ntfs::attribute::kStandardInformation, false));
    if (!si) {
        ++m_counters.MissingAttributes;
        return false;
    }
    // A name or a $DATA that overflowed into an extension record is found
    // through the base record's $ATTRIBUTE_LIST (rare: only then is it read).
    ntfs::TDynamicCharArray listedName;
    ntfs::TByteView nameAttr = ntfs::LocateAttribute(record, ntfs::attribute::kFileName, true);
    if (nameAttr.Empty()) {
        listedName = FindListed(recordNumber, image, ntfs::attribute::kFileName, true);
        nameAttr = listedName.View();
    }
    auto name = ntfs::DecodeFileName(nameAttr);
    if (!name) {
        ++m_counters.MissingAttributes;
        return false;
    }
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
    if (!size) {
        ++m_counters.MissingAttributes;
        return false;
    }
    entry.Caption = CaptionText(byteOffset);
    entry.Record = recordNumber;
    entry.ByteOffset = byteOffset;
    entry.Name = std::move(name->FileName);
    entry.NameText = ntfs::Utf16ToUtf8(entry.Name);
    entry.Extension = ntfs::Utf16ToUtf8(ExtensionOf(entry.Name));
    entry.Size = *size;
    entry.SizeText = scan::SizeText(*size);
    entry.CreationTime = si->CreationTime;
    entry.ModificationTime = si->ModificationTime;
    entry.CreateTime = m_formatter.Format(si->CreationTime);
    entry.LastTime = m_formatter.Format(si->ModificationTime);
    if (m_details) m_details->NoteRow(nameAttr, dataAttr, entry);
    return true;
}

TScanOutcome TScanEngine::Walk(const std::atomic<bool>& stop, TScanSink& sink) {
    // A run past the clusters the volume really has names nothing: the boot
    // sector's count is only a claim.
    std::uint64_t clusters =
        VolumeClusterCount(m_boot.TotalSectors, m_boot.BytesPerSector, m_geometry.BytesPerCluster);
    if (m_volume->Size() > 0 && m_geometry.BytesPerCluster > 0)
        clusters = std::min<std::uint64_t>(clusters, m_volume->Size() / m_geometry.BytesPerCluster);
    m_details = std::make_unique<TRowDetailsCollector>(m_geometry, clusters);
    const TScanOutcome outcome = WalkRecords(stop, sink);
    m_details->Resolve(*m_volume, m_layout.Map, [&sink](std::size_t row, TRowDetails&& details) {
        sink.OnDetails(row, std::move(details));
    });
    m_details.reset();
    return outcome;
}

TScanOutcome TScanEngine::WalkRecords(const std::atomic<bool>& stop, TScanSink& sink) {
    const std::uint64_t recordSize = m_geometry.BytesPerFileRecord;
    if (m_recordCount <= kFirstUserRecord || recordSize == 0) return TScanOutcome::Completed;
    const std::size_t perChunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(1, kChunkBytes / recordSize), WalkLength()));
    std::vector<std::uint8_t> chunk(perChunk * recordSize);
    std::uint64_t done = 0;

    for (std::uint64_t n = kFirstUserRecord; n < m_recordCount;) {
        if (stop.load(std::memory_order_relaxed)) return TScanOutcome::Stopped;
        const std::size_t batch =
            static_cast<std::size_t>(std::min<std::uint64_t>(perChunk, m_recordCount - n));
        const std::span<std::uint8_t> bytes(chunk.data(), batch * recordSize);
        const std::size_t got = m_layout.Map.Read(*m_volume, n * recordSize, bytes);
        for (std::size_t i = 0; i < batch; ++i, ++n) {
            if (stop.load(std::memory_order_relaxed)) return TScanOutcome::Stopped;
            ++done;
            ++m_counters.RecordsWalked;
            sink.OnProgress(done);
            const std::span<std::uint8_t> image = bytes.subspan(i * recordSize, recordSize);
            // A chunk cut short by a bad stretch: read the rest one record
            // at a time so one unreadable sector costs only its own records.
            if ((i + 1) * recordSize > got &&
                m_layout.Map.Read(*m_volume, n * recordSize, image) != recordSize) {
                ++m_counters.ReadFailures;
                continue;
            }
            const auto byteOffset = m_layout.Map.VolumeOffset(n * recordSize);
            if (!byteOffset) {
                ++m_counters.ReadFailures;
                continue;
            }
            DeletedFileEntry entry;
            if (DecodeRecord(n, *byteOffset, image, entry)) {
                ++m_counters.Found;
                sink.OnFound(std::move(entry));
            }
        }
    }
    return TScanOutcome::Completed;
}

std::optional<TScanOutcome> TScanEngine::Prepare() {
    if (!Open()) return TScanOutcome::VolumeDidNotOpen;
    ReadBootSector();
    if (!IsNtfs()) return TScanOutcome::NotNtfs;
    DeriveGeometry();
    return ReadMftLayout();
}

TScanOutcome TScanEngine::Run(const std::atomic<bool>& stop, TScanSink& sink) {
    if (const auto end = Prepare()) return *end;
    const TScanOutcome outcome = Walk(stop, sink);
    Close();
    return outcome;
}

}  // namespace scan
