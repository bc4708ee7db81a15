#include "PngCodec.h"

#include "Cancel.h"
#include "PictureError.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>

// libpng reports errors through our error function, which longjmps back to the setjmp in
// the C-style step functions below; they hold no C++ objects with destructors, and the C++
// caller owns the libpng objects and the pixel memory.

namespace kalidrome::render {

namespace {

// No chunk the decoder reads needs more than a palette's 768 bytes; the library checks IDAT
// chunks against the picture's own size instead.
constexpr png_alloc_size_t kMaxChunkBytes = 64 * 1024;
constexpr png_uint_32 kMaxStoredChunks = 64;

struct Reader {
    png_structp png;
    png_infop info;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::uint64_t rawRowBytes;  // as stored, before our transforms
    char message[256];
};

extern "C" void OnPngError(png_structp png, png_const_charp text) {
    auto* r = static_cast<Reader*>(png_get_error_ptr(png));
    std::snprintf(r->message, sizeof r->message, "%s", text ? text : "unknown error");
    png_longjmp(png, 1);
}

extern "C" void OnPngWarning(png_structp, png_const_charp) {}

// Printable name of a chunk type, e.g. "IDAT", or its bytes in hex when they are not letters.
std::string ChunkName(png_uint_32 type) {
    char text[16];
    bool letters = true;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const int c = static_cast<int>((type >> shift) & 0xFF);
        letters = letters && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    }
    if (letters)
        std::snprintf(text, sizeof text, "%c%c%c%c", static_cast<char>(type >> 24), static_cast<char>(type >> 16),
                      static_cast<char>(type >> 8), static_cast<char>(type));
    else
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(type));
    return text;
}

// Says where the file ends, from what the library was reading when it ran out.
[[noreturn]] void FailCutShort(Reader* r) {
    const png_uint_32 state = png_get_io_state(r->png);
    const png_uint_32 type = png_get_io_chunk_type(r->png);
    const std::string chunk = ChunkName(type);
    if (state & PNG_IO_CHUNK_DATA)
        std::snprintf(r->message, sizeof r->message, "the file is cut short in the data of its %s chunk", chunk.c_str());
    else if (state & PNG_IO_CHUNK_CRC)
        std::snprintf(r->message, sizeof r->message, "the file is cut short in the checksum of its %s chunk",
                      chunk.c_str());
    else if (type != 0)
        std::snprintf(r->message, sizeof r->message, "the file is cut short after its %s chunk", chunk.c_str());
    else
        std::snprintf(r->message, sizeof r->message, "the file is cut short after its signature");
    png_longjmp(r->png, 1);
}

extern "C" void OnPngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (Cancelled()) {
        std::snprintf(r->message, sizeof r->message, "%s", kCancelled);
        png_longjmp(png, 1);
    }
    if (length > r->size - r->pos) FailCutShort(r);
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
}

// Picks out the pixels and skips the rest. Every ancillary chunk but tRNS (text, EXIF, colour
// profiles, gamma and colour notes, private chunks) is read past without being stored, so the
// size a chunk declares never becomes an allocation; none of them changes the colour pixels we
// return, as no colour or gamma correction is asked for. tRNS (at most 256 bytes) is kept by
// the library and turned into alpha by the expansions below, and that alpha is dropped like
// any other.
void LimitChunks(png_structp png) {
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    // Caps on what the library would store of a chunk, should one ever be kept.
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_set_chunk_cache_max(png, kMaxStoredChunks);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzzed inputs rarely carry valid checksums: use the data anyway so that fuzzing gets
    // past the first chunk to the decompression and pixel code.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
#endif
}

const char* ColourTypeName(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY: return "grey";
        case PNG_COLOR_TYPE_GRAY_ALPHA: return "grey with alpha";
        case PNG_COLOR_TYPE_PALETTE: return "palette";
        case PNG_COLOR_TYPE_RGB: return "colour";
        case PNG_COLOR_TYPE_RGB_ALPHA: return "colour with alpha";
        default: return "unknown";
    }
}

bool StepHeader(Reader* r) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_structp png = r->png;
    png_infop info = r->info;
    png_set_read_fn(png, r, OnPngRead);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    LimitChunks(png);
    png_read_info(png, info);

    r->rawRowBytes = png_get_rowbytes(png, info);
    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (depth == 16) png_set_strip_16(png);
    if ((colorType & PNG_COLOR_MASK_ALPHA) || transparency) png_set_strip_alpha(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(png_get_image_width(png, info)) * 3) {
        std::snprintf(r->message, sizeof r->message, "cannot turn %s pixels of %d bits%s into colour pixels",
                      ColourTypeName(colorType), depth, transparency ? " with a transparency chunk" : "");
        png_longjmp(png, 1);
    }
    return true;
}

bool StepPixels(Reader* r, png_bytepp rows) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_read_image(r->png, rows);
    return true;
}

class ReaderGuard {
public:
    explicit ReaderGuard(Reader& r) : m_r(r) {}
    ~ReaderGuard() { png_destroy_read_struct(&m_r.png, m_r.info ? &m_r.info : nullptr, nullptr); }
    ReaderGuard(const ReaderGuard&) = delete;
    ReaderGuard& operator=(const ReaderGuard&) = delete;

private:
    Reader& m_r;
};

[[noreturn]] void Fail(const Reader& r) { throw PictureError(std::string("Invalid PNG picture: ") + r.message); }

}  // namespace

Image DecodePng(const std::uint8_t* data, std::size_t size) {
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) throw PictureError("Invalid PNG picture: not a PNG file");
    Reader r;
    std::memset(&r, 0, sizeof r);
    r.data = data;
    r.size = size;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, OnPngError, OnPngWarning);
    if (!r.png) throw PictureError("Invalid PNG picture: out of memory");
    ReaderGuard guard(r);
    r.info = png_create_info_struct(r.png);
    if (!r.info) throw PictureError("Invalid PNG picture: out of memory");
    if (!StepHeader(&r)) Fail(r);

    const png_uint_32 width = png_get_image_width(r.png, r.info);
    const png_uint_32 height = png_get_image_height(r.png, r.info);
    CheckPictureSize(width, height);
    CheckDecodeMemory(size + static_cast<std::uint64_t>(Image::StrideFor(static_cast<std::int32_t>(width))) * height +
                          std::uint64_t{height} * sizeof(png_bytep),
                      width, height);
    // Deflate packs at most about 1032 bytes into one, so a file far shorter than its
    // declared pixels need is cut or forged: refuse it before allocating for that size.
    const std::uint64_t rawBytes = static_cast<std::uint64_t>(height) * (r.rawRowBytes + 1);
    if (rawBytes / 1032 > size) {
        std::snprintf(r.message, sizeof r.message, "the file is far too short for its size (%u x %u)",
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
        Fail(r);
    }

    Image image(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = image.row(static_cast<std::int32_t>(y));
    if (!StepPixels(&r, rows.data())) Fail(r);
    return image;
}

}  // namespace kalidrome::render
