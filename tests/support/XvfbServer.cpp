#include "XvfbServer.h"

#include "Process.h"
#include "TempDir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kalidrome::test {

XvfbServer::XvfbServer(int width, int height, int depth) {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) {
        m_reason = "Xvfb is not installed";
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        m_reason = "pipe failed";
        return;
    }
    // Xvfb picks a free display itself and writes its number to the descriptor.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, devnull, 1);
    posix_spawn_file_actions_adddup2(&actions, devnull, 2);
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-screen", "0", screen,
                                     "-nolisten", "tcp", "-noreset", "+extension", "MIT-SHM"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/usr/bin/Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(devnull);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        m_reason = std::string("cannot start Xvfb: ") + std::strerror(rc);
        return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
        char buf[32];
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        m_reason = "Xvfb did not report a display";
        return;
    }
    number.erase(number.find('\n'));
    m_pid = pid;
    m_display = ":" + number;
}

XvfbServer::~XvfbServer() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
}

bool XvfbServer::setMonitors(const std::vector<Monitor>& monitors) {
    if (::access("/usr/bin/xrandr", X_OK) != 0) {
        m_reason = "xrandr is not installed (x11-xserver-utils)";
        return false;
    }
    TempDir dir;
    const std::string log = dir.file("xrandr.log");
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const Monitor& m = monitors[i];
        // Physical sizes are made up at about 96 dots per inch; nothing here reads them.
        const std::string geometry = std::to_string(m.width) + "/" + std::to_string(m.width * 254 / 960) + "x" +
                                     std::to_string(m.height) + "/" + std::to_string(m.height * 254 / 960) + "+" +
                                     std::to_string(m.x) + "+" + std::to_string(m.y);
        Process xrandr("/usr/bin/xrandr",
                       {"-d", m_display, "--setmonitor", (m.primary ? "*" : "") + m.name, geometry, i == 0 ? "screen" : "none"},
                       {}, log);
        if (!xrandr.started() || !xrandr.waitFinished(10000) || xrandr.exitCode() != 0) {
            m_reason = "xrandr --setmonitor " + m.name + " failed: " + ReadFile(log);
            return false;
        }
    }
    return true;
}

}  // namespace kalidrome::test
