// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/deep_pass.h"

#include <algorithm>
#include <memory>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_record.h"
#include "ntfs/mft_map.h"
#include "ntfs/record_matcher.h"
#include "platform/window_volume.h"
#include "scan/original_path.h"
#include "scan/record_decoder.h"
#include "scan/row_details.h"

namespace scan {

namespace {

// A found record as the pass keeps it until the end: its place and the
// header fields the choices below need (24 bytes).
struct TKept {
    std::uint64_t ByteOffset = 0;
    std::uint64_t Lsn = 0;
    std::uint32_t SelfNumber = 0;
    std::uint16_t Flags = 0;
    std::uint8_t Large = 0;  // 1: 4,096 bytes, 0: 1,024
    std::uint8_t HasSelfNumber = 0;
    std::uint32_t Size() const { return Large ? 4096u : 1024u; }
};
static_assert(sizeof(TKept) == 24);

// The runs of a record's unnamed $DATA, as far as the record holds them.
std::vector<ntfs::TDataRun> DataRuns(ntfs::TByteView record) {
    const ntfs::TByteView data = ntfs::LocateUnnamedData(record);
    const auto header = ntfs::DecodeAttributeHeader(data);
    const auto nr = ntfs::DecodeNonResident(data);
    if (!header || header->NonResident != 1 || !nr || nr->StartingVcn < 0) return {};
    return ntfs::DecodeRunList(data.Sub(nr->RunListOffset, data.Size()),
                               static_cast<std::uint64_t>(nr->StartingVcn))
        .Runs;
}

// A fixed-up copy of the record the matcher found at `at` in view.
std::optional<ntfs::TDynamicCharArray> FixedCopy(ntfs::TByteView view, std::size_t at, std::uint32_t size) {
    if (!view.Has(at, size)) return std::nullopt;
    ntfs::TDynamicCharArray record(size);
    std::copy_n(view.Data() + at, size, record.Span().begin());
    if (!ntfs::ApplyFixups(record.Span(), ntfs::TDISK_INFORMATION{size, 0, 0, 0})) return std::nullopt;
    return record;
}

// What one read tells beyond the records: record 0s (with the mirror's
// cluster from the record 1 that follows) and boot sectors.
class TCollector {
public:
    // A disk holds some file systems, not thousands: past these bounds a
    // source full of boot-sector look-alikes or copies of record 0 (a
    // crafted one) adds no more of them to what inference must weigh.
    static constexpr std::size_t kMaxBootSectors = 1024;
    static constexpr std::size_t kMaxRecords0 = 1024;

    std::vector<TKept> Kept;
    std::vector<ntfs::TFoundMftRecord0> Records0;
    std::vector<ntfs::TFoundBootSector> Boots;
    std::uint64_t BootSectorsSeen = 0;

    void OnRecord(const ntfs::TFoundRecord& r, ntfs::TByteView view, std::uint64_t viewStart) {
        TKept k;
        k.ByteOffset = r.ByteOffset;
        k.Lsn = r.Lsn;
        k.SelfNumber = r.SelfNumber;
        k.Flags = r.Flags;
        k.Large = r.RecordSize == 4096 ? 1 : 0;
        k.HasSelfNumber = r.HasSelfNumber ? 1 : 0;
        Kept.push_back(k);
        if (!r.HasSelfNumber || r.SelfNumber > 1) return;
        const auto record = FixedCopy(view, static_cast<std::size_t>(r.ByteOffset - viewStart), r.RecordSize);
        if (!record) return;
        auto runs = DataRuns(record->View());
        if (runs.empty()) return;
        if (r.SelfNumber == 0) {
            if (Records0.size() >= kMaxRecords0) return;
            Records0.push_back({r.ByteOffset, r.RecordSize, std::move(runs), 0});
        } else if (!Records0.empty() && Records0.back().ByteOffset + r.RecordSize == r.ByteOffset &&
                   !runs.front().Sparse && runs.front().Lcn > 0) {
            Records0.back().MirrorLcn = static_cast<std::uint64_t>(runs.front().Lcn);
        }
    }

    // Boot sectors at the boundaries [first, end) of view: "NTFS    " and the
    // sector signature.
    void FindBootSectors(ntfs::TByteView view, std::uint64_t viewStart, std::size_t end) {
        const std::size_t misalignment = static_cast<std::size_t>(viewStart % 512);
        for (std::size_t at = misalignment == 0 ? 0 : 512 - misalignment; at < end && view.Has(at, 512);
             at += 512) {
            const std::uint8_t* s = view.Data() + at;
            if (s[3] != 'N' || s[4] != 'T' || s[5] != 'F' || s[6] != 'S' || s[510] != 0x55 || s[511] != 0xAA)
                continue;
            ++BootSectorsSeen;
            if (Boots.size() < kMaxBootSectors)
                Boots.push_back({viewStart + at, ntfs::DecodeBootSector(view.Sub(at, 512))});
        }
    }
};

// One inferred volume as the decoding needs it.
struct TVolumeState {
    ntfs::TDISK_INFORMATION Geometry;
    std::unique_ptr<platform::TSpanVolume> Span;
    std::optional<ntfs::TMftLayout> Live;  // the MFT its boot sector names, when it can be walked
    ntfs::TMftMap Map;                     // for extension records: the live MFT's, else the old one's
    std::unique_ptr<TRecordDecoder> Decoder;
    TDirectoryTable Folders;                  // its directory records, live and found, for the rows' paths
    std::uint64_t ClusterCount = UINT64_MAX;  // its size in clusters; UINT64_MAX: not known
    // Its rows' claims on clusters, in row order, and the rows' numbers.
    std::vector<TRowClaim> Claims;
    std::vector<std::size_t> ClaimRows;
};

// The geometry a found volume's records are decoded in.
ntfs::TDISK_INFORMATION GeometryOf(const ntfs::TInferredVolume& v) {
    return {v.BytesPerFileRecord, v.BytesPerCluster, 512, v.BytesPerCluster / 512};
}

// The MFT the boot sector of v names, read through span (v's bytes), when
// it can be walked.
std::optional<ntfs::TMftLayout> LiveMftOf(platform::TRawVolume& span, const ntfs::TDISK_INFORMATION& geometry,
                                          const ntfs::TInferredVolume& v) {
    const auto mft = ntfs::MulChecked(v.MftLcn, v.BytesPerCluster);
    const auto mirror = ntfs::MulChecked(v.MirrorLcn, v.BytesPerCluster);
    return ntfs::LocateMft(span, geometry, mft, v.MirrorLcn != 0 ? mirror : std::nullopt).Layout;
}

// A found record's bytes (fixups not yet applied) decoded as the walk
// decodes a record not in use, so that one in use when last written is a
// lost file of an older file system: true when it gives one row, in out.
bool DecodeAsFree(TRecordDecoder& decoder, std::uint64_t number, std::uint64_t at, const std::uint8_t* bytes,
                  std::uint32_t size, TDecodedStretch& out) {
    ntfs::TDynamicCharArray image(size);
    std::copy_n(bytes, size, image.Span().begin());
    image.Span()[ntfs::file_record::kRecordFlags] = 0;
    image.Span()[ntfs::file_record::kRecordFlags + 1] = 0;
    out.Clear();
    return decoder.DecodeImage(number, at, image.Span(), out) == TRecordStatus::Found && out.RowCount == 1;
}

// The volume's allocation bitmap ($Bitmap, record 6) as its live MFT gives it.
constexpr std::uint64_t kBitmapRecord = 6;

// Claims in clusters of `from` bytes as claims in clusters of `to` bytes of a
// file system that begins at the same byte: each range covers the clusters
// its bytes touch, and a row's ranges that come to share a cluster are
// merged, so that no row contends with itself. A range whose bytes pass 64
// bits leaves its row without a verdict.
std::vector<TRowClaim> InOtherClusters(std::vector<TRowClaim> claims, std::uint64_t from, std::uint64_t to) {
    for (TRowClaim& row : claims) {
        std::vector<TClusterRange> ranges;
        for (const TClusterRange& r : row.Claim.Ranges) {
            const auto first = ntfs::MulChecked(r.First, from);
            const auto count = ntfs::MulChecked(r.Count, from);
            const auto end = first && count ? ntfs::AddChecked(*first, *count) : std::nullopt;
            if (!end || *end > UINT64_MAX - to) {
                ranges.clear();
                row.Claim.Sound = false;
                break;
            }
            ranges.push_back({*first / to, (*end + to - 1) / to - *first / to});
        }
        std::sort(ranges.begin(), ranges.end(),
                  [](const TClusterRange& a, const TClusterRange& b) { return a.First < b.First; });
        std::vector<TClusterRange> merged;
        for (const TClusterRange& r : ranges) {
            if (!merged.empty() && r.First <= merged.back().First + merged.back().Count) {
                const std::uint64_t end =
                    std::max(merged.back().First + merged.back().Count, r.First + r.Count);
                merged.back().Count = end - merged.back().First;
            } else {
                merged.push_back(r);
            }
        }
        row.Claim.Ranges = std::move(merged);
    }
    return claims;
}

// The source read again a window at a time: the records read back lie
// mostly side by side.
class TWindowReader {
public:
    explicit TWindowReader(platform::TRawVolume& source)
        : m_source(source), m_window(TDeepPass::kDecodeWindowBytes) {}

    // The size bytes at offset, or nullptr when the source does not give them.
    const std::uint8_t* At(std::uint64_t offset, std::uint32_t size) {
        if (offset < m_start || offset - m_start + size > m_got) {
            m_start = offset;
            m_got = m_source.ReadAt(m_start, m_window);
        }
        if (offset - m_start + size > m_got) return nullptr;
        return m_window.data() + (offset - m_start);
    }

private:
    platform::TRawVolume& m_source;
    std::vector<std::uint8_t> m_window;
    std::uint64_t m_start = 0;
    std::size_t m_got = 0;
};

// The MFT position of volume byte `at` in the map, when the map covers it.
std::optional<std::uint64_t> MftOffsetOf(const ntfs::TMftMap& map, std::uint64_t at) {
    for (const ntfs::TMftExtent& e : map.Extents()) {
        if (!e.Sparse && at >= e.VolumeOffset && at - e.VolumeOffset < e.Length)
            return e.MftOffset + (at - e.VolumeOffset);
    }
    return std::nullopt;
}

std::vector<TVolumeState> Prepare(platform::TRawVolume& source,
                                  const std::vector<ntfs::TInferredVolume>& volumes) {
    std::vector<TVolumeState> states(volumes.size());
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const ntfs::TInferredVolume& v = volumes[i];
        TVolumeState& s = states[i];
        s.Geometry = GeometryOf(v);
        const std::uint64_t rest = source.Size() > v.StartByte ? source.Size() - v.StartByte : 0;
        // The volume reaches its backup boot sector; a size not known, to the end.
        const std::uint64_t size = v.Bytes != 0 ? std::min(rest, v.Bytes + 512) : rest;
        s.Span = std::make_unique<platform::TSpanVolume>(source, v.StartByte, size);
        if (v.Source != ntfs::TGeometrySource::MftRecord0) s.Live = LiveMftOf(*s.Span, s.Geometry, v);
        if (s.Live) {
            s.Map = s.Live->Map;
        } else if (auto old = ntfs::TMftMap::FromRuns(v.MftRuns, v.BytesPerCluster)) {
            s.Map = std::move(*old);
        }
        if (v.Bytes != 0) s.ClusterCount = v.Bytes / v.BytesPerCluster;
        // With details: each row's parent reference and its claim on clusters.
        s.Decoder = std::make_unique<TRecordDecoder>(s.Geometry, s.Map, *s.Span, true, s.ClusterCount);
    }
    return states;
}

}  // namespace

const char* DeepStateText(bool lost) {
    return lost ? "lost" : "deleted";
}

const char* DeepHowText(TDeepHow how) {
    switch (how) {
        case TDeepHow::LiveMft:
            return "live MFT";
        case TDeepHow::OldMft:
            return "old MFT";
        case TDeepHow::NoLiveMft:
            return "no MFT";
    }
    return "";
}

namespace {

// The previews of the files found while the read goes on: each record is
// decoded in the geometry of the last boot sector before it (4 KiB clusters
// before any), without its extension records; a record in use where that
// volume's live MFT keeps it is a file of the live file system, not shown.
class TPreviews {
public:
    explicit TPreviews(platform::TRawVolume& source) : m_source(source) {
        for (const std::uint32_t size : {1024u, 4096u})
            m_defaults.push_back(MakeBase(0, {size, 4096, 512, 8}));
    }

    // A boot sector found at byteOffset starts a volume from there on.
    void OnBootSector(const ntfs::TFoundBootSector& found) {
        if (m_bases.size() >= kMaxBases) return;
        const std::optional<ntfs::TInferredVolume> v = ntfs::VolumeAtBootSector(found);
        if (!v) return;
        auto base = MakeBase(v->StartByte, GeometryOf(*v));
        base->Live = LiveMftOf(*base->Span, base->Geometry, *v);
        m_bases.push_back(std::move(base));
    }

    // The preview of a found record, handed to sink when it describes a file.
    void OnRecord(const TKept& k, ntfs::TByteView view, std::uint64_t viewStart, TDeepSink& sink) {
        if (!k.HasSelfNumber || k.SelfNumber < TDeepPass::kFirstUserRecord ||
            (k.Flags & ntfs::file_record::kFlagDirectory) != 0)
            return;
        TBase* base = nullptr;
        for (auto it = m_bases.rbegin(); it != m_bases.rend(); ++it)
            if ((*it)->Start <= k.ByteOffset) {
                base = it->get();
                break;
            }
        if (base == nullptr || base->Geometry.BytesPerFileRecord != k.Size())
            base = m_defaults[k.Large ? 1 : 0].get();
        const std::uint64_t at = k.ByteOffset - base->Start;
        std::uint64_t number = k.SelfNumber;
        if (base->Live) {
            if (const auto mftOffset = MftOffsetOf(base->Live->Map, at);
                mftOffset && *mftOffset % k.Size() == 0) {
                if ((k.Flags & ntfs::file_record::kFlagInUse) != 0) return;
                number = *mftOffset / k.Size();
            }
        }
        const auto offset = static_cast<std::size_t>(k.ByteOffset - viewStart);
        if (!view.Has(offset, k.Size()) ||
            !DecodeAsFree(*base->Decoder, number, at, view.Data() + offset, k.Size(), m_stretch))
            return;
        DeletedFileEntry& entry = m_stretch.Rows[0];
        entry.ByteOffset = k.ByteOffset;
        entry.Caption = CaptionText(k.ByteOffset);
        sink.OnPreview(entry, (k.Flags & ntfs::file_record::kFlagInUse) != 0);
    }

private:
    static constexpr std::size_t kMaxBases = 1024;
    struct TBase {
        std::uint64_t Start = 0;
        ntfs::TDISK_INFORMATION Geometry;
        std::unique_ptr<platform::TSpanVolume> Span;
        std::optional<ntfs::TMftLayout> Live;
        ntfs::TMftMap NoMap;  // extension records are not looked for
        std::unique_ptr<TRecordDecoder> Decoder;
    };
    std::unique_ptr<TBase> MakeBase(std::uint64_t start, const ntfs::TDISK_INFORMATION& g) {
        auto base = std::make_unique<TBase>();
        base->Start = start;
        base->Geometry = g;
        const std::uint64_t size = m_source.Size();
        base->Span =
            std::make_unique<platform::TSpanVolume>(m_source, start, size > start ? size - start : 0);
        base->Decoder =
            std::make_unique<TRecordDecoder>(base->Geometry, base->NoMap, *base->Span, false, UINT64_MAX);
        return base;
    }

    platform::TRawVolume& m_source;
    std::vector<std::unique_ptr<TBase>> m_defaults;
    std::vector<std::unique_ptr<TBase>> m_bases;
    TDecodedStretch m_stretch;
};

}  // namespace

TDeepResult TDeepPass::Run(const std::atomic<bool>& stop, TDeepSink& sink) {
    TDeepResult result;
    TDeepCounters& counters = result.Counters;
    TCollector found;
    const std::uint64_t total = m_source.Size();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kReadBytes, total)));

    // 1. One sequential pass. Each read starts where the last one's
    // boundaries ended, so the reads overlap by less than one record.
    std::optional<TPreviews> previews;
    if (sink.WantsPreviews()) previews.emplace(m_source);
    std::uint64_t pos = 0;
    while (pos < total) {
        if (stop.load(std::memory_order_relaxed)) {
            result.Stopped = true;
            return result;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), total - pos));
        const std::span<std::uint8_t> chunk(buffer.data(), n);
        const std::size_t got = m_source.ReadAt(pos, chunk);
        if (got < n) {
            // An unreadable stretch reads as zeros: no record is made up from it.
            ++counters.ReadFailures;
            std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got), chunk.end(), std::uint8_t{0});
        }
        const bool last = pos + n == total;
        const ntfs::TByteView view(chunk.data(), chunk.size());
        const std::size_t keptBefore = found.Kept.size(), bootsBefore = found.Boots.size();
        const std::size_t done = ntfs::MatchRecords(
            view, pos, last, [&](const ntfs::TFoundRecord& r) { found.OnRecord(r, view, pos); });
        const std::size_t step = last ? n : done;
        found.FindBootSectors(view, pos, step);
        const std::uint64_t viewStart = pos;
        pos += step;
        counters.BytesRead = pos;
        sink.OnProgress(pos, total);
        if (previews) {
            for (std::size_t i = bootsBefore; i < found.Boots.size(); ++i)
                previews->OnBootSector(found.Boots[i]);
            for (std::size_t i = keptBefore; i < found.Kept.size(); ++i)
                previews->OnRecord(found.Kept[i], view, viewStart, sink);
        }
    }
    counters.RecordsFound = found.Kept.size();
    counters.BootSectors = found.BootSectorsSeen;
    // The pass's own memory per found record is counted as it is at its
    // peak: the kept records with the larger of what inference and the
    // sorting of copies hold beside them, then what stays for the rows.
    const std::uint64_t keptBytes = found.Kept.capacity() * sizeof(TKept);

    // 2. The file systems, and what each needs for decoding.
    std::vector<ntfs::TRecordPlace> places;
    places.reserve(found.Kept.size());
    for (const TKept& k : found.Kept) places.push_back({k.ByteOffset, k.SelfNumber});
    result.Volumes = ntfs::InferVolumes(found.Boots, found.Records0, places);
    const std::uint64_t inferenceBytes = places.capacity() * sizeof(ntfs::TRecordPlace);
    places = {};
    sink.OnVolumes(result.Volumes);
    std::vector<TVolumeState> states = Prepare(m_source, result.Volumes);
    for (const TVolumeState& s : states)
        result.Maps.push_back({s.Geometry, s.Map, s.Live.has_value(), s.Span->Size()});

    // 3. Each record's volume, number and standing; the copies of one
    // record (one volume, one number) give way to the one written last.
    struct TCandidate {
        std::uint32_t Kept;
        std::uint32_t Volume;
        std::uint64_t Number;
        TDeepHow How;
        bool LiveInUse;
    };
    // The live file system at each volume's start (states.size(): none):
    // its own, or for a volume read from an old record 0 where a live one
    // now begins (a quick format with other clusters) that one, whose
    // bitmap judges its rows; such a volume's records are "old MFT", as for
    // a quick format that kept its clusters.
    std::vector<std::size_t> liveAt(states.size(), states.size());
    for (std::size_t i = 0; i < states.size(); ++i) {
        if (states[i].Live) {
            liveAt[i] = i;
            continue;
        }
        for (std::size_t j = 0; j < states.size() && liveAt[i] == states.size(); ++j)
            if (states[j].Live && result.Volumes[j].StartByte == result.Volumes[i].StartByte) liveAt[i] = j;
    }
    std::vector<TCandidate> candidates;
    candidates.reserve(found.Kept.size());
    for (std::size_t i = 0; i < found.Kept.size(); ++i) {
        const TKept& k = found.Kept[i];
        const std::size_t volume = ntfs::VolumeOf(result.Volumes, k.ByteOffset);
        if (volume >= result.Volumes.size()) {
            ++counters.Unplaced;
            continue;
        }
        const TVolumeState& s = states[volume];
        const std::uint64_t at = k.ByteOffset - result.Volumes[volume].StartByte;
        TCandidate c{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(volume), k.SelfNumber,
                     liveAt[volume] < states.size() ? TDeepHow::OldMft : TDeepHow::NoLiveMft, false};
        if (s.Live && k.Size() == s.Geometry.BytesPerFileRecord) {
            if (const auto mftOffset = MftOffsetOf(s.Live->Map, at);
                mftOffset && *mftOffset % k.Size() == 0) {
                c.Number = *mftOffset / k.Size();
                c.How = TDeepHow::LiveMft;
                c.LiveInUse = (k.Flags & ntfs::file_record::kFlagInUse) != 0;
            }
        }
        if (!k.HasSelfNumber && c.How != TDeepHow::LiveMft) c.Number = UINT64_MAX;  // not known
        candidates.push_back(c);
    }
    std::stable_sort(candidates.begin(), candidates.end(), [&](const TCandidate& a, const TCandidate& b) {
        if (a.Volume != b.Volume) return a.Volume < b.Volume;
        if (a.Number != b.Number) return a.Number < b.Number;
        return found.Kept[a.Kept].Lsn > found.Kept[b.Kept].Lsn;
    });
    std::vector<std::uint32_t> winners;
    std::vector<std::uint32_t> directories;  // in volume and record order, the live MFT's in use too
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const TCandidate& c = candidates[i];
        const bool copy = i > 0 && c.Number != UINT64_MAX && candidates[i - 1].Volume == c.Volume &&
                          candidates[i - 1].Number == c.Number;
        if (copy) {
            ++counters.Duplicates;
            continue;
        }
        if ((found.Kept[c.Kept].Flags & ntfs::file_record::kFlagDirectory) != 0 && c.Number != UINT64_MAX)
            directories.push_back(static_cast<std::uint32_t>(i));
        if (c.LiveInUse) {
            ++counters.LiveInUse;
            continue;
        }
        if (c.Number < kFirstUserRecord) {
            ++counters.SystemRecords;
            continue;
        }
        winners.push_back(static_cast<std::uint32_t>(i));
    }
    const std::uint64_t sortBytes = candidates.capacity() * sizeof(TCandidate) +
                                    (winners.capacity() + directories.capacity()) * sizeof(std::uint32_t);
    result.FoundRecordBytes = keptBytes + std::max(inferenceBytes, sortBytes);
    // Decoded in the order they lie on the source.
    std::sort(winners.begin(), winners.end(), [&](std::uint32_t a, std::uint32_t b) {
        return found.Kept[candidates[a].Kept].ByteOffset < found.Kept[candidates[b].Kept].ByteOffset;
    });

    // 4. The folders of each volume, read back from their records: only
    // what a path needs of them is kept, and only once the copies are known.
    TWindowReader reader(m_source);
    for (const std::uint32_t d : directories) {
        if (stop.load(std::memory_order_relaxed)) {
            result.Stopped = true;
            return result;
        }
        const TCandidate& c = candidates[d];
        const TKept& k = found.Kept[c.Kept];
        TVolumeState& s = states[c.Volume];
        if (k.Size() != s.Geometry.BytesPerFileRecord) continue;
        const std::uint8_t* bytes = reader.At(k.ByteOffset, k.Size());
        if (bytes == nullptr) continue;
        ntfs::TDynamicCharArray image(k.Size());
        std::copy_n(bytes, k.Size(), image.Span().begin());
        if (!ntfs::ApplyFixups(image.Span(), s.Geometry)) continue;
        if (auto note = DirectoryNoteOf(c.Number, image.View(), k.Flags)) s.Folders.Note(*note);
    }
    directories = {};
    for (TVolumeState& s : states) {
        s.Folders.Link();
        result.FoundRecordBytes += s.Folders.Bytes();
    }

    // 5. The rows, decoded as the walk decodes its records.
    TDecodedStretch stretch;
    std::size_t ranges = 0;  // cluster ranges the rows' claims keep
    for (const std::uint32_t w : winners) {
        if (stop.load(std::memory_order_relaxed)) {
            result.Stopped = true;
            return result;
        }
        const TCandidate& c = candidates[w];
        const TKept& k = found.Kept[c.Kept];
        TVolumeState& s = states[c.Volume];
        if ((k.Flags & ntfs::file_record::kFlagDirectory) != 0 || k.Size() != s.Geometry.BytesPerFileRecord) {
            ++counters.NotFiles;
            continue;
        }
        const std::uint8_t* bytes = reader.At(k.ByteOffset, k.Size());
        if (bytes == nullptr) {
            ++counters.ReadFailures;
            continue;
        }
        const bool lost = (k.Flags & ntfs::file_record::kFlagInUse) != 0;
        const std::uint64_t number = c.Number == UINT64_MAX ? 0 : c.Number;
        const std::uint64_t at = k.ByteOffset - result.Volumes[c.Volume].StartByte;
        if (!DecodeAsFree(*s.Decoder, number, at, bytes, k.Size(), stretch)) {
            ++counters.NotFiles;
            continue;
        }
        TDeepRow row;
        row.Entry = std::move(stretch.Rows[0]);
        // Where the file lived, as the normal scan tells it: a row without a
        // parent reference has a broken chain from the start.
        std::optional<std::uint64_t> parent;
        if (!stretch.RowNotes.empty()) {
            parent = stretch.RowNotes[0].ParentReference;
            TRowClaim claim = std::move(stretch.RowNotes[0].Claim);
            // As the normal scan does: past a bound only a crafted source
            // reaches, a row's claim is dropped and it gets no verdict.
            if (ranges + claim.Claim.Ranges.size() > TRowDetailsCollector::kMaxRanges) {
                claim.Claim.Ranges.clear();
                claim.Claim.Sound = false;
            }
            ranges += claim.Claim.Ranges.size();
            result.FoundRecordBytes += sizeof(TRowClaim) + claim.Claim.Ranges.size() * sizeof(TClusterRange) +
                                       sizeof(std::size_t);  // its row's number in ClaimRows
            s.Claims.push_back(std::move(claim));
        } else {
            s.Claims.emplace_back();
        }
        s.ClaimRows.push_back(counters.Rows);
        TOriginalPath path;
        if (parent)
            path = s.Folders.Resolve(*parent);
        else
            path.Broken = true;
        row.Entry.Details.Path = PathText(path, row.Entry.NameText);
        row.Entry.Details.Folders = std::move(path.Folders);
        row.Entry.Details.PathBroken = path.Broken;
        row.Entry.ByteOffset = k.ByteOffset;
        row.Entry.Caption = CaptionText(k.ByteOffset);
        row.Volume = c.Volume;
        row.How = c.How;
        row.Lost = lost;
        ++counters.Rows;
        sink.OnRow(std::move(row));
    }

    // 6. The verdicts, a volume at a time: its clusters in use now are the
    // ones its live MFT's bitmap marks. An older file system under a quick
    // format with other clusters is judged against the live one that begins
    // at its byte, its claims counted in that one's clusters. Without a live
    // MFT nothing says which are in use, and a row's clusters count only
    // against the other rows'.
    for (std::size_t v = 0; v < states.size(); ++v) {
        TVolumeState& s = states[v];
        if (s.ClaimRows.empty()) continue;
        TVolumeState* live = liveAt[v] < states.size() ? &states[liveAt[v]] : nullptr;
        std::optional<TClusterBitmap> bitmap;
        if (live) {
            if (const auto record =
                    ntfs::ReadMftRecord(live->Live->Map, *live->Span, kBitmapRecord, live->Geometry))
                bitmap = TClusterBitmap::FromRecord(record->View(), live->Geometry.BytesPerCluster);
        }
        if (live && live != &s)
            s.Claims = InOtherClusters(std::move(s.Claims), s.Geometry.BytesPerCluster,
                                       live->Geometry.BytesPerCluster);
        const std::vector<TRecoverability> verdicts =
            Judge(s.Claims, bitmap ? &*bitmap : nullptr, live ? *live->Span : *s.Span);
        for (std::size_t i = 0; i < verdicts.size() && i < s.ClaimRows.size(); ++i)
            sink.OnVerdict(s.ClaimRows[i], verdicts[i]);
        s.Claims = {};
        s.ClaimRows = {};
    }
    return result;
}

}  // namespace scan
