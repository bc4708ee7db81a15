#include "BmpCodec.h"

#include "PictureError.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kalidrome::render {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr std::size_t kFileHeaderSize = 14;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

[[noreturn]] void Corrupt(const std::string& why) { throw PictureError("Invalid bitmap: " + why); }

// Everything the pixel decoder needs beyond BmpInfo.
struct Layout {
    BmpInfo info;
    std::uint32_t pixelOffset = 0;
    std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    std::array<std::uint8_t, 256 * 3> palette{};  // B, G, R; entries the file lacks stay black
    std::uint32_t paletteCount = 0;
};

Layout ParseHeaders(const std::uint8_t* data, std::size_t size, bool wantPalette) {
    Layout l;
    if (size < kFileHeaderSize + 12 || data[0] != 'B' || data[1] != 'M') Corrupt("not a BMP file");
    l.pixelOffset = U32(data + 10);
    const std::uint8_t* h = data + kFileHeaderSize;
    const std::uint32_t headerSize = U32(h);
    BmpInfo& info = l.info;
    info.headerSize = headerSize;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint16_t planes = 0;
    if (headerSize == 12) {
        width = U16(h + 4);
        height = static_cast<std::int16_t>(U16(h + 6));
        planes = U16(h + 8);
        info.bitsPerPixel = U16(h + 10);
        info.compression = kBiRgb;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
               headerSize == 108 || headerSize == 124) {
        if (size < kFileHeaderSize + headerSize) Corrupt("the header is cut short");
        width = static_cast<std::int32_t>(U32(h + 4));
        height = static_cast<std::int32_t>(U32(h + 8));
        planes = U16(h + 12);
        info.bitsPerPixel = U16(h + 14);
        info.compression = U32(h + 16);
        if (headerSize == 64 && info.compression >= 3)
            Corrupt("OS/2 Huffman and RLE24 compression are not supported");
    } else {
        Corrupt("unknown header size " + std::to_string(headerSize));
    }
    if (planes != 1) Corrupt("planes must be 1");
    switch (info.bitsPerPixel) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: Corrupt(std::to_string(info.bitsPerPixel) + " bits per pixel is not supported");
    }
    if (info.compression == kBiAlphaBitfields) info.compression = kBiBitfields;
    switch (info.compression) {
        case kBiRgb: break;
        case kBiRle8: if (info.bitsPerPixel != 8) Corrupt("RLE8 needs 8 bits per pixel"); break;
        case kBiRle4: if (info.bitsPerPixel != 4) Corrupt("RLE4 needs 4 bits per pixel"); break;
        case kBiBitfields:
            if (info.bitsPerPixel != 16 && info.bitsPerPixel != 32)
                Corrupt("bit fields need 16 or 32 bits per pixel");
            break;
        default: Corrupt("compression " + std::to_string(info.compression) + " is not supported");
    }
    info.topDown = height < 0;
    if (info.topDown) {
        height = -height;
        if (info.compression == kBiRle4 || info.compression == kBiRle8)
            Corrupt("a compressed bitmap cannot be top-down");
    }
    CheckPictureSize(width, height);
    info.width = static_cast<std::int32_t>(width);
    info.height = static_cast<std::int32_t>(height);

    // Colour masks: inside the header from the 52-byte form on, else three DWORDs after it.
    std::size_t afterHeader = kFileHeaderSize + headerSize;
    if (info.compression == kBiBitfields) {
        const std::uint8_t* m = h + 40;
        if (headerSize == 40) {
            if (size < afterHeader + 12) Corrupt("the colour masks are cut short");
            afterHeader += 12;
            // A 32-bit "alpha bit fields" file written with the plain header carries a fourth.
        } else if (headerSize == 64) {
            Corrupt("bit fields with an OS/2 header");
        }
        for (int i = 0; i < 3; ++i) l.masks[i] = U32(m + 4 * i);
        if (headerSize >= 56) l.masks[3] = U32(m + 12);
    } else if (info.bitsPerPixel == 16) {
        l.masks[0] = 0x7C00;
        l.masks[1] = 0x03E0;
        l.masks[2] = 0x001F;
    } else if (info.bitsPerPixel == 32) {
        l.masks[0] = 0x00FF0000;
        l.masks[1] = 0x0000FF00;
        l.masks[2] = 0x000000FF;
    }

    if (info.bitsPerPixel <= 8 && wantPalette) {
        const std::uint32_t maxEntries = 1u << info.bitsPerPixel;
        std::uint32_t count = maxEntries;
        const std::size_t entrySize = headerSize == 12 ? 3 : 4;
        if (headerSize != 12) {
            const std::uint32_t used = U32(h + 32);
            if (used != 0) count = std::min(used, maxEntries);
        }
        // Writers often store fewer entries than the header implies (always so for core
        // headers, which cannot say): the table ends where the pixels begin.
        if (l.pixelOffset >= afterHeader)
            count = std::min<std::uint32_t>(count, static_cast<std::uint32_t>((l.pixelOffset - afterHeader) / entrySize));
        if (afterHeader + count * entrySize > size) Corrupt("the colour table is cut short");
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* e = data + afterHeader + i * entrySize;
            l.palette[i * 3 + 0] = e[0];
            l.palette[i * 3 + 1] = e[1];
            l.palette[i * 3 + 2] = e[2];
        }
        l.paletteCount = count;
    }
    return l;
}

// One colour channel taken out of a packed pixel and widened to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    std::uint8_t table[256] = {};  // for masks of 8 bits or fewer
    bool useTable = false;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (m == 0) return;
        while (((m >> shift) & 1u) == 0) ++shift;
        std::uint32_t v = m >> shift;
        while (v & 1u) {
            ++bits;
            v >>= 1;
        }
        // Holes in a mask ("0x0F0F") are not valid; only the lowest run counts.
        if (bits <= 8) {
            const std::uint32_t maxValue = (1u << bits) - 1;
            for (std::uint32_t i = 0; i <= maxValue; ++i)
                table[i] = static_cast<std::uint8_t>((i * 255 + maxValue / 2) / maxValue);
            useTable = true;
        }
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (mask == 0) return 0;
        const std::uint32_t v = (pixel >> shift) & ((bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1));
        if (useTable) return table[v];
        return static_cast<std::uint8_t>(v >> (bits - 8));
    }
};

void DecodeUncompressed(const Layout& l, const std::uint8_t* data, std::size_t size, Image& out) {
    const BmpInfo& info = l.info;
    const std::size_t srcStride =
        ((static_cast<std::size_t>(info.width) * static_cast<std::size_t>(info.bitsPerPixel) + 31) / 32) * 4;
    const std::size_t need = srcStride * static_cast<std::size_t>(info.height);
    if (l.pixelOffset > size || size - l.pixelOffset < need) Corrupt("the pixel data is cut short");
    const std::uint8_t* pixels = data + l.pixelOffset;
    const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]);
    const bool plain32 = info.bitsPerPixel == 32 && l.masks[0] == 0x00FF0000 &&
                         l.masks[1] == 0x0000FF00 && l.masks[2] == 0x000000FF;
    const std::int32_t w = info.width;
    for (std::int32_t y = 0; y < info.height; ++y) {
        const std::uint8_t* s = pixels + srcStride * static_cast<std::size_t>(info.topDown ? y : info.height - 1 - y);
        std::uint8_t* d = out.row(y);
        switch (info.bitsPerPixel) {
            case 24:
                std::memcpy(d, s, static_cast<std::size_t>(w) * 3);
                break;
            case 32:
                if (plain32) {
                    for (std::int32_t x = 0; x < w; ++x, s += 4, d += 3) {
                        d[0] = s[0];
                        d[1] = s[1];
                        d[2] = s[2];
                    }
                } else {
                    for (std::int32_t x = 0; x < w; ++x, s += 4, d += 3) {
                        const std::uint32_t p = U32(s);
                        d[0] = blue(p);
                        d[1] = green(p);
                        d[2] = red(p);
                    }
                }
                break;
            case 16:
                for (std::int32_t x = 0; x < w; ++x, s += 2, d += 3) {
                    const std::uint32_t p = U16(s);
                    d[0] = blue(p);
                    d[1] = green(p);
                    d[2] = red(p);
                }
                break;
            default: {  // 1, 4, 8: palette indices, most significant bits first
                const int bpp = info.bitsPerPixel;
                const int perByte = 8 / bpp;
                const std::uint32_t indexMask = (1u << bpp) - 1;
                for (std::int32_t x = 0; x < w; ++x, d += 3) {
                    const std::uint8_t byte = s[x / perByte];
                    const int shift = 8 - bpp * (x % perByte + 1);
                    const std::uint32_t index = (byte >> shift) & indexMask;
                    std::memcpy(d, &l.palette[index * 3], 3);
                }
            }
        }
    }
}

void DecodeRle(const Layout& l, const std::uint8_t* data, std::size_t size, Image& out) {
    const BmpInfo& info = l.info;
    if (l.pixelOffset > size) Corrupt("the pixel data is cut short");
    const std::uint8_t* p = data + l.pixelOffset;
    const std::uint8_t* end = data + size;
    const bool rle4 = info.compression == kBiRle4;
    const std::int32_t w = info.width;
    const std::int32_t h = info.height;
    // Skipped pixels show palette colour 0.
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint8_t* d = out.row(y);
        for (std::int32_t x = 0; x < w; ++x) std::memcpy(d + 3 * x, &l.palette[0], 3);
    }
    std::int64_t x = 0;
    std::int64_t y = 0;  // counted from the bottom row
    auto put = [&](std::uint32_t index) {
        if (x < w && y < h)
            std::memcpy(out.row(static_cast<std::int32_t>(h - 1 - y)) + 3 * x, &l.palette[index * 3], 3);
        ++x;
    };
    for (;;) {
        if (y >= h) return;  // every row is there; trailing bytes are of no interest
        if (end - p < 2) {
            // Some writers leave out the final end-of-bitmap marker.
            if (y == h - 1 && p == end) return;
            Corrupt("the compressed pixels are cut short");
        }
        const std::uint8_t count = p[0];
        const std::uint8_t value = p[1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(rle4 ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // move right and up
            if (end - p < 2) Corrupt("the compressed pixels are cut short");
            x += p[0];
            y += p[1];
            p += 2;
        } else {  // a run of literal pixels, padded to a 16-bit boundary
            const std::size_t n = value;
            const std::size_t bytes = rle4 ? (n + 1) / 2 : n;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            if (static_cast<std::size_t>(end - p) < bytes) Corrupt("the compressed pixels are cut short");
            for (std::size_t i = 0; i < n; ++i)
                put(rle4 ? ((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4)) : p[i]);
            p += std::min(padded, static_cast<std::size_t>(end - p));
        }
    }
}

}  // namespace

BmpInfo ReadBmpInfo(const std::uint8_t* data, std::size_t size) {
    return ParseHeaders(data, size, false).info;
}

BmpInfo ReadBmpFileInfo(const std::string& path) {
    const std::vector<std::uint8_t> start = ReadFileStart(path, kFileHeaderSize + 124);
    return ReadBmpInfo(start.data(), start.size());
}

Image DecodeBmp(const std::uint8_t* data, std::size_t size) {
    const Layout l = ParseHeaders(data, size, true);
    const BmpInfo& info = l.info;
    const bool rle = info.compression == kBiRle4 || info.compression == kBiRle8;
    if (rle) {
        // Runs and skips let a few bytes stand for many pixels, but not without limit: refuse
        // sizes no plausible file of this length describes before taking the memory.
        const std::uint64_t pixels = static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height);
        const std::uint64_t bytes = size > l.pixelOffset ? size - l.pixelOffset : 0;
        if (pixels > (std::uint64_t{1} << 22) && pixels / 8192 > bytes)
            Corrupt("the compressed pixels are far too short for the picture's size");
    }
    CheckDecodeMemory(size + static_cast<std::uint64_t>(Image::StrideFor(info.width)) * static_cast<std::uint64_t>(info.height),
                      info.width, info.height);
    Image image(info.width, info.height);
    if (rle)
        DecodeRle(l, data, size, image);
    else
        DecodeUncompressed(l, data, size, image);
    return image;
}

Image LoadBmpFile(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    try {
        return DecodeBmp(bytes.data(), bytes.size());
    } catch (const PictureError& e) {
        throw e.naming(path);
    }
}

std::vector<std::uint8_t> BmpHeader24(std::int32_t width, std::int32_t height) {
    const std::uint64_t imageSize = Image::StrideFor(width) * static_cast<std::uint64_t>(height);
    std::vector<std::uint8_t> h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    const std::uint64_t fileSize = 54 + imageSize;
    Put32(&h[2], fileSize > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(fileSize));
    Put32(&h[10], 54);
    Put32(&h[14], 40);
    Put32(&h[18], static_cast<std::uint32_t>(width));
    Put32(&h[22], static_cast<std::uint32_t>(height));
    Put16(&h[26], 1);
    Put16(&h[28], 24);
    Put32(&h[30], kBiRgb);
    Put32(&h[34], imageSize > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(imageSize));
    Put32(&h[38], 2835);  // 72 dpi
    Put32(&h[42], 2835);
    return h;
}

std::vector<std::uint8_t> EncodeBmp24(const Image& image) {
    std::vector<std::uint8_t> out = BmpHeader24(image.width(), image.height());
    out.reserve(out.size() + image.byteSize());
    for (std::int32_t y = image.height() - 1; y >= 0; --y)
        out.insert(out.end(), image.row(y), image.row(y) + image.stride());
    return out;
}

void WriteBmpFile(const std::string& path, const Image& image) {
    BmpStreamWriter writer(path, image.width(), image.height());
    writer.writeRows(image, 0, image.height());
    writer.commit();
}

BmpStreamWriter::BmpStreamWriter(const std::string& path, std::int32_t width, std::int32_t height) try
    : m_path(path), m_file(path), m_width(width), m_height(height), m_stride(Image::StrideFor(width)) {
    const std::vector<std::uint8_t> header = BmpHeader24(width, height);
    m_file.resize(header.size() + m_stride * static_cast<std::uint64_t>(height));
    m_file.writeAt(header.data(), header.size(), 0);
} catch (const std::system_error& e) {
    ThrowWriteError(path, e);
}

void BmpStreamWriter::writeRows(const Image& image, std::int32_t first, std::int32_t count) {
    if (image.width() != m_width || image.height() != m_height)
        throw PictureError("A picture of another size for the bitmap being written to " + m_path);
    writeRows(image.data(), first, count);
}

void BmpStreamWriter::writeRows(const std::uint8_t* top, std::int32_t first, std::int32_t count) {
    if (first < 0 || count < 0 || first > m_height - count)
        throw PictureError("Rows outside the bitmap being written to " + m_path);
    // Rows first..last are contiguous in the file in reverse order: one vectored write per
    // batch, the buffers listed from the bottom-most row up.
    constexpr int kBatch = 64;
    struct iovec parts[kBatch];
    while (count > 0) {
        const int n = std::min(count, kBatch);
        const std::int32_t last = first + n - 1;
        for (int i = 0; i < n; ++i) {
            parts[i].iov_base = const_cast<std::uint8_t*>(top + m_stride * static_cast<std::size_t>(last - i));
            parts[i].iov_len = m_stride;
        }
        const std::uint64_t offset = 54 + m_stride * static_cast<std::uint64_t>(m_height - 1 - last);
        try {
            m_file.writeAt(parts, n, offset);
        } catch (const std::system_error& e) {
            ThrowWriteError(m_path, e);
        }
        first += n;
        count -= n;
    }
}

void BmpStreamWriter::commit() {
    try {
        CommitLargeFile(m_file);
    } catch (const std::system_error& e) {
        ThrowWriteError(m_path, e);
    }
}

}  // namespace kalidrome::render
