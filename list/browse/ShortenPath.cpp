#include "ShortenPath.h"

namespace kalidrome {

namespace {

constexpr std::string_view kEllipsis = ".../";

// Takes the first folder off dir: "/a/b/" becomes "/.../b/", "/.../b/" becomes "/.../",
// "a/" and ".../" become empty, and "/" becomes empty.
void CutFirstFolder(std::string& dir) {
    if (dir == "/") {
        dir.clear();
        return;
    }
    const bool rooted = !dir.empty() && dir.front() == '/';
    if (rooted) dir.erase(0, 1);
    // Only an earlier cut's ".../" goes here: a folder whose own name starts with "." (common
    // on Linux) is cut as a whole below, like any other.
    if (dir.starts_with(kEllipsis)) dir.erase(0, kEllipsis.size());
    const std::size_t slash = dir.find('/');
    if (slash != std::string::npos) dir = std::string(kEllipsis) + dir.substr(slash + 1);
    else dir.clear();
    if (rooted) dir.insert(0, 1, '/');
}

}  // namespace

std::string ShortenPathToWidth(const std::string& path, int width,
                               const std::function<int(const std::string&)>& textWidth) {
    std::string result = path;
    const std::size_t split = path.rfind('/');
    std::string dir = split == std::string::npos ? std::string() : path.substr(0, split + 1);
    const std::string name = split == std::string::npos ? path : path.substr(split + 1);

    while (!dir.empty() && textWidth(result) > width) {
        if (dir == "/.../") dir = std::string(kEllipsis);
        else CutFirstFolder(dir);
        result = dir + name;
    }
    return result;
}

}  // namespace kalidrome
