#include "AtomicFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace kalidrome {

namespace {

[[noreturn]] void ThrowErrno(int error) { throw std::system_error(error, std::generic_category()); }

std::string FollowLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return path;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path) : m_target(FollowLink(path)) {
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) ThrowErrno(EACCES);
        if (::access(m_target.c_str(), W_OK) != 0) ThrowErrno(errno);
    }
    std::size_t slash = m_target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : m_target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (name.empty()) ThrowErrno(EISDIR);

    // A name of this process's own; a leftover of a crashed save only moves us on.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000 && m_fd < 0; ++attempt) {
        m_temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                      std::to_string(counter++) + ".tmp";
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) {
        int error = errno;
        m_temporary.clear();
        ThrowErrno(error);
    }
    // The replacement keeps the old file's permissions.
    if (exists && ::fchmod(m_fd, st.st_mode & 07777) != 0) {
        int error = errno;
        ::close(m_fd);
        m_fd = -1;
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
        ThrowErrno(error);
    }
    if (exists && ::geteuid() == 0) {
        // Saving as root keeps the file its owner's; failing to is not worth a lost save.
        [[maybe_unused]] int ignored = ::fchown(m_fd, st.st_uid, st.st_gid);
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
}

void AtomicFileWriter::write(const void* data, std::size_t size) {
    if (m_fd < 0) ThrowErrno(EBADF);
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowErrno(errno);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void AtomicFileWriter::commit() {
    if (m_fd < 0) ThrowErrno(EBADF);
    // Without the flush a crash soon after the rename could leave an empty list behind.
    if (::fsync(m_fd) != 0) ThrowErrno(errno);
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) ThrowErrno(errno);
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) ThrowErrno(errno);
    m_temporary.clear();
}

}  // namespace kalidrome
