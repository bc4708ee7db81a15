#include "JpegHeaderReader.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace kalidrome {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return; the
// default one ends the process. This one jumps back into readSize instead.
struct JumpingErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void JumpOnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JumpingErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

}  // namespace

struct JpegHeaderReader::State {
    jpeg_decompress_struct cinfo{};
    JumpingErrorManager err{};
    bool created = false;
};

JpegHeaderReader::JpegHeaderReader() : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.cinfo.err = jpeg_std_error(&s.err.pub);
    s.err.pub.error_exit = JumpOnError;
    s.err.pub.output_message = IgnoreMessage;
    if (setjmp(s.err.jump)) return;  // out of memory: every readSize then fails
    jpeg_create_decompress(&s.cinfo);
    s.created = true;
}

JpegHeaderReader::~JpegHeaderReader() {
    if (m_state->created) jpeg_destroy_decompress(&m_state->cinfo);
}

// No object with a destructor lives in this frame: longjmp would skip it.
bool JpegHeaderReader::readSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
    State& s = *m_state;
    if (!s.created || size == 0) return false;
    if (setjmp(s.err.jump)) {
        jpeg_abort_decompress(&s.cinfo);
        return false;
    }
    jpeg_mem_src(&s.cinfo, data, static_cast<unsigned long>(size));
    bool ok = jpeg_read_header(&s.cinfo, TRUE) == JPEG_HEADER_OK;
    JDIMENSION w = s.cinfo.image_width;
    JDIMENSION h = s.cinfo.image_height;
    jpeg_abort_decompress(&s.cinfo);
    ok = ok && w > 0 && h > 0 && w <= static_cast<JDIMENSION>(kMaxSide) &&
         h <= static_cast<JDIMENSION>(kMaxSide);
    if (!ok) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

std::optional<JpegImage> MakeJpegImage(std::vector<std::uint8_t> bytes) {
    JpegHeaderReader reader;
    JpegImage image;
    if (!reader.readSize(bytes.data(), bytes.size(), image.Width, image.Height)) return std::nullopt;
    image.Bytes = std::move(bytes);
    return image;
}

}  // namespace kalidrome
