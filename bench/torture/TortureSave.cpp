// Kills a process that saves the program's files, at random moments, many times, and
// checks after every kill that each file loads and holds either the generation it held
// before the interrupted save or the one being saved.
//
// The writer (a forked child using the program's own IniFile and WriteListFile) saves, for
// generation k = 1, 2, ...: Settings.ini ([Options] CurrIndex=k, Interval=k, List=...k),
// Startup.ini ([StartUp] Value=1, Handle=k, TickCount=k) and Files.kdl (N entries whose
// paths carry k). Before each file it notes in shared memory which generation and file it
// is at, so the checker knows which generations each file may hold after the kill.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "IniFile.h"
#include "ListFile.h"

using namespace kalidrome;
namespace fs = std::filesystem;

namespace {

enum Phase : int { kSettings = 1, kStartup = 2, kList = 3 };

struct Shared {
    std::atomic<long> generation;
    std::atomic<int> phase;
    std::atomic<long> completedSaves;
};

struct Files {
    std::string settings, startup, list;
};

std::string PicturePath(long generation, int i) {
    return "/pictures/g" + std::to_string(generation) + "/picture" + std::to_string(i) + ".jpg";
}

void SaveSettings(const Files& f, long k) {
    IniFile ini(f.settings);
    ini.writeInteger("Options", "CurrIndex", static_cast<std::int32_t>(k));
    ini.writeInteger("Options", "Interval", static_cast<std::int32_t>(k));
    ini.writeString("Options", "List", "/lists/g" + std::to_string(k) + ".kdl");
}

void SaveStartup(const Files& f, long k) {
    IniFile ini(f.startup);
    ini.writeInteger("StartUp", "Value", 1);
    ini.writeInteger("StartUp", "Handle", static_cast<std::int32_t>(k));
    ini.writeInteger("StartUp", "TickCount", static_cast<std::int32_t>(k));
}

void SaveList(const Files& f, long k, int entries) {
    WallpaperList list;
    for (int i = 0; i < entries; ++i) list.AddEntry(PicturePath(k, i));
    WriteListFile(f.list, list, false, false);
}

[[noreturn]] void Writer(const Files& f, Shared& shared, long first, int entries) {
    for (long k = first;; ++k) {
        shared.generation = k;
        shared.phase = kSettings;
        SaveSettings(f, k);
        shared.phase = kStartup;
        SaveStartup(f, k);
        shared.phase = kList;
        SaveList(f, k, entries);
        ++shared.completedSaves;
    }
}

// The generation each key of an INI file holds (keys are written one at a time, so each
// is old or new on its own), or -1 for a key that does not read as one.
std::vector<long> SettingsGenerations(const Files& f) {
    IniFile ini(f.settings);
    const std::string list = ini.readString("Options", "List", "");
    return {ini.readInteger("Options", "CurrIndex", -1), ini.readInteger("Options", "Interval", -1),
            list.rfind("/lists/g", 0) == 0 ? std::atol(list.c_str() + 8) : -1};
}

std::vector<long> StartupGenerations(const Files& f) {
    IniFile ini(f.startup);
    if (ini.readInteger("StartUp", "Value", -1) != 1) return {-1};
    return {ini.readInteger("StartUp", "Handle", -1), ini.readInteger("StartUp", "TickCount", -1)};
}

// The generation the whole list file holds, or -1 (error says why).
long ListGeneration(const Files& f, int entries, std::string& error) {
    WallpaperList list;
    bool saveImage = true;
    try {
        ReadListFile(f.list, list, saveImage);
    } catch (const ListFileError& e) {
        error = e.what();
        return -1;
    }
    if (list.count() != static_cast<std::size_t>(entries)) {
        error = "holds " + std::to_string(list.count()) + " entries";
        return -1;
    }
    const std::string& first = list.at(0).FilePath;
    const long k = std::atol(first.c_str() + std::string("/pictures/g").size());
    for (int i = 0; i < entries; ++i)
        if (list.at(static_cast<std::size_t>(i)).FilePath != PicturePath(k, i)) {
            error = "mixes generations at entry " + std::to_string(i);
            return -1;
        }
    return k;
}

}  // namespace

int main(int argc, char** argv) {
    const int kills = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int entries = argc > 2 ? std::atoi(argv[2]) : 10000;
    const fs::path folder = fs::temp_directory_path() / ("kalidrome-torture-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const Files f{(folder / "Settings.ini").string(), (folder / "Startup.ini").string(), (folder / "Files.kdl").string()};

    // Generation 0, and the time one whole save takes, to spread the kills over it.
    const auto t0 = std::chrono::steady_clock::now();
    SaveSettings(f, 0);
    SaveStartup(f, 0);
    SaveList(f, 0, entries);
    const auto cycleUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
    std::printf("one save of Settings.ini, Startup.ini and a %d-entry list: %.2f ms\n", entries, cycleUs / 1000.0);

    auto* shared = static_cast<Shared*>(
        ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) return 2;
    new (shared) Shared{};

    std::mt19937 random(12345);
    // Kill after up to three whole saves from the fork, so that every moment of a save,
    // and the first moments of a fresh process, are hit.
    std::uniform_int_distribution<long> delayUs(0, std::max<long>(3 * cycleUs, 1000));
    // The generation each key (and the list) held after the last kill.
    std::vector<long> heldSettings(3, 0), heldStartup(2, 0);
    long heldList = 0;
    std::map<int, int> killsInPhase;
    int failures = 0;
    long completed = 0;
    std::size_t maxLeftovers = 0;
    for (int round = 0; round < kills; ++round) {
        const long first = (round + 1) * 1000000L;
        shared->generation = first;
        shared->phase = 0;
        shared->completedSaves = 0;
        const pid_t pid = ::fork();
        if (pid < 0) return 2;
        if (pid == 0) Writer(f, *shared, first, entries);
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        const long k = shared->generation;
        const int phase = shared->phase;
        completed += shared->completedSaves;
        ++killsInPhase[phase];
        // What each file may hold: the generation before, until its save has started;
        // that one or the new one while it is being saved; the new one once it is saved.
        auto allowed = [&](int file, long held, long got) {
            const long before = k == first ? held : k - 1;
            if (phase < file) return got == before;
            if (phase == file) return got == before || got == k;
            return got == k;
        };
        const std::vector<long> s = SettingsGenerations(f), u = StartupGenerations(f);
        std::string listError;
        const long l = ListGeneration(f, entries, listError);
        bool ok = allowed(kList, heldList, l) && u.size() == heldStartup.size();
        for (std::size_t i = 0; i < s.size(); ++i) ok = ok && allowed(kSettings, heldSettings[i], s[i]);
        for (std::size_t i = 0; ok && i < u.size(); ++i) ok = ok && allowed(kStartup, heldStartup[i], u[i]);
        if (!ok) {
            ++failures;
            std::printf("round %d (killed at generation %ld, phase %d): Settings.ini %ld %ld %ld, Startup.ini %ld, list %ld %s\n",
                        round, k, phase, s[0], s[1], s[2], u[0], l, listError.c_str());
        }
        heldSettings = s;
        heldStartup = u;
        heldList = l;
        std::size_t files = 0;
        for (const auto& e : fs::directory_iterator(folder)) {
            (void)e;
            ++files;
        }
        maxLeftovers = std::max(maxLeftovers, files - 3);
    }

    // Files other than the three, by kind (the name up to its first digit).
    std::map<std::string, int> leftovers;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name != "Settings.ini" && name != "Startup.ini" && name != "Files.kdl")
            ++leftovers[name.substr(0, name.find_first_of("0123456789"))];
    }
    std::printf("kills: %d (before the first write %d, in Settings.ini %d, in Startup.ini %d, in the list %d)\n", kills,
                killsInPhase[0], killsInPhase[kSettings], killsInPhase[kStartup], killsInPhase[kList]);
    std::printf("whole saves finished between kills: %ld\n", completed);
    std::printf("files that did not load, or held neither the old nor the new generation: %d\n", failures);
    std::printf("other files in the folder at the end (most at any time: %zu):", maxLeftovers);
    for (const auto& [kind, count] : leftovers) std::printf(" %d x %s*", count, kind.c_str());
    std::printf("\n");
    fs::remove_all(folder);
    return failures == 0 ? 0 : 1;
}
