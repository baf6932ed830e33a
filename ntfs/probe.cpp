#include "ntfs/probe.h"

#include "ntfs/text.h"
#include "platform/drives.h"

namespace ntfs {

TDynamicCharArray ReadBootSector(platform::TRawVolume& volume) {
    TDynamicCharArray buf(boot_sector::kReadSize);
    volume.ReadAt(0, buf.Span());
    return buf;
}

TProbeResult ProbeBootSector(TByteView sector, const std::string& label) {
    TProbeResult r;
    r.Boot = DecodeBootSector(sector);
    r.Oem = OemText(r.Boot);
    r.NameText = "Name: " + label;
    r.SerialText = "SN: " + HexUpper(r.Boot.VolumeSerialNumber, 8);
    return r;
}

std::optional<TProbeResult> ProbeDrive(const std::string& driveOrPath) {
    auto volume = platform::OpenRawVolume(driveOrPath);
    if (!volume) return std::nullopt;
    const TDynamicCharArray sector = ReadBootSector(*volume);
    volume.reset();
    std::string label;
    if (platform::IsDriveString(driveOrPath)) {
        label = platform::GetVolumeLabel(driveOrPath[0]);
    } else {
        label = platform::GetVolumeLabelOfPath(driveOrPath);
    }
    return ProbeBootSector(sector.View(), label);
}

}  // namespace ntfs
