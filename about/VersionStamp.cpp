// The version record of this executable, stamped by the build: the same version
// resource a Windows program carries, as the description of an ELF note in the section
// ".note.kalidrome.version", which ReadFileVersionInfo finds. Linked into the program only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#ifndef KALIDROME_VERSION
#error "the build passes KALIDROME_VERSION"
#endif

namespace {

constexpr std::size_t kCapacity = 2048;

// Writes the blocks of a version resource at compile time: each block is its length,
// its value's length, its type (0 binary, 1 text), its key in UTF-16 with a NUL, padding
// to 4 bytes, its value, padding, then its children.
struct RecordWriter {
    std::array<std::uint8_t, kCapacity> bytes{};
    std::size_t size = 0;

    constexpr void u16(std::uint32_t v) {
        bytes[size++] = static_cast<std::uint8_t>(v & 0xFF);
        bytes[size++] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    constexpr void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    constexpr void pad() {
        while (size % 4) bytes[size++] = 0;
    }
    constexpr void text(std::string_view s) {
        for (char c : s) u16(static_cast<unsigned char>(c));
        u16(0);
    }
    // Opens a block; returns where its length goes.
    constexpr std::size_t open(std::string_view key, std::uint32_t valueLength, std::uint32_t type) {
        pad();
        const std::size_t at = size;
        u16(0);
        u16(valueLength);
        u16(type);
        text(key);
        pad();
        return at;
    }
    constexpr void close(std::size_t at) {
        const std::size_t length = size - at;
        bytes[at] = static_cast<std::uint8_t>(length & 0xFF);
        bytes[at + 1] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    }
    constexpr void string(std::string_view key, std::string_view value) {
        const std::size_t at = open(key, static_cast<std::uint32_t>(value.size() + 1), 1);
        text(value);
        close(at);
    }
};

constexpr std::uint32_t kMajor = KALIDROME_VERSION_MAJOR;
constexpr std::uint32_t kMinor = KALIDROME_VERSION_MINOR;
constexpr std::uint32_t kPatch = KALIDROME_VERSION_PATCH;

constexpr RecordWriter Build() {
    RecordWriter w;
    const std::size_t root = w.open("VS_VERSION_INFO", 52, 0);
    // The fixed file information: signature, structure version, file and product
    // versions, flags mask and flags, operating system, type (an application), date.
    w.u32(0xFEEF04BD);
    w.u32(0x00010000);
    for (int twice = 0; twice < 2; ++twice) {
        w.u32((kMajor << 16) | kMinor);
        w.u32(kPatch << 16);
    }
    w.u32(0x3F);
    w.u32(0);
    w.u32(0);
    w.u32(1);
    w.u32(0);
    w.u32(0);
    w.u32(0);
    const std::size_t strings = w.open("StringFileInfo", 0, 1);
    const std::size_t table = w.open("040904b0", 0, 1);
    w.string("CompanyName", "Kalidrome");
    w.string("FileDescription", "Kalidrome wallpaper cycler");
    w.string("FileVersion", KALIDROME_VERSION);
    w.string("InternalName", "kalidrome");
    w.string("LegalCopyRight", "Free software under the MIT licence");
    w.string("OriginalFileName", "kalidrome");
    w.string("ProductName", "Kalidrome");
    w.string("ProductVersion", KALIDROME_VERSION);
    w.close(table);
    w.close(strings);
    const std::size_t vars = w.open("VarFileInfo", 0, 1);
    const std::size_t translation = w.open("Translation", 4, 0);
    w.u16(0x0409);
    w.u16(0x04B0);
    w.close(translation);
    w.close(vars);
    w.close(root);
    return w;
}

constexpr RecordWriter kRecord = Build();
constexpr std::size_t kDescSize = (kRecord.size + 3) & ~std::size_t{3};

constexpr std::array<std::uint8_t, kDescSize> Desc() {
    std::array<std::uint8_t, kDescSize> d{};
    for (std::size_t i = 0; i < kRecord.size; ++i) d[i] = kRecord.bytes[i];
    return d;
}

}  // namespace

namespace kalidrome_stamp {
struct VersionNote {
    std::uint32_t nameSize;
    std::uint32_t descSize;
    std::uint32_t type;
    char name[12];
    std::array<std::uint8_t, kDescSize> desc;
};
}  // namespace kalidrome_stamp

// Owner "Kalidrome" (kVersionNoteOwner), type 1 (kVersionNoteType).
extern "C" __attribute__((section(".note.kalidrome.version"), used, aligned(4)))
const kalidrome_stamp::VersionNote kalidrome_version_note = {10, static_cast<std::uint32_t>(kRecord.size), 1, "Kalidrome", Desc()};
