#pragma once

#include "Image.h"

#include <cstdint>

namespace kalidrome::render {

// Decodes any PNG (palette, grey, grey with alpha, colour with or without alpha, 1 to 16
// bits, interlaced or not, with or without a transparency chunk) into its colour pixels;
// alpha is not used. Chunks other than the pixels, palette and transparency are skipped
// unread, so memory stays bounded by the picture's size whatever sizes the chunks declare.
// Throws PictureError, naming what is wrong, for corrupt or cut pictures; never ends the
// process.
Image DecodePng(const std::uint8_t* data, std::size_t size);

}  // namespace kalidrome::render
