#pragma once

#include "Desktop.h"
#include "RunCommand.h"
#include "WallpaperFileRotation.h"

#include <functional>
#include <string>
#include <vector>

namespace kalidrome::platform {

// LXQt and LXDE, whose desktop is drawn by the file manager: `pcmanfm-qt` (LXQt) or
// `pcmanfm` (LXDE) `--set-wallpaper=PATH --wallpaper-mode=stretch|center`, handed to the
// running desktop instance. Both ignore a path equal to the one they show, so each change
// hands them a fresh file name.
class PcmanfmDesktop final : public Desktop {
public:
    enum class Flavour { Lxqt, Lxde };

    // screenSize: the primary screen's size (the X root window's XRandR primary monitor by
    // default). environment: extra "NAME=value" entries for the tool, on top of this
    // process's environment; XDG_CONFIG_HOME among them also says where LXQt's settings are
    // read back from.
    PcmanfmDesktop(CommandRunner& runner, Flavour flavour, std::function<ScreenExtent()> screenSize = {},
                   std::vector<std::string> environment = {});

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override { return m_flavour == Flavour::Lxqt ? "lxqt" : "lxde"; }

    // The Wallpaper value of the [Desktop] section of pcmanfm-qt's settings.conf (a QSettings
    // file), read from the file as it is now; empty when there is none.
    static std::string SettingsWallpaper(const std::string& settingsFile);
    // One value as QSettings writes it in an INI file, unquoted and unescaped.
    static std::string UnescapeQtIniValue(const std::string& raw);

private:
    std::string environmentValue(const std::string& name) const;

    CommandRunner& m_runner;
    Flavour m_flavour;
    std::function<ScreenExtent()> m_screenSize;
    std::vector<std::string> m_environment;
    WallpaperFileRotation m_rotation;
};

}  // namespace kalidrome::platform
