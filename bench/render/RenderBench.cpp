// Measures the rendering paths against the standard tools doing the same job, in one run,
// and prints medians and ratios:
//   1. ConvertPicture of a 24-megapixel JPEG    vs  djpeg -bmp            (target <= 0.65)
//      the same with "Greyscale" on               vs  with it off           (target <= 1.10)
//   2. thumbnails of 500 photos, two threads    vs  vipsthumbnail         (target >= 2.5x rate)
//   3. a whole wallpaper change on Xvfb         vs  feh --bg-scale        (target <= 0.7)
//   3b. a timed change with the picture ready ahead (in memory; drawn on the X server)
//       vs  converted at the tick (target <= 50 ms)
//   4. the same change drawn on two monitors    vs  one monitor
//   5. WallPaper.bmp of a 12000 x 9000 JPEG for a 1920 x 1080 screen, stretched and centred:
//      its size and the conversion's time       vs  the picture written whole
//   6. a picture per monitor on a landscape and a portrait monitor: two 24-megapixel pictures,
//      each for its monitor                     vs  one picture on both
// Usage: bench_render [runs (default 5)] [photos (default 500)] [parts, e.g. "15" (default all)]
#include "ImageConversion.h"
#include "IniRegistry.h"
#include "JpegCodec.h"
#include "Thumbnail.h"
#include "Wallpaper.h"
#include "X11RootDesktop.h"
#include "XvfbServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace kalidrome;
using Clock = std::chrono::steady_clock;

// Times one job. Both sides leave work behind (freeing a replaced 70 MB file, X server
// clean-up); a pause before each job keeps that from landing in the other side's time.
double Seconds(const std::function<void()>& job) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    job();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs a program with extra environment entries, output discarded; true when it exits 0.
// Waits in waitpid (test::Process polls every 20 ms, too coarse for timing).
bool Run(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStore(extraEnv);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HaveTool(const std::string& name) { return Run({"sh", "-c", "command -v " + name}); }

// A picture with the traits that make photos cost what they cost to code: smooth
// gradients, edges, and fine texture (noise) everywhere.
render::Image SyntheticPhoto(std::int32_t w, std::int32_t h, std::uint32_t seed) {
    render::Image image(w, h);
    std::uint32_t state = seed * 2654435761u + 1;
    const double cx = w * (0.3 + 0.4 * ((seed % 7) / 7.0)), cy = h * (0.4 + 0.2 * ((seed % 5) / 5.0));
    const double radius = std::min(w, h) * 0.3;
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint8_t* p = image.row(y);
        for (std::int32_t x = 0; x < w; ++x, p += 3) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = static_cast<int>(state & 15) - 8;
            const double dx = x - cx, dy = y - cy;
            const bool inside = dx * dx + dy * dy < radius * radius;
            int b = 40 + 150 * y / h + (inside ? 60 : 0);
            int g = 90 + 100 * x / w - (inside ? 40 : 0);
            int r = 200 - 120 * y / h + static_cast<int>(30 * std::sin(x * 0.01 + seed));
            p[0] = static_cast<std::uint8_t>(std::clamp(b + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(r + noise, 0, 255));
        }
    }
    return image;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int photos = argc > 2 ? std::max(1, std::atoi(argv[2])) : 500;
    const std::string parts = argc > 3 ? argv[3] : "123456";
    auto want = [&](char part) { return parts.find(part) != std::string::npos; };
    const std::string dir = std::filesystem::temp_directory_path() / ("kalidrome-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir + "/System");
    std::filesystem::create_directories(dir + "/photos");
    std::filesystem::create_directories(dir + "/thumbs");
    const std::string system = dir + "/System/";
    const std::string big = dir + "/big.jpg";

    std::printf("making a 6000 x 4000 test photo...\n");
    WriteBytes(big, render::EncodeJpeg(SyntheticPhoto(6000, 4000, 1), 90));
    std::printf("  %s: %.1f MB\n", big.c_str(), std::filesystem::file_size(big) / 1e6);

    // 1. Conversion.
    if (want('1')) {
        std::vector<double> ours, grey, theirs;
        bool djpegOk = true;
        for (int i = 0; i < runs; ++i) {
            ours.push_back(Seconds([&] { render::ConvertPicture(big, system, false, false); }));
            grey.push_back(Seconds([&] { render::ConvertPicture(big, system, true, false); }));
            theirs.push_back(Seconds([&] { djpegOk &= Run({"djpeg", "-bmp", "-outfile", dir + "/djpeg.bmp", big}); }));
        }
        std::printf("\n[convert 24 MP JPEG to BMP] median of %d\n", runs);
        std::printf("  ConvertPicture   %7.1f ms\n", Median(ours) * 1e3);
        if (djpegOk) {
            std::printf("  djpeg -bmp       %7.1f ms\n", Median(theirs) * 1e3);
            std::printf("  ratio            %7.2f   (target <= 0.65)\n", Median(ours) / Median(theirs));
        } else {
            std::printf("  djpeg failed or is missing (libjpeg-turbo-progs)\n");
        }
        std::printf("  with Greyscale   %7.1f ms\n", Median(grey) * 1e3);
        std::printf("  grey / colour    %7.2f   (target <= 1.10)\n", Median(grey) / Median(ours));
    }

    // 2. Thumbnails.
    if (want('2')) {
        std::printf("\nmaking %d test photos of 1600 x 1200...\n", photos);
        std::vector<std::string> files;
        for (int i = 0; i < photos; ++i) {
            const std::string path = dir + "/photos/p" + std::to_string(i) + ".jpg";
            if (i < 16) WriteBytes(path, render::EncodeJpeg(SyntheticPhoto(1600, 1200, static_cast<std::uint32_t>(i + 2)), 90));
            else std::filesystem::copy_file(dir + "/photos/p" + std::to_string(i % 16) + ".jpg", path);
            files.push_back(path);
        }
        std::vector<double> ours, theirs;
        bool vipsOk = HaveTool("vipsthumbnail");
        for (int run = 0; run < runs; ++run) {
            ours.push_back(Seconds([&] {
                std::atomic<std::size_t> next{0};
                auto worker = [&] {
                    for (std::size_t i; (i = next++) < files.size();) render::MakeThumbnailFromFile(files[i]);
                };
                std::thread second(worker);
                worker();
                second.join();
            }));
            if (vipsOk) {
                std::vector<std::string> args = {"vipsthumbnail", "-s", "85", "-o", dir + "/thumbs/%s.jpg[Q=90]"};
                args.insert(args.end(), files.begin(), files.end());
                theirs.push_back(Seconds([&] { vipsOk &= Run(args); }));
            }
        }
        const double ourRate = photos / Median(ours);
        std::printf("[thumbnails of %d photos, box 85] median of %d\n", photos, runs);
        std::printf("  MakeThumbnailFromFile, 2 threads  %7.0f pictures/s\n", ourRate);
        if (vipsOk) {
            const double theirRate = photos / Median(theirs);
            std::printf("  vipsthumbnail                     %7.0f pictures/s\n", theirRate);
            std::printf("  ratio                             %7.2f   (target >= 2.5)\n", ourRate / theirRate);
        } else {
            std::printf("  vipsthumbnail failed or is missing (libvips-tools)\n");
        }
    }

    // 3. A whole wallpaper change.
    if (want('3')) {
        test::XvfbServer xvfb(1920, 1080, 24);
        std::printf("\n[wallpaper change of the 24 MP JPEG on Xvfb 1920 x 1080] median of %d\n", runs);
        if (!xvfb.ok()) {
            std::printf("  skipped: %s\n", xvfb.reason().c_str());
        } else {
            platform::X11RootDesktop desktop(xvfb.display());
            platform::IniRegistry registry(dir + "/registry.ini");
            render::WallpaperOptions options;  // a 6000 x 4000 picture is stretched
            std::vector<double> ours, theirs;
            bool okOurs = true, fehOk = HaveTool("feh");
            for (int i = 0; i < runs; ++i) {
                ours.push_back(Seconds([&] { okOurs &= render::SetWallpaperFromFile(big, system, options, desktop, registry); }));
                if (fehOk)
                    theirs.push_back(Seconds([&] {
                        fehOk &= Run({"feh", "--bg-scale", "--no-fehbg", big}, {"DISPLAY=" + xvfb.display()});
                    }));
            }
            std::printf("  SetWallpaperFromFile  %7.1f ms%s%s\n", Median(ours) * 1e3, okOurs ? "" : "  (FAILED)",
                        desktop.lastUploadUsedSharedMemory() ? "  (MIT-SHM)" : "  (no MIT-SHM)");
            if (fehOk) {
                std::printf("  feh --bg-scale        %7.1f ms\n", Median(theirs) * 1e3);
                std::printf("  ratio                 %7.2f   (target <= 0.7)\n", Median(ours) / Median(theirs));
            } else {
                std::printf("  feh failed or is missing\n");
            }
        }
    }
    // 3b. A timed change: from the tick to the desktop. Today's path converts at the tick;
    // with the next picture made ready ahead (as WallpaperChanger does between ticks:
    // decoded, converted into WallPaper.next.bmp and cut to one screen-sized bitmap), the
    // tick only asks the desktop for its screen, renames the file and hands the pixels over;
    // drawn ahead on the X server as well (StageWallpaper), it only switches the root
    // window's background to the pixmap made ahead.
    {
        test::XvfbServer xvfb(1920, 1080, 24);
        std::printf("\n[timed change of the 24 MP JPEG on Xvfb 1920 x 1080, tick to desktop] median of %d\n", runs);
        if (!xvfb.ok()) {
            std::printf("  skipped: %s\n", xvfb.reason().c_str());
        } else {
            platform::X11RootDesktop desktop(xvfb.display());
            platform::IniRegistry registry(dir + "/registry.ini");
            render::WallpaperOptions options;
            std::vector<double> today, ahead, staged;
            bool ok = true, stagedShown = true;
            std::size_t heldBytes = 0;
            // What a change made ahead of its tick holds until then: prepared as the worker
            // does, drawn on the X server (a pixmap) too when stage is set.
            auto prepareAhead = [&](bool stage) {
                render::PreparedWallpaper prepared = render::PrepareWallpaper(
                    big, system, options, render::TraitsOf(desktop), system + "WallPaper.next.bmp");
                render::KeepScreenSizedOnly(prepared, render::TraitsOf(desktop));
                if (stage) render::StageWallpaper(prepared, desktop);
                return prepared;
            };
            for (int i = 0; i < runs; ++i) {
                today.push_back(Seconds([&] { ok &= render::SetWallpaperFromFile(big, system, options, desktop, registry); }));
                render::PreparedWallpaper inMemory = prepareAhead(false);
                heldBytes = std::size_t(inMemory.pixels.width()) * inMemory.pixels.height() * 3 +
                            std::size_t(inMemory.scaled.width()) * inMemory.scaled.height() * 3;
                ahead.push_back(Seconds([&] {
                    (void)render::TraitsOf(desktop);
                    ok &= render::ApplyPreparedWallpaper(inMemory, desktop, registry);
                }));
                render::PreparedWallpaper onServer = prepareAhead(true);
                stagedShown &= onServer.staged != nullptr && onServer.pixels.empty() && onServer.scaled.empty();
                staged.push_back(Seconds([&] {
                    (void)render::TraitsOf(desktop);
                    ok &= render::ApplyPreparedWallpaper(onServer, desktop, registry);
                }));
            }
            std::printf("  converted at the tick (today)       %7.1f ms%s\n", Median(today) * 1e3, ok ? "" : "  (FAILED)");
            std::printf("  made ready ahead, pixels in memory  %7.1f ms   ratio %.3f\n", Median(ahead) * 1e3,
                        Median(ahead) / Median(today));
            std::printf("  made ready ahead, drawn on X server %7.1f ms   ratio %.3f   (target <= 50 ms)%s\n",
                        Median(staged) * 1e3, Median(staged) / Median(today), stagedShown ? "" : "  (NOT STAGED)");
            std::printf("  held between ticks: in memory %.1f MB, or drawn ahead one %d x %d pixmap on the X server "
                        "(%.1f MB at 32 bits a pixel) and nothing in memory\n",
                        heldBytes / 1e6, 1920, 1080, 1920.0 * 1080 * 4 / 1e6);
        }
    }
    // 4. The same change with the picture drawn per monitor, against one monitor, turn about.
    if (want('4')) {
        struct Screen {
            const char* label;
            int width, height;
            std::vector<test::XvfbServer::Monitor> monitors;
        };
        const Screen screens[] = {
            {"one monitor 1920 x 1080", 1920, 1080, {}},
            {"two monitors 1920 x 1080", 3840, 1080, {{"L", 0, 0, 1920, 1080, true}, {"R", 1920, 0, 1920, 1080, false}}},
            {"1920 x 1080 + 1280 x 1024", 3200, 1080, {{"L", 0, 0, 1920, 1080, true}, {"R", 1920, 0, 1280, 1024, false}}},
        };
        std::printf("\n[wallpaper change of the 24 MP JPEG, per monitor] median of %d\n", runs);
        std::vector<std::unique_ptr<test::XvfbServer>> servers;
        bool ready = true;
        for (const Screen& s : screens) {
            servers.push_back(std::make_unique<test::XvfbServer>(s.width, s.height, 24));
            if (!servers.back()->ok() || (!s.monitors.empty() && !servers.back()->setMonitors(s.monitors))) {
                std::printf("  skipped: %s\n", servers.back()->reason().c_str());
                ready = false;
                break;
            }
        }
        if (ready) {
            platform::IniRegistry registry(dir + "/registry.ini");
            render::WallpaperOptions options;
            std::vector<std::vector<double>> times(std::size(screens));
            std::vector<bool> ok(std::size(screens), true);
            for (int i = 0; i < runs; ++i)
                for (std::size_t k = 0; k < std::size(screens); ++k) {
                    platform::X11RootDesktop desktop(servers[k]->display());
                    times[k].push_back(Seconds([&] { ok[k] = ok[k] && render::SetWallpaperFromFile(big, system, options, desktop, registry); }));
                }
            for (std::size_t k = 0; k < std::size(screens); ++k)
                std::printf("  %-26s %7.1f ms  ratio %5.2f%s\n", screens[k].label, Median(times[k]) * 1e3,
                            Median(times[k]) / Median(times[0]), ok[k] ? "" : "  (FAILED)");
        }
    }
    // 6. A picture per monitor against one picture on both, on the same two monitors.
    if (want('6')) {
        std::printf("\n[a picture per monitor: 1920 x 1080 landscape + 1080 x 1920 portrait, 24 MP JPEGs] median of %d\n",
                    runs);
        const std::string portrait = dir + "/portrait.jpg";
        WriteBytes(portrait, render::EncodeJpeg(SyntheticPhoto(4000, 6000, 2), 90));
        test::XvfbServer xvfb(3000, 1920, 24);
        if (!xvfb.ok() || !xvfb.setMonitors({{"L", 0, 0, 1920, 1080, true}, {"P", 1920, 0, 1080, 1920, false}})) {
            std::printf("  skipped: %s\n", xvfb.reason().c_str());
        } else {
            platform::IniRegistry registry(dir + "/registry.ini");
            render::WallpaperOptions options;
            std::vector<double> one, each;
            bool okOne = true, okEach = true;
            for (int i = 0; i < runs; ++i) {
                platform::X11RootDesktop desktop(xvfb.display());
                one.push_back(Seconds([&] { okOne = okOne && render::SetWallpaperFromFile(big, system, options, desktop, registry); }));
                each.push_back(Seconds([&] {
                    render::PreparedWallpaper prepared = render::PrepareMonitorWallpapers(
                        {big, portrait}, desktop.monitors(), system, options, render::TraitsOf(desktop));
                    okEach = okEach && render::ApplyPreparedWallpaper(prepared, desktop, registry);
                }));
            }
            std::printf("  one picture on both     %7.1f ms%s\n", Median(one) * 1e3, okOne ? "" : "  (FAILED)");
            std::printf("  a picture per monitor   %7.1f ms%s\n", Median(each) * 1e3, okEach ? "" : "  (FAILED)");
            std::printf("  ratio                   %7.2f\n", Median(each) / Median(one));
        }
    }
    // 5. WallPaper.bmp no larger than the screen shows, against the picture written whole.
    if (want('5')) {
        const std::string huge = dir + "/huge.jpg";
        std::printf("\nmaking a 12000 x 9000 test photo...\n");
        WriteBytes(huge, render::EncodeJpeg(SyntheticPhoto(12000, 9000, 2), 85));
        const render::PixelSize screen{1920, 1080};
        const std::string wallpaper = system + "WallPaper.bmp";
        std::printf("[WallPaper.bmp of a 12000 x 9000 JPEG for a 1920 x 1080 screen] median of %d\n", runs);
        for (const platform::Placement placement : {platform::Placement::Stretched, platform::Placement::Centred}) {
            const render::BitmapRequest fit = [&](std::int32_t w, std::int32_t h) {
                return render::BitmapExtentFor(w, h, placement, screen);
            };
            std::vector<double> fitted, whole;
            std::uintmax_t fittedBytes = 0, wholeBytes = 0;
            for (int i = 0; i < runs; ++i) {
                whole.push_back(Seconds([&] { render::ConvertPicture(huge, system, false, false); }));
                wholeBytes = std::filesystem::file_size(wallpaper);
                fitted.push_back(Seconds([&] { render::ConvertPicture(huge, system, false, false, {}, fit); }));
                fittedBytes = std::filesystem::file_size(wallpaper);
            }
            std::printf("  %-9s  whole %7.1f MB %7.1f ms   fitted %6.1f MB %7.1f ms   time ratio %5.2f\n",
                        placement == platform::Placement::Stretched ? "stretched" : "centred", wholeBytes / 1e6,
                        Median(whole) * 1e3, fittedBytes / 1e6, Median(fitted) * 1e3, Median(fitted) / Median(whole));
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
