#include "Thumbnail.h"

#include "FileIo.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PictureLoader.h"
#include "Scale.h"

#include <algorithm>

namespace kalidrome::render {

namespace {

// numerator / denominator rounded to nearest, halves to even (both positive).
std::int32_t RoundHalfEven(std::int64_t numerator, std::int64_t denominator) {
    std::int64_t q = numerator / denominator;
    const std::int64_t twice = 2 * (numerator % denominator);
    if (twice > denominator || (twice == denominator && (q & 1) != 0)) ++q;
    return static_cast<std::int32_t>(q);
}

// Smallest libjpeg scale (in eighths) whose output is still at least the wanted size.
int DctScaleFor(std::int32_t width, std::int32_t height, ThumbnailSize wanted) {
    for (int n = 1; n < 8; ++n) {
        const std::int64_t w = (static_cast<std::int64_t>(width) * n + 7) / 8;
        const std::int64_t h = (static_cast<std::int64_t>(height) * n + 7) / 8;
        if (w >= wanted.width && h >= wanted.height) return n;
    }
    return 8;
}

}  // namespace

ThumbnailSize ThumbnailSizeFor(std::int32_t width, std::int32_t height, std::int32_t box) {
    if (width <= box && height <= box) return {width, height};
    // A side that rounds to 0 (a picture 200 times wider than high) still gets one pixel.
    if (width > height) return {box, std::max(1, RoundHalfEven(static_cast<std::int64_t>(height) * box, width))};
    return {std::max(1, RoundHalfEven(static_cast<std::int64_t>(width) * box, height)), box};
}

Image ScaleToThumbnail(const Image& source) {
    const ThumbnailSize size = ThumbnailSizeFor(source.width(), source.height());
    return ScaleAreaAverage(source, size.width, size.height);
}

std::vector<std::uint8_t> EncodeThumbnail(const Image& thumbnail) { return EncodeJpeg(thumbnail, kThumbnailQuality); }

EncodedThumbnail MakeThumbnailFromFile(const std::string& path, std::int32_t box) {
    // Made beside a wallpaper change, two at a time: each takes a smaller share of memory.
    const DecodeMemoryCapScope cap(kMaxThumbnailDecodeBytes);
    Image thumbnail;
    if (KindByExtension(path) == PictureKind::Jpeg) {
        const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
        try {
            const JpegHeader header = ReadJpegHeader(bytes.data(), bytes.size());
            const ThumbnailSize size = ThumbnailSizeFor(header.width, header.height, box);
            const Image decoded = DecodeJpeg(bytes.data(), bytes.size(), DctScaleFor(header.width, header.height, size));
            thumbnail = ScaleAreaAverage(decoded, size.width, size.height);
        } catch (const PictureError& e) {
            throw e.naming(path);
        }
    } else {
        const Image picture = LoadPicture(path);
        const ThumbnailSize size = ThumbnailSizeFor(picture.width(), picture.height(), box);
        thumbnail = ScaleAreaAverage(picture, size.width, size.height);
    }
    EncodedThumbnail result;
    result.width = thumbnail.width();
    result.height = thumbnail.height();
    result.jpeg = EncodeThumbnail(thumbnail);
    return result;
}

}  // namespace kalidrome::render
