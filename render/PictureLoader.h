#pragma once

#include "Image.h"

#include <cstdint>
#include <string>

namespace kalidrome::render {

enum class PictureKind { Jpeg, Png, Bmp, Other };

// The kind a file's extension names, ignoring letter case: ".jpg" and ".jpeg" JPEG, ".png"
// PNG, ".bmp" BMP. Only the file name's own extension counts, not dots in folder names.
PictureKind KindByExtension(const std::string& path);

// The picture loader of the list, the thumbnails and the preview: picks the decoder by the
// extension and decodes at full size. Throws PictureError, also for other extensions.
Image LoadPicture(const std::string& path);

struct PictureDimensions {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// A picture's size from its header, reading only the start of the file (a JPEG's frame header
// may follow embedded thumbnails, so up to 1 MiB of it). Throws PictureError when the header
// cannot be read.
PictureDimensions ReadPictureDimensions(const std::string& path);

}  // namespace kalidrome::render
