// SPDX-License-Identifier: GPL-3.0-or-later
// The bound on what one recovery run writes: never more real bytes than the
// volume holds, however many records claim the same clusters.
//
// A file never reads a cluster twice (the run walk sees to that), but nine
// damaged records that each map the whole volume would still write it nine
// times. Across the files of a run a cluster is written again only where a
// row's verdict says its clusters belong to other files now (overwritten or
// partial): then two rows name the same clusters by right, one of them
// deleted after the other took them. Rows whose clusters are all theirs
// (intact) or whose verdict is unknown may not share: the second to come
// gets holes (Taken).
//
// The bytes those sound rows claim are held back for them; rows that may
// repeat clusters share what is left of the volume's size, and past that
// get holes (Beyond). So the run's real bytes stay within the volume's size
// whatever order the rows come in, and a damaged row early in the list
// cannot use up the room of an intact one later.
//
// Decisions are taken in the order of the run's rows (tickets 0, 1, 2, ...),
// whichever thread writes a file, so a run's output does not depend on
// timing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "recover/run_walk.h"

namespace recover {

class TRunBound {
public:
    // volumeBytes: the volume's size (non-zero); heldBackBytes: what the rows
    // that may not repeat clusters claim together, resident values included.
    TRunBound(std::uint64_t volumeBytes, std::uint32_t bytesPerCluster, std::uint64_t heldBackBytes);

    // The grant of the file with ticket `ticket` (waits until every earlier
    // ticket is decided): `clusters` are what its walk would read,
    // `residentBytes` the length of a resident value (0 for none), which is
    // granted while room is left. Every ticket must be decided once, with
    // nothing to read for a file not written.
    TClusterGrant Grant(std::uint64_t ticket, const std::vector<TClusterSpan>& clusters, bool mayRepeat,
                        std::uint64_t residentBytes = 0);

    // The real bytes granted so far: clusters whole, resident values in whole
    // clusters, as the output takes them on disk.
    std::uint64_t Granted() const;

private:
    std::uint64_t Bytes(std::uint64_t first, std::uint64_t end) const;
    std::uint64_t ClustersWithin(std::uint64_t room) const { return room / m_bytesPerCluster; }

    const std::uint64_t m_volumeBytes;
    const std::uint64_t m_bytesPerCluster;
    const std::uint64_t m_othersCap;  // room for rows that may repeat clusters

    mutable std::mutex m_mutex;
    std::condition_variable m_turn;
    std::uint64_t m_nextTicket = 0;
    std::uint64_t m_total = 0;   // real bytes granted
    std::uint64_t m_others = 0;  // of those, to rows that may repeat clusters
    TClusterSet m_sound;         // clusters granted to rows that may not repeat them
};

}  // namespace recover
