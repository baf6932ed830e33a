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

struct TWalkStats {
    bool WriteFailed = false;        // the sink refused a write: the content is incomplete
    std::uint64_t UnreadBytes = 0;   // a read failed, came up short or lay past the volume's end
    std::uint64_t MissingBytes = 0;  // no run describes them (a cut run list, an extension record not found)
    std::uint64_t DamagedUnits = 0;  // compression units whose stream did not decode cleanly
    std::uint64_t ReusedBytes = 0;   // holes where a run maps clusters an earlier part of the file used
};

// Writes the content described by `runs` (any order; overlaps are cut) into
// `sink`, up to layout.ValidSize. Each volume cluster contributes at most
// once, so the bytes copied as they lie never pass the volume's size;
// decompressed units add at most their unit's size per cluster read.
TWalkStats WalkRuns(platform::TRawVolume& volume, const std::vector<ntfs::TDataRun>& runs,
                    const TContentLayout& layout, TContentSink& sink);

}  // namespace recover
