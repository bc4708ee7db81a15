#pragma once

#include "Desktop.h"
#include "DesktopDetect.h"

namespace kalidrome::platform {

// Whether env describes a Wayland session: WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland.
bool IsWaylandSession(const EnvironmentLookup& env);

// The session's monitors, for the desktops that are handed a file and place it themselves:
//  - toolkitMonitors where given: the program's toolkit, which on Wayland has them from the
//    compositor (its outputs) and on X11 from XRandR;
//  - else, on an X11 session, XRandR on $DISPLAY;
//  - else (a Wayland session the toolkit does not speak to as a Wayland client) none: the
//    source throws DesktopError saying so. X11 is not asked there, since an Xwayland
//    started on demand only to be measured is no answer for the compositor's outputs.
// The environment is read when the source is called.
MonitorSource SessionMonitors(MonitorSource toolkitMonitors, EnvironmentLookup env = {});

// The size of the primary monitor of monitors(). Throws DesktopError.
ScreenExtent PrimaryMonitorSize(const MonitorSource& monitors);

// The names of the monitors of monitors(); none when they cannot be learnt.
std::vector<std::string> MonitorNames(const MonitorSource& monitors);

}  // namespace kalidrome::platform
