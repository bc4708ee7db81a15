#pragma once

// What the application benchmarks share: starting the program quietly, reading files
// it writes, and taking medians.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kalidrome::bench {

// Starts program with its output discarded and this process's environment plus extraEnv
// ("NAME=value" entries; later ones win). Returns the process id, or -1.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 01, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 01, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace kalidrome::bench
