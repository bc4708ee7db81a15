#include "AtomicFile.h"

#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace kalidrome::platform {

namespace {

[[noreturn]] void ThrowErrno(int error) { throw std::system_error(error, std::generic_category()); }

// A save that was killed between creating its new file and the rename leaves that file
// behind, and every such crash would add one more. After a save of the same target, the
// new files of processes that no longer run (".<name>.<pid>-<n>.tmp") are removed; those
// of live processes, and names of any other shape, are left alone.
void RemoveTemporariesOfDeadProcesses(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    const std::string prefix = "." + name + ".";
    const std::string suffix = ".tmp";
    const pid_t self = ::getpid();
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName(entry->d_name);
        if (entryName.size() <= prefix.size() + suffix.size() || entryName.substr(0, prefix.size()) != prefix ||
            entryName.substr(entryName.size() - suffix.size()) != suffix)
            continue;
        const std::string_view middle =
            entryName.substr(prefix.size(), entryName.size() - prefix.size() - suffix.size());
        const std::size_t dash = middle.find('-');
        if (dash == 0 || dash == std::string_view::npos || dash > 9) continue;
        pid_t pid = 0;
        bool digits = true;
        for (std::size_t i = 0; i < middle.size(); ++i) {
            if (i == dash) continue;
            if (middle[i] < '0' || middle[i] > '9') digits = false;
            if (i < dash && digits) pid = pid * 10 + (middle[i] - '0');
        }
        if (!digits || pid <= 0 || pid == self) continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
        stale.emplace_back(entryName);
    }
    ::closedir(dir);
    for (const std::string& leftover : stale) ::unlink((folder + leftover).c_str());
}

}  // namespace

std::string FollowLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
    }
    // A link that leads nowhere yet: where it would lead, link by link (as many as the
    // system follows), so that a write makes the file it names.
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(n));
        if (target.empty()) return path;
        if (target.front() != '/') {
            const std::size_t slash = current.rfind('/');
            target = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + target;
        }
        current = target;
    }
    return path;  // a loop
}

AtomicFile::AtomicFile(const std::string& path) : m_target(FollowLink(path)) {
    struct stat st {};
    // A link still: one that loops, which must not be replaced by a file.
    if (::lstat(m_target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ThrowErrno(ELOOP);
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) ThrowErrno(EACCES);
        if (::access(m_target.c_str(), W_OK) != 0) ThrowErrno(errno);
    }
    const std::size_t slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : m_target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (name.empty()) ThrowErrno(EISDIR);

    // A name of this process's own, created with O_EXCL so that nothing already there (a
    // link planted by someone else, a leftover of a crashed save) is ever written through;
    // a taken name only moves us on. Mode 0666 lets the umask decide for a new file.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000 && m_fd < 0; ++attempt) {
        m_temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                      std::to_string(counter++) + ".tmp";
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) {
        const int error = errno;
        m_temporary.clear();
        ThrowErrno(error);
    }
    if (exists) {
        // Keeping the owner matters when root saves a user's file; where the process may
        // not give the file away, the file is still worth saving.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored = ::fchown(m_fd, st.st_uid, st.st_gid);
        }
        // After fchown, which may clear the set-id bits.
        if (::fchmod(m_fd, st.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(m_fd);
            m_fd = -1;
            ::unlink(m_temporary.c_str());
            m_temporary.clear();
            ThrowErrno(error);
        }
    }
}

AtomicFile::~AtomicFile() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
}

int AtomicFile::openFd() const {
    if (m_fd < 0) ThrowErrno(EBADF);
    return m_fd;
}

void AtomicFile::write(const void* data, std::size_t size) {
    const int fd = openFd();
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowErrno(errno);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void AtomicFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
    const int fd = openFd();
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowErrno(errno);
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void AtomicFile::writeAt(const struct iovec* parts, int count, std::uint64_t offset) {
    const int fd = openFd();
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += parts[i].iov_len;
    ssize_t n;
    do {
        n = ::pwritev(fd, parts, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) ThrowErrno(errno);
    if (static_cast<std::size_t>(n) == total) return;
    // A short write (disk nearly full, signal): finish part by part.
    std::size_t skip = static_cast<std::size_t>(n);
    for (int i = 0; i < count; ++i) {
        const std::size_t length = parts[i].iov_len;
        if (skip < length)
            writeAt(static_cast<const char*>(parts[i].iov_base) + skip, length - skip, offset + skip);
        skip -= std::min(skip, length);
        offset += length;
    }
}

void AtomicFile::resize(std::uint64_t size) {
    if (::ftruncate(openFd(), static_cast<off_t>(size)) != 0) ThrowErrno(errno);
}

void AtomicFile::setPermissions(unsigned mode) {
    if (::fchmod(openFd(), static_cast<mode_t>(mode & 07777)) != 0) ThrowErrno(errno);
}

void AtomicFile::commit(Sync sync) {
    const int fd = openFd();
    if (sync == Sync::Yes && ::fsync(fd) != 0) ThrowErrno(errno);
    m_fd = -1;
    // close() is where some file systems (NFS, full disks) report a failed write.
    if (::close(fd) != 0) ThrowErrno(errno);
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) ThrowErrno(errno);
    m_temporary.clear();
    const std::size_t slash = m_target.rfind('/');
    RemoveTemporariesOfDeadProcesses(slash == std::string::npos ? std::string() : m_target.substr(0, slash + 1),
                                     slash == std::string::npos ? m_target : m_target.substr(slash + 1));
}

namespace {

int TryLock(int fd, int how) {
    int r;
    do {
        r = ::flock(fd, how);
    } while (r != 0 && errno == EINTR);
    return r;
}

// What a thread that waits for the lock on the caller's behalf hands back.
struct LockWait {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;  // the caller went on without the lock
    int fd = -1;             // the locked descriptor, once finished
};

}  // namespace

std::string FileLock::LockPath(const std::string& path) { return FollowLink(path) + ".lock"; }

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait) {
    const std::string lockPath = LockPath(path);
    // O_NOFOLLOW: a link planted under the lock file's name leads nowhere; O_NONBLOCK: a
    // FIFO planted there cannot hang the open. Only a regular file is taken.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | flags, 0666);
    if (fd < 0) fd = ::open(lockPath.c_str(), O_RDONLY | flags);  // someone else's lock file
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    if (TryLock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_fd = fd;
        return;
    }
    if (errno != EWOULDBLOCK || wait.count() <= 0) {
        ::close(fd);
        return;
    }

    // Another holder: wait for it in a thread of its own, blocked in the kernel's queue,
    // and for no longer than wait. A thread left behind takes the lock when the holder
    // lets go, and releases it at once.
    auto state = std::make_shared<LockWait>();
    try {
        std::thread([state, fd] {
            const bool locked = TryLock(fd, LOCK_EX) == 0;
            std::lock_guard<std::mutex> guard(state->mutex);
            if (locked && !state->abandoned) {
                state->fd = fd;
            } else {
                ::close(fd);
            }
            state->finished = true;
            state->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        ::close(fd);
        return;
    }
    std::unique_lock<std::mutex> guard(state->mutex);
    if (state->done.wait_for(guard, wait, [&] { return state->finished; })) {
        m_fd = state->fd;
    } else {
        state->abandoned = true;
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing the last descriptor releases the lock
}

void CopyFileAtomically(const std::string& source, const std::string& destination, unsigned mode) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    const UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!in.valid()) ThrowErrno(errno);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) ThrowErrno(errno);
    if (!S_ISREG(st.st_mode)) ThrowErrno(EINVAL);
    AtomicFile out(destination);
    out.setPermissions(mode);
    std::vector<char> buffer(std::size_t{1} << 16);
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ThrowErrno(errno);
        if (got == 0) break;
        out.write(buffer.data(), static_cast<std::size_t>(got));
    }
    out.commit(AtomicFile::Sync::Yes);
}

bool WriteFileAtomically(const std::string& path, std::string_view content) {
    try {
        AtomicFile file(path);
        file.write(content.data(), content.size());
        file.commit();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace kalidrome::platform
