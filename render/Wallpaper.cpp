#include "Wallpaper.h"

#include "BmpCodec.h"
#include "ImageConversion.h"
#include "PictureError.h"
#include "Placement.h"

#include <filesystem>
#include <system_error>

namespace kalidrome::render {

void ApplyDesktopWallpaper(const std::string& bitmapPath, platform::Placement placement,
                           const platform::WallpaperPixels& pixels, platform::Desktop& desktop,
                           platform::Registry& registry) {
    // The style is a record for other programs; no desktop here reads it back, so a
    // configuration folder that cannot be written must not keep the wallpaper from changing.
    // Most changes keep the style, and rewriting the file each time would cost a disk write
    // per cycle for nothing.
    try {
        const std::string_view style = placement == platform::Placement::Stretched
                                           ? platform::kWallpaperStyleStretched
                                           : platform::kWallpaperStyleCentred;
        if (registry.readString(platform::kDesktopKey, platform::kWallpaperStyleValue) != style)
            registry.writeString(platform::kDesktopKey, platform::kWallpaperStyleValue, style);
    } catch (...) {
    }
    desktop.setWallpaper(bitmapPath, placement, pixels);
}

bool SetWallpaperFromFile(const std::string& picturePath, const std::string& systemPath,
                          const WallpaperOptions& options, platform::Desktop& desktop, platform::Registry& registry,
                          std::string* failureReason) {
    if (failureReason) failureReason->clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(picturePath, ec)) {
        if (failureReason && !std::filesystem::exists(std::filesystem::symlink_status(picturePath, ec)))
            *failureReason = kPictureMissing;
        return false;
    }
    try {
        const platform::ScreenExtent screen = desktop.primaryScreenSize();
        auto placementFor = [&](std::int32_t width, std::int32_t height) {
            return ChoosePlacement(width, height, screen.width, screen.height, options.StretchLarger,
                                   options.StretchSmaller, options.Res1, options.Res2);
        };
        // A picture that will be stretched is scaled to the screen beside its decoding, so
        // a desktop that draws it gets it ready.
        const bool scaleForDesktop = desktop.drawsScreenSizedPixels();
        // WallPaper.bmp holds no more than the desktop shows of it: a picture to be stretched
        // shrunk to the screen, one centred larger than the screen cut to the middle it shows.
        const bool fitFile = desktop.placesFileAsTold();
        ConvertedPicture converted = ConvertPicture(
            picturePath, systemPath, options.GreyScale, options.UseMask,
            [&](std::int32_t width, std::int32_t height) {
                return scaleForDesktop && placementFor(width, height) == platform::Placement::Stretched
                           ? PixelSize{screen.width, screen.height}
                           : PixelSize{};
            },
            [&](std::int32_t width, std::int32_t height) {
                return fitFile ? BitmapExtentFor(width, height, placementFor(width, height),
                                                 PixelSize{screen.width, screen.height})
                               : BitmapExtent{};
            });
        // A bitmap handed on as it is gets read once, here, for its size and its pixels.
        if (converted.pixels.empty()) converted.pixels = LoadBmpFile(converted.bitmapPath);
        const platform::Placement placement = placementFor(converted.pixels.width(), converted.pixels.height());
        platform::WallpaperPixels pixels;
        pixels.picture = &converted.pixels;
        if (!converted.scaled.empty()) pixels.screenSized = &converted.scaled;
        ApplyDesktopWallpaper(converted.bitmapPath, placement, pixels, desktop, registry);
        return true;
    } catch (const platform::DesktopError& error) {
        if (failureReason) *failureReason = error.what();
        return false;
    } catch (const PictureError& error) {
        if (failureReason && error.reason() == PictureError::Reason::TooLarge) *failureReason = kPictureTooLarge;
        if (failureReason && error.reason() == PictureError::Reason::NoSpace) *failureReason = kNoSpaceForWallpaper;
        return false;
    } catch (...) {
        return false;
    }
}

}  // namespace kalidrome::render
