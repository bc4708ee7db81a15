#include "FileIo.h"
#include "PictureError.h"
#include "PictureFixtures.h"
#include "PictureLoader.h"
#include "PngCodec.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>
#include <zlib.h>

namespace kalidrome::test {
namespace {

// A 5 x 3 picture (odd sizes, so every Adam7 pass has its own share) whose pixels each kind
// of PNG below can hold exactly.
constexpr std::int32_t kW = 5;
constexpr std::int32_t kH = 3;
const std::vector<Rgb> kColours = {kRed, kGreen, kBlue, kWhite, kBlack, kYellow, kMagenta};
std::size_t IndexAt(std::int32_t x, std::int32_t y) { return static_cast<std::size_t>(x * 3 + y * 2) % kColours.size(); }
std::uint8_t GreyAt(std::int32_t x, std::int32_t y) { return static_cast<std::uint8_t>(x * 50 + y * 20); }

void PutBe32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (24 - 8 * i));
}

// One PNG chunk: length, type, data and checksum. declaredLength, when given, replaces the
// length field (the data stays as given).
std::vector<std::uint8_t> Chunk(const char* type, const std::vector<std::uint8_t>& data,
                                std::optional<std::uint32_t> declaredLength = std::nullopt) {
    std::vector<std::uint8_t> c(8);
    PutBe32(c, 0, declaredLength.value_or(static_cast<std::uint32_t>(data.size())));
    std::memcpy(c.data() + 4, type, 4);
    c.insert(c.end(), data.begin(), data.end());
    c.resize(c.size() + 4);
    PutBe32(c, c.size() - 4, static_cast<std::uint32_t>(crc32(0, c.data() + 4, static_cast<uInt>(data.size() + 4))));
    return c;
}

// Where the first chunk of a type starts in a well-formed file (its end when there is none).
std::size_t ChunkOffset(const std::vector<std::uint8_t>& file, const char* type) {
    std::size_t at = 8;
    while (at + 8 <= file.size() && std::memcmp(file.data() + at + 4, type, 4) != 0)
        at += 12 + ((std::size_t{file[at]} << 24) | (std::size_t{file[at + 1]} << 16) | (std::size_t{file[at + 2]} << 8) | file[at + 3]);
    return at;
}

// Puts a chunk right before the first IDAT of a well-formed file.
void InsertBeforeIdat(std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& chunk) {
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(ChunkOffset(file, "IDAT")), chunk.begin(), chunk.end());
}

std::vector<std::uint8_t> Be16(std::initializer_list<std::uint16_t> values) {
    std::vector<std::uint8_t> out;
    for (std::uint16_t v : values) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

struct PngCase {
    const char* name;
    PngSpec spec;
    // Samples of pixel (x, y) in the file.
    std::function<std::vector<std::uint16_t>(std::int32_t, std::int32_t)> samples;
    std::function<Rgb(std::int32_t, std::int32_t)> expected;
    // Contents of a tRNS chunk to add (one colour of a grey or colour picture made
    // transparent, or alpha values of palette entries); none when empty. Its alpha is not used.
    std::vector<std::uint8_t> trns = {};
};
void PrintTo(const PngCase& c, std::ostream* os) { *os << c.name; }

std::vector<PngCase> Cases() {
    auto colour = [](std::int32_t x, std::int32_t y) { return kColours[IndexAt(x, y)]; };
    auto grey = [](std::int32_t x, std::int32_t y) { const std::uint8_t g = GreyAt(x, y); return Rgb{g, g, g}; };
    auto rgb8 = [](std::int32_t x, std::int32_t y) {
        const Rgb c = kColours[IndexAt(x, y)];
        return std::vector<std::uint16_t>{c.r, c.g, c.b};
    };
    auto rgb16 = [](std::int32_t x, std::int32_t y) {
        const Rgb c = kColours[IndexAt(x, y)];
        return std::vector<std::uint16_t>{static_cast<std::uint16_t>(c.r * 257), static_cast<std::uint16_t>(c.g * 257),
                                          static_cast<std::uint16_t>(c.b * 257)};
    };
    auto index = [](std::int32_t x, std::int32_t y) {
        return std::vector<std::uint16_t>{static_cast<std::uint16_t>(IndexAt(x, y))};
    };
    // Low-depth grey levels widen by repeating their bits: 2 bits times 85, 4 bits times 17.
    auto level = [](int bits, std::int32_t x, std::int32_t y) {
        return static_cast<std::uint16_t>((x * 3 + y) % (1 << bits));
    };
    auto grey1 = [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>((x + y) & 1)}; };
    auto grey1Expected = [](std::int32_t x, std::int32_t y) { return ((x + y) & 1) ? kWhite : kBlack; };
    auto grey2 = [level](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{level(2, x, y)}; };
    auto grey2Expected = [level](std::int32_t x, std::int32_t y) {
        const auto g = static_cast<std::uint8_t>(level(2, x, y) * 85);
        return Rgb{g, g, g};
    };
    auto grey4 = [level](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{level(4, x, y)}; };
    auto grey4Expected = [level](std::int32_t x, std::int32_t y) {
        const auto g = static_cast<std::uint8_t>(level(4, x, y) * 17);
        return Rgb{g, g, g};
    };
    auto grey8 = [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{GreyAt(x, y)}; };
    auto grey16 = [](std::int32_t x, std::int32_t y) {
        return std::vector<std::uint16_t>{static_cast<std::uint16_t>(GreyAt(x, y) * 257)};
    };
    auto twoIndices = [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>((x + y) & 1)}; };
    auto twoColours = [](std::int32_t x, std::int32_t y) { return ((x + y) & 1) ? kBlue : kRed; };
    const std::vector<Rgb> fourColours = {kRed, kGreen, kBlue, kYellow};
    auto fourIndices = [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>((x + 2 * y) % 4)}; };
    auto fourExpected = [fourColours](std::int32_t x, std::int32_t y) { return fourColours[static_cast<std::size_t>((x + 2 * y) % 4)]; };
    return {
        {"rgb_8", {PNG_COLOR_TYPE_RGB, 8}, rgb8, colour},
        {"rgb_8_interlaced", {PNG_COLOR_TYPE_RGB, 8, true}, rgb8, colour},
        {"palette_8", {PNG_COLOR_TYPE_PALETTE, 8, false, kColours},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>(IndexAt(x, y))}; }, colour},
        {"palette_4_interlaced", {PNG_COLOR_TYPE_PALETTE, 4, true, kColours},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>(IndexAt(x, y))}; }, colour},
        {"grey_8", {PNG_COLOR_TYPE_GRAY, 8}, [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{GreyAt(x, y)}; }, grey},
        {"grey_1", {PNG_COLOR_TYPE_GRAY, 1},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>((x + y) & 1)}; },
         [](std::int32_t x, std::int32_t y) { return ((x + y) & 1) ? kWhite : kBlack; }},
        // The alpha channel is dropped, not blended: a fully transparent pixel keeps its grey.
        {"grey_alpha_8", {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{GreyAt(x, y), static_cast<std::uint16_t>(x == 0 ? 0 : 255)}; }, grey},
        {"rgba_8", {PNG_COLOR_TYPE_RGBA, 8},
         [](std::int32_t x, std::int32_t y) {
             const Rgb c = kColours[IndexAt(x, y)];
             return std::vector<std::uint16_t>{c.r, c.g, c.b, static_cast<std::uint16_t>(y * 100)};
         }, colour},
        {"rgb_16", {PNG_COLOR_TYPE_RGB, 16},
         [](std::int32_t x, std::int32_t y) {
             const Rgb c = kColours[IndexAt(x, y)];
             return std::vector<std::uint16_t>{static_cast<std::uint16_t>(c.r * 257), static_cast<std::uint16_t>(c.g * 257),
                                               static_cast<std::uint16_t>(c.b * 257)};
         }, colour},
        {"grey_alpha_16_interlaced", {PNG_COLOR_TYPE_GRAY_ALPHA, 16, true},
         [](std::int32_t x, std::int32_t y) { return std::vector<std::uint16_t>{static_cast<std::uint16_t>(GreyAt(x, y) * 257), 0}; }, grey},
        {"rgba_16", {PNG_COLOR_TYPE_RGBA, 16},
         [](std::int32_t x, std::int32_t y) {
             const Rgb c = kColours[IndexAt(x, y)];
             return std::vector<std::uint16_t>{static_cast<std::uint16_t>(c.r * 257), static_cast<std::uint16_t>(c.g * 257),
                                               static_cast<std::uint16_t>(c.b * 257), static_cast<std::uint16_t>(x * 1000)};
         }, colour},
        {"grey_2", {PNG_COLOR_TYPE_GRAY, 2}, grey2, grey2Expected},
        {"grey_4", {PNG_COLOR_TYPE_GRAY, 4}, grey4, grey4Expected},
        {"grey_16", {PNG_COLOR_TYPE_GRAY, 16}, grey16, grey},

        // With a transparency chunk, as GIF conversions, pngquant and optipng write them. The
        // transparent colour or entry is decoded like any other.
        {"palette_1_trns", {PNG_COLOR_TYPE_PALETTE, 1, false, {kRed, kBlue}}, twoIndices, twoColours, {0}},
        {"palette_2_trns", {PNG_COLOR_TYPE_PALETTE, 2, false, fourColours}, fourIndices, fourExpected, {0, 128, 255, 7}},
        {"palette_4_trns_short", {PNG_COLOR_TYPE_PALETTE, 4, false, kColours}, index, colour, {0, 64}},
        {"palette_8_trns", {PNG_COLOR_TYPE_PALETTE, 8, false, kColours}, index, colour, {0, 10, 20, 30, 40, 50, 60}},
        {"palette_8_trns_interlaced", {PNG_COLOR_TYPE_PALETTE, 8, true, kColours}, index, colour, {255, 0}},
        {"grey_1_trns", {PNG_COLOR_TYPE_GRAY, 1}, grey1, grey1Expected, Be16({1})},
        {"grey_2_trns", {PNG_COLOR_TYPE_GRAY, 2}, grey2, grey2Expected, Be16({2})},
        {"grey_4_trns", {PNG_COLOR_TYPE_GRAY, 4}, grey4, grey4Expected, Be16({7})},
        {"grey_8_trns", {PNG_COLOR_TYPE_GRAY, 8}, grey8, grey, Be16({GreyAt(1, 1)})},
        {"grey_16_trns_interlaced", {PNG_COLOR_TYPE_GRAY, 16, true}, grey16, grey,
         Be16({static_cast<std::uint16_t>(GreyAt(2, 0) * 257)})},
        {"rgb_8_trns", {PNG_COLOR_TYPE_RGB, 8}, rgb8, colour, Be16({255, 0, 0})},
        {"rgb_16_trns", {PNG_COLOR_TYPE_RGB, 16}, rgb16, colour, Be16({0, 65535, 0})},
    };
}

class PngKindTest : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngKindTest, DecodesColourPixels) {
    const PngCase& c = GetParam();
    TempDir dir;
    std::vector<std::uint16_t> samples;
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) {
            const auto s = c.samples(x, y);
            samples.insert(samples.end(), s.begin(), s.end());
        }
    WritePng(dir.file("p.png"), kW, kH, c.spec, samples);
    std::vector<std::uint8_t> bytes = ReadBytes(dir.file("p.png"));
    if (!c.trns.empty()) InsertBeforeIdat(bytes, Chunk("tRNS", c.trns));
    const render::Image image = render::DecodePng(bytes.data(), bytes.size());
    ASSERT_EQ(image.width(), kW);
    ASSERT_EQ(image.height(), kH);
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) {
            SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
            EXPECT_EQ(Describe(PixelAt(image, x, y)), Describe(c.expected(x, y)));
        }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngKindTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

std::vector<std::uint8_t> GoodPng(const TempDir& dir) {
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < 40 * 30; ++i) {
        samples.push_back(static_cast<std::uint16_t>(i % 256));
        samples.push_back(static_cast<std::uint16_t>((i * 7) % 256));
        samples.push_back(static_cast<std::uint16_t>((i * 13) % 256));
    }
    WritePng(dir.file("good.png"), 40, 30, {PNG_COLOR_TYPE_RGB, 8}, samples);
    return ReadBytes(dir.file("good.png"));
}

TEST(PngCorrupt, CutOrDamagedFilesRaise) {
    TempDir dir;
    const std::vector<std::uint8_t> good = GoodPng(dir);
    ASSERT_NO_THROW(render::DecodePng(good.data(), good.size()));
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    } cases[] = {
        {"cut in the pixel data", [](auto& f) { f.resize(f.size() / 2); }},
        {"cut after the header", [](auto& f) { f.resize(33); }},
        {"signature only", [](auto& f) { f.resize(8); }},
        {"bad signature", [](auto& f) { f[1] = 'Q'; }},
        {"header checksum wrong", [](auto& f) { f[29] ^= 0xFF; }},
        // IHDR claims 30000 x 30000 (checksum fixed up): refused before any allocation.
        {"huge declared size", [](auto& f) {
             PutBe32(f, 16, 30000);
             PutBe32(f, 20, 30000);
             const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, f.data() + 12, 17));
             PutBe32(f, 29, crc);
         }},
        {"damaged compressed data", [](auto& f) { for (std::size_t i = 45; i < 60 && i < f.size(); ++i) f[i] ^= 0x5A; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> f = good;
        c.damage(f);
        EXPECT_THROW(render::DecodePng(f.data(), f.size()), render::PictureError);
    }
}

// Palette pictures with a transparency chunk as Debian's tools write them (made by
// fixtures/make-png-fixtures.sh), read through the loader that the thumbnails and the preview
// share. Each row of expected holds the colours of one row of pixels; fully transparent
// pixels show the colour their palette entry holds.
TEST(PngTransparency, PalettePicturesFromTools) {
    const struct {
        const char* file;
        std::int32_t width, height;
        std::vector<std::vector<std::uint32_t>> expected;
    } cases[] = {
        {"palette1-pngquant.png", 4, 2, {{0xFF0000, 0x47704C, 0xFF0000, 0x47704C}, {0x47704C, 0xFF0000, 0x47704C, 0xFF0000}}},
        {"palette2-from-gif.png", 4, 2, {{0xFF0000, 0x00FF00, 0x000000, 0xFFFFFF}, {0x000000, 0x00FF00, 0xFF0000, 0x00FF00}}},
        {"palette4-pngquant.png", 4, 2, {{0xFF0000, 0x00FF00, 0x47704C, 0xFFFFFF}, {0x47704C, 0x00FF00, 0xFF0000, 0x00FF00}}},
        {"palette8-imagemagick.png", 4, 2, {{0xFF0000, 0x00FF00, 0xFFFFFF, 0xFFFFFF}, {0xFFFFFF, 0x00FF00, 0xFF0000, 0x00FF00}}},
        {"palette8-pngquant.png", 5, 4,
         {{0x000000, 0x3C001E, 0x78003C, 0xB4005A, 0xF00078},
          {0x00501E, 0x3C503C, 0x78505A, 0xB45078, 0xF05096},
          {0x00A03C, 0x3CA05A, 0x78A078, 0xB4A096, 0xF0A0B4},
          {0x00F05A, 0x3CF078, 0x78F096, 0xB4F0B4, 0x47704C}}},
    };
    const char* source = std::getenv("KALIDROME_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(source) + "/tests/render/fixtures/" + c.file;
        const std::vector<std::uint8_t> bytes = ReadBytes(path);
        ASSERT_NE(std::search(bytes.begin(), bytes.end(), "tRNS", "tRNS" + 4), bytes.end()) << "fixture lost its tRNS chunk";
        render::Image image;
        ASSERT_NO_THROW(image = render::LoadPicture(path));
        ASSERT_EQ(image.width(), c.width);
        ASSERT_EQ(image.height(), c.height);
        for (std::int32_t y = 0; y < c.height; ++y)
            for (std::int32_t x = 0; x < c.width; ++x) {
                const std::uint32_t v = c.expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
                const Rgb want{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
                EXPECT_EQ(Describe(PixelAt(image, x, y)), Describe(want)) << "pixel " << x << "," << y;
            }
    }
}

// What decoding one file did, measured in a child process so that the peak memory is the
// decoder's own.
struct ChildDecode {
    bool decoded = false;
    bool refused = false;
    long peakGrowthKb = 0;
    char message[200] = {};
};

ChildDecode DecodeInChild(const std::vector<std::uint8_t>& file) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        ChildDecode result;
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        try {
            const render::Image image = render::DecodePng(file.data(), file.size());
            result.decoded = !image.empty();
        } catch (const render::PictureError& e) {
            result.refused = true;
            std::snprintf(result.message, sizeof result.message, "%s", e.what());
        } catch (...) {
        }
        ::getrusage(RUSAGE_SELF, &after);
        result.peakGrowthKb = after.ru_maxrss - before.ru_maxrss;
        const ssize_t written = ::write(fds[1], &result, sizeof result);
        ::_exit(written == static_cast<ssize_t>(sizeof result) ? 0 : 1);
    }
    ::close(fds[1]);
    ChildDecode result;
    std::size_t got = 0;
    while (got < sizeof result) {
        const ssize_t n = ::read(fds[0], reinterpret_cast<char*>(&result) + got, sizeof result - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got != sizeof result || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the decoding child died");
    return result;
}

std::vector<std::uint8_t> Signature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

std::vector<std::uint8_t> Header(std::uint32_t width, std::uint32_t height, std::uint8_t depth, std::uint8_t colorType) {
    std::vector<std::uint8_t> data(13);
    PutBe32(data, 0, width);
    PutBe32(data, 4, height);
    data[8] = depth;
    data[9] = colorType;
    return Chunk("IHDR", data);
}

// A 57-byte file: a 1 x 1 header and then a chunk that declares nearly 2^31 bytes but holds
// twelve. The decoder must refuse it without taking memory for the declared size.
TEST(PngHostileChunks, HugeDeclaredChunkIsRefusedWithLittleMemory) {
    constexpr long kLimitKb = 16 * 1024;
    for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf", "prVt", "tRNS", "IDAT"}) {
        SCOPED_TRACE(type);
        std::vector<std::uint8_t> file = Signature();
        const auto header = Header(1, 1, 8, PNG_COLOR_TYPE_RGB);
        const auto chunk = Chunk(type, std::vector<std::uint8_t>(12, 'A'), 0x7FFFFFF0u);
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), chunk.begin(), chunk.end());
        ASSERT_EQ(file.size(), 57u);
        const ChildDecode result = DecodeInChild(file);
        EXPECT_TRUE(result.refused);
        EXPECT_LT(result.peakGrowthKb, kLimitKb);
        EXPECT_NE(std::string(result.message).find("Invalid PNG picture"), std::string::npos) << result.message;
    }
    // The measure sees what a picture really needs: 3000 x 2000 pixels take 18 MB.
    TempDir dir;
    WritePng(dir.file("big.png"), 3000, 2000, {PNG_COLOR_TYPE_GRAY, 8}, std::vector<std::uint16_t>(3000 * 2000, 90));
    const ChildDecode big = DecodeInChild(ReadBytes(dir.file("big.png")));
    EXPECT_TRUE(big.decoded) << big.message;
    EXPECT_GT(big.peakGrowthKb, kLimitKb);
}

// Ancillary chunks the program does not use are skipped, not refused: text, a colour
// profile and a private chunk leave the pixels as they are.
TEST(PngHostileChunks, UnusedChunksDoNotChangeThePixels) {
    TempDir dir;
    const std::vector<std::uint8_t> good = GoodPng(dir);
    const render::Image plain = render::DecodePng(good.data(), good.size());
    std::vector<std::uint8_t> withChunks = good;
    InsertBeforeIdat(withChunks, Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'}));
    InsertBeforeIdat(withChunks, Chunk("iCCP", {'x', 0, 0, 1, 2, 3}));  // profile data not even valid
    InsertBeforeIdat(withChunks, Chunk("gAMA", Be16({0, 45455})));
    InsertBeforeIdat(withChunks, Chunk("prVt", std::vector<std::uint8_t>(100000, 7)));
    const render::Image decorated = render::DecodePng(withChunks.data(), withChunks.size());
    ASSERT_EQ(decorated.byteSize(), plain.byteSize());
    EXPECT_EQ(std::memcmp(decorated.data(), plain.data(), plain.byteSize()), 0);
}

// A picture the program cannot read is refused with a message that says what is wrong
// with it, naming the chunk where there is one.
TEST(PngCorrupt, MessagesNameWhatIsWrong) {
    TempDir dir;
    const std::vector<std::uint8_t> good = GoodPng(dir);
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        std::vector<const char*> says;
    } cases[] = {
        {"bad signature", [](auto& f) { f[1] = 'Q'; }, {"not a PNG file"}},
        {"cut after the header", [](auto& f) { f.resize(33); }, {"cut short after its IHDR chunk"}},
        {"cut in the image data", [](auto& f) { f.resize(ChunkOffset(f, "IDAT") + 20); }, {"cut short in the data of its IDAT chunk"}},
        {"cut in a checksum", [](auto& f) { f.resize(8 + 8 + 13 + 2); }, {"cut short in the checksum of its IHDR chunk"}},
        {"header checksum wrong", [](auto& f) { f[29] ^= 0xFF; }, {"IHDR", "CRC"}},
        {"unknown critical chunk", [](auto& f) { InsertBeforeIdat(f, Chunk("QUUX", {1, 2, 3})); }, {"QUUX"}},
        {"palette type without a palette",
         [](auto& f) {
             f[25] = PNG_COLOR_TYPE_PALETTE;
             PutBe32(f, 29, static_cast<std::uint32_t>(crc32(0, f.data() + 12, 17)));
         },
         {"PLTE"}},
        {"damaged compressed data", [](auto& f) { for (std::size_t i = ChunkOffset(f, "IDAT") + 8; i < ChunkOffset(f, "IDAT") + 10; ++i) f[i] ^= 0x5A; },
         {"IDAT"}},
        {"huge text chunk", [](auto& f) { InsertBeforeIdat(f, Chunk("tEXt", {'a', 0, 'b'}, 0x7FFFFFF0u)); }, {"tEXt", "cut short"}},
        {"huge declared size",
         [](auto& f) {
             PutBe32(f, 16, 30000);
             PutBe32(f, 20, 30000);
             PutBe32(f, 29, static_cast<std::uint32_t>(crc32(0, f.data() + 12, 17)));
         },
         {"too large", "30000 x 30000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> f = good;
        c.damage(f);
        try {
            render::DecodePng(f.data(), f.size());
            ADD_FAILURE() << "decoded";
        } catch (const render::PictureError& e) {
            for (const char* part : c.says) EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace kalidrome::test
