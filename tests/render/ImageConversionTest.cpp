#include "BmpCodec.h"
#include "ImageConversion.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;

// A System folder (with a trailing "/") in a temporary folder, and pictures beside it.
class ConversionTest : public ::testing::Test {
protected:
    ConversionTest() : system(dir.path() + "/System/") { fs::create_directories(system + "Images"); }

    std::string Wallpaper() const { return system + "WallPaper.bmp"; }
    render::Image ReadWallpaper() const { return render::LoadBmpFile(Wallpaper()); }
    // Files in the System folder other than the ones the test put there.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(system))
            if (e.is_regular_file() && e.path().filename() != "WallPaper.bmp") names.push_back(e.path().filename());
        return names;
    }

    // Bottom.bmp 8 x 4: dark grey with one magenta pixel at its (1, 1). Right.bmp 4 x 6:
    // magenta (transparent) except column 3 and pixel (0, 0), which is (254, 0, 255).
    void WriteOverlays() {
        render::Image bottom = SolidImage(8, 4, Rgb{40, 40, 40});
        SetPixel(bottom, 1, 1, kMagenta);
        render::WriteBmpFile(system + "Images/Bottom.bmp", bottom);
        render::Image right = MakeImage(4, 6, [](std::int32_t x, std::int32_t) { return x == 3 ? kBlue : kMagenta; });
        SetPixel(right, 0, 0, Rgb{254, 0, 255});
        render::WriteBmpFile(system + "Images/Right.bmp", right);
    }

    TempDir dir;
    std::string system;
};

TEST_F(ConversionTest, GreyscaleUsesWeights77_151_28OnTheBitmapPath) {
    const render::Image source = MakeImage(4, 1, [](std::int32_t x, std::int32_t) {
        return std::array{kWhite, kRed, kGreen, kBlue}[static_cast<std::size_t>(x)];
    });
    render::WriteBmpFile(dir.file("p.bmp"), source);
    const render::ConvertedPicture out = render::ConvertPicture(dir.file("p.bmp"), system, true, false);
    EXPECT_EQ(out.bitmapPath, Wallpaper());
    const render::Image grey = ReadWallpaper();
    const std::uint8_t expected[] = {255, 76, 150, 27};
    for (std::int32_t x = 0; x < 4; ++x) {
        const std::uint8_t g = expected[x];
        EXPECT_EQ(Describe(PixelAt(grey, x, 0)), Describe(Rgb{g, g, g})) << "pixel " << x;
        EXPECT_EQ(Describe(PixelAt(out.pixels, x, 0)), Describe(Rgb{g, g, g})) << "in memory, pixel " << x;
    }
}

TEST_F(ConversionTest, BitmapWithGreyscaleOffIsHandedOnUnread) {
    // Not even a valid bitmap: the file is not opened here.
    WriteBytes(dir.file("p.bmp"), {'n', 'o', 't'});
    const render::ConvertedPicture out = render::ConvertPicture(dir.file("p.bmp"), system, false, true);
    EXPECT_EQ(out.bitmapPath, dir.file("p.bmp"));
    EXPECT_TRUE(out.pixels.empty());
    EXPECT_FALSE(fs::exists(Wallpaper()));
}

TEST_F(ConversionTest, NonTwentyFourBitBitmapWithGreyscaleIsWrittenUnchanged) {
    // An 8-bit palette bitmap in red: stays red, byte for byte.
    std::vector<std::uint8_t> file = render::BmpHeader24(2, 1);
    file[10] = 54 + 8;           // pixels after a two-entry colour table
    file[28] = 8;                // bits per pixel
    file[46] = 2;                // colours used
    file.insert(file.end(), {0, 0, 255, 0, 0, 255, 0, 0});  // red, green
    file.insert(file.end(), {0, 1, 0, 0});                  // one row, padded
    WriteBytes(dir.file("p8.bmp"), file);
    const render::ConvertedPicture out = render::ConvertPicture(dir.file("p8.bmp"), system, true, false);
    EXPECT_EQ(out.bitmapPath, Wallpaper());
    EXPECT_EQ(ReadBytes(Wallpaper()), file);
    EXPECT_EQ(Describe(PixelAt(out.pixels, 0, 0)), Describe(kRed));
}

// Every kind of picture turns grey by the same weights, applied to the pixels as decoded;
// the frame keeps its colours.
TEST_F(ConversionTest, GreyscaleTurnsJpegPngAndBitmapGreyByTheSameWeights) {
    WriteOverlays();
    const render::Image colours = MakeImage(40, 24, [](std::int32_t x, std::int32_t y) {
        return Rgb{static_cast<std::uint8_t>(6 * x), static_cast<std::uint8_t>(10 * y), static_cast<std::uint8_t>(250 - 5 * x)};
    });
    WriteColourJpeg(dir.file("p.jpg"), colours);
    std::vector<std::uint16_t> samples;
    for (std::int32_t y = 0; y < colours.height(); ++y)
        for (std::int32_t x = 0; x < colours.width(); ++x) {
            const Rgb c = PixelAt(colours, x, y);
            samples.insert(samples.end(), {c.r, c.g, c.b});
        }
    WritePng(dir.file("p.png"), colours.width(), colours.height(), {}, samples);
    render::WriteBmpFile(dir.file("p.bmp"), colours);
    WriteColourJpeg(dir.file("framed.jpg"), MakeImage(1024, 768, [](std::int32_t x, std::int32_t) {
                        return Rgb{200, static_cast<std::uint8_t>(x / 8), 30};
                    }));
    auto grey = [](Rgb c) {
        const auto g = static_cast<std::uint8_t>((77 * c.r + 151 * c.g + 28 * c.b) >> 8);
        return Rgb{g, g, g};
    };
    const struct {
        const char* file;
        bool useMask;
    } cases[] = {{"p.jpg", false}, {"p.png", false}, {"p.bmp", false}, {"framed.jpg", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const render::Image colour = render::LoadBmpFile(render::ConvertPicture(dir.file(c.file), system, false, false).bitmapPath);
        const render::ConvertedPicture out = render::ConvertPicture(dir.file(c.file), system, true, c.useMask);
        EXPECT_EQ(out.bitmapPath, Wallpaper());
        const render::Image written = ReadWallpaper();
        ASSERT_EQ(written.width(), colour.width());
        ASSERT_EQ(written.height(), colour.height());
        const std::int32_t w = written.width(), h = written.height();
        int mismatches = 0;
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                // Right.bmp's opaque column and Bottom.bmp's bar lie in the framed corner.
                if (c.useMask && x >= w - 8 && y >= h - 6) continue;
                if (PixelAt(written, x, y) != grey(PixelAt(colour, x, y)) && mismatches++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << Describe(PixelAt(written, x, y))
                                  << " from " << Describe(PixelAt(colour, x, y));
            }
        EXPECT_NE(PixelAt(colour, 0, 0), grey(PixelAt(colour, 0, 0))) << "the picture was in colour";
        if (c.useMask) {
            EXPECT_EQ(Describe(PixelAt(written, w - 1, h - 6)), Describe(kBlue)) << "the frame stays in colour";
            EXPECT_EQ(Describe(PixelAt(written, w - 4, h - 6)), Describe(Rgb{254, 0, 255}));
        }
    }
}

TEST_F(ConversionTest, ExtensionsInCapitalsAreStillJpegAndPng) {
    WriteColourJpeg(dir.file("P.JPG"), SolidImage(16, 8, kGreen));
    EXPECT_EQ(render::ConvertPicture(dir.file("P.JPG"), system, false, false).bitmapPath, Wallpaper());
    EXPECT_EQ(ReadWallpaper().width(), 16);
    WriteColourJpeg(dir.file("q.Jpeg"), SolidImage(9, 8, kGreen));
    render::ConvertPicture(dir.file("q.Jpeg"), system, false, false);
    EXPECT_EQ(ReadWallpaper().width(), 9);
    WritePng(dir.file("R.PNG"), 3, 1, {}, {0, 0, 0, 1, 1, 1, 2, 2, 2});
    render::ConvertPicture(dir.file("R.PNG"), system, false, false);
    EXPECT_EQ(ReadWallpaper().width(), 3);
}

TEST_F(ConversionTest, FrameGoesOnA1024By768JpegWithUseMask) {
    WriteOverlays();
    const Rgb picture{100, 100, 100};
    WriteColourJpeg(dir.file("p.jpg"), SolidImage(1024, 768, picture));
    render::ConvertPicture(dir.file("p.jpg"), system, false, true);
    const render::Image out = ReadWallpaper();
    // Right.bmp covers x 1020..1023, y 762..767; Bottom.bmp x 1016..1023, y 764..767.
    EXPECT_EQ(Describe(PixelAt(out, 1020, 762)), Describe(Rgb{254, 0, 255})) << "near-magenta is drawn";
    EXPECT_EQ(Describe(PixelAt(out, 1023, 762)), Describe(kBlue)) << "Right.bmp opaque column";
    EXPECT_TRUE(Near(PixelAt(out, 1021, 763), picture, 3)) << "magenta shows the picture: " << Describe(PixelAt(out, 1021, 763));
    EXPECT_EQ(Describe(PixelAt(out, 1021, 766)), Describe(Rgb{40, 40, 40})) << "magenta over Bottom.bmp shows Bottom.bmp";
    EXPECT_EQ(Describe(PixelAt(out, 1017, 765)), Describe(kMagenta)) << "Bottom.bmp's own magenta is drawn";
    EXPECT_EQ(Describe(PixelAt(out, 1016, 767)), Describe(Rgb{40, 40, 40}));
    EXPECT_TRUE(Near(PixelAt(out, 1015, 767), picture, 3)) << "left of the overlays";
}

TEST_F(ConversionTest, ShippedOverlaysFrameTheCorner) {
    const char* source = std::getenv("KALIDROME_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    for (const char* name : {"Bottom.bmp", "Right.bmp"})
        fs::copy_file(std::string(source) + "/data/System/Images/" + name, system + "Images/" + name);
    const render::Image right = render::LoadBmpFile(system + "Images/Right.bmp");
    EXPECT_EQ(Describe(PixelAt(right, 0, 0)), Describe(kMagenta)) << "Right.bmp lets the picture show at its top-left";
    const Rgb picture{200, 180, 40};
    WriteColourJpeg(dir.file("p.jpg"), SolidImage(1024, 768, picture));
    render::ConvertPicture(dir.file("p.jpg"), system, false, true);
    const render::Image out = ReadWallpaper();
    EXPECT_TRUE(Near(PixelAt(out, 1024 - right.width(), 768 - right.height()), picture, 3));
    EXPECT_FALSE(Near(PixelAt(out, 1023, 767), picture, 40)) << "the corner is framed";
    EXPECT_FALSE(Near(PixelAt(out, 10, 767), picture, 40)) << "the bottom bar runs along the bottom";
    EXPECT_TRUE(Near(PixelAt(out, 10, 700), picture, 3));
}

TEST_F(ConversionTest, NoFrameForOtherSizesKindsOrWithoutUseMask) {
    WriteOverlays();
    const Rgb picture{100, 100, 100};
    WriteColourJpeg(dir.file("exact.jpg"), SolidImage(1024, 768, picture));
    WriteColourJpeg(dir.file("taller.jpg"), SolidImage(1024, 769, picture));
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < 1024 * 768 * 3; ++i) samples.push_back(100);
    WritePng(dir.file("exact.png"), 1024, 768, {}, samples);
    render::WriteBmpFile(dir.file("exact.bmp"), SolidImage(1024, 768, picture));
    const struct {
        const char* file;
        bool greyScale;
        bool useMask;
    } cases[] = {{"exact.jpg", false, false}, {"taller.jpg", false, true}, {"exact.png", false, true}, {"exact.bmp", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const render::ConvertedPicture out = render::ConvertPicture(dir.file(c.file), system, c.greyScale, c.useMask);
        const render::Image written = ReadWallpaper();
        const std::int32_t h = written.height();
        EXPECT_TRUE(Near(PixelAt(written, 1023, h - 1), picture, 3)) << Describe(PixelAt(written, 1023, h - 1));
        EXPECT_TRUE(Near(PixelAt(written, 1020, h - 6), picture, 3)) << Describe(PixelAt(written, 1020, h - 6));
    }
}

TEST_F(ConversionTest, MissingOverlayStopsBeforeWallpaperIsWritten) {
    WriteOverlays();
    fs::remove(system + "Images/Right.bmp");
    WriteBytes(Wallpaper(), {'o', 'l', 'd'});
    WriteColourJpeg(dir.file("p.jpg"), SolidImage(1024, 768, kRed));
    EXPECT_THROW(render::ConvertPicture(dir.file("p.jpg"), system, false, true), render::PictureError);
    EXPECT_EQ(ReadBytes(Wallpaper()), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(ConversionTest, FailuresLeaveTheOldWallpaperWholeAndNoTemporaryFiles) {
    WriteBytes(Wallpaper(), {'o', 'l', 'd'});
    WriteColourJpeg(dir.file("good.jpg"), MakeImage(256, 256, [](std::int32_t x, std::int32_t y) {
                        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 9};
                    }));
    std::vector<std::uint8_t> cut = ReadBytes(dir.file("good.jpg"));
    cut.resize(cut.size() * 2 / 3);
    WriteBytes(dir.file("cut.jpg"), cut);
    WriteBytes(dir.file("junk.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
    WriteBytes(dir.file("junk.bmp"), {'B', 'M', 0, 0});
    const struct {
        const char* file;
        bool greyScale;
    } cases[] = {{"cut.jpg", false}, {"junk.png", false}, {"junk.bmp", true}, {"missing.jpg", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_THROW(render::ConvertPicture(dir.file(c.file), system, c.greyScale, false), std::exception);
        EXPECT_EQ(ReadBytes(Wallpaper()), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_TRUE(Leftovers().empty()) << Leftovers().front();
    }
}

TEST_F(ConversionTest, UnwritableSystemFolderRaises) {
    WriteColourJpeg(dir.file("p.jpg"), SolidImage(8, 8, kRed));
    EXPECT_THROW(render::ConvertPicture(dir.file("p.jpg"), dir.path() + "/NoSuchFolder/", false, false), render::PictureError);
}

TEST_F(ConversionTest, InMemoryConversionGivesWhatTheWallpaperShowsAndWritesNothing) {
    WriteOverlays();
    const render::Image colours = MakeImage(4, 2, [](std::int32_t x, std::int32_t y) {
        return std::array{kWhite, kRed, kGreen, kBlue}[static_cast<std::size_t>((x + y) % 4)];
    });
    render::WriteBmpFile(dir.file("p24.bmp"), colours);
    std::vector<std::uint8_t> eightBit = render::BmpHeader24(2, 1);
    eightBit[10] = 54 + 8;
    eightBit[28] = 8;
    eightBit[46] = 2;
    eightBit.insert(eightBit.end(), {0, 0, 255, 0, 0, 255, 0, 0, 0, 1, 0, 0});
    WriteBytes(dir.file("p8.bmp"), eightBit);
    WriteColourJpeg(dir.file("framed.jpg"), SolidImage(1024, 768, Rgb{90, 120, 150}));
    WriteColourJpeg(dir.file("small.jpg"), SolidImage(20, 10, kRed));
    WritePng(dir.file("p.png"), 2, 1, {}, {255, 0, 0, 0, 0, 255});
    const struct {
        const char* file;
        bool greyScale;
        bool useMask;
    } cases[] = {{"p24.bmp", true, false},    {"p24.bmp", false, false}, {"p8.bmp", true, false},
                 {"framed.jpg", false, true}, {"framed.jpg", false, false}, {"framed.jpg", true, true},
                 {"small.jpg", true, true}, {"small.jpg", false, false}, {"p.png", true, true}, {"p.png", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.greyScale ? " grey" : "") + (c.useMask ? " mask" : ""));
        const render::ConvertedPicture converted = render::ConvertPicture(dir.file(c.file), system, c.greyScale, c.useMask);
        const render::Image shown = render::LoadBmpFile(converted.bitmapPath);
        fs::remove(Wallpaper());
        const render::Image inMemory = render::ConvertPictureInMemory(dir.file(c.file), system, c.greyScale, c.useMask);
        EXPECT_FALSE(fs::exists(Wallpaper()));
        EXPECT_TRUE(Leftovers().empty());
        ASSERT_EQ(inMemory.width(), shown.width());
        ASSERT_EQ(inMemory.height(), shown.height());
        EXPECT_EQ(std::memcmp(inMemory.data(), shown.data(), shown.byteSize()), 0);
    }
    fs::remove(system + "Images/Right.bmp");
    EXPECT_THROW(render::ConvertPictureInMemory(dir.file("framed.jpg"), system, false, true), std::exception);
    EXPECT_THROW(render::ConvertPictureInMemory(dir.file("missing.png"), system, false, false), std::exception);
}

TEST_F(ConversionTest, JpegWrittenAsDecodedMatchesThePixelsInMemory) {
    // Odd width (padded rows) and a height that is not a multiple of the decoder's batches.
    WriteColourJpeg(dir.file("p.jpg"), MakeImage(333, 301, [](std::int32_t x, std::int32_t y) {
                        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x + y)};
                    }));
    for (bool greyScale : {false, true}) {
        SCOPED_TRACE(greyScale ? "grey" : "colour");
        const render::ConvertedPicture out = render::ConvertPicture(
            dir.file("p.jpg"), system, greyScale, false,
            [](std::int32_t w, std::int32_t h) { return render::PixelSize{w / 3, h / 3}; });
        const render::Image written = ReadWallpaper();
        ASSERT_EQ(written.byteSize(), out.pixels.byteSize());
        EXPECT_EQ(std::memcmp(written.data(), out.pixels.data(), written.byteSize()), 0);
        EXPECT_EQ(out.scaled.width(), 111);
        EXPECT_EQ(out.scaled.height(), 100);
        // The picture scaled on the way is the grey one too.
        const Rgb p = PixelAt(out.scaled, 100, 20);
        EXPECT_EQ(p.r == p.g && p.g == p.b, greyScale) << Describe(p);
        const Rgb q = PixelAt(written, 300, 20);
        EXPECT_EQ(q.r == q.g && q.g == q.b, greyScale) << Describe(q);
    }
}

}  // namespace
}  // namespace kalidrome::test
