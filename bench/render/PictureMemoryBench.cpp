// Peak memory of one wallpaper change, each case in a fresh process (its peak resident set
// from wait4), next to the pixels of the picture as the reference:
//
//   12200 x 12200 progressive JPEG   the size of the report: refused, as decoding it would
//                                    take some 900 MB (pixels and coefficients)
//   12200 x 12200 baseline JPEG      the largest accepted size, one pass
//   7000 x 7000 progressive JPEG     progressive, accepted
//   each again with three thumbnails of it made alongside (two at a time, as the program does)
//
// The goal: at most 512 MB for a change, under 1 GB with the thumbnails.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it needs FILE

#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "Thumbnail.h"
#include "Wallpaper.h"

using namespace kalidrome;

namespace {

// A picture with some detail (so that it does not compress to nothing), written a row at a
// time; a progressive encoder still holds the whole picture as coefficients meanwhile.
bool WriteJpeg(const std::string& path, int width, int height, bool progressive) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, out);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<JSAMPLE>((x * 7 + y) & 0xFF);
            row[3 * x + 1] = static_cast<JSAMPLE>((y * 5) & 0xFF);
            row[3 * x + 2] = static_cast<JSAMPLE>(((x ^ y) * 3) & 0xFF);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(out);
    return true;
}

// In the child: one change of the wallpaper, with thumbnails of the same picture alongside.
int Measure(const std::string& picture, const std::string& system, int thumbnails) {
    std::vector<std::thread> workers;
    // Two workers, as the program runs them.
    for (int w = 0; w < std::min(thumbnails, 2); ++w) {
        workers.emplace_back([&, w] {
            for (int i = w; i < thumbnails; i += 2) {
                try {
                    render::MakeThumbnailFromFile(picture);
                } catch (...) {
                }
            }
        });
    }
    platform::FakeDesktop desktop(platform::ScreenExtent{1920, 1080});
    platform::FakeRegistry registry;
    std::string failure;
    const bool changed = render::SetWallpaperFromFile(picture, system, {}, desktop, registry, &failure);
    for (auto& t : workers) t.join();
    return changed ? 0 : 3;
}

struct Outcome {
    double peakMb = 0;
    bool changed = false;
};

Outcome RunChild(const char* self, const std::string& picture, const std::string& system, int thumbnails) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string n = std::to_string(thumbnails);
        ::execl(self, self, "--measure", picture.c_str(), system.c_str(), n.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {static_cast<double>(usage.ru_maxrss) / 1024.0, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--measure") == 0) return Measure(argv[2], argv[3], std::atoi(argv[4]));

    char pattern[] = "/tmp/kalidrome-picture-bench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (!folder) return 1;
    const std::string system = std::string(folder) + "/System/";
    std::filesystem::create_directories(system);

    struct Case {
        const char* name;
        int side;
        bool progressive;
    };
    const Case cases[] = {{"12200^2 progressive", 12200, true},
                          {"12200^2 baseline", 12200, false},
                          {"7000^2 progressive", 7000, true}};
    std::printf("%-22s %10s %14s %14s %16s %14s\n", "picture", "pixels MB", "change MB", "shown", "+3 thumbs MB",
                "shown");
    bool met = true;
    for (const Case& c : cases) {
        const std::string picture = std::string(folder) + "/picture.jpg";
        if (!WriteJpeg(picture, c.side, c.side, c.progressive)) return 1;
        const double pixelsMb = static_cast<double>(c.side) * c.side * 3 / (1 << 20);
        const Outcome alone = RunChild(argv[0], picture, system, 0);
        const Outcome withThumbs = RunChild(argv[0], picture, system, 3);
        std::error_code ec;
        const double bmpMb = static_cast<double>(std::filesystem::file_size(system + "WallPaper.bmp", ec)) / (1 << 20);
        std::printf("%-22s %10.0f %14.0f %14s %16.0f %14s   WallPaper.bmp %.0f MB\n", c.name, pixelsMb, alone.peakMb,
                    alone.changed ? "yes" : "refused", withThumbs.peakMb, withThumbs.changed ? "yes" : "refused",
                    ec ? 0.0 : bmpMb);
        met = met && alone.peakMb <= 512 && withThumbs.peakMb < 1024;
        std::filesystem::remove(system + "WallPaper.bmp", ec);
        std::filesystem::remove(picture);
    }
    std::printf("goal (change <= 512 MB, with thumbnails < 1024 MB): %s\n", met ? "met" : "MISSED");
    std::filesystem::remove_all(folder);
    return 0;
}
