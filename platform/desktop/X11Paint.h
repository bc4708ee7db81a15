#pragma once

// Drawing a picture onto an X drawable the way the wallpaper is shown: shared by the bare-X
// wallpaper (the root window's pixmap) and the companion screen saver (its window).

#include "Desktop.h"
#include "Image.h"
#include "X11RootDesktop.h"

#include <vector>

#include <X11/Xlib.h>

namespace kalidrome::platform {

// Xlib's default error handler ends the process; this one notes the first error instead,
// for the thread that holds the trap. The handler is process-wide: it is in place while any
// thread holds a trap, and a trap is held only while we talk to the server.
class X11ErrorTrap {
public:
    X11ErrorTrap();
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to handle everything sent so far; returns and clears the error.
    int sync(Display* dpy);
};

// Where a picture goes: the drawable, its size, and the visual and depth its pixels are in.
struct X11Target {
    Drawable drawable = 0;
    int width = 0;
    int height = 0;
    Visual* visual = nullptr;
    int depth = 0;
};

// Paints picture into the target once per monitor, placed for that monitor's size (stretched
// to it, or unscaled in its middle, a larger picture showing its middle part), black where no
// monitor shows. screenSized, when given, is the picture already scaled to some size, used
// for the monitors of that size. Sends the pixels through shared memory (MIT-SHM) when the
// server takes them that way; returns whether it did. Throws DesktopError.
bool X11PaintPicture(Display* dpy, X11ErrorTrap& trap, const X11Target& target, const render::Image& picture,
                     const render::Image* screenSized, Placement placement, const std::vector<Monitor>& monitors);

// Paints each monitor's own picture into the target, placed for that monitor as
// X11PaintPicture does (pictures without pixels are read from their bitmap file), black
// where no monitor shows. Returns whether shared memory carried the pixels. Throws
// DesktopError (PictureError for an unreadable bitmap file).
bool X11PaintMonitorPictures(Display* dpy, X11ErrorTrap& trap, const X11Target& target,
                             const std::vector<MonitorWallpaper>& wallpapers);

}  // namespace kalidrome::platform
