// List benchmark: bulk list operations, list files and the folder scan of the folder
// browser, each next to a reference measured in the same run. Prints medians.
//
//   AddFiles        100 000 new paths into a list of 100 000   vs   plain appends of them
//   Delete selected 50 000 of 100 000                           vs   Cl&ear All of 100 000
//   Write list      100 000 entries, 3 KB thumbnails            vs   write()+fsync of as many bytes
//   Read list       the same file                               vs   read() of the whole file
//   Made thumbnails heap of 100 000 waiting for a save (spill file) vs the same kept in memory
//   First save    100 000 thumbnails made in random order       vs   made in list order
//   Scan            4 masks over a tree of 20 000 files          vs   find DIR ( -iname ... -o ... )
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it needs FILE

#include "FindImages.h"
#include "ListFile.h"
#include "WallpaperList.h"

extern char** environ;

using namespace kalidrome;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kEntries = 100000;
constexpr int kRuns = 5;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs prepare (untimed) and then body (timed) `runs` times; returns the median seconds.
double Median(int runs, const std::function<void()>& prepare, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        auto start = Clock::now();
        body();
        times.push_back(Seconds(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Report(const char* what, double seconds, const char* reference, double refSeconds) {
    std::printf("%-34s %9.2f ms   %-38s %9.2f ms   ratio %.2f\n", what, seconds * 1e3, reference,
                refSeconds * 1e3, seconds / refSeconds);
}

std::vector<std::string> MakePaths(const char* prefix, std::size_t n) {
    std::vector<std::string> paths;
    paths.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        paths.push_back(std::string(prefix) + "/folder" + std::to_string(i % 500) + "/picture" + std::to_string(i) +
                        ".jpg");
    return paths;
}

// A baseline JPEG of noise, encoded until it is about `target` bytes.
std::vector<std::uint8_t> NoiseJpeg(std::size_t target) {
    std::mt19937 rng(7);
    for (int side = 16;; side += 2) {
        std::vector<unsigned char> pixels(static_cast<std::size_t>(side * side * 3));
        for (auto& p : pixels) p = static_cast<unsigned char>(rng() & 0x3F);
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = static_cast<JDIMENSION>(side);
        cinfo.image_height = static_cast<JDIMENSION>(side);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 90, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = pixels.data() + cinfo.next_scanline * static_cast<unsigned>(side) * 3;
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::vector<std::uint8_t> bytes(out, out + size);
        std::free(out);
        if (bytes.size() >= target) return bytes;
    }
}

// Bytes the allocator has handed out, large blocks included.
std::size_t HeapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

void WriteRaw(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::fsync(fd);
    ::close(fd);
}

std::size_t ReadRaw(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    ::fstat(fd, &st);
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done;
}

// 20 folders of 10 sub-folders of 100 files: 20 000 files, a third of them no picture.
void MakeTree(const std::string& root) {
    const char* extensions[] = {".jpg", ".JPG", ".jpeg", ".png", ".bmp", ".txt", ".gif", ".Png", ".xml"};
    int n = 0;
    for (int a = 0; a < 20; ++a) {
        std::string top = root + "/top" + std::to_string(a);
        ::mkdir(top.c_str(), 0755);
        for (int b = 0; b < 10; ++b) {
            std::string sub = top + "/sub" + std::to_string(b);
            ::mkdir(sub.c_str(), 0755);
            for (int c = 0; c < 100; ++c, ++n) {
                std::string file = sub + "/file" + std::to_string(n) + extensions[n % 9];
                ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
            }
        }
    }
}

void RunFind(const std::string& root) {
    std::vector<std::string> args = {"find", root, "(", "-iname", "*.jpg", "-o", "-iname", "*.jpeg", "-o",
                                     "-iname", "*.bmp", "-o", "-iname", "*.png", ")"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

int main() {
    const std::string tmp = std::filesystem::temp_directory_path().string() + "/kalidrome-list-bench-" +
                            std::to_string(::getpid());
    std::filesystem::create_directories(tmp);
    std::printf("List benchmark, %zu entries, medians of %d runs (scan: 9 runs)\n\n", kEntries, kRuns);

    // AddFiles
    {
        const auto listed = MakePaths("/old", kEntries);
        const auto added = MakePaths("/new", kEntries);
        std::unique_ptr<WallpaperList> list;
        std::string current;
        auto fill = [&] {
            list = std::make_unique<WallpaperList>();
            std::string none;
            list->AddFiles(listed, none);
        };
        double addFiles = Median(kRuns, fill, [&] { list->AddFiles(added, current); });
        double appends = Median(kRuns, fill, [&] {
            list->BeginUpdate();
            for (const auto& p : added) list->AddEntry(p);
            list->EndUpdate();
        });
        Report("AddFiles 100k new into 100k", addFiles, "AddEntry of the same 100k", appends);

        double removeHalf = Median(
            kRuns,
            [&] {
                fill();
                for (std::size_t i = 0; i < list->count(); i += 2) list->at(i).setSelected(true);
            },
            [&] { list->RemoveSelected(); });
        double clearAll = Median(kRuns, fill, [&] { list->Clear(); });
        Report("Delete selected 50k of 100k", removeHalf, "Clear All of 100k", clearAll);
        double nonExisting = Median(kRuns, fill, [&] { list->RemoveNonExisting(); });
        std::printf("%-34s %9.2f ms   (100k stat calls, all missing)\n", "Clear non existing 100k",
                    nonExisting * 1e3);
    }

    // List file
    {
        const auto thumbnail = NoiseJpeg(3000);
        const std::string path = tmp + "/Files.kdl";
        WallpaperList list;
        list.setThumbnailFolder(tmp + "/spill");
        std::string current;
        list.AddFiles(MakePaths("/pictures", kEntries), current);
        JpegImage image{thumbnail, 0, 0};
        for (std::size_t i = 0; i < list.count(); ++i) list.SetThumbnail(list.at(i).id(), image);
        double write = Median(kRuns, [] {}, [&] { WriteListFile(path, list, true, true); });
        const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
        const std::string raw(size, 'x');
        double rawWrite = Median(kRuns, [] {}, [&] { WriteRaw(tmp + "/raw", raw); });
        std::printf("list file: %zu bytes, thumbnails of %zu bytes\n", size, thumbnail.size());
        Report("WriteListFile 100k, 3 KB thumbs", write, "write()+fsync of as many bytes", rawWrite);

        std::unique_ptr<WallpaperList> back;
        double read = Median(
            kRuns, [&] { back = std::make_unique<WallpaperList>(); },
            [&] {
                bool saveImage = false;
                ReadListFile(path, *back, saveImage);
            });
        if (back->count() != kEntries || !back->at(kEntries - 1).Thumbnail) std::printf("READ BACK WRONG\n");
        double rawRead = Median(kRuns, [] {}, [&] { ReadRaw(path); });
        Report("ReadListFile 100k, 3 KB thumbs", read, "read() of the whole file", rawRead);

        // What an entry costs in memory once read: the record, its strings and the list's
        // indexes, with and without stored thumbnails.
        back.reset();
        ::malloc_trim(0);
        std::size_t before = HeapInUse();
        back = std::make_unique<WallpaperList>();
        bool saveImage = false;
        ReadListFile(path, *back, saveImage);
        const double withThumbs = static_cast<double>(HeapInUse() - before) / kEntries;
        back.reset();
        ::malloc_trim(0);
        before = HeapInUse();
        back = std::make_unique<WallpaperList>();
        std::string none;
        back->AddFiles(MakePaths("/pictures", kEntries), none);
        const double plain = static_cast<double>(HeapInUse() - before) / kEntries;
        std::printf("entry record %zu bytes; heap an entry: %.0f bytes read with a 3 KB thumbnail, "
                    "%.0f bytes added without\n",
                    sizeof(TListItemInfo), withThumbs, plain);

        // Thumbnails made in this run, waiting for a save: in the spill file, against the
        // same kept in memory (the spill's folder blocked by a file).
        auto madeHeap = [&](const std::string& folder) {
            back.reset();
            ::malloc_trim(0);
            const std::size_t start = HeapInUse();
            back = std::make_unique<WallpaperList>();
            back->setThumbnailFolder(folder);
            std::string noCurrent;
            back->AddFiles(MakePaths("/pictures", kEntries), noCurrent);
            for (std::size_t i = 0; i < back->count(); ++i) back->SetThumbnail(back->at(i).id(), image);
            return static_cast<double>(HeapInUse() - start) / kEntries;
        };
        const double spilled = madeHeap(tmp + "/spill");
        if (std::FILE* blocker = std::fopen((tmp + "/blocked").c_str(), "w")) std::fclose(blocker);
        const double kept = madeHeap(tmp + "/blocked");
        std::printf("%-34s %9.0f B    %-38s %9.0f B    ratio %.2f\n", "heap an entry, made 3 KB thumbnail", spilled,
                    "the same, thumbnail kept in memory", kept, spilled / kept);

        // The first save after the thumbnails were made reads them from the spill file, in
        // the order of the list, whatever order they were made in.
        std::vector<std::size_t> order(kEntries);
        for (std::size_t i = 0; i < kEntries; ++i) order[i] = i;
        auto makeIn = [&](bool shuffled) {
            back = std::make_unique<WallpaperList>();
            back->setThumbnailFolder(tmp + "/spill");
            std::string noCurrent;
            back->AddFiles(MakePaths("/pictures", kEntries), noCurrent);
            if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(7));
            else std::sort(order.begin(), order.end());
            for (const std::size_t i : order) back->SetThumbnail(back->at(i).id(), image);
        };
        const double randomMade = Median(kRuns, [&] { makeIn(true); }, [&] { WriteListFile(path, *back, true, true); });
        const double listMade = Median(kRuns, [&] { makeIn(false); }, [&] { WriteListFile(path, *back, true, true); });
        Report("First save, made in random order", randomMade, "the same, made in list order", listMade);
    }

    // Scan
    {
        const std::string root = tmp + "/tree";
        ::mkdir(root.c_str(), 0755);
        MakeTree(root);
        const std::vector<std::string> masks = {"*.jpg", "*.jpeg", "*.bmp", "*.png"};
        std::size_t found = 0;
        double scan = Median(9, [] {}, [&] { found = FindImagesMulti(root, masks, true).size(); });
        double find = Median(9, [] {}, [&] { RunFind(root); });
        std::printf("tree: 20000 files in 220 folders, %zu match\n", found);
        Report("FindImagesMulti, 4 masks", scan, "find -iname x4 (process included)", find);
        double single = Median(9, [] {}, [&] {
            for (const auto& m : masks) FindImages(root, m, true);
        });
        Report("FindImages once per mask", single, "FindImagesMulti", scan);
    }

    std::filesystem::remove_all(tmp);
    return 0;
}
