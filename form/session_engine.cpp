// The engine's sessions behind form::TEngine.
//
// Until the engine's scan session and recovery run are in the core, this
// drives the scan engine and the file extraction in the same shape: the
// source is resolved and opened once per scan and once per recovery, the
// facts are reported as numbers, and the recovery reads the volume the scan
// result names, never the drive list's current selection.
#include "form/toolkit_free.h"
//
#include <vector>

#include "form/engine.h"
#include "ntfs/boot_sector.h"
#include "ntfs/byte_view.h"
#include "platform/drives.h"
#include "platform/raw_volume.h"
#include "recover/recover_file.h"
#include "recover/target_name.h"
#include "scan/scan_engine.h"

namespace form {

namespace {

// Keeps each found row in the result and passes it on.
class TKeepingSink : public scan::TScanSink {
public:
    TKeepingSink(scan::TScanSessionSink& sink, std::vector<scan::DeletedFileEntry>& rows)
        : m_sink(sink), m_rows(rows) {}
    void OnProgress(std::uint64_t recordsDone) override { m_sink.OnProgress(recordsDone); }
    void OnFound(scan::DeletedFileEntry&& entry) override {
        m_sink.OnFound(entry);
        m_rows.push_back(std::move(entry));
    }

private:
    scan::TScanSessionSink& m_sink;
    std::vector<scan::DeletedFileEntry>& m_rows;
};

class TSessionEngine : public TEngine {
public:
    std::shared_ptr<const scan::TScanResult> Scan(const std::string& drive, const std::atomic<bool>& stop,
                                                  scan::TScanSessionSink& sink) override {
        auto result = std::make_shared<scan::TScanResult>();
        result->Source.Drive = drive;
        result->Source.Resolved =
            platform::IsDriveString(drive) ? platform::ResolveDrive(drive).value_or(std::string()) : drive;
        result->Outcome = scan::TScanOutcome::VolumeDidNotOpen;
        if (result->Source.Resolved.empty()) return result;
        auto bootVolume = platform::OpenRawVolumePath(result->Source.Resolved);
        auto volume = platform::OpenRawVolumePath(result->Source.Resolved);
        if (!bootVolume || !volume) return result;
        std::vector<std::uint8_t> sector(512, 0);
        bootVolume->ReadAt(0, sector);
        bootVolume.reset();
        const ntfs::TBOOT_SECTOR boot = ntfs::DecodeBootSector(ntfs::TByteView(sector));

        const std::string label = platform::IsDriveString(drive)
                                      ? platform::GetVolumeLabel(drive[0])
                                      : platform::GetVolumeLabelOfPath(result->Source.Resolved);
        scan::TScanEngine engine(std::move(volume), label);
        if (!engine.Open()) return result;
        engine.ReadBootSector();
        scan::TDriveFacts& facts = result->Facts;
        facts.Label = label;
        facts.SerialNumber = boot.VolumeSerialNumber;
        facts.Oem = ntfs::OemText(boot);
        sink.OnFacts(scan::TScanStage::BootSector, facts);
        if (!engine.IsNtfs()) {
            result->Outcome = scan::TScanOutcome::NotNtfs;
            return result;
        }
        engine.DeriveGeometry();
        result->Geometry = engine.Geometry();
        facts.VolumeBytes = boot.TotalSectors * std::uint64_t{boot.BytesPerSector};
        facts.MftByteOffset = engine.MftByteOffset();
        facts.MftByteOffsetValid = ntfs::MftByteOffset(boot).has_value();
        sink.OnFacts(scan::TScanStage::Geometry, facts);
        if (const auto early = engine.ReadMftLayout()) {
            result->Outcome = *early;
            return result;
        }
        result->Layout = engine.Layout();
        facts.MftBytes = engine.MftByteLength();
        facts.RecordCount = engine.RecordCount();
        sink.OnFacts(scan::TScanStage::MftLayout, facts);
        sink.OnWalkStart(engine.WalkLength());
        TKeepingSink keeping(sink, result->Rows);
        result->Outcome = engine.Walk(stop, keeping);
        result->Counters = engine.Counters();
        return result;
    }

    recover::TRecoverySummary Recover(std::shared_ptr<const scan::TScanResult> scan,
                                      const std::atomic<bool>& stop, recover::TRowSource& rows,
                                      recover::TRecoverySink& sink) override {
        recover::TRecoverySummary summary;
        auto volume = platform::OpenRawVolumePath(scan->Source.Resolved);
        if (!volume) {
            summary.OpenFailure = scan::TOpenFailure{0, "the volume did not open"};
            return summary;
        }
        const recover::TNameRules rules = recover::HostNameRules();
        recover::TWrittenNames written(rules);
        std::size_t from = 0;
        for (;;) {
            if (stop) {
                summary.Stopped = true;
                break;
            }
            const std::optional<recover::TChosenRow> next = rows.Next(from);
            if (!next) break;
            from = next->Index + 1;
            if (next->Index >= scan->Rows.size()) continue;
            const scan::DeletedFileEntry& entry = scan->Rows[next->Index];
            const std::string name =
                recover::TargetFileName(entry.Name, next->Index, next->Naming, rules, written);
            recover::TFileOutcome outcome;
            outcome.Index = next->Index;
            outcome.Target = recover::JoinTargetPath(next->Folder, name, rules);
            outcome.Result =
                recover::RecoverFileFromRecord(*volume, entry.ByteOffset, scan->Geometry, outcome.Target);
            if (outcome.Result.Status == recover::TRecoverStatus::Written) {
                written.Add(name);
                ++summary.Written;
            } else {
                ++summary.Skipped;
            }
            sink.OnFile(outcome);
        }
        return summary;
    }
};

}  // namespace

std::unique_ptr<TEngine> SessionEngine() {
    return std::make_unique<TSessionEngine>();
}

}  // namespace form
