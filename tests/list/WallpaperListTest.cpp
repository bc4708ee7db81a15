#include "WallpaperList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ListFileBytes.h"
#include "TempDir.h"

namespace kalidrome {
namespace {

using Paths = std::vector<std::string>;

Paths PathsOf(const WallpaperList& list) {
    Paths out;
    for (std::size_t i = 0; i < list.count(); ++i) out.push_back(list.at(i).FilePath);
    return out;
}

TEST(WallpaperListTest, NewEntryState) {
    WallpaperList list;
    TListItemInfo& e = list.AddEntry("/Pics/Sub/a.jpg");
    EXPECT_EQ(e.FileName, "a.jpg");
    EXPECT_EQ(e.FilePath, "/Pics/Sub/a.jpg");
    EXPECT_FALSE(e.Thumbnail.has_value());
    EXPECT_EQ(e.StateWord, StateBits::Shown);
    EXPECT_EQ(e.RowHeight, 18);
    EXPECT_NE(e.id(), 0u);
    EXPECT_EQ(list.AddEntry("plain.png").FileName, "plain.png");
    EXPECT_EQ(list.AddEntry("/Pics/dir/").FileName, "");

    WallpaperList::LayOutRow(e, true);
    EXPECT_EQ(e.RowHeight, 85);
    EXPECT_EQ(e.StateWord, 0x0081);
    WallpaperList::LayOutRow(e, false);
    EXPECT_EQ(e.RowHeight, 17);
}

struct AddFilesCase {
    const char* name;
    Paths listed;
    Paths batch;
    std::string currentBefore;
    Paths expected;
    std::string currentAfter;
};

void PrintTo(const AddFilesCase& c, std::ostream* os) { *os << c.name; }

class AddFilesTest : public ::testing::TestWithParam<AddFilesCase> {};

TEST_P(AddFilesTest, AddsWhatIsNotListed) {
    const AddFilesCase& c = GetParam();
    WallpaperList list;
    for (const auto& p : c.listed) list.AddEntry(p);
    std::string current = c.currentBefore;
    list.AddFiles(c.batch, current);
    EXPECT_EQ(PathsOf(list), c.expected);
    EXPECT_EQ(current, c.currentAfter);
}

INSTANTIATE_TEST_SUITE_P(
    WallpaperList, AddFilesTest,
    ::testing::Values(
        AddFilesCase{"NewPathsInBatchOrder", {"/a"}, {"/c", "/b"}, "/x", {"/a", "/c", "/b"}, "/x"},
        AddFilesCase{"ListedPathSkipped", {"/a", "/b"}, {"/b", "/c", "/a"}, "/x", {"/a", "/b", "/c"}, "/x"},
        // Linux file names differ by case, so these are two files.
        AddFilesCase{"CaseMatters", {"/Pics/a.jpg"}, {"/pics/A.JPG"}, "/x", {"/Pics/a.jpg", "/pics/A.JPG"}, "/x"},
        AddFilesCase{"SameNewPathTwice", {}, {"/a", "/a"}, "/x", {"/a", "/a"}, "/x"},
        AddFilesCase{"OneEntryTakesOnePath", {"/a"}, {"/a", "/a"}, "/x", {"/a", "/a"}, "/x"},
        AddFilesCase{"TwoEntriesTakeTwoPaths", {"/a", "/a"}, {"/a", "/a", "/a"}, "/x", {"/a", "/a", "/a"}, "/x"},
        AddFilesCase{"FirstAddedBecomesCurrent", {}, {"/a", "/b", "/c"}, "", {"/a", "/b", "/c"}, "/a"},
        AddFilesCase{"SkippedPathDoesNotBecomeCurrent", {"/a"}, {"/a", "/b"}, "", {"/a", "/b"}, "/b"},
        AddFilesCase{"NothingAddedLeavesCurrentEmpty", {"/a"}, {"/a"}, "", {"/a"}, ""},
        AddFilesCase{"EmptyPathIsAPathLikeAnyOther", {}, {""}, "", {""}, ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WallpaperListTest, ListenerRunsOncePerOutermostUpdate) {
    WallpaperList list;
    int calls = 0;
    list.setChangeListener([&] { ++calls; });
    std::string current;

    list.AddEntry("/a");
    EXPECT_EQ(calls, 1);
    list.AddFiles({"/b", "/c", "/d"}, current);
    EXPECT_EQ(calls, 2);

    list.BeginUpdate();
    list.BeginUpdate();
    list.AddEntry("/e");
    list.RemoveEntry(list.at(0).id());
    list.EndUpdate();
    EXPECT_EQ(calls, 2);
    list.EndUpdate();
    EXPECT_EQ(calls, 3);
    list.EndUpdate();  // at zero: nothing
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(list.updateCount(), 0);

    // A removal that finds nothing to remove still refreshes once.
    EXPECT_EQ(list.RemoveSelected(), 0u);
    EXPECT_EQ(calls, 4);
    list.Clear();
    EXPECT_EQ(calls, 5);
}

TEST(WallpaperListTest, ThumbnailsAreStoredByIdAndRepaintOneRow) {
    WallpaperList list;
    std::vector<EntryId> repainted;
    int refreshes = 0;
    list.setRowChangedListener([&](EntryId id) { repainted.push_back(id); });
    list.setChangeListener([&] { ++refreshes; });
    const EntryId a = list.AddEntry("/a").id();
    const EntryId b = list.AddEntry("/b").id();
    refreshes = 0;

    EXPECT_TRUE(list.SetThumbnail(b, JpegImage{{1, 2, 3}, 3, 1}));
    ASSERT_TRUE(list.find(b)->Thumbnail.has_value());
    EXPECT_EQ(test::StoredBytes(*list.find(b)->Thumbnail), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(repainted, std::vector<EntryId>{b});
    EXPECT_EQ(refreshes, 0);

    // Inside an update the closing refresh repaints everything anyway.
    list.BeginUpdate();
    EXPECT_TRUE(list.SetThumbnail(a, JpegImage{{4}, 1, 1}));
    list.EndUpdate();
    EXPECT_EQ(repainted, std::vector<EntryId>{b});

    // A job finishing after its entry went stores nothing.
    list.RemoveEntry(a);
    EXPECT_FALSE(list.SetThumbnail(a, JpegImage{{5}, 1, 1}));
    EXPECT_EQ(repainted, std::vector<EntryId>{b});
}

TEST(WallpaperListTest, PositionsAndIds) {
    WallpaperList list;
    std::vector<EntryId> ids;
    for (const char* p : {"/a", "/b", "/c", "/d"}) ids.push_back(list.AddEntry(p).id());
    EXPECT_EQ(list.indexOf(ids[2]), 2u);

    EXPECT_TRUE(list.RemoveEntry(ids[1]));
    EXPECT_FALSE(list.RemoveEntry(ids[1]));
    EXPECT_EQ(list.find(ids[1]), nullptr);
    EXPECT_EQ(list.indexOf(ids[1]), std::nullopt);
    // The entries after it move up one place.
    EXPECT_EQ(list.indexOf(ids[2]), 1u);
    EXPECT_EQ(list.indexOf(ids[3]), 2u);
    EXPECT_EQ(list.find(ids[3]), &list.at(2));

    Paths walked;
    for (TListItemInfo* e = list.first(); e; e = list.next(*e)) walked.push_back(e->FilePath);
    EXPECT_EQ(walked, (Paths{"/a", "/c", "/d"}));

    // A new entry never gets an id seen before, not even the removed one's.
    const EntryId fresh = list.AddEntry("/b").id();
    for (EntryId old : ids) EXPECT_NE(fresh, old);
    EXPECT_EQ(list.find(0), nullptr);

    // Ids are unique across lists too.
    WallpaperList other;
    const EntryId elsewhere = other.AddEntry("/a").id();
    EXPECT_EQ(list.find(elsewhere), nullptr);
    EXPECT_NE(elsewhere, fresh);
}

TEST(WallpaperListTest, RemoveSelectedKeepsTheRestInOrder) {
    WallpaperList list;
    std::vector<EntryId> ids;
    for (int i = 0; i < 10; ++i) ids.push_back(list.AddEntry("/" + std::to_string(i)).id());
    for (int i : {0, 3, 4, 9}) list.at(static_cast<std::size_t>(i)).setSelected(true);
    EXPECT_EQ(list.selectedCount(), 4u);
    ASSERT_EQ(list.selectedEntries().size(), 4u);
    EXPECT_EQ(list.selectedEntries()[1]->FilePath, "/3");

    EXPECT_EQ(list.RemoveSelected(), 4u);
    EXPECT_EQ(PathsOf(list), (Paths{"/1", "/2", "/5", "/6", "/7", "/8"}));
    for (int i : {0, 3, 4, 9}) EXPECT_EQ(list.find(ids[static_cast<std::size_t>(i)]), nullptr);
    for (std::size_t i = 0; i < list.count(); ++i) EXPECT_EQ(list.indexOf(list.at(i).id()), i);
    EXPECT_EQ(list.selectedCount(), 0u);
}

TEST(WallpaperListTest, RemoveNonExistingKeepsFilesOfAnyType) {
    test::TempDir dir;
    const std::string file = dir.file("a.jpg");
    test::WriteFile(file, "x");
    const std::string folder = dir.file("folder.jpg");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string fifo = dir.file("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string linkToFile = dir.file("link.jpg");
    ASSERT_EQ(::symlink(file.c_str(), linkToFile.c_str()), 0);
    const std::string dangling = dir.file("dangling.jpg");
    ASSERT_EQ(::symlink(dir.file("gone").c_str(), dangling.c_str()), 0);

    WallpaperList list;
    std::string current;
    list.AddFiles({dir.file("missing.jpg"), file, folder, fifo, "", linkToFile, dangling, file}, current);
    const EntryId missing = list.at(0).id();
    EXPECT_EQ(list.RemoveNonExisting(), 4u);
    EXPECT_EQ(PathsOf(list), (Paths{file, fifo, linkToFile, file}));
    EXPECT_EQ(list.find(missing), nullptr);
}

TEST(WallpaperListTest, ClearReleasesEverything) {
    WallpaperList list;
    list.Clear();
    EXPECT_TRUE(list.empty());
    const EntryId a = list.AddEntry("/a").id();
    list.AddEntry("/b").Thumbnail.emplace(JpegImage{{1}, 1, 1});
    list.Clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.find(a), nullptr);
}

}  // namespace
}  // namespace kalidrome
