// A decode given up half-way (the program closing during a change) ends with an error
// within a few rows instead of decoding the rest; outside the scope of a set flag, or with
// the flag clear, pictures decode as ever.
#include "Cancel.h"
#include "JpegCodec.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "PngCodec.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace kalidrome::test {
namespace {

enum class Kind { BaselineJpeg, ProgressiveJpeg, Png };

struct CancelCase {
    const char* name;
    Kind kind;
};

std::vector<std::uint8_t> PictureFile(const TempDir& dir, Kind kind, std::int32_t width, std::int32_t height) {
    const std::string path = dir.file("p");
    if (kind == Kind::Png) {
        WritePng(path, width, height, {0 /* grey */, 8},
                 std::vector<std::uint16_t>(static_cast<std::size_t>(width) * height, 90));
    } else {
        WriteColourJpeg(path, SolidImage(width, height, {200, 40, 10}), 90, kind == Kind::ProgressiveJpeg);
    }
    return ReadBytes(path);
}

render::Image Decode(const std::vector<std::uint8_t>& file, Kind kind, const render::RowsDecoded& onRows = {}) {
    return kind == Kind::Png ? render::DecodePng(file.data(), file.size())
                             : render::DecodeJpeg(file.data(), file.size(), 8, onRows);
}

TEST(DecodeCancel, ASetFlagEndsTheDecodeAndAClearOneDoesNot) {
    for (const CancelCase& c : {CancelCase{"baseline JPEG", Kind::BaselineJpeg},
                                CancelCase{"progressive JPEG", Kind::ProgressiveJpeg}, CancelCase{"PNG", Kind::Png}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::vector<std::uint8_t> file = PictureFile(dir, c.kind, 640, 480);
        std::atomic<bool> flag{false};
        {
            const render::CancelScope scope(&flag);
            EXPECT_EQ(Decode(file, c.kind).height(), 480) << "a clear flag gave the decode up";
            flag = true;
            try {
                Decode(file, c.kind);
                ADD_FAILURE() << "decoded whole with the flag set";
            } catch (const render::PictureError& error) {
                EXPECT_NE(std::string(error.what()).find(render::kCancelled), std::string::npos) << error.what();
            }
        }
        // The scope ended: the flag no longer counts on this thread.
        EXPECT_EQ(Decode(file, c.kind).height(), 480);
    }
}

// Set while rows come out, the flag stops a JPEG decode long before its last row.
TEST(DecodeCancel, ASetFlagStopsAJpegDecodeHalfWay) {
    TempDir dir;
    const std::vector<std::uint8_t> file = PictureFile(dir, Kind::BaselineJpeg, 256, 4096);
    std::atomic<bool> flag{false};
    const render::CancelScope scope(&flag);
    std::int32_t lastRow = 0;
    EXPECT_THROW(Decode(file, Kind::BaselineJpeg,
                        [&](const render::Image&, std::int32_t first, std::int32_t count) {
                            lastRow = first + count;
                            if (lastRow >= 64) flag = true;
                        }),
                 render::PictureError);
    EXPECT_GE(lastRow, 64);
    EXPECT_LT(lastRow, 1024) << "the decode went on long after the flag was set";
}

}  // namespace
}  // namespace kalidrome::test
