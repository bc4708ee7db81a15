#pragma once

// A System folder with a list and settings for the companion screen saver, published in a
// registry file the way the program publishes it, and an X connection to read pixels with.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "BmpCodec.h"
#include "IniRegistry.h"
#include "ListFile.h"
#include "PictureFixtures.h"
#include "Registry.h"
#include "TempDir.h"
#include "WallpaperList.h"

namespace kalidrome::test {

// home/ holds System/ with Settings.ini and Files.kdl, pictures/ and .config/ with the
// registry file naming System/ as SystemPath.
class CompanionHome {
public:
    CompanionHome() : home(dir.path()), system(home + "/System/") {
        std::filesystem::create_directories(system);
        std::filesystem::create_directories(home + "/pictures");
        platform::IniRegistry(home + "/.config/kalidrome/registry.ini")
            .writeString(platform::kProgramKey, platform::kSystemPathValue, system);
    }

    // A solid picture in pictures/; its path.
    std::string picture(const std::string& name, Rgb colour, std::int32_t width, std::int32_t height) const {
        const std::string path = home + "/pictures/" + name;
        render::WriteBmpFile(path, SolidImage(width, height, colour));
        return path;
    }

    void writeList(const std::vector<std::string>& paths) const {
        WallpaperList list;
        for (const std::string& p : paths) list.AddEntry(p);
        WriteListFile(system + "Files.kdl", list, false, false);
    }

    void writeSettings(const std::string& optionsLines) const {
        WriteFile(system + "Settings.ini", "[Options]\n" + optionsLines);
    }

    // What a process needs to find all this.
    std::map<std::string, std::string> environment(const std::string& display) const {
        return {{"DISPLAY", display},
                {"HOME", home},
                {"XDG_CONFIG_HOME", home + "/.config"},
                {"XDG_DATA_HOME", home + "/.local/share"}};
    }

    TempDir dir;
    std::string home;
    std::string system;
};

// A client of the test's own on the X server.
class XClient {
public:
    explicit XClient(const std::string& display) : m_dpy(XOpenDisplay(display.c_str())) {
        // A window read after the program under test destroyed it is an answer, not a crash.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~XClient() {
        if (m_dpy) XCloseDisplay(m_dpy);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    Display* get() const { return m_dpy; }

    // The colour at (x, y) of the drawable, as the screen shows it; {-1, -1, -1} when it
    // cannot be read.
    Rgb pixel(Drawable d, int x, int y, bool* ok = nullptr) const {
        XImage* image = XGetImage(m_dpy, d, x, y, 1, 1, AllPlanes, ZPixmap);
        if (ok) *ok = image != nullptr;
        if (!image) return {};
        const unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return {static_cast<std::uint8_t>((p >> 16) & 0xFF), static_cast<std::uint8_t>((p >> 8) & 0xFF),
                static_cast<std::uint8_t>(p & 0xFF)};
    }

    Window root() const { return DefaultRootWindow(m_dpy); }

private:
    Display* m_dpy;
};

}  // namespace kalidrome::test
