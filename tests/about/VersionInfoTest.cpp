// The version reader on small PE files made by fixtures/make-fixtures.sh, on the built
// program's own ELF note, and on files cut, looped and blown up from those.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CaseName.h"
#include "VersionInfo.h"

namespace {

using namespace kalidrome;
using Bytes = std::vector<std::uint8_t>;

std::string Fixture(const std::string& name) { return std::string(KALIDROME_FIXTURES) + "/" + name; }

Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TFileVersionInfo FromBytes(const Bytes& file) {
    TFileVersionInfo info;
    const VersionRecord record = FindVersionRecord(MemorySource(file.data(), file.size()));
    if (record.executable && !record.bytes.empty()) FillFromVersionRecord(record.bytes, info);
    return info;
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Where the resource tree of a PE fixture starts in the file, found the way the reader
// does it, so the hostile cases below can bend its offsets.
std::size_t ResourceBase(const Bytes& pe) {
    const std::size_t coff = Get32(pe, 0x3C) + 4;
    const std::size_t optional = coff + 20;
    const std::size_t optionalSize = pe[coff + 16] | (pe[coff + 17] << 8);
    const std::uint32_t rva = Get32(pe, optional + 112 + 16);
    const std::size_t sections = pe[coff + 2] | (pe[coff + 3] << 8);
    for (std::size_t i = 0; i < sections; ++i) {
        const std::size_t s = optional + optionalSize + 40 * i;
        const std::uint32_t va = Get32(pe, s + 12), size = Get32(pe, s + 8);
        if (rva >= va && rva < va + size) return Get32(pe, s + 20) + (rva - va);
    }
    ADD_FAILURE() << "no resource section";
    return 0;
}

TEST(FileVersionInfo, ReadsTheStringTableOfTheFirstTranslationAndTheFlags) {
    const VersionRecord record = FindVersionRecordInFile(Fixture("versioned.exe"));
    ASSERT_TRUE(record.executable);
    ASSERT_FALSE(record.bytes.empty());
    TFileVersionInfo info;
    FillFromVersionRecord(record.bytes, info);
    TFileVersionInfo expected;
    expected.CompanyName = "Fixture Company";
    expected.FileDescription = "Fixture program";
    expected.FileVersion = "2.5.0.7";  // not the German table's, listed second
    expected.InternalName = "versioned";
    expected.LegalCopyRight = "Copyright \u00A9 Fixture";
    expected.LegalTradeMarks = "No marks";
    expected.OriginalFileName = "versioned.exe";
    expected.ProductName = "Fixture Product";
    expected.ProductVersion = "2.5";
    expected.Comments = "made by make-fixtures.sh";
    expected.SpecialBuild = "special";
    expected.PrivateBuild = "private";
    expected.FileTypeName = "Application";
    // Flags 0x25 under the mask 0x1F: debug and patched; special build (0x20) is masked out.
    expected.Debug = true;
    expected.Patched = true;
    EXPECT_EQ(info, expected);
}

TEST(FileVersionInfo, SubBlockNamesUseLowerCaseHexOfTheFirstTranslation) {
    const VersionRecord record = FindVersionRecordInFile(Fixture("versioned.exe"));
    EXPECT_EQ(QueryVersionString(record.bytes, "\\StringFileInfo\\040904b0\\ProductVersion"), "2.5");
    EXPECT_EQ(QueryVersionString(record.bytes, "\\StringFileInfo\\040704e4\\FileVersion"), "falsche Tabelle");
    EXPECT_EQ(QueryVersionString(record.bytes, "\\StringFileInfo\\040904b0\\NoSuchKey"), std::nullopt);
    const auto translation = QueryVersionValue(record.bytes, "\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation);
    EXPECT_EQ(*translation, (Bytes{0x09, 0x04, 0xB0, 0x04, 0x07, 0x04, 0xE4, 0x04}));

    // Only a German table: its strings, and a sound driver with private build and pre-release.
    TFileVersionInfo german;
    FillFromVersionRecord(FindVersionRecordInFile(Fixture("german.exe")).bytes, german);
    EXPECT_EQ(german.FileVersion, "1.0 deutsch");
    EXPECT_EQ(german.ProductName, "Treiber");
    EXPECT_EQ(german.CompanyName, "");
    EXPECT_EQ(german.FileTypeName, "Sound Driver");
    EXPECT_TRUE(german.PreRelease && german.PrivateBuildFlag);
    EXPECT_FALSE(german.Debug || german.Patched || german.SpecialBuildFlag || german.InfoInferred);
}

TEST(FileVersionInfo, ProgramWithoutResourceAndDllGiveNoStrings) {
    const VersionRecord none = FindVersionRecordInFile(Fixture("noversion.exe"));
    EXPECT_TRUE(none.executable);
    EXPECT_TRUE(none.bytes.empty());
    // The DLL holds the same resource, but is no program.
    const VersionRecord dll = FindVersionRecordInFile(Fixture("versioned.dll"));
    EXPECT_FALSE(dll.executable);
    EXPECT_FALSE(dll.bytes.empty());
    EXPECT_FALSE(FindVersionRecordInFile(Fixture("make-fixtures.sh")).executable);
    EXPECT_FALSE(FindVersionRecordInFile("/nonexistent/file.exe").executable);
    EXPECT_FALSE(FindVersionRecordInFile(KALIDROME_FIXTURES).executable) << "a folder";
}

TEST(FileVersionInfo, OurProgramCarriesTheStampedVersion) {
    const char* bin = std::getenv("KALIDROME_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    const VersionRecord record = FindVersionRecordInFile(std::string(bin) + "/kalidrome");
    ASSERT_TRUE(record.executable);
    TFileVersionInfo info;
    FillFromVersionRecord(record.bytes, info);
    EXPECT_EQ(info.FileVersion, KALIDROME_VERSION);
    EXPECT_EQ(info.ProductVersion, KALIDROME_VERSION);
    EXPECT_EQ(info.ProductName, "Kalidrome");
    EXPECT_EQ(info.FileTypeName, "Application");
    EXPECT_FALSE(info.Debug);
}

struct TypeNameCase {
    const char* name;
    std::uint32_t type, subtype;
    const char* text;
};

const TypeNameCase kTypeNames[] = {
    {"unknown", 0, 77, "Unknown"},
    {"application", 1, 5, "Application"},
    {"dll", 2, 0, "DLL"},
    {"first driver", 3, 0, "Unknown Driver"},
    {"sound driver", 3, 9, "Sound Driver"},
    {"installable driver", 3, 8, "InstallableDriver"},
    {"last driver", 3, 10, "Communications Driver"},
    {"driver past the table", 3, 11, ""},
    {"raster font", 4, 1, "Raster Font"},
    {"truetype font", 4, 3, "Truetype Font"},
    {"font subtype 7", 4, 7, ""},
    {"virtual device", 5, 0xABC12, "Virtual Defice Identifier = 000ABC12"},
    {"type 6", 6, 0, ""},
    {"static library", 7, 3, "Static-link Library"},
    {"type past the table", 8, 0, ""},
};

class FileTypeNames : public ::testing::TestWithParam<TypeNameCase> {};

TEST_P(FileTypeNames, Table) { EXPECT_EQ(FileTypeName(GetParam().type, GetParam().subtype), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(VersionInfo, FileTypeNames, ::testing::ValuesIn(kTypeNames),
                         [](const auto& c) { return test::CaseName(c.param.name); });

// Hostile files: every one gives an empty record (or at most the program flag), never a
// crash, and never a record larger than the format allows.
TEST(FileVersionInfoHostile, CutFilesGiveNoRecordOrTheWholeOne) {
    for (const char* name : {"versioned.exe", "german.exe"}) {
        const Bytes whole = Load(Fixture(name));
        const TFileVersionInfo full = FromBytes(whole);
        for (std::size_t size = 0; size < whole.size(); ++size) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            const TFileVersionInfo info = FromBytes(cut);
            // The record lies before the cut, or nothing is read at all.
            EXPECT_TRUE(info == full || info == TFileVersionInfo{}) << name << " cut at " << size;
        }
    }
    const Bytes elf = Load(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome");
    for (std::size_t size : {std::size_t{0}, std::size_t{3}, std::size_t{40}, std::size_t{64}, elf.size() / 2,
                             elf.size() - 1}) {
        const Bytes cut(elf.begin(), elf.begin() + static_cast<std::ptrdiff_t>(size));
        const TFileVersionInfo info = FromBytes(cut);
        EXPECT_TRUE(info.FileVersion.empty() || info.FileVersion == KALIDROME_VERSION) << size;
    }
}

TEST(FileVersionInfoHostile, LoopsAndHugeSizesGiveAnEmptyRecord) {
    const Bytes pe = Load(Fixture("versioned.exe"));
    const std::size_t base = ResourceBase(pe);
    // The first entry of the type directory points back at the type directory itself.
    Bytes looping = pe;
    Put32(looping, base + 16 + 4, 0x80000000u);
    EXPECT_TRUE(FindVersionRecord(MemorySource(looping.data(), looping.size())).bytes.empty());

    // Entry counts far beyond the section.
    Bytes manyEntries = pe;
    manyEntries[base + 14] = 0xFF;
    manyEntries[base + 15] = 0xFF;
    EXPECT_TRUE(FindVersionRecord(MemorySource(manyEntries.data(), manyEntries.size())).bytes.empty());

    // The data entry's size: the largest one the format cannot hold, and the largest of all.
    const VersionRecord good = FindVersionRecord(MemorySource(pe.data(), pe.size()));
    ASSERT_FALSE(good.bytes.empty());
    std::size_t dataEntry = 0;
    for (std::size_t at = base; at + 8 <= pe.size(); at += 4)
        if (Get32(pe, at + 4) == good.bytes.size() && Get32(pe, at) != 0) {
            dataEntry = at;
            break;
        }
    ASSERT_NE(dataEntry, 0u);
    for (std::uint32_t size : {0x10000u, 0xFFFFFFFFu}) {
        Bytes huge = pe;
        Put32(huge, dataEntry + 4, size);
        EXPECT_TRUE(FindVersionRecord(MemorySource(huge.data(), huge.size())).bytes.empty()) << size;
    }

    // A version block whose length claims more than the record, and one of length 0.
    for (std::uint8_t low : {0xFF, 0x00}) {
        Bytes record = good.bytes;
        record[0] = low;
        record[1] = low;
        TFileVersionInfo info;
        FillFromVersionRecord(record, info);
        EXPECT_EQ(info, TFileVersionInfo{});
    }

    // ELF: a section table beyond the file, and a note section of huge size.
    Bytes elf = Load(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome");
    Bytes farTable = elf;
    for (int i = 0; i < 8; ++i) farTable[0x28 + i] = 0xFF;
    EXPECT_TRUE(FindVersionRecord(MemorySource(farTable.data(), farTable.size())).bytes.empty());
}

}  // namespace
