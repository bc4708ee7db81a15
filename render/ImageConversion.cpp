#include "ImageConversion.h"

#include "AtomicFile.h"
#include "BmpCodec.h"
#include "FileIo.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PictureLoader.h"
#include "PngCodec.h"
#include "RowPipeline.h"
#include "Scale.h"
#include "Settings.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>

namespace kalidrome::render {

namespace {

std::string WallpaperPath(const std::string& systemPath, const std::string& bitmapTarget) {
    return bitmapTarget.empty() ? systemPath + std::string(settings::kWallpaperFile) : bitmapTarget;
}

// Copies overlay into picture with its bottom-right corner on the picture's, clipped to the
// picture; pixels of the key colour are left out when skipMagenta is set.
void DrawCorner(Image& picture, const Image& overlay, bool skipMagenta) {
    const std::int32_t left = picture.width() - overlay.width();
    const std::int32_t top = picture.height() - overlay.height();
    for (std::int32_t r = std::max(0, -top); r < overlay.height(); ++r) {
        const std::uint8_t* s = overlay.row(r);
        std::uint8_t* d = picture.row(top + r);
        for (std::int32_t c = std::max(0, -left); c < overlay.width(); ++c) {
            const std::uint8_t* p = s + 3 * c;
            // Stored blue, green, red: magenta is 255, 0, 255 either way round.
            if (skipMagenta && p[0] == 255 && p[1] == 0 && p[2] == 255) continue;
            std::memcpy(d + 3 * (left + c), p, 3);
        }
    }
}

// Only a JPEG of exactly 1024 x 768 takes the frame.
bool TakesFrameOverlay(bool useMask, std::int32_t width, std::int32_t height) {
    return useMask && width == 1024 && height == 768;
}

// Of bitmaps only 24-bit ones turn grey; others are used byte for byte. Decoded JPEG and
// PNG pictures always have the 24-bit layout, so they all turn grey.
bool TurnsGrey(bool greyScale, const BmpInfo& info) { return greyScale && info.bitsPerPixel == 24; }

// Grey first, then the frame: the frame keeps its own colours.
void GreyThenFrame(Image& pixels, const std::string& systemPath, bool greyScale, bool framed) {
    if (greyScale) MakeGreyscale(pixels);
    if (framed) ApplyFrameOverlay(pixels, systemPath);
}

// The picture's path added to a decoder's message, so the user knows which file it was.
[[noreturn]] void RethrowNamingFile(const PictureError& e, const std::string& picturePath) {
    throw e.naming(picturePath);
}

// What fitBitmap asks for a width x height picture; Whole without a request, or for a request
// that would not make the bitmap smaller.
BitmapExtent AskedExtent(const BitmapRequest& fitBitmap, std::int32_t width, std::int32_t height) {
    if (!fitBitmap) return {};
    BitmapExtent extent = fitBitmap(width, height);
    const PixelSize& s = extent.size;
    if (s.width <= 0 || s.height <= 0 || s.width > width || s.height > height || (s.width == width && s.height == height))
        return {};
    return extent;
}

// Where the middle part starts in a side of the whole.
std::int32_t MiddleStart(std::int32_t whole, std::int32_t part) { return (whole - part) / 2; }

// Copies the rows first .. first + count - 1 of a picture (top row at top, its own stride)
// that fall into its middle part into middle.
void CopyMiddleRows(const std::uint8_t* top, std::int32_t width, std::int32_t height, std::int32_t first,
                    std::int32_t count, Image& middle) {
    const std::size_t stride = Image::StrideFor(width);
    const std::int32_t left = MiddleStart(width, middle.width());
    const std::int32_t up = MiddleStart(height, middle.height());
    const std::int32_t from = std::max(first, up);
    const std::int32_t to = std::min(first + count, up + middle.height());
    for (std::int32_t y = from; y < to; ++y)
        std::memcpy(middle.row(y - up), top + stride * static_cast<std::size_t>(y) + 3 * static_cast<std::size_t>(left),
                    3 * static_cast<std::size_t>(middle.width()));
}

// Writes the picture, or the part of it extent asks for, as the bitmap at path.
void WriteFittedBitmap(const std::string& path, const Image& picture, const BitmapExtent& extent) {
    switch (extent.fit) {
        case BitmapExtent::Fit::Scaled:
            return WriteBmpFile(path, ScaleAreaAverage(picture, extent.size.width, extent.size.height));
        case BitmapExtent::Fit::Middle: {
            Image middle(extent.size.width, extent.size.height);
            CopyMiddleRows(picture.data(), picture.width(), picture.height(), 0, picture.height(), middle);
            return WriteBmpFile(path, middle);
        }
        case BitmapExtent::Fit::Whole: break;
    }
    WriteBmpFile(path, picture);
}

}  // namespace

BitmapExtent BitmapExtentFor(std::int32_t width, std::int32_t height, platform::Placement placement,
                             PixelSize screen) {
    if (screen.width <= 0 || screen.height <= 0 || (width <= screen.width && height <= screen.height)) return {};
    if (placement == platform::Placement::Stretched)
        return {BitmapExtent::Fit::Scaled, {std::min(width, screen.width), std::min(height, screen.height)}};
    // An even cut leaves the middle where the whole picture's middle was, whichever way a
    // desktop rounds half a pixel.
    auto side = [](std::int32_t whole, std::int32_t shown) {
        if (whole <= shown) return whole;
        return (whole - shown) % 2 == 0 ? shown : shown + 1;
    };
    return {BitmapExtent::Fit::Middle, {side(width, screen.width), side(height, screen.height)}};
}

void MakeGreyscaleRows(Image& image, std::int32_t first, std::int32_t count) {
    for (std::int32_t y = first; y < first + count; ++y) {
        std::uint8_t* p = image.row(y);
        for (std::int32_t x = 0; x < image.width(); ++x, p += 3) {
            const unsigned grey = (77u * p[2] + 151u * p[1] + 28u * p[0]) >> 8;
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(grey);
        }
    }
}

void MakeGreyscale(Image& image) { MakeGreyscaleRows(image, 0, image.height()); }

void ApplyFrameOverlay(Image& picture, const std::string& systemPath) {
    const Image bottom = LoadBmpFile(systemPath + "Images/Bottom.bmp");
    const Image right = LoadBmpFile(systemPath + "Images/Right.bmp");
    DrawCorner(picture, bottom, false);
    DrawCorner(picture, right, true);
}

ConvertedPicture ConvertJpegPicture(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                                    bool useMask, const ScaleRequest& alsoScale, const BitmapRequest& fitBitmap,
                                    const std::string& bitmapTarget) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(picturePath);
    const std::string target = WallpaperPath(systemPath, bitmapTarget);
    ConvertedPicture result;
    result.bitmapPath = target;
    try {
        const JpegHeader header = ReadJpegHeader(bytes.data(), bytes.size());
        if (TakesFrameOverlay(useMask, header.width, header.height)) {
            result.pixels = DecodeJpeg(bytes.data(), bytes.size());
            GreyThenFrame(result.pixels, systemPath, greyScale, true);
            WriteFittedBitmap(target, result.pixels, AskedExtent(fitBitmap, header.width, header.height));
        } else {
            // Rows go to the file as they are decoded, each to its final (bottom-up) place,
            // turned grey, written (and scaled, if asked) by a second thread while the next
            // rows decode.
            // A bitmap smaller than the picture is made beside the decoding (its middle
            // copied out, or the picture scaled) and written at the end.
            CheckPictureSize(header.width, header.height);
            const BitmapExtent extent = AskedExtent(fitBitmap, header.width, header.height);
            std::optional<BmpStreamWriter> writer;
            if (extent.fit == BitmapExtent::Fit::Whole) writer.emplace(target, header.width, header.height);
            Image middle;
            if (extent.fit == BitmapExtent::Fit::Middle) middle = Image(extent.size.width, extent.size.height);
            std::unique_ptr<StreamingAreaAverage> scaler;
            const PixelSize scaleTo = alsoScale ? alsoScale(header.width, header.height) : PixelSize{};
            if (scaleTo.width > 0 && scaleTo.height > 0)
                scaler = std::make_unique<StreamingAreaAverage>(header.width, header.height, scaleTo.width,
                                                                scaleTo.height);
            // The desktop's copy doubles as the bitmap when both are the same size.
            const bool bitmapIsScaled = extent.fit == BitmapExtent::Fit::Scaled && scaler && scaleTo == extent.size;
            std::unique_ptr<StreamingAreaAverage> bitmapScaler;
            if (extent.fit == BitmapExtent::Fit::Scaled && !bitmapIsScaled)
                bitmapScaler = std::make_unique<StreamingAreaAverage>(header.width, header.height, extent.size.width,
                                                                      extent.size.height);
            const std::uint8_t* top = nullptr;
            RowPipeline pipeline(header.height, [&](std::int32_t first, std::int32_t count) {
                // Announced rows are final: the decoder no longer touches them.
                if (greyScale) MakeGreyscaleRows(result.pixels, first, count);
                if (writer) writer->writeRows(top, first, count);
                if (!middle.empty()) CopyMiddleRows(top, header.width, header.height, first, count, middle);
                if (scaler) scaler->addRows(top, first, count);
                if (bitmapScaler) bitmapScaler->addRows(top, first, count);
            });
            DecodeJpegInto(bytes.data(), bytes.size(), result.pixels, 8,
                           [&](const Image& image, std::int32_t first, std::int32_t count) {
                               top = image.data();  // set before the first rows are announced
                               pipeline.rowsReady(first + count);
                           });
            pipeline.finish();
            if (scaler) result.scaled = scaler->take();
            if (writer) writer->commit();
            else if (!middle.empty()) WriteBmpFile(target, middle);
            else if (bitmapIsScaled) WriteBmpFile(target, result.scaled);
            else WriteBmpFile(target, bitmapScaler->take());
        }
    } catch (const PictureError& e) {
        RethrowNamingFile(e, picturePath);
    }
    return result;
}

ConvertedPicture ConvertPngPicture(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                                   const BitmapRequest& fitBitmap, const std::string& bitmapTarget) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(picturePath);
    ConvertedPicture result;
    result.bitmapPath = WallpaperPath(systemPath, bitmapTarget);
    try {
        result.pixels = DecodePng(bytes.data(), bytes.size());
    } catch (const PictureError& e) {
        RethrowNamingFile(e, picturePath);
    }
    GreyThenFrame(result.pixels, systemPath, greyScale, false);
    WriteFittedBitmap(result.bitmapPath, result.pixels,
                      AskedExtent(fitBitmap, result.pixels.width(), result.pixels.height()));
    return result;
}

ConvertedPicture ConvertPicture(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                                bool useMask, const ScaleRequest& alsoScale, const BitmapRequest& fitBitmap,
                                const std::string& bitmapTarget) {
    switch (KindByExtension(picturePath)) {
        case PictureKind::Jpeg:
            return ConvertJpegPicture(picturePath, systemPath, greyScale, useMask, alsoScale, fitBitmap, bitmapTarget);
        case PictureKind::Png: return ConvertPngPicture(picturePath, systemPath, greyScale, fitBitmap, bitmapTarget);
        default: break;
    }
    ConvertedPicture result;
    if (!greyScale) {
        result.bitmapPath = picturePath;
        return result;
    }
    const std::vector<std::uint8_t> bytes = ReadWholeFile(picturePath);
    try {
        const BmpInfo info = ReadBmpInfo(bytes.data(), bytes.size());
        result.pixels = DecodeBmp(bytes.data(), bytes.size());
        result.bitmapPath = WallpaperPath(systemPath, bitmapTarget);
        if (TurnsGrey(greyScale, info)) {
            MakeGreyscale(result.pixels);
            WriteFittedBitmap(result.bitmapPath, result.pixels,
                              AskedExtent(fitBitmap, result.pixels.width(), result.pixels.height()));
        } else {
            try {
                platform::AtomicFile file(result.bitmapPath);
                file.write(bytes.data(), bytes.size());
                CommitLargeFile(file);
            } catch (const std::system_error& e) {
                ThrowWriteError(result.bitmapPath, e);
            }
        }
    } catch (const PictureError& e) {
        RethrowNamingFile(e, picturePath);
    }
    return result;
}

Image ConvertPictureInMemory(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                             bool useMask) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(picturePath);
    Image pixels;
    try {
        switch (KindByExtension(picturePath)) {
            case PictureKind::Jpeg:
                pixels = DecodeJpeg(bytes.data(), bytes.size());
                GreyThenFrame(pixels, systemPath, greyScale, TakesFrameOverlay(useMask, pixels.width(), pixels.height()));
                break;
            case PictureKind::Png:
                pixels = DecodePng(bytes.data(), bytes.size());
                GreyThenFrame(pixels, systemPath, greyScale, false);
                break;
            default: {
                const BmpInfo info = ReadBmpInfo(bytes.data(), bytes.size());
                pixels = DecodeBmp(bytes.data(), bytes.size());
                if (TurnsGrey(greyScale, info)) MakeGreyscale(pixels);
                break;
            }
        }
    } catch (const PictureError& e) {
        RethrowNamingFile(e, picturePath);
    }
    return pixels;
}

}  // namespace kalidrome::render
