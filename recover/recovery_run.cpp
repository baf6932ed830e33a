// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/recovery_run.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/locked_volume.h"
#include "recover/content_plan.h"
#include "recover/output_file.h"
#include "recover/run_bound.h"
#include "scan/volume_source.h"

namespace recover {

namespace {

// Rows whose content may be on its way at once: enough to keep the writing
// threads busy while this one names files, few enough that the temporary
// files and plans held stay small.
constexpr std::size_t kRowsAhead = 32;

// On two cores one writing thread beside the naming one was fastest into
// ext4 (0.98 s for 25,000 small files against 1.29 s with two and 1.54 s
// with three): more of them only wait on the folder's lock and the journal.
unsigned WriteThreads(unsigned asked) {
    if (asked != 0) return asked;
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores > 1 ? cores - 1 : 1u, 1u, 2u);
}

// One row on its way: planned and written to a temporary file by whichever
// thread takes it first, then named by the run's thread.
struct TJob {
    TChosenRow Row;
    std::uint64_t Ticket = 0;  // its place among the run's rows, for the bound
    TContentPlan Plan;
    TClusterGrant Grant;
    bool Bounded = false;  // Grant holds the run's decision
    TPreparedFile File;
};

// Rows whose clusters may belong to other files now: they may repeat
// clusters another file of the run wrote.
bool MayRepeatClusters(const scan::DeletedFileEntry& row) {
    const scan::TVerdict v = row.Details.Recoverability.Verdict;
    return v == scan::TVerdict::Overwritten || v == scan::TVerdict::Partial;
}

// What the rows that may not repeat clusters claim together: their clusters,
// and a resident value's length in whole clusters (at most a record long).
std::uint64_t SoundClaimBytes(const scan::TScanResult& scan) {
    const std::uint64_t bpc = scan.Geometry.BytesPerCluster;
    const std::uint64_t recordBytes = scan.Geometry.BytesPerFileRecord;
    if (bpc == 0) return UINT64_MAX;
    std::uint64_t total = 0;
    auto add = [&](std::uint64_t bytes) { total = bytes > UINT64_MAX - total ? UINT64_MAX : total + bytes; };
    for (const scan::DeletedFileEntry& row : scan.Rows) {
        if (MayRepeatClusters(row)) continue;
        const std::uint64_t clusters = row.Details.Recoverability.Clusters;
        if (clusters != 0) {
            add(clusters > UINT64_MAX / bpc ? UINT64_MAX : clusters * bpc);
        } else if (row.Size > 0) {
            const std::uint64_t value =
                std::min<std::uint64_t>(static_cast<std::uint64_t>(row.Size), recordBytes);
            add((value + bpc - 1) / bpc * bpc);
        }
    }
    return total;
}

void Prepare(platform::TRawVolume& volume, const scan::TScanResult& scan, TRunBound* bound, TJob& job) {
    const scan::DeletedFileEntry& row = scan.Rows[job.Row.Index];
    job.Plan = PlanMftRecord(volume, scan.Layout.Map, row.Record, scan.Geometry);
    if (bound) {
        // Every ticket is decided, a row that writes nothing included, so the
        // rows after it are not kept waiting.
        const bool writes = job.Plan.Result.Status == TRecoverStatus::Written;
        job.Grant = bound->Grant(job.Ticket, ClustersToRead(job.Plan, volume.Size()), MayRepeatClusters(row),
                                 writes && job.Plan.Resident ? job.Plan.ResidentValue.size() : 0);
        job.Bounded = true;
    }
    job.File = PrepareFile(volume, job.Plan, job.Row.Folder, job.Bounded ? &job.Grant : nullptr);
}

// The rows asked for and not yet named, in row order, and the threads that
// write their content ahead. With no threads the run's thread writes each
// row's content itself when it comes to it.
class TAheadWriters {
public:
    TAheadWriters(platform::TRawVolume& volume, const scan::TScanResult& scan, TRunBound* bound,
                  unsigned threads)
        : m_volume(volume), m_scan(scan), m_bound(bound) {
        for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back([this] { Work(); });
    }
    ~TAheadWriters() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads) t.join();
    }
    TAheadWriters(const TAheadWriters&) = delete;
    TAheadWriters& operator=(const TAheadWriters&) = delete;

    std::size_t Waiting() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_jobs.size();
    }

    void Add(TChosenRow row) {
        auto job = std::make_unique<TJob>();
        job->Row = std::move(row);
        job->Ticket = m_tickets++;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back({std::move(job), false, false});
        }
        m_wake.notify_one();
    }

    // The first row, its content written; empty when none is waiting.
    std::unique_ptr<TJob> TakeFront() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_jobs.empty()) return nullptr;
        TSlot& front = m_jobs.front();
        if (!front.Taken) {
            // No writer has come to it yet: this thread writes it.
            front.Taken = true;
            TJob& job = *front.Job;
            lock.unlock();
            Prepare(m_volume, m_scan, m_bound, job);
            lock.lock();
            front.Done = true;
        }
        m_done.wait(lock, [&] { return m_jobs.front().Done; });
        std::unique_ptr<TJob> job = std::move(m_jobs.front().Job);
        m_jobs.pop_front();
        return job;
    }

private:
    struct TSlot {
        std::unique_ptr<TJob> Job;
        bool Taken = false;
        bool Done = false;
    };

    void Work() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            TSlot* slot = nullptr;
            m_wake.wait(lock, [&] {
                if (m_quit) return true;
                for (TSlot& s : m_jobs)
                    if (!s.Taken) {
                        slot = &s;
                        return true;
                    }
                return false;
            });
            if (!slot) return;
            slot->Taken = true;
            TJob& job = *slot->Job;
            lock.unlock();
            Prepare(m_volume, m_scan, m_bound, job);
            lock.lock();
            slot->Done = true;
            m_done.notify_all();
        }
    }

    platform::TRawVolume& m_volume;
    const scan::TScanResult& m_scan;
    TRunBound* m_bound;
    std::uint64_t m_tickets = 0;  // handed out by Add, on the run's thread
    std::mutex m_mutex;
    std::condition_variable m_wake;  // a row to write, or the end
    std::condition_variable m_done;  // a row's content written
    // Slots stay where they are while the deque grows at its back and
    // shrinks at its front, so a writer's slot outlives its work.
    std::deque<TSlot> m_jobs;
    std::vector<std::thread> m_threads;
    bool m_quit = false;
};

}  // namespace

TRecoveryRun::TRecoveryRun(std::shared_ptr<const scan::TScanResult> scan) : m_scan(std::move(scan)) {}

TRecoverySummary TRecoveryRun::Run(const std::atomic<bool>& stop, TRowSource& rows, TRecoverySink& sink) {
    TRecoverySummary summary;
    if (!m_scan) return summary;
    const scan::TScanResult& scan = *m_scan;

    // The volume the rows were scanned from, opened once for the run; for a
    // partition of a whole disk the captions are offsets within it.
    scan::TOpenedSource opened = scan::OpenSource(scan.Source);
    if (!opened.Volume) {
        summary.OpenFailure = std::move(opened.OpenFailure);
        return summary;
    }
    platform::TRawVolume* const volume = opened.Volume.get();

    // Reads may come from the writing threads and from this one at once.
    platform::TLockedVolume locked(*volume);
    platform::TRawVolume& shared =
        volume->AllowsConcurrentReads() ? *volume : static_cast<platform::TRawVolume&>(locked);
    const unsigned threads = rows.FixedBeforeTheRun() ? WriteThreads(m_writeThreads) : 0;
    // A volume of unknown size has no bound to keep to.
    std::optional<TRunBound> bound;
    if (volume->Size() != 0)
        bound.emplace(volume->Size(), scan.Geometry.BytesPerCluster, SoundClaimBytes(scan));
    TAheadWriters writers(shared, scan, bound ? &*bound : nullptr, threads);

    // Names follow each output folder's file system (a FAT or exFAT stick
    // needs the Windows rules even on Linux); a refused name falls back to a
    // safe one, and no file of this run is replaced by a later one. Names are
    // given here, in row order, whichever thread wrote the content.
    TRunTargets targets;
    std::set<std::string> cleaned;  // folders whose stale temporary files are gone
    std::size_t from = 0;
    bool listEnded = false;
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) {
            summary.Stopped = true;
            break;
        }
        // A window's rows are asked for one at a time, each once the file
        // before has reached the sink; a fixed list's rows a stretch ahead.
        while (!listEnded && writers.Waiting() < (threads == 0 ? 1 : kRowsAhead)) {
            const std::optional<TChosenRow> next = rows.Next(from);
            if (!next || next->Index >= scan.Rows.size()) {
                listEnded = true;
                break;
            }
            from = next->Index + 1;
            // Temporary files a killed run left in a folder go before this
            // run writes there.
            if (cleaned.insert(next->Folder).second) RemoveStaleTempFiles(next->Folder);
            writers.Add(*next);
        }
        std::unique_ptr<TJob> job = writers.TakeFront();
        if (!job) break;
        const TChosenRow& chosen = job->Row;
        TFileOutcome outcome;
        outcome.Index = chosen.Index;
        bool prepared = true;
        outcome.Result = targets.Write(
            chosen.Folder, scan.Rows[chosen.Index].Name, chosen.NameIndex.value_or(chosen.Index),
            chosen.Naming,
            [&](const std::string& path) {
                // The content already written goes under the first name; a
                // second name (the fallback) is written afresh.
                TRecoverResult r = prepared ? CommitPreparedFile(job->File, path)
                                            : WritePlannedFile(shared, job->Plan, path,
                                                               job->Bounded ? &job->Grant : nullptr);
                prepared = false;
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
    }
    // Content written ahead for rows after a stop is dropped with its
    // temporary files when the writers go.
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
