#include "Wallpaper.h"

#include "BmpCodec.h"
#include "ImageConversion.h"
#include "PictureError.h"
#include "Placement.h"
#include "Scale.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kalidrome::render {

namespace {

void RecordStyle(platform::Placement placement, platform::Registry& registry) {
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
}

platform::WallpaperPixels PixelsOf(const PreparedWallpaper& prepared) {
    platform::WallpaperPixels pixels;
    if (!prepared.pixels.empty()) pixels.picture = &prepared.pixels;
    if (!prepared.scaled.empty()) {
        pixels.screenSized = &prepared.scaled;
        if (!pixels.picture) pixels.picture = &prepared.scaled;  // kept alone (made ahead)
    }
    pixels.staged = prepared.staged.get();
    return pixels;
}

}  // namespace

void ApplyDesktopWallpaper(const std::string& bitmapPath, platform::Placement placement,
                           const platform::WallpaperPixels& pixels, platform::Desktop& desktop,
                           platform::Registry& registry) {
    RecordStyle(placement, registry);
    desktop.setWallpaper(bitmapPath, placement, pixels);
}

std::string MonitorBitmapName(std::size_t index) {
    if (index == 0) return std::string(settings::kWallpaperFile);
    const std::string_view name = settings::kWallpaperFile;
    const std::size_t dot = name.rfind('.');
    return std::string(name.substr(0, dot)) + "-" + std::to_string(index + 1) + std::string(name.substr(dot));
}

DesktopTraits TraitsOf(platform::Desktop& desktop) {
    return DesktopTraits{desktop.primaryScreenSize(), desktop.drawsScreenSizedPixels(), desktop.placesFileAsTold()};
}

PreparedWallpaper PrepareWallpaper(const std::string& picturePath, const std::string& systemPath,
                                   const WallpaperOptions& options, const DesktopTraits& desktop,
                                   const std::string& stagedTarget) {
    PreparedWallpaper prepared;
    prepared.picturePath = picturePath;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(picturePath, ec)) {
        prepared.missing = true;
        return prepared;
    }
    const platform::ScreenExtent screen = desktop.screen;
    auto placementFor = [&](std::int32_t width, std::int32_t height) {
        return ChoosePlacement(width, height, screen.width, screen.height, options.StretchLarger,
                               options.StretchSmaller, options.Res1, options.Res2);
    };
    // A picture that will be stretched is scaled to the screen beside its decoding, so a
    // desktop that draws it gets it ready.
    // WallPaper.bmp holds no more than the desktop shows of it: a picture to be stretched
    // shrunk to the screen, one centred larger than the screen cut to the middle it shows.
    ConvertedPicture converted = ConvertPicture(
        picturePath, systemPath, options.GreyScale, options.UseMask,
        [&](std::int32_t width, std::int32_t height) {
            return desktop.drawsScreenSizedPixels && placementFor(width, height) == platform::Placement::Stretched
                       ? PixelSize{screen.width, screen.height}
                       : PixelSize{};
        },
        [&](std::int32_t width, std::int32_t height) {
            return desktop.placesFileAsTold ? BitmapExtentFor(width, height, placementFor(width, height),
                                                              PixelSize{screen.width, screen.height})
                                            : BitmapExtent{};
        },
        stagedTarget);
    // A bitmap handed on as it is gets read once, here, for its size and its pixels.
    if (converted.pixels.empty()) converted.pixels = LoadBmpFile(converted.bitmapPath);
    prepared.placement = placementFor(converted.pixels.width(), converted.pixels.height());
    if (!stagedTarget.empty() && converted.bitmapPath == stagedTarget) {
        prepared.stagedPath = stagedTarget;
        prepared.bitmapPath = systemPath + std::string(settings::kWallpaperFile);
    } else {
        prepared.bitmapPath = converted.bitmapPath;
    }
    prepared.pixels = std::move(converted.pixels);
    prepared.scaled = std::move(converted.scaled);
    return prepared;
}

PreparedWallpaper PrepareMonitorWallpapers(const std::vector<std::string>& picturePaths,
                                           const std::vector<platform::Monitor>& monitors,
                                           const std::string& systemPath, const WallpaperOptions& options,
                                           const DesktopTraits& desktop) {
    if (picturePaths.empty() || monitors.empty()) throw std::invalid_argument("no picture or no monitor");
    auto prepareFor = [&](std::size_t i, const std::string& path) {
        DesktopTraits traits = desktop;
        traits.screen = {monitors[i].width, monitors[i].height};
        if (i == 0) return PrepareWallpaper(path, systemPath, options, traits);
        const std::string target = systemPath + MonitorBitmapName(i);
        PreparedWallpaper prepared = PrepareWallpaper(path, systemPath, options, traits, target);
        if (prepared.stagedPath == target) {
            // Written under the monitor's own name: nothing to move into place later.
            prepared.bitmapPath = target;
            prepared.stagedPath.clear();
        }
        return prepared;
    };
    // Each picture keeps no more than its monitor shows while the next one decodes, so that
    // a change holds one decoding at a time however many monitors there are.
    auto keepShown = [&](std::size_t i, PreparedWallpaper& prepared) {
        DesktopTraits traits = desktop;
        traits.screen = {monitors[i].width, monitors[i].height};
        KeepScreenSizedOnly(prepared, traits);
    };
    PreparedWallpaper primary = prepareFor(0, picturePaths.front());
    if (primary.missing) return primary;
    keepShown(0, primary);
    primary.monitors = monitors;
    for (std::size_t i = 1; i < monitors.size(); ++i) {
        PreparedWallpaper other = prepareFor(i, picturePaths[i % picturePaths.size()]);
        if (other.missing) other = prepareFor(i, picturePaths.front());
        keepShown(i, other);
        primary.others.push_back(std::move(other));
    }
    return primary;
}

void KeepScreenSizedOnly(PreparedWallpaper& prepared, const DesktopTraits& desktop) {
    if (!desktop.drawsScreenSizedPixels) {
        // Handed over by its file name: no pixels are needed at all.
        prepared.pixels = Image();
        prepared.scaled = Image();
        return;
    }
    const platform::ScreenExtent screen = desktop.screen;
    if (prepared.placement == platform::Placement::Stretched && screen.width > 0 && screen.height > 0) {
        if (prepared.scaled.empty() && !prepared.pixels.empty())
            prepared.scaled = ScaleAreaAverage(prepared.pixels, screen.width, screen.height);
        prepared.pixels = Image();  // the screen-sized copy stands for it
        return;
    }
    prepared.scaled = Image();
    const std::int64_t area = std::int64_t{prepared.pixels.width()} * prepared.pixels.height();
    if (area > std::int64_t{screen.width} * screen.height) prepared.pixels = Image();
}


void StageWallpaper(PreparedWallpaper& prepared, platform::Desktop& desktop) {
    if (prepared.missing) return;
    try {
        prepared.staged = desktop.stageWallpaper(prepared.placement, PixelsOf(prepared));
    } catch (...) {
        prepared.staged.reset();  // drawn at its turn instead
    }
    if (prepared.staged) {
        prepared.pixels = Image();
        prepared.scaled = Image();
    }
}

bool ApplyPreparedWallpaper(PreparedWallpaper& prepared, platform::Desktop& desktop, platform::Registry& registry,
                            std::string* failureReason) {
    if (failureReason) failureReason->clear();
    if (prepared.missing) {
        // A picture gone since it was listed is told; something else at its path (a folder)
        // is simply not a picture.
        std::error_code ec;
        if (failureReason && !std::filesystem::exists(std::filesystem::symlink_status(prepared.picturePath, ec)))
            *failureReason = kPictureMissing;
        return false;
    }
    try {
        if (!prepared.stagedPath.empty()) {
            std::filesystem::rename(prepared.stagedPath, prepared.bitmapPath);
            prepared.stagedPath.clear();
        }
        if (!prepared.monitors.empty()) {
            std::vector<platform::MonitorWallpaper> wallpapers;
            for (std::size_t i = 0; i < prepared.monitors.size(); ++i) {
                const PreparedWallpaper& p = i == 0 ? prepared : prepared.others.at(i - 1);
                wallpapers.push_back({prepared.monitors[i], p.bitmapPath, p.placement, PixelsOf(p)});
            }
            RecordStyle(prepared.placement, registry);
            desktop.setMonitorWallpapers(wallpapers);
            return true;
        }
        ApplyDesktopWallpaper(prepared.bitmapPath, prepared.placement, PixelsOf(prepared), desktop, registry);
        prepared.staged.reset();  // shown, or given up by the desktop
        return true;
    } catch (const std::exception& error) {
        if (failureReason) *failureReason = ReasonToTell(error);
        return false;
    } catch (...) {
        return false;
    }
}

std::string ReasonToTell(const std::exception& error) {
    if (dynamic_cast<const platform::DesktopError*>(&error)) return error.what();
    if (const auto* picture = dynamic_cast<const PictureError*>(&error)) {
        if (picture->reason() == PictureError::Reason::TooLarge) return kPictureTooLarge;
        if (picture->reason() == PictureError::Reason::NoSpace) return kNoSpaceForWallpaper;
    }
    return {};
}

bool SetWallpaperFromFile(const std::string& picturePath, const std::string& systemPath,
                          const WallpaperOptions& options, platform::Desktop& desktop, platform::Registry& registry,
                          std::string* failureReason) {
    if (failureReason) failureReason->clear();
    try {
        // A missing picture is told by the apply step and asks the desktop nothing.
        PreparedWallpaper prepared = PrepareWallpaper(picturePath, systemPath, options, TraitsOf(desktop));
        return ApplyPreparedWallpaper(prepared, desktop, registry, failureReason);
    } catch (const std::exception& error) {
        if (failureReason) *failureReason = ReasonToTell(error);
        return false;
    } catch (...) {
        return false;
    }
}

}  // namespace kalidrome::render
