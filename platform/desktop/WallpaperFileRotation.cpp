#include "WallpaperFileRotation.h"

#include "Desktop.h"
#include "Settings.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace kalidrome::platform {

namespace fs = std::filesystem;

namespace {

std::string TurnName(const fs::path& bitmap, int turn) {
    fs::path name = bitmap.parent_path() / bitmap.stem();
    name += turn == 0 ? "-a" : "-b";
    name += bitmap.extension();
    return name.string();
}

}  // namespace

std::string WallpaperFileRotation::next(const std::string& bitmapPath) {
    const fs::path bitmap(bitmapPath);
    std::error_code ec;
    if (m_current.empty()) {
        // First change of this run (or the first after a bitmap handed on by its own name):
        // the desktop may still show one of the two names from before, so take the other.
        // With both there (a run that ended between a change and its clean-up), the older
        // one is the one not shown.
        const std::string a = TurnName(bitmap, 0), b = TurnName(bitmap, 1);
        const bool hasA = fs::exists(a, ec), hasB = fs::exists(b, ec);
        m_turn = 0;
        if (hasA && !hasB) m_turn = 1;
        if (hasA && hasB) {
            std::error_code ea, eb;
            if (fs::last_write_time(a, ea) > fs::last_write_time(b, eb) && !ea && !eb) m_turn = 1;
        }
        const std::string other = TurnName(bitmap, 1 - m_turn);
        if (fs::exists(other, ec)) m_current = other;
    }
    const std::string target = TurnName(bitmap, m_turn);

    fs::remove(target, ec);
    if (link(bitmapPath.c_str(), target.c_str()) != 0) {
        const int linkErrno = errno;
        // File systems without hard links (FAT on a stick, some network shares) get a copy.
        std::error_code copyError;
        fs::copy_file(bitmap, target, fs::copy_options::overwrite_existing, copyError);
        if (copyError)
            throw DesktopError("Cannot make " + target + " from " + bitmapPath + ": " + std::strerror(linkErrno) +
                               " (link), " + copyError.message() + " (copy)");
    }
    if (!m_current.empty() && m_current != target) m_stale = m_current;
    m_current = target;
    m_turn = 1 - m_turn;
    return target;
}

void WallpaperFileRotation::removeStale() {
    if (m_stale.empty() || m_stale == m_current) return;
    std::error_code ec;
    fs::remove(m_stale, ec);
    m_stale.clear();
}

bool IsRewrittenBitmap(const std::string& bitmapPath) {
    // WallPaper.bmp, or a further monitor's WallPaper-<n>.bmp beside it.
    const std::string name = fs::path(bitmapPath).filename().string();
    if (name == settings::kWallpaperFile) return true;
    const std::string_view file = settings::kWallpaperFile;
    const std::size_t dot = file.rfind('.');
    const std::string stem = std::string(file.substr(0, dot)) + "-", ext = std::string(file.substr(dot));
    if (name.size() <= stem.size() + ext.size() || name.compare(0, stem.size(), stem) != 0 ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
        return false;
    const std::string digits = name.substr(stem.size(), name.size() - stem.size() - ext.size());
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

std::string WallpaperFileRotation::handOver(const std::string& bitmapPath) {
    if (IsRewrittenBitmap(bitmapPath)) return next(bitmapPath);
    if (!m_current.empty()) m_stale = m_current;
    m_current.clear();
    return bitmapPath;
}

}  // namespace kalidrome::platform
