#pragma once

#include "Desktop.h"

namespace kalidrome::platform {

// The wallpaper as a bare X server shows it, and as window managers without a desktop of
// their own use it: the root window's background pixmap. The pixmap is made on a connection
// of its own whose resources the server keeps after we disconnect (RetainPermanent), it is
// published in _XROOTPMAP_ID and ESETROOT_PMAP_ID for pseudo-transparent programs, and the
// pixmap the previous setter left there in the same way is freed, as hsetroot and feh do.
class X11RootDesktop final : public Desktop {
public:
    // displayName as for XOpenDisplay; empty means $DISPLAY.
    explicit X11RootDesktop(std::string displayName = {});

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override { return "x11-root"; }

    // Whether the last setWallpaper sent the pixels through shared memory (MIT-SHM).
    bool lastUploadUsedSharedMemory() const { return m_usedSharedMemory; }

private:
    std::string m_displayName;
    bool m_usedSharedMemory = false;
};

}  // namespace kalidrome::platform
