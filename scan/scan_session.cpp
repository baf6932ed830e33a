// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_session.h"

#include "ntfs/boot_sector.h"

namespace scan {

namespace {

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

// The deep pass into the session's sink and, when kept, the result's rows.
class TDeepRowSink : public TDeepSink {
public:
    TDeepRowSink(TScanSessionSink& sink, TScanResult& result, bool keep)
        : m_sink(sink), m_result(result), m_keep(keep) {}
    void OnProgress(std::uint64_t done, std::uint64_t total) override {
        if (!m_started) {
            m_sink.OnWalkStart(Mib(total));
            m_started = true;
        }
        m_sink.OnProgress(Mib(done));
    }
    bool WantsPreviews() const override { return m_sink.WantsPreviews(); }
    void OnPreview(const DeletedFileEntry& entry, bool) override { m_sink.OnPreview(entry); }
    void OnVolumes(const std::vector<ntfs::TInferredVolume>&) override {
        if (m_sink.WantsPreviews()) m_sink.OnPreviewsEnd();
    }
    void OnRow(TDeepRow&& row) override {
        m_sink.OnFound(row.Entry);
        if (!m_keep) return;
        m_result.DeepRows.push_back({row.Volume, row.How, row.Lost});
        m_result.Rows.push_back(std::move(row.Entry));
    }
    void OnVerdict(std::size_t row, const TRecoverability& verdict) override {
        if (m_keep) {
            if (row >= m_result.Rows.size()) return;
            TRowDetails& details = m_result.Rows[row].Details;
            details.Recoverability = verdict;
            m_sink.OnDetails(row, details);
        } else {
            TRowDetails details;
            details.Recoverability = verdict;
            m_sink.OnDetails(row, details);
        }
    }

private:
    static std::uint64_t Mib(std::uint64_t bytes) { return (bytes >> 20) + ((bytes & 0xFFFFF) != 0 ? 1 : 0); }
    TScanSessionSink& m_sink;
    TScanResult& m_result;
    bool m_keep;
    bool m_started = false;
};

}  // namespace

TScanSession::TScanSession(std::string source, TOptions options) : m_options(options) {
    m_request.Name = std::move(source);
    m_request.Partition = options.Partition;
    m_request.ReadLabel = options.ReadLabel;
    if (options.Deep) m_request.Scope = TSourceScope::AsItIs;
}

TScanSession::TScanSession(std::unique_ptr<platform::TRawVolume> volume, TOptions options)
    : m_options(options) {
    m_request.Volume = std::move(volume);
    m_request.Partition = options.Partition;
    m_request.ReadLabel = options.ReadLabel;
}

TScanSession::TScanSession(TOpenedSource opened, TOptions options) : m_options(options) {
    m_request.Name = opened.Source.Drive;
    m_request.Partition = opened.Source.Partition;
    m_request.ReadLabel = options.ReadLabel;
    m_request.Volume = opened.Source.Given;
    m_opened = std::move(opened);
}

TScanSession::~TScanSession() = default;

std::shared_ptr<const TScanResult> TScanSession::Run(const std::atomic<bool>& stop, TScanSessionSink& sink) {
    auto result = std::make_shared<TScanResult>();
    // The one open of the source: the engine walks the volume opened here.
    TOpenedSource opened = m_opened ? std::move(*m_opened) : OpenSource(m_request);
    m_opened.reset();
    result->Source = opened.Source;
    result->Partitions = std::move(opened.Layout);
    if (!opened.Volume) {
        if (opened.Error == TSourceError::DidNotOpen) {
            result->OpenFailure = std::move(opened.OpenFailure);
            result->Outcome = TScanOutcome::VolumeDidNotOpen;
        } else {
            // No partition to scan: the table is in the result.
            result->SourceError = opened.Error;
            result->Outcome = TScanOutcome::NotNtfs;
        }
        return result;
    }
    if (m_options.Deep) return RunDeep(stop, sink, std::move(opened), std::move(result));
    TScanEngine engine(*opened.Volume);
    engine.SetWalkThreads(m_options.WalkThreads);
    const auto finish = [&](TScanOutcome outcome) {
        result->Outcome = outcome;
        result->Counters = engine.Counters();
        return std::shared_ptr<const TScanResult>(std::move(result));
    };

    TDriveFacts& facts = result->Facts;

    engine.ReadBootSector();
    const ntfs::TBOOT_SECTOR& boot = engine.Boot();
    if (m_options.ReadLabel) facts.Label = opened.Label;
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
    return finish(engine.Walk(stop, rows, m_options.Details));
}

std::shared_ptr<const TScanResult> TScanSession::RunDeep(const std::atomic<bool>& stop,
                                                         TScanSessionSink& sink, TOpenedSource opened,
                                                         std::shared_ptr<TScanResult> result) {
    result->Deep = true;
    TDriveFacts& facts = result->Facts;
    // What the source's first sector says of itself, when it is a volume.
    TScanEngine engine(*opened.Volume);
    engine.ReadBootSector();
    if (engine.IsNtfs()) {
        if (m_options.ReadLabel) facts.Label = opened.Label;
        facts.SerialNumber = engine.Boot().VolumeSerialNumber;
        facts.Oem = ntfs::OemText(engine.Boot());
    }
    sink.OnFacts(TScanStage::BootSector, facts);
    facts.VolumeBytes = opened.Volume->Size();
    sink.OnFacts(TScanStage::Geometry, facts);

    TDeepRowSink rows(sink, *result, m_options.KeepRows);
    TDeepPass pass(*opened.Volume);
    TDeepResult deep = pass.Run(stop, rows);
    for (std::size_t i = 0; i < deep.Volumes.size() && i < deep.Maps.size(); ++i)
        result->DeepVolumes.push_back({std::move(deep.Volumes[i]), std::move(deep.Maps[i])});
    result->DeepCounters = deep.Counters;
    result->Outcome = deep.Stopped ? TScanOutcome::Stopped : TScanOutcome::Completed;
    return result;
}

}  // namespace scan
