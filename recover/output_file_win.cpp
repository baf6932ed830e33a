// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/win_text.h"
#include "recover/output_file.h"

namespace recover {

namespace {

// Marks the open file for deletion, or takes the mark back. While marked, the
// file goes when its handle closes, also when the process dies: nothing is
// left of a run that was killed. Unlike FILE_FLAG_DELETE_ON_CLOSE the mark
// can be taken back, so the same handle can then give the file its name.
bool MarkForDeletion(HANDLE handle, bool mark) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = mark ? TRUE : FALSE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

// Renames the open file onto `target`, replacing a file of that name, in one
// step through its handle.
bool RenameByHandle(HANDLE handle, const std::wstring& target) {
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), info->FileName);
    return ::SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(bytes)) != 0;
}

class TWinOutputFile : public TOutputFile {
public:
    TWinOutputFile(HANDLE handle, std::string tempPath, std::string targetPath, bool marked)
        : m_handle(handle),
          m_tempPath(std::move(tempPath)),
          m_targetPath(std::move(targetPath)),
          m_marked(marked) {}
    ~TWinOutputFile() override {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
        if (!m_committed && !m_marked) ::DeleteFileW(platform::Widen(m_tempPath).c_str());
    }
    TWinOutputFile(const TWinOutputFile&) = delete;
    TWinOutputFile& operator=(const TWinOutputFile&) = delete;

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (m_handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
        if (offset > static_cast<std::uint64_t>(INT64_MAX)) return Fail(ERROR_FILE_TOO_LARGE);
        if (offset > m_end) MarkSparse();
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(m_handle, at, nullptr, FILE_BEGIN)) return Fail(::GetLastError());
        std::size_t done = 0;
        while (done < bytes.size()) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            DWORD wrote = 0;
            if (!::WriteFile(m_handle, bytes.data() + done, want, &wrote, nullptr))
                return Fail(::GetLastError());
            if (wrote == 0) return Fail(ERROR_WRITE_FAULT);
            done += wrote;
        }
        m_end = std::max(m_end, offset + done);
        return true;
    }

    bool Commit(std::uint64_t size) override { return CommitAs(m_targetPath, size); }

    bool CommitAs(const std::string& targetPath, std::uint64_t size) override {
        if (m_handle == INVALID_HANDLE_VALUE || m_committed) return Fail(ERROR_INVALID_HANDLE);
        m_targetPath = targetPath;
        if (size > static_cast<std::uint64_t>(INT64_MAX)) return Fail(ERROR_FILE_TOO_LARGE);
        if (size > m_end) MarkSparse();
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(m_handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_handle))
            return Fail(::GetLastError());
        const std::wstring target = platform::Widen(m_targetPath);
        // Replacing a file: make the new content durable before the rename.
        if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES && !::FlushFileBuffers(m_handle))
            return Fail(::GetLastError());
        if (m_marked) {
            if (!MarkForDeletion(m_handle, false)) return Fail(::GetLastError());
            m_marked = false;  // from here on the destructor removes it by name
        }
        if (RenameByHandle(m_handle, target)) {
            m_committed = true;
            const HANDLE handle = m_handle;
            m_handle = INVALID_HANDLE_VALUE;
            ::CloseHandle(handle);
            return true;
        }
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(handle)) return Fail(::GetLastError());
        if (!::MoveFileExW(platform::Widen(m_tempPath).c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return Fail(::GetLastError());
        m_committed = true;
        return true;
    }

    const std::string& TempPath() const override { return m_tempPath; }
    int Error() const override { return static_cast<int>(m_error); }

private:
    bool Fail(DWORD error) {
        if (m_error == 0) m_error = error;
        return false;
    }

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
    DWORD m_error = 0;
    bool m_marked;
    bool m_sparse = false;
    bool m_committed = false;
};

}  // namespace

int LastSystemError() {
    return static_cast<int>(::GetLastError());
}

// Every temporary file here is marked for deletion until it is committed,
// so the system removes it with its last handle, a killed process's too:
// nothing is left to clean up, and nothing is refused to test.
void RemoveStaleTempFiles(const std::string&) {}
void RemoveOwnTempFiles() noexcept {}
void RefuseUnnamedTempFilesForTesting(bool) {}

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
        // DELETE access lets the handle mark, unmark and rename the file.
        const HANDLE h = ::CreateFileW(platform::Widen(tempPath).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            // A file system that cannot mark it keeps the named file, which
            // the destructor removes.
            const bool marked = MarkForDeletion(h, true);
            return std::make_unique<TWinOutputFile>(h, std::move(tempPath), targetPath, marked);
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    return nullptr;
}

}  // namespace recover
