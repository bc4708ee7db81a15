#pragma once

#include "Image.h"

#include <cstdint>

namespace kalidrome::render {

// Decodes any PNG (palette, grey, grey with alpha, colour with or without alpha, 1 to 16
// bits, interlaced or not) into its colour pixels; alpha is not used. Throws PictureError
// for corrupt or cut pictures; never ends the process.
Image DecodePng(const std::uint8_t* data, std::size_t size);

}  // namespace kalidrome::render
