// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/probe.h"

#include "ntfs/text.h"
#include "ntfs/volume_name.h"
#include "platform/drives.h"
#include "platform/raw_volume.h"
#include "scan/drive_letters.h"
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
    std::string path = driveOrPath;
    if (platform::IsDriveString(driveOrPath)) {
        const auto letter = ResolveDriveLetter(driveOrPath);
        if (!letter) return std::nullopt;
        // One partition of a whole disk: its own boot sector and label.
        if (letter->Partition) {
            TOpenedSource opened = OpenSource(driveOrPath, letter->Partition);
            if (!opened.Volume) return std::nullopt;
            const ntfs::TDynamicCharArray sector = ntfs::ReadBootSector(*opened.Volume);
            const auto label = ntfs::ReadVolumeName(*opened.Volume);
            return ProbeBootSector(sector.View(), ntfs::Utf16ToUtf8(label.value_or(std::u16string())));
        }
        path = letter->Path;
    }
    auto volume = platform::OpenRawVolumePath(path);
    if (!volume) return std::nullopt;
    const ntfs::TDynamicCharArray sector = ntfs::ReadBootSector(*volume);
    std::string label = platform::GetVolumeLabelOfPath(path);
    // The system's prober gives up on a volume whose MFT record 0 is gone;
    // its $Volume may still be read through the $MFTMirr.
    if (label.empty()) label = ntfs::Utf16ToUtf8(ntfs::ReadVolumeName(*volume).value_or(std::u16string()));
    volume.reset();
    return ProbeBootSector(sector.View(), label);
}

}  // namespace scan
