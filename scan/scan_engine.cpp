// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_engine.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "ntfs/file_record.h"
#include "platform/drives.h"
#include "scan/record_decoder.h"

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
        const auto path = platform::ResolveDrive(m_source);
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

TScanOutcome TScanEngine::Walk(const std::atomic<bool>& stop, TScanSink& sink, bool details) {
    if (!details) return WalkRecords(stop, sink, nullptr);
    // A run past the clusters the volume really has names nothing: the boot
    // sector's count is only a claim.
    std::uint64_t clusters =
        VolumeClusterCount(m_boot.TotalSectors, m_boot.BytesPerSector, m_geometry.BytesPerCluster);
    if (m_volume->Size() > 0 && m_geometry.BytesPerCluster > 0)
        clusters = std::min<std::uint64_t>(clusters, m_volume->Size() / m_geometry.BytesPerCluster);
    TRowDetailsCollector collector(m_geometry, clusters);
    const TScanOutcome outcome = WalkRecords(stop, sink, &collector);
    collector.Resolve(*m_volume, m_layout.Map, [&sink](std::size_t row, TRowDetails&& found) {
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

// The volume as the walk's threads share it: one read at a time, since not
// every volume (a Windows device's sector reader, a test's counting volume)
// may be read from two threads at once. The workers read only the rare
// extension records; the chunks are read by the walking thread.
class TLockedVolume : public platform::TRawVolume {
public:
    explicit TLockedVolume(platform::TRawVolume& inner) : m_inner(inner) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_inner.ReadAt(offset, out);
    }
    std::uint64_t Size() const override { return m_inner.Size(); }

private:
    platform::TRawVolume& m_inner;
    std::mutex m_mutex;
};

// One chunk of the walk on its way: read by the walking thread, decoded by
// a worker, handed on by the walking thread in record order.
struct TChunkJob {
    std::uint64_t First = 0;
    std::size_t Count = 0;
    std::size_t Got = 0;
    std::vector<std::uint8_t> Bytes;
    TDecodedStretch Stretch;
    bool Done = false;
};

unsigned WalkWorkers(unsigned asked) {
    if (asked != 0) return asked;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

}  // namespace

TScanOutcome TScanEngine::WalkRecords(const std::atomic<bool>& stop, TScanSink& sink,
                                      TRowDetailsCollector* details) {
    const std::uint64_t recordSize = m_geometry.BytesPerFileRecord;
    if (m_recordCount <= kFirstUserRecord || recordSize == 0) return TScanOutcome::Completed;
    const std::size_t perChunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(1, kChunkBytes / recordSize), WalkLength()));
    const std::uint64_t chunks = (WalkLength() + perChunk - 1) / perChunk;
    const std::uint64_t clusters = details ? details->ClusterCount() : 0;
    const unsigned workers = WalkWorkers(m_walkThreads);

    // A short walk, or one core: decode on this thread, chunk by chunk.
    if (workers < 2 || chunks < 2) {
        TRecordDecoder decoder(m_geometry, m_layout.Map, *m_volume, details != nullptr, clusters);
        std::vector<std::uint8_t> bytes(perChunk * recordSize);
        TDecodedStretch stretch;
        for (std::uint64_t n = kFirstUserRecord; n < m_recordCount;) {
            if (stop.load(std::memory_order_relaxed)) return TScanOutcome::Stopped;
            const std::size_t batch =
                static_cast<std::size_t>(std::min<std::uint64_t>(perChunk, m_recordCount - n));
            const std::span<std::uint8_t> span(bytes.data(), batch * recordSize);
            const std::size_t got = m_layout.Map.Read(*m_volume, n * recordSize, span);
            decoder.Decode(n, batch, span, got, stretch);
            if (!Deliver(stretch, stop, sink, details)) return TScanOutcome::Stopped;
            n += batch;
        }
        return TScanOutcome::Completed;
    }

    // Otherwise the workers decode chunks while this thread reads the next
    // ones and hands the decoded ones on, in order. A few chunks per worker
    // are in flight, so no thread waits on another for long.
    TLockedVolume volume(*m_volume);
    const std::size_t inFlight = workers * 3;
    std::vector<TChunkJob> jobs(inFlight);
    std::mutex mutex;
    std::condition_variable workReady;
    std::condition_variable chunkDone;
    std::deque<TChunkJob*> queue;  // read, waiting for a worker
    bool closing = false;

    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            TRecordDecoder decoder(m_geometry, m_layout.Map, volume, details != nullptr, clusters);
            for (;;) {
                TChunkJob* job = nullptr;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    workReady.wait(lock, [&] { return closing || !queue.empty(); });
                    if (queue.empty()) return;
                    job = queue.front();
                    queue.pop_front();
                }
                decoder.Decode(job->First, job->Count,
                               std::span<std::uint8_t>(job->Bytes.data(), job->Count * recordSize), job->Got,
                               job->Stretch);
                {
                    const std::lock_guard<std::mutex> lock(mutex);
                    job->Done = true;
                }
                chunkDone.notify_all();
            }
        });
    }
    const auto finish = [&] {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            closing = true;
            queue.clear();
        }
        workReady.notify_all();
        for (std::thread& t : threads) t.join();
    };

    std::uint64_t nextRecord = kFirstUserRecord;
    std::uint64_t read = 0;       // chunks read and queued
    std::uint64_t delivered = 0;  // chunks handed on
    TScanOutcome outcome = TScanOutcome::Completed;
    while (delivered < chunks) {
        // Keep the workers fed.
        while (read < chunks && read - delivered < inFlight) {
            if (stop.load(std::memory_order_relaxed)) break;
            TChunkJob& job = jobs[read % inFlight];
            job.First = nextRecord;
            job.Count =
                static_cast<std::size_t>(std::min<std::uint64_t>(perChunk, m_recordCount - nextRecord));
            job.Bytes.resize(perChunk * recordSize);
            job.Got = m_layout.Map.Read(volume, nextRecord * recordSize,
                                        std::span<std::uint8_t>(job.Bytes.data(), job.Count * recordSize));
            job.Done = false;
            nextRecord += job.Count;
            ++read;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                queue.push_back(&job);
            }
            workReady.notify_one();
        }
        if (stop.load(std::memory_order_relaxed)) {
            outcome = TScanOutcome::Stopped;
            break;
        }
        TChunkJob& next = jobs[delivered % inFlight];
        {
            std::unique_lock<std::mutex> lock(mutex);
            chunkDone.wait(lock, [&] { return next.Done; });
        }
        if (!Deliver(next.Stretch, stop, sink, details)) {
            outcome = TScanOutcome::Stopped;
            break;
        }
        ++delivered;
    }
    finish();
    return outcome;
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
