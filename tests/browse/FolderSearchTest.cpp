// The folder scan as the folder browser drives it from its worker: progress and cancel.
#include <gtest/gtest.h>

#include <filesystem>

#include "FindImages.h"
#include "TempDir.h"

namespace {

using namespace kalidrome;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

class FolderSearchTest : public ::testing::Test {
protected:
    FolderSearchTest() {
        std::filesystem::create_directories(dir.file("Sub/Deeper"));
        for (const char* name : {"a.jpg", "b.png", "Sub/c.jpg", "Sub/Deeper/d.bmp", "notes.txt"})
            WriteFile(dir.file(name), "x");
    }
    const std::vector<std::string> masks{"*.jpg", "*.jpeg", "*.png", "*.bmp"};
    TempDir dir;
};

TEST_F(FolderSearchTest, ProgressCountsEveryMatchAndTheResultIsUnchanged) {
    FindProgress progress;
    const auto withProgress = FindImagesMulti(dir.path(), masks, true, &progress);
    EXPECT_EQ(withProgress, FindImagesMulti(dir.path(), masks, true));
    EXPECT_EQ(withProgress.size(), 4u);
    EXPECT_EQ(progress.found.load(), 4u);
}

TEST_F(FolderSearchTest, ACancelledSearchYieldsNothing) {
    FindProgress progress;
    progress.cancelled = true;
    EXPECT_TRUE(FindImagesMulti(dir.path(), masks, true, &progress).empty());
}

}  // namespace
