// Read-only access to a raw volume: a drive's device, a block device or an
// image file. Nothing in the program can write through this interface: the
// source of a recovery is opened for reading only, everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace platform {

class TRawVolume {
public:
    virtual ~TRawVolume() = default;
    // Positioned read of up to out.size() bytes at offset. Returns the bytes
    // read: fewer at the end of the volume or on a read error (the bytes not
    // read are left as they were).
    virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
    // Size of the volume in bytes, or 0 when it cannot be told.
    virtual std::uint64_t Size() const = 0;
};

// Opens a drive string ("D:", resolved through the drive table) or a path to
// an image file or device, read-only. Empty when it does not open (no such
// drive, no right to the device).
std::unique_ptr<TRawVolume> OpenRawVolume(const std::string& driveOrPath);

// Opens exactly this path read-only (no drive-string resolution).
std::unique_ptr<TRawVolume> OpenRawVolumePath(const std::string& path);

}  // namespace platform
