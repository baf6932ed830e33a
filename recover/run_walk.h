// SPDX-License-Identifier: GPL-3.0-or-later
// The run walk: a non-resident attribute's content, from its runs to a sink.
//
// The runs are decoded values (ntfs::DecodeRunList or ntfs::CollectDataRuns);
// this is the second step, the I/O. Everything is streamed through one
// bounded buffer, so a file of any size needs a few MiB at most, and nothing
// is written for zeros: sparse runs, VCNs no run describes, reads that fail
// and clusters past the end of the volume all stay holes in the sink.
//
// Run fields are untrusted: every byte position is computed with checked
// arithmetic, runs are cut at the content's end, and a run reaching past the
// end of the volume contributes zeros for that part without a read, so a
// claimed length of petabytes costs no time and no space.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <vector>

#include "ntfs/data_runs.h"
#include "platform/raw_volume.h"
#include "recover/content_sink.h"

namespace recover {

namespace run_walk {
// Bytes read from the volume in one request (rounded to whole clusters).
constexpr std::uint64_t kReadChunkBytes = 1u << 20;
// A compression unit larger than this is damage: NTFS uses 16 clusters of
// at most 4 KiB.
constexpr std::uint64_t kMaxUnitBytes = 4u << 20;
}  // namespace run_walk

struct TContentLayout {
    std::uint32_t BytesPerCluster = 0;  // non-zero
    // Bytes from the content's start that hold data; past them the content
    // is zeros (the attribute's initialized size, cut at its data size).
    std::uint64_t ValidSize = 0;
    // Clusters per compression unit when the data is LZNT1-compressed; 0 when
    // it is stored as it is.
    std::uint64_t UnitClusters = 0;
};

// Volume clusters [First, End).
struct TClusterSpan {
    std::uint64_t First = 0;
    std::uint64_t End = 0;
};

// Why clusters a file maps stay holes instead of being read.
enum class TClusterHole : std::uint8_t {
    None,    // read
    Reused,  // an earlier part of the same file used them
    Taken,   // another file of the run holds them, and neither row says they were reused
    Beyond,  // the run has already written as many bytes as the volume holds
};

// What a recovery run lets one file read: each range is read (Hole None) or
// left as a hole for its reason. Clusters the file maps that no range names
// are not read either (Beyond): a walk never reads past what was granted.
struct TClusterGrant {
    struct TRange {
        std::uint64_t First = 0;
        std::uint64_t End = 0;
        TClusterHole Hole = TClusterHole::None;
    };
    std::vector<TRange> Ranges;  // disjoint, in file order
    // A resident value is written (false: it stays a hole, Beyond).
    bool ResidentWritten = true;
};

// Disjoint, non-adjacent ranges of volume clusters.
class TClusterSet {
public:
    // Calls emit(from, to, inSet) for the consecutive pieces of [first, end)
    // in order, inSet telling whether the set holds them.
    template <typename TEmit>
    void Visit(std::uint64_t first, std::uint64_t end, TEmit&& emit) const {
        auto it = m_ranges.upper_bound(first);
        if (it != m_ranges.begin() && std::prev(it)->second > first) --it;
        std::uint64_t at = first;
        while (at < end) {
            if (it == m_ranges.end() || it->first >= end) {
                emit(at, end, false);
                break;
            }
            if (it->first > at) {
                emit(at, it->first, false);
                at = it->first;
            }
            const std::uint64_t usedEnd = it->second < end ? it->second : end;
            if (usedEnd > at) {
                emit(at, usedEnd, true);
                at = usedEnd;
            }
            ++it;
        }
    }
    void Add(std::uint64_t first, std::uint64_t end);

private:
    std::map<std::uint64_t, std::uint64_t> m_ranges;
};

struct TWalkStats {
    bool WriteFailed = false;        // the sink refused a write: the content is incomplete
    std::uint64_t UnreadBytes = 0;   // a read failed, came up short or lay past the volume's end
    std::uint64_t MissingBytes = 0;  // no run describes them (a cut run list, an extension record not found)
    std::uint64_t DamagedUnits = 0;  // compression units whose stream did not decode cleanly
    std::uint64_t ReusedBytes = 0;   // holes where a run maps clusters an earlier part of the file used
    std::uint64_t TakenBytes = 0;    // holes: clusters another file of the run holds (TClusterHole::Taken)
    std::uint64_t BeyondBytes = 0;   // holes: past what the run may write (TClusterHole::Beyond)
};

// Writes the content described by `runs` (any order; overlaps are cut) into
// `sink`, up to layout.ValidSize. Each volume cluster contributes at most
// once, so the bytes copied as they lie never pass the volume's size;
// decompressed units add at most their unit's size per cluster read. With a
// grant, only the clusters it lets through are read.
TWalkStats WalkRuns(platform::TRawVolume& volume, const std::vector<ntfs::TDataRun>& runs,
                    const TContentLayout& layout, TContentSink& sink, const TClusterGrant* grant = nullptr);

// The volume clusters WalkRuns would read for `runs` (`volumeSize` 0:
// unknown), in file order, disjoint: what a run decides on before the walk.
std::vector<TClusterSpan> ClustersToRead(const std::vector<ntfs::TDataRun>& runs,
                                         const TContentLayout& layout, std::uint64_t volumeSize);

}  // namespace recover
