#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace kalidrome::render {
class Image;
}

namespace kalidrome::platform {

// How the desktop shows a wallpaper bitmap.
enum class Placement {
    Centred,    // unscaled in the middle of the screen, black around it
    Stretched,  // scaled to fill the whole screen
};

struct ScreenExtent {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const ScreenExtent&, const ScreenExtent&) = default;
};

// A desktop refused or could not take a wallpaper.
class DesktopError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The desktop whose wallpaper the program sets. Each kind of desktop (a bare X server's root
// window, GNOME, KDE, XFCE, wlroots compositors) is one implementation; CreateDesktop picks
// one at run time.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Size of the primary screen in pixels. Throws DesktopError.
    virtual ScreenExtent primaryScreenSize() = 0;

    // Shows the bitmap file bitmapPath as the wallpaper, placed as given. pixels, when not
    // null, is that file's picture already decoded: implementations that draw the wallpaper
    // themselves use it instead of reading the file again; those that hand the desktop a
    // file name use the path. Throws DesktopError (or PictureError for an unreadable file).
    virtual void setWallpaper(const std::string& bitmapPath, Placement placement,
                              const render::Image* pixels) = 0;

    // A short name for messages and tests ("x11-root", "fake").
    virtual std::string name() const = 0;
};

// The desktop of this session: the X root window when DISPLAY is set, else one whose every
// call fails with DesktopError.
std::unique_ptr<Desktop> CreateDesktop();

}  // namespace kalidrome::platform
