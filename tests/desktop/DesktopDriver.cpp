// desktop_driver: sets a bitmap as the wallpaper of this session's desktop, the way the
// program does, and reports what happened and how long each change took. For the end-to-end
// runs against real desktops (scripts/desktop-e2e.sh) and for timing a change by hand.
//
//   desktop_driver BITMAP stretch|center [CHANGES]
//
// The desktop is the one detection finds (KALIDROME_DESKTOP forces a kind). Prints
// "desktop NAME", "screen WxH" (or "screen unknown: REASON"), one "change N: MS ms" per
// change, then "ok" (exit 0) or "error: REASON" (exit 1).
#include "Desktop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    using namespace kalidrome::platform;
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s BITMAP stretch|center [CHANGES]\n", argv[0]);
        return 2;
    }
    const std::string bitmap = argv[1];
    const std::string mode = argv[2];
    if (mode != "stretch" && mode != "center") {
        std::fprintf(stderr, "placement must be stretch or center\n");
        return 2;
    }
    const int changes = argc == 4 ? std::atoi(argv[3]) : 1;
    if (changes < 1 || changes > 10000) {
        std::fprintf(stderr, "CHANGES must be 1 to 10000\n");
        return 2;
    }
    try {
        const auto desktop = CreateDesktop();
        std::printf("desktop %s\n", desktop->name().c_str());
        try {
            const ScreenExtent screen = desktop->primaryScreenSize();
            std::printf("screen %dx%d\n", screen.width, screen.height);
        } catch (const DesktopError& e) {
            // The change itself may still work; the program would fall back on its default.
            std::printf("screen unknown: %s\n", e.what());
        }
        const Placement placement = mode == "stretch" ? Placement::Stretched : Placement::Centred;
        for (int i = 1; i <= changes; ++i) {
            const auto start = std::chrono::steady_clock::now();
            desktop->setWallpaper(bitmap, placement, {});
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            std::printf("change %d: %.1f ms\n", i, took.count());
            std::fflush(stdout);
        }
        std::printf("ok\n");
        return 0;
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
}
