#include "InstanceChannel.h"

#include "ProcessInfo.h"

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

// A runtime folder of ours: an absolute path to a folder this user owns (a runtime folder
// inherited through su or sudo belongs to someone else).
bool IsOwnFolder(const char* path) {
    struct stat st {};
    return path && *path == '/' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::string EndpointName(const std::string& systemPath, std::int64_t handle) {
    char name[80];
    std::snprintf(name, sizeof name, "kalidrome-%016llx-%lld.sock",
                  static_cast<unsigned long long>(Fnv1a(systemPath)), static_cast<long long>(handle));
    return name;
}

// "/tmp/kalidrome-<uid>", made when missing; "" when it is not safely ours.
std::string PrivateTmpFolder() {
    const uid_t uid = ::geteuid();
    const std::string folder = "/tmp/kalidrome-" + std::to_string(uid);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid) return {};
    // Ours, so the sticky /tmp keeps it ours; a mode someone loosened is tightened again.
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return {};
    return folder;
}

constexpr const char* kPrefix = "KALIDROME/1 ";

}  // namespace

std::string InstanceFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return IsOwnFolder(runtime) ? std::string(runtime) : PrivateTmpFolder();
}

std::string InstanceEndpoint(const std::string& systemPath, std::int64_t handle) {
    const std::string name = EndpointName(systemPath, handle);
    std::string dir = InstanceFolder();
    // A socket path has to fit into sockaddr_un.
    if (dir.empty() || dir.size() + 1 + name.size() >= sizeof(sockaddr_un::sun_path)) dir = PrivateTmpFolder();
    if (dir.empty()) return {};
    if (dir.back() != '/') dir += '/';
    return dir + name;
}

std::string PrivateEndpoint(const std::string& systemPath, std::int64_t handle, std::string* madeFolder,
                            int* failure) {
    char folder[64];
    std::snprintf(folder, sizeof folder, "/tmp/kalidrome-%u-XXXXXX", static_cast<unsigned>(::geteuid()));
    if (!::mkdtemp(folder)) {  // made with mode 0700
        if (failure) *failure = errno;
        return {};
    }
    if (madeFolder) *madeFolder = folder;
    return std::string(folder) + "/" + EndpointName(systemPath, handle);
}

std::string EncodeInstanceRequest(int message) { return kPrefix + std::to_string(message) + "\n"; }

int DecodeInstanceRequest(const std::string& line) {
    std::string l = line;
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    if (l.rfind(kPrefix, 0) != 0) return 0;
    const std::string number = l.substr(std::strlen(kPrefix));
    for (int known : {kRequestShow, kRequestShowScreensaver, kRequestNext, kRequestPrevious})
        if (number == std::to_string(known)) return known;
    return 0;
}

bool SendInstanceRequest(const std::string& endpoint, int message, int* failure) {
    int error = 0;
    auto fail = [&](int e) {
        if (failure) *failure = e;
        return false;
    };
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (endpoint.empty()) return fail(EACCES);
    if (endpoint.size() >= sizeof addr.sun_path) return fail(ENAMETOOLONG);
    std::memcpy(addr.sun_path, endpoint.c_str(), endpoint.size() + 1);

    // Non-blocking, so a stuck listener can never keep the later start from ending.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return fail(errno);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = errno;
    } else {
        std::string data = EncodeInstanceRequest(message);
        ssize_t n;
        do {
            n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n < 0) error = errno;
        else if (n != static_cast<ssize_t>(data.size())) error = EIO;
    }
    ::close(fd);
    return error == 0 ? true : fail(error);
}

bool InstanceIsGone(int failure, std::int64_t handle) {
    if (failure == ECONNREFUSED) return true;
    if (failure != ENOENT) return false;
    // This very process cannot be the instance it looks for (an id used again after a reboot).
    if (handle == CurrentHandle()) return true;
    return !ProcessRunsThisProgram(handle);
}

void RemoveDeadEndpoint(const std::string& endpoint) {
    struct stat st {};
    if (!endpoint.empty() && ::lstat(endpoint.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(endpoint.c_str());
}

}  // namespace kalidrome::platform
