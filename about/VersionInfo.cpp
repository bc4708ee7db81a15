#include "VersionInfo.h"

#include <array>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TextEncoding.h"
#include "UniqueFd.h"

namespace kalidrome {

namespace {

// Blocks nest a few levels deep in every real record (root, StringFileInfo, table, string).
constexpr int kMaxBlockDepth = 8;
// A PE file lists at most this many sections.
constexpr std::uint32_t kMaxPeSections = 96;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint32_t kShtNote = 7;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Integers of an ELF file in its own byte order.
struct Endian {
    bool big = false;
    std::uint16_t u16(const std::uint8_t* p) const { return big ? static_cast<std::uint16_t>((p[0] << 8) | p[1]) : Le16(p); }
    std::uint32_t u32(const std::uint8_t* p) const {
        if (!big) return Le32(p);
        return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
               (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
    }
    std::uint64_t u64(const std::uint8_t* p) const {
        const std::uint64_t a = u32(p), b = u32(p + 4);
        return big ? (a << 32) | b : (b << 32) | a;
    }
};

bool ReadBytes(const ByteSource& file, std::uint64_t offset, std::size_t n, std::vector<std::uint8_t>& out) {
    if (n > kMaxVersionRecord || offset > file.size() || n > file.size() - offset) return false;
    out.resize(n);
    return file.read(offset, n, out.data());
}

// ---- PE ----

struct PeSection {
    std::uint32_t virtualAddress, virtualSize, rawSize, rawPointer;
};

std::optional<std::uint64_t> RvaToOffset(const std::vector<PeSection>& sections, std::uint32_t rva, std::uint32_t length) {
    for (const PeSection& s : sections) {
        const std::uint64_t span = std::max(s.virtualSize, s.rawSize);
        if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
        const std::uint64_t within = rva - s.virtualAddress;
        if (within + length > s.rawSize) return std::nullopt;  // not backed by the file
        return static_cast<std::uint64_t>(s.rawPointer) + within;
    }
    return std::nullopt;
}

// One entry of a resource directory: the id (or a name) and where it leads.
struct ResourceEntry {
    std::uint32_t name;
    std::uint32_t target;
};

// The entries of the resource directory at offset (relative to the resource section).
std::optional<std::vector<ResourceEntry>> ResourceEntries(const ByteSource& file, std::uint64_t base,
                                                          std::uint32_t rsrcSize, std::uint32_t offset) {
    std::array<std::uint8_t, 16> header{};
    if (offset > rsrcSize || rsrcSize - offset < header.size()) return std::nullopt;
    if (!file.read(base + offset, header.size(), header.data())) return std::nullopt;
    const std::uint32_t count = static_cast<std::uint32_t>(Le16(&header[12])) + Le16(&header[14]);
    const std::uint64_t bytes = std::uint64_t{count} * 8;
    if (bytes > rsrcSize - offset - header.size()) return std::nullopt;
    std::vector<std::uint8_t> raw(bytes);
    if (bytes && !file.read(base + offset + header.size(), bytes, raw.data())) return std::nullopt;
    std::vector<ResourceEntry> entries(count);
    for (std::uint32_t i = 0; i < count; ++i) entries[i] = {Le32(&raw[8 * i]), Le32(&raw[8 * i + 4])};
    return entries;
}

VersionRecord FindPeRecord(const ByteSource& file) {
    VersionRecord record;
    std::array<std::uint8_t, 64> dos{};
    if (!file.read(0, dos.size(), dos.data())) return record;
    const std::uint64_t pe = Le32(&dos[0x3C]);
    std::array<std::uint8_t, 24> coff{};
    if (!file.read(pe, coff.size(), coff.data()) || std::memcmp(coff.data(), "PE\0\0", 4) != 0) return record;
    const std::uint16_t sectionCount = Le16(&coff[6]);
    const std::uint16_t optionalSize = Le16(&coff[20]);
    const std::uint16_t characteristics = Le16(&coff[22]);
    record.executable = (characteristics & 0x0002) != 0 && (characteristics & 0x2000) == 0;

    std::vector<std::uint8_t> optional;
    if (!ReadBytes(file, pe + 24, optionalSize, optional) || optional.size() < 2) return record;
    const std::uint16_t magic = Le16(&optional[0]);
    std::size_t countAt = 0;
    if (magic == 0x10B) countAt = 92;
    else if (magic == 0x20B) countAt = 108;
    else return record;
    const std::size_t directoryAt = countAt + 4 + 2 * 8;  // the third directory: resources
    if (optional.size() < directoryAt + 8 || Le32(&optional[countAt]) < 3) return record;
    const std::uint32_t rsrcRva = Le32(&optional[directoryAt]);
    const std::uint32_t rsrcSize = Le32(&optional[directoryAt + 4]);
    if (rsrcRva == 0 || rsrcSize == 0 || sectionCount > kMaxPeSections) return record;

    std::vector<std::uint8_t> table;
    if (!ReadBytes(file, pe + 24 + optionalSize, std::size_t{sectionCount} * 40, table)) return record;
    std::vector<PeSection> sections;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* s = &table[40 * i];
        sections.push_back({Le32(s + 12), Le32(s + 8), Le32(s + 16), Le32(s + 20)});
    }
    // The resource tree as the section holds it; its offsets are relative to its start.
    const std::optional<std::uint64_t> base = RvaToOffset(sections, rsrcRva, 16);
    if (!base) return record;
    std::uint32_t available = rsrcSize;
    if (*base >= file.size()) return record;
    available = static_cast<std::uint32_t>(std::min<std::uint64_t>(available, file.size() - *base));

    // Type RT_VERSION, then its first name, then its first language: three levels, no more.
    auto types = ResourceEntries(file, *base, available, 0);
    if (!types) return record;
    std::uint32_t next = 0;
    bool found = false;
    for (const ResourceEntry& e : *types)
        if (e.name == kRtVersion && (e.target & 0x80000000u)) {
            next = e.target & 0x7FFFFFFFu;
            found = true;
            break;
        }
    if (!found) return record;
    for (int level = 0; level < 2; ++level) {
        auto entries = ResourceEntries(file, *base, available, next);
        if (!entries || entries->empty()) return record;
        const std::uint32_t target = entries->front().target;
        const bool directory = (target & 0x80000000u) != 0;
        if (directory != (level == 0)) return record;  // a name leads to languages, a language to data
        next = target & 0x7FFFFFFFu;
    }
    std::array<std::uint8_t, 16> data{};
    if (next > available || available - next < data.size() || !file.read(*base + next, data.size(), data.data()))
        return record;
    const std::uint32_t dataRva = Le32(&data[0]);
    const std::uint32_t dataSize = Le32(&data[4]);
    if (dataSize > kMaxVersionRecord) return record;
    const std::optional<std::uint64_t> at = RvaToOffset(sections, dataRva, dataSize);
    std::vector<std::uint8_t> bytes;
    if (!at || !ReadBytes(file, *at, dataSize, bytes)) return record;
    record.bytes = std::move(bytes);
    return record;
}

// ---- ELF ----

VersionRecord FindElfRecord(const ByteSource& file) {
    VersionRecord record;
    std::array<std::uint8_t, 64> header{};
    if (!file.read(0, 52, header.data())) return record;
    const bool is64 = header[4] == 2;
    if ((header[4] != 1 && !is64) || (header[5] != 1 && header[5] != 2)) return record;
    if (is64 && !file.read(0, 64, header.data())) return record;
    const Endian e{header[5] == 2};
    const std::uint16_t type = e.u16(&header[16]);
    record.executable = type == 2 || type == 3;  // a program, or a position-independent one
    const std::uint64_t shoff = is64 ? e.u64(&header[0x28]) : e.u32(&header[0x20]);
    const std::uint16_t shentsize = e.u16(&header[is64 ? 0x3A : 0x2E]);
    const std::uint16_t shnum = e.u16(&header[is64 ? 0x3C : 0x30]);
    if (shoff == 0 || shentsize < (is64 ? 64 : 40)) return record;

    std::array<std::uint8_t, 64> sh{};
    for (std::uint32_t i = 0; i < shnum; ++i) {
        const std::uint64_t at = shoff + std::uint64_t{i} * shentsize;
        if (at < shoff || !file.read(at, is64 ? 64 : 40, sh.data())) return record;
        if (e.u32(&sh[4]) != kShtNote) continue;
        const std::uint64_t offset = is64 ? e.u64(&sh[0x18]) : e.u32(&sh[0x10]);
        const std::uint64_t size = is64 ? e.u64(&sh[0x20]) : e.u32(&sh[0x14]);
        if (offset > file.size() || size > file.size() - offset) continue;
        // Each note moves on by at least its 12-byte header, so the walk ends.
        for (std::uint64_t pos = 0; size - pos >= 12;) {
            std::array<std::uint8_t, 12> note{};
            if (!file.read(offset + pos, note.size(), note.data())) break;
            const std::uint64_t namesz = e.u32(&note[0]), descsz = e.u32(&note[4]);
            const std::uint64_t nameRound = (namesz + 3) & ~std::uint64_t{3};
            const std::uint64_t descRound = (descsz + 3) & ~std::uint64_t{3};
            const std::uint64_t rest = size - pos - 12;
            if (nameRound > rest || descRound > rest - nameRound) break;
            const std::uint64_t nameAt = offset + pos + 12;
            if (namesz == kVersionNoteOwner.size() + 1 && e.u32(&note[8]) == kVersionNoteType) {
                std::vector<std::uint8_t> name;
                if (ReadBytes(file, nameAt, namesz, name) &&
                    std::memcmp(name.data(), kVersionNoteOwner.data(), kVersionNoteOwner.size()) == 0 &&
                    name.back() == 0) {
                    std::vector<std::uint8_t> bytes;
                    if (ReadBytes(file, nameAt + nameRound, descsz, bytes)) record.bytes = std::move(bytes);
                    return record;
                }
            }
            pos += 12 + nameRound + descRound;
        }
    }
    return record;
}

// ---- the version resource ----

struct Block {
    std::size_t start = 0, end = 0;             // the block's bytes
    std::size_t valueStart = 0, valueEnd = 0;   // its value's bytes
    std::size_t childrenStart = 0;
    std::u16string key;
};

std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

std::optional<Block> ParseBlock(const std::vector<std::uint8_t>& r, std::size_t at, std::size_t limit) {
    if (at > limit || limit - at < 6) return std::nullopt;
    Block b;
    b.start = at;
    const std::size_t length = Le16(&r[at]);
    const std::size_t valueLength = Le16(&r[at + 2]);
    const std::uint16_t type = Le16(&r[at + 4]);
    if (length < 6 || length > limit - at) return std::nullopt;
    b.end = at + length;
    std::size_t p = at + 6;
    for (;;) {
        if (b.end - p < 2) return std::nullopt;
        const char16_t c = Le16(&r[p]);
        p += 2;
        if (c == 0) break;
        b.key.push_back(c);
    }
    b.valueStart = std::min(Align4(p), b.end);
    const std::size_t valueBytes = type == 1 ? 2 * valueLength : valueLength;
    b.valueEnd = std::min(b.valueStart + valueBytes, b.end);
    b.childrenStart = std::min(Align4(b.valueEnd), b.end);
    return b;
}

bool KeyEquals(const std::u16string& key, std::string_view name) {
    if (key.size() != name.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char16_t a = key[i];
        char b = name[i];
        if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != static_cast<unsigned char>(b)) return false;
    }
    return true;
}

std::string Hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%.4x", static_cast<unsigned>(v));
    return text;
}

}  // namespace

bool MemorySource::read(std::uint64_t offset, std::size_t n, std::uint8_t* out) const {
    if (offset > m_size || n > m_size - offset) return false;
    if (n) std::memcpy(out, m_data + offset, n);
    return true;
}

VersionRecord FindVersionRecord(const ByteSource& file) {
    std::array<std::uint8_t, 4> magic{};
    if (!file.read(0, magic.size(), magic.data())) return {};
    if (magic[0] == 'M' && magic[1] == 'Z') return FindPeRecord(file);
    if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') return FindElfRecord(file);
    return {};
}

namespace {
class FileSource : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::size_t n, std::uint8_t* out) const override {
        if (offset > m_size || n > m_size - offset) return false;
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, out + done, n - done, static_cast<off_t>(offset + done));
            if (got <= 0) return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size;
};
}  // namespace

VersionRecord FindVersionRecordInFile(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return FindVersionRecord(FileSource(fd.get(), static_cast<std::uint64_t>(st.st_size)));
}

std::optional<std::vector<std::uint8_t>> QueryVersionValue(const std::vector<std::uint8_t>& record,
                                                           std::string_view subBlock) {
    std::optional<Block> block = ParseBlock(record, 0, record.size());
    if (!block) return std::nullopt;
    int depth = 0;
    while (!subBlock.empty()) {
        if (subBlock.front() == '\\') {
            subBlock.remove_prefix(1);
            continue;
        }
        const std::size_t slash = subBlock.find('\\');
        const std::string_view name = subBlock.substr(0, slash);
        subBlock.remove_prefix(slash == std::string_view::npos ? subBlock.size() : slash);
        if (++depth > kMaxBlockDepth) return std::nullopt;
        std::optional<Block> found;
        // Every child is at least 6 bytes long, so the walk moves on each time.
        for (std::size_t at = block->childrenStart; at < block->end; at = Align4(at)) {
            std::optional<Block> child = ParseBlock(record, at, block->end);
            if (!child) break;
            if (KeyEquals(child->key, name)) {
                found = std::move(child);
                break;
            }
            at = child->end;
        }
        if (!found) return std::nullopt;
        block = std::move(found);
    }
    return std::vector<std::uint8_t>(record.begin() + static_cast<std::ptrdiff_t>(block->valueStart),
                                     record.begin() + static_cast<std::ptrdiff_t>(block->valueEnd));
}

std::optional<std::string> QueryVersionString(const std::vector<std::uint8_t>& record, std::string_view subBlock) {
    auto value = QueryVersionValue(record, subBlock);
    if (!value) return std::nullopt;
    std::string text;
    const std::vector<std::uint8_t>& v = *value;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        std::uint32_t unit = Le16(&v[i]);
        if (unit == 0) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < v.size()) {
            const std::uint32_t low = Le16(&v[i + 2]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        AppendUtf8(text, unit);
    }
    return text;
}

void FillFromVersionRecord(const std::vector<std::uint8_t>& record, TFileVersionInfo& info) {
    std::string* const fields[] = {&info.CompanyName,     &info.FileDescription, &info.FileVersion,
                                   &info.InternalName,    &info.LegalCopyRight,  &info.LegalTradeMarks,
                                   &info.OriginalFileName, &info.ProductName,    &info.ProductVersion,
                                   &info.Comments,        &info.SpecialBuild,    &info.PrivateBuild};
    static constexpr const char* kKeys[] = {"CompanyName",      "FileDescription", "FileVersion",   "InternalName",
                                            "LegalCopyRight",   "LegalTradeMarks", "OriginalFileName",
                                            "ProductName",      "ProductVersion",  "Comments",      "SpecialBuild",
                                            "PrivateBuild"};
    const auto translation = QueryVersionValue(record, "\\VarFileInfo\\Translation");
    if (translation && translation->size() >= 4) {
        const std::string table =
            "\\StringFileInfo\\" + Hex4(Le16(translation->data())) + Hex4(Le16(translation->data() + 2)) + "\\";
        for (std::size_t i = 0; i < std::size(kKeys); ++i)
            if (auto text = QueryVersionString(record, table + kKeys[i])) *fields[i] = std::move(*text);
    }
    const auto fixed = QueryVersionValue(record, "\\");
    if (!fixed || fixed->size() < 52 || Le32(fixed->data()) != kFixedSignature) return;
    const std::uint32_t mask = Le32(fixed->data() + 24);
    const std::uint32_t flags = Le32(fixed->data() + 28) & mask;
    info.Debug = flags & 0x01;
    info.PreRelease = flags & 0x02;
    info.Patched = flags & 0x04;
    info.PrivateBuildFlag = flags & 0x08;
    info.InfoInferred = flags & 0x10;
    info.SpecialBuildFlag = flags & 0x20;
    info.FileTypeName = FileTypeName(Le32(fixed->data() + 36), Le32(fixed->data() + 40));
}

std::string FileTypeName(std::uint32_t type, std::uint32_t subtype) {
    static constexpr const char* kDrivers[] = {"Unknown Driver",  "Printer Driver",    "Keyboard Driver",
                                               "Language Driver", "Display Driver",    "Mouse Driver",
                                               "Network Driver",  "System Driver",     "InstallableDriver",
                                               "Sound Driver",    "Communications Driver"};
    static constexpr const char* kFonts[] = {"Unknown Font", "Raster Font", "Vector Font", "Truetype Font"};
    switch (type) {
        case 0: return "Unknown";
        case 1: return "Application";
        case 2: return "DLL";
        case 3: return subtype < std::size(kDrivers) ? kDrivers[subtype] : "";
        case 4: return subtype < std::size(kFonts) ? kFonts[subtype] : "";
        case 5: {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%.8X", static_cast<unsigned>(subtype));
            return std::string("Virtual Defice Identifier = ") + hex;
        }
        case 7: return "Static-link Library";
        default: return "";
    }
}

}  // namespace kalidrome
