#include "X11RootDesktop.h"

#include "BmpCodec.h"
#include "Image.h"
#include "X11Paint.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace kalidrome::platform {

namespace {

class Connection {
public:
    explicit Connection(const std::string& name) {
        m_dpy = XOpenDisplay(name.empty() ? nullptr : name.c_str());
        if (!m_dpy) {
            const char* env = std::getenv("DISPLAY");
            throw DesktopError("Cannot open the X display " + (name.empty() ? std::string(env ? env : "(DISPLAY not set)") : name));
        }
    }
    ~Connection() { XCloseDisplay(m_dpy); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Display* get() const { return m_dpy; }

private:
    Display* m_dpy;
};

// The monitors of the default screen, cut to the screen; monitors wholly outside it are left
// out. The whole screen as one primary monitor when XRandR has nothing to say.
std::vector<Monitor> ReadMonitors(Display* dpy, X11ErrorTrap& trap) {
    const int screen = DefaultScreen(dpy);
    const std::int32_t sw = DisplayWidth(dpy, screen);
    const std::int32_t sh = DisplayHeight(dpy, screen);
    std::vector<Monitor> monitors;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    // Monitors came with RandR 1.5; older servers only know outputs and CRTCs.
    if (XRRQueryExtension(dpy, &eventBase, &errorBase) && XRRQueryVersion(dpy, &major, &minor) &&
        (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        XRRMonitorInfo* info = XRRGetMonitors(dpy, RootWindow(dpy, screen), True, &count);
        for (int i = 0; info && i < count; ++i) {
            const XRRMonitorInfo& m = info[i];
            const std::int64_t x0 = std::max<std::int64_t>(0, m.x);
            const std::int64_t y0 = std::max<std::int64_t>(0, m.y);
            const std::int64_t x1 = std::min<std::int64_t>(sw, std::int64_t{m.x} + m.width);
            const std::int64_t y1 = std::min<std::int64_t>(sh, std::int64_t{m.y} + m.height);
            if (x1 <= x0 || y1 <= y0) continue;
            Monitor monitor;
            if (m.name != None) {
                if (char* name = XGetAtomName(dpy, m.name)) {
                    monitor.name = name;
                    XFree(name);
                }
            }
            monitor.x = static_cast<std::int32_t>(x0);
            monitor.y = static_cast<std::int32_t>(y0);
            monitor.width = static_cast<std::int32_t>(x1 - x0);
            monitor.height = static_cast<std::int32_t>(y1 - y0);
            monitor.primary = m.primary != 0;
            monitors.push_back(std::move(monitor));
        }
        if (info) XRRFreeMonitors(info);
        if (trap.sync(dpy) != 0) monitors.clear();
    }
    if (monitors.empty()) monitors.push_back({"", 0, 0, sw, sh, true});
    return monitors;
}

Pixmap ReadPixmapProperty(Display* dpy, Window root, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Pixmap result = None;
    if (XGetWindowProperty(dpy, root, property, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success &&
        type == XA_PIXMAP && format == 32 && count == 1 && data)
        result = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return result;
}

}  // namespace

std::vector<Monitor> X11Monitors(const std::string& displayName) {
    Connection c(displayName);
    X11ErrorTrap trap;
    return ReadMonitors(c.get(), trap);
}

ScreenExtent X11PrimaryMonitorSize(const std::string& displayName) {
    const std::vector<Monitor> monitors = X11Monitors(displayName);
    const Monitor& primary = PrimaryOf(monitors);
    return {primary.width, primary.height};
}

X11RootDesktop::X11RootDesktop(std::string displayName) : m_displayName(std::move(displayName)) {}

ScreenExtent X11RootDesktop::primaryScreenSize() { return X11PrimaryMonitorSize(m_displayName); }

namespace {

// A wallpaper drawn ahead into a pixmap of a connection of its own, which holds it until the
// change shows it (or it is dropped, when closing the connection frees the pixmap).
class X11StagedWallpaper final : public StagedWallpaper {
public:
    explicit X11StagedWallpaper(const std::string& displayName) { connection.emplace(displayName); }
    std::optional<Connection> connection;  // closed once shown or given up
    Pixmap pixmap = None;
    unsigned width = 0, height = 0;  // the screen's, as the pixmap was made for it
    std::vector<Monitor> monitors;   // as drawn for
    bool usedSharedMemory = false;
};

// The root window's size now (DisplayWidth keeps the size at connection time).
bool RootSize(Display* dpy, unsigned& width, unsigned& height) {
    Window root = None;
    int x = 0, y = 0;
    unsigned border = 0, depth = 0;
    return XGetGeometry(dpy, DefaultRootWindow(dpy), &root, &x, &y, &width, &height, &border, &depth) != 0;
}

// Draws the wallpaper into a new screen-sized pixmap of the connection, for the monitors it
// notes; usedSharedMemory says whether the pixels went through shared memory. With
// perMonitor, each monitor gets its own picture from there instead.
Pixmap PaintPixmap(Display* dpy, X11ErrorTrap& trap, const std::string& bitmapPath, Placement placement,
                   const WallpaperPixels& pixels, std::vector<Monitor>& monitors, bool& usedSharedMemory,
                   const std::vector<MonitorWallpaper>* perMonitor = nullptr) {
    render::Image loaded;
    const render::Image* picture = pixels.picture;
    if (!picture) {
        loaded = render::LoadBmpFile(bitmapPath);
        picture = &loaded;
    }
    const int screen = DefaultScreen(dpy);
    const Window root = RootWindow(dpy, screen);
    const int sw = DisplayWidth(dpy, screen);
    const int sh = DisplayHeight(dpy, screen);
    const int depth = DefaultDepth(dpy, screen);
    Visual* visual = DefaultVisual(dpy, screen);

    const Pixmap pixmap = XCreatePixmap(dpy, root, static_cast<unsigned>(sw), static_cast<unsigned>(sh),
                                        static_cast<unsigned>(depth));
    if (trap.sync(dpy) != 0) throw DesktopError("The X server refused a screen-sized pixmap");
    const X11Target target{pixmap, sw, sh, visual, depth};
    monitors = ReadMonitors(dpy, trap);
    usedSharedMemory = perMonitor ? X11PaintMonitorPictures(dpy, trap, target, *perMonitor)
                                  : X11PaintPicture(dpy, trap, target, *picture, pixels.screenSized, placement, monitors);
    // Until here a failure leaves the desktop untouched: closing the connection frees the
    // half-made pixmap.
    if (trap.sync(dpy) != 0) throw DesktopError("Cannot draw the wallpaper on the X server");
    return pixmap;
}

// Makes the pixmap the root window's background and publishes it (see X11RootDesktop), and
// keeps it after the connection closes. afterPublish, when set, runs between the two.
void Publish(Display* dpy, X11ErrorTrap& trap, Pixmap pixmap, const std::function<void()>& afterPublish) {
    const Window root = DefaultRootWindow(dpy);
    const Atom rootAtom = XInternAtom(dpy, "_XROOTPMAP_ID", False);
    const Atom esetAtom = XInternAtom(dpy, "ESETROOT_PMAP_ID", False);
    const Pixmap oldRoot = ReadPixmapProperty(dpy, root, rootAtom);
    const Pixmap oldEset = ReadPixmapProperty(dpy, root, esetAtom);
    XGrabServer(dpy);  // other setters see the old or the new pair of properties, never a mix
    const unsigned long id = pixmap;
    XChangeProperty(dpy, root, rootAtom, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
    XChangeProperty(dpy, root, esetAtom, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
    XSetWindowBackgroundPixmap(dpy, root, pixmap);
    XClearWindow(dpy, root);
    XUngrabServer(dpy);
    const int setError = trap.sync(dpy);
    if (setError != 0) throw DesktopError("Cannot set the root window's background");

    // Another wallpaper setter may have run between our ungrab and now. Its wallpaper wins:
    // ours is not kept (it goes with this connection) and the previous one is left alone,
    // since it may be the other setter's.
    if (afterPublish) afterPublish();
    const Pixmap published = ReadPixmapProperty(dpy, root, rootAtom);
    if (published != pixmap)
        throw DesktopError(published == None
                               ? "Another program removed the wallpaper from the root window just after it was set"
                               : "Another program replaced the wallpaper on the root window just after it was set");

    // The previous pixmap was kept alive the same way by whoever set it; both properties
    // naming it is the convention that says its client may be killed to free it. A client
    // that is gone already makes this fail harmlessly.
    if (oldRoot != None && oldRoot == oldEset && oldRoot != pixmap) {
        XKillClient(dpy, oldRoot);
        trap.sync(dpy);
    }
    XSetCloseDownMode(dpy, RetainPermanent);
    trap.sync(dpy);
}

}  // namespace

std::vector<Monitor> X11RootDesktop::monitors() { return OrderMonitors(X11Monitors(m_displayName)); }

void X11RootDesktop::setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) {
    if (wallpapers.empty()) return;
    m_perMonitor = &wallpapers;
    struct Done {
        const std::vector<MonitorWallpaper>*& p;
        ~Done() { p = nullptr; }
    } done{m_perMonitor};
    setWallpaper(wallpapers.front().bitmapPath, wallpapers.front().placement, wallpapers.front().pixels);
}

std::unique_ptr<StagedWallpaper> X11RootDesktop::stageWallpaper(Placement placement, const WallpaperPixels& pixels) {
    // Only pixels in memory are drawn ahead; a change without them reads its file at its turn.
    if (!pixels.picture) return nullptr;
    auto staged = std::make_unique<X11StagedWallpaper>(m_displayName);
    Display* dpy = staged->connection->get();
    X11ErrorTrap trap;
    staged->pixmap = PaintPixmap(dpy, trap, {}, placement, pixels, staged->monitors, staged->usedSharedMemory);
    staged->width = static_cast<unsigned>(DisplayWidth(dpy, DefaultScreen(dpy)));
    staged->height = static_cast<unsigned>(DisplayHeight(dpy, DefaultScreen(dpy)));
    return staged;
}

void X11RootDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) {
    m_usedSharedMemory = false;
    // A picture drawn ahead is shown as it is while the screen and its monitors are still
    // those it was drawn for; otherwise it is given up and the picture drawn now.
    if (auto* staged = dynamic_cast<X11StagedWallpaper*>(pixels.staged); staged && staged->connection) {
        // Closed straight after, as a change drawn now closes its own: the pixmap stays when
        // shown, and goes otherwise.
        const struct Close {
            std::optional<Connection>& connection;
            ~Close() { connection.reset(); }
        } close{staged->connection};
        Display* dpy = staged->connection->get();
        X11ErrorTrap trap;
        unsigned width = 0, height = 0;
        if (RootSize(dpy, width, height) && width == staged->width && height == staged->height &&
            ReadMonitors(dpy, trap) == staged->monitors && trap.sync(dpy) == 0) {
            m_usedSharedMemory = staged->usedSharedMemory;
            Publish(dpy, trap, staged->pixmap, m_afterPublish);
            return;
        }
    }
    Connection c(m_displayName);
    Display* dpy = c.get();
    X11ErrorTrap trap;
    std::vector<Monitor> monitors;
    Publish(dpy, trap,
            PaintPixmap(dpy, trap, bitmapPath, placement, pixels, monitors, m_usedSharedMemory, m_perMonitor),
            m_afterPublish);
}

}  // namespace kalidrome::platform
