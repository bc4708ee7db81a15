#include "BmpCodec.h"
#include "FakeRegistry.h"
#include "JpegCodec.h"
#include "Wallpaper.h"
#include "CaseName.h"
#include "Image.h"
#include "Process.h"
#include "TempDir.h"
#include "X11RootDesktop.h"
#include "XvfbServer.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <memory>
#include <vector>

namespace kalidrome::test {
namespace {

using platform::Placement;

struct Rgb {
    int r, g, b;
};

render::Image Make(std::int32_t w, std::int32_t h, Rgb (*at)(std::int32_t, std::int32_t)) {
    render::Image image(w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const Rgb c = at(x, y);
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(c.b);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.r);
        }
    return image;
}

int g_errors = 0;
extern "C" int CountError(Display*, XErrorEvent*) {
    ++g_errors;
    return 0;
}

// A second client looking at the screen, as a compositor or pseudo-transparent terminal does.
class Observer {
public:
    explicit Observer(const std::string& display) : m_dpy(XOpenDisplay(display.c_str())) {}
    ~Observer() {
        if (m_dpy) XCloseDisplay(m_dpy);
    }
    Display* dpy() const { return m_dpy; }
    Window root() const { return DefaultRootWindow(m_dpy); }

    Rgb RootPixel(int x, int y) const { return Pixel(root(), x, y); }

    Rgb Pixel(Drawable d, int x, int y) const {
        XImage* image = XGetImage(m_dpy, d, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return {-1, -1, -1};
        const unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)};
    }

    Pixmap Property(const char* name) const {
        const Atom atom = XInternAtom(m_dpy, name, True);
        if (atom == None) return None;
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        Pixmap result = None;
        if (XGetWindowProperty(m_dpy, root(), atom, 0, 1, False, XA_PIXMAP, &type, &format, &count, &after, &data) ==
                Success &&
            data && count == 1)
            result = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return result;
    }

    bool PixmapAlive(Pixmap p) const {
        g_errors = 0;
        XErrorHandler previous = XSetErrorHandler(CountError);
        Window rootReturn;
        int x, y;
        unsigned w, h, border, depth;
        XGetGeometry(m_dpy, p, &rootReturn, &x, &y, &w, &h, &border, &depth);
        XSync(m_dpy, False);
        XSetErrorHandler(previous);
        return g_errors == 0;
    }

private:
    Display* m_dpy;
};

std::string Describe(Rgb c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.ok()) GTEST_SKIP() << "no private X server: " << xvfb.reason();
        observer = std::make_unique<Observer>(xvfb.display());
        ASSERT_NE(observer->dpy(), nullptr);
    }

    XvfbServer xvfb{64, 48, 24};
    std::unique_ptr<Observer> observer;
    TempDir dir;
};

TEST_F(X11DesktopTest, ReportsTheScreenSize) {
    platform::X11RootDesktop desktop(xvfb.display());
    EXPECT_EQ(desktop.primaryScreenSize(), (platform::ScreenExtent{64, 48}));
}

TEST_F(X11DesktopTest, StretchedPictureFillsTheScreen) {
    // 16 x 12, left half red, right half blue, scaled by 4.
    const render::Image picture = Make(16, 12, [](std::int32_t x, std::int32_t) { return x < 8 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; });
    platform::X11RootDesktop desktop(xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &picture;
    desktop.setWallpaper(dir.file("unused.bmp"), Placement::Stretched, pixels);
    EXPECT_TRUE(desktop.lastUploadUsedSharedMemory());
    const struct {
        int x, y;
        Rgb expected;
    } probes[] = {{0, 0, {255, 0, 0}}, {30, 47, {255, 0, 0}}, {33, 0, {0, 0, 255}}, {63, 47, {0, 0, 255}}};
    for (const auto& p : probes)
        EXPECT_EQ(Describe(observer->RootPixel(p.x, p.y)), Describe(p.expected)) << p.x << "," << p.y;
}

TEST_F(X11DesktopTest, CentredPictureIsUnscaledOnBlack) {
    // 10 x 6 green with a white top-left pixel, read from its file (no pixels handed over).
    render::Image picture = Make(10, 6, [](std::int32_t x, std::int32_t y) {
        return x == 0 && y == 0 ? Rgb{255, 255, 255} : Rgb{0, 255, 0};
    });
    render::WriteBmpFile(dir.file("p.bmp"), picture);
    platform::X11RootDesktop desktop(xvfb.display());
    desktop.setWallpaper(dir.file("p.bmp"), Placement::Centred, {});
    // Placed at (27, 21) .. (36, 26).
    EXPECT_EQ(Describe(observer->RootPixel(27, 21)), Describe({255, 255, 255}));
    EXPECT_EQ(Describe(observer->RootPixel(28, 21)), Describe({0, 255, 0}));
    EXPECT_EQ(Describe(observer->RootPixel(36, 26)), Describe({0, 255, 0}));
    EXPECT_EQ(Describe(observer->RootPixel(26, 21)), Describe({0, 0, 0}));
    EXPECT_EQ(Describe(observer->RootPixel(37, 26)), Describe({0, 0, 0}));
    EXPECT_EQ(Describe(observer->RootPixel(0, 0)), Describe({0, 0, 0}));
}

TEST_F(X11DesktopTest, CentredPictureLargerThanTheScreenShowsItsMiddle) {
    const render::Image picture = Make(100, 60, [](std::int32_t x, std::int32_t) {
        return x < 50 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
    });
    platform::X11RootDesktop desktop(xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &picture;
    desktop.setWallpaper("", Placement::Centred, pixels);
    // Picture x = screen x + 18: the red/blue edge lands at screen x 32.
    EXPECT_EQ(Describe(observer->RootPixel(31, 10)), Describe({255, 0, 0}));
    EXPECT_EQ(Describe(observer->RootPixel(32, 10)), Describe({0, 0, 255}));
}

TEST_F(X11DesktopTest, PublishesThePixmapAndFreesThePreviousOne) {
    const render::Image red = Make(4, 4, [](std::int32_t, std::int32_t) { return Rgb{255, 0, 0}; });
    const render::Image blue = Make(4, 4, [](std::int32_t, std::int32_t) { return Rgb{0, 0, 255}; });
    platform::X11RootDesktop desktop(xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &red;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    const Pixmap first = observer->Property("_XROOTPMAP_ID");
    ASSERT_NE(first, None);
    EXPECT_EQ(observer->Property("ESETROOT_PMAP_ID"), first);
    // The pixmap outlives the connection that made it.
    EXPECT_TRUE(observer->PixmapAlive(first));
    EXPECT_EQ(Describe(observer->Pixel(first, 10, 10)), Describe({255, 0, 0}));

    pixels.picture = &blue;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    const Pixmap second = observer->Property("_XROOTPMAP_ID");
    ASSERT_NE(second, None);
    EXPECT_NE(second, first);
    EXPECT_EQ(observer->Property("ESETROOT_PMAP_ID"), second);
    EXPECT_FALSE(observer->PixmapAlive(first)) << "the first wallpaper's pixmap was not freed";
    EXPECT_EQ(Describe(observer->Pixel(second, 10, 10)), Describe({0, 0, 255}));
    EXPECT_EQ(Describe(observer->RootPixel(10, 10)), Describe({0, 0, 255}));
}

TEST_F(X11DesktopTest, ScreenSizedPixelsAreUsedAsTheyAre) {
    // A "picture" and a different screen-sized version: the desktop must take the latter.
    const render::Image picture = Make(8, 8, [](std::int32_t, std::int32_t) { return Rgb{255, 0, 0}; });
    const render::Image ready = Make(64, 48, [](std::int32_t, std::int32_t) { return Rgb{0, 255, 0}; });
    const render::Image wrongSize = Make(32, 24, [](std::int32_t, std::int32_t) { return Rgb{0, 255, 0}; });
    platform::X11RootDesktop desktop(xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &picture;
    pixels.screenSized = &ready;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    EXPECT_EQ(Describe(observer->RootPixel(5, 5)), Describe({0, 255, 0}));
    pixels.screenSized = &wrongSize;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    EXPECT_EQ(Describe(observer->RootPixel(5, 5)), Describe({255, 0, 0}));
}

TEST(X11DesktopFailure, NoServerRaisesDesktopError) {
    platform::X11RootDesktop desktop(":4093");
    EXPECT_THROW(desktop.primaryScreenSize(), platform::DesktopError);
    const render::Image picture = Make(2, 2, [](std::int32_t, std::int32_t) { return Rgb{1, 2, 3}; });
    platform::WallpaperPixels pixels;
    pixels.picture = &picture;
    EXPECT_THROW(desktop.setWallpaper("", Placement::Stretched, pixels), platform::DesktopError);
}

// Two monitors side by side as desktops.md describes them, and variations of it.
using Layout = std::vector<XvfbServer::Monitor>;
const Layout kLeftPrimary = {{"L", 0, 0, 1024, 768, true}, {"R", 1024, 0, 1024, 768, false}};
const Layout kNonePrimary = {{"L", 0, 0, 1280, 768, false}, {"R", 1280, 0, 768, 768, false}};
// The primary monitor is the second one defined, right of the other and smaller.
const Layout kSmallRightPrimary = {{"L", 0, 0, 1024, 768, false}, {"R", 1024, 0, 800, 600, true}};

// A 2048 x 768 screen with the given monitors (none: the screen's own single monitor).
class MonitorScreen {
public:
    explicit MonitorScreen(const Layout& layout) {
        if (!xvfb.ok()) {
            reason = "no private X server: " + xvfb.reason();
            return;
        }
        if (!layout.empty() && !xvfb.setMonitors(layout)) {
            reason = xvfb.reason();
            return;
        }
        observer = std::make_unique<Observer>(xvfb.display());
    }
    XvfbServer xvfb{2048, 768, 24};
    std::unique_ptr<Observer> observer;
    std::string reason;
};

struct PrimaryCase {
    const char* name;
    Layout layout;
    platform::ScreenExtent primary;
};

void PrintTo(const PrimaryCase& c, std::ostream* os) { *os << c.name; }

class X11PrimaryMonitorTest : public ::testing::TestWithParam<PrimaryCase> {};

TEST_P(X11PrimaryMonitorTest, PrimarySizeIsThePrimaryMonitors) {
    const PrimaryCase& c = GetParam();
    MonitorScreen screen(c.layout);
    if (!screen.observer) GTEST_SKIP() << screen.reason;
    EXPECT_EQ(platform::X11PrimaryMonitorSize(screen.xvfb.display()), c.primary);
    platform::X11RootDesktop desktop(screen.xvfb.display());
    EXPECT_EQ(desktop.primaryScreenSize(), c.primary);
    // Every monitor is listed with its place, whichever XRandR puts first.
    const std::vector<platform::Monitor> monitors = platform::X11Monitors(screen.xvfb.display());
    ASSERT_EQ(monitors.size(), std::max<std::size_t>(1, c.layout.size()));
    for (const XvfbServer::Monitor& want : c.layout) {
        const auto found = std::find_if(monitors.begin(), monitors.end(),
                                        [&](const platform::Monitor& m) { return m.name == want.name; });
        ASSERT_NE(found, monitors.end()) << want.name;
        EXPECT_EQ(found->x, want.x) << want.name;
        EXPECT_EQ(found->width, want.width) << want.name;
        EXPECT_EQ(found->height, want.height) << want.name;
        EXPECT_EQ(found->primary, want.primary) << want.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, X11PrimaryMonitorTest,
                         ::testing::Values(PrimaryCase{"one monitor is the whole screen", {}, {2048, 768}},
                                           PrimaryCase{"left of two marked primary", kLeftPrimary, {1024, 768}},
                                           PrimaryCase{"none marked takes the first", kNonePrimary, {1280, 768}},
                                           PrimaryCase{"smaller right one marked primary", kSmallRightPrimary, {800, 600}}),
                         [](const auto& param) { return CaseName(param.param.name); });

TEST(X11PrimaryMonitor, NoServerRaisesDesktopError) {
    EXPECT_THROW(platform::X11PrimaryMonitorSize(":4093"), platform::DesktopError);
}

constexpr Rgb kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

// Left half red, right half blue: a monitor showing it stretched has the edge at its middle.
render::Image Halves(std::int32_t w, std::int32_t h) {
    return Make(w, h, [](std::int32_t x, std::int32_t) { return x < 8 ? kRed : kBlue; });
}

struct Probe {
    int x, y;
    Rgb expected;
};

void ExpectPixels(const Observer& observer, const std::vector<Probe>& probes) {
    for (const Probe& p : probes)
        EXPECT_EQ(Describe(observer.RootPixel(p.x, p.y)), Describe(p.expected)) << "at " << p.x << "," << p.y;
}

struct PlacementCase {
    const char* name;
    Layout layout;
    Placement placement;
    std::int32_t pictureWidth, pictureHeight;  // the picture: Halves, or for Centred the marked one below
    std::vector<Probe> probes;
};

// For Centred: green with a white top-left pixel, or (when wider than 100) left half red,
// right half blue.
render::Image PictureFor(const PlacementCase& c) {
    if (c.placement == Placement::Stretched) return Halves(16, 12);
    if (c.pictureWidth > 100) {
        const std::int32_t half = c.pictureWidth / 2;
        render::Image image(c.pictureWidth, c.pictureHeight);
        for (std::int32_t y = 0; y < image.height(); ++y)
            for (std::int32_t x = 0; x < image.width(); ++x) {
                std::uint8_t* p = image.row(y) + 3 * x;
                p[0] = x < half ? 0 : 255;
                p[1] = 0;
                p[2] = x < half ? 255 : 0;
            }
        return image;
    }
    return Make(c.pictureWidth, c.pictureHeight, [](std::int32_t x, std::int32_t y) { return x == 0 && y == 0 ? kWhite : kGreen; });
}

void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.name; }

class X11MonitorPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(X11MonitorPlacementTest, EachMonitorShowsThePicturePlacedForIt) {
    const PlacementCase& c = GetParam();
    MonitorScreen screen(c.layout);
    if (!screen.observer) GTEST_SKIP() << screen.reason;
    const render::Image picture = PictureFor(c);
    platform::X11RootDesktop desktop(screen.xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &picture;
    desktop.setWallpaper("", c.placement, pixels);
    EXPECT_TRUE(desktop.lastUploadUsedSharedMemory());
    ExpectPixels(*screen.observer, c.probes);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, X11MonitorPlacementTest,
    ::testing::Values(
        // 16 x 12 halves stretched on each 1024 x 768 monitor: the red/blue edge at x 512 on
        // each, not once in the middle of the screen.
        PlacementCase{"stretched on two equal monitors", kLeftPrimary, Placement::Stretched, 16, 12,
                      {{0, 0, kRed}, {500, 767, kRed}, {530, 0, kBlue}, {1023, 767, kBlue},
                       {1024, 0, kRed}, {1524, 767, kRed}, {1560, 0, kBlue}, {2047, 767, kBlue}}},
        // The 800 x 600 primary has its own edge at 400 and black below and beside it.
        PlacementCase{"stretched on monitors of two sizes", kSmallRightPrimary, Placement::Stretched, 16, 12,
                      {{500, 0, kRed}, {530, 767, kBlue}, {1024, 0, kRed}, {1024 + 390, 599, kRed},
                       {1024 + 410, 0, kBlue}, {1823, 599, kBlue}, {1824, 0, kBlack}, {1100, 600, kBlack},
                       {2047, 767, kBlack}}},
        // 10 x 6 centred: at (507, 381) on each 1024 x 768 monitor.
        PlacementCase{"centred on two equal monitors", kLeftPrimary, Placement::Centred, 10, 6,
                      {{507, 381, kWhite}, {516, 386, kGreen}, {506, 381, kBlack}, {517, 386, kBlack},
                       {1024 + 507, 381, kWhite}, {1024 + 516, 386, kGreen}, {1024 + 506, 381, kBlack},
                       {1019, 381, kBlack}, {0, 0, kBlack}, {2047, 767, kBlack}}},
        // On the 800 x 600 monitor the picture sits at (395, 297) of it.
        PlacementCase{"centred on monitors of two sizes", kSmallRightPrimary, Placement::Centred, 10, 6,
                      {{507, 381, kWhite}, {1024 + 395, 297, kWhite}, {1024 + 404, 302, kGreen},
                       {1024 + 405, 302, kBlack}, {1024 + 507, 381, kBlack}}},
        // 1100 wide centred on 1024: each monitor shows the middle, edge at its own x 512,
        // and neither spills onto the other.
        PlacementCase{"centred wider than a monitor stays on it", kLeftPrimary, Placement::Centred, 1100, 100,
                      {{511, 384, kRed}, {512, 384, kBlue}, {1023, 384, kBlue}, {1024, 384, kRed},
                       {1024 + 511, 384, kRed}, {1024 + 512, 384, kBlue}, {2047, 384, kBlue}, {512, 333, kBlack}}}),
    [](const auto& param) { return CaseName(param.param.name); });

// The picture scaled on the way is made for the primary. It serves monitors of its size, and
// monitors smaller than it are scaled down from it; larger ones are scaled from the picture.
// The picture is red and the primary's copy green, so colours tell which was used where.
struct ReadyCase {
    const char* name;
    Layout layout;
    std::int32_t readyWidth, readyHeight;
    std::vector<Probe> probes;
};

void PrintTo(const ReadyCase& c, std::ostream* os) { *os << c.name; }

class X11ScreenSizedTest : public ::testing::TestWithParam<ReadyCase> {};

TEST_P(X11ScreenSizedTest, PrimarysCopyServesTheMonitorsItCan) {
    const ReadyCase& c = GetParam();
    MonitorScreen screen(c.layout);
    if (!screen.observer) GTEST_SKIP() << screen.reason;
    const render::Image picture = Make(8, 8, [](std::int32_t, std::int32_t) { return kRed; });
    const render::Image ready = Make(c.readyWidth, c.readyHeight, [](std::int32_t, std::int32_t) { return kGreen; });
    platform::X11RootDesktop desktop(screen.xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &picture;
    pixels.screenSized = &ready;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    ExpectPixels(*screen.observer, c.probes);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, X11ScreenSizedTest,
    ::testing::Values(ReadyCase{"other monitor larger than the primary", kSmallRightPrimary, 800, 600,
                                {{0, 0, kRed}, {1023, 767, kRed}, {1024, 0, kGreen}, {1823, 599, kGreen},
                                 {1824, 599, kBlack}}},
                      ReadyCase{"other monitor smaller than the primary",
                                {{"L", 0, 0, 1024, 768, true}, {"R", 1024, 0, 800, 600, false}}, 1024, 768,
                                {{0, 0, kGreen}, {1023, 767, kGreen}, {1024, 0, kGreen}, {1823, 599, kGreen},
                                 {1024, 600, kBlack}}}),
    [](const auto& param) { return CaseName(param.param.name); });

// Another setter writing _XROOTPMAP_ID between our publishing and our reading it back.
struct RaceCase {
    const char* name;
    bool deleteProperty;  // else it names a pixmap of the other setter
};

void PrintTo(const RaceCase& c, std::ostream* os) { *os << c.name; }

class X11ReadBackTest : public X11DesktopTest, public ::testing::WithParamInterface<RaceCase> {};

TEST_P(X11ReadBackTest, AnotherSetterWinsAndWeSaySo) {
    const render::Image red = Make(4, 4, [](std::int32_t, std::int32_t) { return kRed; });
    platform::X11RootDesktop desktop(xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &red;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    const Pixmap previous = observer->Property("_XROOTPMAP_ID");
    ASSERT_NE(previous, None);

    Display* other = observer->dpy();
    const Pixmap theirs = XCreatePixmap(other, observer->root(), 4, 4, 24);
    const Atom atom = XInternAtom(other, "_XROOTPMAP_ID", False);
    Pixmap ours = None;
    desktop.setAfterPublishHook([&] {
        ours = observer->Property("_XROOTPMAP_ID");
        if (GetParam().deleteProperty) {
            XDeleteProperty(other, observer->root(), atom);
        } else {
            const unsigned long id = theirs;
            XChangeProperty(other, observer->root(), atom, XA_PIXMAP, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&id), 1);
        }
        XSync(other, False);
    });
    const render::Image blue = Make(4, 4, [](std::int32_t, std::int32_t) { return kBlue; });
    pixels.picture = &blue;
    try {
        desktop.setWallpaper("", Placement::Stretched, pixels);
        ADD_FAILURE() << "no DesktopError";
    } catch (const platform::DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find("Another program"), std::string::npos) << e.what();
    }
    ASSERT_NE(ours, None);
    EXPECT_NE(ours, previous);
    EXPECT_EQ(observer->Property("_XROOTPMAP_ID"), GetParam().deleteProperty ? None : theirs);
    // Ours is not kept; the wallpaper before it, possibly the other setter's, is not killed.
    EXPECT_FALSE(observer->PixmapAlive(ours));
    EXPECT_TRUE(observer->PixmapAlive(previous));
    XFreePixmap(other, theirs);

    // Without interference the next change goes through and is checked as ours.
    desktop.setAfterPublishHook({});
    EXPECT_NO_THROW(desktop.setWallpaper("", Placement::Stretched, pixels));
    EXPECT_EQ(Describe(observer->RootPixel(1, 1)), Describe(kBlue));
}

INSTANTIATE_TEST_SUITE_P(Setters, X11ReadBackTest,
                         ::testing::Values(RaceCase{"replaced by another pixmap", false},
                                           RaceCase{"property deleted", true}),
                         [](const auto& param) { return CaseName(param.param.name); });

// A picture drawn ahead of its turn is not seen until the change shows it; then it is shown
// as drawn (no pixels nor file needed any more) and kept like any other.
TEST_F(X11DesktopTest, StagedPictureShowsOnlyAtItsTurn) {
    platform::X11RootDesktop desktop(xvfb.display());
    const render::Image blue = Make(4, 4, [](std::int32_t, std::int32_t) { return kBlue; });
    platform::WallpaperPixels pixels;
    pixels.picture = &blue;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    const Pixmap before = observer->Property("_XROOTPMAP_ID");

    const render::Image halves = Halves(16, 12);
    pixels.picture = &halves;
    std::unique_ptr<platform::StagedWallpaper> staged = desktop.stageWallpaper(Placement::Stretched, pixels);
    ASSERT_NE(staged, nullptr);
    EXPECT_EQ(observer->Property("_XROOTPMAP_ID"), before);
    EXPECT_EQ(Describe(observer->RootPixel(1, 1)), Describe(kBlue)) << "shown before its turn";

    platform::WallpaperPixels atTurn;  // no pixels, and no file: only the staged picture
    atTurn.staged = staged.get();
    desktop.setWallpaper(dir.file("no such.bmp"), Placement::Stretched, atTurn);
    staged.reset();
    const Pixmap shown = observer->Property("_XROOTPMAP_ID");
    EXPECT_NE(shown, before);
    EXPECT_TRUE(observer->PixmapAlive(shown)) << "the shown pixmap went with its connection";
    EXPECT_FALSE(observer->PixmapAlive(before)) << "the previous wallpaper's pixmap was not freed";
    ExpectPixels(*observer, {{0, 0, kRed}, {31, 47, kRed}, {32, 0, kBlue}, {63, 47, kBlue}});
}

// A picture dropped before its turn leaves the desktop as it was.
TEST_F(X11DesktopTest, DroppedStagedPictureIsNeverShown) {
    platform::X11RootDesktop desktop(xvfb.display());
    const render::Image blue = Make(4, 4, [](std::int32_t, std::int32_t) { return kBlue; });
    const render::Image red = Make(4, 4, [](std::int32_t, std::int32_t) { return kRed; });
    platform::WallpaperPixels pixels;
    pixels.picture = &blue;
    desktop.setWallpaper("", Placement::Stretched, pixels);
    const Pixmap before = observer->Property("_XROOTPMAP_ID");
    pixels.picture = &red;
    desktop.stageWallpaper(Placement::Stretched, pixels).reset();
    EXPECT_EQ(observer->Property("_XROOTPMAP_ID"), before);
    EXPECT_TRUE(observer->PixmapAlive(before));
    EXPECT_EQ(Describe(observer->RootPixel(1, 1)), Describe(kBlue));
}

// When the monitors change between drawing ahead and the turn, the staged picture is given
// up and the change drawn for the monitors there are now, from its pixels or from its file.
struct RestageCase {
    const char* name;
    bool fromFile;
};

void PrintTo(const RestageCase& c, std::ostream* os) { *os << c.name; }

class X11StagedLayoutTest : public ::testing::TestWithParam<RestageCase> {};

TEST_P(X11StagedLayoutTest, ChangedMonitorsDrawTheChangeAnew) {
    MonitorScreen screen(kLeftPrimary);
    if (!screen.observer) GTEST_SKIP() << screen.reason;
    TempDir dir;
    const render::Image halves = Halves(16, 12);
    render::WriteBmpFile(dir.file("halves.bmp"), halves);
    platform::X11RootDesktop desktop(screen.xvfb.display());
    platform::WallpaperPixels pixels;
    pixels.picture = &halves;
    std::unique_ptr<platform::StagedWallpaper> staged = desktop.stageWallpaper(Placement::Stretched, pixels);
    ASSERT_NE(staged, nullptr);
    // The right monitor becomes the primary, 800 x 600 (kSmallRightPrimary).
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--delmonitor", "R"}, {"--setmonitor", "*R", "800/212x600/159+1024+0", "none"}}) {
        std::vector<std::string> all{"-d", screen.xvfb.display()};
        all.insert(all.end(), args.begin(), args.end());
        Process xrandr("/usr/bin/xrandr", all, {}, dir.file("xrandr.log"));
        ASSERT_TRUE(xrandr.waitFinished(10000));
        ASSERT_EQ(xrandr.exitCode(), 0) << ReadFile(dir.file("xrandr.log"));
    }

    if (GetParam().fromFile) pixels.picture = nullptr;
    pixels.staged = staged.get();
    desktop.setWallpaper(dir.file("halves.bmp"), Placement::Stretched, pixels);
    // As drawn for the new layout: the 800 x 600 monitor has its own edge at its x 400 and
    // black below it; drawn for the old one it would show blue at (1024 + 410, 700).
    ExpectPixels(*screen.observer, {{500, 0, kRed}, {530, 767, kBlue}, {1024 + 390, 599, kRed},
                                    {1024 + 410, 0, kBlue}, {1100, 600, kBlack}, {1024 + 410, 700, kBlack}});
}

INSTANTIATE_TEST_SUITE_P(Sources, X11StagedLayoutTest,
                         ::testing::Values(RestageCase{"from its pixels", false}, RestageCase{"from its file", true}),
                         [](const auto& param) { return CaseName(param.param.name); });

// A picture per monitor on a landscape and a portrait monitor: each picture is converted
// and placed for its own monitor, WallPaper.bmp holds the primary's and WallPaper-2.bmp the
// other's, and the root window shows each on its monitor.
struct PerMonitorCase {
    const char* name;
    bool stretchSmaller;  // on: both small pictures stretched to their monitors
    std::vector<Probe> probes;
};

void PrintTo(const PerMonitorCase& c, std::ostream* os) { *os << c.name; }

class X11PerMonitorTest : public ::testing::TestWithParam<PerMonitorCase> {};

void WriteJpeg(const std::string& path, const render::Image& image) {
    const std::vector<std::uint8_t> bytes = render::EncodeJpeg(image, 95);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// Near enough for JPEG's loss on a plain colour.
void ExpectNearPixels(const Observer& observer, const std::vector<Probe>& probes) {
    for (const Probe& p : probes) {
        const Rgb got = observer.RootPixel(p.x, p.y);
        EXPECT_TRUE(std::abs(got.r - p.expected.r) < 24 && std::abs(got.g - p.expected.g) < 24 &&
                    std::abs(got.b - p.expected.b) < 24)
            << "at " << p.x << "," << p.y << ": " << Describe(got) << " instead of " << Describe(p.expected);
    }
}

TEST_P(X11PerMonitorTest, EachMonitorShowsItsOwnPicture) {
    const PerMonitorCase& c = GetParam();
    XvfbServer xvfb{1792, 1024, 24};
    if (!xvfb.ok()) GTEST_SKIP() << "no private X server: " << xvfb.reason();
    if (!xvfb.setMonitors({{"L", 0, 0, 1024, 768, true}, {"P", 1024, 0, 768, 1024, false}}))
        GTEST_SKIP() << xvfb.reason();
    Observer observer(xvfb.display());
    TempDir dir;
    const std::string system = dir.path() + "/";
    WriteJpeg(system + "land.jpg", Make(64, 48, [](std::int32_t, std::int32_t) { return kRed; }));
    WriteJpeg(system + "port.jpg", Make(48, 64, [](std::int32_t, std::int32_t) { return kBlue; }));

    platform::X11RootDesktop desktop(xvfb.display());
    const std::vector<platform::Monitor> monitors = desktop.monitors();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].name, "L");  // the primary first
    render::WallpaperOptions options;
    options.StretchSmaller = c.stretchSmaller;
    render::PreparedWallpaper prepared = render::PrepareMonitorWallpapers(
        {system + "land.jpg", system + "port.jpg"}, monitors, system, options, render::TraitsOf(desktop));
    platform::FakeRegistry registry;
    std::string failure;
    ASSERT_TRUE(render::ApplyPreparedWallpaper(prepared, desktop, registry, &failure)) << failure;
    ExpectNearPixels(observer, c.probes);

    const render::BmpInfo primary = render::ReadBmpFileInfo(system + "WallPaper.bmp");
    const render::BmpInfo second = render::ReadBmpFileInfo(system + "WallPaper-2.bmp");
    EXPECT_EQ(primary.width, 64);
    EXPECT_EQ(primary.height, 48);
    EXPECT_EQ(second.width, 48);
    EXPECT_EQ(second.height, 64);
    EXPECT_EQ(registry.readString(platform::kDesktopKey, platform::kWallpaperStyleValue), c.stretchSmaller ? "2" : "0");
}

INSTANTIATE_TEST_SUITE_P(
    Placements, X11PerMonitorTest,
    ::testing::Values(
        PerMonitorCase{"stretched, each to its monitor", true,
                       {{0, 0, kRed}, {1023, 767, kRed}, {1024, 0, kBlue}, {1791, 1023, kBlue}, {500, 900, kBlack}}},
        // Centred unscaled: 64 x 48 in the middle of 1024 x 768, 48 x 64 in the middle of
        // 768 x 1024 (from x 1024 + 360, y 480).
        PerMonitorCase{"centred, each in the middle of its monitor", false,
                       {{480, 360, kRed}, {543, 407, kRed}, {479, 360, kBlack}, {1024 + 360, 480, kBlue},
                        {1024 + 407, 543, kBlue}, {1024 + 359, 480, kBlack}, {1024 + 360, 479, kBlack}}}),
    [](const auto& param) { return CaseName(param.param.name); });

}  // namespace
}  // namespace kalidrome::test
