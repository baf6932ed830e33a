// SPDX-License-Identifier: GPL-3.0-or-later
// Partition tables of whole-disk images and devices: MBR (with extended and
// logical partitions) and GPT.
//
// People image the whole disk, not one partition, so a source may hold a
// table in front of its NTFS volumes. Every field comes from hostile bytes:
// the decoders read through TByteView, do their arithmetic checked, bound
// every count, and walk the chain of extended boot records without ever
// visiting one twice. I/O is the caller's, through a read function, so the
// decoders are pure and can be fuzzed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ntfs/byte_view.h"

namespace ntfs {

namespace partition_table {
// The first sector of an MBR disk, and each extended boot record.
constexpr std::size_t kMbrEntries = 0x1BE;  // 4 x kMbrEntrySize: the entries
constexpr std::size_t kMbrEntrySize = 16;
constexpr std::size_t kMbrSignature = 0x1FE;  // u8 0x55, u8 0xAA
constexpr std::uint32_t kMbrSectorSize = 512;
static_assert(kMbrEntries + 4 * kMbrEntrySize == kMbrSignature);
static_assert(kMbrSignature + 2 == kMbrSectorSize);
// One MBR entry. In an extended boot record the first entry is its logical
// partition (start relative to that record), the second the link to the next
// record (start relative to the extended partition).
namespace mbr_entry {
constexpr std::size_t kStatus = 0x00;       // u8: 0x00, or 0x80 active
constexpr std::size_t kType = 0x04;         // u8: 0x00 unused
constexpr std::size_t kFirstSector = 0x08;  // u32: LBA of the first sector
constexpr std::size_t kSectorCount = 0x0C;  // u32
static_assert(kSectorCount + 4 == kMbrEntrySize);
}  // namespace mbr_entry
constexpr std::uint8_t kTypeGptProtective = 0xEE;
constexpr std::uint32_t kMaxLogical = 128;  // logical partitions followed at most

// The GPT header, at LBA 1 and (the backup) in the disk's last sector.
namespace gpt_header {
constexpr std::size_t kSignature = 0x00;     // 8 x ASCII "EFI PART"
constexpr std::size_t kHeaderSize = 0x0C;    // u32: bytes the CRC covers
constexpr std::size_t kHeaderCrc = 0x10;     // u32: CRC-32 of the header, this field zero
constexpr std::size_t kMyLba = 0x18;         // u64: where this header lies
constexpr std::size_t kAlternateLba = 0x20;  // u64: where the other one lies
constexpr std::size_t kEntriesLba = 0x48;    // u64: first sector of the entry array
constexpr std::size_t kEntryCount = 0x50;    // u32
constexpr std::size_t kEntrySize = 0x54;     // u32
constexpr std::size_t kEntriesCrc = 0x58;    // u32: CRC-32 of EntryCount x EntrySize bytes
constexpr std::size_t kMinSize = 92;
static_assert(kEntriesCrc + 4 == kMinSize);
}  // namespace gpt_header
// One GPT entry: an all-zero type GUID marks it unused.
namespace gpt_entry {
constexpr std::size_t kTypeGuid = 0x00;  // 16 bytes
constexpr std::size_t kFirstLba = 0x20;  // u64
constexpr std::size_t kLastLba = 0x28;   // u64: inclusive
constexpr std::size_t kName = 0x38;      // 36 x UTF-16LE, zero-padded
constexpr std::size_t kMinSize = 128;
static_assert(kName + 36 * 2 == kMinSize);
}  // namespace gpt_entry
// A GUID: u32, u16, u16 little-endian, then 8 bytes as they lie.
constexpr std::size_t kGuidSize = 16;
constexpr std::uint32_t kMaxGptEntries = 1024;  // entries read at most
constexpr std::uint32_t kMaxGptEntrySize = 4096;
}  // namespace partition_table

enum class TTableKind { None, Mbr, Gpt };

struct TPartition {
    std::uint32_t Number = 0;  // as the table numbers it: MBR slot 1-4, logicals from 5; GPT entry index + 1
    std::uint64_t StartByte = 0;
    std::uint64_t Size = 0;    // bytes
    std::string Type;          // MBR "0x07"; GPT the type GUID, upper case, in its usual text form
    std::string Name;          // GPT only: the entry's name (UTF-8)
    std::uint8_t MbrType = 0;  // MBR only: the type byte
};

struct TPartitionTable {
    TTableKind Kind = TTableKind::None;
    std::vector<TPartition> Partitions;  // in table order
    bool UsedBackupGpt = false;          // the primary GPT failed its checks
};

// Reads `out.size()` bytes at a byte offset of the disk; false when fewer came.
using TReadDisk = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;

// The partition table of a disk of `diskBytes` bytes (0: unknown). A disk
// whose first sector is an NTFS or FAT boot sector, or whose MBR entries do
// not hold together, has no table (Kind None): it is one volume.
TPartitionTable ReadPartitionTable(const TReadDisk& read, std::uint64_t diskBytes);

// The CRC-32 (IEEE 802.3, reflected) that GPT uses for its header and entries.
std::uint32_t Crc32(TByteView bytes);

// Decoders of single structures, for the reader above and for fuzzing.
// The MBR's four primary entries of a 512-byte sector; Kind None when the
// sector is no MBR. Extended entries are kept (type 0x05, 0x0F, 0x85).
TPartitionTable DecodeMbr(TByteView sector, std::uint64_t diskBytes);
bool IsExtendedType(std::uint8_t type);

// One GPT header: checked against its CRC and its own position (`lba`).
struct TGptHeader {
    std::uint64_t MyLba = 0;
    std::uint64_t AlternateLba = 0;
    std::uint64_t EntriesLba = 0;
    std::uint32_t EntryCount = 0;
    std::uint32_t EntrySize = 0;
    std::uint32_t EntriesCrc = 0;
};
std::optional<TGptHeader> DecodeGptHeader(TByteView sector, std::uint64_t lba);
// The used entries of an entry array whose CRC has been checked.
std::vector<TPartition> DecodeGptEntries(TByteView entries, const TGptHeader& header,
                                         std::uint32_t sectorSize, std::uint64_t diskBytes);

}  // namespace ntfs
