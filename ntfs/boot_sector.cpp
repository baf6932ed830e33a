// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/boot_sector.h"

#include <algorithm>

namespace ntfs {

namespace {
// Clusters are at most 2 MiB today; 2^16 sectors leaves room while keeping
// every product with a 16-bit sector size inside 32 bits.
constexpr unsigned kMaxClusterExponent = 16;
}  // namespace

TBOOT_SECTOR DecodeBootSector(TByteView sector) {
    // Zero-fill up to the sector size so a short image reads as zeros.
    std::array<std::uint8_t, boot_sector::kSize> buf{};
    std::copy_n(sector.Data(), std::min(sector.Size(), buf.size()), buf.begin());
    const TByteView s(buf.data(), buf.size());

    TBOOT_SECTOR b;
    for (std::size_t i = 0; i < b.OemId.size(); ++i) b.OemId[i] = *s.U8(boot_sector::kOemId + i);
    b.BytesPerSector = *s.U16(boot_sector::kBytesPerSector);
    b.SectorsPerCluster = *s.U8(boot_sector::kSectorsPerCluster);
    b.TotalSectors = *s.U64(boot_sector::kTotalSectors);
    b.MftStartLcn = *s.U64(boot_sector::kMftStartLcn);
    b.MftMirrStartLcn = *s.U64(boot_sector::kMftMirrStartLcn);
    b.ClustersPerFileRecord = *s.U32(boot_sector::kClustersPerFileRecord);
    b.VolumeSerialNumber = *s.U64(boot_sector::kVolumeSerialNumber);
    return b;
}

bool IsNtfsOem(const TBOOT_SECTOR& boot) {
    return boot.OemId[0] == 'N' && boot.OemId[1] == 'T' && boot.OemId[2] == 'F' && boot.OemId[3] == 'S';
}

std::string OemText(const TBOOT_SECTOR& boot) {
    std::string text;
    for (std::uint8_t c : boot.OemId) {
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else {
            text.push_back(static_cast<char>(0xC0 | (c >> 6)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return text;
}

std::uint32_t SectorsPerClusterOf(std::uint8_t value) {
    if (value <= 0x80) return value;
    // 2^31 sectors would make every cluster larger than any disk; stop well
    // before the shift could overflow.
    const unsigned exponent = 256u - value;
    return exponent <= kMaxClusterExponent ? std::uint32_t{1} << exponent : 0;
}

TDISK_INFORMATION DeriveGeometry(const TBOOT_SECTOR& boot) {
    TDISK_INFORMATION g;
    g.BytesPerSector = boot.BytesPerSector;
    g.SectorsPerCluster = SectorsPerClusterOf(boot.SectorsPerCluster);
    // A cluster size that does not fit 32 bits is no volume's: 0 makes every
    // caller refuse the geometry.
    const std::uint64_t cluster = std::uint64_t{g.BytesPerSector} * g.SectorsPerCluster;
    g.BytesPerCluster = cluster <= UINT32_MAX ? static_cast<std::uint32_t>(cluster) : 0;
    const std::uint32_t v = boot.ClustersPerFileRecord;
    if (v < 128) {
        const std::uint64_t bytes = std::uint64_t{v} * g.BytesPerCluster;
        g.BytesPerFileRecord = bytes <= UINT32_MAX ? static_cast<std::uint32_t>(bytes) : 0;
    } else {
        g.BytesPerFileRecord = std::uint32_t{1} << ((256u - v) & 31u);
    }
    return g;
}

std::optional<std::uint64_t> MftByteOffset(const TBOOT_SECTOR& boot) {
    const std::uint64_t cluster =
        std::uint64_t{boot.BytesPerSector} * SectorsPerClusterOf(boot.SectorsPerCluster);
    return MulChecked(boot.MftStartLcn, cluster);
}

std::optional<std::uint64_t> MftMirrByteOffset(const TBOOT_SECTOR& boot) {
    if (boot.MftMirrStartLcn == 0) return std::nullopt;
    const std::uint64_t cluster =
        std::uint64_t{boot.BytesPerSector} * SectorsPerClusterOf(boot.SectorsPerCluster);
    if (cluster == 0) return std::nullopt;
    return MulChecked(boot.MftMirrStartLcn, cluster);
}

TDynamicCharArray ReadBootSector(platform::TRawVolume& volume) {
    TDynamicCharArray buf(boot_sector::kReadSize);
    volume.ReadAt(0, buf.Span());
    return buf;
}

}  // namespace ntfs
