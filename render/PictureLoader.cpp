#include "PictureLoader.h"

#include "BmpCodec.h"
#include "FileIo.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PngCodec.h"

#include <cctype>

namespace kalidrome::render {

PictureKind KindByExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return PictureKind::Other;
    std::string ext;
    for (std::size_t i = dot; i < path.size(); ++i)
        ext += static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
    if (ext == ".jpg" || ext == ".jpeg") return PictureKind::Jpeg;
    if (ext == ".png") return PictureKind::Png;
    if (ext == ".bmp") return PictureKind::Bmp;
    return PictureKind::Other;
}

Image LoadPicture(const std::string& path) {
    const PictureKind kind = KindByExtension(path);
    if (kind == PictureKind::Other) throw PictureError("Not a picture type the program reads: " + path);
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    try {
        switch (kind) {
            case PictureKind::Jpeg: return DecodeJpeg(bytes.data(), bytes.size());
            case PictureKind::Png: return DecodePng(bytes.data(), bytes.size());
            default: return DecodeBmp(bytes.data(), bytes.size());
        }
    } catch (const PictureError& e) {
        throw e.naming(path);
    }
}

}  // namespace kalidrome::render
