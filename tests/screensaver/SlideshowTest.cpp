#include "Slideshow.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "BmpCodec.h"
#include "EnvOverride.h"
#include "IniRegistry.h"
#include "ListFile.h"
#include "PictureFixtures.h"
#include "Process.h"
#include "TempDir.h"
#include "WallpaperList.h"

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using screensaver::Slideshow;
using screensaver::SlideshowOptions;

constexpr render::PixelSize kWindow{64, 48};

// Pictures in a temporary folder, a clock the test moves, and the slideshow over them.
class SlideshowTest : public ::testing::Test {
protected:
    SlideshowTest() : system(dir.path() + "/System/") { fs::create_directories(system); }

    // A 8 x 6 bitmap of one colour; its path.
    std::string Picture(const std::string& name, Rgb colour, std::int32_t width = 8, std::int32_t height = 6) {
        const std::string path = dir.file(name);
        render::WriteBmpFile(path, SolidImage(width, height, colour));
        return path;
    }

    std::unique_ptr<Slideshow> Show(std::vector<std::string> paths, SlideshowOptions options,
                                    Slideshow::RandomIndex random = {}) {
        return std::make_unique<Slideshow>(std::move(paths), std::move(options), system, [this] { return now; },
                                           std::move(random));
    }

    // The colour in the middle of what the slide shows.
    static Rgb Middle(const screensaver::Slide& slide) {
        return PixelAt(slide.picture, slide.picture.width() / 2, slide.picture.height() / 2);
    }

    TempDir dir;
    std::string system;
    std::chrono::steady_clock::time_point now{};
};

TEST_F(SlideshowTest, ListOrderStartsAfterCurrIndexAndEachPictureStaysTheInterval) {
    const std::vector<std::string> paths = {Picture("a.bmp", kRed), Picture("b.bmp", kGreen), Picture("c.bmp", kBlue)};
    SlideshowOptions options;
    options.random = false;
    options.currIndex = 1;
    options.interval = 5s;
    auto show = Show(paths, options);

    EXPECT_EQ(show->untilNext(), 0ms) << "nothing shown yet";
    ASSERT_TRUE(show->update(kWindow));
    EXPECT_EQ(show->current().path, paths[2]);
    EXPECT_EQ(show->untilNext(), 5000ms);
    now += 4999ms;
    EXPECT_FALSE(show->update(kWindow)) << "not due yet";
    EXPECT_EQ(show->current().path, paths[2]);
    for (const std::size_t expected : {0, 1, 2, 0}) {
        now += 5s;
        ASSERT_TRUE(show->update(kWindow));
        EXPECT_EQ(show->current().path, paths[expected]);
        EXPECT_EQ(Describe(Middle(show->current())), Describe(PixelAt(render::LoadBmpFile(paths[expected]), 0, 0)));
        EXPECT_EQ(show->current().message, "");
    }
}

TEST_F(SlideshowTest, RandomOrderNeverShowsTheSamePictureTwiceInARow) {
    const std::vector<std::string> paths = {Picture("a.bmp", kRed), Picture("b.bmp", kGreen), Picture("c.bmp", kBlue)};
    SlideshowOptions options;
    options.random = true;
    const struct {
        const char* name;
        std::size_t drawn;  // what the random source always answers
        std::vector<std::size_t> shown;
    } cases[] = {{"always the lowest", 0, {0, 1, 0, 1}}, {"always the highest", 99, {2, 1, 2, 1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto show = Show(paths, options, [&c](std::size_t count) { return std::min(c.drawn, count - 1); });
        for (const std::size_t expected : c.shown) {
            ASSERT_TRUE(show->update(kWindow));
            EXPECT_EQ(show->current().path, paths[expected]);
            now += options.interval;
        }
    }
}

TEST_F(SlideshowTest, AtRandomTheOnlyReadablePictureKeepsShowing) {
    const std::string good = Picture("good.bmp", kGreen);
    SlideshowOptions options;
    options.random = true;
    const struct {
        const char* name;
        std::vector<std::string> paths;
    } cases[] = {{"one of two", {good, dir.file("gone.png")}},
                 {"one of four", {dir.file("gone1.png"), good, dir.file("gone2.png"), dir.file("gone3.png")}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t draw = 0;
        auto show = Show(c.paths, options, [&draw](std::size_t count) { return draw++ % count; });
        for (int move = 0; move < 4; ++move) {
            ASSERT_TRUE(show->update(kWindow));
            EXPECT_EQ(show->current().path, good) << "move " << move;
            now += options.interval;
        }
    }
}

TEST_F(SlideshowTest, TheNextPictureIsDecodedBeforeItIsDue) {
    const std::vector<std::string> paths = {Picture("a.bmp", kRed), Picture("b.bmp", kGreen)};
    SlideshowOptions options;
    options.random = false;
    options.currIndex = -1;
    auto show = Show(paths, options);
    ASSERT_TRUE(show->update(kWindow));
    EXPECT_EQ(show->current().path, paths[0]);
    // Once the next picture is ready, take its file away: it shows all the same.
    ASSERT_TRUE(WaitFor([&] { return show->aheadReady(); }, 5000));
    fs::remove(paths[1]);
    now += options.interval;
    ASSERT_TRUE(show->update(kWindow));
    EXPECT_EQ(show->current().path, paths[1]);
    EXPECT_EQ(Describe(Middle(show->current())), Describe(kGreen));
}

TEST_F(SlideshowTest, UnreadablePicturesArePassedOverAndNoneLeftShowsALine) {
    const std::string good = Picture("good.bmp", kYellow);
    test::WriteFile(dir.file("broken.jpg"), "not a picture");
    SlideshowOptions options;
    options.random = false;
    options.currIndex = -1;
    {
        auto show = Show({dir.file("broken.jpg"), dir.file("gone.png"), good}, options);
        ASSERT_TRUE(show->update(kWindow));
        EXPECT_EQ(show->current().path, good);
        now += options.interval;
        ASSERT_TRUE(show->update(kWindow));
        EXPECT_EQ(show->current().path, good) << "the others are still passed over";
    }
    const struct {
        const char* name;
        std::vector<std::string> paths;
        const char* message;
    } cases[] = {{"an empty list", {}, screensaver::kNoPicturesText},
                 {"nothing readable", {dir.file("broken.jpg"), dir.file("gone.png")}, screensaver::kUnreadablePicturesText}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto show = Show(c.paths, options);
        ASSERT_TRUE(show->update(kWindow));
        EXPECT_EQ(show->current().message, c.message);
        EXPECT_EQ(show->current().path, "");
        EXPECT_TRUE(show->current().picture.empty());
    }
}

TEST_F(SlideshowTest, PicturesArePlacedForTheWindowAsTheWallpaperIsForTheScreen) {
    // Default options: larger than the window (and than 1024 x 768) is stretched, smaller is
    // centred unscaled.
    const std::string large = Picture("large.bmp", kBlue, 1100, 800);
    const std::string small = Picture("small.bmp", kRed, 30, 20);
    SlideshowOptions options;
    options.random = false;
    options.currIndex = -1;
    auto show = Show({large, small}, options);
    ASSERT_TRUE(show->update(kWindow));
    EXPECT_EQ(show->current().placement, platform::Placement::Stretched);
    EXPECT_EQ(show->current().windowSized.width(), kWindow.width);
    EXPECT_EQ(show->current().windowSized.height(), kWindow.height);
    EXPECT_EQ(Describe(PixelAt(show->current().windowSized, 10, 10)), Describe(kBlue));

    // A new window size places the same picture again at once.
    ASSERT_TRUE(show->update({100, 70}));
    EXPECT_EQ(show->current().path, large);
    EXPECT_EQ(show->current().windowSized.width(), 100);
    EXPECT_FALSE(show->update({100, 70}));

    now += options.interval;
    ASSERT_TRUE(show->update({100, 70}));
    EXPECT_EQ(show->current().path, small);
    EXPECT_EQ(show->current().placement, platform::Placement::Centred);
    EXPECT_TRUE(show->current().windowSized.empty());
}

TEST_F(SlideshowTest, GreyscaleTurnsBitmapsGreyAsOnTheDesktop) {
    SlideshowOptions options;
    options.picture.GreyScale = true;
    auto show = Show({Picture("red.bmp", kRed)}, options);
    ASSERT_TRUE(show->update(kWindow));
    EXPECT_EQ(Describe(Middle(show->current())), Describe(Rgb{76, 76, 76}));
}

TEST_F(SlideshowTest, OptionsAreReadFromSettingsWithTheProgramsDefaults) {
    const struct {
        const char* name;
        const char* settings;
        std::chrono::seconds interval;
        bool random;
        std::string list;  // relative to the System folder unless absolute
    } cases[] = {
        {"no file", nullptr, 20s, true, "Files.kdl"},
        {"seconds as written", "[Options]\nScreenSaverInterval=7\nRandom=0\n", 7s, false, "Files.kdl"},
        {"hexadecimal as the dialog takes it", "[options]\nscreensaverinterval=$10\n", 16s, true, "Files.kdl"},
        {"not a number", "[Options]\nScreenSaverInterval=soon\n", 20s, true, "Files.kdl"},
        {"empty", "[Options]\nScreenSaverInterval=\n", 20s, true, "Files.kdl"},
        {"zero is a second", "[Options]\nScreenSaverInterval=0\n", 1s, true, "Files.kdl"},
        {"negative is a second", "[Options]\nScreenSaverInterval=-30\n", 1s, true, "Files.kdl"},
        {"longer than a day is a day", "[Options]\nScreenSaverInterval=999999\n", 86400s, true, "Files.kdl"},
        {"the list file named", "[Options]\nList=/pics/mine.kdl\n", 20s, true, "/pics/mine.kdl"},
        {"an empty list name", "[Options]\nList=\n", 20s, true, "Files.kdl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(system + "Settings.ini");
        if (c.settings) test::WriteFile(system + "Settings.ini", c.settings);
        const SlideshowOptions o = screensaver::ReadSlideshowOptions(system);
        EXPECT_EQ(o.interval, c.interval);
        EXPECT_EQ(o.random, c.random);
        EXPECT_EQ(o.listPath, c.list.front() == '/' ? c.list : system + c.list);
    }
}

TEST_F(SlideshowTest, ListPathsComeFromTheListFileInOrder) {
    WallpaperList list;
    for (const char* p : {"/pics/b.jpg", "/pics/a.png", "/pics/c.bmp"}) list.AddEntry(p);
    WriteListFile(system + "Files.kdl", list, false, false);
    EXPECT_EQ(screensaver::ReadListPaths(system + "Files.kdl"),
              (std::vector<std::string>{"/pics/b.jpg", "/pics/a.png", "/pics/c.bmp"}));
    EXPECT_TRUE(screensaver::ReadListPaths(system + "missing.kdl").empty());
    test::WriteFile(system + "junk.kdl", "junk");
    EXPECT_TRUE(screensaver::ReadListPaths(system + "junk.kdl").empty());
    EXPECT_FALSE(fs::exists(system + "junk.damaged.kdl")) << "the list is only read";
}

TEST_F(SlideshowTest, SystemFolderIsTheOneTheProgramPublished) {
    EnvOverride config("XDG_CONFIG_HOME", dir.file("config").c_str());
    EnvOverride data("XDG_DATA_HOME", dir.file("data").c_str());
    const std::string perUser = dir.file("data") + "/kalidrome/System/";
    EXPECT_EQ(screensaver::FindSystemPath(), perUser) << "nothing published";

    platform::IniRegistry registry(platform::IniRegistry::DefaultPath());
    auto publish = [&registry](const std::string& path) {
        registry.writeString(platform::kProgramKey, platform::kSystemPathValue, path);
    };
    publish(system);
    EXPECT_EQ(screensaver::FindSystemPath(), system);
    publish(dir.path() + "/System");
    EXPECT_EQ(screensaver::FindSystemPath(), system) << "the slash is added";
    publish("/no/such/folder/");
    EXPECT_EQ(screensaver::FindSystemPath(), perUser) << "a folder that went away";
}

}  // namespace
}  // namespace kalidrome::test
