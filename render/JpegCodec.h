#pragma once

#include "Image.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kalidrome::render {

struct JpegHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int components = 0;
};

// Reads the frame header only. Throws PictureError when the data is not a JPEG picture.
JpegHeader ReadJpegHeader(const std::uint8_t* data, std::size_t size);

// Called after each batch of decoded rows, with the rows first .. first + count - 1 of the
// picture, which are final from then on.
using RowsDecoded = std::function<void(const Image& image, std::int32_t first, std::int32_t count)>;

// Decodes a JPEG picture (colour, greyscale, CMYK, YCCK, Adobe-inverted CMYK) into colour
// pixels. scaleEighths (1 to 8) shrinks the picture while decoding, by libjpeg's scaled inverse
// DCT: the result is ceil(width * scaleEighths / 8) wide, likewise high. Throws PictureError
// for corrupt or cut pictures; never ends the process.
Image DecodeJpeg(const std::uint8_t* data, std::size_t size, int scaleEighths = 8,
                 const RowsDecoded& onRows = {});
// The same into a picture the caller owns (allocated here), for callers whose row consumers
// must be stopped before the pixel memory goes away, also when decoding fails.
void DecodeJpegInto(const std::uint8_t* data, std::size_t size, Image& out, int scaleEighths = 8,
                    const RowsDecoded& onRows = {});

// Baseline colour JPEG of the picture at quality 1..100.
std::vector<std::uint8_t> EncodeJpeg(const Image& image, int quality);

}  // namespace kalidrome::render
