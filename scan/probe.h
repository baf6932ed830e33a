// SPDX-License-Identifier: GPL-3.0-or-later
// The drive probe: does a drive hold an NTFS volume, and what the window
// shows of the drive it probed last, as data (the texts are the window's).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ntfs/boot_sector.h"
#include "ntfs/byte_view.h"

namespace scan {

struct TProbeResult {
    std::string Oem;    // the four OEM characters; "NTFS" exactly on an NTFS volume
    std::string Label;  // UTF-8; empty when there is none
    std::uint64_t SerialNumber = 0;
    ntfs::TBOOT_SECTOR Boot;
};

// The probe's facts from a boot-sector image and the volume's label.
TProbeResult ProbeBootSector(ntfs::TByteView sector, const std::string& label);

// Opens the drive (or image path), reads its boot sector and probes it. Empty
// when the device does not open.
std::optional<TProbeResult> ProbeDrive(const std::string& driveOrPath);

}  // namespace scan
