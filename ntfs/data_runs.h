// SPDX-License-Identifier: GPL-3.0-or-later
// The run list of a non-resident attribute: where its clusters lie.
//
// A run list is a sequence of runs, each a header byte (low nibble L: bytes of
// the length field, high nibble O: bytes of the offset field), L bytes of
// length in clusters (unsigned) and O bytes of offset. The first run's offset
// is its starting LCN (unsigned); every later one is a signed delta exactly O
// bytes wide from the previous run's start. An offset of 0 marks a sparse run
// (zeros, no clusters). A header byte 0 ends the list.
//
// The list is decoded into values first; reading clusters is the caller's
// second step, so a hostile list can be judged whole before any I/O.
#pragma once

#include <cstdint>
#include <vector>

#include "ntfs/byte_view.h"

namespace ntfs {

struct TDataRun {
    std::uint64_t Vcn = 0;     // first virtual cluster of the run within the attribute
    std::uint64_t Length = 0;  // clusters
    std::int64_t Lcn = 0;      // first logical cluster; meaningless when Sparse
    bool Sparse = false;
};

struct TRunList {
    std::vector<TDataRun> Runs;
    // The list ended without its 0 header byte, or with a run whose fields
    // were cut off by the end of the bytes (that run is not in Runs).
    bool Truncated = false;
};

// Decodes the runs of a run list. Fields wider than 8 bytes count by their
// low-order 8 bytes. A run of length 0 (L = 0) still moves the current LCN.
// Decoding stops (Truncated) when the VCN count would pass 2^63: no real
// attribute is that long.
TRunList DecodeRunList(TByteView runList, std::uint64_t startingVcn = 0);

}  // namespace ntfs
