// Measures a whole wallpaper change (SetWallpaperFromFile of a 1920 x 1080 JPEG: conversion,
// placement, hand-over, read-back) on each desktop that runs headless here, side by side in
// one run, and prints medians and ratios:
//   - the bare X root window on Xvfb (the reference of the ratios);
//   - GNOME through gsettings on the keyfile backend, beside one `gsettings set` alone;
//   - XFCE through xfconfd on a private session bus (one monitor, four workspaces), beside
//     one `xfconf-query -s` alone.
// Usage: bench_desktop [runs (default 9)]
#include "FakeRegistry.h"
#include "GSettingsDesktop.h"
#include "Image.h"
#include "JpegCodec.h"
#include "Process.h"
#include "RunCommand.h"
#include "TempDir.h"
#include "Wallpaper.h"
#include "X11RootDesktop.h"
#include "XfceDesktop.h"
#include "XvfbServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kalidrome;
using Clock = std::chrono::steady_clock;

double Milliseconds(const std::function<bool()>& job, bool& ok) {
    const auto start = Clock::now();
    ok &= job();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs a command with extra environment entries, prepended to each run.
class WithEnvironment final : public platform::CommandRunner {
public:
    explicit WithEnvironment(std::vector<std::string> env) : m_env(std::move(env)) {}
    platform::CommandResult run(const platform::Command& c) override { return platform::SystemCommandRunner().run(add(c)); }
    int startDetached(const platform::Command& c) override { return platform::SystemCommandRunner().startDetached(add(c)); }
    void stop(int pid) override { platform::SystemCommandRunner().stop(pid); }

private:
    platform::Command add(platform::Command c) const {
        c.environment.insert(c.environment.begin(), m_env.begin(), m_env.end());
        return c;
    }
    std::vector<std::string> m_env;
};

render::Image Gradient(std::int32_t w, std::int32_t h) {
    render::Image image(w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 255 / w);
            p[1] = static_cast<std::uint8_t>(y * 255 / h);
            p[2] = static_cast<std::uint8_t>((x + y) & 255);
        }
    return image;
}

struct Row {
    std::string label;
    double ms = 0;
    bool ok = true;
};

void Print(const std::vector<Row>& rows, double reference) {
    for (const Row& r : rows) {
        std::printf("  %-44s %8.1f ms", r.label.c_str(), r.ms);
        if (reference > 0) std::printf("   x%5.2f of the root window", r.ms / reference);
        std::printf("%s\n", r.ok ? "" : "   (FAILED)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    test::TempDir dir;
    const std::string system = dir.path() + "/System/";
    std::filesystem::create_directories(system);
    const std::string picture = dir.file("photo.jpg");
    {
        const std::vector<std::uint8_t> jpeg = render::EncodeJpeg(Gradient(1920, 1080), 90);
        std::ofstream(picture, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()),
                                                       static_cast<std::streamsize>(jpeg.size()));
    }
    render::WallpaperOptions options;  // 1920 x 1080 on a 1920 x 1080 screen: stretched
    platform::FakeRegistry registry;
    std::printf("[a whole change of a 1920 x 1080 JPEG, screen 1920 x 1080] median of %d\n", runs);
    std::vector<Row> rows;

    auto measure = [&](const std::string& label, const std::function<bool()>& job) {
        Row row{label, 0, true};
        std::vector<double> times;
        job();  // warm-up: first runs start daemons and create settings files
        for (int i = 0; i < runs; ++i) times.push_back(Milliseconds(job, row.ok));
        row.ms = Median(times);
        rows.push_back(row);
    };

    // The bare X root window: the reference.
    test::XvfbServer xvfb(1920, 1080, 24);
    double reference = 0;
    if (!xvfb.ok()) {
        std::printf("  root window skipped: %s\n", xvfb.reason().c_str());
    } else {
        platform::X11RootDesktop root(xvfb.display());
        measure("x11-root: SetWallpaperFromFile",
                [&] { return render::SetWallpaperFromFile(picture, system, options, root, registry); });
        reference = rows.back().ms;
    }
    auto screen = [] { return platform::ScreenExtent{1920, 1080}; };

    // GNOME on the keyfile backend.
    {
        const std::string config = dir.file("gsettings-config");
        std::filesystem::create_directories(config);
        WithEnvironment runner({"GSETTINGS_BACKEND=keyfile", "XDG_CONFIG_HOME=" + config});
        platform::GSettingsDesktop gnome(runner, platform::DesktopKind::Gnome, screen);
        if (!gnome.schemaInstalled()) {
            std::printf("  GNOME skipped: org.gnome.desktop.background not installed\n");
        } else {
            std::string reason;
            measure("gnome (keyfile): SetWallpaperFromFile", [&] {
                return render::SetWallpaperFromFile(picture, system, options, gnome, registry, &reason);
            });
            if (!reason.empty()) std::printf("  gnome: %s\n", reason.c_str());
            const platform::Command one{{"gsettings", "set", "org.gnome.desktop.background", "picture-uri",
                                         "'file://" + system + "WallPaper.bmp'"},
                                        std::chrono::seconds(10),
                                        {}};
            measure("  one `gsettings set picture-uri` alone", [&] { return runner.run(one).succeeded(); });
        }
    }

    // XFCE: xfconfd activated on a private session bus.
    if (!std::filesystem::exists("/usr/bin/xfconf-query")) {
        std::printf("  XFCE skipped: xfconf-query not installed\n");
    } else {
        const std::string config = dir.file("xfconf-config");
        std::filesystem::create_directories(config);
        test::Process bus("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address=1"},
                          {{"XDG_CONFIG_HOME", config}}, dir.file("bus.txt"));
        std::string address;
        test::WaitFor(
            [&] {
                std::ifstream in(dir.file("bus.txt"));
                return static_cast<bool>(std::getline(in, address)) && !address.empty();
            },
            10000);
        if (address.empty()) {
            std::printf("  XFCE skipped: no session bus\n");
        } else {
            WithEnvironment runner({"DBUS_SESSION_BUS_ADDRESS=" + address, "XDG_CONFIG_HOME=" + config});
            runner.run({{"xfconf-query", "-c", "xfwm4", "-p", "/general/workspace_count", "-n", "-t", "int", "-s", "4"},
                        std::chrono::seconds(10),
                        {}});
            platform::XfceDesktop xfce(runner, [] { return std::vector<std::string>{"screen"}; }, screen);
            std::string reason;
            measure("xfce (xfconfd, 4 workspaces): SetWallpaperFromFile", [&] {
                return render::SetWallpaperFromFile(picture, system, options, xfce, registry, &reason);
            });
            if (!reason.empty()) std::printf("  xfce: %s\n", reason.c_str());
            const platform::Command one{{"xfconf-query", "-c", "xfce4-desktop", "-p",
                                         "/backdrop/screen0/monitorscreen/workspace0/last-image", "-s",
                                         system + "WallPaper.bmp"},
                                        std::chrono::seconds(10),
                                        {}};
            measure("  one `xfconf-query -s last-image` alone", [&] { return runner.run(one).succeeded(); });
        }
    }
    Print(rows, reference);
    return 0;
}
