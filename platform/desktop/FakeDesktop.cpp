#include "FakeDesktop.h"

#include "Image.h"

namespace kalidrome::platform {

ScreenExtent FakeDesktop::primaryScreenSize() {
    if (m_failing) throw DesktopError("fake desktop: failing");
    return m_screen;
}

void FakeDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const render::Image* pixels) {
    if (m_failing) throw DesktopError("fake desktop: failing");
    Call call;
    call.bitmapPath = bitmapPath;
    call.placement = placement;
    call.hadPixels = pixels != nullptr;
    if (pixels) {
        call.width = pixels->width();
        call.height = pixels->height();
    }
    m_calls.push_back(call);
}

}  // namespace kalidrome::platform
