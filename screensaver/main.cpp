// KDScreensaver: the companion screen saver. It shows the pictures of Kalidrome's list with
// Kalidrome's settings, as a display mode of XScreenSaver. It only reads the program's files.

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "HackArguments.h"
#include "Slideshow.h"
#include "X11Paint.h"

namespace {

using namespace kalidrome;
using screensaver::HackArguments;

constexpr const char* kUsage =
    "Usage: KDScreensaver [-root | -window | -window-id ID] [-display NAME]\n"
    "Shows the pictures of the Kalidrome list, each for the screen-saver interval of its\n"
    "preferences. A display mode of XScreenSaver: it draws into the window named by\n"
    "XSCREENSAVER_WINDOW when that is set.\n";

// The window drawn into and what it shows.
class Screen {
public:
    Screen(Display* dpy, platform::X11ErrorTrap& trap, Window window, bool isRoot)
        : m_dpy(dpy), m_trap(trap), m_window(window), m_isRoot(isRoot) {}
    ~Screen() {
        if (m_pixmap != None) XFreePixmap(m_dpy, m_pixmap);
    }

    // The window's size, visual and depth; false when the window is gone.
    bool measure() {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(m_dpy, m_window, &a) || m_trap.sync(m_dpy) != 0) return false;
        m_width = std::max(1, a.width);
        m_height = std::max(1, a.height);
        m_visual = a.visual;
        m_depth = a.depth;
        m_monitors = {{"", 0, 0, m_width, m_height, true}};
        if (m_isRoot) {
            try {
                m_monitors = platform::OrderMonitors(platform::X11Monitors(DisplayString(m_dpy)));
            } catch (const std::exception&) {
                // One screen, then.
            }
        }
        return true;
    }

    // The size the pictures are placed for: the window's, or on the root window the primary
    // monitor's, as for the wallpaper.
    render::PixelSize placementSize() const {
        for (const platform::Monitor& m : m_monitors)
            if (m.primary) return {m.width, m.height};
        return {m_width, m_height};
    }

    // Paints the slide into the window's copy and shows it.
    void show(const screensaver::Slide& slide) {
        preparePixmap();
        const platform::X11Target target{m_pixmap, m_width, m_height, m_visual, m_depth};
        platform::X11PaintPicture(m_dpy, m_trap, target, slide.picture,
                                  slide.windowSized.empty() ? nullptr : &slide.windowSized, slide.placement,
                                  m_monitors);
        if (!slide.message.empty()) drawText(slide.message);
        copy(0, 0, m_width, m_height);
    }

private:
    void preparePixmap() {
        if (m_pixmap == None || m_pixmapWidth != m_width || m_pixmapHeight != m_height) {
            if (m_pixmap != None) XFreePixmap(m_dpy, m_pixmap);
            m_pixmap = XCreatePixmap(m_dpy, m_window, static_cast<unsigned>(m_width), static_cast<unsigned>(m_height),
                                     static_cast<unsigned>(m_depth));
            m_pixmapWidth = m_width;
            m_pixmapHeight = m_height;
        }
    }

public:

    // The root window's monitors in monitor order (the window alone otherwise).
    const std::vector<platform::Monitor>& monitors() const { return m_monitors; }

    // Paints each monitor's slide (slides in monitor order); a slide without a picture leaves
    // its monitor black.
    void showEach(const std::vector<screensaver::Slide>& slides) {
        if (slides.size() != m_monitors.size()) {
            if (!slides.empty()) show(slides.front());
            return;
        }
        preparePixmap();
        std::vector<platform::MonitorWallpaper> wallpapers;
        for (std::size_t i = 0; i < slides.size(); ++i) {
            if (slides[i].picture.empty()) continue;
            platform::WallpaperPixels pixels;
            pixels.picture = &slides[i].picture;
            if (!slides[i].windowSized.empty()) pixels.screenSized = &slides[i].windowSized;
            wallpapers.push_back({m_monitors[i], slides[i].path, slides[i].placement, pixels});
        }
        platform::X11PaintMonitorPictures(m_dpy, m_trap, {m_pixmap, m_width, m_height, m_visual, m_depth}, wallpapers);
        copy(0, 0, m_width, m_height);
    }

    void copy(int x, int y, int width, int height) {
        if (m_pixmap == None) return;
        GC gc = XCreateGC(m_dpy, m_window, 0, nullptr);
        XCopyArea(m_dpy, m_pixmap, m_window, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), x, y);
        XFreeGC(m_dpy, gc);
        XFlush(m_dpy);
    }

private:
    void drawText(const std::string& text) {
        GC gc = XCreateGC(m_dpy, m_pixmap, 0, nullptr);
        XSetForeground(m_dpy, gc, WhitePixel(m_dpy, DefaultScreen(m_dpy)));
        int width = static_cast<int>(text.size()) * 6;
        int ascent = 10;
        if (XFontStruct* font = XQueryFont(m_dpy, XGContextFromGC(gc))) {
            width = XTextWidth(font, text.data(), static_cast<int>(text.size()));
            ascent = font->ascent;
            XFreeFontInfo(nullptr, font, 1);
        }
        XDrawString(m_dpy, m_pixmap, gc, std::max(0, (m_width - width) / 2), std::max(ascent, m_height / 2), text.data(),
                    static_cast<int>(text.size()));
        XFreeGC(m_dpy, gc);
    }

    Display* m_dpy;
    platform::X11ErrorTrap& m_trap;
    Window m_window;
    bool m_isRoot;
    int m_width = 1, m_height = 1;
    Visual* m_visual = nullptr;
    int m_depth = 0;
    Pixmap m_pixmap = None;
    int m_pixmapWidth = 0, m_pixmapHeight = 0;
    // A window is one screen; the root window shows each monitor (XRandR).
    std::vector<platform::Monitor> m_monitors;
};

Window MakeOwnWindow(Display* dpy, Atom deleteWindow) {
    const int screen = DefaultScreen(dpy);
    const Window window = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, 640, 480, 0,
                                              BlackPixel(dpy, screen), BlackPixel(dpy, screen));
    XStoreName(dpy, window, "KDScreensaver");
    XSetWMProtocols(dpy, window, &deleteWindow, 1);
    XMapWindow(dpy, window);
    return window;
}

int Run(const HackArguments& args) {
    Display* dpy = XOpenDisplay(args.display.empty() ? nullptr : args.display.c_str());
    if (!dpy) {
        std::fprintf(stderr, "KDScreensaver: cannot open the X display %s\n",
                     args.display.empty() ? (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(DISPLAY not set)")
                                          : args.display.c_str());
        return 1;
    }
    int status = 0;
    {
        platform::X11ErrorTrap trap;
        const Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
        Window window = RootWindow(dpy, DefaultScreen(dpy));
        if (args.target == HackArguments::Target::Window) window = args.windowId;
        if (args.target == HackArguments::Target::OwnWindow) window = MakeOwnWindow(dpy, deleteWindow);
        XSelectInput(dpy, window, ExposureMask | StructureNotifyMask);
        Screen screen(dpy, trap, window, args.target == HackArguments::Target::Root);
        if (!screen.measure()) {
            std::fprintf(stderr, "KDScreensaver: there is no window 0x%lx\n", window);
            XCloseDisplay(dpy);
            return 1;
        }

        const std::string systemPath = screensaver::FindSystemPath();
        const screensaver::SlideshowOptions options = screensaver::ReadSlideshowOptions(systemPath);
        const std::vector<std::string> paths = screensaver::ReadListPaths(options.listPath);
        const auto now = [] { return std::chrono::steady_clock::now(); };
        screensaver::Slideshow show(paths, options, systemPath, now);
        // A picture per monitor where the root window spans several.
        screensaver::MonitorSlideshow perMonitor(options.perMonitor ? paths : std::vector<std::string>{}, options,
                                                 systemPath, now);
        auto eachMonitor = [&] { return options.perMonitor && screen.monitors().size() > 1; };
        bool running = true;
        bool resized = true;
        while (running) {
            if (resized && !screen.measure()) break;  // the window went away
            resized = false;
            if (eachMonitor() ? perMonitor.update(screen.monitors()) : show.update(screen.placementSize())) {
                if (eachMonitor()) screen.showEach(perMonitor.current());
                else screen.show(show.current());
                if (trap.sync(dpy) != 0) {
                    if (!screen.measure()) break;
                    std::fprintf(stderr, "KDScreensaver: the X server refused the picture\n");
                    status = 1;
                    break;
                }
            }
            if (XPending(dpy) == 0) {
                pollfd fd{ConnectionNumber(dpy), POLLIN, 0};
                const auto wait = std::min<std::chrono::milliseconds::rep>(
                    (eachMonitor() ? perMonitor.untilNext() : show.untilNext()).count(), 60'000);
                ::poll(&fd, 1, static_cast<int>(wait));
            }
            while (running && XPending(dpy) > 0) {
                XEvent event{};
                XNextEvent(dpy, &event);
                switch (event.type) {
                    case Expose:
                        screen.copy(event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height);
                        break;
                    case ConfigureNotify: resized = true; break;
                    case DestroyNotify: running = false; break;
                    case ClientMessage:
                        if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) running = false;
                        break;
                    default: break;
                }
            }
        }
    }
    XCloseDisplay(dpy);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    for (const std::string& a : arguments)
        if (a == "-h" || a == "--help" || a == "-help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    const HackArguments args = screensaver::ParseHackArguments(arguments, std::getenv("XSCREENSAVER_WINDOW"));
    if (!args.error.empty()) {
        std::fprintf(stderr, "KDScreensaver: %s\n%s", args.error.c_str(), kUsage);
        return 2;
    }
    try {
        return Run(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "KDScreensaver: %s\n", e.what());
        return 1;
    }
}
