#include "RunCommand.h"

#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace kalidrome::platform {

namespace {

// Desktop tools print a line or two; anything past this is read and dropped, so a chatty or
// runaway program can neither block on a full pipe nor make us allocate without bound.
constexpr std::size_t kMaxOutput = 64 * 1024;
constexpr std::chrono::milliseconds kStopGrace{1000};

std::int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// This process's environment with the command's entries put over it: an entry replaces one
// of the same name before it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    auto replacedAfter = [&](std::size_t from, const std::string& name) {
        return std::any_of(extra.begin() + static_cast<std::ptrdiff_t>(from), extra.end(),
                           [&](const std::string& x) { return nameOf(x) == name; });
    };
    for (char** e = environ; e && *e; ++e)
        if (!replacedAfter(0, nameOf(*e))) merged.emplace_back(*e);
    for (std::size_t i = 0; i < extra.size(); ++i)
        if (!replacedAfter(i + 1, nameOf(extra[i]))) merged.push_back(extra[i]);
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Spawn attributes shared by both kinds of start: a process group of its own (so a time-out
// also ends whatever the tool started), no blocked signals and default dispositions for the
// signals this program handles or ignores (the child inherits both otherwise, and a child
// that blocks SIGTERM would not end when asked).
class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawnattr_init(&m_attr);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&m_attr, &none);
        posix_spawnattr_setsigdefault(&m_attr, &defaults);
        posix_spawnattr_setpgroup(&m_attr, 0);
        posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&m_attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &m_attr; }

private:
    posix_spawnattr_t m_attr{};
};

class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&m_actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
};

// Starts the command; returns the process id or sets why not. stdoutFd/stderrFd of -1 send
// that stream to /dev/null.
pid_t Spawn(const Command& command, int stdoutFd, int stderrFd, std::string& whyNot) {
    if (command.argv.empty() || command.argv.front().empty()) {
        whyNot = "no program given";
        return -1;
    }
    FileActions actions;
    // The input waits in an anonymous file, read from its start: no pipe to keep fed.
    const UniqueFd input(command.standardInput.empty() ? -1 : memfd_create("kalidrome-input", MFD_CLOEXEC));
    if (!command.standardInput.empty()) {
        const std::string& text = command.standardInput;
        if (input.get() < 0 || write(input.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            lseek(input.get(), 0, SEEK_SET) != 0) {
            whyNot = std::string("cannot hand input to ") + command.argv.front() + ": " + std::strerror(errno);
            return -1;
        }
        posix_spawn_file_actions_adddup2(actions.get(), input.get(), STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(actions.get(), stdoutFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (stderrFd >= 0)
        posix_spawn_file_actions_adddup2(actions.get(), stderrFd, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Sockets and files of this program that lack close-on-exec stay out of the tool.
    posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

    SpawnAttributes attributes;
    std::vector<std::string> args = command.argv;
    std::vector<std::string> env = MergedEnvironment(command.environment);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), envp.data());
    if (rc != 0) {
        whyNot = "cannot start " + command.argv.front() + ": " + std::strerror(rc);
        return -1;
    }
    return pid;
}

UniqueFd OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#else
    (void)pid;
    return UniqueFd();
#endif
}

// Waits up to timeoutMs for pid to end; reaps it and returns its wait status, or returns
// false when it still runs.
bool WaitExit(pid_t pid, const UniqueFd& pidFd, std::int64_t timeoutMs, int& status) {
    const std::int64_t deadline = NowMs() + std::max<std::int64_t>(0, timeoutMs);
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) {
            status = 0;
            return true;  // not our child any more (reaped elsewhere): nothing to wait for
        }
        const std::int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        if (pidFd.get() >= 0) {
            pollfd p{pidFd.get(), POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        } else {
            // Kernels before pidfd: a short nap between looks.
            const timespec nap{0, 5 * 1000 * 1000};
            nanosleep(&nap, nullptr);
        }
    }
}

void Append(std::string& into, const char* data, std::size_t size) {
    if (into.size() < kMaxOutput) into.append(data, std::min(size, kMaxOutput - into.size()));
}

// Reads what is waiting on fd; returns false at end of file or on error.
bool Drain(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            Append(into, buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        return false;
    }
}

class SystemRunner final : public CommandRunner {
public:
    CommandResult run(const Command& command) override {
        CommandResult result;
        int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
        const bool piped = pipe2(outPipe, O_CLOEXEC) == 0 && pipe2(errPipe, O_CLOEXEC) == 0;
        const int pipeErrno = errno;
        UniqueFd outRead(outPipe[0]), errRead(errPipe[0]);
        const std::int64_t deadline = NowMs() + command.timeout.count();
        pid_t pid = -1;
        {
            // Our copies of the write ends close once the child holds its own.
            const UniqueFd outWrite(outPipe[1]), errWrite(errPipe[1]);
            if (!piped) {
                result.standardError = std::string("cannot make a pipe: ") + std::strerror(pipeErrno);
                return result;
            }
            pid = Spawn(command, outWrite.get(), errWrite.get(), result.standardError);
        }
        if (pid < 0) return result;
        result.started = true;
        fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
        fcntl(errRead.get(), F_SETFL, O_NONBLOCK);
        const UniqueFd pidFd = OpenPidFd(pid);

        // Read both streams until the program ends. A program that leaves a helper behind
        // holding the pipes open (a D-Bus daemon started on demand, say) must not keep us
        // waiting, so the end of the program, not the end of the pipes, ends the wait.
        bool outOpen = true, errOpen = true;
        int status = 0;
        bool exited = false;
        while (!exited) {
            const std::int64_t left = deadline - NowMs();
            if (left <= 0) break;
            pollfd fds[3];
            nfds_t count = 0;
            if (outOpen) fds[count++] = {outRead.get(), POLLIN, 0};
            if (errOpen) fds[count++] = {errRead.get(), POLLIN, 0};
            if (pidFd.get() >= 0) fds[count++] = {pidFd.get(), POLLIN, 0};
            // Without a pidfd, look for the exit at least every 20 ms.
            const int wait = pidFd.get() >= 0 ? static_cast<int>(left) : static_cast<int>(std::min<std::int64_t>(left, 20));
            // (With nothing left to watch, poll just waits.)
            if (poll(count > 0 ? fds : nullptr, count, wait) < 0 && errno != EINTR) break;
            if (outOpen) outOpen = Drain(outRead.get(), result.standardOutput);
            if (errOpen) errOpen = Drain(errRead.get(), result.standardError);
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) exited = true;
            if (r < 0 && errno == ECHILD) {
                // Reaped by someone else's catch-all SIGCHLD handler: ended, status unknown.
                exited = true;
                status = -1;
            }
        }
        if (!exited) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            WaitExit(pid, pidFd, kStopGrace.count(), status);
            return result;
        }
        // What the program wrote just before it ended is still in the pipes.
        if (outOpen) Drain(outRead.get(), result.standardOutput);
        if (errOpen) Drain(errRead.get(), result.standardError);
        if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
        return result;
    }

    int startDetached(const Command& command) override {
        std::string whyNot;
        return Spawn(command, -1, -1, whyNot);
    }

    void stop(int processId) override {
        if (processId <= 0) return;
        const UniqueFd pidFd = OpenPidFd(processId);
        kill(-processId, SIGTERM);
        kill(processId, SIGTERM);
        int status = 0;
        if (WaitExit(processId, pidFd, kStopGrace.count(), status)) return;
        kill(-processId, SIGKILL);
        kill(processId, SIGKILL);
        WaitExit(processId, pidFd, kStopGrace.count(), status);
    }
};

}  // namespace

std::string DescribeFailure(const Command& command, const CommandResult& result) {
    if (result.succeeded()) return {};
    const std::string program = command.argv.empty() ? std::string("(no program)") : command.argv.front();
    if (!result.started) return result.standardError.empty() ? "cannot start " + program : result.standardError;
    if (result.timedOut) {
        const auto ms = command.timeout.count();
        const std::string limit = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
        return program + " did not answer within " + limit;
    }
    std::string reason = result.exitCode >= 0 ? program + " exited with status " + std::to_string(result.exitCode)
                                              : program + " was ended by a signal";
    // The error output, on one line and short enough for a tray message.
    constexpr std::size_t kMaxDetail = 300;
    std::string detail;
    for (char c : result.standardError) {
        if (detail.size() >= kMaxDetail) break;
        const bool space = c == '\n' || c == '\r' || c == '\t';
        if (space && (detail.empty() || detail.back() == ' ')) continue;
        detail += space ? ' ' : c;
    }
    while (!detail.empty() && detail.back() == ' ') detail.pop_back();
    if (!detail.empty()) reason += ": " + detail;
    return reason;
}

CommandRunner& SystemCommandRunner() {
    static SystemRunner runner;
    return runner;
}

}  // namespace kalidrome::platform
