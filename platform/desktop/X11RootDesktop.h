#pragma once

#include "Desktop.h"

#include <functional>
#include <string>
#include <vector>

namespace kalidrome::platform {

// The monitors of the display's default screen (displayName as for XOpenDisplay; empty means
// $DISPLAY), in XRandR's order. Without XRandR 1.5, or when it reports no monitor on the
// screen, the whole screen as one primary monitor. Throws DesktopError when the display
// cannot be opened.
std::vector<Monitor> X11Monitors(const std::string& displayName = {});

// The size of the primary monitor (the one XRandR marks primary, else its first), which is
// what the placement rule compares a picture with on any X11 session. Throws DesktopError
// when the display cannot be opened.
ScreenExtent X11PrimaryMonitorSize(const std::string& displayName = {});

// The wallpaper as a bare X server shows it, and as window managers without a desktop of
// their own use it: the root window's background pixmap. The pixmap covers the whole screen
// and holds the picture once per monitor, placed for that monitor's size (black where no
// monitor shows). It is made on a connection of its own whose resources the server keeps
// after we disconnect (RetainPermanent), it is published in _XROOTPMAP_ID and
// ESETROOT_PMAP_ID for pseudo-transparent programs, and the pixmap the previous setter left
// there in the same way is freed, as hsetroot and feh do.
class X11RootDesktop final : public Desktop {
public:
    // displayName as for XOpenDisplay; empty means $DISPLAY.
    explicit X11RootDesktop(std::string displayName = {});

    // The primary monitor's size.
    ScreenExtent primaryScreenSize() override;
    // After publishing, reads _XROOTPMAP_ID back and raises DesktopError when another program
    // put its own pixmap there in the meantime; the desktop is then left as that program set
    // it, and our pixmap is freed.
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    // Draws the picture into a pixmap of a connection of its own, kept open until the change
    // shows it: at its turn only the root window's background is switched. It is shown only
    // while the screen and its monitors stay as they were; otherwise the change draws anew.
    std::unique_ptr<StagedWallpaper> stageWallpaper(Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override { return "x11-root"; }
    // XRandR's monitors of this display.
    std::vector<Monitor> monitors() override;
    // The pixmap holds each monitor's own picture; published and read back as setWallpaper.
    void setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) override;

    // Whether the last setWallpaper sent the pixels through shared memory (MIT-SHM), ahead of
    // time for a staged picture.
    bool lastUploadUsedSharedMemory() const { return m_usedSharedMemory; }

    // For the tests: runs after the new pixmap is published and before it is read back, where
    // another program setting the wallpaper at the same moment would act.
    void setAfterPublishHook(std::function<void()> hook) { m_afterPublish = std::move(hook); }

private:
    std::string m_displayName;
    bool m_usedSharedMemory = false;
    std::function<void()> m_afterPublish;
    const std::vector<MonitorWallpaper>* m_perMonitor = nullptr;  // during setMonitorWallpapers
};

}  // namespace kalidrome::platform
