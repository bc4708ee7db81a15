#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kalidrome::render {

// Largest picture the program decodes. A 24-megapixel photo is common and panoramas run
// larger, so the cap leaves room well beyond that while keeping one picture's memory below
// half a gigabyte; anything bigger is refused before any pixel memory is taken.
inline constexpr std::int64_t kMaxPixels = 150'000'000;
inline constexpr std::int32_t kMaxSide = 65535;

struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// Throws PictureError unless width x height is a size the program is prepared to hold.
void CheckPictureSize(std::int64_t width, std::int64_t height);

// The memory one decoding may take: the file's bytes, the decoded pixels and the decoder's
// own buffers (a progressive JPEG keeps 2 bytes for every coefficient of the whole picture,
// as much again as its pixels or twice that). A wallpaper change stays under 512 MB with the
// rest of its work; a thumbnail, two of which are made at a time beside a change, takes
// less, so that together they stay under 1 GB.
inline constexpr std::uint64_t kMaxDecodeBytes = std::uint64_t{480} << 20;
inline constexpr std::uint64_t kMaxThumbnailDecodeBytes = std::uint64_t{224} << 20;

// The cap of decodings on this thread: kMaxDecodeBytes unless a scope lowers it.
std::uint64_t DecodeMemoryCap();
class DecodeMemoryCapScope {
public:
    explicit DecodeMemoryCapScope(std::uint64_t cap);
    ~DecodeMemoryCapScope();
    DecodeMemoryCapScope(const DecodeMemoryCapScope&) = delete;
    DecodeMemoryCapScope& operator=(const DecodeMemoryCapScope&) = delete;

private:
    std::uint64_t m_previous;
};

// Throws PictureError "The picture is too large (<w> x <h> pixels; decoding it needs <n> MB)"
// when a decoding needs more than DecodeMemoryCap().
void CheckDecodeMemory(std::uint64_t bytes, std::int64_t width, std::int64_t height);

// A decoded picture: rows from the top, three bytes per pixel in blue, green, red order, each
// row padded to a multiple of four bytes. That is the row layout of a 24-bit BMP file, so rows
// go to and from BMP files and libjpeg without conversion.
// The pixel memory is not cleared on allocation (decoders write every byte); move-only, so a
// 70-megabyte picture is never copied by accident.
class Image {
public:
    Image() = default;
    // Throws PictureError for a size CheckPictureSize refuses.
    Image(std::int32_t width, std::int32_t height);

    Image(Image&&) noexcept = default;
    Image& operator=(Image&&) noexcept = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    Image clone() const;

    bool empty() const { return m_width == 0 || m_height == 0; }
    std::int32_t width() const { return m_width; }
    std::int32_t height() const { return m_height; }
    std::size_t stride() const { return m_stride; }
    std::size_t byteSize() const { return m_stride * static_cast<std::size_t>(m_height); }

    std::uint8_t* row(std::int32_t y) { return m_pixels.get() + m_stride * static_cast<std::size_t>(y); }
    const std::uint8_t* row(std::int32_t y) const {
        return m_pixels.get() + m_stride * static_cast<std::size_t>(y);
    }
    std::uint8_t* data() { return m_pixels.get(); }
    const std::uint8_t* data() const { return m_pixels.get(); }

    // Sets every byte, padding included, to value (0 is black).
    void fill(std::uint8_t value);

    static std::size_t StrideFor(std::int32_t width) {
        return (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
    }

private:
    static constexpr std::size_t kMappedBytes = std::size_t{4} << 20;
    struct Free {
        Free() noexcept : bytes(0) {}
        explicit Free(std::size_t b) noexcept : bytes(b) {}
        void operator()(std::uint8_t* p) const;
        std::size_t bytes;
    };

    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::size_t m_stride = 0;
    std::unique_ptr<std::uint8_t, Free> m_pixels;
};

}  // namespace kalidrome::render
