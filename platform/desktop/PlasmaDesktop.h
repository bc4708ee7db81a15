#pragma once

#include "Desktop.h"
#include "RunCommand.h"
#include "WallpaperFileRotation.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kalidrome::platform {

// KDE Plasma 5 and 6: the shell's scripting interface over D-Bus (org.kde.plasmashell
// /PlasmaShell org.kde.PlasmaShell.evaluateScript), called through dbus-send. Every desktop
// (one per screen and activity) gets the image wallpaper plugin with the picture and its
// fill mode; a script then reads back what each desktop holds. Plasma does not reload a
// picture whose URL did not change, so each change hands it a fresh file name.
class PlasmaDesktop final : public Desktop {
public:
    // environment: extra "NAME=value" entries for dbus-send (DBUS_SESSION_BUS_ADDRESS in
    // tests), on top of this process's environment.
    explicit PlasmaDesktop(CommandRunner& runner, std::vector<std::string> environment = {});

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override { return "plasma"; }
    // Each screen's desktops (every activity) take that screen's picture: Plasma's screen 0
    // is the primary monitor, its other screens are matched to the others in monitor order
    // (left to right, top to bottom); a desktop on no screen takes the primary's.
    void setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) override;

    // Plasma's image wallpaper FillMode values (Qt's Image.fillMode).
    static constexpr int kFillStretch = 0;  // Image.Stretch
    static constexpr int kFillPad = 6;      // Image.Pad: unscaled, centred, background colour around

    // A file:// URL for an absolute path, every byte but unreserved characters and "/"
    // percent-encoded: it can stand in a script or a URL list without quoting trouble.
    static std::string FileUrl(const std::string& absolutePath);
    // A JavaScript string literal holding text, every character outside [A-Za-z0-9 /:._%-]
    // written as an escape, so that nothing in text can end the literal.
    static std::string JsString(const std::string& text);
    // The scripts sent to the shell.
    static std::string SetScript(const std::string& fileUrl, Placement placement);
    static std::string ReadBackScript();
    // The same with a picture per screen: pictures in monitor order as {file URL, placement};
    // the read-back prints, per desktop, also the fill mode and URL it should hold.
    static std::string SetScreensScript(const std::vector<std::pair<std::string, Placement>>& pictures);
    static std::string ReadBackScreensScript(const std::vector<std::pair<std::string, Placement>>& pictures);
    static std::string ScreenScript();
    // The text a script printed, from dbus-send --print-reply's output.
    static std::string ReplyText(const std::string& dbusSendOutput);

private:
    // Runs script in the shell and returns what it printed; failure starts the message of the
    // DesktopError thrown when the shell cannot be reached or refuses.
    std::string evaluate(const std::string& script, const std::string& failure);

    CommandRunner& m_runner;
    std::vector<std::string> m_environment;
    WallpaperFileRotation m_rotation;
    std::map<std::string, WallpaperFileRotation> m_monitorRotations;
};

}  // namespace kalidrome::platform
