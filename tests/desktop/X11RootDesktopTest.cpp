#include "BmpCodec.h"
#include "Image.h"
#include "TempDir.h"
#include "X11RootDesktop.h"
#include "XvfbServer.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

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

}  // namespace
}  // namespace kalidrome::test
