#pragma once

#include "Desktop.h"
#include "Registry.h"
#include "Settings.h"

#include <string>

namespace kalidrome::render {

inline constexpr const char* kPictureMissing = "The picture is missing.";
inline constexpr const char* kPictureTooLarge = "The picture is too large.";
inline constexpr const char* kNoSpaceForWallpaper = "There is no space left on the disk.";

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

// The one routine that puts a picture on the desktop: converts it (WallPaper.bmp), chooses
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
