#pragma once

#include <string>
#include <vector>

namespace kalidrome::screensaver {

// Where a display mode of XScreenSaver draws, from its command line and environment:
//   -window-id ID     the window ID (decimal, or hexadecimal with "0x")
//   -root             the window in XSCREENSAVER_WINDOW when that is set, else the root window
//   -window           a window of its own
//   (none of these)   as -root when XSCREENSAVER_WINDOW is set, else as -window
//   -display NAME     the X display (else $DISPLAY)
// Options are also taken with two dashes ("--root"), as XScreenSaver 6 writes them. The last
// of -root, -window and -window-id wins.
struct HackArguments {
    enum class Target { OwnWindow, Root, Window };
    Target target = Target::OwnWindow;
    unsigned long windowId = 0;  // for Target::Window
    std::string display;
    std::string error;  // set when the command line cannot be used; the rest is then unset
};

// arguments without the program name; xscreensaverWindow is the variable's value or null.
HackArguments ParseHackArguments(const std::vector<std::string>& arguments, const char* xscreensaverWindow);

// A window ID as XScreenSaver and xwininfo write it: "0x" hexadecimal or decimal, not 0.
bool ParseWindowId(const std::string& text, unsigned long& id);

}  // namespace kalidrome::screensaver
