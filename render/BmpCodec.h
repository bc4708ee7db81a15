#pragma once

#include "AtomicFile.h"
#include "FileIo.h"
#include "Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kalidrome::render {

// What the headers of a Windows bitmap file say.
struct BmpInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;  // always positive; topDown tells the row order
    int bitsPerPixel = 0;
    std::uint32_t compression = 0;  // BI_RGB 0, BI_RLE8 1, BI_RLE4 2, BI_BITFIELDS 3
    bool topDown = false;
    std::uint32_t headerSize = 0;  // 12 core, 40 info, 52/56 info with masks, 108 V4, 124 V5
};

// Reads and checks the headers only; the pixels are not looked at. Throws PictureError for
// anything that is not a bitmap this program can read.
BmpInfo ReadBmpInfo(const std::uint8_t* data, std::size_t size);
// Reads only the start of the file.
BmpInfo ReadBmpFileInfo(const std::string& path);

// Decodes core, info, V4 and V5 bitmaps: 1, 4, 8, 16, 24 and 32 bits per pixel, uncompressed,
// bit fields, RLE4 and RLE8, bottom-up and top-down. Alpha is not used. Pixels an RLE bitmap
// skips take palette colour 0. Throws PictureError for corrupt or cut files.
Image DecodeBmp(const std::uint8_t* data, std::size_t size);
Image LoadBmpFile(const std::string& path);

// The 54-byte header of an uncompressed bottom-up 24-bit BMP of this size.
std::vector<std::uint8_t> BmpHeader24(std::int32_t width, std::int32_t height);
std::vector<std::uint8_t> EncodeBmp24(const Image& image);
// Replaces path atomically with the picture as an uncompressed 24-bit bitmap.
void WriteBmpFile(const std::string& path, const Image& image);

// Writes a 24-bit bitmap as its rows arrive, each straight to its final place in the file
// (bottom-up), so no second copy of the picture is needed. The target is replaced only by
// commit(); dropping the writer before that leaves the old file whole.
class BmpStreamWriter {
public:
    BmpStreamWriter(const std::string& path, std::int32_t width, std::int32_t height);
    // Rows first .. first + count - 1 of image (same size as given above), top-down indices.
    void writeRows(const Image& image, std::int32_t first, std::int32_t count);
    // The same for rows of a picture given by its top row and row stride (that of Image).
    void writeRows(const std::uint8_t* top, std::int32_t first, std::int32_t count);
    void commit();

private:
    std::string m_path;
    platform::AtomicFile m_file;
    std::int32_t m_width;
    std::int32_t m_height;
    std::size_t m_stride;
};

}  // namespace kalidrome::render
