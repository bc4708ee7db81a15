#include "X11Paint.h"

#include "BmpCodec.h"
#include "Scale.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace kalidrome::platform {

namespace {

// Xlib calls the handler on the thread that reads the failing request's reply, which is the
// thread that talks to that connection: each thread keeps its own first error, so that a
// picture made ready on a worker and a change shown from another thread keep theirs apart.
thread_local int t_lastError = 0;
std::mutex g_trapMutex;
int g_traps = 0;
XErrorHandler g_previousHandler = nullptr;

extern "C" int NoteError(Display*, XErrorEvent* event) {
    if (t_lastError == 0) t_lastError = event->error_code;
    return 0;
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
                            const std::vector<Monitor>& monitors, std::deque<render::Image>& scaled) {
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
    for (const Monitor& m : monitors) {
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
                d[3] = 0xFF;  // opaque on a visual with alpha; ignored at depth 24
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
bool UploadShared(Display* dpy, X11ErrorTrap& trap, Drawable pixmap, GC gc, Visual* visual, int depth, const Tile& tile) {
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

void UploadPlain(Display* dpy, Drawable pixmap, GC gc, Visual* visual, int depth, const Tile& tile) {
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

}  // namespace

X11ErrorTrap::X11ErrorTrap() {
    t_lastError = 0;
    const std::lock_guard lock(g_trapMutex);
    if (g_traps++ == 0) g_previousHandler = XSetErrorHandler(NoteError);
}

X11ErrorTrap::~X11ErrorTrap() {
    const std::lock_guard lock(g_trapMutex);
    if (--g_traps == 0) XSetErrorHandler(g_previousHandler);
}

int X11ErrorTrap::sync(Display* dpy) {
    XSync(dpy, False);
    const int error = t_lastError;
    t_lastError = 0;
    return error;
}

namespace {

// Black where no tile goes, then every tile; returns whether shared memory carried them.
bool PaintTiles(Display* dpy, X11ErrorTrap& trap, const X11Target& target, const std::vector<Tile>& tiles) {
    GC gc = XCreateGC(dpy, target.drawable, 0, nullptr);
    if (LeavesGaps(tiles, target.width, target.height)) {
        XSetForeground(dpy, gc, BlackPixel(dpy, DefaultScreen(dpy)));
        XFillRectangle(dpy, target.drawable, gc, 0, 0, static_cast<unsigned>(target.width),
                       static_cast<unsigned>(target.height));
    }
    bool shared = XShmQueryExtension(dpy) && !tiles.empty();
    try {
        for (const Tile& tile : tiles) {
            if (shared && UploadShared(dpy, trap, target.drawable, gc, target.visual, target.depth, tile)) continue;
            shared = false;
            UploadPlain(dpy, target.drawable, gc, target.visual, target.depth, tile);
        }
    } catch (...) {
        XFreeGC(dpy, gc);
        throw;
    }
    XFreeGC(dpy, gc);
    return shared;
}

}  // namespace

bool X11PaintPicture(Display* dpy, X11ErrorTrap& trap, const X11Target& target, const render::Image& picture,
                     const render::Image* screenSized, Placement placement, const std::vector<Monitor>& monitors) {
    // A picture scaled to the primary monitor on the way (beside the decoder) is used as it
    // is on every monitor of that size; other sizes are scaled here.
    std::deque<render::Image> scaled;
    return PaintTiles(dpy, trap, target, PlanTiles(picture, screenSized, placement, monitors, scaled));
}

bool X11PaintMonitorPictures(Display* dpy, X11ErrorTrap& trap, const X11Target& target,
                             const std::vector<MonitorWallpaper>& wallpapers) {
    std::deque<render::Image> loaded;  // pictures given by their file only
    std::deque<render::Image> scaled;
    std::vector<Tile> tiles;
    for (const MonitorWallpaper& w : wallpapers) {
        // A monitor reaching past the drawable (the layout changed since the pictures were
        // chosen) is cut to it.
        Monitor m = w.monitor;
        m.width = std::min(m.width, target.width - m.x);
        m.height = std::min(m.height, target.height - m.y);
        if (m.x < 0 || m.y < 0 || m.width <= 0 || m.height <= 0) continue;
        const render::Image* picture = w.pixels.picture;
        if (!picture) {
            loaded.push_back(render::LoadBmpFile(w.bitmapPath));
            picture = &loaded.back();
        }
        std::vector<Tile> own = PlanTiles(*picture, w.pixels.screenSized, w.placement, {m}, scaled);
        tiles.insert(tiles.end(), own.begin(), own.end());
    }
    return PaintTiles(dpy, trap, target, tiles);
}

}  // namespace kalidrome::platform
