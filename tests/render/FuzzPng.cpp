// Decodes arbitrary bytes as PNG and reads every pixel.
#include "PictureError.h"
#include "PngCodec.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const kalidrome::render::Image image = kalidrome::render::DecodePng(data, size);
        volatile unsigned sum = 0;
        for (std::int32_t y = 0; y < image.height(); ++y)
            for (std::size_t i = 0; i < static_cast<std::size_t>(image.width()) * 3; ++i)
                sum = sum + image.row(y)[i];
    } catch (const kalidrome::render::PictureError&) {
    }
    return 0;
}
