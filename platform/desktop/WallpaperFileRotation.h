#pragma once

#include <string>

namespace kalidrome::platform {

// Desktops that cache a wallpaper by its file name do not reload a file whose name did not
// change. WallPaper.bmp keeps its one name; such desktops are handed a second name that
// changes at every change: two names in turn beside it ("WallPaper-a.bmp", "WallPaper-b.bmp"),
// each made by hard link (or a copy where a link cannot be made), the stale one removed
// once the desktop has switched. The folder never holds more than the two.
// Whether bitmapPath is one of the program's own bitmaps, rewritten in place at every change:
// WallPaper.bmp, or WallPaper-<n>.bmp of a further monitor.
bool IsRewrittenBitmap(const std::string& bitmapPath);

class WallpaperFileRotation {
public:
    // Names the next file for bitmapPath (a link or copy of it) and returns its path.
    // Throws DesktopError when neither a link nor a copy can be made.
    std::string next(const std::string& bitmapPath);
    // Removes the name handed out before the last next(), once the desktop shows the new one.
    void removeStale();

    // The path to hand a desktop for bitmapPath: next(bitmapPath) for the program's own
    // WallPaper.bmp (or WallPaper-<n>.bmp), which is rewritten in place at every change; any other bitmap (a picture
    // handed on by its own path) keeps its name, since its content does not change under it,
    // and the rotation's last name becomes stale.
    std::string handOver(const std::string& bitmapPath);

private:
    int m_turn = 0;
    std::string m_current;
    std::string m_stale;
};

}  // namespace kalidrome::platform
