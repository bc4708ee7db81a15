#include "JpegCodec.h"

#include "Cancel.h"
#include "PictureError.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports errors by calling error_exit, which must not return. Ours longjmps back to
// the setjmp in the small C-style step functions below. Those functions (and every frame
// libjpeg may jump over) hold no C++ objects with destructors; the C++ callers own all
// memory and the libjpeg objects, and turn a failed step into a PictureError.

namespace kalidrome::render {

namespace {

// A progressive file with thousands of scans decodes for minutes; real ones have about ten.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

extern "C" void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    // Warnings: a cut or damaged stream still decodes in libjpeg, padded with grey. Treat
    // those as the errors they are; milder oddities (extra bytes between markers, unknown
    // Adobe transforms) still give a good picture and pass.
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
            OnError(cinfo);
            break;
        default:
            break;
    }
}

extern "C" void OnProgress(j_common_ptr cinfo) {
    if (Cancelled()) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "%s", kCancelled);
        std::longjmp(err->jump, 1);
    }
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "too many scans (more than %d)", kMaxScans);
        std::longjmp(err->jump, 1);
    }
}

void InitErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    err.message[0] = '\0';
}

// Plain data only: lives in the C++ caller, handed to the step functions by pointer.
struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    bool created;
    bool started;                // jpeg_start_decompress ran: the memory check let it
    std::uint64_t fileBytes;     // the compressed file, held in memory by the caller
    std::uint64_t needBytes;     // what the decoding takes in all (CheckDecodeMemory)
};

bool StepCreate(Decoder* d, const std::uint8_t* data, std::size_t size) {
    if (setjmp(d->err.jump)) return false;
    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    d->progress.progress_monitor = OnProgress;
    d->cinfo.progress = &d->progress;
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

bool StepStart(Decoder* d, int scaleEighths) {
    if (setjmp(d->err.jump)) return false;
    j_decompress_ptr c = &d->cinfo;
    switch (c->jpeg_color_space) {
        case JCS_CMYK:
        case JCS_YCCK:
            c->out_color_space = JCS_CMYK;  // converted to colour by us below
            break;
        default:
            c->out_color_space = JCS_EXT_BGR;  // greyscale and YCbCr straight to BMP order
            break;
    }
    c->scale_num = static_cast<unsigned>(scaleEighths);
    c->scale_denom = 8;
    jpeg_calc_output_dimensions(c);
    // A file in more than one scan (progressive, or sequential one component at a time) is
    // held whole as coefficients: 2 bytes each, 64 per block of every component.
    std::uint64_t coefficients = 0;
    if (c->progressive_mode || c->comps_in_scan < c->num_components) {
        for (int i = 0; i < c->num_components; ++i) {
            const jpeg_component_info& comp = c->comp_info[i];
            const auto round = [](std::uint64_t n, int to) { return (n + static_cast<std::uint64_t>(to) - 1) / static_cast<std::uint64_t>(to) * static_cast<std::uint64_t>(to); };
            coefficients += round(comp.width_in_blocks, comp.h_samp_factor) * round(comp.height_in_blocks, comp.v_samp_factor) *
                            64 * sizeof(JCOEF);
        }
    }
    d->needBytes = d->fileBytes + coefficients +
                   static_cast<std::uint64_t>(Image::StrideFor(static_cast<std::int32_t>(c->output_width))) *
                       c->output_height;
    if (d->needBytes > DecodeMemoryCap()) return true;  // refused by the caller, before any allocation
    // libjpeg-turbo has no backing store and fails cleanly above this.
    c->mem->max_memory_to_use = static_cast<long>(DecodeMemoryCap());
    jpeg_start_decompress(c);
    d->started = true;
    return true;
}

bool StepRead(Decoder* d, JSAMPROW* rows, int count, int* got) {
    if (setjmp(d->err.jump)) return false;
    *got = static_cast<int>(jpeg_read_scanlines(&d->cinfo, rows, static_cast<JDIMENSION>(count)));
    return true;
}

class DecoderGuard {
public:
    explicit DecoderGuard(Decoder& d) : m_d(d) {}
    ~DecoderGuard() {
        if (m_d.created) jpeg_destroy_decompress(&m_d.cinfo);
    }
    DecoderGuard(const DecoderGuard&) = delete;
    DecoderGuard& operator=(const DecoderGuard&) = delete;

private:
    Decoder& m_d;
};

[[noreturn]] void Fail(const Decoder& d) {
    throw PictureError(std::string("Invalid JPEG picture: ") + d.err.message);
}

void Prepare(Decoder& d) {
    std::memset(&d, 0, sizeof d);
    d.cinfo.err = &d.err.pub;
    InitErrors(d.err);
}

// Each coded 8x8 block takes at least one bit with Huffman coding, so a file far shorter
// than its declared size needs cannot be whole: refuse it before allocating for that size.
void CheckDeclaredSize(const Decoder& d, std::size_t size) {
    const j_decompress_ptr c = const_cast<j_decompress_ptr>(&d.cinfo);
    CheckPictureSize(c->image_width, c->image_height);
    const std::uint64_t pixels = static_cast<std::uint64_t>(c->image_width) * c->image_height;
    const std::uint64_t ratio = c->arith_code ? 4096 : 512;
    if (pixels > (std::uint64_t{1} << 20) && pixels / ratio > size)
        throw PictureError("Invalid JPEG picture: the file is far too short for its size (" +
                           std::to_string(c->image_width) + " x " + std::to_string(c->image_height) + ")");
}

void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, std::int32_t width, bool inverted) {
    for (std::int32_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        // Files with an Adobe marker (Photoshop and most others) store the inks inverted.
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

}  // namespace

JpegHeader ReadJpegHeader(const std::uint8_t* data, std::size_t size) {
    Decoder d;
    Prepare(d);
    DecoderGuard guard(d);
    if (!StepCreate(&d, data, size)) Fail(d);
    return {static_cast<std::int32_t>(d.cinfo.image_width), static_cast<std::int32_t>(d.cinfo.image_height),
            d.cinfo.num_components};
}

Image DecodeJpeg(const std::uint8_t* data, std::size_t size, int scaleEighths, const RowsDecoded& onRows) {
    Image image;
    DecodeJpegInto(data, size, image, scaleEighths, onRows);
    return image;
}

void DecodeJpegInto(const std::uint8_t* data, std::size_t size, Image& image, int scaleEighths,
                    const RowsDecoded& onRows) {
    scaleEighths = std::clamp(scaleEighths, 1, 8);
    Decoder d;
    Prepare(d);
    DecoderGuard guard(d);
    if (!StepCreate(&d, data, size)) Fail(d);
    CheckDeclaredSize(d, size);
    d.fileBytes = size;
    if (!StepStart(&d, scaleEighths)) Fail(d);
    if (!d.started) CheckDecodeMemory(d.needBytes, d.cinfo.image_width, d.cinfo.image_height);

    const j_decompress_ptr c = &d.cinfo;
    image = Image(static_cast<std::int32_t>(c->output_width), static_cast<std::int32_t>(c->output_height));
    const bool cmyk = c->out_color_space == JCS_CMYK;
    const bool inverted = c->saw_Adobe_marker;
    const std::int32_t width = image.width();
    // Enough rows per call for libjpeg to hand out whole iMCU rows (up to 16 lines, times 2
    // for scaled-up output), in a batch big enough that the callback is not per line.
    constexpr int kBatch = 32;
    std::vector<std::uint8_t> cmykRows;
    if (cmyk) cmykRows.resize(static_cast<std::size_t>(width) * 4 * kBatch);
    JSAMPROW rows[kBatch];

    std::int32_t y = 0;
    while (y < image.height()) {
        const int want = std::min(kBatch, image.height() - y);
        for (int i = 0; i < want; ++i)
            rows[i] = cmyk ? cmykRows.data() + static_cast<std::size_t>(width) * 4 * i : image.row(y + i);
        int got = 0;
        if (!StepRead(&d, rows, want, &got)) Fail(d);
        if (got <= 0) throw PictureError("Invalid JPEG picture: no more rows");
        if (cmyk)
            for (int i = 0; i < got; ++i) CmykToBgr(rows[i], image.row(y + i), width, inverted);
        if (onRows) onRows(image, y, got);
        y += got;
    }
    // jpeg_finish_decompress is skipped: whatever follows the last row cannot change a
    // pixel, and the guard releases the decoder.
}

namespace {

struct Encoder {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    bool created;
    unsigned char* out;
    unsigned long outSize;
};

bool StepEncode(Encoder* e, const Image* image, int quality) {
    if (setjmp(e->err.jump)) return false;
    jpeg_create_compress(&e->cinfo);
    e->created = true;
    jpeg_mem_dest(&e->cinfo, &e->out, &e->outSize);
    j_compress_ptr c = &e->cinfo;
    c->image_width = static_cast<JDIMENSION>(image->width());
    c->image_height = static_cast<JDIMENSION>(image->height());
    c->input_components = 3;
    c->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, quality, TRUE);
    jpeg_start_compress(c, TRUE);
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image->row(static_cast<std::int32_t>(c->next_scanline)));
        jpeg_write_scanlines(c, &row, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeJpeg(const Image& image, int quality) {
    if (image.empty()) throw PictureError("Cannot encode an empty picture as JPEG");
    Encoder e;
    std::memset(&e, 0, sizeof e);
    e.cinfo.err = &e.err.pub;
    InitErrors(e.err);
    const bool ok = StepEncode(&e, &image, std::clamp(quality, 1, 100));
    std::vector<std::uint8_t> bytes;
    if (ok) bytes.assign(e.out, e.out + e.outSize);
    if (e.created) jpeg_destroy_compress(&e.cinfo);
    std::free(e.out);
    if (!ok) throw PictureError(std::string("Cannot encode JPEG: ") + e.err.message);
    return bytes;
}

}  // namespace kalidrome::render
