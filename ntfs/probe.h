// The drive probe: does a drive hold an NTFS volume, and the two texts the
// main window shows for the drive it probed last.
#pragma once

#include <optional>
#include <string>

#include "ntfs/boot_sector.h"
#include "ntfs/dynamic_char_array.h"
#include "platform/raw_volume.h"

namespace ntfs {

struct TProbeResult {
    std::string Oem;          // the four OEM characters; "NTFS" exactly on an NTFS volume
    std::string NameText;     // "Name: " + label
    std::string SerialText;   // "SN: " + serial in upper-case hex, at least 8 digits
    TBOOT_SECTOR Boot;
};

// Reads the boot sector: boot_sector::kReadSize bytes from position 0 into a
// zero-filled buffer; bytes the read does not deliver stay zero.
TDynamicCharArray ReadBootSector(platform::TRawVolume& volume);

// The probe's texts from a boot-sector image and the volume's label.
TProbeResult ProbeBootSector(TByteView sector, const std::string& label);

// Opens the drive (or image path), reads its boot sector and probes it. Empty
// when the device does not open.
std::optional<TProbeResult> ProbeDrive(const std::string& driveOrPath);

}  // namespace ntfs
