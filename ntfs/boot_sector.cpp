#include "ntfs/boot_sector.h"

#include <algorithm>

namespace ntfs {

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

TDISK_INFORMATION DeriveGeometry(const TBOOT_SECTOR& boot) {
    TDISK_INFORMATION g;
    g.BytesPerSector = boot.BytesPerSector;
    g.SectorsPerCluster = boot.SectorsPerCluster;
    // At most 65535 x 255: always fits 32 bits.
    g.BytesPerCluster = g.BytesPerSector * g.SectorsPerCluster;
    const std::uint32_t v = boot.ClustersPerFileRecord;
    if (v < 128) {
        // At most 127 x 16711425 < 2^32.
        g.BytesPerFileRecord = v * g.BytesPerCluster;
    } else {
        g.BytesPerFileRecord = std::uint32_t{1} << ((256u - v) & 31u);
    }
    return g;
}

std::optional<std::uint64_t> MftByteOffset(const TBOOT_SECTOR& boot) {
    const std::uint64_t cluster = std::uint64_t{boot.BytesPerSector} * boot.SectorsPerCluster;
    return MulChecked(boot.MftStartLcn, cluster);
}

TDynamicCharArray ReadBootSector(platform::TRawVolume& volume) {
    TDynamicCharArray buf(boot_sector::kReadSize);
    volume.ReadAt(0, buf.Span());
    return buf;
}

}  // namespace ntfs
