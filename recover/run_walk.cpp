// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/run_walk.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>

#include "ntfs/byte_view.h"
#include "recover/lznt1.h"

namespace recover {

namespace {

std::uint64_t MulSaturated(std::uint64_t a, std::uint64_t b) {
    const auto p = ntfs::MulChecked(a, b);
    return p ? *p : UINT64_MAX;
}

// A run in clusters with its end made explicit; VCN + length never wraps.
struct TSpan {
    std::uint64_t Vcn = 0;
    std::uint64_t End = 0;
    std::int64_t Lcn = 0;
    bool Sparse = false;
    // Why it stays a hole (its clusters were already used by an earlier part
    // of the file, or the run did not grant them); None: read.
    TClusterHole Hole = TClusterHole::None;
};

// The runs sorted by VCN, empty ones dropped, each cut where the one before
// it ends (a damaged list may describe a VCN twice; the first word counts).
std::vector<TSpan> Normalize(const std::vector<ntfs::TDataRun>& runs) {
    std::vector<TSpan> spans;
    spans.reserve(runs.size());
    for (const auto& r : runs) {
        if (r.Length == 0) continue;
        const std::uint64_t end = r.Length > UINT64_MAX - r.Vcn ? UINT64_MAX : r.Vcn + r.Length;
        spans.push_back({r.Vcn, end, r.Lcn, r.Sparse, TClusterHole::None});
    }
    std::stable_sort(spans.begin(), spans.end(),
                     [](const TSpan& a, const TSpan& b) { return a.Vcn < b.Vcn; });
    std::vector<TSpan> out;
    out.reserve(spans.size());
    std::uint64_t covered = 0;
    for (TSpan s : spans) {
        if (s.End <= covered) continue;
        if (s.Vcn < covered) {
            // Keep the part past what is covered; the LCN moves with it. Wrapping
            // LCNs become unreadable positions below, never a crash.
            s.Lcn = static_cast<std::int64_t>(static_cast<std::uint64_t>(s.Lcn) + (covered - s.Vcn));
            s.Vcn = covered;
        }
        covered = s.End;
        out.push_back(s);
    }
    return out;
}

// A file never holds a volume cluster twice: a damaged run list that maps
// the same clusters again and again would otherwise turn a small volume into
// an unbounded amount of written data. In file order, the first use of a
// cluster counts; later ones are split off as Reused spans, which stay in
// place as holes. Only clusters inside the volume (`volumeClusters`, 0 when
// unknown) are tracked: the rest is never read.
std::vector<TSpan> MarkReusedClusters(std::vector<TSpan> spans, std::uint64_t volumeClusters) {
    if (spans.size() < 2) return spans;
    const std::uint64_t limit = volumeClusters == 0 ? UINT64_MAX : volumeClusters;
    TClusterSet used;
    std::vector<TSpan> out;
    out.reserve(spans.size());
    for (const TSpan& s : spans) {
        const std::uint64_t first = static_cast<std::uint64_t>(s.Lcn);
        if (s.Sparse || s.Lcn < 0 || first >= limit) {
            out.push_back(s);
            continue;
        }
        const std::uint64_t length = s.End - s.Vcn;
        const std::uint64_t end = std::min(limit, length > limit - first ? limit : first + length);
        used.Visit(first, end, [&](std::uint64_t from, std::uint64_t to, bool reused) {
            TSpan piece = s;
            piece.Vcn = s.Vcn + (from - first);
            piece.End = piece.Vcn + (to - from);
            piece.Lcn = static_cast<std::int64_t>(from);
            piece.Hole = reused ? TClusterHole::Reused : TClusterHole::None;
            if (!out.empty() && out.back().Hole == TClusterHole::Reused && reused &&
                out.back().End == piece.Vcn)
                out.back().End = piece.End;  // one hole for consecutive reused pieces
            else
                out.push_back(piece);
        });
        used.Add(first, end);
        if (end - first < length) {
            // The part past the volume's end: kept as it is, never read.
            TSpan tail = s;
            tail.Vcn = s.Vcn + (end - first);
            tail.Lcn = static_cast<std::int64_t>(end);
            out.push_back(tail);
        }
    }
    return out;
}

// Splits the spans a walk would read by what the run granted: a piece it
// names keeps that range's verdict, a piece it does not name is not read.
std::vector<TSpan> ApplyGrant(std::vector<TSpan> spans, const TClusterGrant& grant,
                              std::uint64_t volumeClusters) {
    const std::uint64_t limit = volumeClusters == 0 ? UINT64_MAX : volumeClusters;
    // The granted ranges by first cluster; disjoint, so a lookup finds the
    // one that holds a cluster.
    std::map<std::uint64_t, const TClusterGrant::TRange*> byFirst;
    for (const auto& r : grant.Ranges)
        if (r.End > r.First) byFirst.emplace(r.First, &r);
    std::vector<TSpan> out;
    out.reserve(spans.size());
    for (const TSpan& s : spans) {
        const std::uint64_t first = static_cast<std::uint64_t>(s.Lcn);
        if (s.Sparse || s.Hole != TClusterHole::None || s.Lcn < 0 || first >= limit) {
            out.push_back(s);
            continue;
        }
        const std::uint64_t length = s.End - s.Vcn;
        const std::uint64_t end = length > limit - first ? limit : first + length;
        std::uint64_t at = first;
        while (at < end) {
            TSpan piece = s;
            piece.Vcn = s.Vcn + (at - first);
            piece.Lcn = static_cast<std::int64_t>(at);
            auto it = byFirst.upper_bound(at);
            const TClusterGrant::TRange* holder = nullptr;
            if (it != byFirst.begin() && std::prev(it)->second->End > at) holder = std::prev(it)->second;
            std::uint64_t to = end;
            if (holder) {
                to = std::min(end, holder->End);
                piece.Hole = holder->Hole;
            } else {
                if (it != byFirst.end()) to = std::min(end, it->first);
                piece.Hole = TClusterHole::Beyond;
            }
            piece.End = piece.Vcn + (to - at);
            out.push_back(piece);
            at = to;
        }
        if (end - first < length) {
            TSpan tail = s;
            tail.Vcn = s.Vcn + (end - first);
            tail.Lcn = static_cast<std::int64_t>(end);
            out.push_back(tail);
        }
    }
    return out;
}

// Part of a compression unit that a run allocates.
struct TPiece {
    std::uint64_t UnitCluster = 0;  // first cluster, counted from the unit's start
    std::uint64_t Clusters = 0;
    std::optional<std::uint64_t> VolumeOffset;  // empty: not a readable position
    TClusterHole Hole = TClusterHole::None;
};

class TWalker {
public:
    TWalker(platform::TRawVolume& volume, const TContentLayout& layout, TContentSink& sink)
        : m_volume(volume), m_layout(layout), m_sink(sink), m_volumeSize(volume.Size()) {
        const std::uint64_t bpc = layout.BytesPerCluster;
        m_chunk = std::max<std::uint64_t>(bpc, run_walk::kReadChunkBytes / bpc * bpc);
    }

    TWalkStats Walk(const std::vector<ntfs::TDataRun>& runs, const TClusterGrant* grant) {
        const std::uint64_t volumeClusters = m_volumeSize / m_layout.BytesPerCluster;
        std::vector<TSpan> spans = MarkReusedClusters(Normalize(runs), volumeClusters);
        if (grant) spans = ApplyGrant(std::move(spans), *grant, volumeClusters);
        CountMissing(spans);
        m_buffer.resize(static_cast<std::size_t>(m_chunk));
        if (m_layout.UnitClusters == 0)
            WalkPlain(spans);
        else
            WalkCompressed(spans);
        return m_stats;
    }

private:
    // Volume byte position of cluster `vcn` of a span; empty when it is not a
    // position at all (a negative or overflowing LCN): such clusters are unread.
    std::optional<std::uint64_t> VolumeOffset(const TSpan& s, std::uint64_t vcn) const {
        if (s.Lcn < 0) return std::nullopt;
        const auto lcn = ntfs::AddChecked(static_cast<std::uint64_t>(s.Lcn), vcn - s.Vcn);
        if (!lcn) return std::nullopt;
        return ntfs::MulChecked(*lcn, m_layout.BytesPerCluster);
    }

    // Bytes of [0, ValidSize) that no span describes.
    void CountMissing(const std::vector<TSpan>& spans) {
        std::uint64_t at = 0;
        for (const auto& s : spans) {
            const std::uint64_t start =
                std::min(MulSaturated(s.Vcn, m_layout.BytesPerCluster), m_layout.ValidSize);
            const std::uint64_t end =
                std::min(MulSaturated(s.End, m_layout.BytesPerCluster), m_layout.ValidSize);
            if (start > at) m_stats.MissingBytes += start - at;
            at = std::max(at, end);
        }
        if (m_layout.ValidSize > at) m_stats.MissingBytes += m_layout.ValidSize - at;
    }

    // Reads out.size() bytes at `offset`, which lie inside the volume when its
    // size is known. A short read is retried cluster by cluster from where it
    // stopped, so one bad sector costs its own cluster, not the whole chunk.
    // Bytes that stay unread are zero. Returns the bytes read.
    std::size_t ReadInto(std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t good = m_volume.ReadAt(offset, out);
        if (good >= out.size()) return out.size();
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(good), out.end(), 0);
        // An unknown volume size leaves "past the end" and "bad sector" apart
        // only by trying; trying every cluster of a hostile run would not end.
        if (m_volumeSize == 0) return good;
        const std::size_t bpc = m_layout.BytesPerCluster;
        std::size_t pos = good;
        while (pos < out.size()) {
            const std::size_t pieceEnd = std::min(out.size(), (pos / bpc + 1) * bpc);
            const std::size_t got = m_volume.ReadAt(offset + pos, out.subspan(pos, pieceEnd - pos));
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(pos + std::min(got, pieceEnd - pos)),
                      out.begin() + static_cast<std::ptrdiff_t>(pieceEnd), 0);
            good += std::min(got, pieceEnd - pos);
            pos = pieceEnd;
        }
        return good;
    }

    bool Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        if (m_stats.WriteFailed) return false;
        if (!m_sink.WriteAt(offset, bytes)) m_stats.WriteFailed = true;
        return !m_stats.WriteFailed;
    }

    // Counts a hole's bytes under its reason.
    void CountHole(TClusterHole hole, std::uint64_t bytes) {
        if (hole == TClusterHole::Reused)
            m_stats.ReusedBytes += bytes;
        else if (hole == TClusterHole::Taken)
            m_stats.TakenBytes += bytes;
        else
            m_stats.BeyondBytes += bytes;
    }

    // Copies `bytes` bytes from volume position `volumeOffset` (empty: not a
    // position) to content position `fileOffset`.
    void CopyRange(std::optional<std::uint64_t> volumeOffset, std::uint64_t fileOffset, std::uint64_t bytes) {
        if (!volumeOffset) {
            m_stats.UnreadBytes += bytes;
            return;
        }
        std::uint64_t at = *volumeOffset;
        while (bytes > 0 && !m_stats.WriteFailed) {
            if (m_volumeSize != 0 && at >= m_volumeSize) {
                // Past the end of the volume: zeros, without a read.
                m_stats.UnreadBytes += bytes;
                return;
            }
            std::uint64_t n = std::min(bytes, m_chunk);
            if (m_volumeSize != 0) {
                // Every cluster is copied at most once, so the bytes copied
                // never pass the volume's size; the check keeps that true
                // whatever the spans say.
                if (m_copied >= m_volumeSize) {
                    m_stats.ReusedBytes += bytes;
                    return;
                }
                n = std::min({n, m_volumeSize - at, m_volumeSize - m_copied});
            }
            m_copied += n;
            const std::span<std::uint8_t> buf(m_buffer.data(), static_cast<std::size_t>(n));
            const std::size_t good = ReadInto(at, buf);
            m_stats.UnreadBytes += n - good;
            if (good == 0 && m_volumeSize == 0) {
                // Most likely the end of a volume of unknown size.
                m_stats.UnreadBytes += bytes - n;
                return;
            }
            if (good != 0 && !Write(fileOffset, buf)) return;
            bytes -= n;
            fileOffset += n;
            // A range that would run past 2^64 lies past any volume's end.
            if (n > UINT64_MAX - at) {
                m_stats.UnreadBytes += bytes;
                return;
            }
            at += n;
        }
    }

    void WalkPlain(const std::vector<TSpan>& spans) {
        const std::uint64_t bpc = m_layout.BytesPerCluster;
        for (const auto& s : spans) {
            if (m_stats.WriteFailed) return;
            const auto fileOffset = ntfs::MulChecked(s.Vcn, bpc);
            if (!fileOffset || *fileOffset >= m_layout.ValidSize) return;  // sorted: the rest lies further
            if (s.Sparse) continue;
            const std::uint64_t bytes =
                std::min(MulSaturated(s.End - s.Vcn, bpc), m_layout.ValidSize - *fileOffset);
            if (s.Hole != TClusterHole::None)
                CountHole(s.Hole, bytes);
            else
                CopyRange(VolumeOffset(s, s.Vcn), *fileOffset, bytes);
        }
    }

    // NTFS compresses a file in units of UnitClusters clusters. A unit whose
    // clusters are all allocated is stored as it is; a unit with allocated
    // clusters and a sparse rest holds an LZNT1 stream in the allocated ones;
    // a unit with none is zeros.
    void WalkCompressed(const std::vector<TSpan>& spans) {
        std::vector<TSpan> allocated;
        for (const auto& s : spans)
            if (!s.Sparse) allocated.push_back(s);
        const std::uint64_t bpc = m_layout.BytesPerCluster;
        const std::uint64_t unit = m_layout.UnitClusters;
        const std::uint64_t unitBytes = unit * bpc;  // bounded by the caller
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(unitBytes));
        std::vector<std::uint8_t> unpacked(static_cast<std::size_t>(unitBytes));

        std::size_t idx = 0;
        std::uint64_t cur = allocated.empty() ? 0 : allocated[0].Vcn;
        while (idx < allocated.size() && !m_stats.WriteFailed) {
            const TSpan& s = allocated[idx];
            if (cur < s.Vcn) cur = s.Vcn;
            if (cur >= s.End) {
                ++idx;
                continue;
            }
            const std::uint64_t unitVcn = cur / unit * unit;
            const auto unitOffset = ntfs::MulChecked(unitVcn, bpc);
            if (!unitOffset || *unitOffset >= m_layout.ValidSize) return;
            const std::uint64_t unitEnd = unitVcn > UINT64_MAX - unit ? UINT64_MAX : unitVcn + unit;

            if (cur == unitVcn && s.End - cur >= unit) {
                // Whole units inside one run are stored units: one copy for all
                // of them, however many the run claims.
                const std::uint64_t clusters = (s.End - cur) / unit * unit;
                const std::uint64_t bytes =
                    std::min(MulSaturated(clusters, bpc), m_layout.ValidSize - *unitOffset);
                if (s.Hole != TClusterHole::None)
                    CountHole(s.Hole, bytes);
                else
                    CopyRange(VolumeOffset(s, cur), *unitOffset, bytes);
                cur += clusters;
                continue;
            }

            // A unit that one run does not fill: gather its allocated pieces.
            std::vector<TPiece> pieces;
            std::uint64_t count = 0;
            for (std::size_t j = idx; j < allocated.size() && allocated[j].Vcn < unitEnd; ++j) {
                const std::uint64_t from = std::max(allocated[j].Vcn, unitVcn);
                const std::uint64_t to = std::min(allocated[j].End, unitEnd);
                if (to <= from) continue;
                pieces.push_back(
                    {from - unitVcn, to - from, VolumeOffset(allocated[j], from), allocated[j].Hole});
                count += to - from;
            }
            if (count == unit) {
                // Allocated in full, from several runs: stored as it is.
                for (const auto& p : pieces) {
                    const std::uint64_t offset = *unitOffset + p.UnitCluster * bpc;  // below 2^63 + a unit
                    if (offset >= m_layout.ValidSize) break;
                    const std::uint64_t bytes = std::min(p.Clusters * bpc, m_layout.ValidSize - offset);
                    if (p.Hole != TClusterHole::None)
                        CountHole(p.Hole, bytes);
                    else
                        CopyRange(p.VolumeOffset, offset, bytes);
                }
            } else {
                DecompressUnit(pieces, *unitOffset, packed, unpacked);
            }
            cur = unitEnd;
        }
    }

    // Reads the allocated pieces of a compressed unit one after the other and
    // writes what their LZNT1 stream decodes to at `unitOffset`.
    void DecompressUnit(const std::vector<TPiece>& pieces, std::uint64_t unitOffset,
                        std::vector<std::uint8_t>& packed, std::vector<std::uint8_t>& unpacked) {
        const std::uint64_t bpc = m_layout.BytesPerCluster;
        std::size_t filled = 0;
        bool readsFailed = false;
        for (const auto& p : pieces) {
            const std::size_t n = static_cast<std::size_t>(p.Clusters * bpc);
            const std::span<std::uint8_t> into(packed.data() + filled, n);
            std::size_t good = 0;
            if (p.Hole != TClusterHole::None) {
                CountHole(p.Hole, n);
            } else if (p.VolumeOffset) {
                const std::uint64_t at = *p.VolumeOffset;
                std::size_t inside = n;
                if (m_volumeSize != 0)
                    inside = at >= m_volumeSize ? 0 : std::min<std::uint64_t>(n, m_volumeSize - at);
                good = inside == 0 ? 0 : ReadInto(at, into.first(inside));
            }
            std::fill(into.begin() + static_cast<std::ptrdiff_t>(good), into.end(), 0);
            readsFailed = readsFailed || good < n;
            filled += n;
        }
        const TLznt1Result r = DecompressLznt1({packed.data(), filled}, unpacked);
        if (!r.Sound || readsFailed) ++m_stats.DamagedUnits;
        const std::uint64_t bytes = std::min<std::uint64_t>(r.Produced, m_layout.ValidSize - unitOffset);
        if (bytes != 0) Write(unitOffset, {unpacked.data(), static_cast<std::size_t>(bytes)});
    }

    platform::TRawVolume& m_volume;
    const TContentLayout& m_layout;
    TContentSink& m_sink;
    std::uint64_t m_volumeSize;
    std::uint64_t m_chunk = 0;
    std::uint64_t m_copied = 0;  // bytes copied from the volume as they lie
    std::vector<std::uint8_t> m_buffer;
    TWalkStats m_stats;
};

}  // namespace

void TClusterSet::Add(std::uint64_t first, std::uint64_t end) {
    auto it = m_ranges.upper_bound(first);
    if (it != m_ranges.begin() && std::prev(it)->second >= first) {
        --it;
        first = it->first;
    }
    while (it != m_ranges.end() && it->first <= end) {
        end = std::max(end, it->second);
        it = m_ranges.erase(it);
    }
    m_ranges.emplace(first, end);
}

TWalkStats WalkRuns(platform::TRawVolume& volume, const std::vector<ntfs::TDataRun>& runs,
                    const TContentLayout& layout, TContentSink& sink, const TClusterGrant* grant) {
    // No volume has clusters of no bytes: nothing can be read of such runs.
    if (layout.BytesPerCluster == 0) return TWalkStats{.MissingBytes = layout.ValidSize};
    TWalker walker(volume, layout, sink);
    return walker.Walk(runs, grant);
}

std::vector<TClusterSpan> ClustersToRead(const std::vector<ntfs::TDataRun>& runs,
                                         const TContentLayout& layout, std::uint64_t volumeSize) {
    std::vector<TClusterSpan> out;
    const std::uint64_t bpc = layout.BytesPerCluster;
    if (bpc == 0) return out;
    const std::uint64_t volumeClusters = volumeSize / bpc;
    const std::uint64_t limit = volumeClusters == 0 ? UINT64_MAX : volumeClusters;
    // Clusters from the content's start that a walk reads: up to the valid
    // size, and for compressed data up to the end of the unit that holds it
    // (a unit is read whole to be decoded).
    std::uint64_t vcnLimit = layout.ValidSize / bpc + (layout.ValidSize % bpc != 0 ? 1 : 0);
    if (layout.UnitClusters != 0 && vcnLimit % layout.UnitClusters != 0)
        vcnLimit = vcnLimit > UINT64_MAX - layout.UnitClusters
                       ? UINT64_MAX
                       : (vcnLimit / layout.UnitClusters + 1) * layout.UnitClusters;
    for (const TSpan& s : MarkReusedClusters(Normalize(runs), volumeClusters)) {
        if (s.Sparse || s.Hole != TClusterHole::None || s.Lcn < 0 || s.Vcn >= vcnLimit) continue;
        const std::uint64_t first = static_cast<std::uint64_t>(s.Lcn);
        if (first >= limit) continue;
        const std::uint64_t length = std::min(s.End, vcnLimit) - s.Vcn;
        const std::uint64_t end = length > limit - first ? limit : first + length;
        out.push_back({first, end});
    }
    return out;
}

}  // namespace recover
