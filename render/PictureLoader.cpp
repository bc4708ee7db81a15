#include "PictureLoader.h"

#include "BmpCodec.h"
#include "FileIo.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PngCodec.h"

#include <algorithm>
#include <cctype>
#include <iterator>

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

PictureDimensions ReadPictureDimensions(const std::string& path) {
    switch (KindByExtension(path)) {
        case PictureKind::Jpeg: {
            const std::vector<std::uint8_t> start = ReadFileStart(path, std::size_t{1} << 20);
            const JpegHeader header = ReadJpegHeader(start.data(), start.size());
            return {header.width, header.height};
        }
        case PictureKind::Png: {
            // The signature, then IHDR first: its width and height, big-endian.
            const std::vector<std::uint8_t> start = ReadFileStart(path, 24);
            static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
            if (start.size() < 24 || !std::equal(std::begin(kSignature), std::end(kSignature), start.begin()) ||
                std::string(start.begin() + 12, start.begin() + 16) != "IHDR")
                throw PictureError("Not a PNG picture: " + path);
            auto be32 = [&](std::size_t at) {
                return static_cast<std::uint32_t>(start[at]) << 24 | static_cast<std::uint32_t>(start[at + 1]) << 16 |
                       static_cast<std::uint32_t>(start[at + 2]) << 8 | start[at + 3];
            };
            if (be32(16) > 0x7FFFFFFF || be32(20) > 0x7FFFFFFF) throw PictureError("Not a PNG picture: " + path);
            return {static_cast<std::int32_t>(be32(16)), static_cast<std::int32_t>(be32(20))};
        }
        default: {
            const BmpInfo info = ReadBmpFileInfo(path);
            return {info.width, info.height};
        }
    }
}

}  // namespace kalidrome::render
