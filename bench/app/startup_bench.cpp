// Start-up, memory and scrolling with a list of 100 000 pictures that carry stored
// thumbnails of about 3 KB.
//
//  1. Whole process (Qt offscreen platform): from exec to an idle tray icon (the event loop
//     runs), then from a hand-off request to the first paint of the shown list; against
//     the same program with an empty list, measured in the same run.
//  2. Resident memory of the started program (VmRSS and VmHWM of /proc/PID/status) with
//     0, 10 000 and the full count of entries: at the idle tray icon, after the first paint
//     of the shown list, and its peak by then.
//  3. In process: paint the list page by page at 1000 places spread over the list, with
//     thumbnails shown; against the same with file names only.
//  4. With --idle SECONDS: the CPU time the started program uses while it sits idle.
//
// Usage: bench_startup [--entries N] [--runs N] [--idle SECONDS]
#include <QApplication>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Autostart.h"
#include "BenchProcess.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "Image.h"
#include "InstanceChannel.h"
#include "ListFile.h"
#include "LocalClock.h"
#include "MainWindow.h"
#include "Thumbnail.h"
#include "WallpaperListView.h"


namespace {

using Clock = std::chrono::steady_clock;
using kalidrome::JpegImage;
using kalidrome::WallpaperList;
using kalidrome::bench::Median;
using kalidrome::bench::ReadAll;
using kalidrome::bench::Spawn;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void WriteAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A thumbnail-sized noisy picture, encoded as the program stores thumbnails (about 3 KB).
JpegImage SampleThumbnail() {
    kalidrome::render::Image image(85, 64);
    std::mt19937 random(7);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < 3 * image.width(); ++x)
            image.row(y)[x] = static_cast<std::uint8_t>((x * 3 + y * 5) % 256 / 2 + random() % 64);
    return JpegImage{kalidrome::render::EncodeThumbnail(image), image.width(), image.height()};
}

void WriteList(const std::string& path, int entries, bool thumbnails) {
    WallpaperList list;
    std::vector<std::string> paths;
    for (int i = 0; i < entries; ++i) paths.push_back("/home/user/Pictures/2026/holiday-" + std::to_string(i) + ".jpg");
    std::string current;
    list.AddFiles(std::move(paths), current);
    if (thumbnails) {
        const JpegImage sample = SampleThumbnail();
        for (std::size_t i = 0; i < list.count(); ++i) {
            list.SetThumbnail(list.at(i).id(), sample);
            WallpaperList::LayOutRow(list.at(i), true);
        }
    }
    kalidrome::WriteListFile(path, list, thumbnails, thumbnails);
}

bool WaitForLine(const std::string& file, const std::string& line, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (ReadAll(file).find(line + "\n") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

double CpuSeconds(pid_t pid) {
    std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    std::string field;
    for (char c : stat.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return (std::stod(fields.at(11)) + std::stod(fields.at(12))) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "VmRSS:" or "VmHWM:" line of /proc/PID/status, in megabytes; -1 when it is not there.
double StatusMegabytes(pid_t pid, const std::string& key) {
    const std::string status = ReadAll("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("\n" + key + ":");
    if (at == std::string::npos) return -1;
    return std::strtod(status.c_str() + at + key.size() + 2, nullptr) / 1024.0;
}

struct ProcessTimes {
    double toTray = 0;
    double toFirstPaint = 0;
    double residentAtTray = 0;   // MB
    double residentAtPaint = 0;  // MB
    double peak = 0;             // MB, the high-water mark after the first paint
};

// One start of the program in its own folder: exec to "running", then show it and wait
// for the list's first paint. Leaves the process running when keep is given.
ProcessTimes StartOnce(const std::string& folder, pid_t* keep = nullptr) {
    const std::string trace = folder + "/trace";
    std::filesystem::remove(trace);
    std::filesystem::remove(folder + "/System/Startup.ini");
    // The bench process and the program must agree on where the hand-off socket lives.
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", std::string("XDG_RUNTIME_DIR=") + getenv("XDG_RUNTIME_DIR"),
                                    "XDG_CONFIG_HOME=" + folder + "/config", "KALIDROME_TRACE=" + trace,
                                    "KALIDROME_NONINTERACTIVE=1"};
    ProcessTimes t;
    auto start = Clock::now();
    pid_t pid = Spawn(folder + "/kalidrome", env);
    if (!WaitForLine(trace, "running", 60000)) std::fprintf(stderr, "no start in %s\n", folder.c_str());
    t.toTray = Ms(Clock::now() - start);
    t.residentAtTray = StatusMegabytes(pid, "VmRSS");
    auto show = Clock::now();
    kalidrome::platform::SendInstanceRequest(kalidrome::platform::InstanceEndpoint(folder + "/System/", pid),
                                             kalidrome::platform::kRequestShow);
    if (!WaitForLine(trace, "first paint", 60000)) std::fprintf(stderr, "no paint in %s\n", folder.c_str());
    t.toFirstPaint = Ms(Clock::now() - show);
    t.residentAtPaint = StatusMegabytes(pid, "VmRSS");
    t.peak = StatusMegabytes(pid, "VmHWM");
    if (keep) {
        *keep = pid;
    } else {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return t;
}

std::string MakeFolder(const std::string& base, const std::string& name, int entries, bool thumbnails,
                       const std::string& exe) {
    const std::string folder = base + "/" + name;
    std::filesystem::create_directories(folder + "/System");
    std::filesystem::copy_file(exe, folder + "/kalidrome");
    WriteList(folder + "/System/Files.kdl", entries, thumbnails);
    WriteAll(folder + "/System/Settings.ini", "[Options]\nDisableCycling=1\nShowImages=1\nSaveImage=1\nList=" +
                                                  folder + "/System/Files.kdl\n");
    return folder;
}

// Paints the list at `places` scroll positions spread over it; returns milliseconds.
double ScrollThrough(const std::string& folder, bool showImages, int places) {
    kalidrome::platform::SystemTickSource ticks;
    kalidrome::platform::FakeDesktop desktop;
    kalidrome::platform::FakeRegistry registry;
    kalidrome::platform::XdgAutostart autostart(folder + "/autostart.desktop");
    kalidrome::SystemLocalClock localClock;
    WriteAll(folder + "/System/Settings.ini", std::string("[Options]\nDisableCycling=1\nShowImages=") +
                                                  (showImages ? "1" : "0") + "\nList=" + folder +
                                                  "/System/Files.kdl\n");
    kalidrome::MainWindow window(kalidrome::StartContext{folder + "/System/", "", &ticks, &desktop, &registry,
                                                        &autostart, &localClock});
    window.resize(290, 800);
    window.showMainWindow();
    QApplication::processEvents();
    QScrollBar* bar = window.listView().verticalScrollBar();
    auto start = Clock::now();
    for (int i = 0; i < places; ++i) {
        bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * i / places));
        window.listView().viewport()->repaint();
    }
    return Ms(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    int entries = 100000, runs = 5, idleSeconds = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--entries") entries = std::atoi(argv[i + 1]);
        else if (a == "--runs") runs = std::atoi(argv[i + 1]);
        else if (a == "--idle") idleSeconds = std::atoi(argv[i + 1]);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char tmpl[] = "/tmp/kalidrome-startup-XXXXXX";
    const std::string base = mkdtemp(tmpl);
    ::setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
    const std::string exe = std::string(KALIDROME_BIN_DIR) + "/kalidrome";
    const std::string big = MakeFolder(base, "big", entries, true, exe);
    const std::string empty = MakeFolder(base, "empty", 0, false, exe);
    const int middleEntries = std::min(entries, 10000);
    const std::string middle = MakeFolder(base, "middle", middleEntries, true, exe);
    std::printf("list: %d entries with stored thumbnails, %.1f MB\n", entries,
                static_cast<double>(std::filesystem::file_size(big + "/System/Files.kdl")) / 1e6);

    struct Series {
        const char* name;
        int entries;
        const std::string* folder;
        std::vector<double> tray, paint, residentAtTray, residentAtPaint, peak;
    };
    std::vector<Series> series = {{"empty", 0, &empty, {}, {}, {}, {}, {}},
                                  {"middle", middleEntries, &middle, {}, {}, {}, {}, {}},
                                  {"big", entries, &big, {}, {}, {}, {}, {}}};
    for (int r = 0; r < runs; ++r) {
        for (Series& s : series) {
            const ProcessTimes t = StartOnce(*s.folder);
            s.tray.push_back(t.toTray);
            s.paint.push_back(t.toFirstPaint);
            s.residentAtTray.push_back(t.residentAtTray);
            s.residentAtPaint.push_back(t.residentAtPaint);
            s.peak.push_back(t.peak);
        }
    }
    const Series& e = series.front();
    const Series& b = series.back();
    std::printf("exec to idle tray icon:   %8.1f ms (reference, empty list: %.1f ms, ratio %.2f)\n",
                Median(b.tray), Median(e.tray), Median(b.tray) / Median(e.tray));
    std::printf("show to first list paint: %8.1f ms (reference, empty list: %.1f ms, ratio %.2f)\n",
                Median(b.paint), Median(e.paint), Median(b.paint) / Median(e.paint));
    std::printf("resident memory, MB (medians), thumbnails of %zu bytes:  at tray icon   after first paint   peak   "
                "peak vs empty\n",
                SampleThumbnail().Bytes.size());
    for (const Series& s : series)
        std::printf("  %7d entries %43.1f %19.1f %7.1f %10.2f\n", s.entries, Median(s.residentAtTray),
                    Median(s.residentAtPaint), Median(s.peak), Median(s.peak) / Median(e.peak));

    {
        QApplication app(argc, argv);
        const int places = 1000;
        double images = ScrollThrough(big, true, places);
        double names = ScrollThrough(big, false, places);
        std::printf("scrolling, %d pages spread over the list: %.1f ms with thumbnails (%.2f ms a page); "
                    "reference, file names only: %.1f ms; ratio %.2f\n",
                    places, images, images / places, names, images / names);
    }

    if (idleSeconds > 0) {
        pid_t pid = -1;
        StartOnce(big, &pid);
        // Hide it again, as it sits in the tray most of the time; then let it settle.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        double before = CpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        double after = CpuSeconds(pid);
        std::printf("idle for %d s with the list loaded: %.3f s CPU (%.3f%% of one core)\n", idleSeconds,
                    after - before, 100.0 * (after - before) / idleSeconds);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    std::filesystem::remove_all(base);
    return 0;
}
