#pragma once

#include "Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kalidrome::render {

// Thumbnails fit in an 85 x 85 box.
inline constexpr std::int32_t kThumbnailBox = 85;
inline constexpr int kThumbnailQuality = 90;

struct ThumbnailSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const ThumbnailSize&, const ThumbnailSize&) = default;
};

// The thumbnail size of a width x height picture: unchanged when it fits the box; else the
// longer side (the width only when strictly longer) becomes the box's side (85 for the
// thumbnails the list keeps) and the other keeps the proportion, rounded to the nearest
// integer with halves to even, and at least 1.
ThumbnailSize ThumbnailSizeFor(std::int32_t width, std::int32_t height, std::int32_t box = kThumbnailBox);

// The thumbnail of a picture: an unscaled copy when it fits the box, else the area average
// at ThumbnailSizeFor.
Image ScaleToThumbnail(const Image& source);

struct EncodedThumbnail {
    std::vector<std::uint8_t> jpeg;  // baseline colour JPEG, quality 90
    std::int32_t width = 0;
    std::int32_t height = 0;
};

std::vector<std::uint8_t> EncodeThumbnail(const Image& thumbnail);

// Loads the picture (JPEG, PNG or BMP by its extension, in any letter case), scales it to
// its thumbnail and encodes it. Large JPEG pictures are decoded at a reduced scale (libjpeg's
// DCT scaling, never below the thumbnail size) before the area average. Safe to call from
// several threads at once. Throws PictureError.
// A larger box (the list's box times the screen's pixel ratio) makes the sharper picture a
// high-resolution screen shows in the same place; such thumbnails are only shown, never kept.
EncodedThumbnail MakeThumbnailFromFile(const std::string& path, std::int32_t box = kThumbnailBox);

}  // namespace kalidrome::render
