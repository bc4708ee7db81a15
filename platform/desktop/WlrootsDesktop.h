#pragma once

#include "Desktop.h"
#include "RunCommand.h"
#include "WallpaperFileRotation.h"

#include <map>
#include <string>
#include <vector>

namespace kalidrome::platform {

// Wayland compositors built on wlroots, which draw no wallpaper of their own: a background
// client (swaybg, hyprpaper) does.
//  - sway: `swaymsg output * bg PATH stretch|center #000000`; sway starts and replaces its
//    own swaybg.
//  - Hyprland with hyprpaper running: `hyprctl hyprpaper preload / wallpaper / unload`.
//  - any other wlroots compositor, and Hyprland without hyprpaper: a swaybg we start and
//    replace: the new one is started first and the old one ended once the new one has had
//    time to draw, so the screen never shows no wallpaper.
class WlrootsDesktop final : public Desktop {
public:
    enum class Compositor { Sway, Hyprland, Other };

    // environment: extra "NAME=value" entries for every tool run (SWAYSOCK, WAYLAND_DISPLAY,
    // ...), on top of this process's environment.
    // A swaybg this object started keeps running after it is gone: the wallpaper outlives
    // the program.
    WlrootsDesktop(CommandRunner& runner, Compositor compositor, std::vector<std::string> environment = {});

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override;
    // sway: its outputs (`swaymsg -t get_outputs -r`); Hyprland: its monitors (`hyprctl -j
    // monitors`); others: as Desktop.
    std::vector<Monitor> monitors() override;
    // sway: one `output NAME bg PATH MODE #000000` per output, in one message; hyprpaper: one
    // `wallpaper NAME,PATH` per monitor. Others, and outputs without a usable name: the
    // primary's picture everywhere.
    void setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) override;
    // hyprpaper scales every picture to cover or to fit its monitor: it gets the whole one.
    bool placesFileAsTold() override { return route() != Route::Hyprpaper; }

    // Ends the swaybg started last, if any (tests, and a program that clears its wallpaper).
    void endBackground();

    // sway reads the path of `output bg` twice: its command parser (quotes, ";" and ","
    // between commands) and wordexp (variables, globs, quotes). The returned argument is
    // literal through both. Throws DesktopError for a path with '"', '\\' or a control
    // character, which sway's parser cannot carry.
    static std::string QuoteForSway(const std::string& path);

    // The primary output's size from `swaymsg -t get_outputs -r` (the focused output, else
    // the first active one) or `hyprctl -j monitors`; {0, 0} when none is found.
    static ScreenExtent SwayPrimaryOutput(const std::string& json);
    static ScreenExtent HyprlandPrimaryMonitor(const std::string& json);
    // The enabled monitors of `hyprctl -j monitors`, the focused one primary.
    static std::vector<Monitor> HyprlandMonitors(const std::string& json);
    // The active outputs of `swaymsg -t get_outputs -r`: name, place (rect), size (the
    // current mode, turned by the transform), the focused one primary.
    static std::vector<Monitor> SwayOutputs(const std::string& json);
    // The first enabled output's current mode in wlr-randr's text listing.
    static ScreenExtent WlrRandrPrimaryOutput(const std::string& text);

private:
    enum class Route { Undecided, SwayIpc, Hyprpaper, OwnSwaybg };

    Command tool(std::vector<std::string> argv) const;
    Route route();
    void setThroughSway(const std::string& bitmapPath, Placement placement);
    void setThroughHyprpaper(const std::string& bitmapPath, Placement placement);
    void setThroughSwaybg(const std::string& bitmapPath, Placement placement);
    void setMonitorsThroughHyprpaper(const std::vector<MonitorWallpaper>& wallpapers);

    CommandRunner& m_runner;
    Compositor m_compositor;
    std::vector<std::string> m_environment;
    Route m_route = Route::Undecided;
    WallpaperFileRotation m_rotation;
    std::string m_hyprpaperLoaded;  // the path hyprpaper holds from our last change
    std::vector<std::string> m_hyprpaperAlsoLoaded;  // the further monitors' paths of it
    std::map<std::string, WallpaperFileRotation> m_monitorRotations;
    int m_swaybg = -1;              // the swaybg we started last
};

}  // namespace kalidrome::platform
