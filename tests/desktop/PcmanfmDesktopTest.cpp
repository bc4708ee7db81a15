#include "BmpCodec.h"
#include "CaseName.h"
#include "Image.h"
#include "PcmanfmDesktop.h"
#include "Process.h"
#include "RecordingRunner.h"
#include "TempDir.h"
#include "XvfbServer.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
// X.h's Success macro would swallow RecordingRunner::Success.
#undef Success

#include <filesystem>
#include <unistd.h>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::Command;
using platform::CommandResult;
using platform::DesktopError;
using platform::PcmanfmDesktop;
using platform::Placement;
using platform::ScreenExtent;
using Flavour = PcmanfmDesktop::Flavour;
using Argv = std::vector<std::string>;

ScreenExtent FixedScreen() { return {800, 600}; }

struct ArgvCase {
    const char* name;
    Flavour flavour;
    Placement placement;
    Argv expected;  // "@" stands for the folder of WallPaper.bmp
};

class PcmanfmArgvTest : public ::testing::TestWithParam<ArgvCase> {};

TEST_P(PcmanfmArgvTest, HandsTheFileManagerAFreshName) {
    const ArgvCase& c = GetParam();
    TempDir dir;
    WriteFile(dir.file("WallPaper.bmp"), "BM");
    RecordingRunner runner;
    // No LXQt settings in this folder: nothing to read back.
    PcmanfmDesktop desktop(runner, c.flavour, FixedScreen, {"XDG_CONFIG_HOME=" + dir.file("config")});
    desktop.setWallpaper(dir.file("WallPaper.bmp"), c.placement, {});
    Argv expected = c.expected;
    for (std::string& arg : expected)
        if (const auto at = arg.find('@'); at != std::string::npos) arg.replace(at, 1, dir.path());
    EXPECT_EQ(runner.argvs(), std::vector<Argv>{expected});
    EXPECT_EQ(desktop.primaryScreenSize(), FixedScreen());
}

INSTANTIATE_TEST_SUITE_P(
    Table, PcmanfmArgvTest,
    ::testing::Values(ArgvCase{"lxqt stretched", Flavour::Lxqt, Placement::Stretched,
                               {"pcmanfm-qt", "--set-wallpaper=@/WallPaper-a.bmp", "--wallpaper-mode=stretch"}},
                      ArgvCase{"lxqt centred", Flavour::Lxqt, Placement::Centred,
                               {"pcmanfm-qt", "--set-wallpaper=@/WallPaper-a.bmp", "--wallpaper-mode=center"}},
                      ArgvCase{"lxde stretched", Flavour::Lxde, Placement::Stretched,
                               {"pcmanfm", "--set-wallpaper=@/WallPaper-a.bmp", "--wallpaper-mode=stretch"}},
                      ArgvCase{"lxde centred", Flavour::Lxde, Placement::Centred,
                               {"pcmanfm", "--set-wallpaper=@/WallPaper-a.bmp", "--wallpaper-mode=center"}}),
    [](const auto& p) { return CaseName(p.param.name); });

// LXQt's desktop saves what it shows in settings.conf; a pcmanfm-qt without a desktop running
// saves nothing, and the change must be reported.
TEST(PcmanfmDesktopTest, ReadsBackWhatLxqtsDesktopSaved) {
    TempDir dir;
    const std::string bitmap = dir.file("WallPaper.bmp");
    WriteFile(bitmap, "BM");
    const std::string settings = dir.file("config/pcmanfm-qt/lxqt/settings.conf");
    fs::create_directories(fs::path(settings).parent_path());
    WriteFile(settings, "[Desktop]\nWallpaper=/usr/share/old.png\nWallpaperMode=stretch\n");

    bool desktopRuns = true;
    RecordingRunner runner([&](const Command& command) {
        const std::string prefix = "--set-wallpaper=";
        if (desktopRuns) WriteFile(settings, "[Desktop]\nWallpaper=" + command.argv[1].substr(prefix.size()) + "\n");
        return RecordingRunner::Success();
    });
    PcmanfmDesktop desktop(runner, Flavour::Lxqt, FixedScreen, {"XDG_CONFIG_HOME=" + dir.file("config")});
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    EXPECT_EQ(PcmanfmDesktop::SettingsWallpaper(settings), dir.file("WallPaper-b.bmp"));
    EXPECT_FALSE(fs::exists(dir.file("WallPaper-a.bmp")));

    desktopRuns = false;
    try {
        desktop.setWallpaper(bitmap, Placement::Stretched, {});
        FAIL() << "no DesktopError";
    } catch (const DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("WallPaper-b.bmp")), std::string::npos) << e.what();
    }
}

TEST(PcmanfmDesktopTest, ToolFailureSaysWhy) {
    TempDir dir;
    WriteFile(dir.file("WallPaper.bmp"), "BM");
    RecordingRunner runner([](const Command&) { return RecordingRunner::Failure(1, "Desktop manager is not active.\n"); });
    PcmanfmDesktop desktop(runner, Flavour::Lxde, FixedScreen, {"XDG_CONFIG_HOME=" + dir.file("config")});
    try {
        desktop.setWallpaper(dir.file("WallPaper.bmp"), Placement::Centred, {});
        FAIL() << "no DesktopError";
    } catch (const DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find("Desktop manager is not active."), std::string::npos) << e.what();
    }
}

// The settings file is rewritten with a name of the same length, within the same tick of the
// file system's clock: the read-back must see the new value, not a parsed copy of the old one.
TEST(PcmanfmDesktopTest, ReadsTheSettingsAgainAfterASameSizeRewrite) {
    TempDir dir;
    const std::string settings = dir.file("settings.conf");
    for (const char* name : {"/s/WallPaper-a.bmp", "/s/WallPaper-b.bmp", "/s/WallPaper-a.bmp"}) {
        WriteFile(settings, std::string("[Desktop]\nWallpaper=") + name + "\n");
        EXPECT_EQ(PcmanfmDesktop::SettingsWallpaper(settings), name);
    }
}

struct IniValueCase {
    const char* name;
    const char* file;
    const char* expected;
};

class PcmanfmSettingsTest : public ::testing::TestWithParam<IniValueCase> {};

TEST_P(PcmanfmSettingsTest, ReadsTheWallpaperAsQSettingsWroteIt) {
    TempDir dir;
    WriteFile(dir.file("settings.conf"), GetParam().file);
    EXPECT_EQ(PcmanfmDesktop::SettingsWallpaper(dir.file("settings.conf")), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PcmanfmSettingsTest,
    ::testing::Values(
        IniValueCase{"plain", "[Desktop]\nWallpaper=/a/b.bmp\n", "/a/b.bmp"},
        IniValueCase{"quoted for a comma", "[Desktop]\nWallpaper=\"/a, b/c.bmp\"\n", "/a, b/c.bmp"},
        IniValueCase{"escaped quote and backslash", "[Desktop]\nWallpaper=/a\\\"b\\\\c.bmp\n", "/a\"b\\c.bmp"},
        IniValueCase{"control character as hex", "[Desktop]\nWallpaper=/a\\x1f.bmp\n", "/a\x1f.bmp"},
        IniValueCase{"utf-8 as it stands", "[Desktop]\nWallpaper=/\xc3\xa4.bmp\r\n", "/\xc3\xa4.bmp"},
        IniValueCase{"other section only", "[General]\nWallpaper=/x.bmp\n", ""},
        IniValueCase{"key among others", "[Desktop]\nBgColor=#000000\nWallpaper = /a.bmp\nWallpaperMode=fit\n",
                     "/a.bmp"},
        IniValueCase{"section ends", "[Desktop]\nBgColor=#0\n[Other]\nWallpaper=/x.bmp\n", ""},
        IniValueCase{"lone backslash at the end", "[Desktop]\nWallpaper=/a\\\n", "/a\\"},
        IniValueCase{"unterminated quote", "[Desktop]\nWallpaper=\"/a\n", "/a"},
        IniValueCase{"empty file", "", ""}),
    [](const auto& p) { return CaseName(p.param.name); });

// --- Real pcmanfm-qt desktop on Xvfb --------------------------------------------------------

std::uint32_t RootPixel(Display* dpy, int x, int y) {
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFF;
    const unsigned long p = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return static_cast<std::uint32_t>(p & 0xFFFFFF);
}

TEST(PcmanfmDesktopTest, RealLxqtDesktopShowsTheWallpaper) {
    for (const char* program : {"/usr/bin/pcmanfm-qt", "/usr/bin/dbus-daemon"})
        if (::access(program, X_OK) != 0) GTEST_SKIP() << program << " is not installed (packages pcmanfm-qt, dbus)";
    XvfbServer xvfb(320, 240, 24);
    if (!xvfb.ok()) GTEST_SKIP() << "no private X server: " << xvfb.reason();
    TempDir dir;
    const std::string runtime = dir.file("run");
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const std::string bus = "unix:path=" + dir.file("bus");
    Process daemon("/usr/bin/dbus-daemon", {"--session", "--nofork", "--address=" + bus}, {}, dir.file("dbus.log"));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.file("bus")); }, 10000)) << ReadFile(dir.file("dbus.log"));

    const Argv environment = {"DISPLAY=" + xvfb.display(), "DBUS_SESSION_BUS_ADDRESS=" + bus,
                              "XDG_CONFIG_HOME=" + dir.file("config"), "XDG_RUNTIME_DIR=" + runtime};
    Process pcmanfm("/usr/bin/pcmanfm-qt", {"--desktop", "--profile=lxqt"},
                    {{"DISPLAY", xvfb.display()},
                     {"DBUS_SESSION_BUS_ADDRESS", bus},
                     {"XDG_CONFIG_HOME", dir.file("config")},
                     {"XDG_RUNTIME_DIR", runtime},
                     {"QT_QPA_PLATFORM", "xcb"}},
                    dir.file("pcmanfm.log"));
    Command owned;
    owned.argv = {"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.NameHasOwner", "string:org.pcmanfm.PCManFM"};
    owned.environment = environment;
    ASSERT_TRUE(WaitFor(
        [&] {
            const CommandResult r = platform::SystemCommandRunner().run(owned);
            return r.standardOutput.find("boolean true") != std::string::npos;
        },
        15000))
        << ReadFile(dir.file("pcmanfm.log"));

    // A comma makes QSettings quote the value, and "ä" is written as UTF-8: the read-back
    // must undo both.
    const std::string system = dir.file("System, \u00e4");
    fs::create_directory(system);
    const std::string bitmap = system + "/WallPaper.bmp";
    render::Image picture(32, 24);
    picture.fill(0);
    for (std::int32_t y = 0; y < 24; ++y)
        for (std::int32_t x = 0; x < 32; ++x) picture.row(y)[3 * x + 2] = 0xFF;  // red
    render::WriteBmpFile(bitmap, picture);

    PcmanfmDesktop desktop(platform::SystemCommandRunner(), Flavour::Lxqt, FixedScreen, environment);
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    EXPECT_EQ(PcmanfmDesktop::SettingsWallpaper(dir.file("config/pcmanfm-qt/lxqt/settings.conf")),
              system + "/WallPaper-a.bmp");

    Display* dpy = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(dpy, nullptr);
    EXPECT_TRUE(WaitFor([&] { return RootPixel(dpy, 20, 20) == 0xFF0000 && RootPixel(dpy, 300, 220) == 0xFF0000; },
                        10000))
        << std::hex << RootPixel(dpy, 20, 20) << " " << RootPixel(dpy, 300, 220);

    // A new picture under the same name: pcmanfm-qt takes it because it gets a new name.
    for (std::int32_t y = 0; y < 24; ++y)
        for (std::int32_t x = 0; x < 32; ++x) {
            picture.row(y)[3 * x] = 0xFF;  // blue
            picture.row(y)[3 * x + 2] = 0;
        }
    render::WriteBmpFile(bitmap, picture);
    desktop.setWallpaper(bitmap, Placement::Centred, {});
    // 32 x 24 in the middle of 320 x 240: x 144..175, y 108..131.
    EXPECT_TRUE(WaitFor([&] { return RootPixel(dpy, 160, 120) == 0x0000FF && RootPixel(dpy, 20, 20) != 0x0000FF; },
                        10000))
        << std::hex << RootPixel(dpy, 160, 120) << " " << RootPixel(dpy, 20, 20);
    XCloseDisplay(dpy);
}

}  // namespace
}  // namespace kalidrome::test
