#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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

// One monitor's part of the screen, as the display server reports it (on X11, XRandR's
// monitors cut to the screen; on Wayland, the compositor's outputs).
struct Monitor {
    std::string name;  // the monitor's name ("DP-1", or one given with xrandr --setmonitor)
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool primary = false;
    friend bool operator==(const Monitor&, const Monitor&) = default;
};

// Gives the session's monitors; throws DesktopError when they cannot be learnt.
using MonitorSource = std::function<std::vector<Monitor>()>;

// The primary monitor of a list (the one marked, else the first); monitors is not empty.
const Monitor& PrimaryOf(const std::vector<Monitor>& monitors);

// A wallpaper a desktop has made ready for showing ahead of its turn (Desktop::stageWallpaper),
// for example already drawn on the display server; dropping it gives up what it holds.
class StagedWallpaper {
public:
    virtual ~StagedWallpaper() = default;
};

// Pixels that spare a desktop reading (and scaling) the bitmap file again.
struct WallpaperPixels {
    // The bitmap file's picture, decoded.
    const render::Image* picture = nullptr;
    // The same picture already area-averaged to the primary screen's size, for Stretched;
    // may be null.
    const render::Image* screenSized = nullptr;
    // What stageWallpaper of the same desktop made of this wallpaper, or null. A desktop
    // shows it when it still fits the screen; otherwise it draws from the other members
    // (or the file). The change then uses it up.
    StagedWallpaper* staged = nullptr;
};

// One monitor's wallpaper in a change that gives each monitor a picture of its own.
struct MonitorWallpaper {
    Monitor monitor;
    std::string bitmapPath;
    Placement placement = Placement::Centred;  // decided against this monitor's size
    WallpaperPixels pixels;                    // screenSized: at this monitor's size
};

// Monitors in the order their pictures are given out: the primary first, then left to
// right, top to bottom.
std::vector<Monitor> OrderMonitors(std::vector<Monitor> monitors);

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

    // Shows the bitmap file bitmapPath as the wallpaper, placed as given. Implementations
    // that draw the wallpaper themselves use pixels where given instead of reading the file
    // again; those that hand the desktop a file name use the path. Throws DesktopError (or
    // PictureError for an unreadable file).
    virtual void setWallpaper(const std::string& bitmapPath, Placement placement,
                              const WallpaperPixels& pixels) = 0;

    // Makes a wallpaper ready ahead of its turn as far as the desktop can without showing it
    // (setWallpaper is then given the result in WallpaperPixels::staged), or returns null
    // when there is nothing to do ahead. Runs on any thread, beside this desktop's other
    // calls, so it uses no state of the object but what never changes. Throws DesktopError.
    virtual std::unique_ptr<StagedWallpaper> stageWallpaper(Placement, const WallpaperPixels&) { return nullptr; }

    // A short name for messages and tests ("x11-root", "fake").
    virtual std::string name() const = 0;

    // Whether setWallpaper draws from WallpaperPixels::screenSized. Desktops that hand over
    // the file name say no, and the change then spares itself scaling the picture for them.
    virtual bool drawsScreenSizedPixels() const { return true; }

    // Whether the desktop shows the bitmap file as the placement says on the primary screen
    // (stretched to it, or unscaled in its middle), so that a file cut or shrunk to that
    // screen shows the same. One that scales the file its own way says no and is given the
    // whole picture.
    virtual bool placesFileAsTold() { return true; }

    // The session's monitors in OrderMonitors' order: by default those of the monitor source
    // given with setMonitorSource, else one monitor of primaryScreenSize(). Throws
    // DesktopError.
    virtual std::vector<Monitor> monitors();

    // Shows a picture of its own on each monitor (wallpapers in monitor order, the primary
    // first). A desktop that keeps one picture for all monitors shows the primary's on every
    // monitor. Throws like setWallpaper.
    virtual void setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers);

    void setMonitorSource(MonitorSource source) { m_monitorSource = std::move(source); }

protected:
    MonitorSource m_monitorSource;
};

class CommandRunner;
struct DetectedDesktop;

// The desktop of this session, as DetectDesktop finds it (DesktopDetect.h), with its tools
// run by SystemCommandRunner. When no desktop is found, every call of the one returned fails
// with DesktopError saying why.
// toolkitMonitors: the monitors as the program's toolkit knows them (on Wayland, from the
// compositor), for the desktops that are handed a file; see SessionMonitors.
std::unique_ptr<Desktop> CreateDesktop(MonitorSource toolkitMonitors = {});
// The implementation for a detected kind, its tools run by runner (which must outlive it).
std::unique_ptr<Desktop> CreateDesktop(const DetectedDesktop& detected, CommandRunner& runner,
                                       MonitorSource toolkitMonitors = {});

}  // namespace kalidrome::platform
