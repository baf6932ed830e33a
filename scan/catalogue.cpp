// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/catalogue.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "ntfs/partition_table.h"
#include "ntfs/text.h"
#include "platform/local_time.h"
#include "scan/original_path.h"

namespace scan {

namespace {

// The kinds of record, in the order they must come.
enum class TKind : std::uint8_t { Source = 1, Seen, Volume, Folder, Row, Counters, End };

// Limits of one field. None holds back a catalogue the program itself
// writes: NTFS names are at most 255 units, a cluster run list of the MFT
// is a few hundred runs, a path a few dozen folders.
constexpr std::size_t kMaxText = 1u << 16;         // bytes of a path, label or folder name
constexpr std::size_t kMaxNameUnits = 1u << 12;    // UTF-16 units of a file name
constexpr std::size_t kMaxRuns = 1u << 20;         // runs or extents of one MFT
constexpr std::size_t kMaxDepth = 1u << 12;        // folders of one path
constexpr std::size_t kMaxPartitions = 1u << 12;   // partitions of the table
constexpr std::size_t kMaxSeenVolumes = 1u << 24;  // file systems the scan found

class TWriter {
public:
    void U8(std::uint8_t v) { m_bytes.push_back(v); }
    void Fixed(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) m_bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Var(std::uint64_t v) {
        while (v >= 0x80) {
            m_bytes.push_back(static_cast<std::uint8_t>(v | 0x80));
            v >>= 7;
        }
        m_bytes.push_back(static_cast<std::uint8_t>(v));
    }
    void Signed(std::int64_t v) {
        const auto u = static_cast<std::uint64_t>(v);
        Var((u << 1) ^ (v < 0 ? UINT64_MAX : 0));
    }
    void Bool(bool v) { U8(v ? 1 : 0); }
    void Text(std::string_view text) {
        Var(text.size());
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    }
    void Units(std::u16string_view units) {
        Var(units.size());
        for (const char16_t u : units) Fixed(u, 2);
    }
    void Record(TKind kind, const TWriter& body) {
        U8(static_cast<std::uint8_t>(kind));
        Var(body.m_bytes.size());
        m_bytes.insert(m_bytes.end(), body.m_bytes.begin(), body.m_bytes.end());
    }
    std::vector<std::uint8_t>& Bytes() { return m_bytes; }
    // Empty again, its storage kept for the next record.
    void Clear() { m_bytes.clear(); }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Reads one record's body. The first field that does not decode (past the
// end, out of its range) makes the reader fail, and every read after it.
class TReader {
public:
    explicit TReader(ntfs::TByteView bytes) : m_bytes(bytes) {}
    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_ok && m_at == m_bytes.Size(); }
    std::size_t Left() const { return m_ok ? m_bytes.Size() - m_at : 0; }

    bool U8(std::uint8_t& v) {
        const auto b = m_ok ? m_bytes.U8(m_at) : std::nullopt;
        if (!b) return Fail();
        v = *b;
        ++m_at;
        return true;
    }
    bool Var(std::uint64_t& v) {
        v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            std::uint8_t b = 0;
            if (!U8(b)) return false;
            // The tenth byte holds the top bit alone.
            if (shift == 63 && b > 1) return Fail();
            v |= std::uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80) == 0) return true;
        }
        return Fail();
    }
    bool Var32(std::uint32_t& v) {
        std::uint64_t w = 0;
        if (!Var(w) || w > UINT32_MAX) return Fail();
        v = static_cast<std::uint32_t>(w);
        return true;
    }
    bool Signed(std::int64_t& v) {
        std::uint64_t u = 0;
        if (!Var(u)) return false;
        v = static_cast<std::int64_t>((u >> 1) ^ (0 - (u & 1)));
        return true;
    }
    bool Bool(bool& v) {
        std::uint8_t b = 0;
        if (!U8(b) || b > 1) return Fail();
        v = b == 1;
        return true;
    }
    // An enumeration whose values run from 0 to last.
    template <typename TEnum>
    bool Enum(TEnum& v, TEnum last) {
        std::uint8_t b = 0;
        if (!U8(b) || b > static_cast<std::uint8_t>(last)) return Fail();
        v = static_cast<TEnum>(b);
        return true;
    }
    // A count of items that take at least minBytes each: checked against
    // the bytes left before anyone reserves room for them.
    bool Count(std::size_t& n, std::size_t max, std::size_t minBytes) {
        std::uint64_t v = 0;
        if (!Var(v) || v > max || v > Left() / minBytes) return Fail();
        n = static_cast<std::size_t>(v);
        return true;
    }
    bool Text(std::string& text, std::size_t max = kMaxText) {
        std::size_t n = 0;
        if (!Count(n, max, 1)) return false;
        text.clear();
        if (n > 0) text.assign(reinterpret_cast<const char*>(m_bytes.Data() + m_at), n);
        m_at += n;
        return true;
    }
    // A varint length and that many bytes, as a reader of their own.
    bool Body(TReader& body) {
        std::size_t n = 0;
        if (!Count(n, SIZE_MAX, 1)) return false;
        body = TReader(m_bytes.Sub(m_at, n));
        m_at += n;
        return true;
    }
    bool Units(std::u16string& units) {
        std::size_t n = 0;
        if (!Count(n, kMaxNameUnits, 2)) return false;
        units.resize(n);
        for (std::size_t i = 0; i < n; ++i) units[i] = static_cast<char16_t>(*m_bytes.U16(m_at + 2 * i));
        m_at += 2 * n;
        return true;
    }

private:
    bool Fail() {
        m_ok = false;
        return false;
    }
    ntfs::TByteView m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

std::string Number(std::uint64_t n) {
    return std::to_string(n);
}

void PutSource(TWriter& w, const TScanResult& r) {
    const TScanSource& s = r.Source;
    w.Text(s.Drive);
    w.Text(s.Resolved);
    w.Var(s.StartByte);
    w.Var(s.Length);
    w.Bool(s.Partition.has_value());
    w.Var(s.Partition.value_or(0));
    w.U8(static_cast<std::uint8_t>(r.Partitions.Kind));
    w.Var(r.Partitions.Partitions.size());
    for (const TPartitionInfo& info : r.Partitions.Partitions) {
        const ntfs::TPartition& p = info.Partition;
        w.Var(p.Number);
        w.Var(p.StartByte);
        w.Var(p.Size);
        w.Text(p.Type);
        w.Text(p.Name);
        w.U8(p.MbrType);
        w.Bool(info.Ntfs);
    }
    w.U8(static_cast<std::uint8_t>(r.SourceError));
    w.U8(static_cast<std::uint8_t>(r.Outcome));
    const TDriveFacts& f = r.Facts;
    w.Text(f.Label);
    w.Var(f.SerialNumber);
    w.Text(f.Oem);
    w.Var(f.VolumeBytes);
    w.Var(f.MftByteOffset);
    w.Bool(f.MftByteOffsetValid);
    w.Var(f.MftBytes);
    w.Var(f.RecordCount);
    w.U8(f.MirroredRecords);
}

bool GetSource(TReader& r, TScanResult& out) {
    TScanSource& s = out.Source;
    bool hasPartition = false;
    std::uint32_t partition = 0;
    std::size_t partitions = 0;
    if (!r.Text(s.Drive) || !r.Text(s.Resolved) || !r.Var(s.StartByte) || !r.Var(s.Length) ||
        !r.Bool(hasPartition) || !r.Var32(partition) || !r.Enum(out.Partitions.Kind, ntfs::TTableKind::Gpt) ||
        !r.Count(partitions, kMaxPartitions, 7))
        return false;
    if (hasPartition) s.Partition = partition;
    out.Partitions.Partitions.resize(partitions);
    for (TPartitionInfo& info : out.Partitions.Partitions) {
        ntfs::TPartition& p = info.Partition;
        if (!r.Var32(p.Number) || !r.Var(p.StartByte) || !r.Var(p.Size) || !r.Text(p.Type) ||
            !r.Text(p.Name) || !r.U8(p.MbrType) || !r.Bool(info.Ntfs))
            return false;
    }
    TDriveFacts& f = out.Facts;
    return r.Enum(out.SourceError, TSourceError::SeveralNtfs) &&
           r.Enum(out.Outcome, TScanOutcome::MftDataFlagged) && r.Text(f.Label) && r.Var(f.SerialNumber) &&
           r.Text(f.Oem) && r.Var(f.VolumeBytes) && r.Var(f.MftByteOffset) && r.Bool(f.MftByteOffsetValid) &&
           r.Var(f.MftBytes) && r.Var(f.RecordCount) && r.U8(f.MirroredRecords);
}

void PutSeen(TWriter& w, const TSourceSeen& seen) {
    w.Var(seen.Bytes);
    w.Var(seen.Volumes.size());
    for (const TSeenVolume& v : seen.Volumes) {
        w.Bool(v.Ntfs);
        w.Var(v.Serial);
    }
}

bool GetSeen(TReader& r, TSourceSeen& seen) {
    std::size_t n = 0;
    if (!r.Var(seen.Bytes) || !r.Count(n, kMaxSeenVolumes, 2)) return false;
    seen.Volumes.resize(n);
    for (TSeenVolume& v : seen.Volumes)
        if (!r.Bool(v.Ntfs) || !r.Var(v.Serial)) return false;
    return true;
}

void PutVolume(TWriter& w, const TScanResult::TFoundVolume& v) {
    const ntfs::TInferredVolume& f = v.Found;
    w.Var(f.StartByte);
    w.Var(f.Bytes);
    w.Var(f.BytesPerCluster);
    w.Var(f.BytesPerFileRecord);
    w.Var(f.MftLcn);
    w.Var(f.MirrorLcn);
    w.Var(f.SerialNumber);
    w.U8(static_cast<std::uint8_t>(f.Source));
    w.Var(f.Evidence);
    w.Var(f.MftRuns.size());
    for (const ntfs::TDataRun& run : f.MftRuns) {
        w.Var(run.Vcn);
        w.Var(run.Length);
        w.Signed(run.Lcn);
        w.Bool(run.Sparse);
    }
    const TDeepVolume& d = v.Read;
    w.Var(d.Geometry.BytesPerFileRecord);
    w.Var(d.Geometry.BytesPerCluster);
    w.Var(d.Geometry.BytesPerSector);
    w.Var(d.Geometry.SectorsPerCluster);
    w.Var(d.Map.Extents().size());
    for (const ntfs::TMftExtent& e : d.Map.Extents()) {
        w.Var(e.MftOffset);
        w.Var(e.VolumeOffset);
        w.Var(e.Length);
        w.Bool(e.Sparse);
    }
    w.Bool(d.Map.Mirror().has_value());
    w.Var(d.Map.Mirror().value_or(0));
    w.Bool(d.LiveMft);
    w.Var(d.SpanBytes);
}

bool GetVolume(TReader& r, TScanResult::TFoundVolume& v) {
    ntfs::TInferredVolume& f = v.Found;
    std::uint32_t evidence = 0;
    std::size_t runs = 0;
    if (!r.Var(f.StartByte) || !r.Var(f.Bytes) || !r.Var32(f.BytesPerCluster) ||
        !r.Var32(f.BytesPerFileRecord) || !r.Var(f.MftLcn) || !r.Var(f.MirrorLcn) || !r.Var(f.SerialNumber) ||
        !r.Enum(f.Source, ntfs::TGeometrySource::MftRecord0) || !r.Var32(evidence) ||
        !r.Count(runs, kMaxRuns, 4))
        return false;
    f.Evidence = evidence;
    f.MftRuns.resize(runs);
    for (ntfs::TDataRun& run : f.MftRuns)
        if (!r.Var(run.Vcn) || !r.Var(run.Length) || !r.Signed(run.Lcn) || !r.Bool(run.Sparse)) return false;
    TDeepVolume& d = v.Read;
    std::size_t extents = 0;
    if (!r.Var32(d.Geometry.BytesPerFileRecord) || !r.Var32(d.Geometry.BytesPerCluster) ||
        !r.Var32(d.Geometry.BytesPerSector) || !r.Var32(d.Geometry.SectorsPerCluster) ||
        !r.Count(extents, kMaxRuns, 4))
        return false;
    std::vector<ntfs::TMftExtent> list(extents);
    for (ntfs::TMftExtent& e : list)
        if (!r.Var(e.MftOffset) || !r.Var(e.VolumeOffset) || !r.Var(e.Length) || !r.Bool(e.Sparse))
            return false;
    auto map = ntfs::TMftMap::FromExtents(std::move(list));
    bool hasMirror = false;
    std::uint64_t mirror = 0;
    if (!map || !r.Bool(hasMirror) || !r.Var(mirror) || !r.Bool(d.LiveMft) || !r.Var(d.SpanBytes))
        return false;
    if (hasMirror) map->SetMirror(mirror);
    d.Map = std::move(*map);
    return true;
}

void PutCounters(TWriter& w, const TDeepCounters& c) {
    for (const std::uint64_t v : {c.BytesRead, c.ReadFailures, c.RecordsFound, c.BootSectors, c.Duplicates,
                                  c.LiveInUse, c.Unplaced, c.SystemRecords, c.NotFiles, c.Rows})
        w.Var(v);
}

bool GetCounters(TReader& r, TDeepCounters& c) {
    for (std::uint64_t* v : {&c.BytesRead, &c.ReadFailures, &c.RecordsFound, &c.BootSectors, &c.Duplicates,
                             &c.LiveInUse, &c.Unplaced, &c.SystemRecords, &c.NotFiles, &c.Rows})
        if (!r.Var(*v)) return false;
    return true;
}

// The folder names of the rows, each written once.
class TFolderIndex {
public:
    std::uint64_t Of(const std::string& name, TWriter& out) {
        const auto [it, added] = m_index.emplace(name, m_index.size());
        if (added) {
            TWriter body;
            body.Text(name);
            out.Record(TKind::Folder, body);
        }
        return it->second;
    }

private:
    std::unordered_map<std::string, std::uint64_t> m_index;
};

void PutRow(TWriter& w, const DeletedFileEntry& e, const TScanResult::TDeepRowFacts& facts,
            const std::vector<std::uint64_t>& folders) {
    w.Var(e.Record);
    w.Var(e.ByteOffset);
    w.Units(e.Name);
    w.Signed(e.Size);
    w.Var(e.CreationTime);
    w.Var(e.ModificationTime);
    w.Var(folders.size());
    for (const std::uint64_t f : folders) w.Var(f);
    w.Bool(e.Details.PathBroken);
    const TRecoverability& v = e.Details.Recoverability;
    w.U8(static_cast<std::uint8_t>(v.Verdict));
    w.Var(v.Clusters);
    w.Var(v.InUse);
    w.Var(v.LostToNewer);
    w.Var(facts.Volume);
    w.U8(static_cast<std::uint8_t>(facts.How));
    w.Bool(facts.Lost);
}

bool GetRow(TReader& r, const std::vector<std::string>& folderNames, std::size_t volumes,
            platform::TDateTimeFormatter& formatter, DeletedFileEntry& e, TScanResult::TDeepRowFacts& facts) {
    std::size_t depth = 0;
    if (!r.Var(e.Record) || !r.Var(e.ByteOffset) || !r.Units(e.Name) || !r.Signed(e.Size) ||
        !r.Var(e.CreationTime) || !r.Var(e.ModificationTime) || !r.Count(depth, kMaxDepth, 1))
        return false;
    TOriginalPath path;
    path.Folders.reserve(depth);
    for (std::size_t i = 0; i < depth; ++i) {
        std::uint64_t f = 0;
        if (!r.Var(f) || f >= folderNames.size()) return false;
        path.Folders.push_back(folderNames[static_cast<std::size_t>(f)]);
    }
    TRecoverability& v = e.Details.Recoverability;
    if (!r.Bool(path.Broken) || !r.Enum(v.Verdict, TVerdict::Overwritten) || !r.Var(v.Clusters) ||
        !r.Var(v.InUse) || !r.Var(v.LostToNewer) || !r.Var32(facts.Volume) || facts.Volume >= volumes ||
        !r.Enum(facts.How, TDeepHow::NoLiveMft) || !r.Bool(facts.Lost))
        return false;
    // The texts, as the scan makes them from the same fields.
    e.Caption = CaptionText(e.ByteOffset);
    ntfs::Utf16ToUtf8(e.Name, e.NameText);
    ntfs::Utf16ToUtf8(ExtensionOf(e.Name), e.Extension);
    e.SizeText = SizeText(e.Size);
    formatter.Format(e.CreationTime, e.CreateTime);
    formatter.Format(e.ModificationTime, e.LastTime);
    e.Details.Path = PathText(path, e.NameText);
    e.Details.PathBroken = path.Broken;
    e.Details.Folders = std::move(path.Folders);
    return true;
}

TDecodedCatalogue Refused(std::string why) {
    TDecodedCatalogue out;
    out.Error = std::move(why);
    return out;
}

}  // namespace

TSourceSeen LookAtSource(platform::TRawVolume& source, const TScanResult& result) {
    TSourceSeen seen;
    seen.Bytes = source.Size();
    for (const TScanResult::TFoundVolume& v : result.DeepVolumes) {
        std::vector<std::uint8_t> sector(ntfs::boot_sector::kReadSize, 0);
        const std::size_t got = source.ReadAt(v.Found.StartByte, sector);
        const ntfs::TBOOT_SECTOR boot = ntfs::DecodeBootSector({sector.data(), std::min(got, sector.size())});
        TSeenVolume s;
        s.Ntfs = got >= ntfs::boot_sector::kSize && ntfs::IsNtfsOem(boot);
        if (s.Ntfs) s.Serial = boot.VolumeSerialNumber;
        seen.Volumes.push_back(s);
    }
    return seen;
}

std::string SourceMismatch(const TSourceSeen& then, const TSourceSeen& now, const TScanResult& result) {
    if (now.Bytes != then.Bytes)
        return "its size is " + Number(now.Bytes) + " bytes, the catalogue's source had " +
               Number(then.Bytes);
    for (std::size_t i = 0; i < then.Volumes.size() && i < now.Volumes.size(); ++i) {
        const TSeenVolume& a = then.Volumes[i];
        const TSeenVolume& b = now.Volumes[i];
        if (a == b) continue;
        const std::string where = i < result.DeepVolumes.size()
                                      ? "at byte " + Number(result.DeepVolumes[i].Found.StartByte)
                                      : "number " + Number(i);
        const auto serial = [](std::uint64_t s) { return "serial " + ntfs::HexUpper(s, 16); };
        if (a.Ntfs && b.Ntfs)
            return "the file system " + where + " has " + serial(b.Serial) + ", the catalogue's had " +
                   serial(a.Serial);
        if (a.Ntfs) return "no NTFS boot sector is " + where + ", the catalogue's source had one";
        return "an NTFS boot sector (" + serial(b.Serial) + ") is " + where +
               ", the catalogue's source had none";
    }
    if (then.Volumes.size() != now.Volumes.size()) return "it holds another set of file systems";
    return {};
}

std::vector<std::uint8_t> EncodeCatalogue(const TScanResult& result, const TSourceSeen& seen) {
    TWriter out;
    for (const char c : catalogue::kMagic) out.U8(static_cast<std::uint8_t>(c));
    out.Fixed(catalogue::kVersion, 4);
    out.Fixed(0, 8);  // the file's length, once known
    TWriter body;
    PutSource(body, result);
    out.Record(TKind::Source, body);
    body.Clear();
    PutSeen(body, seen);
    out.Record(TKind::Seen, body);
    for (const TScanResult::TFoundVolume& v : result.DeepVolumes) {
        body.Clear();
        PutVolume(body, v);
        out.Record(TKind::Volume, body);
    }
    // Each row's folders are written, the first time they are met, before
    // the row that names them.
    TFolderIndex index;
    std::vector<std::uint64_t> folders;
    for (std::size_t i = 0; i < result.Rows.size() && i < result.DeepRows.size(); ++i) {
        const DeletedFileEntry& e = result.Rows[i];
        folders.clear();
        for (const std::string& name : e.Details.Folders) folders.push_back(index.Of(name, out));
        body.Clear();
        PutRow(body, e, result.DeepRows[i], folders);
        out.Record(TKind::Row, body);
    }
    body.Clear();
    PutCounters(body, result.DeepCounters);
    out.Record(TKind::Counters, body);
    out.Record(TKind::End, TWriter{});
    std::vector<std::uint8_t>& bytes = out.Bytes();
    const std::uint64_t length = bytes.size() + catalogue::kTrailerSize;
    for (std::size_t i = 0; i < 8; ++i) bytes[12 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    const std::uint32_t crc = ntfs::Crc32({bytes.data(), bytes.size()});
    out.Fixed(crc, 4);
    return std::move(bytes);
}

TDecodedCatalogue DecodeCatalogue(ntfs::TByteView bytes) {
    using namespace catalogue;
    const std::size_t size = bytes.Size();
    const std::string truncated = "the catalogue is truncated (" + Number(size) + " bytes";
    if (!bytes.StartsWith(kMagic, std::min(size, sizeof kMagic)))
        return Refused("this is not a catalogue of a deep scan");
    const auto version = bytes.U32(8);
    if (!version) return Refused(truncated + ")");
    if (*version > kVersion)
        return Refused("the catalogue was written by a later version of the program (catalogue version " +
                       Number(*version) + "; this one reads " + Number(kVersion) + ")");
    if (*version != kVersion)
        return Refused("the catalogue is of an unknown version (" + Number(*version) + ")");
    const auto length = bytes.U64(12);
    if (!length) return Refused(truncated + ")");
    if (*length > size) return Refused(truncated + " of " + Number(*length) + ")");
    if (*length < size) return Refused("the catalogue is damaged (it is longer than its header says)");
    if (size < kHeaderSize + kTrailerSize)
        return Refused("the catalogue is damaged (too short to hold anything)");
    const std::size_t end = size - kTrailerSize;
    if (ntfs::Crc32(bytes.Sub(0, end)) != *bytes.U32(end))
        return Refused("the catalogue is damaged (its checksum does not match its contents)");

    auto result = std::make_shared<TScanResult>();
    result->Deep = true;
    TDecodedCatalogue out;
    std::vector<std::string> folders;
    platform::TDateTimeFormatter formatter;
    TReader file(bytes.Sub(kHeaderSize, end - kHeaderSize));
    // Where the records stand: 0 before the Source, 1 before the Seen, 2
    // among the volumes, 3 among the folders and rows (a folder comes just
    // before the first row that names it), 4 before the End, 5 past it.
    int stage = 0;
    std::uint64_t records = 0;
    const auto damaged = [&](const std::string& what) {
        return Refused("the catalogue is damaged (record " + Number(records) + ": " + what + ")");
    };
    while (stage < 5) {
        std::uint8_t k = 0;
        TReader body({});
        if (!file.U8(k) || !file.Body(body)) return damaged("cut short");
        const auto kind = static_cast<TKind>(k);
        int next = -1;
        switch (kind) {
            case TKind::Source:
                next = stage == 0 ? 1 : -1;
                break;
            case TKind::Seen:
                next = stage == 1 ? 2 : -1;
                break;
            case TKind::Volume:
                next = stage == 2 ? 2 : -1;
                break;
            case TKind::Folder:
            case TKind::Row:
                next = stage == 2 || stage == 3 ? 3 : -1;
                break;
            case TKind::Counters:
                next = stage == 2 || stage == 3 ? 4 : -1;
                break;
            case TKind::End:
                next = stage == 4 ? 5 : -1;
                break;
        }
        if (next < 0) return damaged("out of its order");
        bool ok = true;
        switch (kind) {
            case TKind::Source:
                ok = GetSource(body, *result);
                break;
            case TKind::Seen:
                ok = GetSeen(body, out.Seen);
                break;
            case TKind::Volume:
                ok = GetVolume(body, result->DeepVolumes.emplace_back());
                break;
            case TKind::Folder:
                ok = body.Text(folders.emplace_back());
                break;
            case TKind::Row:
                ok = GetRow(body, folders, result->DeepVolumes.size(), formatter, result->Rows.emplace_back(),
                            result->DeepRows.emplace_back());
                break;
            case TKind::Counters:
                ok = GetCounters(body, result->DeepCounters);
                break;
            case TKind::End:
                break;
        }
        if (!ok || !body.AtEnd()) return damaged("a field does not decode");
        stage = next;
        ++records;
    }
    if (!file.AtEnd()) return damaged("bytes after its end");
    if (out.Seen.Volumes.size() != result->DeepVolumes.size())
        return damaged("the source's file systems do not match its volumes");
    out.Result = std::move(result);
    return out;
}

bool SaveCatalogueFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                       std::string& error) {
    namespace fs = std::filesystem;
    // Beside the target, so that the rename stays within one file system;
    // a random part, so that two saves to one name do not share it.
    std::random_device random;
    fs::path temp = path;
    temp += ".part-" + Number(random());
    bool written = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            out.flush();
            written = static_cast<bool>(out);
        }
        out.close();
        written = written && !out.fail();
    }
    std::error_code ec;
    if (!written) {
        error = "it could not be written";
        fs::remove(temp, ec);
        return false;
    }
    fs::rename(temp, path, ec);
    if (ec) {
        error = ec.message();
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

bool SaveCatalogue(const TScanResult& result, const std::filesystem::path& path, std::string& error) {
    // A normal scan's rows name records of one MFT, not places on a source.
    if (!result.Deep) {
        error = "only a deep scan is kept as a catalogue";
        return false;
    }
    const TOpenedSource opened = OpenSource(result.Source);
    if (!opened.Volume) {
        error = "its source did not open again: " +
                (opened.OpenFailure ? opened.OpenFailure->Reason : SourceErrorText(opened.Error));
        return false;
    }
    return SaveCatalogueFile(path, EncodeCatalogue(result, LookAtSource(*opened.Volume, result)), error);
}

TDecodedCatalogue LoadCatalogueFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return Refused("there is no such catalogue");
    if (!std::filesystem::is_regular_file(path, ec)) return Refused("this is not a catalogue file");
    // The file's own size: its length is checked by the decoder, and
    // nothing is allocated beyond what the file holds.
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in || size > SIZE_MAX) return Refused("the catalogue does not open");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) return Refused("the catalogue cannot be read");
    return DecodeCatalogue({bytes.data(), bytes.size()});
}

TCatalogueSourceCheck ReopenCatalogueSource(TDecodedCatalogue& catalogue, const std::string& name) {
    TCatalogueSourceCheck check;
    if (!catalogue.Result) return check;
    TScanResult& result = *catalogue.Result;
    TOpenedSource opened;
    if (name.empty()) {
        opened = OpenSource(result.Source);
    } else {
        TSourceRequest request;
        request.Name = name;
        request.Scope = TSourceScope::AsItIs;
        opened = OpenSource(request);
    }
    if (!opened.Volume) {
        check.OpenFailure = opened.OpenFailure;
        check.Error = opened.OpenFailure ? opened.OpenFailure->Reason : SourceErrorText(opened.Error);
        return check;
    }
    const std::string mismatch = SourceMismatch(catalogue.Seen, LookAtSource(*opened.Volume, result), result);
    if (!mismatch.empty()) {
        check.OtherSource = true;
        check.Error = "not the source the catalogue was made of: " + mismatch;
        return check;
    }
    if (!name.empty()) result.Source = opened.Source;
    check.Ok = true;
    return check;
}

}  // namespace scan
