// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/partition_table.h"

#include <array>
#include <cstdio>
#include <optional>
#include <set>

#include "ntfs/text.h"

namespace ntfs {

namespace {

constexpr std::uint32_t kMbrSectorSize = 512;

std::string TypeByteText(std::uint8_t type) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", type);
    return text;
}

// A GUID in its usual text form: the first three fields are little-endian.
std::string GuidText(TByteView g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", *g.U32(0), *g.U16(4),
                  *g.U16(6), *g.U8(8), *g.U8(9), *g.U8(10), *g.U8(11), *g.U8(12), *g.U8(13), *g.U8(14),
                  *g.U8(15));
    return text;
}

bool IsBootSectorOfVolume(TByteView sector) {
    // NTFS and FAT boot sectors end in 0x55AA too; their OEM or file system
    // text tells them from a partition table.
    return sector.Sub(3, 8).StartsWith("NTFS    ", 8) || sector.Sub(0x36, 8).StartsWith("FAT", 3) ||
           sector.Sub(0x52, 8).StartsWith("FAT32", 5) || sector.Sub(3, 8).StartsWith("EXFAT   ", 8);
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
    while (number < 5 + partition_table::kMaxLogical && seen.insert(ebrSector).second) {
        const auto offset = MulChecked(ebrSector, kMbrSectorSize);
        if (!offset) return;
        const auto sector = ReadSector(read, *offset);
        if (!sector) return;
        const TByteView s(sector->data(), sector->size());
        if (*s.U8(partition_table::kMbrSignature) != 0x55 ||
            *s.U8(partition_table::kMbrSignature + 1) != 0xAA)
            return;
        const TByteView logical = s.Sub(partition_table::kMbrEntries, 16);
        const TByteView link = s.Sub(partition_table::kMbrEntries + 16, 16);
        const std::uint8_t type = *logical.U8(4);
        if (type != 0) {
            const auto start = AddChecked(ebrSector, *logical.U32(8));
            if (!start) return;
            if (auto p = Span(*start, *logical.U32(12), kMbrSectorSize, diskBytes)) {
                p->Number = number++;
                p->MbrType = type;
                p->Type = TypeByteText(type);
                table.Partitions.push_back(std::move(*p));
            }
        }
        if (!IsExtendedType(*link.U8(4)) || *link.U32(8) == 0) return;
        const auto next = AddChecked(extendedSector, *link.U32(8));
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
    if (sector.Size() < kMbrSectorSize || *sector.U8(partition_table::kMbrSignature) != 0x55 ||
        *sector.U8(partition_table::kMbrSignature + 1) != 0xAA || IsBootSectorOfVolume(sector))
        return table;
    std::vector<TPartition> found;
    for (std::uint32_t i = 0; i < 4; ++i) {
        const TByteView e = sector.Sub(partition_table::kMbrEntries + 16 * i, 16);
        const std::uint8_t status = *e.U8(0);
        const std::uint8_t type = *e.U8(4);
        if (type == 0) continue;
        // A boot flag other than 0x00 or 0x80, or an entry beyond the disk,
        // says these bytes are no partition table.
        if (status != 0x00 && status != 0x80) return table;
        auto p = Span(*e.U32(8), *e.U32(12), kMbrSectorSize,
                      type == partition_table::kTypeGptProtective ? 0 : diskBytes);
        if (!p) return table;
        p->Number = i + 1;
        p->MbrType = type;
        p->Type = TypeByteText(type);
        found.push_back(std::move(*p));
    }
    if (found.empty()) return table;
    table.Kind = TTableKind::Mbr;
    table.Partitions = std::move(found);
    return table;
}

std::optional<TGptHeader> DecodeGptHeader(TByteView sector, std::uint64_t lba) {
    if (!sector.StartsWith("EFI PART", 8)) return std::nullopt;
    const auto headerSize = sector.U32(12);
    if (!headerSize || *headerSize < partition_table::kGptHeaderMinSize || *headerSize > sector.Size())
        return std::nullopt;
    std::vector<std::uint8_t> copy(sector.Data(), sector.Data() + *headerSize);
    for (std::size_t i = 16; i < 20; ++i) copy[i] = 0;  // the CRC is taken with its own field zero
    if (Crc32({copy.data(), copy.size()}) != *sector.U32(16)) return std::nullopt;
    TGptHeader h;
    h.MyLba = *sector.U64(24);
    h.AlternateLba = *sector.U64(32);
    h.EntriesLba = *sector.U64(72);
    h.EntryCount = *sector.U32(80);
    h.EntrySize = *sector.U32(84);
    h.EntriesCrc = *sector.U32(88);
    if (h.MyLba != lba) return std::nullopt;
    if (h.EntrySize < 128 || h.EntrySize % 8 != 0 || h.EntrySize > partition_table::kMaxGptEntrySize ||
        h.EntryCount == 0 || h.EntryCount > partition_table::kMaxGptEntries)
        return std::nullopt;
    return h;
}

std::vector<TPartition> DecodeGptEntries(TByteView entries, const TGptHeader& header,
                                         std::uint32_t sectorSize, std::uint64_t diskBytes) {
    std::vector<TPartition> found;
    for (std::uint32_t i = 0; i < header.EntryCount; ++i) {
        const TByteView e = entries.Sub(std::size_t{i} * header.EntrySize, header.EntrySize);
        if (e.Size() < 128) break;
        bool used = false;
        for (std::size_t k = 0; k < 16; ++k) used = used || *e.U8(k) != 0;
        if (!used) continue;
        const std::uint64_t first = *e.U64(32);
        const std::uint64_t last = *e.U64(40);
        if (last < first) continue;
        auto p = Span(first, last - first + 1, sectorSize, diskBytes);
        if (!p) continue;
        p->Number = i + 1;
        p->Type = GuidText(e.Sub(0, 16));
        std::u16string name;
        for (std::size_t k = 56; k + 1 < 128; k += 2) {
            const char16_t c = *e.U16(k);
            if (c == 0) break;
            name.push_back(c);
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
        if (p.MbrType == partition_table::kTypeGptProtective) {
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
