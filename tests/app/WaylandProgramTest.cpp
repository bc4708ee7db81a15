// The real program as a native Wayland client of a headless sway with no X server at all
// (no DISPLAY, Xwayland off): it learns the monitor from the compositor, and the GSettings
// (dconf), XFCE (xfconfd) and sway routes each take the wallpaper. The session's bus starts
// dconf-service and xfconfd on demand. As root, the session runs as nobody, since sway
// refuses root.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "BmpCodec.h"
#include "Image.h"
#include "ListFile.h"
#include "Process.h"
#include "TempDir.h"

namespace {

using namespace kalidrome;
using kalidrome::test::Process;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WaitFor;
using kalidrome::test::WriteFile;
namespace fs = std::filesystem;

TEST(WaylandOnlyProgram, EveryRouteTakesTheWallpaperWithoutX11) {
    for (const char* tool : {"/usr/bin/sway", "/usr/bin/dbus-daemon", "/usr/bin/dconf", "/usr/bin/gsettings",
                             "/usr/bin/xfconf-query", "/usr/bin/swaymsg"})
        if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh --test)";
    if (!fs::exists("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so") &&
        !fs::exists("/usr/lib/aarch64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"))
        GTEST_SKIP() << "Qt's Wayland platform is not installed (package qt6-wayland)";
    const bool root = ::geteuid() == 0;
    if (root && ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root, and setpriv is missing";

    struct Case {
        const char* desktop;     // KALIDROME_DESKTOP
        std::vector<std::string> readBack;  // a command whose output names the picture handed over, or none
    };
    const Case cases[] = {
        {"gnome", {"/usr/bin/gsettings", "get", "org.gnome.desktop.background", "picture-uri"}},
        {"mate", {"/usr/bin/gsettings", "get", "org.mate.background", "picture-filename"}},
        {"xfce", {"/usr/bin/xfconf-query", "-c", "xfce4-desktop", "-l", "-v"}},
        {"sway", {}},  // sway tells nothing back; the program reads the outputs and takes swaymsg's answer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.desktop);
        TempDir dir;
        const std::string run = dir.file("run");
        const std::string program = dir.file("program");
        for (const std::string& folder : {run, program, dir.file("config")}) {
            fs::create_directory(folder);
            if (root) {
                ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
            }
        }
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::permissions(run, fs::perms::owner_all);
        fs::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", program + "/kalidrome");
        fs::permissions(program + "/kalidrome", fs::perms(0755));
        // A list of a picture smaller than the output, then one larger.
        render::WriteBmpFile(program + "/small.bmp", render::Image(200, 150));
        render::WriteBmpFile(program + "/big.bmp", render::Image(900, 700));
        fs::create_directory(program + "/System");
        {
            WallpaperList list;
            std::string current;
            list.AddFiles({program + "/small.bmp", program + "/big.bmp"}, current);
            WriteListFile(program + "/System/Files.kdl", list, false, false);
        }
        WriteFile(program + "/System/Settings.ini", "[Options]\nDisableCycling=1\nRandom=0\nShowTray=1\nStretchLarger=1\n");
        if (root) {
            for (const auto& e : fs::recursive_directory_iterator(program)) {
                ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0);
            }
        }
        WriteFile(dir.file("sway.config"), "xwayland disable\noutput HEADLESS-1 mode 640x480\n");
        fs::permissions(dir.file("sway.config"), fs::perms(0644));
        WriteFile(dir.file("bus.conf"),
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>session</type><listen>unix:path=" + run + "/bus</listen><auth>EXTERNAL</auth>"
                  "<standard_session_servicedirs/><policy context=\"default\"><allow send_destination=\"*\"/>"
                  "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
        fs::permissions(dir.file("bus.conf"), fs::perms(0644));

        // Runs a program as the session's user, with no X display.
        auto session = [&](const std::string& path, std::vector<std::string> args, std::map<std::string, std::string> env,
                           const std::string& log) {
            env.insert({{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + run + "/bus"},
                        {"XDG_RUNTIME_DIR", run},
                        {"XDG_CONFIG_HOME", dir.file("config")},
                        {"HOME", run},
                        {"DISPLAY", ""}});
            std::string exe = path;
            if (root) {
                args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", path});
                exe = "/usr/bin/setpriv";
            }
            return std::make_unique<Process>(exe, args, env, dir.file(log));
        };
        auto bus = session("/usr/bin/dbus-daemon", {"--config-file=" + dir.file("bus.conf"), "--nofork"}, {}, "dbus.log");
        ASSERT_TRUE(WaitFor([&] { return fs::exists(run + "/bus"); }, 10000)) << ReadFile(dir.file("dbus.log"));
        auto sway = session("/usr/bin/sway", {"-c", dir.file("sway.config")},
                            {{"WLR_BACKENDS", "headless"}, {"WLR_RENDERER", "pixman"}, {"WLR_LIBINPUT_NO_DEVICES", "1"}},
                            "sway.log");
        std::string wayland, swaysock;
        ASSERT_TRUE(WaitFor(
            [&] {
                for (const auto& e : fs::directory_iterator(run)) {
                    const std::string name = e.path().filename().string();
                    if (name.rfind("wayland-", 0) == 0 && !name.ends_with(".lock")) wayland = name;
                    if (name.rfind("sway-ipc.", 0) == 0) swaysock = e.path().string();
                }
                return !wayland.empty() && !swaysock.empty();
            },
            15000))
            << ReadFile(dir.file("sway.log"));

        const std::map<std::string, std::string> waylandEnv{{"WAYLAND_DISPLAY", wayland},
                                                            {"SWAYSOCK", swaysock},
                                                            {"XDG_SESSION_TYPE", "wayland"},
                                                            {"QT_QPA_PLATFORM", "wayland"},
                                                            {"KALIDROME_DESKTOP", c.desktop},
                                                            {"KALIDROME_TRACE", program + "/trace"},
                                                            {"KALIDROME_NONINTERACTIVE", "1"}};
        auto kalidrome = session(program + "/kalidrome", {}, waylandEnv, "kalidrome.log");
        auto trace = [&] { return ReadFile(program + "/trace"); };
        ASSERT_TRUE(WaitFor([&] { return trace().find("running\n") != std::string::npos; }, 15000))
            << trace() << ReadFile(dir.file("kalidrome.log"));
        auto next = session(program + "/kalidrome", {"--next"}, waylandEnv, "next.log");
        ASSERT_TRUE(next->waitFinished(10000));
        // The change ends (on its worker) with a line of its own: shown or unchanged.
        ASSERT_TRUE(WaitFor(
            [&] {
                const std::string t = trace();
                return t.find("wallpaper " + program) != std::string::npos ||
                       t.find("wallpaper unchanged") != std::string::npos;
            },
            15000))
            << trace() << ReadFile(dir.file("kalidrome.log")) << ReadFile(program + "/System/Settings.ini");
        EXPECT_NE(trace().find("wallpaper " + program + "/big.bmp\n"), std::string::npos)
            << trace() << ReadFile(dir.file("kalidrome.log"));
        if (!c.readBack.empty()) {
            auto ask = session(c.readBack.front(), {c.readBack.begin() + 1, c.readBack.end()}, waylandEnv, "readback.log");
            ASSERT_TRUE(ask->waitFinished(10000));
            EXPECT_NE(ReadFile(dir.file("readback.log")).find(program + "/big.bmp"), std::string::npos)
                << ReadFile(dir.file("readback.log"));
        }
        // XFCE keeps one backdrop per monitor, by the name the compositor gave its output.
        if (std::string(c.desktop) == "xfce") {
            EXPECT_NE(ReadFile(dir.file("readback.log")).find("/monitorHEADLESS-1/workspace0/last-image"), std::string::npos);
        }
        kalidrome->signal(SIGTERM);
        EXPECT_TRUE(kalidrome->waitFinished(10000));
    }
}

}  // namespace
