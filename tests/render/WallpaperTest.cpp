#include "BmpCodec.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "ImageConversion.h"
#include "JpegCodec.h"
#include "PictureLoader.h"
#include "Scale.h"
#include "PictureFixtures.h"
#include "TempDir.h"
#include "Wallpaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

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

// A picture made ready ahead leaves the shown WallPaper.bmp alone until it is applied,
// and keeps one screen-sized bitmap, for every kind of picture and placement.
TEST_F(SetWallpaperTest, APictureMadeAheadIsMovedIntoPlaceWhenApplied) {
    WriteColourJpeg(dir.file("shown.jpg"), SolidImage(1600, 1200, kRed));
    ASSERT_TRUE(Set(dir.file("shown.jpg")));
    auto shownBytes = fs::file_size(system + "WallPaper.bmp");
    WriteColourJpeg(dir.file("big.jpg"), SolidImage(2000, 1500, kRed));
    WritePng(dir.file("big.png"), 2000, 1500, PngSpec{}, std::vector<std::uint16_t>(std::size_t{2000} * 1500 * 3, 200));
    WriteColourJpeg(dir.file("small.jpg"), SolidImage(320, 200, kRed));
    struct Case {
        const char* name;
        std::string picture;
        bool drawsPixels;
        Placement placement;
        std::int32_t keptWidth;  // 0: no pixels kept
    };
    const Case cases[] = {
        {"stretched JPEG", dir.file("big.jpg"), true, Placement::Stretched, 1024},
        {"stretched PNG (scaled after decoding)", dir.file("big.png"), true, Placement::Stretched, 1024},
        {"small, centred: kept as it is", dir.file("small.jpg"), true, Placement::Centred, 320},
        {"a desktop that takes the file: no pixels", dir.file("big.jpg"), false, Placement::Stretched, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const render::DesktopTraits traits{{1024, 768}, c.drawsPixels};
        render::PreparedWallpaper prepared =
            render::PrepareWallpaper(c.picture, system, options, traits, system + "WallPaper.next.bmp");
        render::KeepScreenSizedOnly(prepared, traits);
        EXPECT_EQ(fs::file_size(system + "WallPaper.bmp"), shownBytes) << "the shown bitmap is untouched";
        EXPECT_TRUE(fs::exists(system + "WallPaper.next.bmp"));
        EXPECT_EQ(prepared.placement, c.placement);
        EXPECT_EQ(std::max(prepared.pixels.width(), prepared.scaled.width()), c.keptWidth);
        EXPECT_TRUE(prepared.pixels.empty() || prepared.scaled.empty()) << "one bitmap at most";
        const std::size_t before = desktop.calls().size();
        EXPECT_TRUE(render::ApplyPreparedWallpaper(prepared, desktop, registry));
        ASSERT_EQ(desktop.calls().size(), before + 1);
        EXPECT_EQ(desktop.calls().back().bitmapPath, system + "WallPaper.bmp");
        EXPECT_EQ(desktop.calls().back().placement, c.placement);
        EXPECT_EQ(desktop.calls().back().width, c.keptWidth);
        EXPECT_FALSE(fs::exists(system + "WallPaper.next.bmp"));
        // The file holds what the screen shows: a stretched picture shrunk to the screen.
        EXPECT_EQ(render::LoadBmpFile(system + "WallPaper.bmp").width(), c.placement == Placement::Stretched ? 1024 : 320);
        shownBytes = fs::file_size(system + "WallPaper.bmp");
    }
}

// A change made ahead and drawn ahead by the desktop lets go of its pixels and hands the
// desktop what it drew; a desktop with nothing to draw ahead, or one that fails at it, is
// handed the pixels at the turn as before.
TEST_F(SetWallpaperTest, AChangeDrawnAheadHandsOverWhatTheDesktopDrew) {
    WriteColourJpeg(dir.file("big.jpg"), SolidImage(2000, 1500, kRed));
    using Staging = platform::FakeDesktop::Staging;
    struct Case {
        const char* name;
        Staging staging;
        bool staged;
    };
    const Case cases[] = {
        {"drawn ahead", Staging::Stages, true},
        {"nothing to draw ahead", Staging::None, false},
        {"drawing ahead fails", Staging::Fails, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        desktop.setStaging(c.staging);
        const render::DesktopTraits traits = render::TraitsOf(desktop);
        render::PreparedWallpaper prepared =
            render::PrepareWallpaper(dir.file("big.jpg"), system, options, traits, system + "WallPaper.next.bmp");
        render::KeepScreenSizedOnly(prepared, traits);
        render::StageWallpaper(prepared, desktop);
        EXPECT_EQ(prepared.staged != nullptr, c.staged);
        EXPECT_EQ(prepared.scaled.empty(), c.staged) << "pixels let go only for a picture drawn ahead";
        ASSERT_TRUE(render::ApplyPreparedWallpaper(prepared, desktop, registry));
        const auto& call = desktop.calls().back();
        EXPECT_EQ(call.stagedWidth, c.staged ? 1024 : 0);
        EXPECT_EQ(call.hadPixels, !c.staged);
        EXPECT_EQ(call.bitmapPath, system + "WallPaper.bmp") << "the file is there for a desktop that draws anew";
        EXPECT_EQ(render::LoadBmpFile(system + "WallPaper.bmp").width(), 1024);
        EXPECT_EQ(prepared.staged, nullptr) << "used up by the change";
    }
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

// WallPaper.bmp read back with our own BMP reader: an uncompressed bottom-up 24-bit bitmap
// with a 40-byte info header, the picture's size, no bytes beyond the pixels, and the
// picture's colours the right way up. The widths need row padding (3 x 1601 = 4803 bytes,
// padded to 4804).
TEST_F(SetWallpaperTest, WallPaperBmpIsAPlain24BitBitmapOfThePicture) {
    desktop.setScreen({1920, 1200});  // a screen that holds every picture, so it is written whole
    // Each picture: its top half in one colour, its bottom half in another.
    auto halves = [](std::int32_t w, std::int32_t h, Rgb top, Rgb bottom) {
        return MakeImage(w, h, [=](std::int32_t, std::int32_t y) { return y < h / 2 ? top : bottom; });
    };
    WriteColourJpeg(dir.file("p.jpg"), halves(1601, 1199, kRed, kBlue));
    std::vector<std::uint16_t> rgba;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            rgba.insert(rgba.end(), {static_cast<std::uint16_t>(y < 2 ? 0 : 255), 0, 255, 40});  // alpha is not used
    WritePng(dir.file("p.png"), 5, 4, PngSpec(6), rgba);
    render::WriteBmpFile(dir.file("p.bmp"), halves(7, 2, kRed, kGreen));
    const struct {
        const char* file;
        bool greyScale;
        std::int32_t w, h;
        Rgb top, bottom;
        int tolerance;
    } cases[] = {
        {"p.jpg", false, 1601, 1199, kRed, kBlue, 6},
        {"p.png", false, 5, 4, kBlue, kMagenta, 0},
        {"p.bmp", true, 7, 2, Rgb{76, 76, 76}, Rgb{150, 150, 150}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        options.GreyScale = c.greyScale;
        ASSERT_TRUE(Set(dir.file(c.file)));
        const std::string wallpaper = system + "WallPaper.bmp";
        ASSERT_EQ(desktop.calls().back().bitmapPath, wallpaper);
        const render::BmpInfo info = render::ReadBmpFileInfo(wallpaper);
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
        EXPECT_EQ(info.bitsPerPixel, 24);
        EXPECT_EQ(info.compression, 0u);
        EXPECT_EQ(info.headerSize, 40u);
        EXPECT_FALSE(info.topDown);
        const auto stride = (static_cast<std::uintmax_t>(c.w) * 3 + 3) / 4 * 4;
        EXPECT_EQ(fs::file_size(wallpaper), 54 + stride * static_cast<std::uintmax_t>(c.h));
        const render::Image back = render::LoadBmpFile(wallpaper);
        for (const std::int32_t x : {0, c.w - 1}) {
            EXPECT_TRUE(Near(PixelAt(back, x, 0), c.top, c.tolerance)) << x << ": " << Describe(PixelAt(back, x, 0));
            EXPECT_TRUE(Near(PixelAt(back, x, c.h - 1), c.bottom, c.tolerance))
                << x << ": " << Describe(PixelAt(back, x, c.h - 1));
        }
    }
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

// A desktop that hands over the file name gets no picture scaled for the screen.
TEST_F(SetWallpaperTest, DesktopThatTakesTheFileGetsNoScaledPicture) {
    class FileDesktop final : public platform::Desktop {
    public:
        platform::ScreenExtent primaryScreenSize() override { return {1024, 768}; }
        void setWallpaper(const std::string&, platform::Placement placement,
                          const platform::WallpaperPixels& pixels) override {
            stretched = placement == platform::Placement::Stretched;
            screenSized = pixels.screenSized != nullptr;
        }
        std::string name() const override { return "file"; }
        bool drawsScreenSizedPixels() const override { return false; }
        bool placesFileAsTold() override { return placesFile; }
        bool stretched = false;
        bool screenSized = true;
        bool placesFile = true;
    } fileDesktop;
    WriteColourJpeg(dir.file("big.jpg"), SolidImage(1600, 1200, kRed));
    EXPECT_TRUE(render::SetWallpaperFromFile(dir.file("big.jpg"), system, options, fileDesktop, registry));
    EXPECT_TRUE(fileDesktop.stretched);
    EXPECT_FALSE(fileDesktop.screenSized);
    EXPECT_EQ(render::ReadBmpFileInfo(system + "WallPaper.bmp").width, 1024) << "the file is scaled for the desktop";
    // A desktop that scales the file its own way (hyprpaper) gets the whole picture.
    fileDesktop.placesFile = false;
    EXPECT_TRUE(render::SetWallpaperFromFile(dir.file("big.jpg"), system, options, fileDesktop, registry));
    EXPECT_EQ(render::ReadBmpFileInfo(system + "WallPaper.bmp").width, 1600);
}

// WallPaper.bmp holds no more than the desktop shows. Each picture has a pattern that tells
// every pixel apart; the file is read back and compared, pixel for pixel, with the picture
// decoded on its own: stretched, with the picture area-averaged to the written size; centred,
// with what a desktop centring the whole picture on the screen shows (the file centred on the
// same screen must show the very same pixels).
TEST_F(SetWallpaperTest, WallPaperBmpHoldsOnlyWhatTheScreenShows) {
    auto pattern = [](std::int32_t x, std::int32_t y) {
        return Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 5 + (x >> 3)),
                   static_cast<std::uint8_t>((x >> 8) * 40 + (y >> 8) * 90 + (x ^ y))};
    };
    enum class Kind { Jpeg, Png, GreyBmp };
    const struct {
        Kind kind;
        std::int32_t w, h;
        platform::ScreenExtent screen;
        bool stretchLarger;
        bool greyScale;
        bool drawsScreenSized;
        Placement placement;
        std::int32_t fileW, fileH;
    } cases[] = {
        // Stretched: shrunk to the screen, beside the decoder or after it.
        {Kind::Jpeg, 1500, 1000, {1024, 768}, true, false, true, Placement::Stretched, 1024, 768},
        {Kind::Jpeg, 1500, 1000, {1024, 768}, true, true, false, Placement::Stretched, 1024, 768},
        {Kind::Png, 1500, 1000, {1024, 768}, true, false, true, Placement::Stretched, 1024, 768},
        {Kind::Jpeg, 1300, 900, {1280, 1024}, true, false, true, Placement::Stretched, 1280, 900},
        // Centred larger than the screen: the middle; an odd cut gets one more pixel.
        {Kind::Jpeg, 1500, 1000, {1024, 768}, false, false, true, Placement::Centred, 1024, 768},
        {Kind::Jpeg, 1501, 1001, {1024, 768}, false, true, true, Placement::Centred, 1025, 769},
        {Kind::Png, 1501, 1001, {1024, 768}, false, false, true, Placement::Centred, 1025, 769},
        {Kind::Png, 1200, 700, {1024, 768}, false, false, true, Placement::Centred, 1024, 700},
        {Kind::GreyBmp, 1100, 803, {1024, 768}, false, true, true, Placement::Centred, 1024, 769},
        // A picture the screen holds is written whole.
        {Kind::Png, 900, 700, {1024, 768}, false, false, true, Placement::Centred, 900, 700},
    };
    // Only the "larger than" option decides here: "smaller than" is out of reach.
    options.Res2 = {20000, 20000};
    for (const auto& c : cases) {
        const char* ext = c.kind == Kind::Jpeg ? ".jpg" : c.kind == Kind::Png ? ".png" : ".bmp";
        const std::string picture = dir.file(std::to_string(c.w) + "x" + std::to_string(c.h) + ext);
        SCOPED_TRACE(picture + " on " + std::to_string(c.screen.width) + "x" + std::to_string(c.screen.height) +
                     (c.greyScale ? " grey" : ""));
        const render::Image source = MakeImage(c.w, c.h, pattern);
        if (c.kind == Kind::Jpeg) WriteColourJpeg(picture, source);
        if (c.kind == Kind::GreyBmp) render::WriteBmpFile(picture, source);
        if (c.kind == Kind::Png) {
            std::vector<std::uint16_t> rgb;
            for (std::int32_t y = 0; y < c.h; ++y)
                for (std::int32_t x = 0; x < c.w; ++x) {
                    const Rgb p = pattern(x, y);
                    rgb.insert(rgb.end(), {p.r, p.g, p.b});
                }
            WritePng(picture, c.w, c.h, PngSpec(2), rgb);
        }
        // The picture as the desktop would have had it whole: decoded on its own, grey if asked.
        const std::vector<std::uint8_t> bytes = ReadBytes(picture);
        render::Image whole = c.kind == Kind::Jpeg ? render::DecodeJpeg(bytes.data(), bytes.size())
                              : c.kind == Kind::Png ? render::LoadPicture(picture)
                                                    : render::LoadBmpFile(picture);
        if (c.greyScale) render::MakeGreyscale(whole);

        platform::FakeDesktop screenDesktop(c.screen);
        screenDesktop.setDrawsScreenSizedPixels(c.drawsScreenSized);
        options.StretchLarger = c.stretchLarger;
        options.GreyScale = c.greyScale;
        ASSERT_TRUE(render::SetWallpaperFromFile(picture, system, options, screenDesktop, registry));
        ASSERT_EQ(screenDesktop.calls().size(), 1u);
        EXPECT_EQ(screenDesktop.calls()[0].placement, c.placement) << "placed by the picture's own size";
        EXPECT_EQ(screenDesktop.calls()[0].width, c.w) << "the desktop's pixels are the whole picture";
        const std::string wallpaper = system + "WallPaper.bmp";
        ASSERT_EQ(screenDesktop.calls()[0].bitmapPath, wallpaper);
        const render::Image file = render::LoadBmpFile(wallpaper);
        ASSERT_EQ(file.width(), c.fileW);
        ASSERT_EQ(file.height(), c.fileH);
        std::int64_t wrong = 0;
        if (c.placement == Placement::Stretched) {
            const render::Image scaled = render::ScaleAreaAverage(whole, c.fileW, c.fileH);
            for (std::int32_t y = 0; y < c.fileH; ++y)
                wrong += std::memcmp(file.row(y), scaled.row(y), 3 * static_cast<std::size_t>(c.fileW)) != 0;
        } else {
            // Centred on the screen as a desktop does: (screen - picture) / 2, cut to the screen.
            auto shown = [&](const render::Image& image, std::int32_t sx, std::int32_t sy) -> std::optional<Rgb> {
                const std::int32_t x = sx - (c.screen.width - image.width()) / 2;
                const std::int32_t y = sy - (c.screen.height - image.height()) / 2;
                if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return std::nullopt;
                return PixelAt(image, x, y);
            };
            for (std::int32_t sy = 0; sy < c.screen.height; ++sy)
                for (std::int32_t sx = 0; sx < c.screen.width; ++sx) wrong += shown(file, sx, sy) != shown(whole, sx, sy);
        }
        EXPECT_EQ(wrong, 0) << "pixels (rows when stretched) that differ from what the desktop showed before";
    }
}

// The reason a change failed is the desktop's, for the tray; a picture that cannot be read
// stays silent, and every call starts from no reason.
TEST_F(SetWallpaperTest, FailureReasonTellsOnlyWhatTheDesktopRefused) {
    WriteColourJpeg(dir.file("ok.jpg"), SolidImage(16, 16, kRed));
    WriteBytes(dir.file("cut.jpg"), std::vector<std::uint8_t>(600, 0xFF));
    std::string reason = "left from before";
    auto set = [&](const std::string& picture) {
        return render::SetWallpaperFromFile(picture, system, options, desktop, registry, &reason);
    };
    desktop.setFailing(true);
    EXPECT_FALSE(set(dir.file("ok.jpg")));
    EXPECT_EQ(reason, "fake desktop: failing");
    desktop.setFailing(false);
    EXPECT_FALSE(set(dir.file("cut.jpg")));
    EXPECT_EQ(reason, "") << "a picture that cannot be decoded stays silent";
    // What the user can act on is told: a picture gone since it was listed, one too large.
    EXPECT_FALSE(set(dir.file("gone.jpg")));
    EXPECT_EQ(reason, render::kPictureMissing);
    WriteColourJpeg(dir.file("progressive.jpg"), SolidImage(256, 256, kRed), 90, true);
    {
        const render::DecodeMemoryCapScope cap(render::Image::StrideFor(256) * 256 + 4096);
        EXPECT_FALSE(set(dir.file("progressive.jpg")));
    }
    EXPECT_EQ(reason, render::kPictureTooLarge);
    reason = "left from before";
    EXPECT_TRUE(set(dir.file("ok.jpg")));
    EXPECT_EQ(reason, "");
}

}  // namespace
}  // namespace kalidrome::test
