#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "TListItemInfo.h"

namespace kalidrome {

// Reads the width and height from the header of a JPEG stream with libjpeg, without
// decoding any pixels. One reader keeps its libjpeg state from call to call, so reading
// the headers of a whole list of thumbnails costs one set-up.
class JpegHeaderReader {
public:
    // Larger sides are refused: no thumbnail is anywhere near that big, and a damaged
    // list must not make the view decode a giant picture.
    static constexpr int kMaxSide = 4096;

    JpegHeaderReader();
    ~JpegHeaderReader();
    JpegHeaderReader(const JpegHeaderReader&) = delete;
    JpegHeaderReader& operator=(const JpegHeaderReader&) = delete;

    // False when the bytes do not start with a JPEG header libjpeg accepts.
    bool readSize(const std::uint8_t* data, std::size_t size, int& width, int& height);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The bytes as a thumbnail, with the size from their header; none when that header
// cannot be read.
std::optional<JpegImage> MakeJpegImage(std::vector<std::uint8_t> bytes);

}  // namespace kalidrome
