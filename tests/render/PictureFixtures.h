#pragma once

// Small pictures made by the tests themselves, written with libjpeg and libpng directly (not
// through the code under test) where the format's own writer matters.

#include "Image.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kalidrome::test {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kMagenta{255, 0, 255};

Rgb PixelAt(const render::Image& image, std::int32_t x, std::int32_t y);
void SetPixel(render::Image& image, std::int32_t x, std::int32_t y, Rgb colour);
render::Image MakeImage(std::int32_t width, std::int32_t height, const std::function<Rgb(std::int32_t, std::int32_t)>& at);
render::Image SolidImage(std::int32_t width, std::int32_t height, Rgb colour);
// Each channel within tolerance (JPEG is lossy).
bool Near(Rgb a, Rgb b, int tolerance);
std::string Describe(Rgb c);

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// JPEG files written by libjpeg directly.
void WriteColourJpeg(const std::string& path, const render::Image& image, int quality = 95, bool progressive = false);
void WriteGreyJpeg(const std::string& path, std::int32_t width, std::int32_t height, std::uint8_t level);
// A CMYK picture of one colour given as ink amounts (0 none, 255 full). adobeInverted stores
// the inks inverted under an Adobe marker, as Photoshop does; otherwise plain without one.
void WriteCmykJpeg(const std::string& path, std::int32_t width, std::int32_t height, std::array<std::uint8_t, 4> inks,
                   bool adobeInverted);

// PNG files written by libpng directly. samples holds, per pixel, the channels of colorType
// at bitDepth (palette indices for palette pictures), row by row.
struct PngSpec {
    PngSpec(int type = 2, int depth = 8, bool interlace = false, std::vector<Rgb> colours = {})
        : colorType(type), bitDepth(depth), interlaced(interlace), palette(std::move(colours)) {}
    int colorType;  // 2 is PNG_COLOR_TYPE_RGB
    int bitDepth;
    bool interlaced;
    std::vector<Rgb> palette;
};
void WritePng(const std::string& path, std::int32_t width, std::int32_t height, const PngSpec& spec,
              const std::vector<std::uint16_t>& samples);

}  // namespace kalidrome::test
