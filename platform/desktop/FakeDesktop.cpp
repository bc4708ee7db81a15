#include "FakeDesktop.h"

#include "Image.h"

namespace kalidrome::platform {

ScreenExtent FakeDesktop::primaryScreenSize() {
    if (m_failing) throw DesktopError(m_failure);
    return m_screen;
}

void FakeDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) {
    if (m_failing) throw DesktopError(m_failure);
    Call call;
    call.bitmapPath = bitmapPath;
    call.placement = placement;
    call.hadPixels = pixels.picture != nullptr;
    if (pixels.picture) {
        call.width = pixels.picture->width();
        call.height = pixels.picture->height();
    }
    call.hadScreenSized = pixels.screenSized != nullptr;
    m_calls.push_back(call);
}

}  // namespace kalidrome::platform
