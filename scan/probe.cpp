// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/probe.h"

#include "platform/drives.h"
#include "platform/raw_volume.h"

namespace scan {

TProbeResult ProbeBootSector(ntfs::TByteView sector, const std::string& label) {
    TProbeResult r;
    r.Boot = ntfs::DecodeBootSector(sector);
    r.Oem = ntfs::OemText(r.Boot);
    r.Label = label;
    r.SerialNumber = r.Boot.VolumeSerialNumber;
    return r;
}

std::optional<TProbeResult> ProbeDrive(const std::string& driveOrPath) {
    std::string path = driveOrPath;
    if (platform::IsDriveString(driveOrPath)) {
        const auto resolved = platform::ResolveDrive(driveOrPath);
        if (!resolved) return std::nullopt;
        path = *resolved;
    }
    auto volume = platform::OpenRawVolumePath(path);
    if (!volume) return std::nullopt;
    const ntfs::TDynamicCharArray sector = ntfs::ReadBootSector(*volume);
    volume.reset();
    return ProbeBootSector(sector.View(), platform::GetVolumeLabelOfPath(path));
}

}  // namespace scan
