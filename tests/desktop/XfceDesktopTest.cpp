#include "Process.h"
#include "RecordingRunner.h"
#include "TempDir.h"
#include "XfceDesktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::Command;
using platform::CommandResult;
using platform::Placement;
using platform::XfceDesktop;
using Argv = std::vector<std::string>;

platform::ScreenExtent FixedScreen() { return {1280, 1024}; }

// An xfconf channel as xfconf-query shows it: -n -t T -s V sets, -l -v lists (arrays as
// <<UNSUPPORTED>>, as the real tool prints them), -p alone reads one.
class XfconfHeld {
public:
    std::map<std::string, std::map<std::string, std::string>> channels;

    CommandResult operator()(const Command& c) {
        const Argv& a = c.argv;
        if (a.size() < 3 || a[0] != "xfconf-query" || a[1] != "-c") return RecordingRunner::Failure(1, "bad call");
        auto& channel = channels[a[2]];
        if (a.size() == 5 && a[3] == "-l" && a[4] == "-v") {
            std::string out;
            for (const auto& [property, value] : channel) out += property + "   " + value + "\n";
            return RecordingRunner::Success(out);
        }
        if (a.size() == 5 && a[3] == "-p") {
            const auto it = channel.find(a[4]);
            if (it == channel.end()) return RecordingRunner::Failure(1, "Property \"" + a[4] + "\" does not exist");
            return RecordingRunner::Success(it->second + "\n");
        }
        if (a.size() >= 10 && a[3] == "-p" && a[5] == "-n") {
            channel[a[4]] = a.size() == 10 ? a[9] : "<<UNSUPPORTED>>";
            return RecordingRunner::Success();
        }
        return RecordingRunner::Failure(1, "bad call");
    }
};

std::string Backdrop(const std::string& monitor, int workspace) {
    return "/backdrop/screen0/monitor" + monitor + "/workspace" + std::to_string(workspace) + "/";
}

Argv Set(const std::string& property, const char* type, const std::string& value) {
    return {"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", type, "-s", value};
}

const Argv kList{"xfconf-query", "-c", "xfce4-desktop", "-l", "-v"};
const Argv kWorkspaceCount{"xfconf-query", "-c", "xfwm4", "-p", "/general/workspace_count"};
const Argv kBlack{"-t", "double", "-s", "0", "-t", "double", "-s", "0", "-t", "double", "-s", "0", "-t", "double", "-s", "1"};

Argv SetBlack(const std::string& backdrop) {
    Argv argv{"xfconf-query", "-c", "xfce4-desktop", "-p", backdrop + "rgba1", "-n"};
    argv.insert(argv.end(), kBlack.begin(), kBlack.end());
    return argv;
}

class XfceCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(m_bitmap, "BM"); }

    TempDir m_dir;
    std::string m_bitmap = m_dir.file("WallPaper.bmp");
    XfconfHeld m_xfconf;
    RecordingRunner m_runner{std::ref(m_xfconf)};
};

TEST_F(XfceCommandsTest, FirstChangeCreatesEveryBackdropWithBorderStyleAndImage) {
    XfceDesktop xfce(m_runner, [] { return std::vector<std::string>{"screen"}; }, FixedScreen);
    xfce.setWallpaper(m_bitmap, Placement::Stretched, {});
    const std::string handed = m_dir.file("WallPaper-a.bmp");
    const std::string b = Backdrop("screen", 0);
    const std::vector<Argv> expected = {
        kList,
        kWorkspaceCount,
        Set(b + "color-style", "int", "0"),
        SetBlack(b),
        Set(b + "image-style", "int", "3"),
        Set(b + "last-image", "string", handed),
        kList,
    };
    EXPECT_EQ(m_runner.argvs(), expected);
}

struct PlacementCase {
    Placement placement;
    const char* style;
};

TEST_F(XfceCommandsTest, EveryMonitorAndWorkspaceTakesTheStyleOfThePlacement) {
    // The channel knows DP-1 on workspaces 0 and 1 and an unplugged monitor; XRandR reports
    // DP-1 and HDMI-2; xfwm4 counts three workspaces.
    auto& desktop = m_xfconf.channels["xfce4-desktop"];
    desktop[Backdrop("DP-1", 0) + "last-image"] = "/usr/share/backgrounds/xfce/a.png";
    desktop[Backdrop("DP-1", 0) + "image-style"] = "5";
    desktop[Backdrop("DP-1", 1) + "last-image"] = "/usr/share/backgrounds/xfce/a.png";
    desktop[Backdrop("VGA-old", 0) + "last-image"] = "/usr/share/backgrounds/xfce/a.png";
    desktop["/desktop-icons/style"] = "2";
    m_xfconf.channels["xfwm4"]["/general/workspace_count"] = "3";
    XfceDesktop xfce(m_runner, [] { return std::vector<std::string>{"DP-1", "HDMI-2"}; }, FixedScreen);

    for (const PlacementCase& c : {PlacementCase{Placement::Stretched, "3"}, PlacementCase{Placement::Centred, "1"},
                                   PlacementCase{Placement::Centred, "1"}}) {
        m_runner.clear();
        xfce.setWallpaper(m_bitmap, c.placement, {});
        std::string handed;
        int images = 0;
        for (const Argv& argv : m_runner.argvs()) {
            if (argv.size() == 10 && argv[4].ends_with("/last-image")) {
                ++images;
                if (handed.empty()) handed = argv[9];
                EXPECT_EQ(argv[9], handed) << "one file for every backdrop";
            }
        }
        EXPECT_EQ(images, 3 * 3) << "DP-1, HDMI-2 and VGA-old on workspaces 0, 1 and 2";
        for (const std::string monitor : {"DP-1", "HDMI-2", "VGA-old"})
            for (int w = 0; w < 3; ++w) {
                EXPECT_EQ(desktop[Backdrop(monitor, w) + "last-image"], handed) << monitor << w;
                EXPECT_EQ(desktop[Backdrop(monitor, w) + "image-style"], c.style) << monitor << w;
            }
        EXPECT_EQ(desktop["/desktop-icons/style"], "2") << "other settings are left alone";
    }
    // The third change, with the style already in place, sets only the images.
    EXPECT_EQ(m_runner.argvs().size(), 2u + 1u + 9u) << "two listings, the workspace count, nine images";
}

TEST_F(XfceCommandsTest, RefusalOrSetBackIsReportedWithTheReason) {
    struct Case {
        const char* name;
        std::function<CommandResult(const Command&)> answer;
        std::vector<std::string> parts;
    };
    auto base = std::make_shared<XfconfHeld>();
    CommandResult hung;
    hung.started = true;
    hung.timedOut = true;
    const Case cases[] = {
        {"xfconfd not reachable",
         [](const Command&) { return RecordingRunner::Failure(1, "Failed to init libxfconf: Cannot autolaunch D-Bus\n"); },
         {"Cannot read XFCE's desktop settings", "Cannot autolaunch D-Bus"}},
        {"property locked",
         [base](const Command& c) {
             if (c.argv.size() > 4 && c.argv[4].ends_with("last-image"))
                 return RecordingRunner::Failure(1, "Failed to set property: permission denied (locked)\n");
             return (*base)(c);
         },
         {"XFCE refused /backdrop/screen0/monitorscreen/workspace0/last-image", "locked"}},
        {"hung xfconf-query", [hung](const Command&) { return hung; }, {"xfconf-query did not answer within 5 s"}},
        {"set back by another program",
         [base](const Command& c) {
             if (c.argv.size() > 4 && c.argv[4].ends_with("last-image")) return RecordingRunner::Success();
             return (*base)(c);
         },
         {"XFCE kept /backdrop/screen0/monitorscreen/workspace0/last-image nothing instead of"}},
    };
    for (const Case& c : cases) {
        RecordingRunner runner(c.answer);
        XfceDesktop xfce(runner, [] { return std::vector<std::string>{"screen"}; }, FixedScreen);
        try {
            xfce.setWallpaper(m_bitmap, Placement::Centred, {});
            ADD_FAILURE() << c.name << ": no error";
        } catch (const platform::DesktopError& e) {
            for (const std::string& part : c.parts)
                EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << c.name << ": " << e.what();
        }
    }
}

TEST_F(XfceCommandsTest, DamagedWorkspaceNumbersAreNotTakenForWorkspaces) {
    auto& desktop = m_xfconf.channels["xfce4-desktop"];
    desktop["/backdrop/screen0/monitorscreen/workspace999999999999/last-image"] = "x";
    desktop["/backdrop/screen0/monitorscreen/workspace-3/last-image"] = "x";
    desktop["/backdrop/screen0/monitor/workspace0/last-image"] = "x";
    m_xfconf.channels["xfwm4"]["/general/workspace_count"] = "100000";
    XfceDesktop xfce(m_runner, [] { return std::vector<std::string>{}; }, FixedScreen);
    xfce.setWallpaper(m_bitmap, Placement::Stretched, {});
    int images = 0;
    for (const Argv& argv : m_runner.argvs())
        if (argv.size() == 10 && argv[4].ends_with("/last-image")) ++images;
    EXPECT_GT(images, 0);
    EXPECT_LE(images, 64) << "a workspace count from the settings is bounded";
}

// ---- Real run: xfconfd on a private D-Bus session bus ----

class XfconfdTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/bin/xfconf-query") || !fs::exists("/usr/bin/dbus-daemon"))
            GTEST_SKIP() << "xfconf-query or dbus-daemon is not installed (packages xfconf, dbus)";
        fs::create_directories(m_dir.file("config"));
        fs::create_directories(m_dir.file("system"));
        // The bus activates xfconfd with its own environment: the temporary config folder.
        m_bus = std::make_unique<Process>("/usr/bin/dbus-daemon", std::vector<std::string>{"--session", "--nofork", "--print-address=1"},
                                          std::map<std::string, std::string>{{"XDG_CONFIG_HOME", m_dir.file("config")}},
                                          m_dir.file("bus.txt"));
        ASSERT_TRUE(m_bus->started());
        ASSERT_TRUE(WaitFor([&] { return ReadFile(m_dir.file("bus.txt")).find('\n') != std::string::npos; }, 10000))
            << "the session bus did not come up";
        std::string address = ReadFile(m_dir.file("bus.txt"));
        address.resize(address.find('\n'));
        m_runner = std::make_unique<EnvironmentRunner>(
            platform::SystemCommandRunner(),
            std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + address, "XDG_CONFIG_HOME=" + m_dir.file("config")});
    }

    std::string query(const std::string& channel, const std::string& property) {
        const CommandResult r =
            m_runner->run(Command{{"xfconf-query", "-c", channel, "-p", property}, std::chrono::seconds(10), {}});
        if (!r.succeeded()) return "(" + platform::DescribeFailure(Command{{"xfconf-query"}, std::chrono::seconds(10), {}}, r) + ")";
        std::string out = r.standardOutput;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    void preset(const std::string& channel, const std::string& property, const char* type, const std::string& value) {
        const CommandResult r = m_runner->run(
            Command{{"xfconf-query", "-c", channel, "-p", property, "-n", "-t", type, "-s", value}, std::chrono::seconds(10), {}});
        ASSERT_TRUE(r.succeeded()) << platform::DescribeFailure(Command{{"xfconf-query"}, std::chrono::seconds(10), {}}, r);
    }

    TempDir m_dir;
    std::unique_ptr<Process> m_bus;
    std::unique_ptr<EnvironmentRunner> m_runner;
};

TEST_F(XfconfdTest, DesktopHoldsTheChangeOnEveryBackdrop) {
    // What xfdesktop leaves after a session with one monitor on two workspaces.
    preset("xfce4-desktop", Backdrop("screen", 0) + "last-image", "string", "/usr/share/backgrounds/xfce/old.svg");
    preset("xfce4-desktop", Backdrop("screen", 0) + "image-style", "int", "5");
    preset("xfce4-desktop", Backdrop("screen", 1) + "last-image", "string", "/usr/share/backgrounds/xfce/old.svg");
    preset("xfwm4", "/general/workspace_count", "int", "2");
    const std::string bitmap = m_dir.file("system/WallPaper.bmp");

    XfceDesktop xfce(*m_runner, [] { return std::vector<std::string>{"screen", "DP-2"}; }, FixedScreen);
    std::string previous;
    for (Placement placement : {Placement::Centred, Placement::Stretched}) {
        WriteFile(bitmap, placement == Placement::Centred ? "centred" : "stretched");
        ASSERT_NO_THROW(xfce.setWallpaper(bitmap, placement, {}));
        const std::string image = query("xfce4-desktop", Backdrop("screen", 0) + "last-image");
        ASSERT_TRUE(fs::exists(image)) << image;
        EXPECT_EQ(ReadFile(image), placement == Placement::Centred ? "centred" : "stretched");
        EXPECT_NE(image, previous);
        previous = image;
        for (const std::string monitor : {"screen", "DP-2"})
            for (int w = 0; w < 2; ++w) {
                const std::string b = Backdrop(monitor, w);
                EXPECT_EQ(query("xfce4-desktop", b + "last-image"), image) << b;
                EXPECT_EQ(query("xfce4-desktop", b + "image-style"), placement == Placement::Centred ? "1" : "3") << b;
                EXPECT_EQ(query("xfce4-desktop", b + "color-style"), "0") << b;
            }
    }
    const std::string rgba = query("xfce4-desktop", Backdrop("DP-2", 1) + "rgba1");
    EXPECT_NE(rgba.find("4 items"), std::string::npos) << rgba;
    EXPECT_NE(rgba.find("1.000000"), std::string::npos) << rgba;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.file("system")), fs::directory_iterator()), 2)
        << "WallPaper.bmp and the one name shown";
}

// A picture per monitor: each monitor's backdrops on every workspace take its own picture
// and style, under names of their own that change at every change; a monitor xfdesktop knows
// by another name takes the primary's.
TEST_F(XfconfdTest, APicturePerMonitorOnItsOwnBackdrops) {
    preset("xfwm4", "/general/workspace_count", "int", "2");
    preset("xfce4-desktop", Backdrop("VGA-old", 0) + "last-image", "string", "/usr/share/backgrounds/xfce/old.svg");
    const std::string primary = m_dir.file("system/WallPaper.bmp"), second = m_dir.file("system/WallPaper-2.bmp");
    XfceDesktop xfce(*m_runner, [] { return std::vector<std::string>{"DP-1", "DP-2"}; }, FixedScreen);
    std::string before1, before2;
    for (int change = 0; change < 2; ++change) {
        SCOPED_TRACE(change);
        WriteFile(primary, "landscape " + std::to_string(change));
        WriteFile(second, "portrait " + std::to_string(change));
        ASSERT_NO_THROW(xfce.setMonitorWallpapers(
            {{{"DP-1", 0, 0, 1920, 1080, true}, primary, Placement::Stretched, {}},
             {{"DP-2", 1920, 0, 1080, 1920, false}, second, Placement::Centred, {}}}));
        const std::string image1 = query("xfce4-desktop", Backdrop("DP-1", 0) + "last-image");
        const std::string image2 = query("xfce4-desktop", Backdrop("DP-2", 0) + "last-image");
        EXPECT_EQ(ReadFile(image1), "landscape " + std::to_string(change));
        EXPECT_EQ(ReadFile(image2), "portrait " + std::to_string(change));
        EXPECT_NE(image1, before1);
        EXPECT_NE(image2, before2);
        before1 = image1;
        before2 = image2;
        for (int w = 0; w < 2; ++w) {
            EXPECT_EQ(query("xfce4-desktop", Backdrop("DP-1", w) + "last-image"), image1);
            EXPECT_EQ(query("xfce4-desktop", Backdrop("DP-1", w) + "image-style"), "3");
            EXPECT_EQ(query("xfce4-desktop", Backdrop("DP-2", w) + "last-image"), image2);
            EXPECT_EQ(query("xfce4-desktop", Backdrop("DP-2", w) + "image-style"), "1");
            EXPECT_EQ(query("xfce4-desktop", Backdrop("VGA-old", w) + "last-image"), image1);
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.file("system")), fs::directory_iterator()), 4)
        << "the two bitmaps and the one name of each shown";
}

}  // namespace
}  // namespace kalidrome::test
