#include "ToolkitMonitors.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

#include "X11RootDesktop.h"

namespace kalidrome {

namespace {

std::vector<platform::Monitor> QtScreens() {
    std::vector<platform::Monitor> monitors;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->geometry();
        const qreal scale = screen->devicePixelRatio();
        auto pixels = [scale](int logical) { return static_cast<std::int32_t>(std::lround(logical * scale)); };
        monitors.push_back({screen->name().toStdString(), pixels(area.x()), pixels(area.y()), pixels(area.width()),
                            pixels(area.height()), screen == primary});
    }
    if (monitors.empty()) throw platform::DesktopError("The compositor names no output");
    return monitors;
}

}  // namespace

platform::MonitorSource ToolkitMonitors() {
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) return QtScreens;
    // The program is an X client already: XRandR on its own display costs no Xwayland start.
    if (platform == QLatin1String("xcb")) return [] { return platform::X11Monitors(); };
    return {};
}

}  // namespace kalidrome
