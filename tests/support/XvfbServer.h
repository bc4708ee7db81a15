#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace kalidrome::test {

// A private X server for one test: Xvfb on a free display number, ended on destruction.
// ok() is false (and reason() says why) when Xvfb is not installed or did not come up.
class XvfbServer {
public:
    explicit XvfbServer(int width = 1024, int height = 768, int depth = 24);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return m_pid > 0; }
    const std::string& reason() const { return m_reason; }
    // ":N", for DISPLAY.
    const std::string& display() const { return m_display; }

    // A monitor as `xrandr --setmonitor` defines it; primary marks the primary monitor.
    struct Monitor {
        std::string name;
        int x = 0, y = 0, width = 0, height = 0;
        bool primary = false;
    };
    // Replaces the screen's monitors with these, through xrandr (package x11-xserver-utils):
    // the first takes over the screen's one output, the others have none. False, with
    // reason() saying why, when xrandr is missing or refuses.
    bool setMonitors(const std::vector<Monitor>& monitors);

private:
    pid_t m_pid = -1;
    std::string m_display;
    std::string m_reason;
};

}  // namespace kalidrome::test
