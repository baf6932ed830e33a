// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

#include "platform/rename_file.h"

namespace platform {

bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing
    // name just as well, and the old name is dropped once the new one exists.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    // Nor hard links (FAT): look, then rename. Only this process writes these names.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool IsRunningImage(const std::filesystem::path& path) {
    struct stat self {};
    struct stat other {};
    if (::stat("/proc/self/exe", &self) != 0 || ::stat(path.c_str(), &other) != 0) return false;
    return self.st_dev == other.st_dev && self.st_ino == other.st_ino;
}

}  // namespace platform
