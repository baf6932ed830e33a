// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/recovery_run.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/locked_volume.h"
#include "platform/window_volume.h"
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

// Where rows are read: the scanned volume, or for a deep scan one of the
// file systems the pass found, a stretch of the source with its own
// geometry and MFT map. Each has its own bound, since each is a volume of
// its own size whose clusters its rows share.
struct TReadPlace {
    std::unique_ptr<platform::TSpanVolume> Span;  // a deep scan's file system
    platform::TRawVolume* Volume = nullptr;
    const ntfs::TDISK_INFORMATION* Geometry = nullptr;
    const ntfs::TMftMap* Map = nullptr;
    std::uint64_t Start = 0;  // its first byte on the source (a deep scan's row captions are source bytes)
    std::optional<TRunBound> Bound;
    std::uint64_t Tickets = 0;  // the bound's tickets handed out so far, on the run's thread
};

// One row on its way: planned and written to a temporary file by whichever
// thread takes it first, then named by the run's thread.
struct TJob {
    TChosenRow Row;
    TReadPlace* Place = nullptr;
    std::uint64_t Ticket = 0;  // in its place's bound
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

// What the rows of each place that may not repeat clusters claim together:
// their clusters, and a resident value's length in whole clusters (at most
// a record long); one pass over the rows. geometryOf(place) is that place's
// geometry; placeOf(row) its place's index, or nothing for a row without one.
template <typename TGeometryOf, typename TPlaceOf>
std::vector<std::uint64_t> SoundClaimBytes(const scan::TScanResult& scan, std::size_t places,
                                           TGeometryOf geometryOf, TPlaceOf placeOf) {
    std::vector<std::uint64_t> totals(places, 0);
    for (std::size_t i = 0; i < scan.Rows.size(); ++i) {
        const scan::DeletedFileEntry& row = scan.Rows[i];
        const std::optional<std::size_t> place = placeOf(i);
        if (!place || MayRepeatClusters(row)) continue;
        const ntfs::TDISK_INFORMATION& geometry = geometryOf(*place);
        const std::uint64_t bpc = geometry.BytesPerCluster;
        std::uint64_t& total = totals[*place];
        if (bpc == 0) {
            total = UINT64_MAX;
            continue;
        }
        auto add = [&](std::uint64_t bytes) {
            total = bytes > UINT64_MAX - total ? UINT64_MAX : total + bytes;
        };
        const std::uint64_t clusters = row.Details.Recoverability.Clusters;
        if (clusters != 0) {
            add(clusters > UINT64_MAX / bpc ? UINT64_MAX : clusters * bpc);
        } else if (row.Size > 0) {
            const std::uint64_t value =
                std::min<std::uint64_t>(static_cast<std::uint64_t>(row.Size), geometry.BytesPerFileRecord);
            add((value + bpc - 1) / bpc * bpc);
        }
    }
    return totals;
}

void Prepare(const scan::TScanResult& scan, TJob& job) {
    const scan::DeletedFileEntry& row = scan.Rows[job.Row.Index];
    TReadPlace& place = *job.Place;
    if (scan.Deep) {
        // The record is read where the pass found it: an old MFT's record
        // lies where no live MFT has it, or where the live one has another.
        const bool lost = scan.DeepRows[job.Row.Index].Lost;
        if (row.ByteOffset >= place.Start) {
            job.Plan = PlanFoundRecord(*place.Volume, *place.Map, row.ByteOffset - place.Start,
                                       *place.Geometry, lost);
        } else {
            job.Plan = TContentPlan{};
            job.Plan.Result.Status = TRecoverStatus::RecordUnreadable;
        }
    } else {
        job.Plan = PlanMftRecord(*place.Volume, *place.Map, row.Record, *place.Geometry);
    }
    if (place.Bound) {
        // Every ticket is decided, a row that writes nothing included, so the
        // rows after it are not kept waiting.
        const bool writes = job.Plan.Result.Status == TRecoverStatus::Written;
        job.Grant = place.Bound->Grant(job.Ticket, ClustersToRead(job.Plan, place.Volume->Size()),
                                       MayRepeatClusters(row),
                                       writes && job.Plan.Resident ? job.Plan.ResidentValue.size() : 0);
        job.Bounded = true;
    }
    job.File = PrepareFile(*place.Volume, job.Plan, job.Row.Folder, job.Bounded ? &job.Grant : nullptr);
}

// The rows asked for and not yet named, in row order, and the threads that
// write their content ahead. With no threads the run's thread writes each
// row's content itself when it comes to it.
class TAheadWriters {
public:
    TAheadWriters(const scan::TScanResult& scan, unsigned threads) : m_scan(scan) {
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

    void Add(TChosenRow row, TReadPlace& place) {
        auto job = std::make_unique<TJob>();
        job->Row = std::move(row);
        job->Place = &place;
        job->Ticket = place.Tickets++;
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
            Prepare(m_scan, job);
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
            Prepare(m_scan, job);
            lock.lock();
            slot->Done = true;
            m_done.notify_all();
        }
    }

    const scan::TScanResult& m_scan;
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
    std::vector<std::unique_ptr<TReadPlace>> places;
    if (scan.Deep) {
        for (const scan::TScanResult::TFoundVolume& found : scan.DeepVolumes) {
            auto place = std::make_unique<TReadPlace>();
            place->Span =
                std::make_unique<platform::TSpanVolume>(shared, found.Found.StartByte, found.Read.SpanBytes);
            place->Volume = place->Span.get();
            place->Geometry = &found.Read.Geometry;
            place->Map = &found.Read.Map;
            place->Start = found.Found.StartByte;
            places.push_back(std::move(place));
        }
    } else {
        auto place = std::make_unique<TReadPlace>();
        place->Volume = &shared;
        place->Geometry = &scan.Geometry;
        place->Map = &scan.Layout.Map;
        places.push_back(std::move(place));
    }
    // The place of row i; nothing for a row the result cannot place.
    const auto placeIndexOf = [&](std::size_t i) -> std::optional<std::size_t> {
        if (!scan.Deep) return 0;
        if (i >= scan.DeepRows.size() || scan.DeepRows[i].Volume >= places.size()) return std::nullopt;
        return scan.DeepRows[i].Volume;
    };
    const auto placeOf = [&](std::size_t i) -> TReadPlace* {
        const auto index = placeIndexOf(i);
        return index ? places[*index].get() : nullptr;
    };
    const std::vector<std::uint64_t> held = SoundClaimBytes(
        scan, places.size(),
        [&](std::size_t p) -> const ntfs::TDISK_INFORMATION& { return *places[p]->Geometry; }, placeIndexOf);
    for (std::size_t p = 0; p < places.size(); ++p) {
        // A volume of unknown size has no bound to keep to.
        TReadPlace& place = *places[p];
        if (place.Volume->Size() != 0 && place.Geometry->BytesPerCluster != 0)
            place.Bound.emplace(place.Volume->Size(), place.Geometry->BytesPerCluster, held[p]);
    }
    TAheadWriters writers(scan, threads);

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
            if (!next || next->Index >= scan.Rows.size() || placeOf(next->Index) == nullptr) {
                listEnded = true;
                break;
            }
            from = next->Index + 1;
            // Temporary files a killed run left in a folder go before this
            // run writes there.
            if (cleaned.insert(next->Folder).second) RemoveStaleTempFiles(next->Folder);
            writers.Add(*next, *placeOf(next->Index));
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
                                            : WritePlannedFile(*job->Place->Volume, job->Plan, path,
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
