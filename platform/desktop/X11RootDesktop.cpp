#include "X11RootDesktop.h"

#include "BmpCodec.h"
#include "Image.h"
#include "Scale.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
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

// The picture as the screen will show it, screen-sized.
render::Image Compose(const render::Image& picture, Placement placement, std::int32_t sw, std::int32_t sh) {
    if (placement == Placement::Stretched) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        return render::ScaleAreaAverage(picture, sw, sh, static_cast<int>(std::min(cores, 4u)));
    }
    render::Image frame(sw, sh);
    frame.fill(0);
    // Centred unscaled; a picture larger than the screen shows its middle.
    const std::int32_t dx = (sw - picture.width()) / 2;
    const std::int32_t dy = (sh - picture.height()) / 2;
    const std::int32_t x0 = std::max(0, dx), x1 = std::min(sw, dx + picture.width());
    const std::int32_t y0 = std::max(0, dy), y1 = std::min(sh, dy + picture.height());
    for (std::int32_t y = y0; y < y1; ++y)
        std::memcpy(frame.row(y) + 3 * x0, picture.row(y - dy) + 3 * (x0 - dx), static_cast<std::size_t>(x1 - x0) * 3);
    return frame;
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

void FillXImage(XImage* image, const render::Image& frame) {
    const std::int32_t w = frame.width();
    if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xFF0000 &&
        image->green_mask == 0xFF00 && image->blue_mask == 0xFF) {
        for (std::int32_t y = 0; y < frame.height(); ++y) {
            const std::uint8_t* s = frame.row(y);
            auto* d = reinterpret_cast<std::uint8_t*>(image->data + static_cast<std::size_t>(y) * image->bytes_per_line);
            for (std::int32_t x = 0; x < w; ++x, s += 3, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 0;
            }
        }
        return;
    }
    const ChannelShift r(image->red_mask), g(image->green_mask), b(image->blue_mask);
    for (std::int32_t y = 0; y < frame.height(); ++y) {
        const std::uint8_t* s = frame.row(y);
        for (std::int32_t x = 0; x < w; ++x, s += 3)
            XPutPixel(image, x, y, b.place(s[0]) | g.place(s[1]) | r.place(s[2]));
    }
}

// Sends the frame into the pixmap through shared memory. Returns false (with nothing left
// behind) when the server cannot do that, for example over the network.
bool UploadShared(Display* dpy, ErrorTrap& trap, Pixmap pixmap, GC gc, Visual* visual, int depth,
                  const render::Image& frame) {
    if (!XShmQueryExtension(dpy)) return false;
    XShmSegmentInfo info{};
    XImage* image = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &info,
                                    static_cast<unsigned>(frame.width()), static_cast<unsigned>(frame.height()));
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
            FillXImage(image, frame);
            XShmPutImage(dpy, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(frame.width()),
                         static_cast<unsigned>(frame.height()), False);
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

void UploadPlain(Display* dpy, Pixmap pixmap, GC gc, Visual* visual, int depth, const render::Image& frame) {
    XImage* image = XCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(frame.width()), static_cast<unsigned>(frame.height()), 32, 0);
    if (!image) throw DesktopError("Cannot create an X image");
    image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) *
                                                 static_cast<std::size_t>(image->height)));
    if (!image->data) {
        XDestroyImage(image);
        throw DesktopError("Out of memory for the wallpaper");
    }
    FillXImage(image, frame);
    // Xlib splits a large image into requests the server accepts.
    XPutImage(dpy, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(frame.width()),
              static_cast<unsigned>(frame.height()));
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

X11RootDesktop::X11RootDesktop(std::string displayName) : m_displayName(std::move(displayName)) {}

ScreenExtent X11RootDesktop::primaryScreenSize() {
    Connection c(m_displayName);
    const int screen = DefaultScreen(c.get());
    return {DisplayWidth(c.get(), screen), DisplayHeight(c.get(), screen)};
}

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

    // A picture scaled to the screen on the way (beside the decoder) is used as it is.
    render::Image composed;
    const render::Image* ready = pixels.screenSized;
    const bool usable = placement == Placement::Stretched && ready && ready->width() == sw && ready->height() == sh;
    if (!usable) composed = Compose(*picture, placement, sw, sh);
    const render::Image& frame = usable ? *ready : composed;

    const Pixmap pixmap = XCreatePixmap(dpy, root, static_cast<unsigned>(sw), static_cast<unsigned>(sh),
                                        static_cast<unsigned>(depth));
    GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
    if (trap.sync(dpy) != 0) throw DesktopError("The X server refused a screen-sized pixmap");
    m_usedSharedMemory = UploadShared(dpy, trap, pixmap, gc, visual, depth, frame);
    if (!m_usedSharedMemory) UploadPlain(dpy, pixmap, gc, visual, depth, frame);
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
