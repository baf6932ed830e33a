// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "recover/target_name.h"

namespace recover {

namespace {

// statfs f_type of file systems that name files as Windows does.
constexpr long kMsdosMagic = 0x4d44;      // FAT12/16/32, vfat
constexpr long kExfatMagic = 0x2011BAB0;  // the kernel's exFAT driver
constexpr long kNtfsMagic = 0x5346544e;   // the kernel's ntfs and ntfs3 drivers
constexpr long kNtfs3Magic = 0x7366746e;
constexpr long kCifsMagic = 0xFF534D42;  // SMB shares
constexpr long kSmb2Magic = 0xFE534D42;

std::string ProbePath(const std::string& folder, const std::string& name) {
    return JoinTargetPath(folder, name, TNameRules::Posix);
}

// Creates `path` anew; false when the folder refuses it.
bool CreateProbe(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

TNameRules HostNameRules() {
    return TNameRules::Posix;
}

TNameRules FolderNameRules(const std::string& folder) {
    struct statfs fs {};
    if (::statfs(folder.empty() ? "." : folder.c_str(), &fs) == 0) {
        const long type = static_cast<long>(fs.f_type);
        if (type == kMsdosMagic || type == kExfatMagic || type == kNtfsMagic || type == kNtfs3Magic ||
            type == kCifsMagic || type == kSmb2Magic)
            return TNameRules::Windows;
    }
    // FUSE (exfat-fuse, ntfs-3g), case-folding ext4 folders and the like say
    // nothing in f_type: ask the folder itself.
    static std::atomic<unsigned> counter{0};
    const std::string stem = ".lumbra-probe-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const std::string lower = ProbePath(folder, stem + "-a");
    if (!CreateProbe(lower)) return HostNameRules();
    struct stat st {};
    const bool caseBlind = ::stat(ProbePath(folder, stem + "-A").c_str(), &st) == 0;
    const std::string odd = ProbePath(folder, stem + "-?:*");
    const bool refusesWindowsCharacters = !CreateProbe(odd);
    if (!refusesWindowsCharacters) ::unlink(odd.c_str());
    ::unlink(lower.c_str());
    return caseBlind || refusesWindowsCharacters ? TNameRules::Windows : TNameRules::Posix;
}

bool OutputErrorMayBeTheName(int error) {
    return error != EFBIG && error != ENOSPC && error != EDQUOT && error != EROFS && error != EIO;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>{static_cast<std::uint64_t>(st.st_dev),
                                                   static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace recover
