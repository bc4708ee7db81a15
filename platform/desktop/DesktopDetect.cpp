#include "DesktopDetect.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace kalidrome::platform {

namespace {

constexpr std::array<std::pair<std::string_view, DesktopKind>, 14> kKindNames{{
    {"none", DesktopKind::None},
    {"x11-root", DesktopKind::X11Root},
    {"gnome", DesktopKind::Gnome},
    {"unity", DesktopKind::Unity},
    {"budgie", DesktopKind::Budgie},
    {"cinnamon", DesktopKind::Cinnamon},
    {"mate", DesktopKind::Mate},
    {"xfce", DesktopKind::Xfce},
    {"plasma", DesktopKind::Plasma},
    {"lxqt", DesktopKind::Lxqt},
    {"lxde", DesktopKind::Lxde},
    {"sway", DesktopKind::Sway},
    {"hyprland", DesktopKind::Hyprland},
    {"wlroots", DesktopKind::Wlroots},
}};

// XDG_CURRENT_DESKTOP entries as the desktops write them, lower-cased.
constexpr std::array<std::pair<std::string_view, DesktopKind>, 14> kSessionNames{{
    {"gnome", DesktopKind::Gnome},
    {"gnome-flashback", DesktopKind::Gnome},
    {"gnome-classic", DesktopKind::Gnome},
    {"unity", DesktopKind::Unity},
    {"budgie", DesktopKind::Budgie},
    {"x-cinnamon", DesktopKind::Cinnamon},
    {"cinnamon", DesktopKind::Cinnamon},
    {"mate", DesktopKind::Mate},
    {"xfce", DesktopKind::Xfce},
    {"kde", DesktopKind::Plasma},
    {"lxqt", DesktopKind::Lxqt},
    {"lxde", DesktopKind::Lxde},
    {"sway", DesktopKind::Sway},
    {"hyprland", DesktopKind::Hyprland},
}};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<DesktopKind> SessionEntryKind(std::string_view entry) {
    const std::string lower = Lower(entry);
    for (const auto& [name, kind] : kSessionNames)
        if (lower == name) return kind;
    return std::nullopt;
}

std::optional<DesktopKind> FromCurrentDesktop(const std::string& value) {
    std::optional<DesktopKind> first;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(':', start);
        if (end == std::string::npos) end = value.size();
        const std::optional<DesktopKind> kind = SessionEntryKind(std::string_view(value).substr(start, end - start));
        // Budgie and Unity sessions list GNOME as well, in either order.
        if (kind == DesktopKind::Budgie || kind == DesktopKind::Unity) return kind;
        if (kind && !first) first = kind;
        start = end + 1;
    }
    return first;
}

}  // namespace

std::string_view DesktopKindName(DesktopKind kind) {
    for (const auto& [name, k] : kKindNames)
        if (k == kind) return name;
    return "none";
}

std::optional<DesktopKind> DesktopKindFromName(std::string_view name) {
    const std::string lower = Lower(name);
    if (lower == "kde") return DesktopKind::Plasma;
    if (lower == "x11") return DesktopKind::X11Root;
    for (const auto& [n, kind] : kKindNames)
        if (lower == n) return kind;
    return std::nullopt;
}

DetectedDesktop DetectDesktop(const EnvironmentLookup& env) {
    auto value = [&](const char* name) -> std::optional<std::string> {
        std::optional<std::string> v = env(name);
        if (v && v->empty()) return std::nullopt;
        return v;
    };
    auto found = [](DesktopKind kind, const char* name, const std::string& v) {
        return DetectedDesktop{kind, std::string(name) + "=" + v};
    };

    if (const auto forced = value("KALIDROME_DESKTOP")) {
        if (const auto kind = DesktopKindFromName(*forced)) return found(*kind, "KALIDROME_DESKTOP", *forced);
        std::string known;
        for (const auto& [name, kind] : kKindNames) known += (known.empty() ? "" : ", ") + std::string(name);
        return {DesktopKind::None, "KALIDROME_DESKTOP=" + *forced + " names no desktop (known: " + known + ")"};
    }
    if (const auto current = value("XDG_CURRENT_DESKTOP"))
        if (const auto kind = FromCurrentDesktop(*current)) return found(*kind, "XDG_CURRENT_DESKTOP", *current);
    if (const auto v = value("KDE_SESSION_VERSION")) return found(DesktopKind::Plasma, "KDE_SESSION_VERSION", *v);
    if (const auto v = value("SWAYSOCK")) return found(DesktopKind::Sway, "SWAYSOCK", *v);
    if (const auto v = value("HYPRLAND_INSTANCE_SIGNATURE"))
        return found(DesktopKind::Hyprland, "HYPRLAND_INSTANCE_SIGNATURE", *v);
    if (const auto v = value("WAYLAND_DISPLAY")) return found(DesktopKind::Wlroots, "WAYLAND_DISPLAY", *v);
    if (const auto v = value("DISPLAY")) return found(DesktopKind::X11Root, "DISPLAY", *v);
    return {DesktopKind::None,
            "No desktop found: neither XDG_CURRENT_DESKTOP nor KALIDROME_DESKTOP names a known desktop, and "
            "no Wayland or X display is set"};
}

DetectedDesktop DetectDesktop() {
    return DetectDesktop([](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        if (!v) return std::nullopt;
        return std::string(v);
    });
}

}  // namespace kalidrome::platform
