// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/run_bound.h"

#include <algorithm>

namespace recover {

TRunBound::TRunBound(std::uint64_t volumeBytes, std::uint32_t bytesPerCluster, std::uint64_t heldBackBytes)
    : m_volumeBytes(volumeBytes),
      m_bytesPerCluster(bytesPerCluster == 0 ? 1 : bytesPerCluster),
      m_othersCap(volumeBytes - std::min(volumeBytes, heldBackBytes)) {}

std::uint64_t TRunBound::Bytes(std::uint64_t first, std::uint64_t end) const {
    // Clusters lie inside the volume (the walk cuts them there), so the
    // products stay below its size plus a cluster.
    return end * m_bytesPerCluster - first * m_bytesPerCluster;
}

std::uint64_t TRunBound::Granted() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_total;
}

TClusterGrant TRunBound::Grant(std::uint64_t ticket, const std::vector<TClusterSpan>& clusters,
                               bool mayRepeat, std::uint64_t residentBytes) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_turn.wait(lock, [&] { return m_nextTicket == ticket; });

    // Room left for this row: the volume's size less what was granted, and
    // for a row that may repeat clusters also less what is held back.
    auto room = [&] {
        const std::uint64_t total = m_volumeBytes - std::min(m_volumeBytes, m_total);
        if (!mayRepeat) return total;
        return std::min(total, m_othersCap - std::min(m_othersCap, m_others));
    };
    auto take = [&](std::uint64_t bytes) {
        m_total += bytes;
        if (mayRepeat) m_others += bytes;
    };

    TClusterGrant grant;
    // Grants [from, to) as far as room is left; the rest is Beyond.
    auto grantPiece = [&](std::uint64_t from, std::uint64_t to) {
        const std::uint64_t fits = std::min(to - from, ClustersWithin(room()));
        if (fits > 0) {
            grant.Ranges.push_back({from, from + fits, TClusterHole::None});
            take(Bytes(from, from + fits));
            if (!mayRepeat) m_sound.Add(from, from + fits);
        }
        if (from + fits < to) grant.Ranges.push_back({from + fits, to, TClusterHole::Beyond});
    };
    for (const TClusterSpan& span : clusters) {
        if (span.End <= span.First) continue;
        if (mayRepeat) {
            grantPiece(span.First, span.End);
            continue;
        }
        // Pieces another sound row holds are Taken; collected first, since
        // granting adds to the set being visited.
        std::vector<TClusterGrant::TRange> pieces;
        m_sound.Visit(span.First, span.End, [&](std::uint64_t from, std::uint64_t to, bool held) {
            pieces.push_back({from, to, held ? TClusterHole::Taken : TClusterHole::None});
        });
        for (const auto& p : pieces) {
            if (p.Hole == TClusterHole::Taken)
                grant.Ranges.push_back(p);
            else
                grantPiece(p.First, p.End);
        }
    }
    if (residentBytes > 0) {
        const std::uint64_t rounded =
            (residentBytes / m_bytesPerCluster + (residentBytes % m_bytesPerCluster != 0 ? 1 : 0)) *
            m_bytesPerCluster;
        grant.ResidentWritten = rounded <= room();
        if (grant.ResidentWritten) take(rounded);
    }

    ++m_nextTicket;
    lock.unlock();
    m_turn.notify_all();
    return grant;
}

}  // namespace recover
