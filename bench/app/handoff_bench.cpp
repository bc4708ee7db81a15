// Times a second start of Kalidrome (exec to exit) while a first instance runs: the
// hand-off users feel when they click the launcher again. Reference: spawning /bin/true,
// measured in the same run. Usage: bench_handoff [path/to/kalidrome] [runs]
#include "BenchProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using kalidrome::bench::Median;
using kalidrome::bench::Spawn;

namespace {

double TimeRun(const std::string& program) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = Spawn(program);
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::string exe = argc > 1 ? argv[1] : std::string(KALIDROME_BIN_DIR) + "/kalidrome";
    int runs = argc > 2 ? std::atoi(argv[2]) : 50;
    char tmpl[] = "/tmp/kalidrome-bench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::filesystem::copy_file(exe, dir + "/kalidrome");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("KALIDROME_NONINTERACTIVE", "1", 1);

    pid_t first = Spawn(dir + "/kalidrome");
    // Wait until the first instance has stamped its heartbeat and listens.
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(dir + "/System/Startup.ini");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find("TickCount=") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<double> handOff, reference;
    for (int i = 0; i < runs; ++i) {
        handOff.push_back(TimeRun(dir + "/kalidrome"));
        reference.push_back(TimeRun("/bin/true"));
    }
    kill(first, SIGTERM);
    waitpid(first, nullptr, 0);
    std::filesystem::remove_all(dir);

    double h = Median(handOff), r = Median(reference);
    std::printf("hand-off start (exec to exit), median of %d: %.2f ms\n", runs, h);
    std::printf("reference /bin/true spawn, median of %d:    %.2f ms\n", runs, r);
    std::printf("ratio hand-off / reference: %.2f\n", h / r);
    return 0;
}
