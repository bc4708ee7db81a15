#pragma once

#include <string>

namespace kalidrome {

// Decides when a refused wallpaper change is told to the user: once per reason, in the tray
// icon's message area, so that a timed cycle against a desktop that keeps refusing does not
// pop up the same message every few seconds. A change that works clears the memory, so the
// same failure coming back later is told again.
class DesktopNotice {
public:
    // The outcome of one change: an empty reason for a change that worked. Returns whether
    // the reason should be shown now.
    bool report(const std::string& failureReason);

private:
    std::string m_lastShown;
};

}  // namespace kalidrome
