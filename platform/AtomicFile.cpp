#include "AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalidrome::platform {

bool WriteFileAtomically(const std::string& path, std::string_view content) {
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)) return false;

    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return false;
    std::string tmp = dir + "." + base + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // mkostemp creates 0600; an existing file keeps its mode, a new one gets 0644.
    bool ok = ::fchmod(fd, exists ? (st.st_mode & 07777) : 0644) == 0;
    const char* p = content.data();
    std::size_t left = content.size();
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace kalidrome::platform
