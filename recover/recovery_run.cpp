// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/recovery_run.h"

#include "platform/window_volume.h"
#include "recover/content_plan.h"

namespace recover {

TRecoveryRun::TRecoveryRun(std::shared_ptr<const scan::TScanResult> scan) : m_scan(std::move(scan)) {}

TRecoverySummary TRecoveryRun::Run(const std::atomic<bool>& stop, TRowSource& rows, TRecoverySink& sink) {
    TRecoverySummary summary;
    if (!m_scan) return summary;
    const scan::TScanResult& scan = *m_scan;

    // The volume the rows were scanned from, opened once for the run.
    std::shared_ptr<platform::TRawVolume> volume = scan.Source.Given;
    if (!volume) {
        platform::TOpenFailure why;
        auto opened = platform::OpenRawVolumePath(scan.Source.Resolved, &why);
        // A partition of a whole disk: the captions are offsets within it.
        if (opened && (scan.Source.StartByte != 0 || scan.Source.Length != 0)) {
            const std::uint64_t size = opened->Size();
            const std::uint64_t length =
                scan.Source.Length != 0 ? scan.Source.Length
                                        : (size > scan.Source.StartByte ? size - scan.Source.StartByte : 0);
            opened =
                std::make_unique<platform::TWindowVolume>(std::move(opened), scan.Source.StartByte, length);
        }
        volume = std::move(opened);
        if (!volume) {
            if (scan.Source.Resolved.empty()) {
                why.Kind = platform::TOpenError::NoSuchDevice;
                why.Reason = platform::OpenErrorText(why.Kind, 0);
            }
            summary.OpenFailure = std::move(why);
            return summary;
        }
    }

    // Names follow each output folder's file system (a FAT or exFAT stick
    // needs the Windows rules even on Linux); a refused name falls back to a
    // safe one, and no file of this run is replaced by a later one.
    TRunTargets targets;
    std::size_t from = 0;
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) {
            summary.Stopped = true;
            break;
        }
        const std::optional<TChosenRow> next = rows.Next(from);
        if (!next || next->Index >= scan.Rows.size()) break;
        const scan::DeletedFileEntry& row = scan.Rows[next->Index];
        TFileOutcome outcome;
        outcome.Index = next->Index;
        const TContentPlan plan = PlanMftRecord(*volume, scan.Layout.Map, row.Record, scan.Geometry);
        outcome.Result = targets.Write(
            next->Folder, row.Name, next->NameIndex.value_or(next->Index), next->Naming,
            [&](const std::string& path) {
                TRecoverResult r = WritePlannedFile(*volume, plan, path);
                using TOutcome = TRunTargets::TWriteOutcome;
                const TOutcome how =
                    r.Status == TRecoverStatus::Written ? TOutcome::Written
                    : r.Status == TRecoverStatus::OutputFailed && OutputErrorMayBeTheName(r.OutputError)
                        ? TOutcome::OutputFailed
                        : TOutcome::Skipped;
                return std::pair{how, r};
            },
            outcome.Target);
        if (outcome.Result.Status == TRecoverStatus::Written) {
            ++summary.Written;
        } else {
            ++summary.Skipped;
        }
        sink.OnFile(outcome);
        from = next->Index + 1;
    }
    return summary;
}

// The rows of a fixed list, in the list's order.
TListedRows::TListedRows(std::vector<std::size_t> indices, TNamingChoice naming, std::string folder)
    : m_indices(std::move(indices)), m_naming(naming), m_folder(std::move(folder)) {}

std::optional<TChosenRow> TListedRows::Next(std::size_t from) {
    while (m_next < m_indices.size() && m_indices[m_next] < from) ++m_next;
    if (m_next >= m_indices.size()) return std::nullopt;
    return TChosenRow{m_indices[m_next++], m_naming, m_folder, std::nullopt};
}

}  // namespace recover
