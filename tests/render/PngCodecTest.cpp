#include "FileIo.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "PngCodec.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

namespace kalidrome::test {
namespace {

// A 5 x 3 picture (odd sizes, so every Adam7 pass has its own share) whose pixels each kind
// of PNG below can hold exactly.
constexpr std::int32_t kW = 5;
constexpr std::int32_t kH = 3;
const std::vector<Rgb> kColours = {kRed, kGreen, kBlue, kWhite, kBlack, kYellow, kMagenta};
std::size_t IndexAt(std::int32_t x, std::int32_t y) { return static_cast<std::size_t>(x * 3 + y * 2) % kColours.size(); }
std::uint8_t GreyAt(std::int32_t x, std::int32_t y) { return static_cast<std::uint8_t>(x * 50 + y * 20); }

struct PngCase {
    const char* name;
    PngSpec spec;
    // Samples of pixel (x, y) in the file.
    std::function<std::vector<std::uint16_t>(std::int32_t, std::int32_t)> samples;
    std::function<Rgb(std::int32_t, std::int32_t)> expected;
};

std::vector<PngCase> Cases() {
    auto colour = [](std::int32_t x, std::int32_t y) { return kColours[IndexAt(x, y)]; };
    auto grey = [](std::int32_t x, std::int32_t y) { const std::uint8_t g = GreyAt(x, y); return Rgb{g, g, g}; };
    auto rgb8 = [](std::int32_t x, std::int32_t y) {
        const Rgb c = kColours[IndexAt(x, y)];
        return std::vector<std::uint16_t>{c.r, c.g, c.b};
    };
    return {
        {"rgb_8", {PNG_COLOR_TYPE_RGB, 8}, rgb8, colour},
        {"rgb_8_interlaced", {PNG_COLOR_TYPE_RGB, 8, true}, rgb8, colour},
        {"palette_8", {PNG_COLOR_TYPE_PALETTE, 8, false, kColours},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>(IndexAt(x, y))}; }, colour},
        {"palette_4_interlaced", {PNG_COLOR_TYPE_PALETTE, 4, true, kColours},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>(IndexAt(x, y))}; }, colour},
        {"grey_8", {PNG_COLOR_TYPE_GRAY, 8}, [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{GreyAt(x, y)}; }, grey},
        {"grey_1", {PNG_COLOR_TYPE_GRAY, 1},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>((x + y) & 1)}; },
         [](std::int32_t x, std::int32_t y) { return ((x + y) & 1) ? kWhite : kBlack; }},
        // The alpha channel is dropped, not blended: a fully transparent pixel keeps its grey.
        {"grey_alpha_8", {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{GreyAt(x, y), static_cast<std::uint16_t>(x == 0 ? 0 : 255)}; }, grey},
        {"rgba_8", {PNG_COLOR_TYPE_RGBA, 8},
         [](std::int32_t x, std::int32_t y) {
             const Rgb c = kColours[IndexAt(x, y)];
             return std::vector<std::uint16_t>{c.r, c.g, c.b, static_cast<std::uint16_t>(y * 100)};
         }, colour},
        {"rgb_16", {PNG_COLOR_TYPE_RGB, 16},
         [](std::int32_t x, std::int32_t y) {
             const Rgb c = kColours[IndexAt(x, y)];
             return std::vector<std::uint16_t>{static_cast<std::uint16_t>(c.r * 257), static_cast<std::uint16_t>(c.g * 257),
                                               static_cast<std::uint16_t>(c.b * 257)};
         }, colour},
        {"grey_alpha_16_interlaced", {PNG_COLOR_TYPE_GRAY_ALPHA, 16, true},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>(GreyAt(x, y) * 257), 0}; }, grey},
    };
}

class PngKindTest : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngKindTest, DecodesColourPixels) {
    const PngCase& c = GetParam();
    TempDir dir;
    std::vector<std::uint16_t> samples;
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) {
            const auto s = c.samples(x, y);
            samples.insert(samples.end(), s.begin(), s.end());
        }
    WritePng(dir.file("p.png"), kW, kH, c.spec, samples);
    const std::vector<std::uint8_t> bytes = ReadBytes(dir.file("p.png"));
    const render::Image image = render::DecodePng(bytes.data(), bytes.size());
    ASSERT_EQ(image.width(), kW);
    ASSERT_EQ(image.height(), kH);
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) {
            SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
            EXPECT_EQ(Describe(PixelAt(image, x, y)), Describe(c.expected(x, y)));
        }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngKindTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

std::vector<std::uint8_t> GoodPng(const TempDir& dir) {
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < 40 * 30; ++i) {
        samples.push_back(static_cast<std::uint16_t>(i % 256));
        samples.push_back(static_cast<std::uint16_t>((i * 7) % 256));
        samples.push_back(static_cast<std::uint16_t>((i * 13) % 256));
    }
    WritePng(dir.file("good.png"), 40, 30, {PNG_COLOR_TYPE_RGB, 8}, samples);
    return ReadBytes(dir.file("good.png"));
}

void PutBe32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (24 - 8 * i));
}

TEST(PngCorrupt, CutOrDamagedFilesRaise) {
    TempDir dir;
    const std::vector<std::uint8_t> good = GoodPng(dir);
    ASSERT_NO_THROW(render::DecodePng(good.data(), good.size()));
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    } cases[] = {
        {"cut in the pixel data", [](auto& f) { f.resize(f.size() / 2); }},
        {"cut after the header", [](auto& f) { f.resize(33); }},
        {"signature only", [](auto& f) { f.resize(8); }},
        {"bad signature", [](auto& f) { f[1] = 'Q'; }},
        {"header checksum wrong", [](auto& f) { f[29] ^= 0xFF; }},
        // IHDR claims 30000 x 30000 (checksum fixed up): refused before any allocation.
        {"huge declared size", [](auto& f) {
             PutBe32(f, 16, 30000);
             PutBe32(f, 20, 30000);
             const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, f.data() + 12, 17));
             PutBe32(f, 29, crc);
         }},
        {"damaged compressed data", [](auto& f) { for (std::size_t i = 45; i < 60 && i < f.size(); ++i) f[i] ^= 0x5A; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> f = good;
        c.damage(f);
        EXPECT_THROW(render::DecodePng(f.data(), f.size()), render::PictureError);
    }
}

}  // namespace
}  // namespace kalidrome::test
