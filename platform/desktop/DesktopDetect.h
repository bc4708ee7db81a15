#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kalidrome::platform {

// The kinds of desktop whose wallpaper the program knows how to set.
enum class DesktopKind {
    None,      // nothing found: no wallpaper can be set
    X11Root,   // a bare X server or a window manager without a desktop of its own
    Gnome,     // GNOME Shell, GNOME Flashback
    Unity,
    Budgie,
    Cinnamon,
    Mate,
    Xfce,
    Plasma,    // KDE Plasma 5 and 6
    Lxqt,
    Lxde,
    Sway,
    Hyprland,
    Wlroots,   // another Wayland compositor with the layer-shell protocol (swaybg draws)
};

// What detection found, and from which variable, for messages.
struct DetectedDesktop {
    DesktopKind kind = DesktopKind::None;
    std::string reason;  // "XDG_CURRENT_DESKTOP=ubuntu:GNOME", or why nothing was found
};

// Reads one environment variable; nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The desktop of the session described by env. The first rule that applies decides:
//  1. KALIDROME_DESKTOP names a kind (see DesktopKindFromName); a name that is no kind
//     gives None with a reason, so a typing error is not taken for some other desktop.
//  2. XDG_CURRENT_DESKTOP, split on ':', each entry compared without regard to case:
//     Budgie and Unity win over a GNOME entry beside them (they list GNOME too); otherwise
//     the first known entry (GNOME, GNOME-Flashback, GNOME-Classic, X-Cinnamon, Cinnamon,
//     MATE, XFCE, KDE, LXQt, LXDE, sway, Hyprland) decides.
//  3. KDE_SESSION_VERSION set: Plasma.
//  4. SWAYSOCK set: sway.
//  5. HYPRLAND_INSTANCE_SIGNATURE set: Hyprland.
//  6. WAYLAND_DISPLAY set: another wlroots compositor.
//  7. DISPLAY set: the bare X root window.
//  8. None: "No desktop found".
// Empty values count as not set.
DetectedDesktop DetectDesktop(const EnvironmentLookup& env);
// The same on this process's environment.
DetectedDesktop DetectDesktop();

// The name KALIDROME_DESKTOP takes for each kind ("gnome", "x11-root", ...); also the
// Desktop::name() of the implementation that serves it.
std::string_view DesktopKindName(DesktopKind kind);
// The kind for a name, compared without regard to case; "kde" is also Plasma, "x11" the
// root window. nullopt for a name that is no kind.
std::optional<DesktopKind> DesktopKindFromName(std::string_view name);

}  // namespace kalidrome::platform
