// SPDX-License-Identifier: GPL-3.0-or-later
// Raw volumes on Windows: "\\.\D:" (or an image file) opened for reading only.
//
// A volume handle does no buffering of its own, so it serves only whole
// sectors at sector-aligned positions into sector-aligned memory; the
// TSectorReader turns the engine's byte ranges into such requests. An image
// file has no such rule, and takes the same requests just as well.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>

#include "platform/open_error.h"
#include "platform/raw_volume.h"
#include "platform/sector_reader.h"
#include "platform/win_text.h"

namespace platform {

namespace {

class TWinSectorDevice : public TSectorDevice {
public:
    explicit TWinSectorDevice(HANDLE h) : m_handle(h) {}

    // The positioned read: set the position, then read the byte count.
    std::size_t ReadSectors(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            LARGE_INTEGER pos{};
            pos.QuadPart = static_cast<LONGLONG>(offset + done);
            if (!::SetFilePointerEx(m_handle, pos, nullptr, FILE_BEGIN)) break;
            const DWORD want = static_cast<DWORD>(out.size() - done);
            DWORD got = 0;
            if (!::ReadFile(m_handle, out.data() + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        return done;
    }

private:
    HANDLE m_handle;
};

// The logical sector size of the disk under a volume handle; 0 when the
// handle is not a disk's (an image file) or the disk does not say.
std::uint32_t LogicalSectorSize(HANDLE h) {
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    if (!::DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry),
                           &returned, nullptr))
        return 0;
    return static_cast<std::uint32_t>(geometry.BytesPerSector);
}

class TWinVolume : public TRawVolume {
public:
    explicit TWinVolume(HANDLE h) : m_handle(h), m_device(h), m_reader(m_device, LogicalSectorSize(h)) {}
    ~TWinVolume() override { ::CloseHandle(m_handle); }
    TWinVolume(const TWinVolume&) = delete;
    TWinVolume& operator=(const TWinVolume&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;
        return m_reader.ReadAt(offset, out);
    }

    std::uint64_t Size() const override {
        // A file answers GetFileSizeEx; a volume handle answers the length
        // ioctl (its GetFileSizeEx says 0 or fails).
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(m_handle, &size) && size.QuadPart > 0)
            return static_cast<std::uint64_t>(size.QuadPart);
        GET_LENGTH_INFORMATION info{};
        DWORD returned = 0;
        if (::DeviceIoControl(m_handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof(info),
                              &returned, nullptr) &&
            info.Length.QuadPart > 0)
            return static_cast<std::uint64_t>(info.Length.QuadPart);
        return 0;
    }

private:
    HANDLE m_handle;
    TWinSectorDevice m_device;
    TSectorReader m_reader;
};

}  // namespace

namespace {

TOpenError KindOfError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return TOpenError::PermissionDenied;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_NOT_READY:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_UNIT:
            return TOpenError::NoSuchDevice;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return TOpenError::Busy;
        default:
            return TOpenError::Other;
    }
}

}  // namespace

std::string SystemErrorText(int error) {
    return "system error " + std::to_string(error);
}

std::unique_ptr<TRawVolume> OpenRawVolumePath(const std::string& path, TOpenFailure* why) {
    const HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return OpenFailed(why, path, KindOfError(error), static_cast<int>(error));
    }
    return std::make_unique<TWinVolume>(h);
}

}  // namespace platform
