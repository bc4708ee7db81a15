#include "SpannedPicture.h"

#include "BmpCodec.h"
#include "Scale.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kalidrome::platform {

render::Image ComposeSpannedPicture(const std::vector<MonitorWallpaper>& wallpapers) {
    if (wallpapers.empty()) return {};
    std::int64_t x0 = std::numeric_limits<std::int32_t>::max(), y0 = x0, x1 = std::numeric_limits<std::int32_t>::min(),
                 y1 = x1;
    for (const MonitorWallpaper& w : wallpapers) {
        x0 = std::min<std::int64_t>(x0, w.monitor.x);
        y0 = std::min<std::int64_t>(y0, w.monitor.y);
        x1 = std::max<std::int64_t>(x1, std::int64_t{w.monitor.x} + w.monitor.width);
        y1 = std::max<std::int64_t>(y1, std::int64_t{w.monitor.y} + w.monitor.height);
    }
    render::CheckPictureSize(x1 - x0, y1 - y0);
    render::Image out(static_cast<std::int32_t>(x1 - x0), static_cast<std::int32_t>(y1 - y0));
    for (std::int32_t y = 0; y < out.height(); ++y) std::memset(out.row(y), 0, 3 * static_cast<std::size_t>(out.width()));

    for (const MonitorWallpaper& w : wallpapers) {
        const Monitor& m = w.monitor;
        if (m.width <= 0 || m.height <= 0) continue;
        render::Image loaded;
        const render::Image* picture = w.pixels.picture;
        if (!picture) {
            loaded = render::LoadBmpFile(w.bitmapPath);
            picture = &loaded;
        }
        render::Image scaled;
        const render::Image* source = picture;
        std::int32_t dx = (m.width - picture->width()) / 2, dy = (m.height - picture->height()) / 2;
        if (w.placement == Placement::Stretched) {
            if (w.pixels.screenSized && w.pixels.screenSized->width() == m.width &&
                w.pixels.screenSized->height() == m.height) {
                source = w.pixels.screenSized;
            } else {
                scaled = render::ScaleAreaAverage(*picture, m.width, m.height);
                source = &scaled;
            }
            dx = dy = 0;
        }
        // The part of the source that falls on the monitor.
        const std::int32_t cx0 = std::max(0, dx), cx1 = std::min(m.width, dx + source->width());
        const std::int32_t cy0 = std::max(0, dy), cy1 = std::min(m.height, dy + source->height());
        if (cx1 <= cx0 || cy1 <= cy0) continue;
        const std::int64_t ox = m.x - x0, oy = m.y - y0;
        for (std::int32_t y = cy0; y < cy1; ++y)
            std::memcpy(out.row(static_cast<std::int32_t>(oy + y)) + 3 * (ox + cx0), source->row(y - dy) + 3 * (cx0 - dx),
                        3 * static_cast<std::size_t>(cx1 - cx0));
    }
    return out;
}

}  // namespace kalidrome::platform
