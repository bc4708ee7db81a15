#include "DesktopNotice.h"

namespace kalidrome {

bool DesktopNotice::report(const std::string& failureReason) {
    if (failureReason.empty()) {
        m_lastShown.clear();
        return false;
    }
    if (failureReason == m_lastShown) return false;
    m_lastShown = failureReason;
    return true;
}

}  // namespace kalidrome
