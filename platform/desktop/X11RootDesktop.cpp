#include "X11RootDesktop.h"

#include "BmpCodec.h"
#include "Image.h"
#include "Scale.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>
#include <utility>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace kalidrome::platform {

namespace {

// Xlib's default error handler ends the process; ours notes the first error instead. The
// handler is process-wide, so it is installed only while we talk to the server (desktop
// calls come from one thread).
int g_lastError = 0;

extern "C" int NoteError(Display*, XErrorEvent* event) {
    if (g_lastError == 0) g_lastError = event->error_code;
    return 0;
}

class ErrorTrap {
public:
    ErrorTrap() : m_previous(XSetErrorHandler(NoteError)) { g_lastError = 0; }
    ~ErrorTrap() { XSetErrorHandler(m_previous); }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to handle everything sent so far; returns and clears the error.
    int sync(Display* dpy) {
        XSync(dpy, False);
        const int error = g_lastError;
        g_lastError = 0;
        return error;
    }

private:
    XErrorHandler m_previous;
};

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
std::vector<X11Monitor> ReadMonitors(Display* dpy, ErrorTrap& trap) {
    const int screen = DefaultScreen(dpy);
    const std::int32_t sw = DisplayWidth(dpy, screen);
    const std::int32_t sh = DisplayHeight(dpy, screen);
    std::vector<X11Monitor> monitors;
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
            X11Monitor monitor;
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

const X11Monitor& PrimaryOf(const std::vector<X11Monitor>& monitors) {
    const auto marked = std::find_if(monitors.begin(), monitors.end(), [](const X11Monitor& m) { return m.primary; });
    return marked != monitors.end() ? *marked : monitors.front();
}

// A part of a picture and every place on the screen it goes to: two monitors of one size
// showing the same picture share one upload.
struct Tile {
    const render::Image* source = nullptr;
    std::int32_t sx = 0, sy = 0, width = 0, height = 0;
    std::vector<std::pair<std::int32_t, std::int32_t>> targets;
};

// What the screen shows: the picture placed for each monitor. Pictures scaled for a monitor
// are kept in scaled (a deque, so tiles may point into it).
std::vector<Tile> PlanTiles(const render::Image& picture, const render::Image* screenSized, Placement placement,
                            const std::vector<X11Monitor>& monitors, std::deque<render::Image>& scaled) {
    std::vector<Tile> tiles;
    auto add = [&](const render::Image* source, std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                   std::int32_t tx, std::int32_t ty) {
        for (Tile& t : tiles)
            if (t.source == source && t.sx == sx && t.sy == sy && t.width == w && t.height == h) {
                t.targets.emplace_back(tx, ty);
                return;
            }
        tiles.push_back({source, sx, sy, w, h, {{tx, ty}}});
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (const X11Monitor& m : monitors) {
        if (placement == Placement::Stretched) {
            const render::Image* source = nullptr;
            if (screenSized && screenSized->width() == m.width && screenSized->height() == m.height)
                source = screenSized;
            for (const render::Image& s : scaled)
                if (!source && s.width() == m.width && s.height() == m.height) source = &s;
            if (!source) {
                // A monitor no larger than the primary is scaled down from the primary's copy:
                // for a big photo a small part of the work, for a difference hardly seen.
                const bool fromReady = screenSized && m.width <= screenSized->width() && m.height <= screenSized->height();
                scaled.push_back(render::ScaleAreaAverage(fromReady ? *screenSized : picture, m.width, m.height,
                                                          static_cast<int>(std::min(cores, 4u))));
                source = &scaled.back();
            }
            add(source, 0, 0, m.width, m.height, m.x, m.y);
            continue;
        }
        // Centred unscaled; a picture larger than the monitor shows its middle.
        const std::int32_t dx = (m.width - picture.width()) / 2;
        const std::int32_t dy = (m.height - picture.height()) / 2;
        const std::int32_t x0 = std::max(0, dx), x1 = std::min(m.width, dx + picture.width());
        const std::int32_t y0 = std::max(0, dy), y1 = std::min(m.height, dy + picture.height());
        if (x1 > x0 && y1 > y0) add(&picture, x0 - dx, y0 - dy, x1 - x0, y1 - y0, m.x + x0, m.y + y0);
    }
    return tiles;
}

// Whether the tiles leave some of the screen uncovered (to be painted black).
bool LeavesGaps(const std::vector<Tile>& tiles, std::int32_t sw, std::int32_t sh) {
    struct Box {
        std::int64_t x0, y0, x1, y1;
    };
    std::vector<Box> boxes;
    std::int64_t area = 0;
    for (const Tile& t : tiles)
        for (const auto& [x, y] : t.targets) {
            const Box b{x, y, std::int64_t{x} + t.width, std::int64_t{y} + t.height};
            for (const Box& o : boxes)
                if (b.x0 < o.x1 && o.x0 < b.x1 && b.y0 < o.y1 && o.y0 < b.y1) return true;  // overlap: not sure
            boxes.push_back(b);
            area += (b.x1 - b.x0) * (b.y1 - b.y0);
        }
    return area != std::int64_t{sw} * sh;
}

struct ChannelShift {
    int shift = 0;
    int bits = 0;
    explicit ChannelShift(unsigned long mask) {
        if (mask == 0) return;
        while (((mask >> shift) & 1ul) == 0) ++shift;
        while ((mask >> (shift + bits)) & 1ul) ++bits;
    }
    unsigned long place(std::uint8_t value) const {
        if (bits == 0) return 0;
        const unsigned long v = bits >= 8 ? static_cast<unsigned long>(value) << (bits - 8)
                                          : static_cast<unsigned long>(value) >> (8 - bits);
        return v << shift;
    }
};

// Converts the tile's part of its picture into the image (sized as the tile).
void FillXImage(XImage* image, const Tile& tile) {
    const render::Image& source = *tile.source;
    if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xFF0000 &&
        image->green_mask == 0xFF00 && image->blue_mask == 0xFF) {
        for (std::int32_t y = 0; y < tile.height; ++y) {
            const std::uint8_t* s = source.row(tile.sy + y) + 3 * tile.sx;
            auto* d = reinterpret_cast<std::uint8_t*>(image->data + static_cast<std::size_t>(y) * image->bytes_per_line);
            for (std::int32_t x = 0; x < tile.width; ++x, s += 3, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 0;
            }
        }
        return;
    }
    const ChannelShift r(image->red_mask), g(image->green_mask), b(image->blue_mask);
    for (std::int32_t y = 0; y < tile.height; ++y) {
        const std::uint8_t* s = source.row(tile.sy + y) + 3 * tile.sx;
        for (std::int32_t x = 0; x < tile.width; ++x, s += 3)
            XPutPixel(image, x, y, b.place(s[0]) | g.place(s[1]) | r.place(s[2]));
    }
}

// Sends the tile into the pixmap through shared memory. Returns false (with nothing left
// behind) when the server cannot do that, for example over the network.
bool UploadShared(Display* dpy, ErrorTrap& trap, Pixmap pixmap, GC gc, Visual* visual, int depth, const Tile& tile) {
    XShmSegmentInfo info{};
    XImage* image = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &info,
                                    static_cast<unsigned>(tile.width), static_cast<unsigned>(tile.height));
    if (!image) return false;
    const std::size_t size = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(image->height);
    info.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (info.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    info.shmaddr = image->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    info.readOnly = False;
    bool ok = info.shmaddr != reinterpret_cast<char*>(-1);
    if (ok) {
        ok = XShmAttach(dpy, &info) && trap.sync(dpy) == 0;
        // Marked for removal at once: the segment goes away with its last user even if we
        // are killed before cleaning up.
        shmctl(info.shmid, IPC_RMID, nullptr);
        if (ok) {
            FillXImage(image, tile);
            for (const auto& [x, y] : tile.targets)
                XShmPutImage(dpy, pixmap, gc, image, 0, 0, x, y, static_cast<unsigned>(tile.width),
                             static_cast<unsigned>(tile.height), False);
            ok = trap.sync(dpy) == 0;
            XShmDetach(dpy, &info);
            trap.sync(dpy);
        }
        shmdt(info.shmaddr);
    } else {
        shmctl(info.shmid, IPC_RMID, nullptr);
    }
    image->data = nullptr;
    XDestroyImage(image);
    return ok;
}

void UploadPlain(Display* dpy, Pixmap pixmap, GC gc, Visual* visual, int depth, const Tile& tile) {
    XImage* image = XCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(tile.width), static_cast<unsigned>(tile.height), 32, 0);
    if (!image) throw DesktopError("Cannot create an X image");
    image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) *
                                                 static_cast<std::size_t>(image->height)));
    if (!image->data) {
        XDestroyImage(image);
        throw DesktopError("Out of memory for the wallpaper");
    }
    FillXImage(image, tile);
    // Xlib splits a large image into requests the server accepts.
    for (const auto& [x, y] : tile.targets)
        XPutImage(dpy, pixmap, gc, image, 0, 0, x, y, static_cast<unsigned>(tile.width),
                  static_cast<unsigned>(tile.height));
    XDestroyImage(image);  // frees data too
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

std::vector<X11Monitor> X11Monitors(const std::string& displayName) {
    Connection c(displayName);
    ErrorTrap trap;
    return ReadMonitors(c.get(), trap);
}

ScreenExtent X11PrimaryMonitorSize(const std::string& displayName) {
    const std::vector<X11Monitor> monitors = X11Monitors(displayName);
    const X11Monitor& primary = PrimaryOf(monitors);
    return {primary.width, primary.height};
}

X11RootDesktop::X11RootDesktop(std::string displayName) : m_displayName(std::move(displayName)) {}

ScreenExtent X11RootDesktop::primaryScreenSize() { return X11PrimaryMonitorSize(m_displayName); }

void X11RootDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) {
    render::Image loaded;
    const render::Image* picture = pixels.picture;
    if (!picture) {
        loaded = render::LoadBmpFile(bitmapPath);
        picture = &loaded;
    }
    m_usedSharedMemory = false;

    Connection c(m_displayName);
    Display* dpy = c.get();
    ErrorTrap trap;
    const int screen = DefaultScreen(dpy);
    const Window root = RootWindow(dpy, screen);
    const int sw = DisplayWidth(dpy, screen);
    const int sh = DisplayHeight(dpy, screen);
    const int depth = DefaultDepth(dpy, screen);
    Visual* visual = DefaultVisual(dpy, screen);

    // A picture scaled to the primary monitor on the way (beside the decoder) is used as it
    // is on every monitor of that size; other sizes are scaled here.
    std::deque<render::Image> scaled;
    const std::vector<Tile> tiles = PlanTiles(*picture, pixels.screenSized, placement, ReadMonitors(dpy, trap), scaled);

    const Pixmap pixmap = XCreatePixmap(dpy, root, static_cast<unsigned>(sw), static_cast<unsigned>(sh),
                                        static_cast<unsigned>(depth));
    GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
    if (trap.sync(dpy) != 0) throw DesktopError("The X server refused a screen-sized pixmap");
    if (LeavesGaps(tiles, sw, sh)) {
        XSetForeground(dpy, gc, BlackPixel(dpy, screen));
        XFillRectangle(dpy, pixmap, gc, 0, 0, static_cast<unsigned>(sw), static_cast<unsigned>(sh));
    }
    bool shared = XShmQueryExtension(dpy) && !tiles.empty();
    for (const Tile& tile : tiles) {
        if (shared && UploadShared(dpy, trap, pixmap, gc, visual, depth, tile)) continue;
        shared = false;
        UploadPlain(dpy, pixmap, gc, visual, depth, tile);
    }
    m_usedSharedMemory = shared;
    XFreeGC(dpy, gc);
    // Until here a failure leaves the desktop untouched: closing the connection frees the
    // half-made pixmap.
    if (trap.sync(dpy) != 0) throw DesktopError("Cannot draw the wallpaper on the X server");

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
    if (m_afterPublish) m_afterPublish();
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

}  // namespace kalidrome::platform
