#include "Image.h"

#include "PictureError.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>

namespace kalidrome::render {

void CheckPictureSize(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0)
        throw PictureError("The picture has no pixels (" + std::to_string(width) + " x " +
                           std::to_string(height) + ")");
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
        throw PictureError("The picture is too large (" + std::to_string(width) + " x " +
                               std::to_string(height) + " pixels)",
                           PictureError::Reason::TooLarge);
}

namespace {
thread_local std::uint64_t t_decodeCap = kMaxDecodeBytes;
}

std::uint64_t DecodeMemoryCap() { return t_decodeCap; }

DecodeMemoryCapScope::DecodeMemoryCapScope(std::uint64_t cap) : m_previous(t_decodeCap) { t_decodeCap = cap; }
DecodeMemoryCapScope::~DecodeMemoryCapScope() { t_decodeCap = m_previous; }

void CheckDecodeMemory(std::uint64_t bytes, std::int64_t width, std::int64_t height) {
    if (bytes <= t_decodeCap) return;
    throw PictureError("The picture is too large (" + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels; decoding it needs " + std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB)",
                       PictureError::Reason::TooLarge);
}

Image::Image(std::int32_t width, std::int32_t height) {
    CheckPictureSize(width, height);
    m_width = width;
    m_height = height;
    m_stride = StrideFor(width);
    // Not cleared: the decoders write every byte, and clearing 70 MB first would cost as much
    // as writing it out. Large pictures are mapped with their pages populated in one go: a
    // 24-megapixel photo otherwise takes some 18000 page faults on first touch, a tenth of
    // its decoding time.
    const std::size_t bytes = m_stride * static_cast<std::size_t>(height);
    void* memory = nullptr;
    if (bytes >= kMappedBytes) {
        memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (memory == MAP_FAILED) memory = nullptr;
    } else {
        memory = std::malloc(bytes);
    }
    if (!memory)
        throw PictureError("Out of memory for a " + std::to_string(width) + " x " + std::to_string(height) + " picture");
    m_pixels = std::unique_ptr<std::uint8_t, Free>(static_cast<std::uint8_t*>(memory), Free{bytes});
    // The padding bytes at the end of each row go to files as they are; keep them zero.
    const std::size_t used = static_cast<std::size_t>(width) * 3;
    if (used != m_stride)
        for (std::int32_t y = 0; y < height; ++y) std::memset(row(y) + used, 0, m_stride - used);
}

void Image::Free::operator()(std::uint8_t* p) const {
    if (bytes >= kMappedBytes)
        ::munmap(p, bytes);
    else
        std::free(p);
}

Image Image::clone() const {
    Image copy;
    if (empty()) return copy;
    copy = Image(m_width, m_height);
    std::memcpy(copy.data(), data(), byteSize());
    return copy;
}

void Image::fill(std::uint8_t value) {
    if (!empty()) std::memset(data(), value, byteSize());
}

}  // namespace kalidrome::render
