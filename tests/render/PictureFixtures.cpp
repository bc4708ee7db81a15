#include "PictureFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

namespace kalidrome::test {

Rgb PixelAt(const render::Image& image, std::int32_t x, std::int32_t y) {
    const std::uint8_t* p = image.row(y) + 3 * x;
    return {p[2], p[1], p[0]};
}

void SetPixel(render::Image& image, std::int32_t x, std::int32_t y, Rgb c) {
    std::uint8_t* p = image.row(y) + 3 * x;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
}

render::Image MakeImage(std::int32_t width, std::int32_t height, const std::function<Rgb(std::int32_t, std::int32_t)>& at) {
    render::Image image(width, height);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) SetPixel(image, x, y, at(x, y));
    return image;
}

render::Image SolidImage(std::int32_t width, std::int32_t height, Rgb colour) {
    return MakeImage(width, height, [colour](std::int32_t, std::int32_t) { return colour; });
}

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::string Describe(Rgb c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

struct JpegFile {
    JpegFile(const std::string& path, std::int32_t width, std::int32_t height, int components, J_COLOR_SPACE space)
        : file(std::fopen(path.c_str(), "wb")) {
        if (!file) throw std::runtime_error("cannot write " + path);
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, file);
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = components;
        cinfo.in_color_space = space;
        jpeg_set_defaults(&cinfo);
    }
    // The same row for every line of the picture.
    void WriteRows(std::vector<std::uint8_t>& row) {
        jpeg_start_compress(&cinfo, TRUE);
        for (JDIMENSION y = 0; y < cinfo.image_height; ++y) {
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_compress(&cinfo);
    }
    ~JpegFile() {
        jpeg_destroy_compress(&cinfo);
        std::fclose(file);
    }
    std::FILE* file;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
};

}  // namespace

void WriteColourJpeg(const std::string& path, const render::Image& image, int quality, bool progressive) {
    JpegFile f(path, image.width(), image.height(), 3, JCS_RGB);
    jpeg_set_quality(&f.cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&f.cinfo);
    jpeg_start_compress(&f.cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width()) * 3);
    for (std::int32_t y = 0; y < image.height(); ++y) {
        for (std::int32_t x = 0; x < image.width(); ++x) {
            const Rgb c = PixelAt(image, x, y);
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&f.cinfo, &r, 1);
    }
    jpeg_finish_compress(&f.cinfo);
}

void WriteGreyJpeg(const std::string& path, std::int32_t width, std::int32_t height, std::uint8_t level) {
    JpegFile f(path, width, height, 1, JCS_GRAYSCALE);
    jpeg_set_quality(&f.cinfo, 95, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width), level);
    f.WriteRows(row);
}

void WriteCmykJpeg(const std::string& path, std::int32_t width, std::int32_t height, std::array<std::uint8_t, 4> inks,
                   bool adobeInverted) {
    JpegFile f(path, width, height, 4, JCS_CMYK);
    jpeg_set_colorspace(&f.cinfo, JCS_CMYK);
    jpeg_set_quality(&f.cinfo, 95, TRUE);
    f.cinfo.write_Adobe_marker = adobeInverted ? TRUE : FALSE;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
    for (std::int32_t x = 0; x < width; ++x)
        for (int k = 0; k < 4; ++k)
            row[4 * x + k] = adobeInverted ? static_cast<std::uint8_t>(255 - inks[k]) : inks[k];
    f.WriteRows(row);
}

void WritePng(const std::string& path, std::int32_t width, std::int32_t height, const PngSpec& spec,
              const std::vector<std::uint16_t>& samples) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot write " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), spec.bitDepth,
                 spec.colorType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (const Rgb& c : spec.palette) palette.push_back({c.r, c.g, c.b});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_write_info(png, info);
    if (spec.bitDepth == 16) png_set_swap(png);  // rows below hold 16-bit samples in host order
    if (spec.bitDepth < 8) png_set_packing(png);
    const int channels = png_get_channels(png, info);
    const int bytesPerSample = spec.bitDepth == 16 ? 2 : 1;
    std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(height));
    std::vector<png_bytep> pointers;
    std::size_t i = 0;
    for (auto& row : rows) {
        row.resize(static_cast<std::size_t>(width) * channels * bytesPerSample);
        for (std::size_t k = 0; k < static_cast<std::size_t>(width) * channels; ++k, ++i) {
            if (bytesPerSample == 2) {
                row[2 * k] = static_cast<std::uint8_t>(samples[i] & 0xFF);
                row[2 * k + 1] = static_cast<std::uint8_t>(samples[i] >> 8);
            } else {
                row[k] = static_cast<std::uint8_t>(samples[i]);
            }
        }
        pointers.push_back(row.data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

}  // namespace kalidrome::test
