#include "Wallpaper.h"

#include "BmpCodec.h"
#include "ImageConversion.h"
#include "Placement.h"

#include <filesystem>
#include <system_error>

namespace kalidrome::render {

bool SetWallpaperFromFile(const std::string& picturePath, const std::string& systemPath,
                          const WallpaperOptions& options, platform::Desktop& desktop, platform::Registry& registry) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(picturePath, ec)) return false;
    try {
        ConvertedPicture converted = ConvertPicture(picturePath, systemPath, options.GreyScale, options.UseMask);
        // A bitmap handed on as it is gets read once, here, for its size and its pixels.
        if (converted.pixels.empty()) converted.pixels = LoadBmpFile(converted.bitmapPath);
        const platform::ScreenExtent screen = desktop.primaryScreenSize();
        const platform::Placement placement =
            ChoosePlacement(converted.pixels.width(), converted.pixels.height(), screen.width, screen.height,
                            options.StretchLarger, options.StretchSmaller, options.Res1, options.Res2);
        // The style is a record for other programs; no desktop here reads it back, so a
        // configuration folder that cannot be written must not keep the wallpaper from
        // changing.
        try {
            registry.writeString(platform::kDesktopKey, platform::kWallpaperStyleValue,
                                 placement == platform::Placement::Stretched ? platform::kWallpaperStyleStretched
                                                                             : platform::kWallpaperStyleCentred);
        } catch (...) {
        }
        desktop.setWallpaper(converted.bitmapPath, placement, &converted.pixels);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kalidrome::render
