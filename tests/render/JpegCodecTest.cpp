#include "FileIo.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace kalidrome::test {
namespace {

render::Image DecodeFile(const std::string& path, int scale = 8) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return render::DecodeJpeg(bytes.data(), bytes.size(), scale);
}

struct CmykCase {
    const char* name;
    std::array<std::uint8_t, 4> inks;  // C, M, Y, K
    bool adobeInverted;
    Rgb expected;
};

class JpegCmykTest : public ::testing::TestWithParam<CmykCase> {};

TEST_P(JpegCmykTest, ComesOutAsTheRightColour) {
    const CmykCase& c = GetParam();
    TempDir dir;
    WriteCmykJpeg(dir.file("c.jpg"), 16, 16, c.inks, c.adobeInverted);
    const render::Image image = DecodeFile(dir.file("c.jpg"));
    ASSERT_EQ(image.width(), 16);
    EXPECT_TRUE(Near(PixelAt(image, 8, 8), c.expected, 4)) << Describe(PixelAt(image, 8, 8)) << " wanted " << Describe(c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cmyk, JpegCmykTest,
                         ::testing::Values(CmykCase{"adobe_red", {0, 255, 255, 0}, true, kRed},
                                           CmykCase{"adobe_blue", {255, 255, 0, 0}, true, kBlue},
                                           CmykCase{"adobe_black_ink", {0, 0, 0, 255}, true, kBlack},
                                           CmykCase{"adobe_paper", {0, 0, 0, 0}, true, kWhite},
                                           CmykCase{"plain_red", {0, 255, 255, 0}, false, kRed},
                                           CmykCase{"plain_half_key", {0, 0, 0, 128}, false, Rgb{127, 127, 127}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(JpegDecode, GreyscaleComesOutAsGreyColourPixels) {
    TempDir dir;
    WriteGreyJpeg(dir.file("g.jpg"), 24, 10, 90);
    const render::Image image = DecodeFile(dir.file("g.jpg"));
    ASSERT_EQ(image.width(), 24);
    ASSERT_EQ(image.height(), 10);
    EXPECT_TRUE(Near(PixelAt(image, 23, 9), Rgb{90, 90, 90}, 1)) << Describe(PixelAt(image, 23, 9));
}

TEST(JpegDecode, ColourBaselineAndProgressiveKeepTheirColours) {
    TempDir dir;
    const render::Image source = MakeImage(64, 32, [](std::int32_t x, std::int32_t) { return x < 32 ? kRed : kBlue; });
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        WriteColourJpeg(dir.file("c.jpg"), source, 95, progressive);
        const render::Image image = DecodeFile(dir.file("c.jpg"));
        EXPECT_TRUE(Near(PixelAt(image, 4, 4), kRed, 6)) << Describe(PixelAt(image, 4, 4));
        EXPECT_TRUE(Near(PixelAt(image, 60, 28), kBlue, 6)) << Describe(PixelAt(image, 60, 28));
    }
}

TEST(JpegDecode, ScaledDecodingGivesTheReducedSize) {
    TempDir dir;
    WriteColourJpeg(dir.file("c.jpg"), SolidImage(100, 50, kGreen));
    const struct {
        int scale;
        std::int32_t w, h;
    } cases[] = {{8, 100, 50}, {4, 50, 25}, {2, 25, 13}, {1, 13, 7}, {3, 38, 19}};
    for (const auto& c : cases) {
        SCOPED_TRACE("scale " + std::to_string(c.scale));
        const render::Image image = DecodeFile(dir.file("c.jpg"), c.scale);
        EXPECT_EQ(image.width(), c.w);
        EXPECT_EQ(image.height(), c.h);
        EXPECT_TRUE(Near(PixelAt(image, c.w - 1, c.h - 1), kGreen, 6));
    }
}

TEST(JpegDecode, CutOrDamagedFilesRaiseInsteadOfGreyFill) {
    TempDir dir;
    const render::Image source = MakeImage(128, 128, [](std::int32_t x, std::int32_t y) {
        return Rgb{static_cast<std::uint8_t>(x * 2), static_cast<std::uint8_t>(y * 2), static_cast<std::uint8_t>(x ^ y)};
    });
    WriteColourJpeg(dir.file("c.jpg"), source);
    const std::vector<std::uint8_t> good = ReadBytes(dir.file("c.jpg"));
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    } cases[] = {
        {"cut in half", [](auto& f) { f.resize(f.size() / 2); }},
        {"cut before the last bytes", [](auto& f) { f.resize(f.size() - 40); }},
        {"cut in the headers", [](auto& f) { f.resize(100); }},
        {"empty", [](auto& f) { f.clear(); }},
        {"not a JPEG", [](auto& f) { f[0] = 'B'; f[1] = 'M'; }},
        {"zero height", [](auto& f) {
             for (std::size_t i = 0; i + 8 < f.size(); ++i)
                 if (f[i] == 0xFF && f[i + 1] == 0xC0) { f[i + 5] = 0; f[i + 6] = 0; break; }
         }},
        // Frame header claims 60000 x 60000: refused before decoding.
        {"huge declared size", [](auto& f) {
             for (std::size_t i = 0; i + 8 < f.size(); ++i)
                 if (f[i] == 0xFF && f[i + 1] == 0xC0) { f[i + 5] = 0xEA; f[i + 6] = 0x60; f[i + 7] = 0xEA; f[i + 8] = 0x60; break; }
         }},
        // 20000 x 20000 is within the cap but cannot fit in a few kilobytes.
        {"declared size far beyond the data", [](auto& f) {
             for (std::size_t i = 0; i + 8 < f.size(); ++i)
                 if (f[i] == 0xFF && f[i + 1] == 0xC0) { f[i + 5] = 0x4E; f[i + 6] = 0x20; f[i + 7] = 0x4E; f[i + 8] = 0x20; break; }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> f = good;
        c.damage(f);
        EXPECT_THROW(render::DecodeJpeg(f.data(), f.size()), render::PictureError);
    }
}

TEST(JpegEncode, WritesBaselineColourThatDecodesBack) {
    const render::Image source = SolidImage(40, 30, Rgb{200, 100, 50});
    const std::vector<std::uint8_t> bytes = render::EncodeJpeg(source, 90);
    ASSERT_GT(bytes.size(), 4u);
    bool baselineFrame = false, progressiveFrame = false;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        baselineFrame |= bytes[i] == 0xFF && bytes[i + 1] == 0xC0;
        progressiveFrame |= bytes[i] == 0xFF && bytes[i + 1] == 0xC2;
    }
    EXPECT_TRUE(baselineFrame);
    EXPECT_FALSE(progressiveFrame);
    const render::JpegHeader header = render::ReadJpegHeader(bytes.data(), bytes.size());
    EXPECT_EQ(header.components, 3);
    const render::Image back = render::DecodeJpeg(bytes.data(), bytes.size());
    EXPECT_TRUE(Near(PixelAt(back, 20, 15), Rgb{200, 100, 50}, 3)) << Describe(PixelAt(back, 20, 15));
}

}  // namespace
}  // namespace kalidrome::test

namespace kalidrome::test {
namespace {

// A progressive file is held whole as coefficients while it decodes: that memory counts
// against the cap, so the same picture goes through in one pass and is refused in many.
TEST(JpegDecode, ProgressiveCoefficientsCountAgainstTheMemoryCap) {
    TempDir dir;
    render::Image picture(512, 512);
    picture.fill(128);
    WriteColourJpeg(dir.file("baseline.jpg"), picture, 90, false);
    WriteColourJpeg(dir.file("progressive.jpg"), picture, 90, true);
    // The pixels and some room for the file, but not the 768 KB of coefficients as well.
    const render::DecodeMemoryCapScope cap(render::Image::StrideFor(512) * 512 + (400u << 10));
    EXPECT_EQ(DecodeFile(dir.file("baseline.jpg")).width(), 512);
    try {
        DecodeFile(dir.file("progressive.jpg"));
        FAIL() << "decoded beyond the cap";
    } catch (const render::PictureError& e) {
        EXPECT_NE(std::string(e.what()).find("The picture is too large (512 x 512 pixels"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace kalidrome::test
