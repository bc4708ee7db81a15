#pragma once

#include "Desktop.h"
#include "Image.h"
#include "Registry.h"
#include "Settings.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace kalidrome::render {

inline constexpr const char* kPictureMissing = "The picture is missing.";
inline constexpr const char* kPictureTooLarge = "The picture is too large.";
inline constexpr const char* kNoSpaceForWallpaper = "There is no space left on the disk.";

// What to tell the user of a wallpaper change that failed: a refusing desktop's own words,
// one of the texts above, or "" for a failure not worth a word (an unreadable picture shows
// nothing).
std::string ReasonToTell(const std::exception& error);

// The options a wallpaper change acts on, as the main window holds them.
struct WallpaperOptions {
    bool GreyScale = false;
    bool UseMask = false;
    bool StretchLarger = true;
    bool StretchSmaller = false;
    settings::ScreenSize Res1 = settings::ResolutionRow(settings::kResDefault);  // "larger than"
    settings::ScreenSize Res2 = settings::ResolutionRow(settings::kResDefault);  // "smaller than"
};

// Records the placement as WallpaperStyle ("2" stretched, "0" centred) under
// "Control Panel\Desktop" (a failed write is dropped: the record is for other programs) and
// hands the bitmap to the desktop. Throws what the desktop throws.
void ApplyDesktopWallpaper(const std::string& bitmapPath, platform::Placement placement,
                           const platform::WallpaperPixels& pixels, platform::Desktop& desktop,
                           platform::Registry& registry);

// What a change needs to know of the desktop, asked on the desktop's own thread before the
// picture is prepared elsewhere.
struct DesktopTraits {
    platform::ScreenExtent screen;      // the primary screen
    bool drawsScreenSizedPixels = true;  // Desktop::drawsScreenSizedPixels
    bool placesFileAsTold = true;        // Desktop::placesFileAsTold: WallPaper.bmp may be fitted
};
DesktopTraits TraitsOf(platform::Desktop& desktop);  // throws DesktopError

// A change done up to the desktop: the picture decoded and converted, its bitmap written,
// its placement chosen.
struct PreparedWallpaper {
    std::string picturePath;
    // What the desktop is given: WallPaper.bmp, or a bitmap picture's own path.
    std::string bitmapPath;
    // A bitmap made ahead of its turn under another name; moved over bitmapPath when the
    // change is applied. Empty when the bitmap was written in place (or not at all).
    std::string stagedPath;
    platform::Placement placement = platform::Placement::Centred;
    Image pixels;  // the bitmap's pixels; empty: the desktop reads bitmapPath (or uses scaled)
    Image scaled;  // the picture at the screen's size, for a stretched one; may be empty
    bool missing = false;  // no picture file there: nothing to apply
    // What the desktop made ready of it ahead of its turn (StageWallpaper); may be null.
    std::unique_ptr<platform::StagedWallpaper> staged;

    // A change with a picture per monitor: the monitors in monitor order (this is the
    // primary's picture) and the other monitors' pictures, in the same order. Empty for a
    // change with one picture for all monitors.
    std::vector<platform::Monitor> monitors;
    std::vector<PreparedWallpaper> others;
};

// The bitmap of monitor index (0 the primary, in monitor order): WallPaper.bmp, then
// WallPaper-2.bmp, WallPaper-3.bmp, ... beside it.
std::string MonitorBitmapName(std::size_t index);

// Everything of a change that does not touch the desktop: decoding, conversion, writing the
// bitmap (to stagedTarget when given, else WallPaper.bmp) and the choice of placement. Runs
// on any thread; touches nothing but the bitmap file. A missing file gives missing = true.
// Throws on a picture that cannot be read or a bitmap that cannot be written.
PreparedWallpaper PrepareWallpaper(const std::string& picturePath, const std::string& systemPath,
                                   const WallpaperOptions& options, const DesktopTraits& desktop,
                                   const std::string& stagedTarget = {});

// PrepareWallpaper for a picture per monitor: picturePaths[i] (repeated when there are fewer
// paths than monitors) for monitors[i], its placement decided against that monitor's size,
// written to MonitorBitmapName(i), and kept as KeepScreenSizedOnly keeps a picture made
// ahead (no more than the monitor shows). A picture missing for a further monitor gives that
// monitor the primary's picture; a missing primary picture gives missing = true.
PreparedWallpaper PrepareMonitorWallpapers(const std::vector<std::string>& picturePaths,
                                           const std::vector<platform::Monitor>& monitors,
                                           const std::string& systemPath, const WallpaperOptions& options,
                                           const DesktopTraits& desktop);

// Keeps at most one screen-sized bitmap of a prepared change (one held ahead of its turn):
// a stretched picture keeps only its copy at the screen's size (scaled now if the
// conversion made none), which then also stands for the picture; a centred picture larger
// than the screen, or any picture for a desktop that is handed a file name, keeps no
// pixels (the desktop reads the bitmap file).
void KeepScreenSizedOnly(PreparedWallpaper& prepared, const DesktopTraits& desktop);

// Lets the desktop make a change held ahead of its turn ready for showing, on the thread that
// made it (Desktop::stageWallpaper): what the desktop holds then stands for the pixels, which
// are let go (should the screen change meanwhile, the change reads its bitmap file). A desktop
// with nothing to do ahead, or one that fails, leaves the change as it was.
void StageWallpaper(PreparedWallpaper& prepared, platform::Desktop& desktop);

// The desktop's part of a change, on the desktop's thread: moves a staged bitmap into place,
// records the placement (see ApplyDesktopWallpaper) and hands the bitmap to the desktop.
// Never throws; returns and reports like SetWallpaperFromFile.
bool ApplyPreparedWallpaper(PreparedWallpaper& prepared, platform::Desktop& desktop, platform::Registry& registry,
                            std::string* failureReason = nullptr);

// The one routine that puts a picture on the desktop (PrepareWallpaper, then
// ApplyPreparedWallpaper, on one thread): converts it (WallPaper.bmp), chooses
// stretched or centred against the primary screen, records the choice as WallpaperStyle
// ("2" or "0") under "Control Panel\Desktop" and hands the decoded bitmap to the desktop.
// A missing file changes nothing. Never throws: any failure leaves the desktop as it was.
// Returns whether the desktop was given the new wallpaper. When failureReason is given, it
// is set to why the desktop refused or could not be reached (DesktopError's message), or
// to one of the fixed texts below (for a language file to translate) when the picture is
// missing, too large to hold, or WallPaper.bmp finds no space on the disk; it is emptied
// otherwise: a change that worked, and a picture that cannot be decoded, which stays silent.
bool SetWallpaperFromFile(const std::string& picturePath, const std::string& systemPath,
                          const WallpaperOptions& options, platform::Desktop& desktop, platform::Registry& registry,
                          std::string* failureReason = nullptr);

}  // namespace kalidrome::render
