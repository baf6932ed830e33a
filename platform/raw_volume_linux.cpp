// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/open_error.h"
#include "platform/raw_volume.h"

namespace platform {

namespace {

class TLinuxVolume : public TRawVolume {
public:
    explicit TLinuxVolume(int fd) : m_fd(fd) {}
    ~TLinuxVolume() override { ::close(m_fd); }
    TLinuxVolume(const TLinuxVolume&) = delete;
    TLinuxVolume& operator=(const TLinuxVolume&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            if (offset + done > static_cast<std::uint64_t>(INT64_MAX)) break;
            const ssize_t n =
                ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    std::uint64_t Size() const override {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) return 0;
        if (S_ISBLK(st.st_mode)) {
            std::uint64_t bytes = 0;
            if (::ioctl(m_fd, BLKGETSIZE64, &bytes) == 0) return bytes;
            return 0;
        }
        return st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }
    bool AllowsConcurrentReads() const override { return true; }  // pread keeps no file position

private:
    int m_fd;
};

}  // namespace

namespace {

TOpenError KindOfErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return TOpenError::PermissionDenied;
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
        case ENOMEDIUM:
            return TOpenError::NoSuchDevice;
        case EISDIR:
            return TOpenError::IsFolder;
        case EBUSY:
            return TOpenError::Busy;
        default:
            return TOpenError::Other;
    }
}

}  // namespace

std::string SystemErrorText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::unique_ptr<TRawVolume> OpenRawVolumePath(const std::string& path, TOpenFailure* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return OpenFailed(why, path, KindOfErrno(error), error);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return OpenFailed(why, path, KindOfErrno(error), error);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return OpenFailed(why, path, TOpenError::IsFolder, EISDIR);
    }
    return std::make_unique<TLinuxVolume>(fd);
}

}  // namespace platform
