#include "SessionMonitors.h"

#include "X11RootDesktop.h"

#include <cstdlib>

namespace kalidrome::platform {

bool IsWaylandSession(const EnvironmentLookup& env) {
    const std::optional<std::string> display = env("WAYLAND_DISPLAY");
    const std::optional<std::string> type = env("XDG_SESSION_TYPE");
    return (display && !display->empty()) || (type && *type == "wayland");
}

MonitorSource SessionMonitors(MonitorSource toolkitMonitors, EnvironmentLookup env) {
    if (toolkitMonitors) return toolkitMonitors;
    if (!env)
        env = [](const char* name) -> std::optional<std::string> {
            const char* v = std::getenv(name);
            return v ? std::optional<std::string>(v) : std::nullopt;
        };
    return [env] {
        if (IsWaylandSession(env))
            throw DesktopError(
                "Cannot learn the monitor sizes of this Wayland session: Kalidrome learns them as a Wayland client, "
                "through Qt's Wayland platform (package qt6-wayland)");
        return X11Monitors();
    };
}

ScreenExtent PrimaryMonitorSize(const MonitorSource& monitors) {
    const std::vector<Monitor> all = monitors();
    if (all.empty()) throw DesktopError("The display server names no monitor");
    const Monitor& primary = PrimaryOf(all);
    return {primary.width, primary.height};
}

std::vector<std::string> MonitorNames(const MonitorSource& monitors) {
    std::vector<std::string> names;
    try {
        for (const Monitor& m : monitors())
            if (!m.name.empty()) names.push_back(m.name);
    } catch (const DesktopError&) {
        // Nothing to measure with: the caller goes by what the desktop itself holds.
    }
    return names;
}

}  // namespace kalidrome::platform
