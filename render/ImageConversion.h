#pragma once

#include "Desktop.h"
#include "Image.h"

#include <functional>
#include <string>

namespace kalidrome::render {

// The result of turning a picture into the bitmap the desktop shows.
struct ConvertedPicture {
    // WallPaper.bmp in the System folder, or a bitmap picture's own path.
    std::string bitmapPath;
    // The bitmap's pixels as decoded on the way; empty for a bitmap picture handed on as it
    // is (its file was not read).
    Image pixels;
    // The picture area-averaged to the size the ScaleRequest asked for, where the
    // conversion could do that beside the decoder; else empty.
    Image scaled;
};

// Asked once the picture's size is known (before its pixels are decoded): the size to scale
// it to on the way, or an empty size for none.
using ScaleRequest = std::function<PixelSize(std::int32_t width, std::int32_t height)>;

// What WallPaper.bmp holds of a picture: all of it, the picture area-averaged to size (a
// desktop that stretches it shows no more), or the middle size of it (a desktop that centres
// it unscaled shows no more).
struct BitmapExtent {
    enum class Fit { Whole, Scaled, Middle };
    Fit fit = Fit::Whole;
    PixelSize size;
    friend bool operator==(const BitmapExtent&, const BitmapExtent&) = default;
};

// Asked once the picture's size is known: how much of it the bitmap is to hold.
using BitmapRequest = std::function<BitmapExtent(std::int32_t width, std::int32_t height)>;

// The bitmap a desktop needs for a width x height picture placed so on a screen of that
// size: stretched, the picture shrunk in each side that exceeds the screen's; centred, the
// middle that the screen shows, one pixel wider (taller) where that keeps the cut even on
// both sides, so a desktop centring the smaller bitmap shows the very same pixels. Whole
// when the picture fits.
BitmapExtent BitmapExtentFor(std::int32_t width, std::int32_t height, platform::Placement placement,
                             PixelSize screen);

// Turns the picture into the bitmap the desktop shows. JPEG (".jpg", ".jpeg") and PNG
// (".png") pictures, in any letter case, are decoded, turned grey when greyScale is on and
// written as WallPaper.bmp in the System folder; a JPEG of exactly 1024 x 768 gets the frame
// overlay (in colour, after the grey) when useMask is on. Anything else is taken as a
// bitmap: handed on by its own path with greyScale off; with greyScale on, a 24-bit one is
// (".png") pictures, in any letter case, are decoded, turned grey when greyScale is on and
// written as WallPaper.bmp in the System folder; a JPEG of exactly 1024 x 768 gets the frame
// overlay (in colour, after the grey) when useMask is on. Anything else is taken as a
// bitmap: handed on by its own path with greyScale off; with greyScale on, a 24-bit one is
// turned grey and written as WallPaper.bmp, any other is written there unchanged.
// WallPaper.bmp is replaced atomically and keeps its old content on any failure. systemPath
// ends with "/". fitBitmap, when given, says how much of the picture WallPaper.bmp holds (the
// frame and the grey applied first); pixels always hold the whole picture. A non-empty
// bitmapTarget is written instead of WallPaper.bmp (a picture made ready ahead of its turn,
// moved into place when it is due). Throws on every failure.
ConvertedPicture ConvertPicture(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                                bool useMask, const ScaleRequest& alsoScale = {}, const BitmapRequest& fitBitmap = {},
                                const std::string& bitmapTarget = {});
ConvertedPicture ConvertJpegPicture(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                                    bool useMask, const ScaleRequest& alsoScale = {},
                                    const BitmapRequest& fitBitmap = {}, const std::string& bitmapTarget = {});
ConvertedPicture ConvertPngPicture(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                                   const BitmapRequest& fitBitmap = {}, const std::string& bitmapTarget = {});

// The pixels the desktop would be given for the picture, decoded in memory by the rules of
// ConvertPicture (grey with greyScale for JPEG, PNG and 24-bit bitmaps; then the frame
// overlay on a 1024 x 768 JPEG with useMask) and written nowhere. Throws on every failure.
Image ConvertPictureInMemory(const std::string& picturePath, const std::string& systemPath, bool greyScale,
                             bool useMask);

// grey = (77 R + 151 G + 28 B) >> 8 for every pixel (of rows first .. first + count - 1).
void MakeGreyscale(Image& image);
void MakeGreyscaleRows(Image& image, std::int32_t first, std::int32_t count);

// Draws Images/Bottom.bmp (opaque) and then Images/Right.bmp (magenta 255, 0, 255 lets the
// picture show through) into the bottom-right corner of the picture. Throws when either
// file is missing or unreadable.
void ApplyFrameOverlay(Image& picture, const std::string& systemPath);

}  // namespace kalidrome::render
