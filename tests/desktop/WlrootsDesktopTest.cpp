#include "BmpCodec.h"
#include "CaseName.h"
#include "Image.h"
#include "PngCodec.h"
#include "Process.h"
#include "RecordingRunner.h"
#include "TempDir.h"
#include "WlrootsDesktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::Command;
using platform::CommandResult;
using platform::DesktopError;
using platform::Placement;
using platform::ScreenExtent;
using platform::WlrootsDesktop;
using Compositor = WlrootsDesktop::Compositor;
using Argv = std::vector<std::string>;

// Records like RecordingRunner, but the programs it "starts" are real processes (sleep, or
// true for one that ends at once), so the desktop's check that its swaybg is still running
// and its stop of the old one act on something real.
class DetachedRunner final : public platform::CommandRunner {
public:
    CommandResult run(const Command& command) override { return recorder.run(command); }
    int startDetached(const Command& command) override {
        recorder.startDetached(command);
        Command stand;
        stand.argv = endsAtOnce ? Argv{"true"} : Argv{"sleep", "60"};
        const int pid = platform::SystemCommandRunner().startDetached(stand);
        started.push_back(pid);
        return pid;
    }
    void stop(int processId) override {
        stopped.push_back(processId);
        platform::SystemCommandRunner().stop(processId);
    }
    ~DetachedRunner() override {
        for (int pid : started) platform::SystemCommandRunner().stop(pid);
    }

    RecordingRunner recorder;
    bool endsAtOnce = false;
    std::vector<int> started;
    std::vector<int> stopped;
};

render::Image TwoHalves(std::int32_t w, std::int32_t h, std::uint32_t left, std::uint32_t right) {
    render::Image image(w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint32_t c = x < w / 2 ? left : right;
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(c & 0xFF);
            p[1] = static_cast<std::uint8_t>((c >> 8) & 0xFF);
            p[2] = static_cast<std::uint8_t>((c >> 16) & 0xFF);
        }
    return image;
}

// --- What each compositor is sent -----------------------------------------------------------

struct RouteCase {
    const char* name;
    Compositor compositor;
    bool hyprpaperRuns;
    Placement placement;
    std::vector<Argv> expected;  // "@" stands for the folder of WallPaper.bmp
};

class WlrootsRouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(WlrootsRouteTest, SendsTheCompositorsOwnCommand) {
    const RouteCase& c = GetParam();
    TempDir dir;
    const std::string bitmap = dir.file("WallPaper.bmp");
    WriteFile(bitmap, "BM");
    DetachedRunner runner;
    runner.recorder.setAnswer([&](const Command& command) {
        if (command.argv == Argv{"hyprctl", "hyprpaper", "listloaded"} && !c.hyprpaperRuns)
            return RecordingRunner::Failure(1, "Couldn't connect to hyprpaper");
        return RecordingRunner::Success();
    });
    WlrootsDesktop desktop(runner, c.compositor, {"SWAYSOCK=/run/sway.sock"});
    desktop.setWallpaper(bitmap, c.placement, {});

    std::vector<Argv> expected = c.expected;
    for (Argv& argv : expected)
        for (std::string& arg : argv)
            for (auto at = arg.find('@'); at != std::string::npos; at = arg.find('@')) arg.replace(at, 1, dir.path());
    EXPECT_EQ(runner.recorder.argvs(), expected);
    for (const Command& command : runner.recorder.commands())
        EXPECT_EQ(command.environment, Argv{"SWAYSOCK=/run/sway.sock"});
    // hyprpaper covers or fits the monitor with whatever it gets: it must have the whole picture.
    EXPECT_EQ(desktop.placesFileAsTold(), !(c.compositor == Compositor::Hyprland && c.hyprpaperRuns));
    EXPECT_EQ(runner.recorder.argvs().size(), expected.size()) << "the route is asked once";
}

INSTANTIATE_TEST_SUITE_P(
    Table, WlrootsRouteTest,
    ::testing::Values(
        RouteCase{"sway stretched", Compositor::Sway, false, Placement::Stretched,
                  {{"swaymsg", "output", "*", "bg", "\"'@/WallPaper.bmp'\"", "stretch", "#000000"}}},
        RouteCase{"sway centred", Compositor::Sway, false, Placement::Centred,
                  {{"swaymsg", "output", "*", "bg", "\"'@/WallPaper.bmp'\"", "center", "#000000"}}},
        RouteCase{"hyprland with hyprpaper stretched", Compositor::Hyprland, true, Placement::Stretched,
                  {{"hyprctl", "hyprpaper", "listloaded"},
                   {"hyprctl", "hyprpaper", "preload", "@/WallPaper-a.bmp"},
                   {"hyprctl", "hyprpaper", "wallpaper", ",@/WallPaper-a.bmp"}}},
        RouteCase{"hyprland with hyprpaper centred", Compositor::Hyprland, true, Placement::Centred,
                  {{"hyprctl", "hyprpaper", "listloaded"},
                   {"hyprctl", "hyprpaper", "preload", "@/WallPaper-a.bmp"},
                   {"hyprctl", "hyprpaper", "wallpaper", ",contain:@/WallPaper-a.bmp"}}},
        RouteCase{"hyprland without hyprpaper", Compositor::Hyprland, false, Placement::Centred,
                  {{"hyprctl", "hyprpaper", "listloaded"},
                   {"swaybg", "-o", "*", "-i", "@/WallPaper.bmp", "-m", "center", "-c", "#000000"}}},
        RouteCase{"other wlroots stretched", Compositor::Other, false, Placement::Stretched,
                  {{"swaybg", "-o", "*", "-i", "@/WallPaper.bmp", "-m", "stretch", "-c", "#000000"}}}),
    [](const auto& param) { return CaseName(param.param.name); });

TEST(WlrootsDesktopTest, SwayRefusalCarriesSwaysOwnReason) {
    TempDir dir;
    WriteFile(dir.file("WallPaper.bmp"), "BM");
    RecordingRunner runner([](const Command&) {
        CommandResult r = RecordingRunner::Failure(2, "");
        r.standardOutput = R"([ { "success": false, "parse_error": true, "error": "Missing background scaling mode." } ])";
        return r;
    });
    WlrootsDesktop desktop(runner, Compositor::Sway);
    try {
        desktop.setWallpaper(dir.file("WallPaper.bmp"), Placement::Stretched, {});
        FAIL() << "no DesktopError";
    } catch (const DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find("Missing background scaling mode."), std::string::npos) << e.what();
    }
}

TEST(WlrootsDesktopTest, HyprpaperUnloadsThePictureItReplaced) {
    TempDir dir;
    const std::string bitmap = dir.file("WallPaper.bmp");
    WriteFile(bitmap, "BM");
    RecordingRunner runner;
    WlrootsDesktop desktop(runner, Compositor::Hyprland);
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    const std::vector<Argv> expected = {
        {"hyprctl", "hyprpaper", "listloaded"},
        {"hyprctl", "hyprpaper", "preload", dir.file("WallPaper-a.bmp")},
        {"hyprctl", "hyprpaper", "wallpaper", "," + dir.file("WallPaper-a.bmp")},
        {"hyprctl", "hyprpaper", "preload", dir.file("WallPaper-b.bmp")},
        {"hyprctl", "hyprpaper", "wallpaper", "," + dir.file("WallPaper-b.bmp")},
        {"hyprctl", "hyprpaper", "unload", dir.file("WallPaper-a.bmp")},
    };
    EXPECT_EQ(runner.argvs(), expected);
    // The picture hyprpaper let go of is removed; the one it shows stays.
    EXPECT_FALSE(fs::exists(dir.file("WallPaper-a.bmp")));
    EXPECT_TRUE(fs::exists(dir.file("WallPaper-b.bmp")));
}

TEST(WlrootsDesktopTest, OwnSwaybgIsReplacedOnlyAfterTheNewOneStarted) {
    TempDir dir;
    WriteFile(dir.file("WallPaper.bmp"), "BM");
    DetachedRunner runner;
    WlrootsDesktop desktop(runner, Compositor::Other);
    desktop.setWallpaper(dir.file("WallPaper.bmp"), Placement::Stretched, {});
    EXPECT_TRUE(runner.stopped.empty());
    desktop.setWallpaper(dir.file("WallPaper.bmp"), Placement::Centred, {});
    ASSERT_EQ(runner.started.size(), 2u);
    EXPECT_EQ(runner.stopped, std::vector<int>{runner.started[0]});

    // A swaybg that ends at once (no layer-shell, a picture it cannot read) is an error and
    // leaves the running one alone.
    runner.endsAtOnce = true;
    EXPECT_THROW(desktop.setWallpaper(dir.file("WallPaper.bmp"), Placement::Centred, {}), DesktopError);
    ASSERT_EQ(runner.started.size(), 3u);
    EXPECT_EQ(runner.stopped, (std::vector<int>{runner.started[0], runner.started[2]}));
}

// --- Quoting for sway's command parser and wordexp ------------------------------------------

TEST(WlrootsDesktopTest, QuotesPathsForSway) {
    const std::pair<std::string, std::string> cases[] = {
        {"/home/u/WallPaper-a.bmp", "\"'/home/u/WallPaper-a.bmp'\""},
        {"/home/u/my pictures/W.bmp", "\"'/home/u/my pictures/W.bmp'\""},
        {"/a;exec rm -rf ~,b/$HOME/*.bmp", "\"'/a;exec rm -rf ~,b/$HOME/*.bmp'\""},
        {"/it's/W.bmp", "\"'/it'\\''s/W.bmp'\""},
    };
    for (const auto& [path, quoted] : cases) EXPECT_EQ(WlrootsDesktop::QuoteForSway(path), quoted) << path;
    for (const std::string path : {"/a\"b.bmp", "/a\\b.bmp", "/a\nb.bmp"})
        EXPECT_THROW(WlrootsDesktop::QuoteForSway(path), DesktopError) << path;
}

// --- The primary output's size --------------------------------------------------------------

struct OutputsCase {
    const char* name;
    ScreenExtent (*parse)(const std::string&);
    std::string text;
    ScreenExtent expected;
};

class WlrootsOutputsTest : public ::testing::TestWithParam<OutputsCase> {};

TEST_P(WlrootsOutputsTest, FindsThePrimaryOutput) {
    EXPECT_EQ(GetParam().parse(GetParam().text), GetParam().expected);
}

const std::string kSwayTwo =
    R"([{"name":"DP-1","active":false,"focused":false,"current_mode":{"width":640,"height":480}},)"
    R"({"name":"DP-2","active":true,"focused":false,"transform":"normal","current_mode":{"width":1920,"height":1080}},)"
    R"({"name":"DP-3","active":true,"focused":true,"transform":"90","current_mode":{"width":2560,"height":1440}}])";

INSTANTIATE_TEST_SUITE_P(
    Table, WlrootsOutputsTest,
    ::testing::Values(
        OutputsCase{"sway focused and turned", &WlrootsDesktop::SwayPrimaryOutput, kSwayTwo, {1440, 2560}},
        OutputsCase{"sway first active when none focused", &WlrootsDesktop::SwayPrimaryOutput,
                    R"([{"active":false,"current_mode":{"width":640,"height":480}},)"
                    R"({"active":true,"focused":false,"current_mode":{"width":1024,"height":768}}])",
                    {1024, 768}},
        OutputsCase{"sway no active output", &WlrootsDesktop::SwayPrimaryOutput,
                    R"([{"active":false,"current_mode":{"width":640,"height":480}}])", {}},
        OutputsCase{"sway absurd sizes", &WlrootsDesktop::SwayPrimaryOutput,
                    R"([{"active":true,"current_mode":{"width":-5,"height":1e300}}])", {}},
        OutputsCase{"sway not json", &WlrootsDesktop::SwayPrimaryOutput, "Unable to connect to (null)", {}},
        OutputsCase{"sway deeply nested", &WlrootsDesktop::SwayPrimaryOutput, std::string(100000, '['), {}},
        OutputsCase{"hyprland focused", &WlrootsDesktop::HyprlandPrimaryMonitor,
                    R"([{"width":1920,"height":1080,"focused":false,"transform":0},)"
                    R"({"width":3840,"height":2160,"focused":true,"transform":0}])",
                    {3840, 2160}},
        OutputsCase{"hyprland turned", &WlrootsDesktop::HyprlandPrimaryMonitor,
                    R"([{"width":1920,"height":1080,"focused":true,"transform":1}])", {1080, 1920}},
        OutputsCase{"wlr-randr first enabled", &WlrootsDesktop::WlrRandrPrimaryOutput,
                    "eDP-1 \"Laptop\"\n  Enabled: no\n  Modes:\n    800x600 px, 60.000000 Hz (current)\n"
                    "HDMI-A-1 \"Screen\"\n  Enabled: yes\n  Modes:\n    1280x1024 px, 60.000000 Hz\n"
                    "    1920x1080 px, 60.000000 Hz (preferred, current)\n",
                    {1920, 1080}},
        OutputsCase{"wlr-randr overflowing mode", &WlrootsDesktop::WlrRandrPrimaryOutput,
                    "X \"x\"\n  Enabled: yes\n    99999999999x1 px (current)\n", {}}),
    [](const auto& param) { return CaseName(param.param.name); });

// A picture per output: sway gets one `output NAME bg` per output in one message; the others
// (and outputs without a usable name) get the primary's picture everywhere.
TEST(WlrootsDesktopTest, APicturePerOutput) {
    const std::string outputs =
        R"([{"name":"DP-1","active":true,"focused":false,"transform":"90","rect":{"x":1920,"y":0},)"
        R"("current_mode":{"width":1920,"height":1080}},)"
        R"({"name":"DP-2","active":true,"focused":true,"transform":"normal","rect":{"x":0,"y":0},)"
        R"("current_mode":{"width":1920,"height":1080}},)"
        R"({"name":"DP-3","active":false,"current_mode":{"width":640,"height":480}}])";
    const std::vector<platform::Monitor> parsed = WlrootsDesktop::SwayOutputs(outputs);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0].name, "DP-1");
    EXPECT_EQ(parsed[0].x, 1920);
    EXPECT_EQ(parsed[0].width, 1080);  // turned
    EXPECT_EQ(parsed[0].height, 1920);
    EXPECT_TRUE(parsed[1].primary);

    const std::string hyprMonitors =
        R"([{"name":"DP-1","x":1920,"y":0,"width":1920,"height":1080,"transform":1,"focused":false},)"
        R"({"name":"DP-2","x":0,"y":0,"width":1920,"height":1080,"transform":0,"focused":true}])";
    struct Case {
        const char* name;
        Compositor compositor;
        bool hyprpaperRuns;
        std::vector<std::string> names;
        std::vector<Argv> expected;  // "@" stands for the folder of the bitmaps
    };
    const Case cases[] = {
        {"sway, two named outputs", Compositor::Sway, false, {"DP-2", "DP-1"},
         {{"swaymsg", "output", "DP-2", "bg", "\"'@/WallPaper.bmp'\"", "stretch", "#000000", ";", "output", "DP-1",
           "bg", "\"'@/WallPaper-2.bmp'\"", "center", "#000000"}}},
        {"sway, an output name sway would take apart", Compositor::Sway, false, {"DP-2", "a;b"},
         {{"swaymsg", "output", "*", "bg", "\"'@/WallPaper.bmp'\"", "stretch", "#000000"}}},
        {"hyprland with hyprpaper", Compositor::Hyprland, true, {"DP-2", "DP-1"},
         {{"hyprctl", "hyprpaper", "listloaded"},
          {"hyprctl", "hyprpaper", "preload", "@/WallPaper-a.bmp"},
          {"hyprctl", "hyprpaper", "wallpaper", "DP-2,@/WallPaper-a.bmp"},
          {"hyprctl", "hyprpaper", "preload", "@/WallPaper-2-a.bmp"},
          {"hyprctl", "hyprpaper", "wallpaper", "DP-1,contain:@/WallPaper-2-a.bmp"}}},
        {"other wlroots", Compositor::Other, false, {"DP-2", "DP-1"},
         {{"swaybg", "-o", "*", "-i", "@/WallPaper.bmp", "-m", "stretch", "-c", "#000000"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir.file("WallPaper.bmp"), "BM");
        WriteFile(dir.file("WallPaper-2.bmp"), "BM");
        DetachedRunner runner;
        runner.recorder.setAnswer([&](const Command& command) {
            if (command.argv == Argv{"swaymsg", "-t", "get_outputs", "-r"}) return RecordingRunner::Success(outputs);
            if (command.argv == Argv{"hyprctl", "-j", "monitors"}) return RecordingRunner::Success(hyprMonitors);
            if (command.argv == Argv{"hyprctl", "hyprpaper", "listloaded"} && !c.hyprpaperRuns)
                return RecordingRunner::Failure(1, "Couldn't connect to hyprpaper");
            return RecordingRunner::Success();
        });
        WlrootsDesktop desktop(runner, c.compositor);
        if (c.compositor != Compositor::Other) {
            const std::vector<platform::Monitor> monitors = desktop.monitors();
            ASSERT_EQ(monitors.size(), 2u);
            EXPECT_EQ(monitors[0].name, "DP-2");  // the focused output first
            EXPECT_EQ(monitors[1].width, 1080);   // turned
            runner.recorder.clear();
        }
        std::vector<platform::MonitorWallpaper> wallpapers = {
            {{c.names[0], 0, 0, 1920, 1080, true}, dir.file("WallPaper.bmp"), Placement::Stretched, {}},
            {{c.names[1], 1920, 0, 1080, 1920, false}, dir.file("WallPaper-2.bmp"), Placement::Centred, {}}};
        desktop.setMonitorWallpapers(wallpapers);
        std::vector<Argv> expected = c.expected;
        for (Argv& argv : expected)
            for (std::string& arg : argv)
                for (auto at = arg.find('@'); at != std::string::npos; at = arg.find('@')) arg.replace(at, 1, dir.path());
        EXPECT_EQ(runner.recorder.argvs(), expected);
        if (c.hyprpaperRuns) {
            // The next change unloads what the monitors held before.
            runner.recorder.clear();
            desktop.setMonitorWallpapers(wallpapers);
            std::vector<std::string> unloaded;
            for (const Argv& argv : runner.recorder.argvs())
                if (argv.size() == 4 && argv[2] == "unload") unloaded.push_back(argv[3]);
            EXPECT_EQ(unloaded, (std::vector<std::string>{dir.file("WallPaper-2-a.bmp"), dir.file("WallPaper-a.bmp")}));
        }
    }
}

TEST(WlrootsDesktopTest, ScreenSizeErrorsSayWhy) {
    RecordingRunner runner([](const Command&) { return RecordingRunner::Success("[]"); });
    WlrootsDesktop desktop(runner, Compositor::Sway);
    EXPECT_THROW(desktop.primaryScreenSize(), DesktopError);
    runner.setAnswer([](const Command&) { return RecordingRunner::Failure(1, "Unable to retrieve socket path"); });
    try {
        desktop.primaryScreenSize();
        FAIL() << "no DesktopError";
    } catch (const DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find("Unable to retrieve socket path"), std::string::npos) << e.what();
    }
}

// --- Real sway, headless --------------------------------------------------------------------

// sway on the headless backend with one 320 x 240 output, started by the test. sway refuses
// to run as root, so under root it runs as nobody, with a runtime folder of that user's.
class HeadlessSway {
public:
    explicit HeadlessSway(const TempDir& dir) {
        for (const char* program : {"/usr/bin/sway", "/usr/bin/swaybg", "/usr/bin/grim"})
            if (::access(program, X_OK) != 0) {
                m_reason = std::string(program) + " is not installed (packages sway, swaybg, grim)";
                return;
            }
        const bool root = ::geteuid() == 0;
        if (root && ::access("/usr/bin/setpriv", X_OK) != 0) {
            m_reason = "running as root, and setpriv is missing to start sway as another user";
            return;
        }
        m_runtime = dir.file("run");
        fs::create_directory(m_runtime);
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::permissions(m_runtime, fs::perms::owner_all);
        if (root && ::chown(m_runtime.c_str(), 65534, 65534) != 0) {
            m_reason = "cannot hand the runtime folder to nobody";
            return;
        }
        WriteFile(dir.file("sway.config"), "output HEADLESS-1 mode 320x240\n");
        Argv args = {"sway", "-c", dir.file("sway.config")};
        std::string program = "/usr/bin/sway";
        if (root) {
            args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
            program = "/usr/bin/setpriv";
        } else {
            args.erase(args.begin());
        }
        m_log = dir.file("sway.log");
        m_sway = std::make_unique<Process>(program, args,
                                           std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", m_runtime},
                                                                              {"HOME", m_runtime},
                                                                              {"WLR_BACKENDS", "headless"},
                                                                              {"WLR_RENDERER", "pixman"},
                                                                              {"WLR_LIBINPUT_NO_DEVICES", "1"}},
                                           m_log);
        const bool up = WaitFor(
            [&] {
                for (const auto& entry : fs::directory_iterator(m_runtime)) {
                    const std::string name = entry.path().filename().string();
                    if (name.rfind("sway-ipc.", 0) == 0) m_swaysock = entry.path().string();
                    if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos) m_wayland = name;
                }
                return !m_swaysock.empty() && !m_wayland.empty();
            },
            10000);
        if (!up) m_reason = "sway did not come up: " + ReadFile(m_log).substr(0, 2000);
    }

    bool ok() const { return m_reason.empty(); }
    const std::string& reason() const { return m_reason; }
    Argv environment() const {
        return {"SWAYSOCK=" + m_swaysock, "WAYLAND_DISPLAY=" + m_wayland, "XDG_RUNTIME_DIR=" + m_runtime};
    }

    // The output as grim sees it; nullopt when grim failed.
    std::optional<render::Image> screenshot(const std::string& file) const {
        Command grim;
        grim.argv = {"grim", "-t", "png", file};
        grim.environment = environment();
        if (!platform::SystemCommandRunner().run(grim).succeeded()) return std::nullopt;
        const std::string png = ReadFile(file);
        return render::DecodePng(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
    }

private:
    std::string m_reason;
    std::string m_runtime, m_log, m_swaysock, m_wayland;
    std::unique_ptr<Process> m_sway;
};

struct Probe {
    int x, y;
    std::uint32_t rgb;
};

bool Shows(const render::Image& shot, const std::vector<Probe>& probes) {
    for (const Probe& p : probes) {
        if (p.x >= shot.width() || p.y >= shot.height()) return false;
        const std::uint8_t* px = shot.row(p.y) + 3 * p.x;
        const int want[3] = {static_cast<int>(p.rgb & 0xFF), static_cast<int>((p.rgb >> 8) & 0xFF),
                             static_cast<int>((p.rgb >> 16) & 0xFF)};
        for (int i = 0; i < 3; ++i)
            if (std::abs(px[i] - want[i]) > 8) return false;
    }
    return true;
}

class RealSwayTest : public ::testing::TestWithParam<Compositor> {
protected:
    void SetUp() override {
        if (!sway.ok()) GTEST_SKIP() << sway.reason();
        // A folder name sway's parser and wordexp would both take apart if it were not quoted.
        folder = dir.file("my 'System' $HOME;x");
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        bitmap = folder + "/WallPaper.bmp";
    }

    // Polls grim until every probe shows; false (with the last screenshot's failure) if not.
    bool WaitForScreen(const std::vector<Probe>& probes) {
        return WaitFor(
            [&] {
                const auto shot = sway.screenshot(dir.file("shot.png"));
                return shot && Shows(*shot, probes);
            },
            10000);
    }

    TempDir dir;
    HeadlessSway sway{dir};
    std::string folder, bitmap;
};

TEST_P(RealSwayTest, ShowsEachNewWallpaperStretchedOrCentred) {
    WlrootsDesktop desktop(platform::SystemCommandRunner(), GetParam(), sway.environment());
    if (GetParam() == Compositor::Sway) {
        EXPECT_EQ(desktop.primaryScreenSize(), (ScreenExtent{320, 240}));
    }

    render::WriteBmpFile(bitmap, TwoHalves(32, 24, 0xFF0000, 0x0000FF));
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    // Away from the picture's edges and middle, which the scaling filter blends.
    EXPECT_TRUE(WaitForScreen({{40, 120, 0xFF0000}, {280, 120, 0x0000FF}, {20, 20, 0xFF0000}, {300, 220, 0x0000FF}}));

    // The same file name and placement with new content: the compositor must show the new
    // picture.
    render::WriteBmpFile(bitmap, TwoHalves(32, 24, 0x00FF00, 0xFFFF00));
    desktop.setWallpaper(bitmap, Placement::Stretched, {});
    EXPECT_TRUE(WaitForScreen({{40, 120, 0x00FF00}, {280, 120, 0xFFFF00}}));

    desktop.setWallpaper(bitmap, Placement::Centred, {});
    // 32 x 24 in the middle of 320 x 240: x 144..175, y 108..131; black around it.
    EXPECT_TRUE(WaitForScreen({{150, 120, 0x00FF00}, {170, 120, 0xFFFF00}, {20, 20, 0x000000}, {300, 200, 0x000000}}));

    // No files pile up beside WallPaper.bmp.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
    EXPECT_LE(files, 2u);
    desktop.endBackground();
}

// Two outputs, the second portrait (240 x 320 right of the 320 x 240 one): each shows its
// own picture.
TEST(RealSwayPerOutput, EachOutputShowsItsOwnPicture) {
    TempDir dir;
    HeadlessSway sway{dir};
    if (!sway.ok()) GTEST_SKIP() << sway.reason();
    platform::CommandRunner& runner = platform::SystemCommandRunner();
    auto swaymsg = [&](Argv args) {
        Command command;
        command.argv = {"swaymsg"};
        command.argv.insert(command.argv.end(), args.begin(), args.end());
        command.environment = sway.environment();
        return runner.run(command).succeeded();
    };
    ASSERT_TRUE(swaymsg({"create_output"}));
    ASSERT_TRUE(swaymsg({"output", "HEADLESS-2", "mode", "240x320", "position", "320", "0"}));
    ASSERT_TRUE(swaymsg({"output", "HEADLESS-1", "position", "0", "0"}));
    ASSERT_TRUE(swaymsg({"focus", "output", "HEADLESS-1"}));
    WlrootsDesktop desktop(runner, Compositor::Sway, sway.environment());
    const std::vector<platform::Monitor> monitors = desktop.monitors();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].name, "HEADLESS-1");
    EXPECT_EQ(monitors[1].name, "HEADLESS-2");
    EXPECT_EQ(monitors[1].width, 240);
    EXPECT_EQ(monitors[1].height, 320);

    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const std::string land = dir.file("WallPaper.bmp"), port = dir.file("WallPaper-2.bmp");
    render::WriteBmpFile(land, TwoHalves(32, 24, 0xFF0000, 0xFF0000));
    render::WriteBmpFile(port, TwoHalves(24, 32, 0x0000FF, 0x0000FF));
    for (const std::string& f : {land, port})
        fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
                               fs::perms::group_read);
    desktop.setMonitorWallpapers({{monitors[0], land, Placement::Stretched, {}},
                                  {monitors[1], port, Placement::Stretched, {}}});
    const bool shown = WaitFor(
        [&] {
            const auto shot = sway.screenshot(dir.file("shot.png"));
            return shot && Shows(*shot, {{20, 20, 0xFF0000}, {300, 220, 0xFF0000}, {340, 20, 0x0000FF},
                                         {540, 300, 0x0000FF}});
        },
        10000);
    EXPECT_TRUE(shown);
}

INSTANTIATE_TEST_SUITE_P(Compositors, RealSwayTest, ::testing::Values(Compositor::Sway, Compositor::Other),
                         [](const auto& p) { return p.param == Compositor::Sway ? "swaymsg" : "own_swaybg"; });

}  // namespace
}  // namespace kalidrome::test
