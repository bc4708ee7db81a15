// Decodes arbitrary bytes as JPEG, at full size and at the smallest DCT scale the thumbnails
// use, and reads every pixel so that uninitialised rows show up under the sanitizers.
#include "JpegCodec.h"
#include "PictureError.h"

#include <cstdint>

namespace {

unsigned Touch(const kalidrome::render::Image& image) {
    unsigned sum = 0;
    for (std::int32_t y = 0; y < image.height(); ++y)
        for (std::size_t i = 0; i < static_cast<std::size_t>(image.width()) * 3; ++i) sum += image.row(y)[i];
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    volatile unsigned sink = 0;
    for (const int scale : {8, 1}) {
        try {
            sink = sink + Touch(kalidrome::render::DecodeJpeg(data, size, scale));
        } catch (const kalidrome::render::PictureError&) {
        }
    }
    return 0;
}
