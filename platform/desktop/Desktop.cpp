#include "Desktop.h"

#include "X11RootDesktop.h"

#include <cstdlib>

namespace kalidrome::platform {

namespace {

class UnavailableDesktop final : public Desktop {
public:
    ScreenExtent primaryScreenSize() override { throw DesktopError("No desktop to show a wallpaper on"); }
    void setWallpaper(const std::string&, Placement, const WallpaperPixels&) override {
        throw DesktopError("No desktop to show a wallpaper on");
    }
    std::string name() const override { return "none"; }
};

}  // namespace

// Desktop environments that keep their own wallpaper setting (GNOME, KDE, XFCE, wlroots
// compositors) get their own implementations, tried here before the bare root window.
std::unique_ptr<Desktop> CreateDesktop() {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) return std::make_unique<X11RootDesktop>();
    return std::make_unique<UnavailableDesktop>();
}

}  // namespace kalidrome::platform
