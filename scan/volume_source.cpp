// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/volume_source.h"

#include <array>

#include "ntfs/boot_sector.h"
#include "ntfs/text.h"
#include "ntfs/volume_name.h"
#include "platform/drives.h"
#include "platform/window_volume.h"
#include "scan/drive_letters.h"

namespace scan {

namespace {

// Serves a volume that stays shared with its giver (a test's volume, which a
// recovery reads again after the scan).
class TSharedVolume : public platform::TRawVolume {
public:
    explicit TSharedVolume(std::shared_ptr<platform::TRawVolume> inner) : m_inner(std::move(inner)) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        return m_inner->ReadAt(offset, out);
    }
    std::uint64_t Size() const override { return m_inner->Size(); }
    bool AllowsConcurrentReads() const override { return m_inner->AllowsConcurrentReads(); }

private:
    std::shared_ptr<platform::TRawVolume> m_inner;
};

bool IsNtfsAt(platform::TRawVolume& disk, std::uint64_t start) {
    std::array<std::uint8_t, ntfs::boot_sector::kSize> sector{};
    if (disk.ReadAt(start, sector) != sector.size()) return false;
    return ntfs::IsNtfsOem(ntfs::DecodeBootSector({sector.data(), sector.size()}));
}

// An NTFS volume's label is its own $Volume's, read through the volume
// already open: the system's probe would open the source again, and of a
// partition it would see the disk's table. Another file system's label is
// asked of the system, for a volume that is the whole of `wholePath`.
std::string LabelOf(platform::TRawVolume& volume, const std::string& wholePath) {
    if (IsNtfsAt(volume, 0))
        return ntfs::Utf16ToUtf8(ntfs::ReadVolumeName(volume).value_or(std::u16string()));
    return wholePath.empty() ? std::string() : platform::GetVolumeLabelOfPath(wholePath);
}

TOpenedSource Failed(TOpenedSource opened, TSourceError error) {
    opened.Volume.reset();
    opened.Error = error;
    return opened;
}

TOpenedSource DidNotOpen(TOpenedSource opened, platform::TOpenFailure why) {
    opened.OpenFailure = std::move(why);
    return Failed(std::move(opened), TSourceError::DidNotOpen);
}

platform::TOpenFailure Failure(platform::TOpenError kind, const std::string& path) {
    return {kind, 0, path, platform::OpenErrorText(kind, 0)};
}

// The program's only open of a device or image: read-only, exactly `path`.
std::unique_ptr<platform::TRawVolume> OpenPath(const std::string& path, TOpenedSource& opened) {
    platform::TOpenFailure why;
    std::unique_ptr<platform::TRawVolume> volume = platform::OpenRawVolumePath(path, &why);
    if (!volume) {
        opened.Error = TSourceError::DidNotOpen;
        opened.OpenFailure = std::move(why);
    }
    return volume;
}

// The partition of `layout` the source is read in: the one named, else the
// only NTFS one; null with the error when there is none to read.
const TPartitionInfo* ChoosePartition(const TSourceLayout& layout, std::optional<std::uint32_t> named,
                                      TSourceError& error) {
    const TPartitionInfo* chosen = nullptr;
    if (named) {
        for (const TPartitionInfo& info : layout.Partitions)
            if (info.Partition.Number == *named) chosen = &info;
        if (!chosen) error = TSourceError::NoSuchPartition;
        return chosen;
    }
    for (const TPartitionInfo& info : layout.Partitions) {
        if (!info.Ntfs) continue;
        if (chosen) {
            error = TSourceError::SeveralNtfs;
            return nullptr;
        }
        chosen = &info;
    }
    if (!chosen) error = TSourceError::NoNtfsPartition;
    return chosen;
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

TOpenedSource OpenSource(const TSourceRequest& request) {
    TOpenedSource opened;
    opened.Source.Drive = request.Name;
    opened.Description = request.Name;
    std::optional<std::uint32_t> partition = request.Partition;

    if (request.Volume) {
        opened.Source.Given = request.Volume;
        if (partition) return Failed(std::move(opened), TSourceError::NoSuchPartition);
        opened.Volume = std::make_unique<TSharedVolume>(request.Volume);
        if (request.ReadLabel) opened.Label = LabelOf(*opened.Volume, std::string());
        return opened;
    }

    // A letter may stand for one partition of a whole disk; a partition
    // asked for by number takes precedence. When the letters were first
    // worked out just now, the disk behind this one is still open from that.
    std::unique_ptr<platform::TRawVolume> disk;
    std::string path = request.Name;
    if (platform::IsDriveString(request.Name)) {
        const auto letter = ResolveDriveLetter(request.Name, &disk);
        if (!letter) return DidNotOpen(std::move(opened), Failure(platform::TOpenError::NoSuchDrive, path));
        path = letter->Path;
        if (!partition) partition = letter->Partition;
    }
    opened.Source.Resolved = path;
    if (!disk) disk = OpenPath(path, opened);
    if (!disk) return opened;

    opened.Layout = ReadSourceLayout(*disk);
    const bool wholeAsItIs = !partition && request.Scope == TSourceScope::AsItIs;
    if (opened.Layout.Kind == ntfs::TTableKind::None || wholeAsItIs) {
        if (partition) return Failed(std::move(opened), TSourceError::NoSuchPartition);
        opened.Volume = std::move(disk);
        if (request.ReadLabel) opened.Label = LabelOf(*opened.Volume, path);
        return opened;
    }
    TSourceError error = TSourceError::None;
    const TPartitionInfo* chosen = ChoosePartition(opened.Layout, partition, error);
    if (!chosen) return Failed(std::move(opened), error);
    const ntfs::TPartition& p = chosen->Partition;
    opened.Source.Partition = p.Number;
    opened.Source.StartByte = p.StartByte;
    opened.Source.Length = p.Size;
    opened.Description = request.Name + ", partition " + std::to_string(p.Number);
    opened.Volume = std::make_unique<platform::TWindowVolume>(std::move(disk), p.StartByte, p.Size);
    if (request.ReadLabel) opened.Label = LabelOf(*opened.Volume, std::string());
    return opened;
}

TOpenedSource OpenSource(const TScanSource& scanned) {
    TOpenedSource opened;
    opened.Source = scanned;
    opened.Description = scanned.Drive;
    if (scanned.Given) {
        opened.Volume = std::make_unique<TSharedVolume>(scanned.Given);
        return opened;
    }
    if (scanned.Resolved.empty())
        return DidNotOpen(std::move(opened), Failure(platform::TOpenError::NoSuchDevice, scanned.Resolved));
    std::unique_ptr<platform::TRawVolume> disk = OpenPath(scanned.Resolved, opened);
    if (!disk) return opened;
    // A partition of a whole disk: byte positions count from its start.
    if (scanned.StartByte != 0 || scanned.Length != 0) {
        const std::uint64_t size = disk->Size();
        const std::uint64_t length = scanned.Length != 0        ? scanned.Length
                                     : size > scanned.StartByte ? size - scanned.StartByte
                                                                : 0;
        disk = std::make_unique<platform::TWindowVolume>(std::move(disk), scanned.StartByte, length);
    }
    opened.Volume = std::move(disk);
    return opened;
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
