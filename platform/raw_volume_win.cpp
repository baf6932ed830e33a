#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/drives.h"
#include "platform/raw_volume.h"
#include "platform/win_text.h"

namespace platform {

namespace {

// A raw volume handle reads only whole sectors at sector-aligned positions.
// 4096 is a whole number of sectors on 512-byte and on 4096-byte-sector
// disks, so unaligned requests are served through an aligned bounce buffer.
constexpr std::uint64_t kAlign = 4096;

class TWinVolume : public TRawVolume {
public:
    explicit TWinVolume(HANDLE h) : m_handle(h) {}
    ~TWinVolume() override { ::CloseHandle(m_handle); }
    TWinVolume(const TWinVolume&) = delete;
    TWinVolume& operator=(const TWinVolume&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (out.empty()) return 0;
        if (offset % kAlign == 0 && out.size() % kAlign == 0) return ReadAligned(offset, out);
        const std::uint64_t start = offset - offset % kAlign;
        const std::uint64_t end = offset + out.size();
        const std::uint64_t alignedEnd = (end + kAlign - 1) / kAlign * kAlign;
        std::vector<std::uint8_t> bounce(static_cast<std::size_t>(alignedEnd - start));
        const std::size_t got = ReadAligned(start, bounce);
        const std::size_t skip = static_cast<std::size_t>(offset - start);
        if (got <= skip) return 0;
        const std::size_t n = std::min(out.size(), got - skip);
        std::memcpy(out.data(), bounce.data() + skip, n);
        return n;
    }

    std::uint64_t Size() const override {
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(m_handle, &size) && size.QuadPart > 0) return static_cast<std::uint64_t>(size.QuadPart);
        GET_LENGTH_INFORMATION info{};
        DWORD returned = 0;
        if (::DeviceIoControl(m_handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof(info), &returned,
                              nullptr))
            return static_cast<std::uint64_t>(info.Length.QuadPart);
        return 0;
    }

private:
    std::size_t ReadAligned(std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            LARGE_INTEGER pos{};
            pos.QuadPart = static_cast<LONGLONG>(offset + done);
            if (!::SetFilePointerEx(m_handle, pos, nullptr, FILE_BEGIN)) break;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 24));
            DWORD got = 0;
            if (!::ReadFile(m_handle, out.data() + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        return done;
    }

    HANDLE m_handle;
};

}  // namespace

std::unique_ptr<TRawVolume> OpenRawVolumePath(const std::string& path) {
    const HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<TWinVolume>(h);
}

std::unique_ptr<TRawVolume> OpenRawVolume(const std::string& driveOrPath) {
    if (IsDriveString(driveOrPath)) return OpenRawVolumePath(*ResolveDrive(driveOrPath));
    return OpenRawVolumePath(driveOrPath);
}

}  // namespace platform
