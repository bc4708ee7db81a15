#pragma once

#include "Desktop.h"

namespace kalidrome {

// The monitors as the program's own display connection knows them: on Wayland Qt's screens
// (the compositor's outputs, in device pixels; the first is the primary one unless the
// compositor says otherwise), on X11 XRandR. Empty where Qt draws nowhere (offscreen): the
// desktop layer then goes by the session (SessionMonitors).
platform::MonitorSource ToolkitMonitors();

}  // namespace kalidrome
