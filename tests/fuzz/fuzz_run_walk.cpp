// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary run lists to the run walk on a small in-memory volume and
// holds it to its budget: every write lies inside the content, and the real
// bytes written never pass the volume's size (a compression unit's stream
// may decode to at most its unit per cluster read). A run list that maps the
// same clusters again and again, or claims petabytes, must cost neither
// time nor space.
//
// Under a recovery run's bound the walk reads only what was granted, and a
// grant of everything it asked for writes exactly what no grant writes.
//
// Input: byte 0 picks the cluster size, byte 1 the volume's clusters, byte 2
// the compression unit, bytes 3-10 the valid size; the rest is the run list,
// decoded as NTFS stores it (odd byte 3) or as raw run values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ntfs/data_runs.h"
#include "platform/memory_volume.h"
#include "recover/run_bound.h"
#include "recover/run_walk.h"

namespace {

class TBudgetSink : public recover::TContentSink {
public:
    explicit TBudgetSink(std::uint64_t validSize) : m_validSize(validSize) {}
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (offset > m_validSize || bytes.size() > m_validSize - offset) std::abort();
        if (bytes.size() > recover::run_walk::kMaxUnitBytes) std::abort();  // bounded buffers
        Written += bytes.size();
        for (std::size_t i = 0; i < bytes.size(); ++i) Sum = Sum * 1099511628211u + bytes[i] + offset + i;
        return true;
    }
    std::uint64_t Written = 0;
    std::uint64_t Sum = 0;  // of what was written where

private:
    std::uint64_t m_validSize;
};

std::uint64_t Le64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 11) return 0;
    const std::uint32_t cluster = 512u << (data[0] % 5);  // 512 .. 8192
    const std::uint64_t clusters = 1 + data[1] % 64;      // a volume of at most 512 KiB
    const std::uint64_t unit = data[2] % 3 == 0 ? 0 : std::uint64_t{1} << (data[2] % 5);  // 0, 1 .. 16
    // Valid sizes are mostly small (so that the walk does some reading) but
    // may be anything.
    std::uint64_t validSize = Le64(data + 3);
    if ((data[3] & 0x80) == 0) validSize %= 4 * clusters * cluster + 1;
    const std::uint8_t* rest = data + 11;
    const std::size_t restSize = size - 11;

    std::vector<ntfs::TDataRun> runs;
    if (data[3] & 1) {
        runs = ntfs::DecodeRunList({rest, restSize}).Runs;
    } else {
        // Raw values: VCNs, lengths and LCNs a decoder would never give.
        for (std::size_t at = 0; at + 17 <= restSize && runs.size() < 256; at += 17) {
            ntfs::TDataRun r;
            r.Vcn = Le64(rest + at) >> (rest[at + 16] % 64);
            r.Length = Le64(rest + at + 8) >> (rest[at + 16] / 4 % 64);
            r.Lcn = static_cast<std::int64_t>(rest[at + 16] % 3 == 0 ? Le64(rest + at + 4)
                                                                     : rest[at + 1] % clusters);
            r.Sparse = (rest[at + 16] & 0x40) != 0;
            runs.push_back(r);
        }
    }

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(clusters * cluster));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / cluster);
    platform::TMemoryVolume volume(std::move(bytes));
    recover::TContentLayout layout;
    layout.BytesPerCluster = cluster;
    layout.ValidSize = validSize;
    layout.UnitClusters = unit * cluster <= recover::run_walk::kMaxUnitBytes ? unit : 0;
    TBudgetSink sink(validSize);
    (void)recover::WalkRuns(volume, runs, layout, sink);

    const std::uint64_t volumeSize = clusters * cluster;
    const std::uint64_t perCluster = layout.UnitClusters == 0 ? 1 : layout.UnitClusters;
    const std::uint64_t budget = volumeSize * perCluster;
    if (sink.Written > budget) std::abort();

    const std::vector<recover::TClusterSpan> wanted = recover::ClustersToRead(runs, layout, volumeSize);
    {
        // Room for everything: the same content.
        recover::TRunBound bound(volumeSize, cluster, 0);
        const recover::TClusterGrant grant = bound.Grant(0, wanted, false);
        TBudgetSink granted(validSize);
        (void)recover::WalkRuns(volume, runs, layout, granted, &grant);
        if (granted.Written != sink.Written || granted.Sum != sink.Sum) std::abort();
    }
    {
        // Room for part of it, after another file took some: never more
        // than the part granted.
        recover::TRunBound bound(volumeSize, cluster, (data[1] / 64) * volumeSize / 4);
        (void)bound.Grant(0, {{0, clusters / 2}}, (data[2] & 0x80) != 0);
        const std::uint64_t before = bound.Granted();
        const recover::TClusterGrant grant = bound.Grant(1, wanted, (data[2] & 0x40) != 0);
        TBudgetSink bounded(validSize);
        (void)recover::WalkRuns(volume, runs, layout, bounded, &grant);
        if (bound.Granted() > volumeSize) std::abort();
        if (bounded.Written > (bound.Granted() - before) * perCluster) std::abort();
    }
    return 0;
}
