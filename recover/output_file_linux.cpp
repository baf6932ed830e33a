// SPDX-License-Identifier: GPL-3.0-or-later
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "recover/output_file.h"
#include "recover/target_name.h"

namespace recover {

namespace {

// A file over the process's file size limit (ulimit -f) must fail its write
// with EFBIG, not end the process with SIGXFSZ: the run skips that one file
// and goes on. A handler the host program installed is left alone.
void IgnoreFileSizeSignal() {
    static const bool done = [] {
        struct sigaction old {};
        if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
            old.sa_handler == SIG_DFL)
            ::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)done;
}

// Names of named temporary files: random bits drawn once per process, the
// process id, and a counter, so names stay apart across threads and
// processes even where random_device is a fixed sequence.
std::uint64_t NextUnique() {
    static const std::uint64_t seed = [] {
        std::random_device random;
        return ((std::uint64_t{random()} << 32) ^ random()) ^ (static_cast<std::uint64_t>(::getpid()) << 40);
    }();
    static std::atomic<std::uint64_t> counter{0};
    return seed ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
}

// How an unnamed file gets its name: linkat with AT_EMPTY_PATH needs a
// capability that most users lack; /proc/self/fd works for everyone where
// /proc is mounted. Learnt from the first file.
enum class TLinkWay { Unknown, EmptyPath, ProcFd, None };
std::atomic<TLinkWay> g_linkWay{TLinkWay::Unknown};

int LinkByProc(int fd, const char* target) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, path, AT_FDCWD, target, AT_SYMLINK_FOLLOW);
}

// Gives the unnamed file `fd` the name `target`; false with errno set (EEXIST
// when a file of that name exists).
bool LinkUnnamed(int fd, const char* target) {
    TLinkWay way = g_linkWay.load(std::memory_order_relaxed);
    if (way == TLinkWay::Unknown || way == TLinkWay::EmptyPath) {
        if (::linkat(fd, "", AT_FDCWD, target, AT_EMPTY_PATH) == 0) {
            g_linkWay.store(TLinkWay::EmptyPath, std::memory_order_relaxed);
            return true;
        }
        if (errno == EEXIST || way == TLinkWay::EmptyPath) return false;
    }
    if (way == TLinkWay::None) {
        errno = EOPNOTSUPP;
        return false;
    }
    if (LinkByProc(fd, target) == 0) {
        g_linkWay.store(TLinkWay::ProcFd, std::memory_order_relaxed);
        return true;
    }
    if (errno == EEXIST) return false;
    if (way == TLinkWay::Unknown) {
        // Neither way works here: later files take named temporary files.
        const int error = errno;
        g_linkWay.store(TLinkWay::None, std::memory_order_relaxed);
        errno = error;
    }
    return false;
}

// The named temporary files this process has open, for a signal handler to
// remove: fixed slots of plain characters, claimed and released through an
// atomic state, so the handler neither allocates nor takes a lock. A file
// that finds no free slot (or whose path is too long) is not removed on a
// signal; the next run into its folder removes it (RemoveStaleTempFiles).
constexpr std::size_t kTempSlots = 256;
constexpr std::size_t kTempPathMax = 4096;
enum : int { kSlotFree = 0, kSlotFilling = 1, kSlotReady = 2 };
struct TTempSlot {
    std::atomic<int> State{kSlotFree};
    char Path[kTempPathMax] = {};
};
// Constant-initialized, so the megabyte stays untouched zero pages until a
// slot is used: a dynamic initializer wrote all of it at every start, which
// cost each run of the program some 4 ms before main.
constinit TTempSlot g_tempSlots[kTempSlots];

// A slot holding `path`; -1 when none could take it.
int RegisterTemp(const std::string& path) {
    if (path.size() >= kTempPathMax) return -1;
    for (std::size_t i = 0; i < kTempSlots; ++i) {
        int expected = kSlotFree;
        if (!g_tempSlots[i].State.compare_exchange_strong(expected, kSlotFilling, std::memory_order_acquire))
            continue;
        std::memcpy(g_tempSlots[i].Path, path.c_str(), path.size() + 1);
        g_tempSlots[i].State.store(kSlotReady, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void ReleaseTemp(int slot) {
    if (slot >= 0) g_tempSlots[slot].State.store(kSlotFree, std::memory_order_release);
}

// A named temporary file is locked for as long as its writer holds it, so
// that another run's clean-up can tell it from one a killed run left. The
// lock goes with the last descriptor, a killed process's included. Where a
// file system has no locks the file is simply not cleaned up by others.
void LockTemp(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
    }
}

std::atomic<bool> g_refuseUnnamed{false};

class TLinuxOutputFile : public TOutputFile {
public:
    // `tempPath` empty: `fd` is an unnamed file (O_TMPFILE) in the target's
    // folder, which the kernel removes with its last descriptor.
    TLinuxOutputFile(int fd, std::string tempPath, std::string targetPath)
        : m_fd(fd), m_tempPath(std::move(tempPath)), m_targetPath(std::move(targetPath)) {
        if (!m_tempPath.empty()) {
            LockTemp(m_fd);
            m_slot = RegisterTemp(m_tempPath);
        }
    }
    ~TLinuxOutputFile() override {
        // Removed while still locked, so no clean-up of another run races it.
        if (!m_committed && !m_tempPath.empty()) ::unlink(m_tempPath.c_str());
        ReleaseTemp(m_slot);
        if (m_fd >= 0) ::close(m_fd);
    }
    TLinuxOutputFile(const TLinuxOutputFile&) = delete;
    TLinuxOutputFile& operator=(const TLinuxOutputFile&) = delete;

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (m_fd < 0) return Fail(EBADF);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const std::uint64_t at = offset + done;
            if (at < offset || at > static_cast<std::uint64_t>(INT64_MAX)) return Fail(EFBIG);
            const ssize_t n =
                ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return Fail(n < 0 ? errno : EIO);
            done += static_cast<std::size_t>(n);
        }
        if (offset + done > m_end) m_end = offset + done;
        return true;
    }

    bool Commit(std::uint64_t size) override { return CommitAs(m_targetPath, size); }

    bool CommitAs(const std::string& targetPath, std::uint64_t size) override {
        if (m_fd < 0 || m_committed) return Fail(EBADF);
        m_targetPath = targetPath;
        if (size > static_cast<std::uint64_t>(INT64_MAX)) return Fail(EFBIG);
        // Writes ended where the content ends unless it ends in zeros.
        if (size != m_end && ::ftruncate(m_fd, static_cast<off_t>(size)) != 0) return Fail(errno);
        if (m_tempPath.empty() ? CommitUnnamed() : CommitNamed()) {
            m_committed = true;
            return true;
        }
        return false;
    }

    const std::string& TempPath() const override { return m_tempPath; }
    int Error() const override { return m_error; }

private:
    bool Fail(int error) {
        if (m_error == 0) m_error = error;
        return false;
    }

    // A new name takes the file in one step, with no name in between.
    // Replacing a file goes through a named temporary file and a rename,
    // which replaces in one step; the content is made durable first, so that
    // a crash right after cannot leave an empty file where the old one was.
    bool CommitUnnamed() {
        if (LinkUnnamed(m_fd, m_targetPath.c_str())) return Close();
        if (errno != EEXIST) return Fail(errno);
        if (::fdatasync(m_fd) != 0) return Fail(errno);
        const std::string prefix = FolderPrefix(m_targetPath, false);
        // Locked before it has a name: a clean-up never sees it unlocked.
        LockTemp(m_fd);
        for (int attempt = 0; attempt < 8; ++attempt) {
            std::string tempPath = prefix + TempFileName(NextUnique());
            if (LinkUnnamed(m_fd, tempPath.c_str())) {
                m_tempPath = std::move(tempPath);  // removed by the destructor if the rename fails
                m_slot = RegisterTemp(m_tempPath);
                return CloseAndRename();
            }
            if (errno != EEXIST) return Fail(errno);
        }
        return Fail(EEXIST);
    }

    bool CommitNamed() {
        struct stat st {};
        if (::lstat(m_targetPath.c_str(), &st) == 0 && ::fdatasync(m_fd) != 0) return Fail(errno);
        return CloseAndRename();
    }

    // Closing reports a write the file system deferred, before the name is
    // given. A duplicate descriptor keeps the lock (it belongs to the open
    // file, not to one descriptor) until the file has its name, so another
    // run's clean-up never takes it for a stale one in between.
    bool CloseAndRename() {
        const int keep = ::dup(m_fd);
        const bool done = Close() && Rename();
        if (done) {
            ReleaseTemp(m_slot);
            m_slot = -1;
        }
        if (keep >= 0) ::close(keep);
        return done;
    }

    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 || Fail(errno);
    }

    bool Rename() { return ::rename(m_tempPath.c_str(), m_targetPath.c_str()) == 0 || Fail(errno); }

    int m_fd;
    int m_slot = -1;  // where a signal handler finds the temporary file's path
    std::string m_tempPath;
    std::string m_targetPath;
    std::uint64_t m_end = 0;
    int m_error = 0;
    bool m_committed = false;
};

// An unnamed file in the folder: nothing of it is left if the process dies
// before Commit. Refused by some file systems (FUSE ones among them), and
// by kernels before 3.11: -1 then.
int OpenUnnamed(const std::string& folder) {
    // Without /proc and without the capability there is no way to name it.
    static const bool nameable = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
    static const bool refusedByEnvironment = [] {
        const char* v = std::getenv("LUMBRA_TEST_NO_TMPFILE");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    if (!nameable || refusedByEnvironment || g_refuseUnnamed.load(std::memory_order_relaxed) ||
        g_linkWay.load(std::memory_order_relaxed) == TLinkWay::None) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

}  // namespace

int LastSystemError() {
    return errno;
}

void RefuseUnnamedTempFilesForTesting(bool refuse) {
    g_refuseUnnamed.store(refuse, std::memory_order_relaxed);
}

void RemoveOwnTempFiles() noexcept {
    for (TTempSlot& slot : g_tempSlots)
        if (slot.State.load(std::memory_order_acquire) == kSlotReady) ::unlink(slot.Path);
}

void RemoveStaleTempFiles(const std::string& folder) {
    const std::string prefix = FolderPrefix(JoinTargetPath(folder, "*", HostNameRules()), false);
    DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsTempFileName(name)) continue;
        const std::string path = prefix + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Unlocked: its writer is gone. It is removed while this process
        // holds the lock, so a writer cannot be between the two.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

std::unique_ptr<TOutputFile> CreateOutputFile(const std::string& targetPath) {
    if (targetPath.empty()) return nullptr;
    IgnoreFileSizeSignal();
    const std::string prefix = FolderPrefix(targetPath, false);
    const int unnamed = OpenUnnamed(prefix);
    if (unnamed >= 0) return std::make_unique<TLinuxOutputFile>(unnamed, std::string(), targetPath);
    // A folder that is not there, or cannot be written, refuses a named file
    // just the same; anything else may be a file system without O_TMPFILE.
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS) return nullptr;
    // O_EXCL never opens a file that is already there; a clash of 64 random
    // bits is only retried a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string tempPath = prefix + TempFileName(NextUnique());
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return std::make_unique<TLinuxOutputFile>(fd, std::move(tempPath), targetPath);
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

}  // namespace recover
