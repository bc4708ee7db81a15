// The real program on a real X server (a private Xvfb) with a window manager (openbox)
// and a tray host (trayer): it starts hidden with a tray icon, the tray menu's "&Cycle!"
// changes the root window's picture, and a second start shows the main window.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "BmpCodec.h"
#include "Image.h"
#include "JpegCodec.h"
#include "ListFile.h"
#include "Process.h"
#include "TempDir.h"
#include "XvfbServer.h"

namespace {

using namespace kalidrome;
using kalidrome::test::Process;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WaitFor;
using kalidrome::test::WriteFile;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

render::Image Solid(std::int32_t width, std::int32_t height, Rgb colour) {
    render::Image image(width, height);
    for (std::int32_t y = 0; y < image.height(); ++y)
        for (std::int32_t x = 0; x < image.width(); ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(colour.b);
            p[1] = static_cast<std::uint8_t>(colour.g);
            p[2] = static_cast<std::uint8_t>(colour.r);
        }
    return image;
}

void WriteSolidBmp(const std::string& path, Rgb colour) { render::WriteBmpFile(path, Solid(64, 48, colour)); }

class Screen {
public:
    explicit Screen(const std::string& display) : m_dpy(XOpenDisplay(display.c_str())) {}
    ~Screen() {
        if (m_dpy) XCloseDisplay(m_dpy);
    }
    bool ok() const { return m_dpy != nullptr; }

    Rgb rootPixel(int x, int y) const {
        XImage* image = XGetImage(m_dpy, DefaultRootWindow(m_dpy), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return {-1, -1, -1};
        unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)};
    }

    // The screen position of the first window of the given WM_CLASS class name that
    // lives inside a window of the tray host (the embedded tray icon), or {-1,-1}.
    std::pair<int, int> trayIconCentre(const char* trayClass, const char* iconClass) const {
        std::pair<int, int> found{-1, -1};
        walk(DefaultRootWindow(m_dpy), false, trayClass, iconClass, found);
        return found;
    }

    // A menu of the program is open: its popup window is mapped and holds the keyboard
    // (Qt grabs it for an open menu, so a key pressed now reaches the menu).
    bool popupMenuOpen(const char* programClass) const {
        if (!findPopupMenu(programClass)) return false;
        const int grab = XGrabKeyboard(m_dpy, DefaultRootWindow(m_dpy), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (grab == GrabSuccess) XUngrabKeyboard(m_dpy, CurrentTime);
        XSync(m_dpy, False);
        return grab == AlreadyGrabbed;
    }

    // The program's top-level window as the window manager manages it (it carries WM_STATE),
    // or None.
    Window managedWindow(const char* programClass) const { return findManaged(DefaultRootWindow(m_dpy), programClass); }

    // The ICCCM state the window manager gives the window: NormalState (1), IconicState (3),
    // or WithdrawnState (0) when it has none.
    long wmState(Window w) const {
        const Atom wmStateAtom = XInternAtom(m_dpy, "WM_STATE", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        long state = WithdrawnState;
        if (XGetWindowProperty(m_dpy, w, wmStateAtom, 0, 2, False, wmStateAtom, &type, &format, &count, &after, &data) ==
                Success &&
            data && format == 32 && count >= 1)
            state = reinterpret_cast<long*>(data)[0];
        if (data) XFree(data);
        return state;
    }

    // What the title bar's close button does: WM_DELETE_WINDOW to the window.
    void askToClose(Window w) const {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XInternAtom(m_dpy, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_dpy, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(m_dpy, w, False, NoEventMask, &event);
        XFlush(m_dpy);
    }

private:
    Window findManaged(Window w, const char* programClass) const {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom wmStateAtom = XInternAtom(m_dpy, "WM_STATE", False);
        const bool managed = XGetWindowProperty(m_dpy, w, wmStateAtom, 0, 1, False, AnyPropertyType, &type, &format,
                                                &count, &after, &data) == Success &&
                             type != None;
        if (data) XFree(data);
        if (managed && hasClass(w, programClass)) return w;
        Window root, parent, *children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(m_dpy, w, &root, &parent, &children, &n)) return None;
        Window found = None;
        for (unsigned int i = 0; i < n && found == None; ++i) found = findManaged(children[i], programClass);
        if (children) XFree(children);
        return found;
    }

    // A menu of the program: a mapped override-redirect window of its class straight under
    // the root (the tray icon also has the class, but lives inside the tray host).
    bool findPopupMenu(const char* programClass) const {
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_dpy, DefaultRootWindow(m_dpy), &root, &parent, &children, &count)) return false;
        bool found = false;
        for (unsigned int i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes{};
            found = XGetWindowAttributes(m_dpy, children[i], &attributes) && attributes.map_state == IsViewable &&
                    attributes.override_redirect && hasClass(children[i], programClass);
        }
        if (children) XFree(children);
        return found;
    }

    bool hasClass(Window w, const char* name) const {
        XClassHint hint{};
        if (!XGetClassHint(m_dpy, w, &hint)) return false;
        bool match = (hint.res_class && std::string(hint.res_class) == name) ||
                     (hint.res_name && std::string(hint.res_name) == name);
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        return match;
    }

    void walk(Window w, bool insideTray, const char* trayClass, const char* iconClass,
              std::pair<int, int>& found) const {
        if (found.first >= 0) return;
        if (insideTray && hasClass(w, iconClass)) {
            XWindowAttributes attributes{};
            // Only an icon the tray host shows takes clicks.
            if (!XGetWindowAttributes(m_dpy, w, &attributes) || attributes.map_state != IsViewable) return;
            int x = 0, y = 0;
            Window child;
            XTranslateCoordinates(m_dpy, w, DefaultRootWindow(m_dpy), attributes.width / 2, attributes.height / 2,
                                  &x, &y, &child);
            found = {x, y};
            return;
        }
        insideTray = insideTray || hasClass(w, trayClass);
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_dpy, w, &root, &parent, &children, &count)) return;
        for (unsigned int i = 0; i < count; ++i) walk(children[i], insideTray, trayClass, iconClass, found);
        if (children) XFree(children);
    }

    Display* m_dpy;
};

bool Installed(const char* program) { return ::access(program, X_OK) == 0; }

// openbox, and a tray host (trayer) docked at the top right of a 1024-wide screen.
struct TrayDesktop {
    TrayDesktop(const std::map<std::string, std::string>& x11, const TempDir& dir)
        : windowManager("/usr/bin/openbox", {"--sm-disable"}, x11, dir.file("openbox.log")),
          trayHost("/usr/bin/trayer",
                   {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100", "--height", "24",
                    "--SetDockType", "true"},
                   x11, dir.file("trayer.log")) {}
    Process windowManager;
    Process trayHost;
};

// The program's environment in a test folder: its own runtime and config folders, a trace,
// and message boxes as lines on stderr.
std::map<std::string, std::string> ProgramEnvironment(std::map<std::string, std::string> env, const TempDir& dir) {
    env["XDG_RUNTIME_DIR"] = dir.path();
    env["XDG_CONFIG_HOME"] = dir.file("config");
    env["KALIDROME_TRACE"] = dir.file("trace");
    env["KALIDROME_NONINTERACTIVE"] = "1";
    return env;
}

// The very first start's balloon points at the icon in the tray host (top right), not at
// a corner of the screen, where it went when shown before the host had placed the icon.
TEST(DesktopProgram, TheFirstStartsBalloonWaitsForTheIconsPlace) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/openbox", "/usr/bin/trayer"})
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    test::XvfbServer xvfb(1024, 768);
    ASSERT_TRUE(xvfb.ok()) << xvfb.reason();
    TempDir dir;
    const std::map<std::string, std::string> x11{{"DISPLAY", xvfb.display()}, {"QT_QPA_PLATFORM", "xcb"}};
    TrayDesktop desktop(x11, dir);
    std::filesystem::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", dir.file("kalidrome"));
    std::filesystem::create_directory(dir.file("System"));
    const std::map<std::string, std::string> env = ProgramEnvironment(x11, dir);
    auto trace = [&] { return ReadFile(dir.file("trace")); };
    Process program(dir.file("kalidrome"), {}, env, dir.file("kalidrome.log"));
    ASSERT_TRUE(WaitFor([&] { return trace().find("welcome") != std::string::npos; }, 15000))
        << trace() << ReadFile(dir.file("kalidrome.log"));
    const std::string all = trace();
    const std::size_t at = all.find("welcome ");
    ASSERT_NE(at, std::string::npos) << "the balloon was shown before the icon had a place: " << all;
    int x = -1, y = -1;
    ASSERT_EQ(std::sscanf(all.c_str() + at, "welcome %d,%d", &x, &y), 2);
    EXPECT_GT(x, 1024 - 100);
    EXPECT_LT(y, 24);
}

TEST(DesktopProgram, StartsToTheTrayCyclesFromTheTrayMenuAndShowsOnASecondStart) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/openbox", "/usr/bin/trayer", "/usr/bin/xdotool"})
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    test::XvfbServer xvfb(1024, 768);
    ASSERT_TRUE(xvfb.ok()) << xvfb.reason();

    TempDir dir;
    const std::map<std::string, std::string> x11{{"DISPLAY", xvfb.display()}, {"QT_QPA_PLATFORM", "xcb"}};
    TrayDesktop desktop(x11, dir);

    // A program folder of its own with a list of two pictures: red, then blue.
    std::filesystem::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", dir.file("kalidrome"));
    const std::string system = dir.file("System/");
    std::filesystem::create_directory(system);
    WriteSolidBmp(dir.file("red.bmp"), {255, 0, 0});
    WriteSolidBmp(dir.file("blue.bmp"), {0, 0, 255});
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({dir.file("red.bmp"), dir.file("blue.bmp")}, current);
        WriteListFile(system + "Files.kdl", list, false, false);
    }
    WriteFile(system + "Settings.ini", "[Options]\nDisableCycling=1\nRandom=0\nShowTray=1\nShowImages=0\nList=" +
                                           system + "Files.kdl\n");

    const std::map<std::string, std::string> env = ProgramEnvironment(x11, dir);
    auto trace = [&] { return ReadFile(dir.file("trace")); };
    auto traced = [&](const std::string& line) { return trace().find(line) != std::string::npos; };

    Process program(dir.file("kalidrome"), {}, env, dir.file("kalidrome.log"));
    ASSERT_TRUE(WaitFor([&] { return traced("running\n"); }, 15000)) << ReadFile(dir.file("kalidrome.log"));
    EXPECT_FALSE(traced("shown")) << "the program starts hidden";

    Screen screen(xvfb.display());
    ASSERT_TRUE(screen.ok());
    std::pair<int, int> icon{-1, -1};
    ASSERT_TRUE(WaitFor([&] { return (icon = screen.trayIconCentre("trayer", "kalidrome")).first >= 0; }, 10000))
        << "no tray icon inside the tray host";

    // The tray menu: a right click on the icon, then the "&Cycle!" item's accelerator.
    const std::string display = "DISPLAY=" + xvfb.display();
    // A click that comes while the icon is still being embedded is lost: click again
    // (where the icon is now) while no menu has opened.
    bool menuOpen = false;
    for (int attempt = 0; attempt < 3 && !menuOpen; ++attempt) {
        if (attempt > 0) icon = screen.trayIconCentre("trayer", "kalidrome");
        ASSERT_GE(icon.first, 0) << "the tray icon went away";
        const std::string click = display + " /usr/bin/xdotool mousemove " + std::to_string(icon.first) + " " +
                                  std::to_string(icon.second) + " click 3";
        ASSERT_EQ(std::system(click.c_str()), 0);
        menuOpen = WaitFor([&] { return screen.popupMenuOpen("kalidrome"); }, 4000);
    }
    ASSERT_TRUE(menuOpen) << "the tray menu did not open";
    ASSERT_EQ(std::system((display + " /usr/bin/xdotool key c").c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return traced("wallpaper " + dir.file("blue.bmp")); }, 10000)) << trace();
    EXPECT_TRUE(WaitFor([&] { return screen.rootPixel(512, 384) == Rgb{0, 0, 255}; }, 5000))
        << "root pixel " << screen.rootPixel(512, 384).r << "," << screen.rootPixel(512, 384).g << ","
        << screen.rootPixel(512, 384).b;

    // A second start hands over and ends; the running instance shows its window.
    Process second(dir.file("kalidrome"), {}, env, dir.file("second.log"));
    ASSERT_TRUE(second.waitFinished(5000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return traced("request 3024") && traced("shown"); }, 5000)) << trace();
    EXPECT_TRUE(program.running());

    program.signal(SIGTERM);
    EXPECT_TRUE(program.waitFinished(5000));
}

// On a bare X server, with cycling on, the picture due next is made ready and drawn ahead
// on the worker; a "--next" then shows it from there, on the screen.
TEST(DesktopProgram, ThePictureDrawnAheadReachesTheScreen) {
    if (!Installed("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
    test::XvfbServer xvfb(1024, 768);
    ASSERT_TRUE(xvfb.ok()) << xvfb.reason();
    TempDir dir;
    std::filesystem::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", dir.file("kalidrome"));
    const std::string system = dir.file("System/");
    std::filesystem::create_directory(system);
    const std::map<std::string, Rgb> colours{{dir.file("red.jpg"), {255, 0, 0}}, {dir.file("blue.jpg"), {0, 0, 255}}};
    for (const auto& [path, colour] : colours) {
        const std::vector<std::uint8_t> jpeg = render::EncodeJpeg(Solid(2000, 1500, colour), 95);
        WriteFile(path, std::string(jpeg.begin(), jpeg.end()));
    }
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({dir.file("red.jpg"), dir.file("blue.jpg")}, current);
        WriteListFile(system + "Files.kdl", list, false, false);
    }
    WriteFile(system + "Settings.ini", "[Options]\nDisableCycling=0\nRandom=0\nShowImages=0\nList=" + system +
                                           "Files.kdl\n");
    const std::map<std::string, std::string> env =
        ProgramEnvironment({{"DISPLAY", xvfb.display()}, {"QT_QPA_PLATFORM", "xcb"}}, dir);
    auto trace = [&] { return ReadFile(dir.file("trace")); };
    Process program(dir.file("kalidrome"), {}, env, dir.file("kalidrome.log"));
    std::string due;
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string all = trace();
            const std::size_t at = all.rfind("ready ahead ");
            if (at == std::string::npos) return false;
            due = all.substr(at + 12, all.find('\n', at) - at - 12);
            return true;
        },
        15000))
        << trace() << ReadFile(dir.file("kalidrome.log"));
    ASSERT_EQ(colours.count(due), 1u) << due;

    Process next(dir.file("kalidrome"), {"--next"}, env, dir.file("next.log"));
    ASSERT_TRUE(next.waitFinished(5000));
    EXPECT_EQ(next.exitCode(), 0) << ReadFile(dir.file("next.log"));
    EXPECT_TRUE(WaitFor([&] { return trace().find("wallpaper (ready ahead) " + due + "\n") != std::string::npos; },
                        5000))
        << trace();
    // The window may stand in the middle: the background is looked at in a corner (as JPEG
    // keeps it, within a few levels).
    Screen screen(xvfb.display());
    ASSERT_TRUE(screen.ok());
    const Rgb expected = colours.at(due);
    auto near = [](Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) <= 12; };
    EXPECT_TRUE(WaitFor([&] { return near(screen.rootPixel(1020, 764), expected); }, 5000))
        << "root pixel " << screen.rootPixel(1020, 764).r << "," << screen.rootPixel(1020, 764).g << ","
        << screen.rootPixel(1020, 764).b;
    program.signal(SIGTERM);
    EXPECT_TRUE(program.waitFinished(5000));
}

// With a picture per monitor (and pictures matched to the monitors' shapes) on a landscape
// primary monitor beside a portrait one, each "--next" gives each monitor the next picture of
// its own shape, stretched over that monitor.
TEST(DesktopProgram, APicturePerMonitorGoesToTheMonitorOfItsShape) {
    if (!Installed("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
    test::XvfbServer xvfb(1792, 1024, 24);
    ASSERT_TRUE(xvfb.ok()) << xvfb.reason();
    if (!xvfb.setMonitors({{"L", 0, 0, 1024, 768, true}, {"P", 1024, 0, 768, 1024, false}}))
        GTEST_SKIP() << xvfb.reason();
    TempDir dir;
    std::filesystem::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", dir.file("kalidrome"));
    const std::string system = dir.file("System/");
    std::filesystem::create_directory(system);
    const Rgb red{255, 0, 0}, green{0, 160, 0}, blue{0, 0, 255}, yellow{255, 255, 0};
    // Larger than either monitor, so each is stretched over its monitor; shapes alternate in
    // the list, so that list order alone would give a monitor a picture of the wrong shape.
    render::WriteBmpFile(dir.file("red.bmp"), Solid(1280, 960, red));
    render::WriteBmpFile(dir.file("blue.bmp"), Solid(960, 1280, blue));
    render::WriteBmpFile(dir.file("yellow.bmp"), Solid(960, 1280, yellow));
    render::WriteBmpFile(dir.file("green.bmp"), Solid(1280, 960, green));
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({dir.file("red.bmp"), dir.file("blue.bmp"), dir.file("yellow.bmp"), dir.file("green.bmp")},
                      current);
        WriteListFile(system + "Files.kdl", list, false, false);
    }
    WriteFile(system + "Settings.ini",
              "[Options]\nDisableCycling=1\nRandom=0\nShowImages=0\nStretchLarger=1\nStretchSmaller=0\nRes1=1\n"
              "Res2=1\nCurrIndex=3\nPicturePerMonitor=1\nMatchOrientation=1\nList=" +
                  system + "Files.kdl\n");
    const std::map<std::string, std::string> env =
        ProgramEnvironment({{"DISPLAY", xvfb.display()}, {"QT_QPA_PLATFORM", "xcb"}}, dir);
    auto trace = [&] { return ReadFile(dir.file("trace")); };
    Process program(dir.file("kalidrome"), {}, env, dir.file("kalidrome.log"));
    ASSERT_TRUE(WaitFor([&] { return trace().find("running\n") != std::string::npos; }, 15000))
        << trace() << ReadFile(dir.file("kalidrome.log"));
    Screen screen(xvfb.display());
    ASSERT_TRUE(screen.ok());
    auto describe = [](Rgb c) { return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b); };
    // Corners of each monitor: the program's window, where it stands, is not in them.
    struct Probe {
        int x, y;
    };
    const Probe landscape[] = {{2, 2}, {1021, 765}, {2, 765}};
    const Probe portrait[] = {{1024 + 2, 2}, {1024 + 765, 1021}, {1024 + 765, 2}};
    struct Step {
        Rgb landscape, portrait;
    };
    for (const Step& step : {Step{red, blue}, Step{green, yellow}, Step{red, blue}}) {
        SCOPED_TRACE(describe(step.landscape) + " and " + describe(step.portrait));
        Process next(dir.file("kalidrome"), {"--next"}, env, dir.file("next.log"));
        ASSERT_TRUE(next.waitFinished(5000));
        EXPECT_EQ(next.exitCode(), 0) << ReadFile(dir.file("next.log"));
        auto shows = [&] {
            for (const Probe& p : landscape)
                if (!(screen.rootPixel(p.x, p.y) == step.landscape)) return false;
            for (const Probe& p : portrait)
                if (!(screen.rootPixel(p.x, p.y) == step.portrait)) return false;
            return true;
        };
        EXPECT_TRUE(WaitFor(shows, 10000))
            << "landscape " << describe(screen.rootPixel(2, 2)) << ", portrait " << describe(screen.rootPixel(1026, 2))
            << "\n" << trace();
    }
    program.signal(SIGTERM);
    EXPECT_TRUE(program.waitFinished(5000));
}

// With no tray icon to bring the window back, the title bar's close button leaves the window
// iconic (in the task bar), never withdrawn: whether the session has no tray at all, or has
// one (trayer) with "Show Tray" off. A second start shows it again.
TEST(DesktopProgram, CloseWithoutATrayIconLeavesTheWindowIconic) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/openbox", "/usr/bin/trayer", "/usr/bin/xdotool"})
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    struct Case {
        const char* name;
        bool trayHost;
    };
    for (const Case& c : {Case{"trayer, Show Tray off", true}, Case{"no tray host", false}}) {
        SCOPED_TRACE(c.name);
        test::XvfbServer xvfb(1024, 768);
        ASSERT_TRUE(xvfb.ok()) << xvfb.reason();
        TempDir dir;
        const std::map<std::string, std::string> x11{
            {"DISPLAY", xvfb.display()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.file("no-bus")},
        };
        Process windowManager("/usr/bin/openbox", {"--sm-disable"}, x11, dir.file("openbox.log"));
        std::unique_ptr<Process> trayHost;
        if (c.trayHost) {
            trayHost = std::make_unique<Process>("/usr/bin/trayer", std::vector<std::string>{"--SetDockType", "true"},
                                                 x11, dir.file("trayer.log"));
            ASSERT_TRUE(WaitFor(
                [&] {
                    Process search("/usr/bin/xdotool", {"search", "--classname", "trayer"}, x11, dir.file("xdotool.log"));
                    return search.waitFinished(5000) && search.exitCode() == 0;
                },
                10000))
                << "trayer did not come up: " << ReadFile(dir.file("trayer.log"));
        }
        std::filesystem::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", dir.file("kalidrome"));
        std::filesystem::create_directory(dir.file("System"));
        WriteFile(dir.file("System/Settings.ini"), "[Options]\nDisableCycling=1\nShowTray=0\n");
        const std::map<std::string, std::string> env = ProgramEnvironment(x11, dir);
        auto trace = [&] { return ReadFile(dir.file("trace")); };
        auto traced = [&](const std::string& line) { return trace().find(line) != std::string::npos; };

        Process program(dir.file("kalidrome"), {}, env, dir.file("kalidrome.log"));
        ASSERT_TRUE(WaitFor([&] { return traced("running\n"); }, 15000)) << ReadFile(dir.file("kalidrome.log"));
        if (c.trayHost) {
            EXPECT_FALSE(traced("shown")) << "with a tray the program starts hidden, icon or not";
            Process show(dir.file("kalidrome"), {"--show"}, env, dir.file("show.log"));
            ASSERT_TRUE(show.waitFinished(5000));
            EXPECT_EQ(show.exitCode(), 0);
        }
        Screen screen(xvfb.display());
        ASSERT_TRUE(screen.ok());
        Window main = None;
        ASSERT_TRUE(WaitFor([&] { return (main = screen.managedWindow("kalidrome")) != None && screen.wmState(main) == NormalState; }, 10000))
            << trace();

        screen.askToClose(main);
        EXPECT_TRUE(WaitFor([&] { return screen.wmState(main) == IconicState; }, 5000))
            << "WM_STATE " << screen.wmState(main) << "\n" << trace();
        EXPECT_TRUE(traced("minimised")) << trace();
        EXPECT_FALSE(traced("hidden")) << trace();
        EXPECT_TRUE(program.running());

        // A second start brings it back.
        Process second(dir.file("kalidrome"), {"--show"}, env, dir.file("second.log"));
        ASSERT_TRUE(second.waitFinished(5000));
        EXPECT_TRUE(WaitFor([&] { return screen.wmState(main) == NormalState; }, 5000)) << trace();

        program.signal(SIGTERM);
        EXPECT_TRUE(program.waitFinished(5000));
    }
}

}  // namespace
