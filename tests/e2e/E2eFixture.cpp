// Makes the pictures and the list file that scripts/desktop-e2e.sh hands the real program:
//   e2e_fixture picture PATH WIDTH HEIGHT RRGGBB   a BMP of one solid colour
//   e2e_fixture list PATH PICTURE...               a .kdl list file of the pictures, in order
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "BmpCodec.h"
#include "Image.h"
#include "ListFile.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: e2e_fixture picture PATH WIDTH HEIGHT RRGGBB\n"
                 "       e2e_fixture list PATH PICTURE...\n");
    return 2;
}

void WriteSolidPicture(const std::string& path, std::int32_t width, std::int32_t height, unsigned long rgb) {
    kalidrome::render::Image image(width, height);
    for (std::int32_t y = 0; y < image.height(); ++y)
        for (std::int32_t x = 0; x < image.width(); ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(rgb & 0xFF);
            p[1] = static_cast<std::uint8_t>((rgb >> 8) & 0xFF);
            p[2] = static_cast<std::uint8_t>((rgb >> 16) & 0xFF);
        }
    kalidrome::render::WriteBmpFile(path, image);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    try {
        if (command == "picture" && argc == 6) {
            const long width = std::strtol(argv[3], nullptr, 10);
            const long height = std::strtol(argv[4], nullptr, 10);
            if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return Usage();
            WriteSolidPicture(argv[2], static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                              std::strtoul(argv[5], nullptr, 16));
            return 0;
        }
        if (command == "list" && argc >= 4) {
            kalidrome::WallpaperList list;
            std::string current;
            list.AddFiles(std::vector<std::string>(argv + 3, argv + argc), current);
            kalidrome::WriteListFile(argv[2], list, false, false);
            return 0;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e_fixture: %s\n", error.what());
        return 1;
    }
    return Usage();
}
