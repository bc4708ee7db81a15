#pragma once

#include "Image.h"

#include <memory>

namespace kalidrome::render {

// Resizes the whole of source into width x height by area averaging: each destination pixel
// is the mean of the source area it covers, source pixels cut by its edges counted by the
// part inside. Shrinking never skips a source pixel; enlarging repeats pixels with blended
// seams. threads > 1 splits the rows among that many threads.
Image ScaleAreaAverage(const Image& source, std::int32_t width, std::int32_t height, int threads = 1);

// The same area average fed with source rows as they become available (top to bottom), so
// that scaling can run beside a decoder. Gives exactly the pixels ScaleAreaAverage gives.
class StreamingAreaAverage {
public:
    StreamingAreaAverage(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t width,
                         std::int32_t height);
    ~StreamingAreaAverage();
    StreamingAreaAverage(const StreamingAreaAverage&) = delete;
    StreamingAreaAverage& operator=(const StreamingAreaAverage&) = delete;

    // Source rows first .. first + count - 1, continuing where the last call stopped; top is
    // the source's row 0, rows Image::StrideFor(sourceWidth) apart.
    void addRows(const std::uint8_t* top, std::int32_t first, std::int32_t count);
    // The scaled picture, once every source row has been added.
    Image take();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace kalidrome::render
