// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/volume_source.h"

#include <array>

#include "ntfs/boot_sector.h"
#include "platform/window_volume.h"
#include "scan/drive_letters.h"

namespace scan {

namespace {

bool IsNtfsAt(platform::TRawVolume& disk, std::uint64_t start) {
    std::array<std::uint8_t, ntfs::boot_sector::kSize> sector{};
    if (disk.ReadAt(start, sector) != sector.size()) return false;
    return ntfs::IsNtfsOem(ntfs::DecodeBootSector({sector.data(), sector.size()}));
}

}  // namespace

TSourceLayout ReadSourceLayout(platform::TRawVolume& disk) {
    const ntfs::TPartitionTable table = ntfs::ReadPartitionTable(
        [&disk](std::uint64_t offset, std::span<std::uint8_t> out) {
            return disk.ReadAt(offset, out) == out.size();
        },
        disk.Size());
    TSourceLayout layout;
    layout.Kind = table.Kind;
    for (const ntfs::TPartition& p : table.Partitions) {
        // An extended partition is a container of logical ones, never a volume.
        const bool container = table.Kind == ntfs::TTableKind::Mbr && ntfs::IsExtendedType(p.MbrType);
        layout.Partitions.push_back({p, !container && IsNtfsAt(disk, p.StartByte)});
    }
    return layout;
}

TOpenedSource OpenSource(std::unique_ptr<platform::TRawVolume> disk, const std::string& description,
                         std::optional<std::uint32_t> partition) {
    TOpenedSource opened;
    opened.Description = description;
    if (!disk) {
        opened.Error = TSourceError::DidNotOpen;
        return opened;
    }
    opened.Layout = ReadSourceLayout(*disk);
    if (opened.Layout.Kind == ntfs::TTableKind::None) {
        if (partition) {
            opened.Error = TSourceError::NoSuchPartition;
            return opened;
        }
        opened.Volume = std::move(disk);
        return opened;
    }
    const TPartitionInfo* chosen = nullptr;
    if (partition) {
        for (const TPartitionInfo& info : opened.Layout.Partitions)
            if (info.Partition.Number == *partition) chosen = &info;
        if (!chosen) {
            opened.Error = TSourceError::NoSuchPartition;
            return opened;
        }
    } else {
        for (const TPartitionInfo& info : opened.Layout.Partitions) {
            if (!info.Ntfs) continue;
            if (chosen) {
                opened.Error = TSourceError::SeveralNtfs;
                return opened;
            }
            chosen = &info;
        }
        if (!chosen) {
            opened.Error = TSourceError::NoNtfsPartition;
            return opened;
        }
    }
    opened.Partition = chosen->Partition.Number;
    opened.StartByte = chosen->Partition.StartByte;
    opened.Description = description + ", partition " + std::to_string(chosen->Partition.Number);
    opened.Volume = std::make_unique<platform::TWindowVolume>(std::move(disk), chosen->Partition.StartByte,
                                                              chosen->Partition.Size);
    return opened;
}

TOpenedSource OpenSource(const std::string& source, std::optional<std::uint32_t> partition) {
    // A letter may stand for one partition of a whole disk; a partition
    // asked for by number takes precedence.
    if (platform::IsDriveString(source)) {
        const auto letter = ResolveDriveLetter(source);
        if (!letter) return OpenSource(nullptr, source, partition);
        return OpenSource(platform::OpenRawVolumePath(letter->Path), source,
                          partition ? partition : letter->Partition);
    }
    return OpenSource(platform::OpenRawVolume(source), source, partition);
}

std::string PartitionLine(const TPartitionInfo& info) {
    const ntfs::TPartition& p = info.Partition;
    std::string line = "Partition " + std::to_string(p.Number) + ": start " + std::to_string(p.StartByte) +
                       ", size " + std::to_string(p.Size) + ", type " + p.Type;
    if (!p.Name.empty()) line += " (" + p.Name + ")";
    line += info.Ntfs ? ", NTFS" : ", not NTFS";
    return line;
}

std::string SourceErrorText(TSourceError error) {
    switch (error) {
        case TSourceError::None:
            return "no error";
        case TSourceError::DidNotOpen:
            return "the volume does not open";
        case TSourceError::NoSuchPartition:
            return "no such partition";
        case TSourceError::NoNtfsPartition:
            return "no NTFS partition in the partition table";
        case TSourceError::SeveralNtfs:
            return "several NTFS partitions: choose one with --partition N";
    }
    return "";
}

}  // namespace scan
