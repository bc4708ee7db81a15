#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace kalidrome::platform {

// What an external program did when run to its end (or until its time ran out).
struct CommandResult {
    bool started = false;     // false: the program could not be started (not installed, ...)
    bool timedOut = false;    // killed because it ran past its time-out
    int exitCode = -1;        // the exit status when it exited normally, else -1
    std::string standardOutput;
    std::string standardError;  // or why it could not start, when !started

    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// One external program: the argument vector (argv[0] looked up in PATH), never a shell.
struct Command {
    std::vector<std::string> argv;
    std::chrono::milliseconds timeout{5000};
    // Extra environment entries ("NAME=value") on top of this process's environment.
    std::vector<std::string> environment;
    // What the program reads on its standard input (nothing: /dev/null).
    std::string standardInput{};

    friend bool operator==(const Command&, const Command&) = default;
};

// Runs external programs for the desktop layer. The real runner waits for the program with
// a time-out (a hung tool must not freeze the program) and keeps its output bounded; tests
// use a recording runner that answers from a table.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    virtual CommandResult run(const Command& command) = 0;
    // Starts a program that keeps running (a wallpaper daemon such as swaybg) and returns its
    // process id, or -1 when it could not be started.
    virtual int startDetached(const Command& command) = 0;
    // Ends a program started with startDetached (SIGTERM, then SIGKILL after a grace period).
    virtual void stop(int processId) = 0;
};

// Why a run did not succeed, in a few words for the user: "xfconf-query did not answer within
// 5 s", "cannot start gsettings: No such file or directory", "gsettings exited with status 1:
// <its error output, trimmed>". Empty for a run that succeeded.
std::string DescribeFailure(const Command& command, const CommandResult& result);

// The runner on fork/exec, with pipes for the output and a time-out on the whole run.
CommandRunner& SystemCommandRunner();

}  // namespace kalidrome::platform
