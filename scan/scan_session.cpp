// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_session.h"

#include "ntfs/boot_sector.h"
#include "ntfs/text.h"
#include "ntfs/volume_name.h"
#include "platform/drives.h"
#include "scan/drive_letters.h"

namespace scan {

namespace {

// Serves a shared volume to the engine, which owns what it reads.
class TSharedVolume : public platform::TRawVolume {
public:
    explicit TSharedVolume(std::shared_ptr<platform::TRawVolume> inner) : m_inner(std::move(inner)) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        return m_inner->ReadAt(offset, out);
    }
    std::uint64_t Size() const override { return m_inner->Size(); }
    bool AllowsConcurrentReads() const override { return m_inner->AllowsConcurrentReads(); }

private:
    std::shared_ptr<platform::TRawVolume> m_inner;
};

// The engine's walk into the session's sink and, when kept, the result's rows.
class TRowSink : public TScanSink {
public:
    TRowSink(TScanSessionSink& sink, std::vector<DeletedFileEntry>* rows) : m_sink(sink), m_rows(rows) {}
    void OnProgress(std::uint64_t recordsDone) override { m_sink.OnProgress(recordsDone); }
    void OnFound(DeletedFileEntry&& entry) override {
        m_sink.OnFound(entry);
        if (m_rows != nullptr) m_rows->push_back(std::move(entry));
    }
    void OnDetails(std::size_t row, TRowDetails&& details) override {
        m_sink.OnDetails(row, details);
        if (m_rows != nullptr && row < m_rows->size()) (*m_rows)[row].Details = std::move(details);
    }

private:
    TScanSessionSink& m_sink;
    std::vector<DeletedFileEntry>* m_rows;
};

}  // namespace

TScanSession::TScanSession(std::string source, TOptions options)
    : m_source(std::move(source)), m_options(options) {}

TScanSession::TScanSession(std::unique_ptr<platform::TRawVolume> volume, std::string label, TOptions options)
    : m_given(std::move(volume)), m_label(std::move(label)), m_options(options) {}

TScanSession::~TScanSession() = default;

std::shared_ptr<const TScanResult> TScanSession::Run(const std::atomic<bool>& stop, TScanSessionSink& sink) {
    auto result = std::make_shared<TScanResult>();
    result->Source.Drive = m_source;
    result->Source.Given = m_given;
    // A source with a partition table is scanned in one of its partitions,
    // through a window onto it; a source without one is opened by the engine.
    std::unique_ptr<platform::TRawVolume> partition;
    if (!m_given) {
        TOpenedSource opened = OpenSource(m_source, m_options.Partition);
        result->Partitions = std::move(opened.Layout);
        if (opened.Partition) {
            const auto letter = ResolveDriveLetter(m_source);
            result->Source.Resolved = letter ? letter->Path : m_source;
            result->Source.StartByte = opened.StartByte;
            result->Source.Length = opened.Volume->Size();
            result->Source.Partition = opened.Partition;
            partition = std::move(opened.Volume);
        } else if (opened.Error != TSourceError::None && opened.Error != TSourceError::DidNotOpen) {
            result->SourceError = opened.Error;
            result->Outcome = TScanOutcome::NotNtfs;
            return result;
        }
    }
    // A partition's label is its own $Volume's: the system's probe of the
    // path would look at the disk, whose first sector is the table.
    std::string partitionLabel;
    if (partition && m_options.ReadLabel)
        partitionLabel = ntfs::Utf16ToUtf8(ntfs::ReadVolumeName(*partition).value_or(std::u16string()));
    TScanEngine engine = m_given     ? TScanEngine(std::make_unique<TSharedVolume>(m_given), m_label)
                         : partition ? TScanEngine(std::move(partition), std::move(partitionLabel))
                                     : TScanEngine(m_source);
    const auto finish = [&](TScanOutcome outcome) {
        result->Outcome = outcome;
        result->Counters = engine.Counters();
        return std::shared_ptr<const TScanResult>(std::move(result));
    };

    if (!engine.Open()) {
        result->OpenFailure = engine.OpenFailure();
        return finish(TScanOutcome::VolumeDidNotOpen);
    }
    if (!result->Source.Partition) result->Source.Resolved = engine.ResolvedPath();
    TDriveFacts& facts = result->Facts;

    engine.ReadBootSector();
    const ntfs::TBOOT_SECTOR& boot = engine.Boot();
    if (m_options.ReadLabel) facts.Label = engine.VolumeLabel();
    facts.SerialNumber = boot.VolumeSerialNumber;
    facts.Oem = ntfs::OemText(boot);
    sink.OnFacts(TScanStage::BootSector, facts);
    if (!engine.IsNtfs()) return finish(TScanOutcome::NotNtfs);

    engine.DeriveGeometry();
    result->Geometry = engine.Geometry();
    facts.VolumeBytes = boot.TotalSectors * std::uint64_t{boot.BytesPerSector};
    facts.MftByteOffset = engine.MftByteOffset();
    facts.MftByteOffsetValid = engine.MftByteOffsetValid();
    sink.OnFacts(TScanStage::Geometry, facts);

    if (const auto end = engine.ReadMftLayout()) return finish(*end);
    result->Layout = engine.Layout();
    facts.MftBytes = engine.MftShownLength();
    facts.RecordCount = engine.RecordCount();
    facts.MirroredRecords = engine.Layout().MirroredRecords;
    sink.OnFacts(TScanStage::MftLayout, facts);

    sink.OnWalkStart(engine.WalkLength());
    TRowSink rows(sink, m_options.KeepRows ? &result->Rows : nullptr);
    const TScanOutcome outcome = engine.Walk(stop, rows, m_options.Details);
    engine.Close();
    return finish(outcome);
}

}  // namespace scan
