// SPDX-License-Identifier: GPL-3.0-or-later
// The deep pass on a large source: what it holds per found record, how even
// its progress is and how soon a stop takes. bench/deep_memory_bench.sh makes
// the source (a sparse file of a terabyte with real NTFS volumes at offsets
// that are not whole MiB) and runs this over it.
//
// The source opens through the source opener as it lies, as the command
// line's deep scan opens it. A first run reads it whole and prints its rate,
// the peak resident memory against the memory before it (and against the
// memory once the read buffer is in use, the fixed part), the pass's own
// count of what its found records took, the volumes it found and the widest
// gaps between progress calls, in time and bytes. A second run is stopped
// from another thread STOP seconds in (by default once it has read half the
// source: a second read may be quicker than the first, the cache warm) and
// prints how long the pass took to return.
//
//   deep_memory_bench IMAGE [STOP_SECONDS]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/raw_volume.h"
#include "scan/deep_pass.h"
#include "scan/volume_source.h"

namespace {

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double MiB(std::uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Resident bytes now, from /proc/self/status (VmRSS); 0 when not told.
std::uint64_t ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    }
    return 0;
}

// The process's peak resident bytes so far (ru_maxrss is in KiB on Linux).
std::uint64_t PeakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

// Counts the rows and drops them (what a caller keeps of them is its own
// memory, not the pass's), and times the progress calls.
class TWatch : public scan::TDeepSink {
public:
    TClock::time_point Start = TClock::now();
    TClock::time_point Last = Start;
    TClock::time_point ReadOver = Start;
    std::uint64_t LastBytes = 0;
    std::atomic<std::uint64_t> Done{0};  // for the thread that stops the pass
    std::uint64_t Calls = 0;
    std::uint64_t Rows = 0;
    double MaxGapMs = 0;
    std::uint64_t MaxGapBytes = 0;
    std::uint64_t MaxGapBytesAt = 0;
    double MaxGapMsAt = 0;  // MiB done when the widest time gap ended
    std::uint64_t FirstCallResident = 0;
    double FirstCallMs = 0;  // from the start to the first call (the gaps below are between calls)
    std::uint64_t VolumesResident = 0;

    void OnProgress(std::uint64_t bytesDone, std::uint64_t) override {
        const TClock::time_point now = TClock::now();
        if (Calls++ == 0) {
            FirstCallResident = ResidentBytes();  // the read buffer is in use by now
            FirstCallMs = Ms(now - Start);
        } else if (Ms(now - Last) > MaxGapMs) {
            MaxGapMs = Ms(now - Last);
            MaxGapMsAt = MiB(bytesDone);
        }
        if (bytesDone - LastBytes > MaxGapBytes) {
            MaxGapBytes = bytesDone - LastBytes;
            MaxGapBytesAt = bytesDone;
        }
        Last = now;
        LastBytes = bytesDone;
        Done.store(bytesDone);
    }
    void OnVolumes(const std::vector<ntfs::TInferredVolume>&) override {
        ReadOver = TClock::now();
        VolumesResident = ResidentBytes();  // the found records, before the decoding
    }
    void OnRow(scan::TDeepRow&&) override { ++Rows; }
};

double PerRecord(double bytes, std::uint64_t records) {
    return records == 0 ? 0.0 : bytes / static_cast<double>(records);
}

const char* SourceText(ntfs::TGeometrySource source) {
    return source == ntfs::TGeometrySource::MftRecord0 ? "record 0" : "boot sector";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: deep_memory_bench IMAGE [STOP_SECONDS]\n");
        return 2;
    }
    scan::TSourceRequest request;
    request.Name = argv[1];
    request.Scope = scan::TSourceScope::AsItIs;
    const scan::TOpenedSource opened = scan::OpenSource(request);
    platform::TRawVolume* const volume = opened.Volume.get();
    if (!volume) {
        std::fprintf(stderr, "deep_memory_bench: %s does not open\n", argv[1]);
        return 1;
    }
    const std::uint64_t size = volume->Size();
    std::printf("source: %s, %.1f GiB (%llu bytes)\n", argv[1], MiB(size) / 1024.0,
                static_cast<unsigned long long>(size));

    // 1. The whole pass.
    const std::uint64_t before = ResidentBytes();
    std::atomic<bool> stop{false};
    TWatch watch;
    const scan::TDeepResult result = scan::TDeepPass(*volume).Run(stop, watch);
    const TClock::time_point end = TClock::now();
    const std::uint64_t peak = PeakResidentBytes();
    const double seconds = Ms(end - watch.Start) / 1000.0;
    const double readSeconds = Ms(watch.ReadOver - watch.Start) / 1000.0;
    const auto& c = result.Counters;
    std::printf(
        "pass: %.1f s, %.0f MB/s (the read alone: %.1f s, %.0f MB/s; after the last progress call: %.0f "
        "ms)\n",
        seconds, static_cast<double>(size) / 1e6 / seconds, readSeconds,
        static_cast<double>(c.BytesRead) / 1e6 / readSeconds, Ms(end - watch.Last));
    std::printf(
        "records found: %llu, boot sectors: %llu, duplicates: %llu, live in use: %llu, unplaced: %llu\n",
        static_cast<unsigned long long>(c.RecordsFound), static_cast<unsigned long long>(c.BootSectors),
        static_cast<unsigned long long>(c.Duplicates), static_cast<unsigned long long>(c.LiveInUse),
        static_cast<unsigned long long>(c.Unplaced));
    std::printf("rows: %llu (given to the sink: %llu), not files: %llu, read failures: %llu\n",
                static_cast<unsigned long long>(c.Rows), static_cast<unsigned long long>(watch.Rows),
                static_cast<unsigned long long>(c.NotFiles), static_cast<unsigned long long>(c.ReadFailures));
    std::printf("volumes: %zu\n", result.Volumes.size());
    for (const ntfs::TInferredVolume& v : result.Volumes) {
        std::printf("  at %llu (%llu MiB + %llu bytes), %llu bytes, cluster %u, record %u, from its %s\n",
                    static_cast<unsigned long long>(v.StartByte),
                    static_cast<unsigned long long>(v.StartByte >> 20),
                    static_cast<unsigned long long>(v.StartByte & ((1u << 20) - 1)),
                    static_cast<unsigned long long>(v.Bytes), v.BytesPerCluster, v.BytesPerFileRecord,
                    SourceText(v.Source));
    }
    // Beyond the fixed buffers: the read buffer is resident at the first
    // progress call; the read-back window comes after the read.
    const double fixedAfter = static_cast<double>(watch.FirstCallResident) +
                              static_cast<double>(scan::TDeepPass::kDecodeWindowBytes);
    std::printf(
        "resident: before %.1f MiB, at the first progress call %.1f MiB, once read %.1f MiB, peak %.1f MiB\n",
        MiB(before), MiB(watch.FirstCallResident), MiB(watch.VolumesResident), MiB(peak));
    std::printf("peak - before: %.1f MiB, %.1f bytes per found record\n", MiB(peak - std::min(peak, before)),
                PerRecord(static_cast<double>(peak - std::min(peak, before)), c.RecordsFound));
    std::printf(
        "peak beyond the fixed buffers (read buffer, %zu MiB window): %.1f MiB, %.1f bytes per found "
        "record\n",
        scan::TDeepPass::kDecodeWindowBytes >> 20,
        std::max(0.0, static_cast<double>(peak) - fixedAfter) / (1024.0 * 1024.0),
        PerRecord(std::max(0.0, static_cast<double>(peak) - fixedAfter), c.RecordsFound));
    std::printf("pass's FoundRecordBytes: %llu, %.1f bytes per found record\n",
                static_cast<unsigned long long>(result.FoundRecordBytes),
                PerRecord(static_cast<double>(result.FoundRecordBytes), c.RecordsFound));
    std::printf(
        "progress: %llu calls, the first after %.1f ms; widest gap %.1f ms (ending at %.0f MiB), %.2f MiB "
        "(ending at %.0f MiB)\n",
        static_cast<unsigned long long>(watch.Calls), watch.FirstCallMs, watch.MaxGapMs, watch.MaxGapMsAt,
        MiB(watch.MaxGapBytes), MiB(watch.MaxGapBytesAt));

    // 2. A pass stopped from another thread.
    const bool timed = argc == 3;
    const auto stopAfter = std::chrono::duration<double>(timed ? std::atof(argv[2]) : 0.0);
    std::atomic<bool> stop2{false};
    std::atomic<bool> over{false};
    TWatch watch2;
    TClock::time_point set;
    std::thread stopper([&] {
        const TClock::time_point start = TClock::now();
        while (!over.load() && (timed ? TClock::now() - start < stopAfter : watch2.Done.load() < size / 2))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        set = TClock::now();
        stop2.store(true);
    });
    const scan::TDeepResult stopped = scan::TDeepPass(*volume).Run(stop2, watch2);
    const TClock::time_point returned = TClock::now();
    over.store(true);
    stopper.join();
    if (!stopped.Stopped) {
        std::printf("stop: the pass ended first (%.1f s), not stopped\n",
                    Ms(returned - watch2.Start) / 1000.0);
    } else {
        std::printf("stop set %.1f s in, at %.0f MiB read: returned %.1f ms later\n",
                    Ms(set - watch2.Start) / 1000.0, MiB(watch2.Done.load()), Ms(returned - set));
    }
    return 0;
}
