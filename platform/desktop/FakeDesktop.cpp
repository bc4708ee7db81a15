#include "FakeDesktop.h"

#include "Image.h"

namespace kalidrome::platform {

namespace {
struct FakeStaged final : StagedWallpaper {
    std::int32_t width = 0;
};
}  // namespace

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
    if (const auto* staged = dynamic_cast<const FakeStaged*>(pixels.staged)) call.stagedWidth = staged->width;
    m_calls.push_back(call);
}

std::unique_ptr<StagedWallpaper> FakeDesktop::stageWallpaper(Placement, const WallpaperPixels& pixels) {
    const Staging staging = m_staging;
    if (staging == Staging::Fails) throw DesktopError("fake desktop: cannot stage");
    if (staging == Staging::None || !pixels.picture) return nullptr;
    auto staged = std::make_unique<FakeStaged>();
    staged->width = pixels.picture->width();
    return staged;
}

}  // namespace kalidrome::platform
