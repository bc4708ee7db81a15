#pragma once

// A scratch folder for fuzz targets that read files by path: made once per process (in
// memory when /dev/shm is there), removed at exit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace kalidrome::fuzz {

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
        pattern += "/kalidrome-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        static const std::string removeAtExit = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(removeAtExit, ec);
        });
        return pattern;
    }();
    return folder;
}

inline void WriteScratchFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

}  // namespace kalidrome::fuzz
