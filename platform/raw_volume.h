// SPDX-License-Identifier: GPL-3.0-or-later
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
    // True when ReadAt may be called from several threads at once (a
    // positioned read of a file descriptor); the scan then reads its chunks
    // on the threads that decode them.
    virtual bool AllowsConcurrentReads() const { return false; }
};

// Why a volume did not open, as the system said it.
enum class TOpenError {
    NoSuchDrive,   // a drive string the drive table does not know
    NoSuchDevice,  // the device or file does not exist (ENOENT, ENXIO, ENODEV; Windows: not found, not ready)
    PermissionDenied,  // EACCES, EPERM; Windows: access denied
    IsFolder,          // a folder, not a device or image
    Busy,              // EBUSY; Windows: a sharing violation
    Other,             // anything else: Error says what
};

struct TOpenFailure {
    TOpenError Kind = TOpenError::Other;
    int Error = 0;       // errno (Linux) or GetLastError (Windows); 0 when no call failed
    std::string Path;    // what was opened: the device or file a drive string stood for
    std::string Reason;  // OpenErrorText(Kind, Error): short, lower-case English
};

// "permission denied", "no such device", "no such drive", ...; for Other the
// system's own text for the error.
std::string OpenErrorText(TOpenError kind, int error);

// Opens exactly this path (an image file or device) read-only. Empty when it
// does not open (no such device, no right to it); then *why, when given,
// says why. The program opens its sources through scan/volume_source.h,
// which resolves drive letters and partitions before it comes here.
std::unique_ptr<TRawVolume> OpenRawVolumePath(const std::string& path, TOpenFailure* why = nullptr);

}  // namespace platform
