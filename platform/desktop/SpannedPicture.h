#pragma once

#include "Desktop.h"
#include "Image.h"

#include <vector>

namespace kalidrome::platform {

// One picture of the whole monitor layout, for desktops that keep one wallpaper for all
// monitors and can span it across them: the box around every monitor, each monitor's picture
// placed in its part (stretched to it, or unscaled in its middle, a larger one showing its
// middle), black elsewhere. Pictures without pixels are read from their bitmap file.
// Throws PictureError.
render::Image ComposeSpannedPicture(const std::vector<MonitorWallpaper>& wallpapers);

}  // namespace kalidrome::platform
