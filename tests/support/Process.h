#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kalidrome::test {

// A child process for whole-program tests: started with posix_spawn, its standard output
// and error sent to files, the environment of the test plus the overrides given.
class Process {
public:
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& outputFile);
    ~Process();  // kills the process if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Waits up to timeoutMs; true when the process ended (exitCode() then holds its status).
    bool waitFinished(int timeoutMs);
    bool running();
    // The exit status, or 128 + signal number for a process ended by a signal.
    int exitCode() const { return m_exitCode; }
    void signal(int sig);

private:
    pid_t m_pid = -1;
    bool m_finished = false;
    int m_exitCode = -1;
};

// Polls condition every 20 ms until it holds or timeoutMs passes; returns its last value.
template <typename F>
bool WaitFor(F condition, int timeoutMs);

bool WaitForImpl(bool (*fn)(void*), void* ctx, int timeoutMs);

template <typename F>
bool WaitFor(F condition, int timeoutMs) {
    return WaitForImpl([](void* c) { return (*static_cast<F*>(c))(); }, &condition, timeoutMs);
}

}  // namespace kalidrome::test
