// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_engine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "ntfs/file_record.h"
#include "platform/core_pin.h"
#include "platform/locked_volume.h"
#include "scan/record_decoder.h"

namespace scan {

TScanEngine::TScanEngine(platform::TRawVolume& volume) : m_volume(volume) {}

TScanEngine::~TScanEngine() = default;

void TScanEngine::ReadBootSector() {
    m_bootSector = ntfs::ReadBootSector(m_volume);
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
    auto location = ntfs::LocateMft(
        m_volume, m_geometry, m_mftOffsetValid ? std::optional<std::uint64_t>(m_mftByteOffset) : std::nullopt,
        ntfs::MftMirrByteOffset(m_boot));
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
    const std::uint64_t volumeSize = m_volume.Size();
    if (volumeSize > 0) m_recordCount = std::min(m_recordCount, volumeSize / recordSize);
    m_mftShownLength = MftByteLength();
    if (volumeSize > 0 && m_mftShownLength > volumeSize) m_mftShownLength = m_recordCount * recordSize;
    return std::nullopt;
}

TScanOutcome TScanEngine::Walk(const std::atomic<bool>& stop, TScanSink& sink, bool details) {
    if (!details) return WalkRecords(stop, sink, nullptr);
    // A run past the clusters the volume really has names nothing: the boot
    // sector's count is only a claim.
    std::uint64_t clusters =
        VolumeClusterCount(m_boot.TotalSectors, m_boot.BytesPerSector, m_geometry.BytesPerCluster);
    if (m_volume.Size() > 0 && m_geometry.BytesPerCluster > 0)
        clusters = std::min<std::uint64_t>(clusters, m_volume.Size() / m_geometry.BytesPerCluster);
    TRowDetailsCollector collector(m_geometry, clusters);
    const TScanOutcome outcome = WalkRecords(stop, sink, &collector);
    collector.Resolve(m_volume, m_layout.Map, [&sink](std::size_t row, TRowDetails&& found) {
        sink.OnDetails(row, std::move(found));
    });
    return outcome;
}

bool TScanEngine::Deliver(TDecodedStretch& stretch, const std::atomic<bool>& stop, TScanSink& sink,
                          TRowDetailsCollector* details) {
    if (details) {
        for (const TDirectoryNote& note : stretch.Directories) details->NoteDirectory(note);
    }
    std::size_t row = 0;
    for (std::size_t i = 0; i < stretch.Status.size(); ++i) {
        if (stop.load(std::memory_order_relaxed)) return false;
        ++m_counters.RecordsWalked;
        sink.OnProgress(m_counters.RecordsWalked);
        switch (stretch.Status[i]) {
            case TRecordStatus::Found: {
                ++m_counters.Found;
                if (row >= stretch.RowCount) break;  // not reached: one row per Found
                DeletedFileEntry& entry = stretch.Rows[row];
                if (details) details->NoteRow(std::move(stretch.RowNotes[row]), entry.NameText);
                ++row;
                sink.OnFound(std::move(entry));
                break;
            }
            case TRecordStatus::ReadFailure:
                ++m_counters.ReadFailures;
                break;
            case TRecordStatus::FixupFailure:
                ++m_counters.FixupFailures;
                break;
            case TRecordStatus::InUseOrDirectory:
                ++m_counters.InUseOrDirectory;
                break;
            case TRecordStatus::MissingAttributes:
                ++m_counters.MissingAttributes;
                break;
        }
    }
    return true;
}

namespace {

unsigned WalkWorkers(unsigned asked) {
    if (asked != 0) return asked;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

}  // namespace

TScanOutcome TScanEngine::WalkRecords(const std::atomic<bool>& stop, TScanSink& sink,
                                      TRowDetailsCollector* details) {
    const std::uint64_t recordSize = m_geometry.BytesPerFileRecord;
    if (m_recordCount <= kFirstUserRecord || recordSize == 0) return TScanOutcome::Completed;
    const std::uint64_t clusters = details ? details->ClusterCount() : 0;
    unsigned workers = WalkWorkers(m_walkThreads);
    // The walk is cut into turns of a few chunks, and each of `workers`
    // threads (this one among them) takes every workers-th turn:
    // it reads and decodes the turn's chunks (each into a buffer small
    // enough to stay in the CPU's cache), and then, once the turn before
    // has been handed on, hands its own on. Only the hand-over is taken in
    // turn, so one thread decodes while another hands on; a turn's rows are
    // rendered by the front end on the core that decoded them, and freed by
    // the thread that allocated them. The sink is thus called from several
    // threads, but never from two at once, and always in record order.
    const auto perChunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(1, kChunkBytes / recordSize), WalkLength()));
    const std::uint64_t perTurn = std::uint64_t{perChunk} * kChunksPerTurn;
    const std::uint64_t turns = (WalkLength() + perTurn - 1) / perTurn;
    // One core, or a walk too short to share: this thread takes every turn.
    if (turns < 2) workers = 1;
    platform::TLockedVolume locked(m_volume);
    platform::TRawVolume& volume = workers == 1 || m_volume.AllowsConcurrentReads()
                                       ? m_volume
                                       : static_cast<platform::TRawVolume&>(locked);

    // Whose turn it is to hand on. A thread waits for its turn by watching
    // `next` for a short while (the turn before is usually nearly handed on,
    // and putting a thread to sleep and waking it costs more than that on a
    // virtual machine), then by sleeping on the condition. Only the thread
    // whose turn it is calls the sink, so no lock is held meanwhile.
    std::mutex mutex;
    std::condition_variable turn;
    std::atomic<std::uint64_t> next{0};  // the turn to hand on next
    std::atomic<bool> stopped{false};
    const auto pass = [&](bool stopping) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (stopping) {
                stopped.store(true, std::memory_order_release);
            } else {
                next.fetch_add(1, std::memory_order_acq_rel);
            }
        }
        turn.notify_all();
    };
    const auto awaitTurn = [&](std::uint64_t index) {
        const auto ready = [&] {
            return stopped.load(std::memory_order_acquire) || next.load(std::memory_order_acquire) == index;
        };
        const auto until = std::chrono::steady_clock::now() + kTurnSpin;
        while (!ready()) {
            if (std::chrono::steady_clock::now() >= until) {
                std::unique_lock<std::mutex> lock(mutex);
                turn.wait(lock, ready);
                break;
            }
            std::this_thread::yield();
        }
        return !stopped.load(std::memory_order_acquire);
    };

    // The decoders are made here, before any thread starts: each one's date
    // formatter reads the time zone (tzset), which must not run on two
    // threads at once.
    std::vector<std::unique_ptr<TRecordDecoder>> decoders;
    for (unsigned w = 0; w < workers; ++w)
        decoders.push_back(
            std::make_unique<TRecordDecoder>(m_geometry, m_layout.Map, volume, details != nullptr, clusters));
    // The walking thread is left where the system puts it (a window's UI
    // thread may need its core); each thread it starts keeps to a core one
    // place on from it, so none starts beside it.
    const unsigned here = platform::CurrentCoreIndex();
    const auto work = [&](unsigned w) {
        std::optional<platform::TCorePin> pin;
        if (w != 0) pin.emplace(here + w);
        TRecordDecoder& decoder = *decoders[w];
        std::vector<std::uint8_t> bytes(perChunk * recordSize);
        TDecodedStretch stretch;
        for (std::uint64_t index = w; index < turns; index += workers) {
            if (stop.load(std::memory_order_relaxed)) {
                // A turn this thread will not hand on: no thread may wait
                // for its own after it.
                pass(true);
                return;
            }
            stretch.Clear();
            const std::uint64_t start = kFirstUserRecord + index * perTurn;
            const std::uint64_t end = std::min<std::uint64_t>(start + perTurn, m_recordCount);
            for (std::uint64_t first = start; first < end; first += perChunk) {
                const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(perChunk, end - first));
                const std::span<std::uint8_t> span(bytes.data(), count * recordSize);
                decoder.Decode(first, count, span, m_layout.Map.Read(volume, first * recordSize, span),
                               stretch);
            }

            if (!awaitTurn(index)) return;
            pass(!Deliver(stretch, stop, sink, details));
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, w);
    work(0);
    for (std::thread& t : threads) t.join();
    return next.load() == turns ? TScanOutcome::Completed : TScanOutcome::Stopped;
}

}  // namespace scan
