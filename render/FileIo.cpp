#include "FileIo.h"

#include "PictureError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kalidrome::render {

namespace {

std::string Reason(const std::string& path, const char* what, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

int OpenForReading(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw PictureError(Reason(path, "Cannot open", errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw PictureError("Not a picture file: " + path);
    }
    return fd;
}

std::size_t ReadUpTo(int fd, const std::string& path, std::uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, out + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw PictureError(Reason(path, "Cannot read", errno));
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    Fd fd(OpenForReading(path));
    struct stat st {};
    ::fstat(fd.get(), &st);
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        throw PictureError("The file is too large: " + path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    const std::size_t got = ReadUpTo(fd.get(), path, bytes.data(), bytes.size());
    bytes.resize(got);  // the file shrank while we read: what we have is what there is
    return bytes;
}

std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t maxBytes) {
    Fd fd(OpenForReading(path));
    std::vector<std::uint8_t> bytes(maxBytes);
    bytes.resize(ReadUpTo(fd.get(), path, bytes.data(), bytes.size()));
    return bytes;
}

AtomicFile::AtomicFile(std::string targetPath) : m_target(std::move(targetPath)) {
    // The temporary sits beside the target so that rename() is atomic (same file system).
    std::string pattern = m_target + ".XXXXXX";
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0) fail("Unable to write to");
    m_temp = pattern;
    // mkostemp makes the file private to us; a wallpaper is an ordinary file others may read.
    ::fchmod(m_fd, 0644);
}

AtomicFile::~AtomicFile() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_committed && !m_temp.empty()) ::unlink(m_temp.c_str());
}

void AtomicFile::fail(const char* what) const {
    throw PictureError(Reason(m_target, what, errno));
}

void AtomicFile::resize(std::uint64_t size) {
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) fail("Unable to write to");
}

void AtomicFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Unable to write to");
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void AtomicFile::writeAt(const struct iovec* parts, int count, std::uint64_t offset) {
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += parts[i].iov_len;
    ssize_t n;
    do {
        n = ::pwritev(m_fd, parts, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) fail("Unable to write to");
    if (static_cast<std::size_t>(n) == total) return;
    // A short write (disk nearly full, signal): finish part by part.
    std::size_t skip = static_cast<std::size_t>(n);
    for (int i = 0; i < count; ++i) {
        const std::size_t len = parts[i].iov_len;
        if (skip >= len) {
            skip -= len;
            offset += len;
            continue;
        }
        writeAt(static_cast<const std::uint8_t*>(parts[i].iov_base) + skip, len - skip, offset + skip);
        offset += len;
        skip = 0;
    }
}

void AtomicFile::commit() {
    // No fsync: the point is that a reader never sees a half-written wallpaper, and the
    // rename gives that; forcing 70 MB to disk on every change would make each change slow.
    if (::close(m_fd) != 0) {
        m_fd = -1;
        fail("Unable to write to");
    }
    m_fd = -1;
    // Replacing a large file frees its cached pages when the last reference goes, which for
    // a 70 MB wallpaper takes tens of milliseconds inside rename(). Holding the old file
    // open across the rename moves that work to whoever closes it last: a short-lived thread
    // of its own, off the path of the change.
    const int old = ::open(m_target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        if (old >= 0) ::close(old);
        fail("Unable to write to");
    }
    m_committed = true;
    if (old >= 0) {
        try {
            std::thread([old] { ::close(old); }).detach();
        } catch (...) {
            ::close(old);
        }
    }
}

void WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size) {
    AtomicFile file(path);
    file.writeAt(data, size, 0);
    file.commit();
}

}  // namespace kalidrome::render
