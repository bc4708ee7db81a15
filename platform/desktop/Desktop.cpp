#include "Desktop.h"

#include <algorithm>

#include "DesktopDetect.h"
#include "GSettingsDesktop.h"
#include "PcmanfmDesktop.h"
#include "PlasmaDesktop.h"
#include "RunCommand.h"
#include "SessionMonitors.h"
#include "WlrootsDesktop.h"
#include "X11RootDesktop.h"
#include "XfceDesktop.h"

namespace kalidrome::platform {

namespace {

class UnavailableDesktop final : public Desktop {
public:
    explicit UnavailableDesktop(std::string reason) : m_reason(std::move(reason)) {}
    ScreenExtent primaryScreenSize() override { throw DesktopError(m_reason); }
    void setWallpaper(const std::string&, Placement, const WallpaperPixels&) override { throw DesktopError(m_reason); }
    std::string name() const override { return "none"; }

private:
    std::string m_reason;
};

std::unique_ptr<Desktop> CreateDesktopOfKind(const DetectedDesktop& detected, CommandRunner& runner,
                                             MonitorSource toolkitMonitors);

}  // namespace

const Monitor& PrimaryOf(const std::vector<Monitor>& monitors) {
    const auto marked = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
    return marked != monitors.end() ? *marked : monitors.front();
}

std::vector<Monitor> OrderMonitors(std::vector<Monitor> monitors) {
    std::stable_sort(monitors.begin(), monitors.end(), [](const Monitor& a, const Monitor& b) {
        if (a.primary != b.primary) return a.primary;
        if (a.x != b.x) return a.x < b.x;
        return a.y < b.y;
    });
    // Without a marked primary, the first as the display server listed them is the primary.
    return monitors;
}

std::vector<Monitor> Desktop::monitors() {
    if (m_monitorSource) {
        std::vector<Monitor> all = m_monitorSource();
        if (!all.empty()) {
            // The one PrimaryOf takes stays the primary.
            const Monitor primary = PrimaryOf(all);
            for (Monitor& m : all) m.primary = m.name == primary.name && m.x == primary.x && m.y == primary.y;
            return OrderMonitors(std::move(all));
        }
    }
    const ScreenExtent screen = primaryScreenSize();
    return {Monitor{"", 0, 0, screen.width, screen.height, true}};
}

void Desktop::setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) {
    if (wallpapers.empty()) return;
    setWallpaper(wallpapers.front().bitmapPath, wallpapers.front().placement, wallpapers.front().pixels);
}

std::unique_ptr<Desktop> CreateDesktop(const DetectedDesktop& detected, CommandRunner& runner,
                                       MonitorSource toolkitMonitors) {
    std::unique_ptr<Desktop> desktop = CreateDesktopOfKind(detected, runner, toolkitMonitors);
    desktop->setMonitorSource(SessionMonitors(std::move(toolkitMonitors)));
    return desktop;
}

namespace {

std::unique_ptr<Desktop> CreateDesktopOfKind(const DetectedDesktop& detected, CommandRunner& runner,
                                             MonitorSource toolkitMonitors) {
    const MonitorSource monitors = SessionMonitors(std::move(toolkitMonitors));
    const auto primarySize = [monitors] { return PrimaryMonitorSize(monitors); };
    const auto monitorNames = [monitors] { return MonitorNames(monitors); };
    switch (detected.kind) {
        case DesktopKind::Gnome:
        case DesktopKind::Unity:
        case DesktopKind::Budgie:
        case DesktopKind::Cinnamon:
        case DesktopKind::Mate: return std::make_unique<GSettingsDesktop>(runner, detected.kind, primarySize);
        case DesktopKind::Xfce: return std::make_unique<XfceDesktop>(runner, monitorNames, primarySize);
        case DesktopKind::X11Root: return std::make_unique<X11RootDesktop>();
        case DesktopKind::Plasma: return std::make_unique<PlasmaDesktop>(runner);
        case DesktopKind::Lxqt:
            return std::make_unique<PcmanfmDesktop>(runner, PcmanfmDesktop::Flavour::Lxqt, primarySize);
        case DesktopKind::Lxde:
            return std::make_unique<PcmanfmDesktop>(runner, PcmanfmDesktop::Flavour::Lxde, primarySize);
        case DesktopKind::Sway: return std::make_unique<WlrootsDesktop>(runner, WlrootsDesktop::Compositor::Sway);
        case DesktopKind::Hyprland:
            return std::make_unique<WlrootsDesktop>(runner, WlrootsDesktop::Compositor::Hyprland);
        case DesktopKind::Wlroots: return std::make_unique<WlrootsDesktop>(runner, WlrootsDesktop::Compositor::Other);
        case DesktopKind::None: break;
    }
    return std::make_unique<UnavailableDesktop>(detected.reason);
}

}  // namespace

std::unique_ptr<Desktop> CreateDesktop(MonitorSource toolkitMonitors) {
    return CreateDesktop(DetectDesktop(), SystemCommandRunner(), std::move(toolkitMonitors));
}

}  // namespace kalidrome::platform
