// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the Windows tests: whether they run under wine, a scratch
// folder, and files written and read through Win32 with UTF-8 names.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_text.h"

namespace testing_support {

// Wine's ntdll exports its version; Windows' does not. Tests use it only to
// say which behaviour they could check, never to pass where Windows fails.
inline bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

// A fresh folder under the user's temporary folder, removed with its files
// at the end of the test.
class TWinScratchDir {
public:
    TWinScratchDir() {
        wchar_t base[MAX_PATH + 1];
        const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
        if (n == 0 || n > MAX_PATH) return;
        const std::string root = platform::Narrow(std::wstring(base, n));
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            const std::string path = root + "lumbra-win-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                     std::to_string(::GetTickCount64() + attempt);
            if (::CreateDirectoryW(platform::Widen(path).c_str(), nullptr)) {
                m_path = path;
                return;
            }
        }
    }
    ~TWinScratchDir() {
        if (m_path.empty()) return;
        WIN32_FIND_DATAW found;
        const HANDLE h = ::FindFirstFileW(platform::Widen(m_path + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    ::DeleteFileW((platform::Widen(m_path + "\\") + name).c_str());
            } while (::FindNextFileW(h, &found));
            ::FindClose(h);
        }
        ::RemoveDirectoryW(platform::Widen(m_path).c_str());
    }
    TWinScratchDir(const TWinScratchDir&) = delete;
    TWinScratchDir& operator=(const TWinScratchDir&) = delete;

    bool Ok() const { return !m_path.empty(); }
    std::string Path(const std::string& name) const { return m_path + "\\" + name; }

    // Names in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        const HANDLE h = ::FindFirstFileW(platform::Widen(m_path + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(platform::Narrow(name));
        } while (::FindNextFileW(h, &found));
        ::FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
};

inline bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const HANDLE h = ::CreateFileW(platform::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    const bool ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                    wrote == bytes.size();
    ::CloseHandle(h);
    return ok;
}

inline std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
    const HANDLE h = ::CreateFileW(platform::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER size{};
    std::vector<std::uint8_t> bytes;
    bool ok = ::GetFileSizeEx(h, &size) != 0;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() || (::ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                               got == bytes.size());
    }
    ::CloseHandle(h);
    if (!ok) return std::nullopt;
    return bytes;
}

}  // namespace testing_support
