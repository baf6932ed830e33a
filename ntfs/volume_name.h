// SPDX-License-Identifier: GPL-3.0-or-later
// The volume label as NTFS keeps it: the resident $VOLUME_NAME attribute of
// the $Volume system file, MFT record 3.
//
// The label is read from the volume's own MFT, not asked of the system, so
// that a partition inside a whole-disk image or device shows its own label:
// the system's probe of the disk sees the partition table, not the volume.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ntfs/byte_view.h"
#include "platform/raw_volume.h"

namespace ntfs {

namespace volume_name {
constexpr std::uint32_t kAttributeType = 0x60;  // $VOLUME_NAME: UTF-16LE, no terminator
constexpr std::uint64_t kVolumeRecord = 3;      // $Volume
constexpr std::uint32_t kMaxUnits = 128;        // Windows allows 32; anything longer is not a label
}  // namespace volume_name

// The label in a fixed-up $Volume record image. Empty when the record holds
// no $VOLUME_NAME, when it is non-resident, odd-sized, longer than kMaxUnits
// or runs past the image; an empty value is an empty label.
std::optional<std::u16string> DecodeVolumeName(TByteView record);

// Reads the boot sector, locates the MFT through its run list, reads record
// 3 and decodes its label. Empty when the volume is not NTFS or any step fails.
std::optional<std::u16string> ReadVolumeName(platform::TRawVolume& volume);

}  // namespace ntfs
