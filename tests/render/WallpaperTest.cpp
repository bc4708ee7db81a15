#include "BmpCodec.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "PictureFixtures.h"
#include "TempDir.h"
#include "Wallpaper.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::Placement;

class SetWallpaperTest : public ::testing::Test {
protected:
    SetWallpaperTest() : system(dir.path() + "/System/") { fs::create_directories(system); }

    bool Set(const std::string& picture) {
        return render::SetWallpaperFromFile(picture, system, options, desktop, registry);
    }
    std::optional<std::string> Style() const {
        return registry.readString(platform::kDesktopKey, platform::kWallpaperStyleValue);
    }

    TempDir dir;
    std::string system;
    render::WallpaperOptions options;  // defaults: stretch larger on, 1024 x 768 thresholds
    platform::FakeDesktop desktop{{1024, 768}};
    platform::FakeRegistry registry;
};

TEST_F(SetWallpaperTest, MissingFileChangesNothing) {
    EXPECT_FALSE(Set(dir.file("nothing.jpg")));
    EXPECT_TRUE(desktop.calls().empty());
    EXPECT_EQ(registry.writeCount(), 0u);
    EXPECT_FALSE(fs::exists(system + "WallPaper.bmp"));
}

TEST_F(SetWallpaperTest, LargeJpegIsStretchedFromMemoryWithStyle2) {
    WriteColourJpeg(dir.file("big.jpg"), SolidImage(1600, 1200, kRed));
    EXPECT_TRUE(Set(dir.file("big.jpg")));
    ASSERT_EQ(desktop.calls().size(), 1u);
    const auto& call = desktop.calls()[0];
    EXPECT_EQ(call.bitmapPath, system + "WallPaper.bmp");
    EXPECT_EQ(call.placement, Placement::Stretched);
    EXPECT_TRUE(call.hadPixels);
    EXPECT_EQ(call.width, 1600);
    EXPECT_EQ(call.height, 1200);
    EXPECT_TRUE(call.hadScreenSized) << "scaled to the screen beside the decoder";
    EXPECT_EQ(Style(), "2");
}

TEST_F(SetWallpaperTest, SmallBitmapIsCentredByItsOwnPathWithStyle0) {
    render::WriteBmpFile(dir.file("small.bmp"), SolidImage(800, 600, kBlue));
    EXPECT_TRUE(Set(dir.file("small.bmp")));
    ASSERT_EQ(desktop.calls().size(), 1u);
    const auto& call = desktop.calls()[0];
    EXPECT_EQ(call.bitmapPath, dir.file("small.bmp"));
    EXPECT_EQ(call.placement, Placement::Centred);
    EXPECT_EQ(call.width, 800);
    EXPECT_EQ(Style(), "0");
    EXPECT_FALSE(fs::exists(system + "WallPaper.bmp"));
}

TEST_F(SetWallpaperTest, PlacementFollowsTheDesktopsScreenAndTheOptions) {
    render::WriteBmpFile(dir.file("p.bmp"), SolidImage(1100, 900, kBlue));
    desktop.setScreen({1280, 1024});
    options.Res2 = {1280, 1024};
    EXPECT_TRUE(Set(dir.file("p.bmp")));
    EXPECT_EQ(Style(), "0");
    options.StretchSmaller = true;
    EXPECT_TRUE(Set(dir.file("p.bmp")));
    EXPECT_EQ(Style(), "2");
    EXPECT_TRUE(Set(dir.file("p.bmp")));
    EXPECT_EQ(registry.writeCount(), 2u) << "an unchanged style is not written again";
    ASSERT_EQ(desktop.calls().size(), 3u);
    EXPECT_EQ(desktop.calls()[0].placement, Placement::Centred);
    EXPECT_EQ(desktop.calls()[1].placement, Placement::Stretched);
}

TEST_F(SetWallpaperTest, FailuresAreSwallowedAndLeaveTheDesktopAlone) {
    std::vector<std::uint8_t> cut(600, 0xFF);
    WriteBytes(dir.file("cut.jpg"), cut);
    EXPECT_FALSE(Set(dir.file("cut.jpg")));
    WriteBytes(dir.file("junk.bmp"), {'B', 'M'});
    EXPECT_FALSE(Set(dir.file("junk.bmp")));  // handed on, then unreadable when measured
    EXPECT_TRUE(desktop.calls().empty());
    EXPECT_EQ(registry.writeCount(), 0u);

    WriteColourJpeg(dir.file("ok.jpg"), SolidImage(16, 16, kRed));
    desktop.setFailing(true);
    EXPECT_FALSE(Set(dir.file("ok.jpg")));
}

TEST_F(SetWallpaperTest, UnwritableRegistryDoesNotKeepTheWallpaperFromChanging) {
    WriteColourJpeg(dir.file("ok.jpg"), SolidImage(16, 16, kRed));
    registry.setFailing(true);
    EXPECT_TRUE(Set(dir.file("ok.jpg")));
    EXPECT_EQ(desktop.calls().size(), 1u);
}

}  // namespace
}  // namespace kalidrome::test
