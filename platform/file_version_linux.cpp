// SPDX-License-Identifier: GPL-3.0-or-later
// Linux: the version note is found in the file itself. Only the headers and
// the note sections are needed, but executables are small enough to map and
// hand to the pure decoder whole.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_version.h"

namespace platform {

std::optional<TFileVersion> ReadFileVersion(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<TFileVersion> version;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        const auto size = static_cast<std::size_t>(st.st_size);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            version = FindElfVersionNote({static_cast<const std::byte*>(map), size});
            ::munmap(map, size);
        }
    }
    ::close(fd);
    return version;
}

}  // namespace platform
