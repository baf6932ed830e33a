// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/probe.h"

#include "scan/volume_source.h"

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
    // The drive as it lies: a letter's own partition, else the source's
    // first sector, so that a disk with a table is no NTFS volume here.
    TSourceRequest request;
    request.Name = driveOrPath;
    request.Scope = TSourceScope::AsItIs;
    request.ReadLabel = true;
    const TOpenedSource opened = OpenSource(request);
    if (!opened.Volume) return std::nullopt;
    const ntfs::TDynamicCharArray sector = ntfs::ReadBootSector(*opened.Volume);
    return ProbeBootSector(sector.View(), opened.Label);
}

}  // namespace scan
