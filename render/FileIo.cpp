#include "FileIo.h"

#include "AtomicFile.h"
#include "PictureError.h"
#include "UniqueFd.h"

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

using Fd = platform::UniqueFd;

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
        throw PictureError("The file is too large: " + path, PictureError::Reason::TooLarge);
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

void CommitLargeFile(platform::AtomicFile& file) {
    // No fsync: the point is that a reader never sees a half-written wallpaper, and the
    // rename gives that; forcing 70 MB to disk on every change would make each change slow.
    //
    // Replacing a large file frees its cached pages when the last reference goes, which for
    // a 70 MB wallpaper takes tens of milliseconds inside rename(). Holding the old file
    // open across the rename moves that work to whoever closes it last: a short-lived thread
    // of its own, off the path of the change.
    const int old = ::open(file.targetPath().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    try {
        file.commit();
    } catch (...) {
        if (old >= 0) ::close(old);
        throw;
    }
    if (old >= 0) {
        try {
            std::thread([old] { ::close(old); }).detach();
        } catch (...) {
            ::close(old);
        }
    }
}

void ThrowWriteError(const std::string& path, const std::system_error& error) {
    const int code = error.code().value();
    throw PictureError(Reason(path, "Unable to write to", code),
                       code == ENOSPC || code == EDQUOT ? PictureError::Reason::NoSpace : PictureError::Reason::Other);
}

}  // namespace kalidrome::render
