#pragma once

#include "Desktop.h"
#include "RunCommand.h"
#include "WallpaperFileRotation.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kalidrome::platform {

// XFCE's desktop (xfdesktop) keeps one backdrop per monitor and workspace in the xfconf
// channel xfce4-desktop, under /backdrop/screen0/monitor<NAME>/workspace<N>/: last-image
// (the path), image-style (3 stretched, 1 centred) and the border colour (color-style 0 with
// rgba1 black). Each change sets every monitor x workspace there is (those the channel holds,
// the monitors XRandR reports, the workspaces xfwm4 counts), creating what is missing, under
// a new file name (xfdesktop does not reload a path it shows), through xfconf-query; then it
// lists the channel again and throws DesktopError when a backdrop kept something else.
class XfceDesktop final : public Desktop {
public:
    using ScreenSizeSource = std::function<ScreenExtent()>;
    using MonitorNameSource = std::function<std::vector<std::string>()>;

    // monitors gives the monitors' names as xfdesktop uses them ("DP-1"; "screen" on a server
    // without outputs); by default XRandR's monitors on $DISPLAY. screenSize gives the
    // primary monitor's size; by default XRandR's primary monitor.
    explicit XfceDesktop(CommandRunner& runner, MonitorNameSource monitors = {}, ScreenSizeSource screenSize = {});

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override { return "xfce"; }
    bool drawsScreenSizedPixels() const override { return false; }
    // Each backdrop of a monitor named like one of the wallpapers' monitors takes that
    // monitor's picture; the others (xfdesktop may name a monitor otherwise) the primary's.
    void setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) override;

private:
    void setBackdrops(const std::vector<MonitorWallpaper>& wallpapers);
    std::map<std::string, std::string> listChannel();
    void set(const std::string& property, const std::vector<std::string>& typedValues);
    int workspaceCount();

    CommandRunner& m_runner;
    MonitorNameSource m_monitors;
    ScreenSizeSource m_screenSize;
    WallpaperFileRotation m_rotation;
    // The further monitors' bitmaps, each with names of its own.
    std::map<std::string, WallpaperFileRotation> m_monitorRotations;
    // Backdrops whose border colour this run has set already.
    std::set<std::string> m_borderSet;
};

}  // namespace kalidrome::platform
