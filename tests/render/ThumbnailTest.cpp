#include "BmpCodec.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "TempDir.h"
#include "Thumbnail.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <thread>

#include <jpeglib.h>

namespace kalidrome::test {
namespace {

struct SizeCase {
    std::int32_t w, h, tw, th;
};

class ThumbnailSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ThumbnailSizeTest, FitsTheBoxRoundingHalvesToEven) {
    const SizeCase& c = GetParam();
    EXPECT_EQ(render::ThumbnailSizeFor(c.w, c.h), (render::ThumbnailSize{c.tw, c.th}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThumbnailSizeTest,
                         ::testing::Values(SizeCase{1024, 768, 85, 64},   // 63.75 up
                                           SizeCase{1000, 500, 85, 42},   // 42.5 to even
                                           SizeCase{1000, 300, 85, 26},   // 25.5 to even, up
                                           SizeCase{768, 1024, 64, 85},
                                           SizeCase{85, 60, 85, 60},      // fits: unscaled
                                           SizeCase{86, 20, 85, 20},      // 19.77 up
                                           SizeCase{40, 30, 40, 30},
                                           SizeCase{85, 85, 85, 85},
                                           SizeCase{2000, 100, 85, 4},    // 4.25 down
                                           SizeCase{500, 500, 85, 85},    // square: height branch
                                           SizeCase{20000, 100, 85, 1}),  // 0.425 would be empty
                         [](const auto& param) {
                             return std::to_string(param.param.w) + "x" + std::to_string(param.param.h);
                         });

TEST(ScaleToThumbnail, SmallPicturesAreCopiedAndLargeOnesAveraged) {
    const render::Image small = MakeImage(40, 30, [](std::int32_t x, std::int32_t y) {
        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 1};
    });
    const render::Image copy = render::ScaleToThumbnail(small);
    ASSERT_EQ(copy.width(), 40);
    EXPECT_EQ(std::memcmp(copy.data(), small.data(), small.byteSize()), 0);

    const render::Image stripes = MakeImage(1024, 768, [](std::int32_t x, std::int32_t) { return (x & 1) ? kWhite : kBlack; });
    const render::Image thumb = render::ScaleToThumbnail(stripes);
    EXPECT_EQ(thumb.width(), 85);
    EXPECT_EQ(thumb.height(), 64);
    EXPECT_TRUE(Near(PixelAt(thumb, 40, 30), Rgb{128, 128, 128}, 2)) << Describe(PixelAt(thumb, 40, 30));
}

class ThumbnailFileTest : public ::testing::Test {
protected:
    render::Image Decode(const render::EncodedThumbnail& t) { return render::DecodeJpeg(t.jpeg.data(), t.jpeg.size()); }
    TempDir dir;
};

TEST_F(ThumbnailFileTest, EveryKindInAnyLetterCaseGivesAJpegThumbnail) {
    // Left half red, right half blue: the thumbnail keeps that layout.
    auto halves = [](std::int32_t w, std::int32_t h) {
        return MakeImage(w, h, [w](std::int32_t x, std::int32_t) { return x < w / 2 ? kRed : kBlue; });
    };
    WriteColourJpeg(dir.file("photo.JPG"), halves(3000, 2000));  // decoded at 1/8 scale
    WriteColourJpeg(dir.file("small.jpeg"), halves(200, 100));
    render::WriteBmpFile(dir.file("pic.Bmp"), halves(170, 340));
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 300; ++x) samples.insert(samples.end(), {static_cast<std::uint16_t>(x < 150 ? 255 : 0), 0, static_cast<std::uint16_t>(x < 150 ? 0 : 255)});
    WritePng(dir.file("pic.png"), 300, 100, {}, samples);
    const struct {
        const char* file;
        std::int32_t w, h;
    } cases[] = {{"photo.JPG", 85, 57}, {"small.jpeg", 85, 42}, {"pic.Bmp", 42, 85}, {"pic.png", 85, 28}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const render::EncodedThumbnail t = render::MakeThumbnailFromFile(dir.file(c.file));
        EXPECT_EQ(t.width, c.w);
        EXPECT_EQ(t.height, c.h);
        const render::Image back = Decode(t);
        ASSERT_EQ(back.width(), c.w);
        ASSERT_EQ(back.height(), c.h);
        EXPECT_TRUE(Near(PixelAt(back, 2, c.h / 2), kRed, 12)) << Describe(PixelAt(back, 2, c.h / 2));
        EXPECT_TRUE(Near(PixelAt(back, c.w - 3, c.h / 2), kBlue, 12)) << Describe(PixelAt(back, c.w - 3, c.h / 2));
    }
}

// The tables libjpeg builds for a quality, to compare a file's tables against.
std::array<std::array<unsigned, DCTSIZE2>, 2> ReferenceTables(int quality) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    std::array<std::array<unsigned, DCTSIZE2>, 2> tables{};
    for (std::size_t t = 0; t < 2; ++t)
        for (std::size_t i = 0; i < DCTSIZE2; ++i) tables[t][i] = c.quant_tbl_ptrs[t]->quantval[i];
    jpeg_destroy_compress(&c);
    return tables;
}

// What a stored thumbnail's JPEG says about itself.
struct JpegFacts {
    bool progressive = true;
    int components = 0;
    J_COLOR_SPACE colourSpace = JCS_UNKNOWN;
    std::array<std::array<unsigned, DCTSIZE2>, 2> tables{};
};

JpegFacts ReadJpegFacts(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    JpegFacts facts;
    facts.progressive = d.progressive_mode;
    facts.components = d.num_components;
    facts.colourSpace = d.jpeg_color_space;
    for (std::size_t t = 0; t < 2; ++t)
        if (d.quant_tbl_ptrs[t])
            for (std::size_t i = 0; i < DCTSIZE2; ++i) facts.tables[t][i] = d.quant_tbl_ptrs[t]->quantval[i];
    jpeg_destroy_decompress(&d);
    return facts;
}

// The thumbnails the list shows and saves come from MakeThumbnailFromFile (the list's
// thumbnail maker calls it): baseline colour JPEG at quality 90, whatever the source.
TEST_F(ThumbnailFileTest, ThumbnailsAreBaselineColourJpegAtQuality90) {
    WriteColourJpeg(dir.file("big.jpg"), SolidImage(1200, 900, kRed), 50, /*progressive=*/true);
    WriteGreyJpeg(dir.file("grey.jpg"), 300, 200, 128);
    render::WriteBmpFile(dir.file("small.bmp"), SolidImage(40, 30, kBlue));
    const auto quality90 = ReferenceTables(90);
    ASSERT_NE(quality90, ReferenceTables(89));
    ASSERT_NE(quality90, ReferenceTables(91));
    for (const char* file : {"big.jpg", "grey.jpg", "small.bmp"}) {
        SCOPED_TRACE(file);
        const JpegFacts facts = ReadJpegFacts(render::MakeThumbnailFromFile(dir.file(file)).jpeg);
        EXPECT_FALSE(facts.progressive);
        EXPECT_EQ(facts.components, 3);
        EXPECT_EQ(facts.colourSpace, JCS_YCbCr);
        EXPECT_EQ(facts.tables, quality90);
    }
}

TEST_F(ThumbnailFileTest, UnreadablePicturesRaise) {
    WriteBytes(dir.file("cut.jpg"), {0xFF, 0xD8, 0xFF});
    WriteBytes(dir.file("pic.gif"), {'G', 'I', 'F', '8', '9', 'a'});
    for (const char* name : {"cut.jpg", "pic.gif", "missing.png"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(render::MakeThumbnailFromFile(dir.file(name)), render::PictureError);
    }
}

TEST_F(ThumbnailFileTest, ThreadsMakingThumbnailsAtOnceGetWhatOneThreadGets) {
    std::vector<std::string> files;
    for (int i = 0; i < 8; ++i) {
        files.push_back(dir.file("p" + std::to_string(i) + ".jpg"));
        WriteColourJpeg(files.back(), MakeImage(400 + 40 * i, 300, [i](std::int32_t x, std::int32_t y) {
                            return Rgb{static_cast<std::uint8_t>(x + i), static_cast<std::uint8_t>(y * i), static_cast<std::uint8_t>(x ^ y)};
                        }));
    }
    std::vector<std::vector<std::uint8_t>> serial, parallel(files.size());
    for (const auto& f : files) serial.push_back(render::MakeThumbnailFromFile(f).jpeg);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = static_cast<std::size_t>(t); i < files.size(); i += 4)
                parallel[i] = render::MakeThumbnailFromFile(files[i]).jpeg;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(serial, parallel);
}

}  // namespace
}  // namespace kalidrome::test
