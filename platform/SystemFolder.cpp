#include "SystemFolder.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "ProcessInfo.h"

namespace kalidrome::platform {

namespace fs = std::filesystem;

namespace {

// The installed data is a handful of files; a seed folder with more is not ours.
constexpr int kMaxSeedDepth = 4;
constexpr int kMaxSeedEntries = 10000;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Writable(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) != 0 &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string WithoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

SystemFolderChoice PerUser(const std::string& besideFallback, const std::string& seedFrom,
                           const std::string& programsFrom = {}) {
    const std::string folder = PerUserSystemFolder();
    if (folder.empty()) return {besideFallback, {}, false, {}};
    return {folder, seedFrom, true, programsFrom};
}

// The programs of from, copied to to when it lacks them or holds another version (another
// size or time: a new install brings a new companion screen saver). Each copy lands whole
// or not at all and takes its source's time, so the next start finds it current.
void UpdatePrograms(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    int entries = 0;
    for (; !ec && it != fs::directory_iterator() && ++entries <= kMaxSeedEntries; it.increment(ec)) {
        std::error_code error;
        const fs::file_status status = it->symlink_status(error);
        if (error || !fs::is_regular_file(status)) continue;
        const auto sourceTime = it->last_write_time(error);
        const auto sourceSize = it->file_size(error);
        if (error) continue;
        const fs::path target = to / it->path().filename();
        std::error_code targetError;
        if (fs::last_write_time(target, targetError) == sourceTime && fs::file_size(target, targetError) == sourceSize &&
            !targetError)
            continue;
        try {
            CopyFileAtomically(it->path(), target, static_cast<unsigned>(status.permissions() & fs::perms::all));
            fs::last_write_time(target, sourceTime, error);
        } catch (const std::system_error&) {
            // Left for the installer to report: it finds no companion to install.
        }
    }
}

// Copies what to lacks of from, down to kMaxSeedDepth levels; entries counts what was
// looked at. root is the System folder itself, which is skipped where it lies inside
// from (an install to ~/.local puts the data in ~/.local/share/kalidrome, the per-user
// System folder in ~/.local/share/kalidrome/System).
void Seed(const fs::path& from, const fs::path& to, const fs::path& root, int depth, int& entries) {
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (++entries > kMaxSeedEntries) return;
        std::error_code same;
        if (fs::equivalent(it->path(), root, same)) continue;
        const fs::path target = to / it->path().filename();
        const fs::file_status status = it->symlink_status(ec);
        if (ec) return;
        if (fs::is_regular_file(status)) {
            std::error_code ignored;
            if (!fs::exists(fs::symlink_status(target, ignored)))
                fs::copy_file(it->path(), target, fs::copy_options::skip_existing, ignored);
        } else if (fs::is_directory(status) && depth < kMaxSeedDepth) {
            std::error_code made;
            fs::create_directory(target, made);
            if (fs::is_directory(fs::symlink_status(target, made))) Seed(it->path(), target, root, depth + 1, entries);
        }
    }
}

}  // namespace

std::string PerUserSystemFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') return WithSlash(data) + "kalidrome/System/";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return WithSlash(home) + ".local/share/kalidrome/System/";
    return {};
}

SystemFolderChoice ChooseSystemFolder(const std::string& executableFolder) {
    const std::string exeFolder = WithoutSlash(executableFolder.empty() ? std::string(".") : executableFolder);
    const std::string beside = WithSlash(exeFolder) + "System/";
    const std::string besideFolder = WithoutSlash(beside);
    const std::string installed = WithSlash(exeFolder) + kInstalledDataFromBin;
    const bool haveInstalled = IsFolder(installed);
    const std::string programs = WithSlash(exeFolder) + kInstalledProgramsFromBin;

    if (IsFolder(besideFolder)) {
        if (Writable(besideFolder)) return {beside, {}, false, {}};
        // A read-only portable copy (a CD, a shared folder): its files start the user's.
        return haveInstalled ? PerUser(beside, installed, programs) : PerUser(beside, besideFolder);
    }
    if (haveInstalled) return PerUser(beside, installed, programs);
    if (Writable(exeFolder)) return {beside, {}, false, {}};
    return PerUser(beside, {});
}

bool PrepareSystemFolder(const SystemFolderChoice& choice) {
    const std::string folder = WithoutSlash(choice.path);
    std::error_code ec;
    if (choice.perUser) fs::create_directories(folder, ec);
    else MakeFolder(folder);
    if (!IsFolder(folder)) return false;
    if (!choice.seedFrom.empty() && IsFolder(choice.seedFrom)) {
        int entries = 0;
        Seed(choice.seedFrom, folder, folder, 0, entries);
    }
    if (!choice.programsFrom.empty() && IsFolder(choice.programsFrom)) UpdatePrograms(choice.programsFrom, folder);
    return true;
}

}  // namespace kalidrome::platform
