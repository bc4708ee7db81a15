#include "ListFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "ListFileBytes.h"
#include "TempDir.h"

namespace kalidrome {
namespace {

using test::ExampleListFile;
using test::Header;
using test::JpegString;
using test::Record;
using test::RecordSpec;
using test::TempDir;

const std::string kA = "C:\\P\\a.jpg";
const std::string kB = "C:\\P\\b.png";

std::string Example(int index) {
    RecordSpec r;
    r.fileName = index == 0 ? "a.jpg" : "b.png";
    r.filePath = index == 0 ? kA : kB;
    r.state = index == 0 ? 0x0181 : 0x0081;
    return Record(r);
}

struct ReadOutcome {
    std::string error;  // empty when the read succeeded
    bool saveImage;
};

ReadOutcome ReadBytes(const std::string& bytes, WallpaperList& list, bool saveImage = true) {
    ReadOutcome outcome{"", saveImage};
    try {
        ReadListData(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), list,
                     outcome.saveImage);
    } catch (const ListFileError& e) {
        outcome.error = e.what();
    }
    return outcome;
}

std::vector<std::string> Paths(const WallpaperList& list) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.count(); ++i) out.push_back(list.at(i).FilePath);
    return out;
}

// The example list as the program would have it: rows not yet laid out, the first one
// selected. The example uses Windows-style paths, which Linux does not split at "\".
void AddExampleEntries(WallpaperList& list) {
    TListItemInfo& a = list.AddEntry(kA);
    a.FileName = "a.jpg";
    a.setSelected(true);
    TListItemInfo& b = list.AddEntry(kB);
    b.FileName = "b.png";
}

TEST(ListFileTest, BuilderReproducesTheExample) {
    // The tests below build damaged files with the same builder.
    EXPECT_EQ(Header(2, 2) + Example(0) + Example(1), ExampleListFile());
    EXPECT_EQ(ExampleListFile().size(), 146u);
}

TEST(ListFileTest, ExampleIsWrittenByteForByte) {
    WallpaperList list;
    AddExampleEntries(list);
    list.at(0).Thumbnail.emplace(JpegImage{test::SmallJpeg(), 3, 2});  // not written: thumbnails off
    EXPECT_EQ(EncodeListFile(list, /*saveImage=*/false, /*showImages=*/true), ExampleListFile());
    // Writing laid the rows out.
    EXPECT_EQ(list.at(0).RowHeight, 85);
    EXPECT_EQ(list.at(1).StateWord, 0x0081);
}

TEST(ListFileTest, ExampleReadsBack) {
    WallpaperList list;
    ReadOutcome r = ReadBytes(ExampleListFile(), list, /*saveImage=*/true);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.at(0).FileName, "a.jpg");
    EXPECT_EQ(list.at(0).FilePath, kA);
    EXPECT_EQ(list.at(1).FileName, "b.png");
    EXPECT_EQ(list.at(1).FilePath, kB);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(list.at(i).RowHeight, 85);
        EXPECT_FALSE(list.at(i).Thumbnail.has_value());
    }
    EXPECT_EQ(list.at(0).StateWord, 0x0181);
    EXPECT_EQ(list.at(1).StateWord, 0x0081);
    ASSERT_EQ(list.selectedEntries().size(), 1u);
    EXPECT_EQ(list.selectedEntries()[0], &list.at(0));
    EXPECT_FALSE(r.saveImage);  // taken from the entries' flags
    EXPECT_EQ(EncodeListFile(list, false, false), ExampleListFile());
}

// The row state bits the view sets while it runs are dropped on writing; the rest of the
// word goes back as it was read.
TEST(ListFileTest, TransientStateBitsAreClearedOnWriting) {
    const struct {
        std::uint16_t read, written;
    } cases[] = {
        {0x0297, 0x0081},  // every transient bit (1, 2, 4 and 9) set
        {0x0397, 0x0181},  // the same, selected
        {0x0083, 0x0081},  // bit 1 alone
        {0x0085, 0x0081},  // bit 2 alone
        {0x0091, 0x0081},  // bit 4 alone
        {0x0281, 0x0081},  // bit 9 alone
        {0x4C97, 0x4C81},  // bits the program never sets are kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.read);
        RecordSpec r;
        r.state = c.read;
        WallpaperList list;
        ASSERT_EQ(ReadBytes(Header(2, 1) + Record(r), list).error, "");
        ASSERT_EQ(list.count(), 1u);
        EXPECT_EQ(list.at(0).StateWord, c.read) << "kept whole in memory";
        r.state = c.written;
        EXPECT_EQ(EncodeListFile(list, false, true), Header(2, 1) + Record(r));
    }
}

TEST(ListFileTest, EmptyListIsSixteenBytesAndLeavesSaveImage) {
    WallpaperList list;
    std::string bytes = EncodeListFile(list, true, true);
    EXPECT_EQ(bytes, Header(2, 0));
    for (bool saveImage : {false, true}) {
        ReadOutcome r = ReadBytes(bytes, list, saveImage);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.saveImage, saveImage);
        EXPECT_EQ(list.count(), 0u);
    }
}

TEST(ListFileTest, ThumbnailsSavedAndReadBack) {
    WallpaperList list;
    AddExampleEntries(list);
    const std::string jpeg = JpegString();
    list.at(0).Thumbnail.emplace(JpegImage{test::SmallJpeg(), 3, 2});
    std::string bytes = EncodeListFile(list, /*saveImage=*/true, true);

    RecordSpec a;
    a.fileName = "a.jpg";
    a.filePath = kA;
    a.state = 0x0181;
    a.flag = 1;
    a.thumbnail = jpeg;
    RecordSpec b;
    b.fileName = "b.png";
    b.filePath = kB;
    b.flag = 1;
    EXPECT_EQ(bytes, Header(2, 2) + Record(a) + Record(b));
    // EntryChunk sizes 61 + T and 61.
    auto u32At = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        return v;
    };
    EXPECT_EQ(u32At(20), 61 + jpeg.size());
    EXPECT_EQ(u32At(16 + 8 + 61 + jpeg.size() + 4), 61u);

    WallpaperList back;
    ReadOutcome r = ReadBytes(bytes, back, /*saveImage=*/false);
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.saveImage);
    ASSERT_EQ(back.count(), 2u);
    ASSERT_TRUE(back.at(0).Thumbnail.has_value());
    EXPECT_EQ(test::StoredBytes(*back.at(0).Thumbnail), test::SmallJpeg());
    EXPECT_EQ(back.at(0).Thumbnail->Width, 3);
    EXPECT_EQ(back.at(0).Thumbnail->Height, 2);
    EXPECT_FALSE(back.at(1).Thumbnail.has_value());
    // Written back with exactly the bytes read.
    EXPECT_EQ(EncodeListFile(back, true, true), bytes);
}

TEST(ListFileTest, EntryWithoutThumbnailThenOneWith) {
    RecordSpec none;
    none.flag = 1;
    none.filePath = "/P/none.jpg";
    RecordSpec with;
    with.flag = 1;
    with.filePath = "/P/with.jpg";
    with.thumbnail = JpegString();
    WallpaperList list;
    ReadOutcome r = ReadBytes(Header(2, 2) + Record(none) + Record(with), list);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(Paths(list), (std::vector<std::string>{"/P/none.jpg", "/P/with.jpg"}));
    EXPECT_FALSE(list.at(0).Thumbnail.has_value());
    ASSERT_TRUE(list.at(1).Thumbnail.has_value());
    EXPECT_EQ(test::StoredBytes(*list.at(1).Thumbnail), test::SmallJpeg());
}

TEST(ListFileTest, SaveImageFollowsTheLastEntryRead) {
    RecordSpec on;
    on.flag = 1;
    RecordSpec off;
    off.flag = 0;
    for (bool lastOn : {false, true}) {
        SCOPED_TRACE(lastOn);
        WallpaperList list;
        std::string bytes = Header(2, 2) + Record(lastOn ? off : on) + Record(lastOn ? on : off);
        EXPECT_EQ(ReadBytes(bytes, list, !lastOn).saveImage, lastOn);
    }
}

TEST(ListFileTest, OldVersionsHaveNoCountAndAOneByteState) {
    for (std::uint16_t version : {0, 1}) {
        SCOPED_TRACE(version);
        RecordSpec a;
        a.version = version;
        a.state = 0x81;  // bit 7: selected in the old format
        a.rowHeight = 17;
        RecordSpec b = a;
        b.filePath = "/P/b.jpg";
        b.state = 0x01;
        WallpaperList list;
        ReadOutcome r = ReadBytes(Header(version, 0) + Record(a) + Record(b), list);
        ASSERT_EQ(r.error, "");
        ASSERT_EQ(list.count(), 2u);
        EXPECT_EQ(list.at(0).StateWord, 0x0181);
        EXPECT_TRUE(list.at(0).selected());
        EXPECT_EQ(list.at(1).StateWord, 0x0081);
        EXPECT_EQ(list.at(1).RowHeight, 17);
        EXPECT_EQ(list.at(1).FilePath, "/P/b.jpg");
    }
}

// Files that are refused, with the message the user sees and the entries that stay.
struct RefusedCase {
    const char* name;
    std::string bytes;
    const char* error;
    std::vector<std::string> paths;
};

std::vector<RefusedCase> RefusedCases() {
    const std::string example = ExampleListFile();
    auto with = [&](std::size_t offset, std::uint8_t value) {
        std::string b = example;
        b[offset] = static_cast<char>(value);
        return b;
    };
    RecordSpec oneLarger;
    oneLarger.fileName = "a.jpg";
    oneLarger.filePath = kA;
    oneLarger.entrySizeDelta = 1;
    RecordSpec wrongAnchor;
    std::string noAnchor = Record(wrongAnchor);
    noAnchor[0] = 3;
    RecordSpec overlong;
    overlong.payloadSizeDelta = 100;
    return {
        {"ElevenBytes", example.substr(0, 11), "Unable to load tree structure, not enough data available.", {}},
        {"SignatureUnit0", with(0, 0x46), "Unable to load tree structure, the format is wrong.", {}},
        {"SignatureUnit2", with(4, 0x55), "Unable to load tree structure, the format is wrong.", {}},
        {"SignatureUnit5", with(11, 0x21), "Unable to load tree structure, the format is wrong.", {}},
        {"Version3", with(6, 3), "Unable to load tree structure, the version is unknown.", {}},
        {"NoCount", example.substr(0, 14), "Stream read error", {}},
        {"AnchorMissing", Header(2, 2) + Example(0) + noAnchor, "Stream data corrupt. A node's anchor chunk is missing.",
         {kA}},
        {"EntryChunkOneByteLarger", Header(2, 2) + Record(oneLarger) + Example(1),
         "Stream data corrupt. Unexpected data after node's end position.", {kA}},
        {"PayloadChunkPastRecordEnd", Header(2, 2) + Example(0) + Record(overlong) + Example(1),
         "Stream data corrupt. Unexpected data after node's end position.", {kA, "/P/a.jpg"}},
        {"CutInsideRecord", example.substr(0, 100), "Stream read error", {kA, ""}},
    };
}

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedFileTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedFileTest, RaisesItsMessageAndKeepsWhatWasRead) {
    WallpaperList list;
    ReadOutcome r = ReadBytes(GetParam().bytes, list);
    EXPECT_EQ(r.error, GetParam().error);
    EXPECT_EQ(Paths(list), GetParam().paths);
    EXPECT_EQ(list.updateCount(), 0);  // the bulk update is closed on the way out
}

INSTANTIATE_TEST_SUITE_P(ListFile, RefusedFileTest, ::testing::ValuesIn(RefusedCases()),
                         [](const auto& p) { return std::string(p.param.name); });

// Files that are read whole although they are not as the program writes them.
struct AcceptedCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> paths;
};

std::vector<AcceptedCase> AcceptedCases() {
    std::string unit4 = ExampleListFile();
    unit4[8] = 'x';
    RecordSpec padded;
    padded.fileName = "a.jpg";
    padded.filePath = kA;
    padded.payloadTail = std::string(4, '\0');
    RecordSpec unknownChunk;
    unknownChunk.chunksBefore = std::string("\x07\0\0\0\x05\0\0\0hello", 13);
    // A payload chunk that ends before the thumbnail length: the reader takes a length
    // from the next record, fails on it and goes on at the chunk's stated end.
    RecordSpec shortPayload;
    shortPayload.filePath = "/P/short.jpg";
    shortPayload.flag = 1;
    shortPayload.payloadSizeDelta = -4;
    shortPayload.entrySizeDelta = -4;
    std::string shortFile = Header(2, 3) + Record(shortPayload);
    shortFile.resize(shortFile.size() - 4);
    RecordSpec emptyPayload;
    emptyPayload.flag = -1;
    // The row state's size field is never used: its body is 17 bytes (12 in versions 0
    // and 1) whatever the field says.
    auto rowStateSized = [](std::uint32_t size, std::uint16_t version = 2) {
        RecordSpec r;
        r.filePath = "/P/sized" + std::to_string(size) + ".jpg";
        r.version = version;
        r.rowStateSize = size;
        return Record(r);
    };
    return {
        {"RowStateSizeZero", Header(2, 2) + rowStateSized(0) + Example(1), {"/P/sized0.jpg", kB}},
        {"RowStateSizeOfTheOldFormat", Header(2, 2) + rowStateSized(12) + Example(1), {"/P/sized12.jpg", kB}},
        {"RowStateSizePastTheRecord", Header(2, 2) + rowStateSized(1000) + Example(1), {"/P/sized1000.jpg", kB}},
        {"RowStateSizeAllOnes", Header(2, 2) + rowStateSized(0xFFFFFFFFu) + Example(1), {"/P/sized4294967295.jpg", kB}},
        {"OldRowStateSizeOfTheNewFormat", Header(1, 0) + rowStateSized(17, 1) + rowStateSized(0, 1),
         {"/P/sized17.jpg", "/P/sized0.jpg"}},
        {"SignatureUnit4NotABlank", unit4, {kA, kB}},
        {"PaddingAfterPayload", Header(2, 2) + Record(padded) + Example(1), {kA, kB}},
        {"UnknownChunkSkipped", Header(2, 2) + Record(unknownChunk) + Example(1), {"/P/a.jpg", kB}},
        {"ShortPayloadChunk", shortFile + Example(0) + Example(1), {"/P/short.jpg", kA, kB}},
        {"CountBelowRecords", Header(2, 1) + Example(0) + Example(1), {kA}},
        {"CountOf2Pow31", Header(2, 0x80000000u) + Example(0) + Example(1), {kA, kB}},
        {"CountOfAllOnes", Header(2, 0xFFFFFFFFu) + Example(0), {kA}},
        {"CutBetweenRecords", Header(2, 5) + Example(0), {kA}},
    };
}

void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }

class AcceptedFileTest : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedFileTest, ReadsEveryEntry) {
    WallpaperList list;
    ReadOutcome r = ReadBytes(GetParam().bytes, list);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Paths(list), GetParam().paths);
}

INSTANTIATE_TEST_SUITE_P(ListFile, AcceptedFileTest, ::testing::ValuesIn(AcceptedCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ListFileTest, PayloadDamageCostsOnlyThatEntry) {
    auto names = [](std::string rest) {
        std::string p;
        test::PutSized(p, "d.jpg");
        test::PutSized(p, "/P/d.jpg");
        return p + rest;
    };
    auto thumbnail = [](std::uint32_t length, const std::string& bytes) {
        std::string p;
        test::PutU8(p, 1);
        test::PutU32(p, length);
        return p + bytes;
    };
    std::string hugeName;
    test::PutU32(hugeName, 0xFFFFFFF0u);
    // The same picture claiming to be 5000 pixels wide: no thumbnail is that big.
    std::string giant = JpegString();
    const std::size_t sof = giant.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    giant[sof + 7] = static_cast<char>(5000 >> 8);
    giant[sof + 8] = static_cast<char>(5000 & 0xFF);
    struct Case {
        const char* name;
        std::string payload;
        const char* path;
    };
    const Case cases[] = {
        {"NameLongerThanFile", hugeName, ""},
        {"ThumbnailLongerThanFile", names(thumbnail(0x7FFFFFFFu, "")), "/P/d.jpg"},
        {"ThumbnailNotJpeg", names(thumbnail(6, "abcdef")), "/P/d.jpg"},
        {"ThumbnailCut", names(thumbnail(20, JpegString().substr(0, 20))), "/P/d.jpg"},
        {"ThumbnailGiant", names(thumbnail(static_cast<std::uint32_t>(giant.size()), giant)), "/P/d.jpg"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        RecordSpec damaged;
        damaged.payload = c.payload;
        const std::string bytes = Header(2, 2) + Record(damaged) + Example(1);
        // From memory, and from a file, whose thumbnails stay in it.
        for (const bool fromFile : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (fromFile ? " from a file" : " from memory"));
            WallpaperList list;
            ReadOutcome r{"", true};
            if (fromFile) {
                test::WriteFile(dir.file("damaged.kdl"), bytes);
                try {
                    ReadListFile(dir.file("damaged.kdl"), list, r.saveImage);
                } catch (const ListFileError& e) {
                    r.error = e.what();
                }
            } else {
                r = ReadBytes(bytes, list);
            }
            EXPECT_EQ(r.error, "");
            ASSERT_EQ(list.count(), 2u);
            EXPECT_EQ(list.at(0).FilePath, c.path);
            EXPECT_FALSE(list.at(0).Thumbnail.has_value());
            EXPECT_EQ(list.at(1).FilePath, kB);
        }
    }
}

TEST(ListFileTest, NestedRecordsBecomeEntriesAfterTheirParent) {
    RecordSpec grandchild;
    grandchild.filePath = "/P/grandchild.jpg";
    grandchild.state = 0x0181;
    RecordSpec child1;
    child1.filePath = "/P/child1.jpg";
    child1.children = {Record(grandchild)};
    RecordSpec child2;
    child2.filePath = "/P/child2.jpg";
    RecordSpec parent;
    parent.filePath = "/P/parent.jpg";
    parent.children = {Record(child1), Record(child2)};
    WallpaperList list;
    ReadOutcome r = ReadBytes(Header(2, 2) + Record(parent) + Example(1), list);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"/P/parent.jpg", "/P/child1.jpg", "/P/grandchild.jpg",
                                                     "/P/child2.jpg", kB}));
    EXPECT_TRUE(list.at(2).selected());
}

TEST(ListFileTest, DeepNestingDoesNotExhaustTheStack) {
    // 200 000 records, each the only child of the one before; the last one is cut off.
    constexpr int kDepth = 200000;
    std::string bytes = Header(2, 1);
    for (int i = 0; i < kDepth; ++i) {
        test::PutU32(bytes, 1);
        test::PutU32(bytes, 0x7FFFFFFF);
        test::PutU32(bytes, 2);
        test::PutU32(bytes, 17);
        test::PutU32(bytes, 1);  // one child
        bytes += std::string(13, '\0');
    }
    WallpaperList list;
    ReadOutcome r = ReadBytes(bytes, list);
    EXPECT_EQ(r.error, "Stream read error");
    EXPECT_EQ(list.count(), static_cast<std::size_t>(kDepth));
}

TEST(ListFileTest, EveryCutKeepsTheEntriesBeforeIt) {
    RecordSpec a;
    a.filePath = "/P/a.jpg";
    a.flag = 1;
    a.thumbnail = JpegString();
    RecordSpec b = a;
    b.filePath = "/P/b.jpg";
    const std::string first = Header(2, 2) + Record(a);
    const std::string whole = first + Record(b);
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        WallpaperList list;
        ReadOutcome r = ReadBytes(whole.substr(0, cut), list);
        if (cut >= first.size()) {
            ASSERT_GE(list.count(), 1u);
            EXPECT_EQ(list.at(0).FilePath, "/P/a.jpg");
            EXPECT_TRUE(list.at(0).Thumbnail.has_value());
        }
        // Cut at a record boundary: no error, the records before are all there.
        const bool boundary = cut == 16 || cut == first.size() || cut == whole.size();
        if (boundary) {
            EXPECT_EQ(r.error, "");
        }
        if (r.error.empty() && !boundary) {
            // Cut inside a payload: the last entry lacks what was cut off.
            ASSERT_GE(list.count(), 1u);
            EXPECT_FALSE(list.at(list.count() - 1).Thumbnail.has_value());
        }
    }
}

TEST(ListFileTest, SizedStrings) {
    std::string out;
    WriteSizedString(out, "");
    WriteSizedString(out, "C:\\P\\a.jpg");
    EXPECT_EQ(out, std::string("\0\0\0\0\x0a\0\0\0C:\\P\\a.jpg", 18));
    MemoryByteSource in(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
    EXPECT_EQ(ReadSizedString(in), "");
    EXPECT_EQ(ReadSizedString(in), "C:\\P\\a.jpg");
    EXPECT_THROW(ReadSizedString(in), ListFileError);
    std::string longer;
    test::PutSized(longer, "abc");
    longer.pop_back();  // one byte short
    MemoryByteSource cut(reinterpret_cast<const std::uint8_t*>(longer.data()), longer.size());
    EXPECT_THROW(ReadSizedString(cut), ListFileError);
}

// --- Files on disk ---

class ListFileOnDiskTest : public ::testing::Test {
protected:
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir m_dir;
};

TEST_F(ListFileOnDiskTest, WritesAndReadsAFile) {
    const std::string path = m_dir.file("Files.kdl");
    WallpaperList list;
    AddExampleEntries(list);
    WriteListFile(path, list, false, true);
    EXPECT_EQ(test::ReadFile(path), ExampleListFile());
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Files.kdl"});

    WallpaperList back;
    bool saveImage = true;
    ReadListFile(path, back, saveImage);
    EXPECT_EQ(Paths(back), (std::vector<std::string>{kA, kB}));
    EXPECT_FALSE(saveImage);
}

TEST_F(ListFileOnDiskTest, OpenAndCreateFailuresNameTheAbsolutePath) {
    WallpaperList list;
    bool saveImage = true;
    const std::string missing = m_dir.file("missing.kdl");
    try {
        ReadListFile(missing, list, saveImage);
        ADD_FAILURE() << "no error";
    } catch (const ListFileError& e) {
        EXPECT_STREQ(e.what(), ("Cannot open file \"" + missing + "\". No such file or directory").c_str());
    }
    try {
        ReadListFile(m_dir.path(), list, saveImage);
        ADD_FAILURE() << "no error";
    } catch (const ListFileError& e) {
        EXPECT_STREQ(e.what(), ("Cannot open file \"" + m_dir.path() + "\". Is a directory").c_str());
    }
    // A relative path is reported made absolute.
    const std::string relative = "no-such-folder-for-list-test/x.kdl";
    const std::string absolute = std::filesystem::current_path().string() + "/" + relative;
    try {
        WriteListFile(relative, list, true, true);
        ADD_FAILURE() << "no error";
    } catch (const ListFileError& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file \"" + absolute + "\". No such file or directory").c_str());
    }
}

TEST_F(ListFileOnDiskTest, ReadOnlyFileIsNotReplaced) {
    const std::string path = m_dir.file("Files.kdl");
    test::WriteFile(path, "previous");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    WallpaperList list;
    AddExampleEntries(list);
    try {
        WriteListFile(path, list, true, true);
        ADD_FAILURE() << "no error";
    } catch (const ListFileError& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file \"" + path + "\". Permission denied").c_str());
    }
    EXPECT_EQ(test::ReadFile(path), "previous");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Files.kdl"});
}

TEST_F(ListFileOnDiskTest, FailedSaveLeavesThePreviousListWhole) {
    const std::string path = m_dir.file("Files.kdl");
    test::WriteFile(path, ExampleListFile());
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WallpaperList list;
    for (int i = 0; i < 2000; ++i) {
        list.AddEntry("/P/" + std::to_string(i) + ".jpg").Thumbnail.emplace(JpegImage{test::SmallJpeg(), 3, 2});
    }
    // The file-size limit makes the write fail part of the way through, as a full disk would.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    try {
        WriteListFile(path, list, true, true);
    } catch (const ListFileError& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(test::ReadFile(path), ExampleListFile());
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Files.kdl"});

    // Without the limit the same save replaces the file and keeps its permissions.
    WriteListFile(path, list, true, true);
    WallpaperList back;
    bool saveImage = false;
    ReadListFile(path, back, saveImage);
    EXPECT_EQ(back.count(), 2000u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ListFileOnDiskTest, SavingThroughALinkReplacesTheFileItPointsTo) {
    const std::string target = m_dir.file("real.kdl");
    const std::string link = m_dir.file("Files.kdl");
    test::WriteFile(target, "previous");
    ASSERT_EQ(::symlink("real.kdl", link.c_str()), 0);
    WallpaperList list;
    AddExampleEntries(list);
    WriteListFile(link, list, false, true);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::ReadFile(target), ExampleListFile());
}

// --- Thumbnails left in the list file that was read ---

// Files of folder this process holds open (a spill file has no name, but its descriptor
// still says where it was made), and their bytes.
struct SpillFiles {
    int open = 0;
    std::uintmax_t bytes = 0;
};
SpillFiles SpillFilesIn(const std::string& folder) {
    SpillFiles files;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (ec || target.rfind(folder + "/", 0) != 0) continue;
        ++files.open;
        files.bytes += std::filesystem::file_size(e.path(), ec);
    }
    return files;
}
int SpillFilesOpen(const std::string& folder) { return SpillFilesIn(folder).open; }

// SmallJpeg with its last entropy-coded bytes varied by n: a thumbnail of another picture
// with the same header and length.
std::string VariedJpeg(int n) {
    std::string jpeg = JpegString();
    jpeg[jpeg.size() - 4] = static_cast<char>(0x10 + n % 200);
    jpeg[jpeg.size() - 3] = static_cast<char>(0x20 + n / 200 % 200);
    return jpeg;
}

// A list file as the program writes it, with thumbnails saved: entries "/P/<i>.jpg", every
// third one without a thumbnail, every fourth selected, thumbnails varied by seed + i.
std::string ThumbnailListFile(int count, int seed = 0) {
    std::string bytes = Header(2, static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) {
        RecordSpec r;
        r.fileName = std::to_string(i) + ".jpg";
        r.filePath = "/P/" + r.fileName;
        r.state = i % 4 == 0 ? 0x0181 : 0x0081;
        r.flag = 1;
        if (i % 3 != 2) r.thumbnail = VariedJpeg(seed + i);
        bytes += Record(r);
    }
    return bytes;
}

bool HasStoredThumbnail(int i) { return i % 3 != 2; }

// Where the thumbnail of entry i starts in ThumbnailListFile.
std::size_t ThumbnailOffset(const std::string& file, int i) {
    const std::string thumbnail = VariedJpeg(i);
    const std::size_t at = file.find(thumbnail);
    EXPECT_NE(at, std::string::npos);
    return at;
}

TEST_F(ListFileOnDiskTest, ThumbnailsStayInTheFileAndAreSavedByteForByte) {
    const char* source = std::getenv("KALIDROME_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string corpus = std::string(source) + "/tests/fuzz/corpus/fuzz_listfile/";
    struct Fixture {
        const char* name;
        std::string bytes;
    };
    const Fixture fixtures[] = {
        {"example", test::ReadFile(corpus + "example.kdl")},
        {"one thumbnail", test::ReadFile(corpus + "thumbnail.kdl")},
        {"thumbnails and none", ThumbnailListFile(30)},
    };
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        ASSERT_FALSE(f.bytes.empty());
        const std::string path = m_dir.file("read.kdl");
        test::WriteFile(path, f.bytes);
        WallpaperList list;
        bool saveImage = false;
        ReadListFile(path, list, saveImage);
        ASSERT_GT(list.count(), 0u);
        for (std::size_t i = 0; i < list.count(); ++i)
            if (list.at(i).Thumbnail) {
                EXPECT_FALSE(list.at(i).Thumbnail->inMemory()) << i;
            }
        // None of them was ever drawn: saving reads them from the file that was read.
        const std::string saved = m_dir.file("saved.kdl");
        WriteListFile(saved, list, saveImage, true);
        EXPECT_EQ(test::ReadFile(saved), f.bytes);
        EXPECT_EQ(EncodeListFile(list, saveImage, true), f.bytes);
    }
}

// Another program changes the list file while the program has it open: every thumbnail
// still reads back as it was, or fails to and is written as none, so that the view makes
// it again from the picture. Nothing crashes.
TEST_F(ListFileOnDiskTest, AListFileChangedWhileOpenKeepsOrLosesEachThumbnailWhole) {
    constexpr int kCount = 40;
    const std::string original = ThumbnailListFile(kCount);
    const std::size_t middleOfTen = ThumbnailOffset(original, 10) + 100;
    const std::size_t inSeven = ThumbnailOffset(original, 7) + VariedJpeg(7).size() - 4;
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> change;
        std::function<bool(int)> keeps;
    };
    auto all = [](int) { return true; };
    auto none = [](int) { return false; };
    const Case cases[] = {
        {"saved over by rename",
         [](const std::string& path) {
             WallpaperList other;
             other.AddEntry("/other.jpg").Thumbnail.emplace(JpegImage{test::SmallJpeg(), 3, 2});
             WriteListFile(path, other, true, true);
         },
         all},
        {"deleted", [](const std::string& path) { ASSERT_EQ(::unlink(path.c_str()), 0); }, all},
        {"cut in the middle of a thumbnail",
         [&](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(middleOfTen)), 0); },
         [](int i) { return i < 10; }},
        {"cut to nothing", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 0), 0); }, none},
        {"rewritten in place with other pictures",
         [](const std::string& path) {
             const std::string other = ThumbnailListFile(kCount, 1000);
             const int fd = ::open(path.c_str(), O_WRONLY);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
             ::close(fd);
         },
         none},
        {"one thumbnail scribbled over",
         [&](const std::string& path) {
             const int fd = ::open(path.c_str(), O_WRONLY);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(::pwrite(fd, "\x55", 1, static_cast<off_t>(inSeven)), 1);
             ::close(fd);
         },
         [](int i) { return i != 7; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.file("Files.kdl");
        test::WriteFile(path, original);
        WallpaperList list;
        bool saveImage = false;
        ReadListFile(path, list, saveImage);
        ASSERT_EQ(list.count(), static_cast<std::size_t>(kCount));
        c.change(path);

        for (int i = 0; i < kCount; ++i) {
            SCOPED_TRACE(i);
            const TListItemInfo& e = list.at(static_cast<std::size_t>(i));
            ASSERT_EQ(e.Thumbnail.has_value(), HasStoredThumbnail(i));
            if (!e.Thumbnail) continue;
            std::vector<std::uint8_t> bytes;
            const bool read = e.Thumbnail->read(bytes);
            EXPECT_EQ(read, c.keeps(i));
            if (read) {
                EXPECT_EQ(std::string(bytes.begin(), bytes.end()), VariedJpeg(i));
            }
        }

        // A save writes what can be read back and none for the rest, which the entries lose.
        const std::string saved = m_dir.file("saved.kdl");
        WriteListFile(saved, list, true, true);
        WallpaperList back;
        ReadListFile(saved, back, saveImage);
        ASSERT_EQ(back.count(), static_cast<std::size_t>(kCount));
        for (int i = 0; i < kCount; ++i) {
            SCOPED_TRACE(i);
            const bool kept = HasStoredThumbnail(i) && c.keeps(i);
            EXPECT_EQ(list.at(static_cast<std::size_t>(i)).Thumbnail.has_value(), kept);
            ASSERT_EQ(back.at(static_cast<std::size_t>(i)).Thumbnail.has_value(), kept);
            if (kept) {
                const std::string jpeg = VariedJpeg(i);
                EXPECT_EQ(test::StoredBytes(*back.at(static_cast<std::size_t>(i)).Thumbnail),
                          std::vector<std::uint8_t>(jpeg.begin(), jpeg.end()));
            }
            EXPECT_EQ(back.at(static_cast<std::size_t>(i)).selected(), i % 4 == 0);
        }
        // Where nothing was lost, the save is the file that was read.
        if (c.keeps(7) && c.keeps(kCount - 1)) {
            EXPECT_EQ(test::ReadFile(saved), original);
        }
    }
}

// After a save the thumbnails are read from the new file: those made since the list was
// read leave memory, and the old file is let go.
TEST_F(ListFileOnDiskTest, SavingMovesEveryThumbnailIntoTheSavedFile) {
    const std::string first = m_dir.file("first.kdl");
    test::WriteFile(first, ThumbnailListFile(6));
    WallpaperList list;
    bool saveImage = false;
    ReadListFile(first, list, saveImage);
    list.setThumbnailFolder(m_dir.file("cache"));
    // Entries 2 and 5 had none stored: theirs are made now, and wait in the spill file.
    for (std::size_t i : {2u, 5u}) {
        const std::string made = VariedJpeg(77 + static_cast<int>(i));
        ASSERT_TRUE(list.SetThumbnail(list.at(i).id(), JpegImage{{made.begin(), made.end()}, 3, 2}));
        EXPECT_FALSE(list.at(i).Thumbnail->inMemory());
    }
    EXPECT_EQ(SpillFilesOpen(m_dir.file("cache")), 1);
    std::vector<std::vector<std::uint8_t>> before;
    for (std::size_t i = 0; i < list.count(); ++i) before.push_back(test::StoredBytes(*list.at(i).Thumbnail));

    const std::string second = m_dir.file("second.kdl");
    WriteListFile(second, list, true, true);
    ASSERT_EQ(::truncate(first.c_str(), 0), 0);  // the old file no longer matters
    for (std::size_t i = 0; i < list.count(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(list.at(i).Thumbnail.has_value());
        EXPECT_FALSE(list.at(i).Thumbnail->inMemory());
        EXPECT_EQ(test::StoredBytes(*list.at(i).Thumbnail), before[i]);
    }
    EXPECT_EQ(SpillFilesOpen(m_dir.file("cache")), 1);
    EXPECT_EQ(SpillFilesIn(m_dir.file("cache")).bytes, 0u) << "the spill file is emptied for the next ones";
    // They are in the saved file now: cut it, and they can no longer be read back.
    ASSERT_EQ(::truncate(second.c_str(), 0), 0);
    for (std::size_t i = 0; i < list.count(); ++i) EXPECT_TRUE(test::StoredBytes(*list.at(i).Thumbnail).empty()) << i;
}

// Thumbnails made in this run wait for a save in a file without a name, not in memory;
// where that file cannot be made they stay in memory, whole.
TEST_F(ListFileOnDiskTest, MadeThumbnailsWaitInASpillFileOrElseInMemory) {
    const struct {
        const char* name;
        bool folderBlocked;  // a file where the folder should be
    } cases[] = {{"spill file", false}, {"no folder for it", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = m_dir.file(std::string("spill-") + (c.folderBlocked ? "blocked" : "ok"));
        if (c.folderBlocked) test::WriteFile(folder, "in the way");
        WallpaperList list;
        list.setThumbnailFolder(folder);
        std::vector<std::string> made;
        for (int i = 0; i < 5; ++i) {
            made.push_back(VariedJpeg(300 + i));
            list.AddEntry("/p" + std::to_string(i) + ".jpg");
            ASSERT_TRUE(list.SetThumbnail(list.at(static_cast<std::size_t>(i)).id(),
                                          JpegImage{{made.back().begin(), made.back().end()}, 3, 2}));
        }
        for (std::size_t i = 0; i < made.size(); ++i) {
            EXPECT_EQ(list.at(i).Thumbnail->inMemory(), c.folderBlocked) << i;
            EXPECT_EQ(test::StoredBytes(*list.at(i).Thumbnail), std::vector<std::uint8_t>(made[i].begin(), made[i].end()));
        }
        if (!c.folderBlocked) {
            EXPECT_EQ(SpillFilesOpen(folder), 1);
            EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the file has no name";
        }
        if (!c.folderBlocked) {
            EXPECT_GT(SpillFilesIn(folder).bytes, 0u);
        }
        list.Clear();
        EXPECT_EQ(SpillFilesIn(folder).bytes, 0u) << "nothing in it is wanted any more";
        list.setThumbnailFolder(folder + "-other");
        EXPECT_EQ(SpillFilesOpen(folder), 0) << "the file goes with the spill";
    }
}

// Saves without thumbnails move none out of the spill file: it stays the one file, however
// often the list is saved; saves with thumbnails empty it and use it again.
TEST_F(ListFileOnDiskTest, SavesKeepOneSpillFile) {
    const std::string folder = m_dir.file("spill");
    WallpaperList list;
    list.setThumbnailFolder(folder);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const std::string made = VariedJpeg(round);
        list.AddEntry("/p" + std::to_string(round) + ".jpg");
        ASSERT_TRUE(list.SetThumbnail(list.at(list.count() - 1).id(), JpegImage{{made.begin(), made.end()}, 3, 2}));
        WriteListFile(m_dir.file("Files.kdl"), list, round % 3 == 2, true);
        EXPECT_EQ(SpillFilesOpen(folder), 1);
        for (std::size_t i = 0; i < list.count(); ++i) {
            const std::string expected = VariedJpeg(static_cast<int>(i));
            EXPECT_EQ(test::StoredBytes(*list.at(i).Thumbnail), std::vector<std::uint8_t>(expected.begin(), expected.end()))
                << i;
        }
    }
}

// A disk that fills up (here: a file-size limit) keeps the thumbnail that no longer fits,
// and later ones, in memory; a save lets the spill file be tried again.
TEST_F(ListFileOnDiskTest, AFullDiskKeepsThumbnailsInMemory) {
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        int failures = 0;
        auto check = [&failures](bool ok) { failures += ok ? 0 : 1; };
        const std::string made = VariedJpeg(1);
        const std::vector<std::uint8_t> bytes(made.begin(), made.end());
        WallpaperList list;
        list.setThumbnailFolder(m_dir.file("spill"));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{static_cast<rlim_t>(bytes.size() * 3 / 2), old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        for (int i = 0; i < 3; ++i) {
            list.AddEntry("/p" + std::to_string(i));
            list.SetThumbnail(list.at(static_cast<std::size_t>(i)).id(), JpegImage{bytes, 3, 2});
        }
        check(!list.at(0).Thumbnail->inMemory());
        check(list.at(1).Thumbnail->inMemory());  // half written, then kept
        check(list.at(2).Thumbnail->inMemory());
        for (std::size_t i = 0; i < 3; ++i) check(test::StoredBytes(*list.at(i).Thumbnail) == bytes);
        ::setrlimit(RLIMIT_FSIZE, &old);
        list.thumbnailsSaved();
        list.AddEntry("/p3");
        list.SetThumbnail(list.at(3).id(), JpegImage{bytes, 3, 2});
        check(!list.at(3).Thumbnail->inMemory());
        check(test::StoredBytes(*list.at(3).Thumbnail) == bytes);
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "checks that failed in the child";
}

TEST_F(ListFileOnDiskTest, FolderPartExists) {
    const std::string file = m_dir.file("Files.kdl");
    test::WriteFile(file, "x");
    EXPECT_FALSE(FolderPartExists("Files.kdl"));
    EXPECT_FALSE(FolderPartExists(m_dir.file("missing/Files.kdl")));
    EXPECT_FALSE(FolderPartExists(file + "/Files.kdl"));  // the folder part is a file
    EXPECT_TRUE(FolderPartExists(file));
    EXPECT_TRUE(FolderPartExists("/Files.kdl"));
}

}  // namespace
}  // namespace kalidrome
