#include "InstanceChannel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kalidrome::platform {

namespace {

std::uint64_t Fnv1a(const std::string& s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

bool IsFolder(const char* path) {
    struct stat st {};
    return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

constexpr const char* kPrefix = "KALIDROME/1 ";

}  // namespace

std::string InstanceEndpoint(const std::string& systemPath, std::int64_t handle) {
    char name[80];
    std::snprintf(name, sizeof name, "kalidrome-%016llx-%lld.sock",
                  static_cast<unsigned long long>(Fnv1a(systemPath)), static_cast<long long>(handle));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = IsFolder(runtime) ? std::string(runtime) : std::string("/tmp");
    if (dir.back() != '/') dir += '/';
    // A socket path has to fit into sockaddr_un.
    if (dir.size() + std::strlen(name) >= sizeof(sockaddr_un::sun_path)) dir = "/tmp/";
    return dir + name;
}

std::string EncodeInstanceRequest(int message) { return kPrefix + std::to_string(message) + "\n"; }

int DecodeInstanceRequest(const std::string& line) {
    std::string l = line;
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    if (l.rfind(kPrefix, 0) != 0) return 0;
    std::string number = l.substr(std::strlen(kPrefix));
    if (number == "3024") return kRequestShow;
    if (number == "3025") return kRequestShowScreensaver;
    return 0;
}

bool SendInstanceRequest(const std::string& endpoint, int message) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (endpoint.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, endpoint.c_str(), endpoint.size() + 1);

    // Non-blocking, so a stuck listener can never keep the later start from ending.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (ok) {
        std::string data = EncodeInstanceRequest(message);
        ssize_t n;
        do {
            n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        ok = n == static_cast<ssize_t>(data.size());
    }
    ::close(fd);
    return ok;
}

}  // namespace kalidrome::platform
