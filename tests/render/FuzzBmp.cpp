// Reads arbitrary bytes as a BMP: the header alone, then the pixels, then writes the result
// back and decodes that again, which must give the same pixels.
#include "BmpCodec.h"
#include "PictureError.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalidrome::render;
    try {
        const BmpInfo info = ReadBmpInfo(data, size);
        const Image image = DecodeBmp(data, size);
        if (image.width() != info.width || image.height() != info.height) std::abort();
        const std::vector<std::uint8_t> again = EncodeBmp24(image);
        const Image back = DecodeBmp(again.data(), again.size());
        if (back.byteSize() != image.byteSize() || std::memcmp(back.data(), image.data(), image.byteSize()) != 0)
            std::abort();
    } catch (const PictureError&) {
    }
    return 0;
}
