#include "PictureFixtures.h"
#include "Scale.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kalidrome::test {
namespace {

render::Image Pattern(std::int32_t w, std::int32_t h) {
    return MakeImage(w, h, [](std::int32_t x, std::int32_t y) {
        return Rgb{static_cast<std::uint8_t>((x * 37 + y * 11) & 255), static_cast<std::uint8_t>((x * y) & 255),
                   static_cast<std::uint8_t>((x ^ y) * 5 & 255)};
    });
}

bool SamePixels(const render::Image& a, const render::Image& b) {
    return a.width() == b.width() && a.height() == b.height() && std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

TEST(AreaAverage, EachPixelIsTheMeanOfWhatItCovers) {
    // One-pixel stripes of black and white: an area average gives mid grey everywhere, a
    // sampling scaler would give black or white.
    const render::Image stripes = MakeImage(170, 170, [](std::int32_t x, std::int32_t) { return (x & 1) ? kWhite : kBlack; });
    const render::Image half = render::ScaleAreaAverage(stripes, 85, 85);
    for (const auto& [x, y] : {std::pair{0, 0}, {42, 42}, {84, 84}}) {
        const Rgb p = PixelAt(half, x, y);
        EXPECT_TRUE(Near(p, Rgb{128, 128, 128}, 1)) << Describe(p);
    }
    // A 3-to-2 shrink: the middle destination pixel covers half of source pixel 1 and half
    // of source pixel 2.
    const render::Image row = MakeImage(3, 1, [](std::int32_t x, std::int32_t) { return x == 0 ? kBlack : x == 1 ? Rgb{90, 90, 90} : Rgb{30, 30, 30}; });
    const render::Image two = render::ScaleAreaAverage(row, 2, 1);
    EXPECT_TRUE(Near(PixelAt(two, 0, 0), Rgb{30, 30, 30}, 1)) << Describe(PixelAt(two, 0, 0));  // (0 + 90/2) / 1.5
    EXPECT_TRUE(Near(PixelAt(two, 1, 0), Rgb{50, 50, 50}, 1)) << Describe(PixelAt(two, 1, 0));  // (45 + 30) / 1.5
}

TEST(AreaAverage, SolidColourStaysExact) {
    const render::Image solid = SolidImage(997, 613, Rgb{13, 200, 255});
    for (const auto& [w, h] : {std::pair{85, 52}, {1920, 1080}, {1, 1}, {997, 1}}) {
        const render::Image out = render::ScaleAreaAverage(solid, w, h);
        EXPECT_EQ(Describe(PixelAt(out, w - 1, h - 1)), Describe(Rgb{13, 200, 255})) << w << "x" << h;
        EXPECT_EQ(Describe(PixelAt(out, w / 2, h / 2)), Describe(Rgb{13, 200, 255})) << w << "x" << h;
    }
}

TEST(AreaAverage, ThreadsAndStreamingGiveTheSamePixels) {
    const render::Image source = Pattern(301, 203);
    for (const auto& [w, h] : {std::pair{85, 57}, {100, 203}, {640, 480}, {150, 7}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const render::Image one = render::ScaleAreaAverage(source, w, h, 1);
        EXPECT_TRUE(SamePixels(one, render::ScaleAreaAverage(source, w, h, 2)));
        EXPECT_TRUE(SamePixels(one, render::ScaleAreaAverage(source, w, h, 3)));
        render::StreamingAreaAverage streaming(source.width(), source.height(), w, h);
        // Rows arrive in uneven batches, as a decoder hands them out.
        for (std::int32_t y = 0, step = 1; y < source.height(); y += step, step = step % 17 + 3)
            streaming.addRows(source.data(), y, std::min(step, source.height() - y));
        EXPECT_TRUE(SamePixels(one, streaming.take()));
    }
}

}  // namespace
}  // namespace kalidrome::test
