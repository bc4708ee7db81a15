#include "ProcessInfo.h"

#include <cerrno>
#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kalidrome::platform {

std::string ExecutablePath() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

std::string ExecutableFolder() {
    std::string exe = ExecutablePath();
    std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::string SystemFolderPath() {
    std::string folder = ExecutableFolder();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + "System/";
}

std::int64_t CurrentHandle() { return static_cast<std::int64_t>(::getpid()); }

bool ProcessRunsThisProgram(std::int64_t pid) {
    // Ids 0 and below (and above pid_t) would address process groups or nothing at all.
    if (pid <= 0 || pid > INT_MAX) return false;
    std::vector<char> buf(PATH_MAX + 1);
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0) return false;  // no such process, or one we may not look into
    const std::string exe = ExecutablePath();
    return !exe.empty() && std::string(buf.data(), static_cast<std::size_t>(n)) == exe;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kalidrome::platform
