#pragma once

#include "Desktop.h"
#include "DesktopDetect.h"
#include "RunCommand.h"
#include "WallpaperFileRotation.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kalidrome::platform {

struct GSettingsSchema;

// The desktops that keep their wallpaper in GSettings, set through the gsettings tool:
//  - GNOME and Budgie: org.gnome.desktop.background picture-uri and picture-uri-dark (a file
//    URI; GNOME shows the -dark one in its dark style), Unity the same without -dark;
//  - Cinnamon: org.cinnamon.desktop.background picture-uri;
//  - MATE: org.mate.background picture-filename (a plain path).
// Stretched is picture-options 'stretched', centred 'centered' with primary-color black (the
// colour shading is the user's). The keys of one change are written in one dconf change
// (dconf load), so that the desktop never draws a mix of the old and the new. Each change
// hands over a new file name (GNOME reloads a file it watches, the others may not), then
// reads the schema back through gsettings and throws DesktopError with the reason when the
// desktop kept something else.
class GSettingsDesktop final : public Desktop {
public:
    using ScreenSizeSource = std::function<ScreenExtent()>;

    // kind: Gnome, Unity, Budgie, Cinnamon or Mate. screenSize gives the primary monitor's
    // size; by default XRandR's primary monitor on $DISPLAY.
    GSettingsDesktop(CommandRunner& runner, DesktopKind kind, ScreenSizeSource screenSize = {});

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override;
    bool drawsScreenSizedPixels() const override { return false; }
    // One picture of the monitors' layout (ComposeSpannedPicture), written as
    // WallPaper-spanned.bmp beside the primary's bitmap and handed over spanned
    // (picture-options 'spanned').
    void setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) override;

    // Whether this kind's schema is installed (gsettings knows it).
    bool schemaInstalled();

private:
    void write(const std::vector<std::pair<std::string, std::string>>& values);
    std::map<std::string, std::string> readBack();
    // Hands over the file at handed with picture-options options (and black around a
    // centred one), then reads it back.
    void hand(const std::string& handed, const std::string& options, bool border);

    CommandRunner& m_runner;
    DesktopKind m_kind;
    const GSettingsSchema& m_schema;
    ScreenSizeSource m_screenSize;
    WallpaperFileRotation m_rotation;
    WallpaperFileRotation m_spannedRotation;
};

// A file URI for an absolute path, every byte outside the unreserved set and "/" escaped.
std::string FileUri(const std::string& absolutePath);
// A string in GVariant's text form, as gsettings set takes it: 'it\'s'.
std::string GVariantString(const std::string& text);
// The string a gsettings value line holds ('...' or "..." with escapes), or the text as it
// is when it is not a quoted string.
std::string ParseGVariantString(const std::string& text);

}  // namespace kalidrome::platform
