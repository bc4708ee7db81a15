// The companion screen saver as a real process on a private X server, read back by pixels.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "CompanionFixture.h"
#include "Process.h"
#include "XvfbServer.h"

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;

std::string Companion() { return std::string(std::getenv("KALIDROME_BIN_DIR")) + "/System/KDScreensaver"; }

// A window of the test's, as XScreenSaver gives the companion one, with the companion drawing
// into it.
class CompanionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.ok()) GTEST_SKIP() << xvfb.reason();
        ASSERT_NE(x.get(), nullptr);
        Display* dpy = x.get();
        // White, so that anything the companion draws shows.
        window = XCreateSimpleWindow(dpy, x.root(), 0, 0, kWidth, kHeight, 0, WhitePixel(dpy, 0), WhitePixel(dpy, 0));
        XMapWindow(dpy, window);
        XSync(dpy, False);
    }

    // Each start writes a log of its own; Log() reads the latest.
    std::unique_ptr<Process> Start(std::vector<std::string> args = {"--root"}) {
        auto env = home.environment(xvfb.display());
        char id[32];
        std::snprintf(id, sizeof id, "0x%lx", window);
        env["XSCREENSAVER_WINDOW"] = id;
        m_log = home.dir.file("companion-" + std::to_string(++m_starts) + ".log");
        return std::make_unique<Process>(Companion(), args, env, m_log);
    }

    // Waits until (px, py) of the window shows colour.
    bool Shows(Rgb colour, int px, int py, int timeoutMs = 5000) {
        return WaitFor([&] { return Near(x.pixel(window, px, py), colour, 2); }, timeoutMs);
    }

    std::string Log() const { return ReadFile(m_log); }

    static constexpr int kWidth = 200;
    static constexpr int kHeight = 150;
    XvfbServer xvfb{320, 240};
    XClient x{xvfb.display()};
    CompanionHome home;
    Window window = 0;

private:
    int m_starts = 0;
    std::string m_log;
};

TEST_F(CompanionTest, ShowsTheListsPicturesInOrderEachForTheInterval) {
    home.writeList({home.picture("red.bmp", kRed, 40, 30), home.picture("green.bmp", kGreen, 40, 30),
                    home.picture("blue.bmp", kBlue, 40, 30)});
    home.writeSettings("Random=0\nCurrIndex=1\nScreenSaverInterval=1\n");
    auto companion = Start();
    ASSERT_TRUE(companion->started());
    // CurrIndex 1 was the wallpaper last: the list goes on after it, and round again.
    for (const Rgb colour : {kBlue, kRed, kGreen, kBlue})
        ASSERT_TRUE(Shows(colour, kWidth / 2, kHeight / 2, 4000))
            << "waiting for " << Describe(colour) << ", showing " << Describe(x.pixel(window, kWidth / 2, kHeight / 2))
            << "\n" << Log();
    EXPECT_TRUE(companion->running()) << Log();
}

TEST_F(CompanionTest, PlacesThePictureForTheWindowAsTheSettingsSay) {
    const struct {
        const char* name;
        const char* settings;
        bool stretched;
    } cases[] = {{"smaller than the window and than 1024 x 768: centred on black", "", false},
                 {"StretchSmaller: stretched to the window", "StretchSmaller=1\n", true}};
    home.writeList({home.picture("red.bmp", kRed, 40, 30)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XClearWindow(x.get(), window);  // white again
        XSync(x.get(), False);
        home.writeSettings(c.settings);
        auto companion = Start();
        ASSERT_TRUE(Shows(kRed, kWidth / 2, kHeight / 2)) << Log();
        const Rgb outside = c.stretched ? kRed : kBlack;
        EXPECT_TRUE(Shows(outside, 2, 2)) << Describe(x.pixel(window, 2, 2));
        EXPECT_EQ(Describe(x.pixel(window, kWidth - 1, kHeight - 1)), Describe(outside));
        // The picture's own edge, unscaled when centred.
        EXPECT_EQ(Describe(x.pixel(window, kWidth / 2 - 20, kHeight / 2 - 15)), Describe(kRed));
        EXPECT_EQ(Describe(x.pixel(window, kWidth / 2 - 21, kHeight / 2)), Describe(outside));
    }
}

// With a picture per monitor, on a root window spanning a landscape and a portrait monitor:
// each monitor shows pictures of its shape, its own, moving on at each interval.
TEST(CompanionPerMonitor, EachMonitorShowsItsOwnPictureOfItsShape) {
    XvfbServer xvfb{1792, 1024};
    if (!xvfb.ok()) GTEST_SKIP() << xvfb.reason();
    if (!xvfb.setMonitors({{"L", 0, 0, 1024, 768, true}, {"P", 1024, 0, 768, 1024, false}}))
        GTEST_SKIP() << xvfb.reason();
    XClient x{xvfb.display()};
    ASSERT_NE(x.get(), nullptr);
    CompanionHome home;
    home.writeList({home.picture("red.bmp", kRed, 40, 30), home.picture("blue.bmp", kBlue, 30, 40),
                    home.picture("green.bmp", kGreen, 40, 30), home.picture("white.bmp", kWhite, 30, 40)});
    home.writeSettings("Random=0\nCurrIndex=0\nPicturePerMonitor=1\nStretchSmaller=1\nScreenSaverInterval=1\n");
    const std::string log = home.dir.file("companion.log");
    Process companion(Companion(), {"-root"}, home.environment(xvfb.display()), log);
    ASSERT_TRUE(companion.started());
    // After red (CurrIndex 0): the landscape monitor green, red, green; the portrait one blue,
    // white, blue.
    const std::pair<Rgb, Rgb> expected[] = {{kGreen, kBlue}, {kRed, kWhite}, {kGreen, kBlue}};
    for (const auto& [landscape, portrait] : expected) {
        const bool shown = WaitFor(
            [&] {
                return Near(x.pixel(x.root(), 512, 384), landscape, 2) && Near(x.pixel(x.root(), 1, 1), landscape, 2) &&
                       Near(x.pixel(x.root(), 1024 + 384, 512), portrait, 2) &&
                       Near(x.pixel(x.root(), 1791, 1023), portrait, 2);
            },
            4000);
        ASSERT_TRUE(shown) << "waiting for " << Describe(landscape) << " and " << Describe(portrait) << ", showing "
                           << Describe(x.pixel(x.root(), 512, 384)) << " and "
                           << Describe(x.pixel(x.root(), 1024 + 384, 512)) << "\n" << ReadFile(log);
    }
    EXPECT_TRUE(Near(x.pixel(x.root(), 500, 900), kBlack, 0)) << "below the landscape monitor";
}

TEST_F(CompanionTest, AnEmptyListShowsOneLineOnBlack) {
    home.writeSettings("ScreenSaverInterval=1\n");
    auto companion = Start();
    ASSERT_TRUE(Shows(kBlack, 1, 1)) << Log();
    // Some of the middle row band is text, drawn in white.
    const bool text = WaitFor(
        [&] {
            for (int y = kHeight / 2 - 12; y < kHeight / 2 + 4; ++y)
                for (int px = 0; px < kWidth; px += 1)
                    if (Near(x.pixel(window, px, y), kWhite, 0)) return true;
            return false;
        },
        3000);
    EXPECT_TRUE(text);
    EXPECT_TRUE(companion->running());
}

TEST_F(CompanionTest, EndsPromptlyWhenKilledOrWhenItsWindowGoes) {
    home.writeList({home.picture("red.bmp", kRed, 40, 30)});
    {
        auto companion = Start();
        ASSERT_TRUE(Shows(kRed, kWidth / 2, kHeight / 2)) << Log();
        companion->signal(SIGTERM);
        ASSERT_TRUE(companion->waitFinished(1000));
        EXPECT_EQ(companion->exitCode(), 128 + SIGTERM);
    }
    XClearWindow(x.get(), window);  // white again, so that the next picture shows
    XSync(x.get(), False);
    auto companion = Start();
    ASSERT_TRUE(Shows(kRed, kWidth / 2, kHeight / 2)) << Log();
    XDestroyWindow(x.get(), window);
    XSync(x.get(), False);
    ASSERT_TRUE(companion->waitFinished(2000)) << "still running without its window";
    EXPECT_EQ(companion->exitCode(), 0) << Log();
}

TEST_F(CompanionTest, OwnWindowAndBadCommandLines) {
    // A picture a little larger than the window it makes (640 x 480 at the top left of this
    // 320 x 240 screen): centred, it covers all of the window.
    home.writeList({home.picture("red.bmp", kRed, 700, 500)});
    auto own = Start({"-window"});
    ASSERT_TRUE(WaitFor([&] { return Near(x.pixel(x.root(), 300, 200), kRed, 0); }, 5000)) << Log();
    EXPECT_TRUE(own->running());

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-window-id", "0x0"}, std::vector<std::string>{"-fullscreen"}}) {
        auto bad = Start(args);
        ASSERT_TRUE(bad->waitFinished(3000));
        EXPECT_EQ(bad->exitCode(), 2);
        EXPECT_NE(Log().find("Usage: KDScreensaver"), std::string::npos);
    }
}

TEST_F(CompanionTest, OnlyReadsTheProgramsFiles) {
    home.writeList({home.picture("red.bmp", kRed, 40, 30), home.picture("blue.bmp", kBlue, 40, 30)});
    home.writeSettings("Random=0\nCurrIndex=1\nScreenSaverInterval=1\n");
    auto snapshot = [this] {
        std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
        for (const auto& e : fs::recursive_directory_iterator(home.system))
            if (e.is_regular_file()) files[e.path()] = {ReadFile(e.path()), e.last_write_time()};
        return files;
    };
    const auto before = snapshot();
    auto companion = Start();
    // The first picture, then the second one, read ahead while the first showed.
    ASSERT_TRUE(Shows(kRed, kWidth / 2, kHeight / 2)) << Log();
    ASSERT_TRUE(Shows(kBlue, kWidth / 2, kHeight / 2, 4000)) << Log();
    companion->signal(SIGTERM);
    ASSERT_TRUE(companion->waitFinished(1000));
    EXPECT_EQ(snapshot(), before);
}

}  // namespace
}  // namespace kalidrome::test
