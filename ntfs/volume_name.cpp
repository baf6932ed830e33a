// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/volume_name.h"

#include "ntfs/attribute.h"
#include "ntfs/boot_sector.h"
#include "ntfs/mft_map.h"

namespace ntfs {

std::optional<std::u16string> DecodeVolumeName(TByteView record) {
    const TByteView attr = LocateAttribute(record, volume_name::kAttributeType, false);
    if (attr.Empty()) return std::nullopt;
    const auto header = DecodeAttributeHeader(attr);
    if (!header || header->NonResident != 0) return std::nullopt;
    const auto resident = DecodeResident(attr);
    if (!resident) return std::nullopt;
    const std::uint32_t length = resident->ValueLength;
    // A label is whole UTF-16 units, short, and inside its attribute.
    if (length % 2 != 0 || length / 2 > volume_name::kMaxUnits) return std::nullopt;
    if (!attr.Has(resident->ValueOffset, length)) return std::nullopt;
    std::u16string name;
    for (std::uint32_t i = 0; i < length; i += 2)
        name.push_back(static_cast<char16_t>(*attr.U16(resident->ValueOffset + i)));
    return name;
}

std::optional<std::u16string> ReadVolumeName(platform::TRawVolume& volume) {
    const TDynamicCharArray sector = ReadBootSector(volume);
    const TBOOT_SECTOR boot = DecodeBootSector(sector.View());
    if (!IsNtfsOem(boot)) return std::nullopt;
    const TDISK_INFORMATION geometry = DeriveGeometry(boot);
    const TMftLocation location = LocateMft(volume, geometry, MftByteOffset(boot), MftMirrByteOffset(boot));
    if (!location.Layout) return std::nullopt;
    const auto record = ReadMftRecord(location.Layout->Map, volume, volume_name::kVolumeRecord, geometry);
    if (!record) return std::nullopt;
    return DecodeVolumeName(record->View());
}

}  // namespace ntfs
