// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: the fixed file information of the version resource.
#include <windows.h>

#include <vector>

#include "platform/file_version.h"

namespace platform {

std::optional<TFileVersion> ReadFileVersion(const std::filesystem::path& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data())) return std::nullopt;
    void* block = nullptr;
    UINT blockSize = 0;
    if (!VerQueryValueW(info.data(), L"\\", &block, &blockSize) || block == nullptr ||
        blockSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return TFileVersion{static_cast<std::uint16_t>(fixed->dwFileVersionMS >> 16),
                        static_cast<std::uint16_t>(fixed->dwFileVersionMS & 0xFFFF),
                        static_cast<std::uint16_t>(fixed->dwFileVersionLS >> 16),
                        static_cast<std::uint16_t>(fixed->dwFileVersionLS & 0xFFFF)};
}

}  // namespace platform
