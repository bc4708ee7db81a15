#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalidrome {

// What ReadFileVersionInfo finds out about a file. Every string starts empty and every
// flag false; a field that cannot be read stays so.
struct TFileVersionInfo {
    std::string FileType;  // the desktop's description of the file's type, at most 80 characters
    std::string CompanyName;
    std::string FileDescription;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyRight;
    std::string LegalTradeMarks;
    std::string OriginalFileName;
    std::string ProductName;
    std::string ProductVersion;
    std::string Comments;
    std::string SpecialBuild;
    std::string PrivateBuild;
    std::string FileTypeName;  // FileTypeName() of the fixed file information
    bool Debug = false;
    bool PreRelease = false;
    bool SpecialBuildFlag = false;
    bool PrivateBuildFlag = false;
    bool Patched = false;
    bool InfoInferred = false;

    bool operator==(const TFileVersionInfo&) const = default;
};

// The text for a file type and subtype of the fixed file information ("Application",
// "Sound Driver", "Truetype Font", ...); empty for values without one.
std::string FileTypeName(std::uint32_t type, std::uint32_t subtype);

// Version records travel as the Windows version resource (VS_VERSIONINFO): a tree of
// blocks, each with a key, a value (binary or UTF-16 text) and children. A Windows PE
// file carries it as its RT_VERSION resource; our own ELF executable carries the same
// bytes as the description of an ELF note of owner kVersionNoteOwner and type
// kVersionNoteType, in a note section the build fills in.
inline constexpr std::string_view kVersionNoteOwner = "Kalidrome";
inline constexpr std::uint32_t kVersionNoteType = 1;
// The size the version resource format can describe (its lengths are 16-bit).
inline constexpr std::size_t kMaxVersionRecord = 0xFFFF;

// One executable's version record as found in the file.
struct VersionRecord {
    bool executable = false;             // a PE program (not a DLL) or an ELF program or shared object
    std::vector<std::uint8_t> bytes;     // the version resource; empty when there is none
};

// Random access to a file's bytes, bounded by its size.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly n bytes at offset; false when they are not all there.
    virtual bool read(std::uint64_t offset, std::size_t n, std::uint8_t* out) const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::size_t n, std::uint8_t* out) const override;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// Finds the version record of a PE or ELF file. Anything that does not add up (a cut
// file, offsets that point outside it or back into themselves, sizes beyond
// kMaxVersionRecord) gives no record; reading never allocates more than that bound.
VersionRecord FindVersionRecord(const ByteSource& file);
// The same for a file on disk: only a plain file is read (no pipe, device or folder).
VersionRecord FindVersionRecordInFile(const std::string& path);

// Queries a version record the way the version API does: "\" is the fixed file
// information, "\VarFileInfo\Translation" the list of translations,
// "\StringFileInfo\040904b0\FileVersion" one string. Keys compare without regard to
// ASCII letter case. Returns the value's bytes (for a text, its UTF-16 code units).
std::optional<std::vector<std::uint8_t>> QueryVersionValue(const std::vector<std::uint8_t>& record,
                                                           std::string_view subBlock);
// A text value as UTF-8, up to its first NUL.
std::optional<std::string> QueryVersionString(const std::vector<std::uint8_t>& record, std::string_view subBlock);

// Fills the twelve strings (from the string table of the first translation), the six
// flags and FileTypeName from a version record; FileType is left as it is.
void FillFromVersionRecord(const std::vector<std::uint8_t>& record, TFileVersionInfo& info);

}  // namespace kalidrome
