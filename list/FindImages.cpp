#include "FindImages.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <unordered_set>

namespace kalidrome {

namespace {

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

struct FolderKey {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderKey&) const = default;
};

struct FolderKeyHash {
    std::size_t operator()(const FolderKey& k) const {
        return std::hash<unsigned long long>()(static_cast<unsigned long long>(k.ino) * 1000003u ^
                                               static_cast<unsigned long long>(k.dev));
    }
};

using KeySet = std::unordered_set<FolderKey, FolderKeyHash>;

// The path with every link resolved, or empty when it leads nowhere.
std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// Whether path (resolved) is folder (resolved) or lies below it.
bool IsInside(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) return false;
    if (folder == "/") return true;
    return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

// A mask of the common form "*" + plain text ("*.jpg") is a case-blind test of the
// name's end, much cheaper than the general matcher on every name of a big tree.
class CompiledMask {
public:
    explicit CompiledMask(std::string_view mask) : m_mask(mask) {
        m_suffixOnly = !mask.empty() && mask.front() == '*' &&
                       mask.find_first_of("*?", 1) == std::string_view::npos;
        if (m_suffixOnly)
            for (char c : mask.substr(1)) m_suffix.push_back(FoldCase(c));
    }

    bool matches(std::string_view name) const {
        if (!m_suffixOnly) return MatchesMask(name, m_mask);
        if (name.size() < m_suffix.size()) return false;
        const char* tail = name.data() + (name.size() - m_suffix.size());
        for (std::size_t i = 0; i < m_suffix.size(); ++i)
            if (FoldCase(tail[i]) != m_suffix[i]) return false;
        return true;
    }

private:
    std::string m_mask;
    bool m_suffixOnly = false;
    std::string m_suffix;
};

// Closes a directory stream on every way out.
class DirHandle {
public:
    explicit DirHandle(const std::string& path) : m_dir(::opendir(path.c_str())) {}
    ~DirHandle() {
        if (m_dir) ::closedir(m_dir);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t n = 0, m = 0;
    std::size_t starMask = kNone, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || FoldCase(mask[m]) == FoldCase(name[n]))) {
            bool any = mask[m] == '?';
            ++m;
            ++n;
            // "?" stands for one character, which in a UTF-8 name may be several bytes.
            while (any && n < name.size() && IsUtf8Continuation(name[n])) ++n;
        } else if (starMask != kNone) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

std::vector<std::string> FindImagesMulti(const std::string& folder,
                                         const std::vector<std::string>& masks, bool recurse,
                                         FindProgress* progress, const std::string& leaveOut) {
    std::vector<std::string> result;
    auto cancelled = [progress] { return progress && progress->cancelled.load(std::memory_order_relaxed); };
    if (folder.empty() || masks.empty()) return result;

    std::vector<CompiledMask> compiled(masks.begin(), masks.end());
    std::vector<std::vector<std::string>> perMask(masks.size());
    KeySet searched;
    KeySet listedFiles;
    // Links are judged by where they lead: a folder link is followed only into the chosen
    // folder, and nothing of the left-out folder is listed, however it is reached.
    const std::string rootReal = RealPath(folder);
    const std::string leftOutReal = leaveOut.empty() ? std::string() : RealPath(leaveOut);
    if (!leftOutReal.empty()) {
        struct stat st {};
        if (::stat(leftOutReal.c_str(), &st) == 0) searched.insert(FolderKey{st.st_dev, st.st_ino});
    }
    std::vector<std::string> pending{folder.back() == '/' ? folder : folder + "/"};
    std::vector<std::string> subFolders;
    std::vector<bool> matched(masks.size());

    // A folder of a million entries must not hold up a cancel: look every few hundred.
    constexpr unsigned kCancelCheckEvery = 256;
    unsigned sinceCheck = 0;
    while (!pending.empty()) {
        if (cancelled()) return result;
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        DirHandle handle(dir);
        if (!handle.get()) continue;
        const int dirFd = ::dirfd(handle.get());
        struct stat st {};
        if (::fstat(dirFd, &st) == 0 && !searched.insert(FolderKey{st.st_dev, st.st_ino}).second)
            continue;

        subFolders.clear();
        while (const dirent* ent = ::readdir(handle.get())) {
            if (++sinceCheck == kCancelCheckEvery) {
                sinceCheck = 0;
                if (cancelled()) return result;
            }
            std::string_view name(ent->d_name);
            bool anyMatch = false;
            for (std::size_t i = 0; i < masks.size(); ++i) {
                matched[i] = compiled[i].matches(name);
                anyMatch = anyMatch || matched[i];
            }
            const bool folderCandidate = recurse && name.front() != '.';
            if (!anyMatch && !folderCandidate) continue;

            bool isFile = ent->d_type == DT_REG;
            bool isFolder = ent->d_type == DT_DIR;
            bool isLink = ent->d_type == DT_LNK;
            FolderKey fileKey{st.st_dev, ent->d_ino};
            // Only a link or a file system without entry types needs a look at the inode.
            if (ent->d_type == DT_UNKNOWN) {
                struct stat own {};
                if (::fstatat(dirFd, ent->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0) {
                    isLink = S_ISLNK(own.st_mode);
                    isFile = S_ISREG(own.st_mode);
                    isFolder = S_ISDIR(own.st_mode);
                    fileKey = FolderKey{own.st_dev, own.st_ino};
                }
            }
            if (isLink) {
                struct stat target {};
                if (::fstatat(dirFd, ent->d_name, &target, 0) == 0) {
                    isFile = S_ISREG(target.st_mode) && anyMatch;
                    isFolder = S_ISDIR(target.st_mode) && folderCandidate;
                    fileKey = FolderKey{target.st_dev, target.st_ino};
                }
                if (isFile || isFolder) {
                    const std::string real = RealPath(dir + ent->d_name);
                    if (IsInside(real, leftOutReal)) continue;
                    if (isFolder && !IsInside(real, rootReal)) continue;
                }
            }
            if (isFile && anyMatch) {
                // A file reached under several names (links, hard links) is listed once.
                if (!listedFiles.insert(fileKey).second) continue;
                std::size_t count = 0;
                for (std::size_t i = 0; i < masks.size(); ++i)
                    if (matched[i]) {
                        perMask[i].push_back(dir + ent->d_name);
                        ++count;
                    }
                if (progress) progress->found.fetch_add(count, std::memory_order_relaxed);
            } else if (isFolder && folderCandidate) {
                subFolders.push_back(dir + ent->d_name + "/");
            }
        }
        // Depth first, in the order listed: the first sub-folder is searched next.
        for (auto it = subFolders.rbegin(); it != subFolders.rend(); ++it)
            pending.push_back(std::move(*it));
    }

    if (cancelled()) return result;
    std::size_t total = 0;
    for (const auto& part : perMask) total += part.size();
    result.reserve(total);
    for (auto& part : perMask)
        for (auto& path : part) result.push_back(std::move(path));
    return result;
}

std::vector<std::string> FindImages(const std::string& folder, std::string_view mask, bool recurse) {
    return FindImagesMulti(folder, {std::string(mask)}, recurse, nullptr, {});
}

}  // namespace kalidrome
