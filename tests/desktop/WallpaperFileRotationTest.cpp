#include "Desktop.h"
#include "TempDir.h"
#include "WallpaperFileRotation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::WallpaperFileRotation;

class WallpaperFileRotationTest : public ::testing::Test {
protected:
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Rewrites WallPaper.bmp the way the conversion does: a new file renamed over the old.
    void writeBitmap(const std::string& content) {
        WriteFile(m_dir.file("new.tmp"), content);
        fs::rename(m_dir.file("new.tmp"), m_bitmap);
    }

    TempDir m_dir;
    std::string m_bitmap = m_dir.file("WallPaper.bmp");
};

TEST_F(WallpaperFileRotationTest, EveryChangeGetsANewNameAndOnlyTwoFilesStay) {
    WallpaperFileRotation rotation;
    std::vector<std::string> handed;
    for (int i = 0; i < 5; ++i) {
        writeBitmap("picture " + std::to_string(i));
        const std::string name = rotation.handOver(m_bitmap);
        EXPECT_EQ(ReadFile(name), "picture " + std::to_string(i));
        if (!handed.empty()) {
            EXPECT_NE(name, handed.back()) << "change " << i << " reuses the name the desktop shows";
        }
        handed.push_back(name);
        rotation.removeStale();
        EXPECT_EQ(files().size(), 2u) << "WallPaper.bmp and the name shown, nothing more";
    }
    EXPECT_EQ(fs::path(handed[0]).filename(), "WallPaper-a.bmp");
    EXPECT_EQ(fs::path(handed[1]).filename(), "WallPaper-b.bmp");
    EXPECT_EQ(handed[2], handed[0]);
}

TEST_F(WallpaperFileRotationTest, NameShownKeepsItsPictureWhenTheBitmapIsRewritten) {
    WallpaperFileRotation rotation;
    writeBitmap("first");
    const std::string shown = rotation.next(m_bitmap);
    writeBitmap("second");
    EXPECT_EQ(ReadFile(shown), "first");
    const std::string next = rotation.next(m_bitmap);
    EXPECT_EQ(ReadFile(next), "second");
    // Until the desktop has switched, the old name stays.
    EXPECT_TRUE(fs::exists(shown));
    rotation.removeStale();
    EXPECT_FALSE(fs::exists(shown));
    EXPECT_TRUE(fs::exists(next));
}

TEST_F(WallpaperFileRotationTest, NewRunAvoidsTheNameTheDesktopStillShows) {
    writeBitmap("old run");
    {
        WallpaperFileRotation previousRun;
        previousRun.next(m_bitmap);  // the desktop shows WallPaper-a.bmp
    }
    writeBitmap("new run");
    WallpaperFileRotation rotation;
    const std::string name = rotation.next(m_bitmap);
    EXPECT_EQ(fs::path(name).filename(), "WallPaper-b.bmp");
    EXPECT_EQ(ReadFile(m_dir.file("WallPaper-a.bmp")), "old run");
    rotation.removeStale();
    EXPECT_EQ(files(), (std::vector<std::string>{"WallPaper-b.bmp", "WallPaper.bmp"}));
}

TEST_F(WallpaperFileRotationTest, BothLeftFromACrashTheOlderOneIsReused) {
    writeBitmap("x");
    WriteFile(m_dir.file("WallPaper-a.bmp"), "newer");
    WriteFile(m_dir.file("WallPaper-b.bmp"), "older");
    fs::last_write_time(m_dir.file("WallPaper-b.bmp"), fs::last_write_time(m_dir.file("WallPaper-a.bmp")) - std::chrono::hours(1));
    WallpaperFileRotation rotation;
    EXPECT_EQ(fs::path(rotation.next(m_bitmap)).filename(), "WallPaper-b.bmp");
    rotation.removeStale();
    EXPECT_EQ(files(), (std::vector<std::string>{"WallPaper-b.bmp", "WallPaper.bmp"}));
}

TEST_F(WallpaperFileRotationTest, BitmapHandedOnByItsOwnNameKeepsIt) {
    WallpaperFileRotation rotation;
    writeBitmap("converted");
    const std::string rotated = rotation.handOver(m_bitmap);
    const std::string own = m_dir.file("holiday.bmp");
    WriteFile(own, "user's bitmap");
    EXPECT_EQ(rotation.handOver(own), own);
    rotation.removeStale();
    EXPECT_FALSE(fs::exists(rotated)) << "the rotation's name is stale once the desktop shows the user's file";
    EXPECT_EQ(files(), (std::vector<std::string>{"WallPaper.bmp", "holiday.bmp"}));
    // Back to a converted picture: a fresh name again.
    writeBitmap("converted again");
    EXPECT_EQ(ReadFile(rotation.handOver(m_bitmap)), "converted again");
}

TEST_F(WallpaperFileRotationTest, NameThatCannotBeMadeThrowsDesktopError) {
    // Both names taken by folders with something in them: neither a link nor a copy can go
    // there (even for root, whom a read-only folder would not stop).
    writeBitmap("x");
    for (const char* name : {"WallPaper-a.bmp", "WallPaper-b.bmp"}) {
        fs::create_directory(m_dir.file(name));
        WriteFile(m_dir.file(name) + "/keep", "k");
    }
    WallpaperFileRotation rotation;
    try {
        rotation.next(m_bitmap);
        ADD_FAILURE() << "a name was made over a folder";
    } catch (const platform::DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find("WallPaper-"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(m_dir.file("WallPaper-a.bmp/keep")), "k");
}

TEST_F(WallpaperFileRotationTest, MissingBitmapThrowsDesktopError) {
    WallpaperFileRotation rotation;
    EXPECT_THROW(rotation.next(m_bitmap), platform::DesktopError);
    EXPECT_TRUE(files().empty());
}

// The further monitors' bitmaps are rewritten in place like WallPaper.bmp, so they are
// handed over under changing names too; other names are not.
TEST(WallpaperFileRotationNames, TheProgramsOwnBitmapsRotate) {
    const struct {
        const char* path;
        bool rotated;
    } cases[] = {{"/s/WallPaper.bmp", true},    {"/s/WallPaper-2.bmp", true},  {"/s/WallPaper-12.bmp", true},
                 {"/s/WallPaper-a.bmp", false}, {"/s/WallPaper-.bmp", false},  {"/s/WallPaper-2.png", false},
                 {"/s/Photo-2.bmp", false},     {"/s/WallPaper-2x.bmp", false}};
    for (const auto& c : cases) EXPECT_EQ(platform::IsRewrittenBitmap(c.path), c.rotated) << c.path;
}

}  // namespace
}  // namespace kalidrome::test
