#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>

#include "platform/win_text.h"
#include "recover/output_file.h"

namespace recover {

namespace {

class TWinOutputFile : public TOutputFile {
public:
    TWinOutputFile(HANDLE handle, std::string tempPath, std::string targetPath)
        : m_handle(handle), m_tempPath(std::move(tempPath)), m_targetPath(std::move(targetPath)) {}
    ~TWinOutputFile() override {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
        if (!m_committed) ::DeleteFileW(platform::Widen(m_tempPath).c_str());
    }
    TWinOutputFile(const TWinOutputFile&) = delete;
    TWinOutputFile& operator=(const TWinOutputFile&) = delete;

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
        if (offset > m_end) MarkSparse();
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(m_handle, at, nullptr, FILE_BEGIN)) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            DWORD wrote = 0;
            if (!::WriteFile(m_handle, bytes.data() + done, want, &wrote, nullptr) || wrote == 0)
                return false;
            done += wrote;
        }
        m_end = std::max(m_end, offset + done);
        return true;
    }

    bool Commit(std::uint64_t size) override {
        if (m_handle == INVALID_HANDLE_VALUE || m_committed) return false;
        if (size > static_cast<std::uint64_t>(INT64_MAX)) return false;
        if (size > m_end) MarkSparse();
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(m_handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_handle))
            return false;
        const std::wstring target = platform::Widen(m_targetPath);
        // Replacing a file: make the new content durable before the rename.
        if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES && !::FlushFileBuffers(m_handle))
            return false;
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(handle)) return false;
        if (!::MoveFileExW(platform::Widen(m_tempPath).c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return false;
        m_committed = true;
        return true;
    }

    const std::string& TempPath() const override { return m_tempPath; }

private:
    // Ranges never written then take no space on NTFS. Only files with gaps
    // are marked, and a file system without sparse files simply says no.
    void MarkSparse() {
        if (m_sparse) return;
        m_sparse = true;
        DWORD returned = 0;
        ::DeviceIoControl(m_handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    }

    HANDLE m_handle;
    std::string m_tempPath;
    std::string m_targetPath;
    std::uint64_t m_end = 0;
    bool m_sparse = false;
    bool m_committed = false;
};

}  // namespace

std::unique_ptr<TOutputFile> CreateOutputFile(const std::string& targetPath) {
    if (targetPath.empty()) return nullptr;
    const std::string prefix = FolderPrefix(targetPath, true);
    // Random bits mixed with the process id and a counter: names stay apart
    // across threads and processes even where random_device is a fixed
    // sequence.
    static std::atomic<std::uint64_t> counter{0};
    std::random_device random;
    // CREATE_NEW never opens a file that is already there; a clash of 64
    // random bits is only retried a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::uint64_t unique = ((std::uint64_t{random()} << 32) ^ random()) ^
                                     (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 40) ^
                                     counter.fetch_add(1);
        std::string tempPath = prefix + TempFileName(unique);
        const HANDLE h = ::CreateFileW(platform::Widen(tempPath).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return std::make_unique<TWinOutputFile>(h, std::move(tempPath), targetPath);
        if (::GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    return nullptr;
}

}  // namespace recover
