#pragma once

#include "Image.h"

namespace kalidrome::render {

// Resizes the whole of source into width x height by area averaging: each destination pixel
// is the mean of the source area it covers, source pixels cut by its edges counted by the
// part inside. Shrinking never skips a source pixel; enlarging repeats pixels with blended
// seams. threads > 1 splits the rows among that many threads.
Image ScaleAreaAverage(const Image& source, std::int32_t width, std::int32_t height, int threads = 1);

}  // namespace kalidrome::render
