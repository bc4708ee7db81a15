#pragma once

#include "Desktop.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace kalidrome::platform {

// In-memory desktop for tests: records every wallpaper it is given.
class FakeDesktop final : public Desktop {
public:
    struct Call {
        std::string bitmapPath;
        Placement placement = Placement::Centred;
        bool hadPixels = false;
        std::int32_t width = 0;  // of the picture handed over, 0 without
        std::int32_t height = 0;
        bool hadScreenSized = false;
        std::int32_t stagedWidth = 0;  // of the picture staged ahead and handed over, 0 without
    };

    // What stageWallpaper does: nothing ahead (the default), stage the picture, or fail.
    enum class Staging { None, Stages, Fails };

    explicit FakeDesktop(ScreenExtent screen = {1024, 768}) : m_screen(screen) {}

    ScreenExtent primaryScreenSize() override;
    void setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) override;
    std::unique_ptr<StagedWallpaper> stageWallpaper(Placement placement, const WallpaperPixels& pixels) override;
    std::string name() const override { return "fake"; }
    // Read on the thread that stages: set it before changes run.
    void setStaging(Staging staging) { m_staging = staging; }

    void setScreen(ScreenExtent screen) { m_screen = screen; }
    bool drawsScreenSizedPixels() const override { return m_drawsScreenSized; }
    void setDrawsScreenSizedPixels(bool draws) { m_drawsScreenSized = draws; }
    // Makes the next calls throw DesktopError, as a desktop that cannot be reached does.
    // reason is the DesktopError's message.
    void setFailing(bool failing, std::string reason = "fake desktop: failing") {
        m_failing = failing;
        m_failure = std::move(reason);
    }
    const std::vector<Call>& calls() const { return m_calls; }

private:
    ScreenExtent m_screen;
    bool m_drawsScreenSized = true;
    std::atomic<Staging> m_staging{Staging::None};
    bool m_failing = false;
    std::string m_failure;
    std::vector<Call> m_calls;
};

}  // namespace kalidrome::platform
