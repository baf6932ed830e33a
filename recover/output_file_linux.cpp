#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <random>

#include "recover/output_file.h"

namespace recover {

namespace {

class TLinuxOutputFile : public TOutputFile {
public:
    TLinuxOutputFile(int fd, std::string tempPath, std::string targetPath)
        : m_fd(fd), m_tempPath(std::move(tempPath)), m_targetPath(std::move(targetPath)) {}
    ~TLinuxOutputFile() override {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_committed) ::unlink(m_tempPath.c_str());
    }
    TLinuxOutputFile(const TLinuxOutputFile&) = delete;
    TLinuxOutputFile& operator=(const TLinuxOutputFile&) = delete;

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (m_fd < 0) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const std::uint64_t at = offset + done;
            if (at < offset || at > static_cast<std::uint64_t>(INT64_MAX)) return false;
            const ssize_t n =
                ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Commit(std::uint64_t size) override {
        if (m_fd < 0 || m_committed) return false;
        if (size > static_cast<std::uint64_t>(INT64_MAX)) return false;
        if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) return false;
        // Replacing a file: make the new content durable before the rename, so
        // that a crash right after it cannot leave an empty file where the old
        // one was. A new name risks nothing, so it skips the flush.
        struct stat st {};
        if (::lstat(m_targetPath.c_str(), &st) == 0 && ::fdatasync(m_fd) != 0) return false;
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) return false;
        if (::rename(m_tempPath.c_str(), m_targetPath.c_str()) != 0) return false;
        m_committed = true;
        return true;
    }

    const std::string& TempPath() const override { return m_tempPath; }

private:
    int m_fd;
    std::string m_tempPath;
    std::string m_targetPath;
    bool m_committed = false;
};

}  // namespace

std::unique_ptr<TOutputFile> CreateOutputFile(const std::string& targetPath) {
    if (targetPath.empty()) return nullptr;
    const std::string prefix = FolderPrefix(targetPath, false);
    // Random bits mixed with the process id and a counter: names stay apart
    // across threads and processes even where random_device is a fixed
    // sequence.
    static std::atomic<std::uint64_t> counter{0};
    std::random_device random;
    // O_EXCL never opens a file that is already there; a clash of 64 random
    // bits is only retried a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::uint64_t unique = ((std::uint64_t{random()} << 32) ^ random()) ^
                                     (static_cast<std::uint64_t>(::getpid()) << 40) ^ counter.fetch_add(1);
        std::string tempPath = prefix + TempFileName(unique);
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return std::make_unique<TLinuxOutputFile>(fd, std::move(tempPath), targetPath);
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

}  // namespace recover
