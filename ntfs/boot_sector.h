// SPDX-License-Identifier: GPL-3.0-or-later
// The NTFS boot sector as far as this program reads it, and the volume
// geometry derived from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ntfs/byte_view.h"
#include "ntfs/dynamic_char_array.h"
#include "platform/raw_volume.h"

namespace ntfs {

namespace boot_sector {
constexpr std::size_t kOemId = 0x03;                  // 8 x ASCII: "NTFS    "; only 0x03..0x06 are read
constexpr std::size_t kBytesPerSector = 0x0B;         // u16 (unaligned)
constexpr std::size_t kSectorsPerCluster = 0x0D;      // u8
constexpr std::size_t kTotalSectors = 0x28;           // u64
constexpr std::size_t kMftStartLcn = 0x30;            // u64
constexpr std::size_t kMftMirrStartLcn = 0x38;        // u64: the $MFTMirr's first cluster
constexpr std::size_t kClustersPerFileRecord = 0x40;  // s8 + 3 reserved bytes, read as one u32
constexpr std::size_t kVolumeSerialNumber = 0x48;     // u64
constexpr std::size_t kSize = 512;
static_assert(kVolumeSerialNumber + 8 <= kSize);
// The boot sector is read as this many bytes from position 0: one whole
// sector on 512-byte and on 4096-byte-sector disks, which a raw volume
// handle demands. Only the first kSize bytes are used.
constexpr std::size_t kReadSize = 4096;
}  // namespace boot_sector

// Larger records or clusters than NTFS has ever used are a damaged boot
// sector, not something to allocate or walk.
namespace limits {
constexpr std::uint32_t kMaxRecordBytes = 64u << 10;
constexpr std::uint32_t kMaxClusterBytes = 2u << 20;
}  // namespace limits

struct TBOOT_SECTOR {
    std::array<std::uint8_t, 4> OemId{};  // the four bytes at 0x03..0x06
    std::uint16_t BytesPerSector = 0;
    std::uint8_t SectorsPerCluster = 0;
    std::uint64_t TotalSectors = 0;
    std::uint64_t MftStartLcn = 0;
    std::uint64_t MftMirrStartLcn = 0;
    std::uint32_t ClustersPerFileRecord = 0;  // the signed byte and the reserved bytes above it
    std::uint64_t VolumeSerialNumber = 0;
};

// The volume geometry. The fields are 32-bit so that 64 KiB clusters (and
// large records) survive: a 16-bit cluster size would be 0 on such a volume
// and every position computed from it would collapse to the volume start.
struct TDISK_INFORMATION {
    std::uint32_t BytesPerFileRecord = 0;
    std::uint32_t BytesPerCluster = 0;
    std::uint32_t BytesPerSector = 0;
    std::uint32_t SectorsPerCluster = 0;
    bool operator==(const TDISK_INFORMATION&) const = default;
};

// Decodes the fields above from the first kSize bytes of a volume. The bytes
// that the view lacks read as zero, like a buffer that was zero-filled before
// a short read.
TBOOT_SECTOR DecodeBootSector(TByteView sector);

// Whether the OEM identifier is exactly "NTFS" (byte for byte, case-sensitive).
bool IsNtfsOem(const TBOOT_SECTOR& boot);

// The OEM identifier as four characters, zero bytes included; bytes of 128 and
// above become U+0080..U+00FF in UTF-8 (they can never match "NTFS").
std::string OemText(const TBOOT_SECTOR& boot);

// Sectors per cluster from the boot sector's byte: up to 0x80 a count; above
// it a negative power of two, as volumes with clusters of 128 KiB and more
// store it (0xF8 is 2^8 sectors). 0 when the exponent is beyond any volume.
std::uint32_t SectorsPerClusterOf(std::uint8_t value);

// Geometry from the boot sector. A positive ClustersPerFileRecord counts
// clusters; anything of 128 and above (a negative byte, or reserved bytes that
// are not zero) is a power of two: 2^((256 - v) & 31) bytes.
TDISK_INFORMATION DeriveGeometry(const TBOOT_SECTOR& boot);

// Reads the boot sector: boot_sector::kReadSize bytes from position 0 into a
// zero-filled buffer; bytes the read does not deliver stay zero.
TDynamicCharArray ReadBootSector(platform::TRawVolume& volume);

// Byte position of MFT record 0: MftStartLcn x BytesPerSector x sectors per
// cluster (SectorsPerClusterOf),
// exact in 64 bits; empty when the product does not fit.
std::optional<std::uint64_t> MftByteOffset(const TBOOT_SECTOR& boot);

// Byte position of the $MFTMirr (the copy of records 0 to 3), computed the
// same way from MftMirrStartLcn; empty when the product does not fit or the
// boot sector names cluster 0 (the boot sector's own, never the mirror's).
std::optional<std::uint64_t> MftMirrByteOffset(const TBOOT_SECTOR& boot);

}  // namespace ntfs
