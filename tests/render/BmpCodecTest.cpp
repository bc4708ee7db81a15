#include "BmpCodec.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kalidrome::test {
namespace {

using render::DecodeBmp;
using render::PictureError;

void Put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

// Builds a BMP file the way other programs write them, from pixel values already in the
// file's own form: palette indices, packed 16/32-bit values, or 0xRRGGBB for 24 bits.
struct BmpSpec {
    BmpSpec(std::uint32_t header = 40, int bpp = 24, std::uint32_t comp = 0, bool down = false,
            std::vector<std::uint32_t> m = {}, std::vector<Rgb> p = {}, std::vector<std::uint8_t> r = {})
        : headerSize(header), bitsPerPixel(bpp), compression(comp), topDown(down), masks(std::move(m)),
          palette(std::move(p)), rle(std::move(r)) {}
    std::uint32_t headerSize;
    int bitsPerPixel;
    std::uint32_t compression;
    bool topDown;
    std::vector<std::uint32_t> masks;  // red, green, blue[, alpha] for bit fields
    std::vector<Rgb> palette;
    std::vector<std::uint8_t> rle;  // compressed pixels, for RLE
};

std::vector<std::uint8_t> BuildBmp(const BmpSpec& s, std::int32_t w, std::int32_t h,
                                   const std::vector<std::vector<std::uint32_t>>& topDownRows) {
    std::vector<std::uint8_t> out(14 + s.headerSize, 0);
    out[0] = 'B';
    out[1] = 'M';
    const std::size_t hdr = 14;
    Put32(out, hdr, s.headerSize);
    if (s.headerSize == 12) {
        Put16(out, hdr + 4, static_cast<std::uint32_t>(w));
        Put16(out, hdr + 6, static_cast<std::uint32_t>(s.topDown ? -h : h));
        Put16(out, hdr + 8, 1);
        Put16(out, hdr + 10, static_cast<std::uint32_t>(s.bitsPerPixel));
    } else {
        Put32(out, hdr + 4, static_cast<std::uint32_t>(w));
        Put32(out, hdr + 8, static_cast<std::uint32_t>(s.topDown ? -h : h));
        Put16(out, hdr + 12, 1);
        Put16(out, hdr + 14, static_cast<std::uint32_t>(s.bitsPerPixel));
        Put32(out, hdr + 16, s.compression);
        Put32(out, hdr + 32, static_cast<std::uint32_t>(s.palette.size()));
        if (s.headerSize > 40)
            for (std::size_t i = 0; i < s.masks.size(); ++i) Put32(out, hdr + 40 + 4 * i, s.masks[i]);
    }
    if (s.headerSize == 40 && s.compression == 3)
        for (std::size_t i = 0; i < 3; ++i) {
            out.resize(out.size() + 4);
            Put32(out, out.size() - 4, s.masks[i]);
        }
    for (const Rgb& c : s.palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        if (s.headerSize != 12) out.push_back(0);
    }
    Put32(out, 10, static_cast<std::uint32_t>(out.size()));
    if (!s.rle.empty()) {
        out.insert(out.end(), s.rle.begin(), s.rle.end());
        return out;
    }
    const std::size_t stride = ((static_cast<std::size_t>(w) * s.bitsPerPixel + 31) / 32) * 4;
    for (std::int32_t i = 0; i < h; ++i) {
        const auto& values = topDownRows[static_cast<std::size_t>(s.topDown ? i : h - 1 - i)];
        std::vector<std::uint8_t> row(stride, 0);
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint32_t v = values[static_cast<std::size_t>(x)];
            switch (s.bitsPerPixel) {
                case 1: case 4: case 8: {
                    const int bpp = s.bitsPerPixel;
                    const int bit = x * bpp;
                    row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bpp - bit % 8));
                    break;
                }
                case 16: Put16(row, 2 * x, v); break;
                case 24:
                    row[3 * x] = static_cast<std::uint8_t>(v);
                    row[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    row[3 * x + 2] = static_cast<std::uint8_t>(v >> 16);
                    break;
                case 32: Put32(row, 4 * x, v); break;
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The picture most cases encode: 3 x 2 (an odd row length, so rows are padded).
const std::vector<std::vector<Rgb>> kPicture = {{kRed, kGreen, kBlue}, {kWhite, kBlack, kYellow}};
const std::vector<Rgb> kPalette = {kRed, kGreen, kBlue, kWhite, kBlack, kYellow};
const std::vector<std::vector<std::uint32_t>> kIndices = {{0, 1, 2}, {3, 4, 5}};
const std::vector<std::vector<std::uint32_t>> kRgb24 = {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x000000, 0xFFFF00}};

// Every pixel of image against the expected rows (top row first).
void ExpectPixels(const render::Image& image, const std::vector<std::vector<Rgb>>& expected) {
    ASSERT_EQ(image.height(), static_cast<std::int32_t>(expected.size()));
    ASSERT_EQ(image.width(), static_cast<std::int32_t>(expected[0].size()));
    for (std::int32_t y = 0; y < image.height(); ++y)
        for (std::int32_t x = 0; x < image.width(); ++x) {
            SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
            EXPECT_EQ(Describe(PixelAt(image, x, y)),
                      Describe(expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]));
        }
}

struct VariantCase {
    const char* name;
    BmpSpec spec;
    std::vector<std::vector<std::uint32_t>> values;
    std::vector<std::vector<Rgb>> expected;
};

std::vector<VariantCase> VariantCases() {
    std::vector<VariantCase> cases;
    cases.push_back({"info_24_bottom_up", {40, 24}, kRgb24, kPicture});
    cases.push_back({"info_24_top_down", {40, 24, 0, true}, kRgb24, kPicture});
    cases.push_back({"core_24", {12, 24}, kRgb24, kPicture});
    cases.push_back({"v4_24", {108, 24}, kRgb24, kPicture});
    cases.push_back({"v5_24_top_down", {124, 24, 0, true}, kRgb24, kPicture});
    cases.push_back({"info_8_palette", {40, 8, 0, false, {}, kPalette}, kIndices, kPicture});
    cases.push_back({"core_8_palette", {12, 8, 0, false, {}, {kRed, kGreen, kBlue, kWhite, kBlack, kYellow}}, kIndices, kPicture});
    cases.push_back({"info_4_palette", {40, 4, 0, false, {}, kPalette}, kIndices, kPicture});
    cases.push_back({"v5_4_palette_top_down", {124, 4, 0, true, {}, kPalette}, kIndices, kPicture});
    cases.push_back({"info_1_palette", {40, 1, 0, false, {}, {kBlack, kWhite}},
                     {{1, 0, 1}, {0, 1, 0}}, {{kWhite, kBlack, kWhite}, {kBlack, kWhite, kBlack}}});
    cases.push_back({"info_16_555", {40, 16}, {{0x7C00, 0x03E0, 0x001F}, {0x7FFF, 0x0000, 0x7FE0}}, kPicture});
    cases.push_back({"info_16_565_bitfields", {40, 16, 3, false, {0xF800, 0x07E0, 0x001F}},
                     {{0xF800, 0x07E0, 0x001F}, {0xFFFF, 0x0000, 0xFFE0}}, kPicture});
    // 5-bit 16 of 31 widens to 132, not 128: the full range is kept.
    cases.push_back({"info_16_555_mid", {40, 16}, {{16u << 10, 16u << 5, 16u}, {0, 0, 0}},
                     {{{132, 0, 0}, {0, 132, 0}, {0, 0, 132}}, {kBlack, kBlack, kBlack}}});
    // Alpha in the top byte is not used.
    cases.push_back({"info_32_rgb", {40, 32}, {{0x80FF0000, 0x0000FF00, 0x000000FF}, {0xFFFFFFFF, 0x00000000, 0x12FFFF00}}, kPicture});
    cases.push_back({"v5_32_rgba_bitfields", {124, 32, 3, false, {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}},
                     {{0xFF000080, 0x00FF0000, 0x0000FF00}, {0xFFFFFF00, 0x000000FF, 0xFFFF0000}}, kPicture});
    cases.push_back({"v4_16_bitfields_444", {108, 16, 3, false, {0x0F00, 0x00F0, 0x000F, 0xF000}},
                     {{0x0F00, 0x00F0, 0x000F}, {0x0FFF, 0xF000, 0x0FF0}}, kPicture});
    return cases;
}

class BmpVariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(BmpVariantTest, DecodesToKnownPixels) {
    const VariantCase& c = GetParam();
    const std::int32_t h = static_cast<std::int32_t>(c.values.size());
    const std::int32_t w = static_cast<std::int32_t>(c.values[0].size());
    const std::vector<std::uint8_t> file = BuildBmp(c.spec, w, h, c.values);

    const render::BmpInfo info = render::ReadBmpInfo(file.data(), file.size());
    EXPECT_EQ(info.width, w);
    EXPECT_EQ(info.height, h);
    EXPECT_EQ(info.bitsPerPixel, c.spec.bitsPerPixel);
    EXPECT_EQ(info.topDown, c.spec.topDown);

    ExpectPixels(DecodeBmp(file.data(), file.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Variants, BmpVariantTest, ::testing::ValuesIn(VariantCases()),
                         [](const auto& param) { return std::string(param.param.name); });

struct RleCase {
    const char* name;
    std::uint32_t compression;
    int bitsPerPixel;
    std::vector<std::uint8_t> data;
    std::vector<std::vector<Rgb>> expected;  // top row first
};

std::vector<RleCase> RleCases() {
    return {
        // Bottom row W K Y in absolute mode (odd count, padded), end of line, top row R R B
        // as a run of two and a run of one, end of bitmap.
        {"rle8_absolute_and_runs", 1, 8, {0, 3, 3, 4, 5, 0, 0, 0, 2, 0, 1, 2, 0, 1},
         {{kRed, kRed, kBlue}, {kWhite, kBlack, kYellow}}},
        // Bottom row: one W, then a move right 1 and up 1, then B: the skipped pixels show
        // palette colour 0 (red).
        {"rle8_delta_skips", 1, 8, {1, 3, 0, 2, 1, 1, 1, 2, 0, 1},
         {{kRed, kRed, kBlue}, {kWhite, kRed, kRed}}},
        // A run of 3 alternating nibbles 3,4 (W K W); end of line; absolute 3 pixels 0,1,2
        // packed in two bytes and padded to a word.
        {"rle4_runs_and_absolute", 2, 4, {3, 0x34, 0, 0, 0, 3, 0x01, 0x20, 0, 1},
         {{kRed, kGreen, kBlue}, {kWhite, kBlack, kWhite}}},
        // Missing end of bitmap after the last row is fine.
        {"rle8_without_end_marker", 1, 8, {3, 1, 0, 0, 3, 2}, {{kBlue, kBlue, kBlue}, {kGreen, kGreen, kGreen}}},
    };
}

class BmpRleTest : public ::testing::TestWithParam<RleCase> {};

TEST_P(BmpRleTest, DecodesToKnownPixels) {
    const RleCase& c = GetParam();
    BmpSpec spec{40, c.bitsPerPixel, c.compression, false, {}, kPalette, c.data};
    const std::vector<std::uint8_t> file = BuildBmp(spec, 3, 2, {});
    ExpectPixels(DecodeBmp(file.data(), file.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rle, BmpRleTest, ::testing::ValuesIn(RleCases()),
                         [](const auto& param) { return std::string(param.param.name); });

struct BadCase {
    const char* name;
    std::function<std::vector<std::uint8_t>()> make;
};

std::vector<std::uint8_t> Good24() { return BuildBmp({40, 24}, 3, 2, kRgb24); }

std::vector<BadCase> BadCases() {
    return {
        {"empty", [] { return std::vector<std::uint8_t>{}; }},
        {"not_bm", [] { auto f = Good24(); f[0] = 'X'; return f; }},
        {"pixels_cut_short", [] { auto f = Good24(); f.pop_back(); return f; }},
        {"header_cut_short", [] { auto f = Good24(); f.resize(30); return f; }},
        {"unknown_header_size", [] { auto f = Good24(); Put32(f, 14, 44); return f; }},
        {"bits_per_pixel_7", [] { auto f = Good24(); Put16(f, 28, 7); return f; }},
        {"zero_width", [] { auto f = Good24(); Put32(f, 18, 0); return f; }},
        {"jpeg_compression", [] { auto f = Good24(); Put32(f, 30, 4); return f; }},
        {"bitfields_on_24_bits", [] { auto f = Good24(); Put32(f, 30, 3); return f; }},
        {"pixel_offset_past_end", [] { auto f = Good24(); Put32(f, 10, 0x7FFFFFF0); return f; }},
        {"huge_size_tiny_file", [] { auto f = Good24(); Put32(f, 18, 60000); Put32(f, 22, 60000); return f; }},
        {"palette_cut_short", [] { auto f = BuildBmp({40, 8, 0, false, {}, kPalette}, 3, 2, kIndices); Put32(f, 46, 200); f.resize(80); return f; }},
        {"rle_top_down", [] { return BuildBmp({40, 8, 1, true, {}, kPalette, {0, 1}}, 3, 2, {}); }},
        {"rle_cut_before_last_row", [] { return BuildBmp({40, 8, 1, false, {}, kPalette, {3, 1}}, 3, 2, {}); }},
        {"rle_absolute_run_cut", [] { return BuildBmp({40, 8, 1, false, {}, kPalette, {0, 9, 1, 2}}, 3, 2, {}); }},
        {"rle_huge_size_tiny_data", [] { auto f = BuildBmp({40, 8, 1, false, {}, kPalette, {0, 1}}, 3, 2, {}); Put32(f, 18, 10000); Put32(f, 22, 10000); return f; }},
    };
}

class BmpBadTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BmpBadTest, RaisesPictureError) {
    const std::vector<std::uint8_t> file = GetParam().make();
    EXPECT_THROW(DecodeBmp(file.data(), file.size()), PictureError);
}

INSTANTIATE_TEST_SUITE_P(Corrupt, BmpBadTest, ::testing::ValuesIn(BadCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(BmpWriter, WritesBottomUp24BitThatReadsBackExactly) {
    TempDir dir;
    const render::Image image = MakeImage(5, 3, [](std::int32_t x, std::int32_t y) {
        return Rgb{static_cast<std::uint8_t>(40 * x), static_cast<std::uint8_t>(80 * y), 7};
    });
    render::WriteBmpFile(dir.file("out.bmp"), image);
    const std::vector<std::uint8_t> bytes = ReadBytes(dir.file("out.bmp"));
    ASSERT_EQ(bytes.size(), 54u + 16u * 3u);  // rows of 15 bytes padded to 16
    const render::BmpInfo info = render::ReadBmpInfo(bytes.data(), bytes.size());
    EXPECT_EQ(info.bitsPerPixel, 24);
    EXPECT_EQ(info.compression, 0u);
    EXPECT_FALSE(info.topDown);
    // The first stored row is the bottom one.
    EXPECT_EQ(bytes[54 + 2], 0);   // red of (0, 2)
    EXPECT_EQ(bytes[54 + 1], 160); // green of (0, 2)
    const render::Image back = DecodeBmp(bytes.data(), bytes.size());
    ASSERT_EQ(back.byteSize(), image.byteSize());
    EXPECT_EQ(std::memcmp(back.data(), image.data(), image.byteSize()), 0);
}

TEST(BmpWriter, SizeComesFromTheHeadersAlone) {
    TempDir dir;
    // Headers of a 4000 x 3000 picture whose pixels are missing: the size is still known.
    std::vector<std::uint8_t> header = render::BmpHeader24(4000, 3000);
    WriteBytes(dir.file("big.bmp"), header);
    const render::BmpInfo info = render::ReadBmpFileInfo(dir.file("big.bmp"));
    EXPECT_EQ(info.width, 4000);
    EXPECT_EQ(info.height, 3000);
    EXPECT_THROW(render::LoadBmpFile(dir.file("big.bmp")), PictureError);
}

}  // namespace
}  // namespace kalidrome::test
