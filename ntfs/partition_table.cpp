// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/partition_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <set>

#include "ntfs/text.h"

namespace ntfs {

using namespace partition_table;

namespace {

// Where a volume's boot sector names its file system (8 x ASCII each).
constexpr std::size_t kOemName = 0x03;        // "NTFS    ", "EXFAT   "
constexpr std::size_t kFat16TypeName = 0x36;  // "FAT12   ", "FAT16   "
constexpr std::size_t kFat32TypeName = 0x52;  // "FAT32   "
constexpr std::size_t kNameWidth = 8;

// A GUID's fields.
constexpr std::size_t kGuidData1 = 0x00;  // u32
constexpr std::size_t kGuidData2 = 0x04;  // u16
constexpr std::size_t kGuidData3 = 0x06;  // u16
constexpr std::size_t kGuidData4 = 0x08;  // 8 bytes, in the order they lie
static_assert(kGuidData4 + 8 == kGuidSize);

std::string TypeByteText(std::uint8_t type) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", type);
    return text;
}

// A GUID in its usual text form: the first three fields are little-endian.
// Empty when the view is shorter than a GUID.
std::string GuidText(TByteView g) {
    if (!g.Has(0, kGuidSize)) return {};
    const std::uint8_t* b = g.Data() + kGuidData4;
    char text[40];
    std::snprintf(
        text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
        static_cast<unsigned>(g.LoadLe(kGuidData1, 4)), static_cast<unsigned>(g.LoadLe(kGuidData2, 2)),
        static_cast<unsigned>(g.LoadLe(kGuidData3, 2)), b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
    return text;
}

bool HasMbrSignature(TByteView sector) {
    return sector.U8(kMbrSignature) == std::uint8_t{0x55} &&
           sector.U8(kMbrSignature + 1) == std::uint8_t{0xAA};
}

struct TMbrEntry {
    std::uint8_t Status = 0;
    std::uint8_t Type = 0;
    std::uint32_t FirstSector = 0;
    std::uint32_t SectorCount = 0;
};

// Entry `slot` (0-3) of an MBR or extended boot record; empty when the
// sector is too short to hold it.
std::optional<TMbrEntry> DecodeMbrEntry(TByteView sector, std::size_t slot) {
    const TByteView e = sector.Sub(kMbrEntries + slot * kMbrEntrySize, kMbrEntrySize);
    const auto status = e.U8(mbr_entry::kStatus);
    const auto type = e.U8(mbr_entry::kType);
    const auto first = e.U32(mbr_entry::kFirstSector);
    const auto count = e.U32(mbr_entry::kSectorCount);
    if (!status || !type || !first || !count) return std::nullopt;
    return TMbrEntry{*status, *type, *first, *count};
}

bool IsBootSectorOfVolume(TByteView sector) {
    // NTFS and FAT boot sectors end in 0x55AA too; their OEM or file system
    // text tells them from a partition table.
    const TByteView oem = sector.Sub(kOemName, kNameWidth);
    return oem.StartsWith("NTFS    ", 8) || oem.StartsWith("EXFAT   ", 8) ||
           sector.Sub(kFat16TypeName, kNameWidth).StartsWith("FAT", 3) ||
           sector.Sub(kFat32TypeName, kNameWidth).StartsWith("FAT32", 5);
}

// A partition [start, start + count) sectors, or nothing when it does not fit
// the disk (or 64 bits).
std::optional<TPartition> Span(std::uint64_t startSector, std::uint64_t count, std::uint32_t sectorSize,
                               std::uint64_t diskBytes) {
    const auto start = MulChecked(startSector, sectorSize);
    const auto size = MulChecked(count, sectorSize);
    if (!start || !size || *size == 0) return std::nullopt;
    const auto end = AddChecked(*start, *size);
    if (!end || (diskBytes != 0 && *end > diskBytes)) return std::nullopt;
    TPartition p;
    p.StartByte = *start;
    p.Size = *size;
    return p;
}

std::optional<std::array<std::uint8_t, kMbrSectorSize>> ReadSector(const TReadDisk& read,
                                                                   std::uint64_t offset) {
    std::array<std::uint8_t, kMbrSectorSize> sector{};
    if (!read(offset, sector)) return std::nullopt;
    return sector;
}

// Logical partitions: a chain of extended boot records, each holding one
// logical partition (relative to itself) and a link to the next (relative to
// the extended partition's start).
void AddLogicals(const TReadDisk& read, std::uint64_t diskBytes, std::uint64_t extendedSector,
                 TPartitionTable& table) {
    std::set<std::uint64_t> seen;
    std::uint64_t ebrSector = extendedSector;
    std::uint32_t number = 5;
    while (number < 5 + kMaxLogical && seen.insert(ebrSector).second) {
        const auto offset = MulChecked(ebrSector, kMbrSectorSize);
        if (!offset) return;
        const auto sector = ReadSector(read, *offset);
        if (!sector) return;
        const TByteView s(sector->data(), sector->size());
        if (!HasMbrSignature(s)) return;
        const auto logical = DecodeMbrEntry(s, 0);
        const auto link = DecodeMbrEntry(s, 1);
        if (!logical || !link) return;
        if (logical->Type != 0) {
            const auto start = AddChecked(ebrSector, logical->FirstSector);
            if (!start) return;
            if (auto p = Span(*start, logical->SectorCount, kMbrSectorSize, diskBytes)) {
                p->Number = number++;
                p->MbrType = logical->Type;
                p->Type = TypeByteText(logical->Type);
                table.Partitions.push_back(std::move(*p));
            }
        }
        if (!IsExtendedType(link->Type) || link->FirstSector == 0) return;
        const auto next = AddChecked(extendedSector, link->FirstSector);
        if (!next) return;
        ebrSector = *next;
    }
}

std::optional<TPartitionTable> ReadGptAt(const TReadDisk& read, std::uint64_t diskBytes,
                                         std::uint32_t sectorSize, std::uint64_t lba) {
    const auto offset = MulChecked(lba, sectorSize);
    if (!offset) return std::nullopt;
    std::vector<std::uint8_t> sector(sectorSize);
    if (!read(*offset, sector)) return std::nullopt;
    const auto header = DecodeGptHeader({sector.data(), sector.size()}, lba);
    if (!header) return std::nullopt;
    const std::uint64_t bytes = std::uint64_t{header->EntryCount} * header->EntrySize;  // both bounded
    const auto entriesOffset = MulChecked(header->EntriesLba, sectorSize);
    if (!entriesOffset) return std::nullopt;
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(bytes));
    if (!read(*entriesOffset, entries)) return std::nullopt;
    const TByteView view(entries.data(), entries.size());
    if (Crc32(view) != header->EntriesCrc) return std::nullopt;
    TPartitionTable table;
    table.Kind = TTableKind::Gpt;
    table.Partitions = DecodeGptEntries(view, *header, sectorSize, diskBytes);
    return table;
}

std::optional<TPartitionTable> ReadGpt(const TReadDisk& read, std::uint64_t diskBytes) {
    for (const std::uint32_t sectorSize : {512u, 4096u}) {
        if (auto table = ReadGptAt(read, diskBytes, sectorSize, 1)) return table;
        // The backup header lies in the disk's last sector.
        if (diskBytes >= 2ull * sectorSize) {
            if (auto table = ReadGptAt(read, diskBytes, sectorSize, diskBytes / sectorSize - 1)) {
                table->UsedBackupGpt = true;
                return table;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::uint32_t Crc32(TByteView bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < bytes.Size(); ++i) crc = table[(crc ^ bytes.Data()[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool IsExtendedType(std::uint8_t type) {
    return type == 0x05 || type == 0x0F || type == 0x85;
}

TPartitionTable DecodeMbr(TByteView sector, std::uint64_t diskBytes) {
    TPartitionTable table;
    if (sector.Size() < kMbrSectorSize || !HasMbrSignature(sector) || IsBootSectorOfVolume(sector))
        return table;
    std::vector<TPartition> found;
    for (std::uint32_t i = 0; i < 4; ++i) {
        const auto e = DecodeMbrEntry(sector, i);
        if (!e) return table;
        if (e->Type == 0) continue;
        // A boot flag other than 0x00 or 0x80, or an entry beyond the disk,
        // says these bytes are no partition table.
        if (e->Status != 0x00 && e->Status != 0x80) return table;
        auto p = Span(e->FirstSector, e->SectorCount, kMbrSectorSize,
                      e->Type == kTypeGptProtective ? 0 : diskBytes);
        if (!p) return table;
        p->Number = i + 1;
        p->MbrType = e->Type;
        p->Type = TypeByteText(e->Type);
        found.push_back(std::move(*p));
    }
    if (found.empty()) return table;
    table.Kind = TTableKind::Mbr;
    table.Partitions = std::move(found);
    return table;
}

std::optional<TGptHeader> DecodeGptHeader(TByteView sector, std::uint64_t lba) {
    if (!sector.Sub(gpt_header::kSignature, 8).StartsWith("EFI PART", 8)) return std::nullopt;
    const auto headerSize = sector.U32(gpt_header::kHeaderSize);
    const auto headerCrc = sector.U32(gpt_header::kHeaderCrc);
    if (!headerSize || !headerCrc || *headerSize < gpt_header::kMinSize || !sector.Has(0, *headerSize))
        return std::nullopt;
    std::vector<std::uint8_t> copy(sector.Data(), sector.Data() + *headerSize);
    // The CRC is taken with its own field zero.
    std::fill_n(copy.begin() + static_cast<std::ptrdiff_t>(gpt_header::kHeaderCrc), 4, std::uint8_t{0});
    if (Crc32({copy.data(), copy.size()}) != *headerCrc) return std::nullopt;
    const auto myLba = sector.U64(gpt_header::kMyLba);
    const auto alternateLba = sector.U64(gpt_header::kAlternateLba);
    const auto entriesLba = sector.U64(gpt_header::kEntriesLba);
    const auto entryCount = sector.U32(gpt_header::kEntryCount);
    const auto entrySize = sector.U32(gpt_header::kEntrySize);
    const auto entriesCrc = sector.U32(gpt_header::kEntriesCrc);
    if (!myLba || !alternateLba || !entriesLba || !entryCount || !entrySize || !entriesCrc)
        return std::nullopt;
    const TGptHeader h{*myLba, *alternateLba, *entriesLba, *entryCount, *entrySize, *entriesCrc};
    if (h.MyLba != lba) return std::nullopt;
    if (h.EntrySize < gpt_entry::kMinSize || h.EntrySize % 8 != 0 || h.EntrySize > kMaxGptEntrySize ||
        h.EntryCount == 0 || h.EntryCount > kMaxGptEntries)
        return std::nullopt;
    return h;
}

std::vector<TPartition> DecodeGptEntries(TByteView entries, const TGptHeader& header,
                                         std::uint32_t sectorSize, std::uint64_t diskBytes) {
    std::vector<TPartition> found;
    for (std::uint32_t i = 0; i < header.EntryCount; ++i) {
        const TByteView e = entries.Sub(std::size_t{i} * header.EntrySize, header.EntrySize);
        if (!e.Has(0, gpt_entry::kMinSize)) break;
        const TByteView type = e.Sub(gpt_entry::kTypeGuid, kGuidSize);
        if (std::all_of(type.Data(), type.Data() + type.Size(), [](std::uint8_t b) { return b == 0; }))
            continue;
        const auto first = e.U64(gpt_entry::kFirstLba);
        const auto last = e.U64(gpt_entry::kLastLba);
        if (!first || !last || *last < *first) continue;
        auto p = Span(*first, *last - *first + 1, sectorSize, diskBytes);
        if (!p) continue;
        p->Number = i + 1;
        p->Type = GuidText(type);
        std::u16string name;
        const TByteView units = e.Sub(gpt_entry::kName, gpt_entry::kMinSize - gpt_entry::kName);
        for (std::size_t k = 0;; k += 2) {
            const auto unit = units.U16(k);
            if (!unit || *unit == 0) break;
            name.push_back(static_cast<char16_t>(*unit));
        }
        p->Name = Utf16ToUtf8(name);
        found.push_back(std::move(*p));
    }
    return found;
}

TPartitionTable ReadPartitionTable(const TReadDisk& read, std::uint64_t diskBytes) {
    const auto sector0 = ReadSector(read, 0);
    if (!sector0) return {};
    TPartitionTable mbr = DecodeMbr({sector0->data(), sector0->size()}, diskBytes);
    if (mbr.Kind == TTableKind::None) return mbr;
    for (const TPartition& p : mbr.Partitions) {
        if (p.MbrType == kTypeGptProtective) {
            if (auto gpt = ReadGpt(read, diskBytes)) return std::move(*gpt);
            return {};  // a protective MBR without a readable GPT: nothing to trust
        }
    }
    const std::vector<TPartition> primaries = mbr.Partitions;
    for (const TPartition& p : primaries)
        if (IsExtendedType(p.MbrType)) AddLogicals(read, diskBytes, p.StartByte / kMbrSectorSize, mbr);
    return mbr;
}

}  // namespace ntfs
